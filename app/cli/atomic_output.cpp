#include "app/cli/atomic_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace korvanel::cli {
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

AtomicOutputFile::AtomicOutputFile(std::string path, std::string temporaryPath, int fd)
    : m_path(std::move(path)), m_temporaryPath(std::move(temporaryPath)), m_fd(fd) {}

std::unique_ptr<AtomicOutputFile> AtomicOutputFile::Create(const std::string& path,
                                                           std::string* error) {
  struct stat existing {};
  if (stat(path.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode)) {
    if (error) *error = std::strerror(EISDIR);
    return nullptr;
  }
  // A hidden name beside the target, so a half-written file never carries the target's name.
  std::string pattern = DirectoryOf(path) + "/." + BaseNameOf(path) + ".XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  const int fd = mkostemp(buffer.data(), O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = SystemError();
    return nullptr;
  }
  return std::unique_ptr<AtomicOutputFile>(
      new AtomicOutputFile(path, std::string(buffer.data()), fd));
}

AtomicOutputFile::~AtomicOutputFile() {
  if (m_fd >= 0) close(m_fd);
  if (!m_committed) unlink(m_temporaryPath.c_str());
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
  int fd = m_fd;
  if (fd < 0) fd = open(m_temporaryPath.c_str(), O_RDONLY | O_CLOEXEC);
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
  if (!ok || rename(m_temporaryPath.c_str(), m_path.c_str()) != 0) {
    if (error) *error = SystemError();
    return false;
  }
  m_committed = true;
  return true;
}

}  // namespace korvanel::cli
