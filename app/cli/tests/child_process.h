// Programs the tests run: waybill-query itself and the tracking endpoint. Every child is
// killed by its PID when its object goes, and dies with the test process if that dies first.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace korvanel::cli::testing {

class ChildProcess {
 public:
  struct Setup {
    std::vector<std::string> arguments;  // the program first
    std::string standardInput = "/dev/null";
    // When set, standard input is a pipe that gives these bytes (at most a pipe's buffer,
    // 64 KiB) and then ends, in place of the file above.
    std::optional<std::string> pipedInput;
    std::string standardOutput = "/dev/null";  // a path, or empty for a pipe (ReadLine)
    std::string standardError = "/dev/null";
  };
  explicit ChildProcess(const Setup& setup);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return m_pid; }
  bool started() const { return m_pid > 0; }
  // The next line of a piped standard output, waiting at most timeout; empty on timeout or EOF.
  std::string ReadLine(std::chrono::milliseconds timeout);
  void Signal(int signal);
  // The exit status (128 + n when signal n ended it), or -1 when it had not ended within
  // timeout, in which case it is killed.
  int Wait(std::chrono::milliseconds timeout);

 private:
  pid_t m_pid = -1;
  int m_outputPipe = -1;
  std::string m_buffered;
  bool m_reaped = false;
};

struct Outcome {
  int exitCode = -1;
  std::string standardOutput;
  std::string standardError;
};

// Runs the program to its end (killed after a minute) with standardInput as its input, from
// a file or, when piped, from a pipe.
Outcome RunProgram(const std::vector<std::string>& arguments, const std::string& standardInput = "",
                   bool piped = false);

}  // namespace korvanel::cli::testing
