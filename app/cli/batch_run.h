// The batch of waybill-query: read the lists, query every number, write the records.
#pragma once

#include <atomic>
#include <functional>
#include <random>
#include <string_view>

#include "app/cli/cli_options.h"
#include "app/cli/row_query.h"
#include "app/records/record_writer.h"

namespace korvanel::cli {

inline constexpr int kExitSuccess = 0;     // every row succeeded
inline constexpr int kExitRowsFailed = 1;  // some rows failed; their records are still there
inline constexpr int kExitUsage = 2;       // bad usage, unreadable input, unwritable output

struct BatchEnvironment {
  int outputFd = 1;
  int errorFd = 2;
  bool outputIsTerminal = false;
  bool errorIsTerminal = false;
  // The terminal takes characters, not bytes (TerminalTakesCharacters).
  bool terminalTakesCharacters = false;
  // Non-zero once a signal asked the batch to stop (the signal's number).
  const std::atomic<int>* stopSignal = nullptr;
  // Told the temporary output file while one exists (nullptr once it is gone or committed).
  std::function<void(const char*)> temporaryFile;
  // Runs once every list has been read, before the first request: until then an interrupt
  // should simply end the program, even while it waits for a terminal's input.
  std::function<void()> inputsRead;
};

// The record of a row from its last attempt: the scraped cells when a page came with a 2xx
// status (a page without events gives empty cells), empty cells and the reason otherwise.
Record RecordFromAttempt(std::string_view number, const RowAttempt& attempt);

// Runs attempt() until it succeeds, fails in a way no retry cures, or the retries are spent,
// waiting between attempts as the policy and the server's Retry-After say (at least
// minimumWait). Waits give way at once when stop() turns true; the last attempt then counts.
RowAttempt AttemptWithRetries(const std::function<RowAttempt()>& attempt, const RetryPolicy& policy,
                              Milliseconds minimumWait, std::mt19937& random,
                              const std::function<bool()>& stop);

// Returns the exit status.
int RunBatch(const CliOptions& options, const BatchEnvironment& environment);

}  // namespace korvanel::cli
