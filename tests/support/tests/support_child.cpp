// The program the child-process tests start. Its arguments are commands run in turn:
//   out TEXT   TEXT and a line end on standard output
//   err TEXT   the same on standard error
//   cat        standard input copied to standard output
//   sleep MS   a pause
//   exit N     ends with exit code N
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
  // Line ends as written, as on POSIX.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
#endif
  for (int i = 1; i < argc; ++i) {
    const char* command = argv[i];
    const char* operand = i + 1 < argc ? argv[i + 1] : "";
    if (std::strcmp(command, "out") == 0 || std::strcmp(command, "err") == 0) {
      std::FILE* stream = command[0] == 'o' ? stdout : stderr;
      std::fputs(operand, stream);
      std::fputc('\n', stream);
      std::fflush(stream);
      ++i;
    } else if (std::strcmp(command, "cat") == 0) {
      char buffer[4096];
      std::size_t got;
      while ((got = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) {
        std::fwrite(buffer, 1, got, stdout);
      }
      std::fflush(stdout);
    } else if (std::strcmp(command, "sleep") == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(operand)));
      ++i;
    } else if (std::strcmp(command, "exit") == 0) {
      return std::atoi(operand);
    } else {
      return 99;
    }
  }
  return 0;
}
