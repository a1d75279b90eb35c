// Ctrl-C (SIGINT) and SIGTERM ask the batch to stop: no new request starts, those in flight
// finish and every finished record is written. A second signal ends the program at once,
// removing the unfinished output file first. On Windows, Ctrl-C and Ctrl-Break on the console
// do the same, and stop as SIGINT does (exit status 130); closing the console window, logging
// off or shutting down leave no time to wait, so they end the program at once.
#pragma once

#include <atomic>

namespace korvanel::cli {

// The signal that asked to stop, 0 while none has.
const std::atomic<int>& StopSignal();

void InstallStopHandlers();

// The temporary output file to remove if a second signal ends the program; nullptr for none.
// The path (UTF-8 on Windows) is copied.
void SetAbandonedFile(const char* path);

}  // namespace korvanel::cli
