// An output file that appears whole or not at all: the bytes go to a temporary file in the
// target's own directory (so the final rename never crosses file systems), which replaces
// the target only on Commit(). Destroyed without Commit(), it removes the temporary file
// and leaves any earlier file at the target untouched.
//
// A target that exists and is no regular file (/dev/null, a pipe, a terminal) cannot be
// replaced by a rename and is written directly instead. A symbolic link is followed, so the
// file it points to is the one replaced.
//
// On Windows paths are UTF-8 and opened by their wide names, devices are NUL, CON and named
// pipes, and the rename is MoveFileExW with replace and write-through; the temporary file is
// shared for deleting, so it can be removed while still open.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace korvanel {

class AtomicOutputFile {
 public:
  // Nullptr with *error set (the reason, as the system gives it) when the output cannot be
  // started: no temporary file can be made beside path, or the target cannot be opened.
  static std::unique_ptr<AtomicOutputFile> Create(const std::string& path, std::string* error);
  ~AtomicOutputFile();
  AtomicOutputFile(const AtomicOutputFile&) = delete;
  AtomicOutputFile& operator=(const AtomicOutputFile&) = delete;

  // The temporary file, to remove should the program be ended abruptly; empty when the
  // target is written directly.
  std::string temporaryPath() const { return m_direct ? std::string() : m_writePath; }
  // The file the bytes go to, for a writer that opens it by name (the workbook library).
  const std::string& writePath() const { return m_writePath; }

  bool Write(std::string_view bytes, std::string* error);
  // Closes the descriptor without committing, for a writer that opens writePath() itself.
  void CloseDescriptor();
  // Flushes to disk, gives the file the permissions a new file would have (or those of the
  // file it replaces) and renames it over the target.
  bool Commit(std::string* error);

 private:
  AtomicOutputFile(std::string path, std::string writePath, int fd, bool direct);
  std::string m_path;
  std::string m_writePath;
  int m_fd;
  bool m_direct;
  bool m_committed = false;
};

}  // namespace korvanel
