// An output file that appears whole or not at all: the bytes go to a temporary file in the
// target's own directory (so the final rename never crosses file systems), which replaces
// the target only on Commit(). Destroyed without Commit(), it removes the temporary file
// and leaves any earlier file at the target untouched.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace korvanel::cli {

class AtomicOutputFile {
 public:
  // Nullptr with *error set (the reason, as the system gives it) when no temporary file can
  // be made beside path.
  static std::unique_ptr<AtomicOutputFile> Create(const std::string& path, std::string* error);
  ~AtomicOutputFile();
  AtomicOutputFile(const AtomicOutputFile&) = delete;
  AtomicOutputFile& operator=(const AtomicOutputFile&) = delete;

  const std::string& path() const { return m_path; }
  const std::string& temporaryPath() const { return m_temporaryPath; }

  bool Write(std::string_view bytes, std::string* error);
  // Closes the descriptor without committing, for a writer that opens the temporary file
  // by its path (the workbook library does).
  void CloseDescriptor();
  // Flushes to disk, gives the file the permissions a new file would have (or those of the
  // file it replaces) and renames it over the target.
  bool Commit(std::string* error);

 private:
  AtomicOutputFile(std::string path, std::string temporaryPath, int fd);
  std::string m_path;
  std::string m_temporaryPath;
  int m_fd;
  bool m_committed = false;
};

}  // namespace korvanel::cli
