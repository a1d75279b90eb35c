#include "app/cli/batch_run.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "app/cli/ordered_runner.h"
#include "app/cli/progress.h"
#include "app/cli/standard_stream.h"
#include "app/cli/waybill_input.h"
#include "app/records/atomic_output.h"
#include "app/records/record_text.h"

namespace korvanel::cli {
namespace {

constexpr std::string_view kProgramPrefix = "waybill-query: ";
// The time cell of a page that holds no event: an empty date, two spaces, an empty time.
constexpr std::string_view kNoEventTime = "  ";
// How often a wait looks at the stop request, and the progress line moves on.
constexpr auto kStopPollInterval = std::chrono::milliseconds(50);
constexpr auto kTickInterval = std::chrono::milliseconds(200);

bool IsSuccessStatus(std::string_view statusText) {
  const int code = StatusCode(statusText);
  return code >= 200 && code <= 299;
}

// Sleeps for wait, or less when stop() turns true; false when it did.
bool SleepUnlessStopped(Milliseconds wait, const std::function<bool()>& stop) {
  const auto until = std::chrono::steady_clock::now() + wait;
  for (;;) {
    if (stop && stop()) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now >= until) return true;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(until - now, kStopPollInterval));
  }
}

// Where the records go: standard output as they come, or a file that appears once whole.
class Output {
 public:
  Output(int fd) : m_fd(fd) {}
  explicit Output(std::unique_ptr<AtomicOutputFile> file) : m_file(std::move(file)) {}

  bool Write(std::string_view bytes, std::string* error) {
    if (m_file) return m_file->Write(bytes, error);
    return WriteAll(m_fd, bytes, error);
  }
  bool Commit(std::string* error) { return !m_file || m_file->Commit(error); }
  AtomicOutputFile* file() { return m_file.get(); }

 private:
  int m_fd = -1;
  std::unique_ptr<AtomicOutputFile> m_file;
};

void WriteLine(int fd, std::string line) {
  line += '\n';
  WriteAll(fd, line, nullptr);
}

// A number as a message shows it: a control character in it (a lone CR is allowed in a
// number) would move the cursor, so it is shown as an escape.
std::string Shown(std::string_view text) {
  std::string shown;
  for (char c : AnsiToUtf8(text)) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned char>(c));
      shown += escape;
    } else {
      shown += c;
    }
  }
  return shown;
}

std::string FailureLine(std::size_t row, const Record& record) {
  std::string line = std::string(kProgramPrefix) + "row " + std::to_string(row + 1) + ", number '" +
                     Shown(record.number) + "': ";
  if (!record.error.empty()) {
    line += AnsiToUtf8(record.error);
  } else if (!record.status.empty()) {
    line += "HTTP " + AnsiToUtf8(record.status);
  } else {
    line += "the response has no status line";
  }
  return line;
}

}  // namespace

Record RecordFromAttempt(std::string_view number, const RowAttempt& attempt) {
  Record record;
  record.number = Text(number);
  if (!attempt.responded) {
    record.error = attempt.statusText;
    return record;
  }
  record.status = attempt.statusText;
  record.ok = IsSuccessStatus(attempt.statusText);
  if (record.ok) {
    // A page without events is a finished answer, not a failure: its cells are simply empty.
    record.time = attempt.cells.time == kNoEventTime ? Text() : attempt.cells.time;
    record.event = attempt.cells.event;
  }
  return record;
}

RowAttempt AttemptWithRetries(const std::function<RowAttempt()>& attempt, const RetryPolicy& policy,
                              Milliseconds minimumWait, std::mt19937& random,
                              const std::function<bool()>& stop) {
  RowAttempt last = attempt();
  for (int retry = 1; retry <= policy.retries && IsRetryable(last); ++retry) {
    const Milliseconds wait =
        std::max(minimumWait,
                 DelayBeforeRetry(last, retry, policy, random, std::chrono::system_clock::now()));
    if (!SleepUnlessStopped(wait, stop)) break;
    last = attempt();
  }
  return last;
}

