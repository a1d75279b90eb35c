// A tracking endpoint stand-in for the tests: serves scripted pages for GET
// /korvanelapi.php?yundanhao=N&type=html on 127.0.0.1, on a port the system picks, and
// records every request target it receives.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace korvanel::testing {

class PageServer {
 public:
  // Binds and starts serving; returns once the server accepts connections.
  PageServer();
  // Stops the server and waits for its thread.
  ~PageServer();
  PageServer(const PageServer&) = delete;
  PageServer& operator=(const PageServer&) = delete;

  int Port() const { return m_port; }
  // "127.0.0.1:port"
  std::string Host() const;

  // The body answered for a number (the decoded yundanhao value). Other numbers get a page
  // without a timeline.
  void SetPage(const std::string& number, std::string body);
  // Runs on the server thread before each answer (tests use it to stall or observe).
  void SetBeforeAnswer(std::function<void(const std::string& number)> hook);

  // The raw request targets received so far, in order.
  std::vector<std::string> Targets() const;

 private:
  std::unique_ptr<httplib::Server> m_server;
  std::thread m_thread;
  int m_port = 0;
  mutable std::mutex m_mutex;
  std::map<std::string, std::string> m_pages;
  std::function<void(const std::string&)> m_beforeAnswer;
  std::vector<std::string> m_targets;
};

// The bytes of a fixture file under app/tests/fixtures; empty when it cannot be read.
std::string ReadFixture(const std::string& name);

// A 127.0.0.1 port that nothing listens on: bound once by the system, then released.
int UnusedPort();

}  // namespace korvanel::testing
