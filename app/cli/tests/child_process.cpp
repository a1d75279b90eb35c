#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "temp_dir.h"

namespace korvanel::cli::testing {

ChildProcess::ChildProcess(const Setup& setup) {
  // Everything the child needs is made before fork: after it only plain system calls run.
  std::vector<char*> argv;
  for (const auto& argument : setup.arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  int pipeFds[2] = {-1, -1};
  if (setup.standardOutput.empty() && pipe2(pipeFds, O_CLOEXEC) != 0) return;
  int inputFds[2] = {-1, -1};
  if (setup.pipedInput) {
    if (setup.pipedInput->size() > 65536 || pipe2(inputFds, O_CLOEXEC) != 0) return;
    const ssize_t written = write(inputFds[1], setup.pipedInput->data(), setup.pipedInput->size());
    close(inputFds[1]);
    if (written != static_cast<ssize_t>(setup.pipedInput->size())) {
      close(inputFds[0]);
      return;
    }
  }
  const pid_t parent = getpid();

  m_pid = fork();
  if (m_pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    auto redirect = [](const std::string& path, int fd, int flags) {
      const int opened = open(path.c_str(), flags, 0644);
      if (opened < 0 || dup2(opened, fd) < 0) _exit(127);
      close(opened);
    };
    if (setup.pipedInput) {
      dup2(inputFds[0], STDIN_FILENO);
    } else {
      redirect(setup.standardInput, STDIN_FILENO, O_RDONLY);
    }
    if (setup.standardOutput.empty()) {
      dup2(pipeFds[1], STDOUT_FILENO);
    } else {
      redirect(setup.standardOutput, STDOUT_FILENO, O_WRONLY | O_CREAT | O_TRUNC);
    }
    redirect(setup.standardError, STDERR_FILENO, O_WRONLY | O_CREAT | O_TRUNC);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (pipeFds[1] >= 0) close(pipeFds[1]);
  if (inputFds[0] >= 0) close(inputFds[0]);
  m_outputPipe = pipeFds[0];
}

ChildProcess::~ChildProcess() {
  if (m_pid > 0 && !m_reaped) {
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
  }
  if (m_outputPipe >= 0) close(m_outputPipe);
}

std::string ChildProcess::ReadLine(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto newline = m_buffered.find('\n');
    if (newline != std::string::npos) {
      std::string line = m_buffered.substr(0, newline);
      m_buffered.erase(0, newline + 1);
      return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (m_outputPipe < 0 || left.count() <= 0) return {};
    pollfd poller{m_outputPipe, POLLIN, 0};
    if (poll(&poller, 1, static_cast<int>(left.count())) <= 0) continue;
    char chunk[512];
    const ssize_t got = read(m_outputPipe, chunk, sizeof chunk);
    if (got <= 0) return {};
    m_buffered.append(chunk, static_cast<std::size_t>(got));
  }
}

void ChildProcess::Signal(int signal) {
  if (m_pid > 0 && !m_reaped) kill(m_pid, signal);
}

int ChildProcess::Wait(std::chrono::milliseconds timeout) {
  if (m_pid <= 0 || m_reaped) return -1;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(m_pid, &status, WNOHANG);
    if (done == m_pid) break;
    if (done < 0) return -1;
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
      m_reaped = true;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  m_reaped = true;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

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
  outcome.standardOutput = ReadAll(setup.standardOutput);
  outcome.standardError = ReadAll(setup.standardError);
  return outcome;
}

}  // namespace korvanel::cli::testing
