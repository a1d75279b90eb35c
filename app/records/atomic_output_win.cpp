#include <fcntl.h>
#include <io.h>

#include <chrono>
#include <random>

#include "app/records/atomic_output.h"
#include "app/records/file_names_win.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace korvanel {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

void SetError(std::string* error, DWORD code) {
  if (error) *error = SystemErrorText(code);
}

std::string::size_type LastSeparator(const std::string& path) { return path.find_last_of("\\/"); }

// A name no other run picks at the same moment: the process, the time and a random draw.
std::string RandomSuffix() {
  static constexpr char kCharacters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device device;
  std::seed_seq seed{
      static_cast<unsigned>(device()), static_cast<unsigned>(GetCurrentProcessId()),
      static_cast<unsigned>(std::chrono::high_resolution_clock::now().time_since_epoch().count())};
  std::mt19937 random(seed);
  std::string suffix;
  for (int i = 0; i < 6; ++i) suffix += kCharacters[random() % (sizeof kCharacters - 1)];
  return suffix;
}

// A descriptor over a handle, so the rest of the class reads as on any other system.
int DescriptorFor(HANDLE handle) {
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY | _O_WRONLY);
  if (fd < 0) CloseHandle(handle);
  return fd;
}

}  // namespace

AtomicOutputFile::AtomicOutputFile(std::string path, std::string writePath, int fd, bool direct)
    : m_path(std::move(path)), m_writePath(std::move(writePath)), m_fd(fd), m_direct(direct) {}

std::unique_ptr<AtomicOutputFile> AtomicOutputFile::Create(const std::string& path,
                                                           std::string* error) {
  const std::wstring target = WideFromUtf8(path);
  if (target.empty()) {
    SetError(error, ERROR_INVALID_NAME);
    return nullptr;
  }
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    SetError(error, ERROR_DIRECTORY);
    return nullptr;
  }
  // A device (NUL, CON, a named pipe) cannot be replaced by a rename: it is written directly.
  HANDLE existing = CreateFileW(target.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
  if (existing != INVALID_HANDLE_VALUE) {
    const bool device = GetFileType(existing) != FILE_TYPE_DISK;
    CloseHandle(existing);
    if (device) {
      HANDLE handle =
          CreateFileW(target.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
      if (handle == INVALID_HANDLE_VALUE) {
        SetError(error, GetLastError());
        return nullptr;
      }
      const int fd = DescriptorFor(handle);
      if (fd < 0) {
        SetError(error, ERROR_TOO_MANY_OPEN_FILES);
        return nullptr;
      }
      return std::unique_ptr<AtomicOutputFile>(new AtomicOutputFile(path, path, fd, true));
    }
  }

  // A name beside the target that starts with a dot, as on Linux, so a half-written file
  // never carries the target's name. It is shared for deleting: a second Ctrl-C removes it
  // while it is still open.
  const auto separator = LastSeparator(path);
  const std::string directory = separator == std::string::npos ? "" : path.substr(0, separator + 1);
  const std::string base = separator == std::string::npos ? path : path.substr(separator + 1);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string temporary = directory + "." + base + "." + RandomSuffix();
    HANDLE handle = CreateFileW(WideFromUtf8(temporary).c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD code = GetLastError();
      if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) continue;
      SetError(error, code);
      return nullptr;
    }
    const int fd = DescriptorFor(handle);
    if (fd < 0) {
      DeleteFileW(WideFromUtf8(temporary).c_str());
      SetError(error, ERROR_TOO_MANY_OPEN_FILES);
      return nullptr;
    }
    return std::unique_ptr<AtomicOutputFile>(new AtomicOutputFile(path, temporary, fd, false));
  }
  SetError(error, ERROR_FILE_EXISTS);
  return nullptr;
}

AtomicOutputFile::~AtomicOutputFile() {
  if (m_fd >= 0) _close(m_fd);
  if (!m_committed && !m_direct) DeleteFileW(WideFromUtf8(m_writePath).c_str());
}

bool AtomicOutputFile::Write(std::string_view bytes, std::string* error) {
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(m_fd));
  while (!bytes.empty()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr)) {
      SetError(error, GetLastError());
      return false;
    }
    bytes.remove_prefix(written);
  }
  return true;
}

void AtomicOutputFile::CloseDescriptor() {
  if (m_fd >= 0) _close(m_fd);
  m_fd = -1;
}

bool AtomicOutputFile::Commit(std::string* error) {
  if (m_direct) {
    if (m_fd >= 0) _close(m_fd);
    m_fd = -1;
    m_committed = true;
    return true;
  }
  const std::wstring temporary = WideFromUtf8(m_writePath);
  // On disk before the rename, so the name never points at a file the disk has not got.
  HANDLE handle = m_fd >= 0 ? reinterpret_cast<HANDLE>(_get_osfhandle(m_fd))
                            : CreateFileW(temporary.c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                          OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE || !FlushFileBuffers(handle)) {
    SetError(error, GetLastError());
    if (m_fd < 0 && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    return false;
  }
  if (m_fd >= 0) {
    _close(m_fd);
  } else {
    CloseHandle(handle);
  }
  m_fd = -1;
  if (!MoveFileExW(temporary.c_str(), WideFromUtf8(m_path).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    SetError(error, GetLastError());
    return false;
  }
  m_committed = true;
  return true;
}

}  // namespace korvanel
