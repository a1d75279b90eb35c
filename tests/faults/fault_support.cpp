#include "tests/faults/fault_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace korvanel::faults {

namespace {

int StatusOf(int raw) {
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
  return -1;
}

pid_t Spawn(const std::vector<std::string>& argv, int stdoutFd, const std::string& stdoutPath,
            const std::string& stderrPath) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (stdoutFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, stdoutPath.empty() ? "/dev/null" : stdoutPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  if (!stderrPath.empty()) {
    posix_spawn_file_actions_addopen(&actions, 2, stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
  return pid;
}

// True once the head and as many body bytes as its Content-Length names have arrived.
bool AnswerComplete(const std::string& got) {
  const size_t headEnd = got.find("\r\n\r\n");
  if (headEnd == std::string::npos) return false;
  std::string head = got.substr(0, headEnd);
  for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const size_t at = head.find("\r\ncontent-length:");
  if (at == std::string::npos) return false;
  const long long length = std::atoll(head.c_str() + at + 17);
  return static_cast<long long>(got.size() - headEnd - 4) >= length;
}

}  // namespace

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/korvanel-faults.XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  m_path = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

int RunProgram(const std::vector<std::string>& argv, const std::string& stdoutPath,
               const std::string& stderrPath) {
  ChildProcess child(argv, stdoutPath, stderrPath);
  return child.Wait();
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& stdoutPath,
                           const std::string& stderrPath)
    : m_pid(Spawn(argv, -1, stdoutPath, stderrPath)) {}

ChildProcess::~ChildProcess() {
  if (Running()) Kill(SIGKILL);
  Wait();
}

bool ChildProcess::Running() {
  if (m_pid < 0) return false;
  int raw = 0;
  const pid_t got = waitpid(m_pid, &raw, WNOHANG);
  if (got == m_pid) {
    m_status = StatusOf(raw);
    m_pid = -1;
    return false;
  }
  return got == 0;
}

int ChildProcess::Wait() {
  if (m_pid >= 0) {
    int raw = 0;
    while (waitpid(m_pid, &raw, 0) < 0 && errno == EINTR) {
    }
    m_status = StatusOf(raw);
    m_pid = -1;
  }
  return m_status;
}

void ChildProcess::Kill(int signal) {
  if (m_pid >= 0) kill(m_pid, signal);
}

void MakeDemoDatabase(const std::string& dbPath) {
  const int status = RunProgram({TRACKING_ENDPOINT_EXE, "demo", "--db", dbPath});
  if (status != 0) throw std::runtime_error("tracking-endpoint demo failed");
}

EndpointProcess::EndpointProcess(const std::string& dbPath, int port, int latencyMs) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  std::vector<std::string> argv = {TRACKING_ENDPOINT_EXE, "serve", "--db", dbPath, "--listen",
                                   "127.0.0.1:" + std::to_string(port)};
  if (latencyMs > 0) {
    argv.push_back("--latency-ms");
    argv.push_back(std::to_string(latencyMs));
  }
  m_pid = Spawn(argv, pipeFds[1], "", "");
  close(pipeFds[1]);
  m_out = pipeFds[0];

  // The ready signal: the first line, "listening on HOST:PORT".
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (line.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{m_out, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char buf[256];
    const ssize_t n = read(m_out, buf, sizeof buf);
    if (n <= 0) break;
    line.append(buf, static_cast<size_t>(n));
  }
  const size_t colon = line.rfind(':', line.find('\n'));
  if (line.rfind("listening on ", 0) != 0 || colon == std::string::npos) {
    Kill();
    throw std::runtime_error("the endpoint did not start: " + line);
  }
  m_port = std::atoi(line.c_str() + colon + 1);
}

EndpointProcess::~EndpointProcess() { Kill(); }

bool EndpointProcess::Running() {
  if (m_pid < 0) return false;
  int raw = 0;
  const pid_t got = waitpid(m_pid, &raw, WNOHANG);
  if (got == m_pid) {
    m_status = StatusOf(raw);
    m_pid = -1;
    return false;
  }
  return got == 0;
}

void EndpointProcess::Kill() {
  if (m_pid >= 0) {
    kill(m_pid, SIGKILL);
    int raw = 0;
    while (waitpid(m_pid, &raw, 0) < 0 && errno == EINTR) {
    }
    m_status = StatusOf(raw);
    m_pid = -1;
  }
  if (m_out >= 0) close(m_out);
  m_out = -1;
}

int EndpointProcess::Stop() {
  if (m_pid >= 0) {
    kill(m_pid, SIGTERM);
    int raw = 0;
    while (waitpid(m_pid, &raw, 0) < 0 && errno == EINTR) {
    }
    m_status = StatusOf(raw);
    m_pid = -1;
  }
  if (m_out >= 0) close(m_out);
  m_out = -1;
  return m_status;
}

RawServer::RawServer(Handler handler) : m_handler(std::move(handler)) {
  m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (m_listen < 0 || bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(m_listen, 64) != 0 ||
      getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      pipe2(m_wake, O_CLOEXEC) != 0) {
    throw std::runtime_error("cannot listen on 127.0.0.1");
  }
  m_port = ntohs(address.sin_port);
  // Listening already: connections made from now on wait in the backlog.
  m_acceptor = std::thread([this] { AcceptLoop(); });
}

RawServer::~RawServer() {
  m_stopping = true;
  (void)!write(m_wake[1], "x", 1);
  m_acceptor.join();
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (int s : m_sockets) shutdown(s, SHUT_RDWR);
  }
  for (std::thread& t : m_workers) t.join();
  for (int s : m_sockets) close(s);
  close(m_listen);
  close(m_wake[0]);
  close(m_wake[1]);
}

void RawServer::AcceptLoop() {
  for (;;) {
    pollfd p[2] = {{m_listen, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
    if (poll(p, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (p[1].revents != 0 || m_stopping) return;
    const int s = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
    if (s < 0) continue;
    ++m_connections;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sockets.push_back(s);
    m_workers.emplace_back([this, s] {
      // The request head, up to its empty line (or whatever came before the peer stopped).
      std::string request;
      while (request.find("\r\n\r\n") == std::string::npos && request.size() < (1 << 20)) {
        pollfd q[2] = {{s, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (poll(q, 2, -1) <= 0 || q[1].revents != 0) return;
        char buf[4096];
        const ssize_t n = recv(s, buf, sizeof buf, 0);
        if (n <= 0) break;
        request.append(buf, static_cast<size_t>(n));
      }
      m_handler(s, request, m_stopping);
      shutdown(s, SHUT_WR);
    });
  }
}

bool SendAll(int socket, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

void WaitForClose(int socket, const std::atomic<bool>& stopping) {
  while (!stopping) {
    pollfd p{socket, POLLIN, 0};
    const int ready = poll(&p, 1, 50);
    if (ready < 0 && errno != EINTR) return;
    if (ready > 0) {
      char buf[4096];
      if (recv(socket, buf, sizeof buf, 0) <= 0) return;
    }
  }
}

int RawRequest(int port, std::string_view bytes, std::string* answer,
               std::chrono::milliseconds timeout) {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  std::string got;
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    // No half-close: the endpoint's HTTP library drops a request whose client has shut its
    // side. The answer ends where its Content-Length says, or when the server closes.
    SendAll(s, bytes);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd p{s, POLLIN, 0};
      if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      char buf[16384];
      const ssize_t n = recv(s, buf, sizeof buf, 0);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
      if (AnswerComplete(got)) break;
    }
  }
  close(s);
  if (answer != nullptr) *answer = got;
  if (got.rfind("HTTP/1.", 0) != 0 || got.size() < 12) return 0;
  return std::atoi(got.c_str() + 9);
}

std::string SourceDir() { return KORVANEL_SOURCE_DIR; }

}  // namespace korvanel::faults
