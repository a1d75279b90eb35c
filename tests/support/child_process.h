// Programs a test runs as child processes: the command-line tool, the tracking endpoint.
// Every child is killed when its object goes and dies with the test process if that dies
// first, so no test leaves one behind on any path.
//
// Arguments and paths are UTF-8 on every platform; on Windows they reach the child as the
// wide command line that CommandLineToArgvW splits back into the same arguments.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace korvanel::test_support {

class ChildProcess {
 public:
  struct Setup {
    std::vector<std::string> arguments = {};  // the program's path first
    std::string standardInput = {};           // a file to read; empty: an empty input
    // When set, standard input is a pipe that gives these bytes and then ends, in place of
    // the file above.
    std::optional<std::string> pipedInput = {};
    std::string standardOutput = {};  // a file, replaced; empty: discarded
    bool pipeOutput = false;          // standard output to a pipe (ReadLine, ReadRest) instead
    std::string standardError = {};   // a file, replaced; empty: discarded
  };
  class Platform;

  // Starts the program; Started() is false when it could not be started.
  explicit ChildProcess(const Setup& setup);
  // Standard output to outputPath and standard error to errorPath (empty: discarded).
  explicit ChildProcess(const std::vector<std::string>& arguments,
                        const std::string& outputPath = "", const std::string& errorPath = "");
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const;
  // The system's process id, 0 when not started.
  long Pid() const;
  bool Running();

  // The next line of a piped standard output without its LF, waiting at most timeout; empty
  // on timeout, or at the end of the output when no bytes are left.
  std::string ReadLine(std::chrono::milliseconds timeout);
  // Everything the piped standard output still gives, up to its end.
  std::string ReadRest();

  // POSIX: sends the signal. Windows has no signals: SIGINT becomes a Ctrl+Break event to
  // the child's process group, anything else ends it at once with exit code 128 + signal.
  void Signal(int signal);
  // Ends it at once (SIGKILL, TerminateProcess) and waits for it.
  void Kill();

  // The exit status: the program's exit code, or 128 + n when signal n ended it; -1 when it
  // was never started. The status is kept, so a later call gives it again.
  int Wait();
  // As Wait, but -1 when it has not ended within timeout, in which case it is killed.
  int Wait(std::chrono::milliseconds timeout);

 private:
  // Appends what the piped output gives within timeout (negative: no limit) to *chunk: 1
  // when bytes came, 0 at the end of the output (or when it is not piped), -1 on timeout.
  int ReadOutput(std::string* chunk, std::chrono::milliseconds timeout);

  std::unique_ptr<Platform> m_platform;
  std::string m_buffered;  // piped output read past the last line given
  std::optional<int> m_status;
};

struct Outcome {
  int exitCode = -1;
  std::string standardOutput;
  std::string standardError;
};

// Runs the program to its end (killed after a minute) with standardInput as its input, from
// a file or, when piped, from a pipe; returns what it wrote.
Outcome RunProgram(const std::vector<std::string>& arguments, const std::string& standardInput = "",
                   bool piped = false);

// Runs the program to its end with its output and error written to the files given (or
// discarded); the exit status as ChildProcess::Wait gives it.
int RunProgramTo(const std::vector<std::string>& arguments, const std::string& outputPath = "",
                 const std::string& errorPath = "");

}  // namespace korvanel::test_support
