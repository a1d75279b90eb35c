// A scripted HTTP server on 127.0.0.1 for the tests and benchmarks: plain sockets and a
// thread per connection, so a test can send exactly the bytes it wants (malformed status
// lines, odd header lines, a body cut short, an endless body, nothing at all) and look at
// exactly what arrived, request line and header block byte for byte.
//
// The server listens before the constructor returns, on a port the system picks, so a client
// may connect at once; the destructor stops it on every path, ending held and slow
// connections, and waits for every connection's thread. Runs on POSIX and on Windows.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/socket.h"
#include "tests/support/stream.h"

namespace korvanel::test_support {

// One request as it arrived.
struct ReceivedRequest {
  std::string raw;          // every byte of the request: its head and its body
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
  // The value of the first query parameter with that name, its %XX escapes and "+" decoded;
  // empty when there is none.
  std::string Query(std::string_view name) const;
};

// What the server does for one request, in this order.
struct Reply {
  enum class After {
    kKeepOpen,  // read the connection's next request (unless the client asked to close)
    kClose,     // close the connection; with no bytes at all, the request goes unanswered
    kHold,      // say nothing more and keep the connection open until the client closes it
  };
  std::string bytes = {};                // sent as they are
  std::uint64_t generatedBytes = 0;      // then this many bytes of a repeating pattern
  int pauseMs = 0;                       // before each of the chunks
  std::vector<std::string> chunks = {};  // then these, each after pauseMs
  // Then whatever this writes (an answer too large to hold, written until the client goes);
  // it returns false when the connection should end.
  std::function<bool(Stream&)> writer = {};
  After after = After::kKeepOpen;
};

// A response with a Content-Length; extraHeaders are lines each ending in CR LF.
Reply HttpReply(int status, std::string_view reason, std::string_view extraHeaders,
                std::string_view body);
// A 200 whose body is the request line and the header block as they arrived.
Reply ReflectReply(const ReceivedRequest& request);
// The byte at offset i of a generated body.
char GeneratedByte(std::uint64_t i);

class LoopbackServer {
 public:
  using Handler = std::function<Reply(const ReceivedRequest&)>;

  struct Options {
    // Wraps each accepted connection (a TLS layer); none: plain HTTP.
    StreamWrapper wrapStream = {};
    std::string scheme = "http";  // for Url
    // A fixed port, for a server a program outside the test talks to; 0: one the system picks.
    int port = 0;
  };

  // Throws std::runtime_error when it cannot listen (the port asked is taken).
  LoopbackServer();
  explicit LoopbackServer(Options options);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int port() const { return m_port; }
  // "http://127.0.0.1:port" followed by pathAndQuery.
  std::string Url(std::string_view pathAndQuery) const;
  // "127.0.0.1:port".
  std::string HostPort() const;

  // The handler for requests whose path is exactly path. Handlers run on the connection's
  // thread, several at once when clients connect in parallel.
  void Route(const std::string& path, Handler handler);
  void Route(const std::string& path, Reply reply);
  // The handler for every other request; by default a 404.
  void Fallback(Handler handler);

  // Every request received so far, in order of arrival.
  std::vector<ReceivedRequest> Requests() const;
  int ConnectionCount() const;
  // Waits until count requests have arrived; false after timeout.
  bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;

 private:
  void AcceptLoop();
  void Serve(Socket socket);
  Reply Dispatch(const ReceivedRequest& request);

  Options m_options;
  Socket m_listener = kNoSocket;
  int m_port = 0;
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  bool m_stopping = false;
  int m_activeThreads = 0;
  int m_connections = 0;
  std::vector<Socket> m_openSockets;
  std::map<std::string, Handler> m_routes;
  Handler m_fallback;
  std::vector<ReceivedRequest> m_requests;
};

// A 127.0.0.1 port that nothing listens on: bound once by the system, then released.
int UnusedPort();

// One exchange over a new connection to 127.0.0.1:port, for requests no well-behaved client
// would send: sends the bytes and reads the answer until its Content-Length is complete or
// the server closes (at most timeout). The status code of the answer's first line, 0 when
// there was none; the whole answer in *answer when given.
int RawRequest(int port, std::string_view bytes, std::string* answer = nullptr,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace korvanel::test_support
