// A tracking endpoint stand-in for the tests: serves scripted pages for GET
// /korvanelapi.php?yundanhao=N&type=html on 127.0.0.1, on a port the system picks, and
// records every request target it receives.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/loopback_server.h"

namespace korvanel::test_support {

class PageServer {
 public:
  // Listens and serves, on the port given or on one the system picks when it is 0; returns
  // once the server accepts connections. Throws std::runtime_error when it cannot listen.
  explicit PageServer(int port = 0);
  // Stops the server and waits for its connections to end.
  ~PageServer() = default;
  PageServer(const PageServer&) = delete;
  PageServer& operator=(const PageServer&) = delete;

  int Port() const { return m_server.port(); }
  // "127.0.0.1:port"
  std::string Host() const { return m_server.HostPort(); }

  // The body answered for a number (the decoded yundanhao value). Other numbers get a page
  // without a timeline.
  void SetPage(const std::string& number, std::string body);
  // Runs on the server's connection thread before each answer (tests use it to stall or
  // observe).
  void SetBeforeAnswer(std::function<void(const std::string& number)> hook);

  // The raw request targets received so far, in order.
  std::vector<std::string> Targets() const;
  // The requests received so far, in order, as they arrived.
  std::vector<ReceivedRequest> Requests() const { return m_server.Requests(); }
  // The number (the decoded yundanhao value) of each request received so far, in order.
  std::vector<std::string> Numbers() const;

 private:
  Reply Answer(const ReceivedRequest& request);

  mutable std::mutex m_mutex;
  std::map<std::string, std::string> m_pages;
  std::function<void(const std::string&)> m_beforeAnswer;
  // Last, so it stops before the pages and the hook its connections use are gone.
  LoopbackServer m_server;
};

// The bytes of a fixture file under app/tests/fixtures; empty when it cannot be read.
std::string ReadFixture(const std::string& name);

}  // namespace korvanel::test_support
