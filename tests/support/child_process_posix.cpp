#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "tests/support/child_process.h"

namespace korvanel::test_support {

class ChildProcess::Platform {
 public:
  pid_t m_pid = -1;
  int m_outputPipe = -1;
  bool m_reaped = false;
};

namespace {

int StatusOf(int raw) {
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
  return -1;
}

}  // namespace

ChildProcess::ChildProcess(const Setup& setup) : m_platform(std::make_unique<Platform>()) {
  if (setup.arguments.empty()) return;
  // Everything the child needs is made before fork: after it only plain system calls run.
  std::vector<char*> argv;
  for (const auto& argument : setup.arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const char* input = setup.standardInput.empty() ? "/dev/null" : setup.standardInput.c_str();
  const char* output = setup.standardOutput.empty() ? "/dev/null" : setup.standardOutput.c_str();
  const char* error = setup.standardError.empty() ? "/dev/null" : setup.standardError.c_str();
  int outputFds[2] = {-1, -1};
  if (setup.pipeOutput && pipe2(outputFds, O_CLOEXEC) != 0) return;
  int inputFds[2] = {-1, -1};
  if (setup.pipedInput) {
    // The bytes wait in the pipe, so they may be no more than its buffer holds.
    if (setup.pipedInput->size() > 65536 || pipe2(inputFds, O_CLOEXEC) != 0) return;
    const ssize_t written = write(inputFds[1], setup.pipedInput->data(), setup.pipedInput->size());
    close(inputFds[1]);
    if (written != static_cast<ssize_t>(setup.pipedInput->size())) {
      close(inputFds[0]);
      return;
    }
  }
  const pid_t parent = getpid();

  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    auto redirect = [](const char* path, int fd, int flags) {
      const int opened = open(path, flags, 0644);
      if (opened < 0 || dup2(opened, fd) < 0) _exit(127);
      close(opened);
    };
    if (setup.pipedInput) {
      dup2(inputFds[0], STDIN_FILENO);
    } else {
      redirect(input, STDIN_FILENO, O_RDONLY);
    }
    if (setup.pipeOutput) {
      dup2(outputFds[1], STDOUT_FILENO);
    } else {
      redirect(output, STDOUT_FILENO, O_WRONLY | O_CREAT | O_TRUNC);
    }
    redirect(error, STDERR_FILENO, O_WRONLY | O_CREAT | O_TRUNC);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (outputFds[1] >= 0) close(outputFds[1]);
  if (inputFds[0] >= 0) close(inputFds[0]);
  if (pid < 0) {
    if (outputFds[0] >= 0) close(outputFds[0]);
    return;
  }
  m_platform->m_pid = pid;
  m_platform->m_outputPipe = outputFds[0];
}

ChildProcess::~ChildProcess() {
  if (m_platform->m_pid > 0 && !m_platform->m_reaped) {
    kill(m_platform->m_pid, SIGKILL);
    waitpid(m_platform->m_pid, nullptr, 0);
  }
  if (m_platform->m_outputPipe >= 0) close(m_platform->m_outputPipe);
}

bool ChildProcess::Started() const { return m_platform->m_pid > 0; }

long ChildProcess::Pid() const { return m_platform->m_pid > 0 ? m_platform->m_pid : 0; }

bool ChildProcess::Running() {
  if (m_platform->m_pid <= 0 || m_platform->m_reaped) return false;
  int raw = 0;
  const pid_t got = waitpid(m_platform->m_pid, &raw, WNOHANG);
  if (got == m_platform->m_pid) {
    m_status = StatusOf(raw);
    m_platform->m_reaped = true;
    return false;
  }
  return got == 0;
}

int ChildProcess::ReadOutput(std::string* chunk, std::chrono::milliseconds timeout) {
  const int fd = m_platform->m_outputPipe;
  if (fd < 0) return 0;
  pollfd poller{fd, POLLIN, 0};
  const int ready = poll(&poller, 1, timeout.count() < 0 ? -1 : static_cast<int>(timeout.count()));
  if (ready < 0 && errno == EINTR) return -1;
  if (ready == 0) return -1;
  char buffer[4096];
  ssize_t got;
  while ((got = read(fd, buffer, sizeof buffer)) < 0 && errno == EINTR) {
  }
  if (got <= 0) return 0;
  chunk->append(buffer, static_cast<std::size_t>(got));
  return 1;
}

void ChildProcess::Signal(int signal) {
  if (m_platform->m_pid > 0 && !m_platform->m_reaped) kill(m_platform->m_pid, signal);
}

void ChildProcess::Kill() {
  Signal(SIGKILL);
  Wait();
}

int ChildProcess::Wait(std::chrono::milliseconds timeout) {
  if (m_status) return *m_status;
  if (m_platform->m_pid <= 0) return -1;
  const bool limited = timeout.count() >= 0;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int raw = 0;
  for (;;) {
    const pid_t done = waitpid(m_platform->m_pid, &raw, limited ? WNOHANG : 0);
    if (done == m_platform->m_pid) break;
    if (done < 0 && errno != EINTR) return -1;
    if (limited && std::chrono::steady_clock::now() >= deadline) {
      kill(m_platform->m_pid, SIGKILL);
      waitpid(m_platform->m_pid, nullptr, 0);
      m_platform->m_reaped = true;
      m_status = -1;
      return -1;
    }
    // No system call waits for a child with a time limit; a short nap between looks keeps
    // the wait cheap.
    if (limited) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  m_platform->m_reaped = true;
  m_status = StatusOf(raw);
  return *m_status;
}

}  // namespace korvanel::test_support
