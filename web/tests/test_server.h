// A scripted HTTP server on 127.0.0.1 for the web tests and benchmarks: plain sockets and a
// thread per connection, so a test can send exactly the bytes it wants (malformed status lines,
// odd header lines, a body cut short, nothing at all) and look at exactly what arrived.
//
// The server listens before the constructor returns, on a port the system picks, so a client
// may connect at once; the destructor stops it and waits for every connection to end.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace korvanel::testing {

// One request as it arrived.
struct ReceivedRequest {
  std::string requestLine;  // without its CR LF, e.g. "GET /a?b HTTP/1.1"
  std::string method;
  std::string target;       // as on the request line
  std::string path;         // the target up to "?"
  std::string headerBlock;  // the lines after the request line, each ending in CR LF
  std::string body;         // by Content-Length

  // The header lines without their CR LF, in order.
  std::vector<std::string> HeaderLines() const;
  // The value of the first line with that name (letter case ignored), spaces trimmed; empty
  // when there is none.
  std::string Header(std::string_view name) const;
  bool HasHeader(std::string_view name) const;
};

// What the server does for one request.
struct Reply {
  enum class After {
    kKeepOpen,  // read the connection's next request
    kClose,     // close the connection
    kHold,      // say nothing more and keep the connection open until the client closes it
  };
  std::string bytes = {};                // sent as they are
  std::uint64_t generatedBytes = 0;      // then this many bytes of a repeating pattern
  int pauseMs = 0;                       // before each of the chunks
  std::vector<std::string> chunks = {};  // then these, each after pauseMs
  After after = After::kKeepOpen;
};

// A response with a Content-Length; extraHeaders are lines each ending in CR LF.
Reply HttpReply(int status, std::string_view reason, std::string_view extraHeaders,
                std::string_view body);
// A 200 whose body is the request line and the header block as they arrived.
Reply ReflectReply(const ReceivedRequest& request);
// The byte at offset i of a generated body.
char GeneratedByte(std::uint64_t i);

class TestServer {
 public:
  using Handler = std::function<Reply(const ReceivedRequest&)>;

  TestServer();
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:port" followed by pathAndQuery.
  std::string Url(std::string_view pathAndQuery) const;
  // "127.0.0.1:port".
  std::string HostPort() const;

  // The handler for requests whose path is exactly path; set before the requests come.
  void Route(const std::string& path, Handler handler);
  void Route(const std::string& path, Reply reply);
  // The handler for every other request; by default a 404.
  void Fallback(Handler handler);

  // Every request received so far, in order of arrival.
  std::vector<ReceivedRequest> Requests() const;
  int ConnectionCount() const;

 private:
  void AcceptLoop();
  void Serve(int fd);
  Reply Dispatch(const ReceivedRequest& request);

  int listenFd_ = -1;
  int wakeFds_[2] = {-1, -1};
  int port_ = 0;
  mutable std::mutex mutex_;
  std::condition_variable idle_;
  bool stopping_ = false;
  int activeThreads_ = 0;
  int connections_ = 0;
  std::vector<int> openFds_;
  std::map<std::string, Handler> routes_;
  Handler fallback_;
  std::vector<ReceivedRequest> requests_;
};

}  // namespace korvanel::testing
