#include "app/records/atomic_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace korvanel {
namespace {

std::string SystemError() { return std::strerror(errno); }

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What open(path, O_CREAT, 0666) would give: the process's umask applies.
mode_t NewFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

AtomicOutputFile::AtomicOutputFile(std::string path, std::string writePath, int fd, bool direct)
    : m_path(std::move(path)), m_writePath(std::move(writePath)), m_fd(fd), m_direct(direct) {}

std::unique_ptr<AtomicOutputFile> AtomicOutputFile::Create(const std::string& path,
                                                           std::string* error) {
  std::string target = path;
  struct stat existing {};
  if (stat(path.c_str(), &existing) == 0) {
    if (S_ISDIR(existing.st_mode)) {
      if (error) *error = std::strerror(EISDIR);
      return nullptr;
    }
    if (!S_ISREG(existing.st_mode)) {
      const int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
      if (fd < 0) {
        if (error) *error = SystemError();
        return nullptr;
      }
      return std::unique_ptr<AtomicOutputFile>(new AtomicOutputFile(path, path, fd, true));
    }
    // Through a symbolic link to the file it names, which is the one to replace.
    if (char* resolved = realpath(path.c_str(), nullptr)) {
      target = resolved;
      std::free(resolved);
    }
  }
  // A hidden name beside the target, so a half-written file never carries the target's name.
  std::string pattern = DirectoryOf(target) + "/." + BaseNameOf(target) + ".XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  const int fd = mkostemp(buffer.data(), O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = SystemError();
    return nullptr;
  }
  return std::unique_ptr<AtomicOutputFile>(
      new AtomicOutputFile(target, std::string(buffer.data()), fd, false));
}

AtomicOutputFile::~AtomicOutputFile() {
  if (m_fd >= 0) close(m_fd);
  if (!m_committed && !m_direct) unlink(m_writePath.c_str());
}

bool AtomicOutputFile::Write(std::string_view bytes, std::string* error) {
  while (!bytes.empty()) {
    const ssize_t written = write(m_fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      if (error) *error = SystemError();
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

void AtomicOutputFile::CloseDescriptor() {
  if (m_fd >= 0) close(m_fd);
  m_fd = -1;
}

bool AtomicOutputFile::Commit(std::string* error) {
  if (m_direct) {
    const bool ok = m_fd < 0 || close(m_fd) == 0;
    m_fd = -1;
    if (!ok && error) *error = SystemError();
    m_committed = ok;
    return ok;
  }
  int fd = m_fd;
  if (fd < 0) fd = open(m_writePath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || fsync(fd) != 0) {
    if (error) *error = SystemError();
    if (fd >= 0 && fd != m_fd) close(fd);
    return false;
  }
  struct stat existing {};
  const mode_t mode =
      stat(m_path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : NewFileMode();
  bool ok = fchmod(fd, mode) == 0;
  if (close(fd) != 0) ok = false;
  m_fd = -1;
  if (!ok || rename(m_writePath.c_str(), m_path.c_str()) != 0) {
    if (error) *error = SystemError();
    return false;
  }
  m_committed = true;
  return true;
}

}  // namespace korvanel
