// A tracking endpoint stand-in for the window tests, over Winsock: answers
// GET /korvanelapi.php?yundanhao=N&type=html on 127.0.0.1, on a port the system picks, with
// the page set for N (a page without a timeline for other numbers) and records every request
// target. It listens before the constructor returns and stops in the destructor.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace korvanel::testing {

class LoopbackServer {
 public:
  // port 0: a port the system picks.
  explicit LoopbackServer(int port = 0);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  bool listening() const { return m_port != 0; }
  // "127.0.0.1:port"
  std::string Host() const;
  void SetPage(const std::string& number, std::string body);
  // The request targets received so far, as they came ("/korvanelapi.php?yundanhao=...").
  std::vector<std::string> Targets() const;

 private:
  void AcceptLoop();
  void Serve(std::uintptr_t client);

  std::uintptr_t m_listener;
  int m_port = 0;
  std::atomic<bool> m_stopping{false};
  std::thread m_thread;
  mutable std::mutex m_mutex;
  std::map<std::string, std::string> m_pages;
  std::vector<std::string> m_targets;
};

// The yundanhao value of a target, percent escapes decoded.
std::string NumberOfTarget(const std::string& target);

// The bytes of a fixture file under app/tests/fixtures; empty when it cannot be read.
std::string ReadFixture(const std::string& name);

}  // namespace korvanel::testing
