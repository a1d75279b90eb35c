#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/cli/standard_stream.h"

namespace korvanel::cli {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

void PrepareStandardStreams() {}

bool IsTerminal(int fd) { return isatty(fd) == 1; }

bool TerminalTakesCharacters() { return false; }

bool WriteAll(int fd, std::string_view bytes, std::string* error) {
  while (!bytes.empty()) {
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (error) *error = std::strerror(errno);
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace korvanel::cli
