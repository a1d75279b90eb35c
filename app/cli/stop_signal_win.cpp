#include <atomic>
#include <cstring>
#include <string>

#include "app/cli/standard_stream.h"
#include "app/cli/stop_signal.h"
#include "app/records/file_names_win.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace korvanel::cli {
namespace {

// The number the batch reports as the stop's cause; Ctrl-C's is SIGINT's, whence exit 130.
constexpr int kInterrupt = 2;
constexpr int kTerminate = 15;

std::atomic<int> g_stopSignal{0};

// Read by the handler, which Windows runs on a thread of its own while the batch goes on.
wchar_t g_abandonedFile[32768];
std::atomic<bool> g_haveAbandonedFile{false};
bool g_errorIsTerminal = false;  // set before the handler is installed

[[noreturn]] void EndAtOnce(int signal) {
  // The file is shared for deleting, so it goes even while a writer still has it open.
  if (g_haveAbandonedFile.load()) DeleteFileW(g_abandonedFile);
  // The progress line may still stand there; the prompt should not follow it.
  if (g_errorIsTerminal) WriteAll(kStandardError, "\n", nullptr);
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(128 + signal));
  for (;;) Sleep(INFINITE);
}

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
    int expected = 0;
    if (g_stopSignal.compare_exchange_strong(expected, kInterrupt)) return TRUE;
    // The second press: the user does not want to wait for the requests in flight.
    EndAtOnce(kInterrupt);
  }
  EndAtOnce(kTerminate);
}

}  // namespace

const std::atomic<int>& StopSignal() { return g_stopSignal; }

void InstallStopHandlers() {
  g_errorIsTerminal = IsTerminal(kStandardError);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void SetAbandonedFile(const char* path) {
  g_haveAbandonedFile.store(false);
  if (path == nullptr) return;
  const std::wstring wide = WideFromUtf8(path);
  if (wide.empty() || wide.size() >= sizeof g_abandonedFile / sizeof g_abandonedFile[0]) return;
  std::memcpy(g_abandonedFile, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
  g_haveAbandonedFile.store(true);
}

}  // namespace korvanel::cli
