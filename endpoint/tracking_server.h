// The HTTP side of the endpoint: answers GET and HEAD of
// "/korvanelapi.php?yundanhao=NUMBER&type=html" with the number's tracking page.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "endpoint/event_store.h"

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

namespace korvanel::endpoint {

inline constexpr std::string_view kTrackingPath = "/korvanelapi.php";
inline constexpr const char* kPageContentType = "text/html; charset=GBK";

struct ServerOptions {
  std::string dbPath;
  std::string host = "127.0.0.1";  // loopback unless the caller chooses otherwise
  int port = 8580;                 // 0: any free port; Bind tells which
  int latencyMs = 0;               // added before every answer
  int threads = 32;                // each keep-alive connection holds one while it is open
  int keepAliveSeconds = 5;        // how long an idle connection is kept open
};

// An answer, independent of the HTTP library.
struct Answer {
  int status = 200;
  std::string body;  // a complete HTML page in code page 936
};

class TrackingServer {
 public:
  // Opens the database and checks its schema; throws StoreError when it cannot.
  explicit TrackingServer(ServerOptions options);
  ~TrackingServer();
  TrackingServer(const TrackingServer&) = delete;
  TrackingServer& operator=(const TrackingServer&) = delete;

  // Starts listening; returns the port. Throws std::runtime_error when it cannot.
  int Bind();
  // Serves until Stop is called; connections made after Bind wait in the backlog until then.
  void Run();
  // From any thread, also before Run has started: Run returns soon after.
  void Stop();

  // The answer to one request line's method and target (path and query as sent).
  Answer Respond(std::string_view method, std::string_view target);

 private:
  class ReaderLease;
  void WriteAnswer(const httplib::Request& request, httplib::Response& response);
  std::unique_ptr<EventReader> TakeReader();
  void ReturnReader(std::unique_ptr<EventReader> reader);

  ServerOptions m_options;
  std::mutex m_readersMutex;
  std::vector<std::unique_ptr<EventReader>> m_idleReaders;
  struct Http;
  std::unique_ptr<Http> m_http;
};

}  // namespace korvanel::endpoint