namespace {

bool StopRequested(const BatchEnvironment& environment) {
  return environment.stopSignal != nullptr && environment.stopSignal->load() != 0;
}

// Every list is read before the first request, so a bad name costs nothing.
bool ReadAllLists(const std::vector<std::string>& inputs, int errorFd, std::vector<Text>* numbers) {
  for (const auto& input : inputs) {
    TextArray listed;
    std::string reason;
    if (!ReadWaybillList(input, &listed, &reason)) {
      const std::string name = input == "-" ? "standard input" : input;
      WriteLine(errorFd, std::string(kProgramPrefix) + "cannot read " + name + ": " + reason);
      return false;
    }
    numbers->insert(numbers->end(), std::make_move_iterator(listed.begin()),
                    std::make_move_iterator(listed.end()));
  }
  return true;
}

// Null, with the reason told, when the output file cannot be made.
std::unique_ptr<Output> OpenOutput(const CliOptions& options, const BatchEnvironment& environment,
                                   bool toFile) {
  if (!toFile) return std::make_unique<Output>(environment.outputFd);
  std::string reason;
  auto file = AtomicOutputFile::Create(options.outputPath, &reason);
  if (!file) {
    WriteLine(environment.errorFd,
              std::string(kProgramPrefix) + "cannot write " + options.outputPath + ": " + reason);
    return nullptr;
  }
  if (environment.temporaryFile && !file->temporaryPath().empty()) {
    environment.temporaryFile(file->temporaryPath().c_str());
  }
  return std::make_unique<Output>(std::move(file));
}

// Gone with the output object: a second Ctrl-C must not remove a file that is no longer ours.
class ForgetTemporaryFile {
 public:
  explicit ForgetTemporaryFile(const BatchEnvironment& environment) : m_environment(environment) {}
  ForgetTemporaryFile(const ForgetTemporaryFile&) = delete;
  ForgetTemporaryFile& operator=(const ForgetTemporaryFile&) = delete;
  ~ForgetTemporaryFile() {
    if (m_environment.temporaryFile) m_environment.temporaryFile(nullptr);
  }

 private:
  const BatchEnvironment& m_environment;
};

// The numbers, once read, queried by the worker pool and written in their order.
class Batch {
 public:
  Batch(const CliOptions& options, const BatchEnvironment& environment,
        const std::vector<Text>& numbers, Output& output, bool toFile)
      : m_options(options),
        m_environment(environment),
        m_numbers(numbers),
        m_output(output),
        m_toFile(toFile),
        m_prefix(QueryAddressPrefixForHost(options.host)),
        m_delay(options.delayMs),
        m_workerStarted(static_cast<std::size_t>(options.jobs), 0),
        m_stop([&environment] { return StopRequested(environment); }) {
    m_policy.retries = options.retries;
    std::random_device seed;
    for (int i = 0; i < options.jobs; ++i) m_randoms.emplace_back(seed());
  }

  // Returns the exit status.
  int Run() {
    StartWriter();
    m_progress = std::make_unique<ProgressDisplay>(
        m_environment.errorFd, m_environment.errorIsTerminal && !m_options.quiet, m_numbers.size());
    const std::size_t written = QueryAll();
    m_progress->Finish();
    if (!EndOutput()) return kExitUsage;
    return ExitStatus(written);
  }

 private:
  void StartWriter() {
    const OutputFormat format = ResolveFormat(m_options, m_environment.outputIsTerminal);
    // A terminal that shows characters is given them in UTF-8 whatever the encoding asked for,
    // which is that of the files and pipes the records may go to.
    const bool toCharacterTerminal =
        !m_toFile && m_environment.outputIsTerminal && m_environment.terminalTakesCharacters;
    const OutputEncoding encoding =
        toCharacterTerminal ? OutputEncoding::kUtf8 : m_options.encoding;
    const bool byteOrderMark = m_options.byteOrderMark && !toCharacterTerminal;
    if (format == OutputFormat::kXlsx) {
      m_output.file()->CloseDescriptor();
      m_writer = MakeXlsxWriter(m_output.file()->writePath());
    } else {
      // The byte-order mark is asked for by whoever opens the file in a spreadsheet program.
      m_writer =
          MakeTextWriter(format, encoding, byteOrderMark, &m_pending, m_options.byteOrderMark);
    }
    m_writer->Begin();
    Flush();
  }

  // Writes what the writer has produced so far; false once the output has failed.
  bool Flush() {
    if (m_pending.empty() || !m_outputError.empty()) return m_outputError.empty();
    // Records for a terminal share it with the progress line, which must make way for them.
    const bool ok = !m_toFile && m_environment.outputIsTerminal && m_progress
                        ? m_progress->WriteAbove(m_environment.outputFd, m_pending, &m_outputError)
                        : m_output.Write(m_pending, &m_outputError);
    m_pending.clear();
    if (!ok) m_outputFailed = true;
    return ok;
  }

