#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/cli/waybill_input.h"
#include "app/import.h"

namespace korvanel::cli {

bool ReadWaybillList(const std::string& path, TextArray* numbers, std::string* error) {
  const bool standardInput = path == "-";
  const int fd = standardInput ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat info {};
  if (fd < 0 || fstat(fd, &info) != 0) {
    if (error) *error = std::strerror(errno);
    return false;
  }
  if (S_ISDIR(info.st_mode)) {
    if (!standardInput) close(fd);
    if (error) *error = std::strerror(EISDIR);
    return false;
  }
  // The import's reading takes a code page 936 path. Reading through the descriptor just
  // opened serves every file name the system can hold, and standard input too.
  const Text text = ReadTextFile("/dev/fd/" + std::to_string(fd));
  if (!standardInput) close(fd);
  *numbers = ListWaybillNumbers(WithCrLfLineEnds(text));
  return true;
}

}  // namespace korvanel::cli
