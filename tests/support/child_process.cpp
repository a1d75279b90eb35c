#include "tests/support/child_process.h"

#include "tests/support/temp_dir.h"

namespace korvanel::test_support {

ChildProcess::ChildProcess(const std::vector<std::string>& arguments, const std::string& outputPath,
                           const std::string& errorPath)
    : ChildProcess(Setup{
          .arguments = arguments, .standardOutput = outputPath, .standardError = errorPath}) {}

std::string ChildProcess::ReadLine(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const std::size_t newline = m_buffered.find('\n');
    if (newline != std::string::npos) {
      std::string line = m_buffered.substr(0, newline);
      m_buffered.erase(0, newline + 1);
      return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return {};
    const int got = ReadOutput(&m_buffered, left);
    if (got == 0) {  // the end: the last line may lack its LF
      std::string rest;
      rest.swap(m_buffered);
      return rest;
    }
  }
}

std::string ChildProcess::ReadRest() {
  std::string rest;
  rest.swap(m_buffered);
  while (ReadOutput(&rest, std::chrono::milliseconds(-1)) != 0) {
  }
  return rest;
}

int ChildProcess::Wait() { return Wait(std::chrono::milliseconds(-1)); }

Outcome RunProgram(const std::vector<std::string>& arguments, const std::string& standardInput,
                   bool piped) {
  TempDir dir;
  ChildProcess::Setup setup;
  setup.arguments = arguments;
  if (piped) {
    setup.pipedInput = standardInput;
  } else {
    setup.standardInput = dir.Write("stdin", standardInput);
  }
  setup.standardOutput = dir.File("stdout");
  setup.standardError = dir.File("stderr");
  Outcome outcome;
  {
    ChildProcess child(setup);
    outcome.exitCode = child.Wait(std::chrono::minutes(1));
  }
  outcome.standardOutput = ReadFile(setup.standardOutput);
  outcome.standardError = ReadFile(setup.standardError);
  return outcome;
}

int RunProgramTo(const std::vector<std::string>& arguments, const std::string& outputPath,
                 const std::string& errorPath) {
  ChildProcess child(arguments, outputPath, errorPath);
  return child.Wait();
}

}  // namespace korvanel::test_support
