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

int RunBatch(const CliOptions& options, const BatchEnvironment& environment) {
  const int errorFd = environment.errorFd;
  auto stopRequested = [&] {
    return environment.stopSignal != nullptr && environment.stopSignal->load() != 0;
  };

  // Every list is read before the first request, so a bad name costs nothing.
  std::vector<Text> numbers;
  for (const auto& input : options.inputs) {
    TextArray listed;
    std::string reason;
    if (!ReadWaybillList(input, &listed, &reason)) {
      const std::string name = input == "-" ? "standard input" : input;
      WriteLine(errorFd, std::string(kProgramPrefix) + "cannot read " + name + ": " + reason);
      return kExitUsage;
    }
    numbers.insert(numbers.end(), std::make_move_iterator(listed.begin()),
                   std::make_move_iterator(listed.end()));
  }

  if (environment.inputsRead) environment.inputsRead();

  const OutputFormat format = ResolveFormat(options, environment.outputIsTerminal);
  const bool toFile = !options.outputPath.empty() && options.outputPath != "-";
  std::unique_ptr<Output> output;
  if (toFile) {
    std::string reason;
    auto file = AtomicOutputFile::Create(options.outputPath, &reason);
    if (!file) {
      WriteLine(errorFd,
                std::string(kProgramPrefix) + "cannot write " + options.outputPath + ": " + reason);
      return kExitUsage;
    }
    if (environment.temporaryFile && !file->temporaryPath().empty()) {
      environment.temporaryFile(file->temporaryPath().c_str());
    }
    output = std::make_unique<Output>(std::move(file));
  } else {
    output = std::make_unique<Output>(environment.outputFd);
  }
  // Gone with the output object: a second Ctrl-C must not remove a file that is no longer ours.
  struct ForgetTemporaryFile {
    const BatchEnvironment& environment;
    ~ForgetTemporaryFile() {
      if (environment.temporaryFile) environment.temporaryFile(nullptr);
    }
  } forget{environment};

  // A terminal that shows characters is given them in UTF-8 whatever the encoding asked for,
  // which is that of the files and pipes the records may go to.
  const bool toCharacterTerminal =
      !toFile && environment.outputIsTerminal && environment.terminalTakesCharacters;
  const OutputEncoding encoding = toCharacterTerminal ? OutputEncoding::kUtf8 : options.encoding;
  const bool byteOrderMark = options.byteOrderMark && !toCharacterTerminal;
  std::string pending;
  std::unique_ptr<RecordWriter> writer;
  if (format == OutputFormat::kXlsx) {
    output->file()->CloseDescriptor();
    writer = MakeXlsxWriter(output->file()->writePath());
  } else {
    // The byte-order mark is asked for by whoever opens the file in a spreadsheet program.
    writer = MakeTextWriter(format, encoding, byteOrderMark, &pending, options.byteOrderMark);
  }

  std::string outputError;
  std::atomic<bool> outputFailed{false};  // read by the workers, who must stop starting rows
  std::unique_ptr<ProgressDisplay> progress;
  auto flush = [&] {
    if (pending.empty() || !outputError.empty()) return outputError.empty();
    // Records for a terminal share it with the progress line, which must make way for them.
    const bool ok = !toFile && environment.outputIsTerminal && progress
                        ? progress->WriteAbove(environment.outputFd, pending, &outputError)
                        : output->Write(pending, &outputError);
    pending.clear();
    if (!ok) outputFailed = true;
    return ok;
  };
  writer->Begin();
  flush();

  progress = std::make_unique<ProgressDisplay>(
      errorFd, environment.errorIsTerminal && !options.quiet, numbers.size());
  const Text prefix = QueryAddressPrefixForHost(options.host);
  RetryPolicy policy;
  policy.retries = options.retries;
  const Milliseconds delay(options.delayMs);
  // One flag per worker, each touched by its own worker only (so not a packed vector<bool>).
  std::vector<char> workerStarted(static_cast<std::size_t>(options.jobs), 0);
  std::vector<std::mt19937> randoms;
  std::random_device seed;
  for (int i = 0; i < options.jobs; ++i) randoms.emplace_back(seed());
  const std::function<bool()> stop = stopRequested;

  // Waiting for the requests in flight can take up to their timeout: say so once.
  bool stopAnnounced = false;
  auto announceStop = [&] {
    if (stopAnnounced || !stopRequested()) return;
    stopAnnounced = true;
    progress->Message(std::string(kProgramPrefix) +
                      "stopping once the requests in flight are done (Ctrl-C again quits at once)");
  };

  std::size_t failed = 0;
  const std::size_t written = RunInOrder<Record>(
      numbers.size(), options.jobs,
      [&](std::size_t index, int worker) {
        const auto slot = static_cast<std::size_t>(worker);
        if (workerStarted[slot] && delay.count() > 0) SleepUnlessStopped(delay, stop);
        workerStarted[slot] = 1;
        const Text& number = numbers[index];
        const RowAttempt last =
            AttemptWithRetries([&] { return QueryRowOnce(prefix, number, options.timeoutSeconds); },
                               policy, delay, randoms[slot], stop);
        return RecordFromAttempt(number, last);
      },
      [&](std::size_t index, Record record) {
        if (!record.ok) {
          ++failed;
          progress->Message(FailureLine(index, record));
        }
        writer->Add(record);
        progress->Update(index + 1);
        announceStop();
        return flush();
      },
      [&] { return stopRequested() || outputFailed.load(); },
      [&] {
        announceStop();
        progress->Tick();
      },
      kTickInterval);
  progress->Finish();

  std::string endError;
  if (!writer->End(&endError) && outputError.empty()) outputError = endError;
  flush();
  if (outputError.empty()) output->Commit(&outputError);
  if (!outputError.empty()) {
    const std::string name = toFile ? options.outputPath : "standard output";
    WriteLine(errorFd, std::string(kProgramPrefix) + "cannot write " + name + ": " + outputError);
    return kExitUsage;
  }

  if (failed > 0) {
    WriteLine(errorFd, std::string(kProgramPrefix) + std::to_string(failed) + " of " +
                           std::to_string(numbers.size()) + " rows failed");
  }
  if (const int signal = environment.stopSignal ? environment.stopSignal->load() : 0) {
    WriteLine(errorFd, std::string(kProgramPrefix) + "interrupted: " + std::to_string(written) +
                           " of " + std::to_string(numbers.size()) + " rows written");
    return 128 + signal;
  }
  return failed > 0 ? kExitRowsFailed : kExitSuccess;
}

}  // namespace korvanel::cli
