#include "app/cli/stop_signal.h"

#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstring>

namespace korvanel::cli {
namespace {

std::atomic<int> g_stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

// Read by the signal handler, so it is a plain buffer guarded by a flag the handler checks.
char g_abandonedFile[PATH_MAX];
std::atomic<bool> g_haveAbandonedFile{false};
bool g_errorIsTerminal = false;  // set before the handlers are installed

void OnStopSignal(int signal) {
  int expected = 0;
  if (g_stopSignal.compare_exchange_strong(expected, signal)) return;
  // The second signal: the user does not want to wait for the requests in flight.
  if (g_haveAbandonedFile.load()) unlink(g_abandonedFile);
  // The progress line may still stand there; the shell's prompt should not follow it.
  if (g_errorIsTerminal) {
    [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, "\n", 1);
  }
  _exit(128 + signal);
}

}  // namespace

const std::atomic<int>& StopSignal() { return g_stopSignal; }

void InstallStopHandlers() {
  g_errorIsTerminal = isatty(STDERR_FILENO) == 1;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void SetAbandonedFile(const char* path) {
  g_haveAbandonedFile.store(false);
  if (path == nullptr || std::strlen(path) >= sizeof g_abandonedFile) return;
  std::strcpy(g_abandonedFile, path);
  g_haveAbandonedFile.store(true);
}

}  // namespace korvanel::cli