  // Returns how many records were written before the pool stopped.
  std::size_t QueryAll() {
    return RunInOrder<Record>(
        m_numbers.size(), m_options.jobs,
        [this](std::size_t index, int worker) { return QueryRow(index, worker); },
        [this](std::size_t index, Record record) { return Deliver(index, record); },
        [this] { return m_stop() || m_outputFailed.load(); },
        [this] {
          AnnounceStop();
          m_progress->Tick();
        },
        kTickInterval);
  }

  // Runs on a worker thread: touches only what is constant or the worker's own.
  Record QueryRow(std::size_t index, int worker) {
    const auto slot = static_cast<std::size_t>(worker);
    if (m_workerStarted[slot] && m_delay.count() > 0) SleepUnlessStopped(m_delay, m_stop);
    m_workerStarted[slot] = 1;
    const Text& number = m_numbers[index];
    const RowAttempt last =
        AttemptWithRetries([&] { return QueryRowOnce(m_prefix, number, m_options.timeoutSeconds); },
                           m_policy, m_delay, m_randoms[slot], m_stop);
    return RecordFromAttempt(number, last);
  }

  // Runs for each record in the order of the lists; false stops the pool.
  bool Deliver(std::size_t index, const Record& record) {
    if (!record.ok) {
      ++m_failed;
      m_progress->Message(FailureLine(index, record));
    }
    m_writer->Add(record);
    m_progress->Update(index + 1);
    AnnounceStop();
    return Flush();
  }

  // Waiting for the requests in flight can take up to their timeout: say so once.
  void AnnounceStop() {
    if (m_stopAnnounced || !m_stop()) return;
    m_stopAnnounced = true;
    m_progress->Message(
        std::string(kProgramPrefix) +
        "stopping once the requests in flight are done (Ctrl-C again quits at once)");
  }

  // Finishes and commits the output; false, with the reason told, when it could not be written.
  bool EndOutput() {
    std::string endError;
    if (!m_writer->End(&endError) && m_outputError.empty()) m_outputError = endError;
    Flush();
    if (m_outputError.empty()) m_output.Commit(&m_outputError);
    if (m_outputError.empty()) return true;
    const std::string name = m_toFile ? m_options.outputPath : "standard output";
    WriteLine(m_environment.errorFd,
              std::string(kProgramPrefix) + "cannot write " + name + ": " + m_outputError);
    return false;
  }

  int ExitStatus(std::size_t written) const {
    const int errorFd = m_environment.errorFd;
    if (m_failed > 0) {
      WriteLine(errorFd, std::string(kProgramPrefix) + std::to_string(m_failed) + " of " +
                             std::to_string(m_numbers.size()) + " rows failed");
    }
    if (const int signal = m_environment.stopSignal ? m_environment.stopSignal->load() : 0) {
      WriteLine(errorFd, std::string(kProgramPrefix) + "interrupted: " + std::to_string(written) +
                             " of " + std::to_string(m_numbers.size()) + " rows written");
      return 128 + signal;
    }
    return m_failed > 0 ? kExitRowsFailed : kExitSuccess;
  }

  const CliOptions& m_options;
  const BatchEnvironment& m_environment;
  const std::vector<Text>& m_numbers;
  Output& m_output;
  const bool m_toFile;
  const Text m_prefix;
  RetryPolicy m_policy;
  const Milliseconds m_delay;
  // One flag per worker, each touched by its own worker only (so not a packed vector<bool>).
  std::vector<char> m_workerStarted;
  std::vector<std::mt19937> m_randoms;
  const std::function<bool()> m_stop;

  std::string m_pending;  // the writer's bytes not yet written
  std::unique_ptr<RecordWriter> m_writer;
  std::string m_outputError;
  std::atomic<bool> m_outputFailed{false};  // read by the workers, who must stop starting rows
  std::unique_ptr<ProgressDisplay> m_progress;
  std::size_t m_failed = 0;
  bool m_stopAnnounced = false;
};

}  // namespace

int RunBatch(const CliOptions& options, const BatchEnvironment& environment) {
  std::vector<Text> numbers;
  if (!ReadAllLists(options.inputs, environment.errorFd, &numbers)) return kExitUsage;
  if (environment.inputsRead) environment.inputsRead();

  const bool toFile = !options.outputPath.empty() && options.outputPath != "-";
  const std::unique_ptr<Output> output = OpenOutput(options, environment, toFile);
  if (!output) return kExitUsage;
  const ForgetTemporaryFile forget(environment);
  return Batch(options, environment, numbers, *output, toFile).Run();
}

}  // namespace korvanel::cli
