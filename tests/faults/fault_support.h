// What the fault tests share: a temporary directory, the real endpoint and command-line tool
// as child processes, a bare-socket server that answers however a test scripts it (or never),
// and a bare-socket client for requests no well-behaved library would send.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace korvanel::faults {

// A fresh directory under the system's temporary directory, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return m_path; }
  std::string File(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);

// Runs a program to its end; its standard output and error go to the files given (or
// nowhere when empty). Returns the exit status, or 128 + the signal that ended it.
int RunProgram(const std::vector<std::string>& argv, const std::string& stdoutPath = "",
               const std::string& stderrPath = "");

// A started program that the test may kill or wait for.
class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& argv, const std::string& stdoutPath = "",
                        const std::string& stderrPath = "");
  ~ChildProcess();  // kills it if it still runs
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  bool Running();
  // Waits for the end; the exit status, or 128 + signal.
  int Wait();
  void Kill(int signal);

 private:
  pid_t m_pid = -1;
  int m_status = -1;
};

// tracking-endpoint serve over a database, on 127.0.0.1. The constructor returns once the
// endpoint has said it listens.
class EndpointProcess {
 public:
  // port 0 lets the system choose; a restart passes the port the first run was given.
  EndpointProcess(const std::string& dbPath, int port = 0, int latencyMs = 0);
  ~EndpointProcess();
  EndpointProcess(const EndpointProcess&) = delete;
  EndpointProcess& operator=(const EndpointProcess&) = delete;

  int Port() const { return m_port; }
  std::string Host() const { return "127.0.0.1:" + std::to_string(m_port); }
  bool Running();
  // SIGKILL: the endpoint dies at once, mid-answer or not.
  void Kill();
  // SIGTERM and wait: the exit status of an orderly stop.
  int Stop();

 private:
  pid_t m_pid = -1;
  int m_out = -1;
  int m_port = 0;
  int m_status = -1;
};

// Records the demo waybills into a new database at dbPath.
void MakeDemoDatabase(const std::string& dbPath);

// A server on 127.0.0.1 (port chosen by the system) that hands every connection to the
// handler on a thread of its own, with the request head read so far. The handler writes
// what it likes to the socket; it should return when stopping becomes true or its writes
// fail. The destructor stops the server and joins every thread.
class RawServer {
 public:
  using Handler =
      std::function<void(int socket, const std::string& request, const std::atomic<bool>& stopping)>;
  explicit RawServer(Handler handler);
  ~RawServer();
  RawServer(const RawServer&) = delete;
  RawServer& operator=(const RawServer&) = delete;
  int Port() const { return m_port; }
  std::string Host() const { return "127.0.0.1:" + std::to_string(m_port); }
  int Connections() const { return m_connections.load(); }

 private:
  void AcceptLoop();

  Handler m_handler;
  int m_listen = -1;
  int m_wake[2] = {-1, -1};
  int m_port = 0;
  std::atomic<bool> m_stopping{false};
  std::atomic<int> m_connections{0};
  std::thread m_acceptor;
  std::mutex m_mutex;
  std::vector<std::thread> m_workers;
  std::vector<int> m_sockets;
};

// Writes all of bytes; false when the peer has gone.
bool SendAll(int socket, std::string_view bytes);
// Blocks (interrupted by stopping) until the peer closes or stopping is set.
void WaitForClose(int socket, const std::atomic<bool>& stopping);

// One request over a new connection to 127.0.0.1:port: sends the bytes and reads the answer
// until its Content-Length is complete or the server closes (at most timeout). The status code of the answer's
// first line, 0 when there was none; the whole answer in *answer when given.
int RawRequest(int port, std::string_view bytes, std::string* answer = nullptr,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Where the tests find the source tree and the built programs.
std::string SourceDir();

}  // namespace korvanel::faults
