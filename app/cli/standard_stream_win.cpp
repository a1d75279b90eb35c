#include <fcntl.h>
#include <io.h>

#include <algorithm>

#include "app/cli/standard_stream.h"
#include "app/records/file_names_win.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// Needs what windows.h declares.
#include <shellapi.h>

namespace korvanel::cli {
namespace {

// The progress line's "clear to the end of the line", which older consoles do not know.
constexpr std::wstring_view kClearToEnd = L"\x1b[K";
// Consoles before Windows 10 refuse long writes.
constexpr std::size_t kConsoleChunk = 8192;

bool g_understandsEscapes[3] = {false, false, false};

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

void ClearToEndOfLine(HANDLE console) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(console, &info)) return;
  const DWORD count = static_cast<DWORD>(std::max(0, info.dwSize.X - info.dwCursorPosition.X));
  DWORD written = 0;
  FillConsoleOutputCharacterW(console, L' ', count, info.dwCursorPosition, &written);
  FillConsoleOutputAttribute(console, info.wAttributes, count, info.dwCursorPosition, &written);
}

bool WriteConsoleText(HANDLE console, std::wstring_view text, std::string* error) {
  while (!text.empty()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min(text.size(), kConsoleChunk));
    if (!WriteConsoleW(console, text.data(), chunk, &written, nullptr) || written == 0) {
      if (error) *error = SystemErrorText(GetLastError());
      return false;
    }
    text.remove_prefix(written);
  }
  return true;
}

}  // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(Utf8FromWide(wide[i]));
  LocalFree(wide);
  return arguments;
}

void PrepareStandardStreams() {
  for (int fd = kStandardInput; fd <= kStandardError; ++fd) _setmode(fd, _O_BINARY);
  for (int fd : {kStandardOutput, kStandardError}) {
    HANDLE handle = HandleOf(fd);
    DWORD mode = 0;
    if (!IsConsole(handle) || !GetConsoleMode(handle, &mode)) continue;
    g_understandsEscapes[fd] =
        SetConsoleMode(handle, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  }
}

bool IsTerminal(int fd) { return IsConsole(HandleOf(fd)); }

bool TerminalTakesCharacters() { return true; }

bool WriteAll(int fd, std::string_view bytes, std::string* error) {
  HANDLE handle = HandleOf(fd);
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
    if (error) *error = SystemErrorText(ERROR_INVALID_HANDLE);
    return false;
  }
  if (IsConsole(handle)) {
    std::wstring text;
    if (!bytes.empty()) {
      const int size = static_cast<int>(bytes.size());
      const int length = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), size, nullptr, 0);
      text.resize(static_cast<std::size_t>(std::max(length, 0)));
      MultiByteToWideChar(CP_UTF8, 0, bytes.data(), size, text.data(), length);
    }
    const bool escapes = fd >= 0 && fd <= 2 && g_understandsEscapes[fd];
    std::wstring_view rest = text;
    while (!escapes) {
      const auto at = rest.find(kClearToEnd);
      if (at == std::wstring_view::npos) break;
      if (!WriteConsoleText(handle, rest.substr(0, at), error)) return false;
      ClearToEndOfLine(handle);
      rest.remove_prefix(at + kClearToEnd.size());
    }
    return WriteConsoleText(handle, rest, error);
  }
  while (!bytes.empty()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr)) {
      if (error) *error = SystemErrorText(GetLastError());
      return false;
    }
    bytes.remove_prefix(written);
  }
  return true;
}

}  // namespace korvanel::cli
