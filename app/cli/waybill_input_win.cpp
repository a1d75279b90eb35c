#include <climits>

#include "app/cli/waybill_input.h"
#include "app/import.h"
#include "app/records/file_names_win.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace korvanel::cli {
namespace {

void SetError(std::string* error, DWORD code) {
  if (error) *error = SystemErrorText(code);
}

// The whole stream, up to the longest text a position can address, as ReadTextFile reads.
bool ReadAll(HANDLE handle, std::string* bytes, std::string* error) {
  constexpr std::size_t kLimit = INT_MAX;
  char buffer[1 << 16];
  for (;;) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min(sizeof buffer, kLimit - bytes->size()));
    if (want == 0) return true;
    if (!ReadFile(handle, buffer, want, &got, nullptr)) {
      const DWORD code = GetLastError();
      // The writing end of a pipe has closed: that is the end of the list.
      if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF) return true;
      SetError(error, code);
      return false;
    }
    if (got == 0) return true;
    bytes->append(buffer, got);
  }
}

}  // namespace

bool ReadWaybillList(const std::string& path, TextArray* numbers, std::string* error) {
  const bool standardInput = path == "-";
  HANDLE handle = GetStdHandle(STD_INPUT_HANDLE);
  if (!standardInput) {
    // The import's reading takes a code page 936 path, which cannot spell every name; the
    // wide name can. Shared with every other reader and writer, as the import opens a list.
    const std::wstring name = WideFromUtf8(path);
    if (name.empty()) {
      SetError(error, ERROR_FILE_NOT_FOUND);
      return false;
    }
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      SetError(error, ERROR_DIRECTORY);
      return false;
    }
    handle = CreateFileW(name.c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      SetError(error, GetLastError());
      return false;
    }
  } else if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
    SetError(error, ERROR_INVALID_HANDLE);
    return false;
  }
  std::string bytes;
  const bool ok = ReadAll(handle, &bytes, error);
  if (!standardInput) CloseHandle(handle);
  if (!ok) return false;
  *numbers = ListWaybillNumbers(WithCrLfLineEnds(TextFromFileBytes(std::move(bytes))));
  return true;
}

}  // namespace korvanel::cli
