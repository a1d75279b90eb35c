#include "endpoint/tracking_server.h"

#include <httplib.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "endpoint/gbk.h"
#include "endpoint/tracking_page.h"
#include "endpoint/tracking_query.h"

namespace korvanel::endpoint {
namespace {

// "页面不存在"
constexpr std::string_view kPageNotFound = "\xD2\xB3\xC3\xE6\xB2\xBB\xB4\xE6\xD4\xDA";
// "不支持的请求方法"
constexpr std::string_view kMethodNotAllowed =
    "\xB2\xBB\xD6\xA7\xB3\xD6\xB5\xC4\xC7\xEB\xC7\xF3\xB7\xBD\xB7\xA8";
// "请求有误"
constexpr std::string_view kBadRequest = "\xC7\xEB\xC7\xF3\xD3\xD0\xCE\xF3";
// "请求地址过长"
constexpr std::string_view kUriTooLong = "\xC7\xEB\xC7\xF3\xB5\xD8\xD6\xB7\xB9\xFD\xB3\xA4";
// "服务器内部错误"
constexpr std::string_view kInternalError =
    "\xB7\xFE\xCE\xF1\xC6\xF7\xC4\xDA\xB2\xBF\xB4\xED\xCE\xF3";

int LocalPort(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET)
    return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
  if (address.ss_family == AF_INET6)
    return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
  return -1;
}

// Shuts the reading side of every connected socket of this process whose local port is
// port: the connections the server accepted. The library does not hand out their sockets,
// so they are found among the process's open descriptors.
void EndConnectionReading(int port) {
  DIR* fds = opendir("/proc/self/fd");
  if (!fds) return;
  while (dirent* entry = readdir(fds)) {
    char* end = nullptr;
    long fd = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || fd == dirfd(fds)) continue;
    struct stat info;
    if (fstat(static_cast<int>(fd), &info) != 0 || !S_ISSOCK(info.st_mode)) continue;
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (getsockname(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&local), &length) != 0 ||
        LocalPort(local) != port)
      continue;
    sockaddr_storage peer{};
    length = sizeof peer;
    if (getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &length) != 0)
      continue;  // the listening socket
    shutdown(static_cast<int>(fd), SHUT_RD);
  }
  closedir(fds);
}

Answer ErrorAnswer(int status, std::string_view message) {
  return {status, RenderErrorPage(status, message)};
}

std::string_view MessageFor(int status) {
  switch (status) {
    case 404:
      return kPageNotFound;
    case 405:
      return kMethodNotAllowed;
    case 414:
      return kUriTooLong;
    case 500:
      return kInternalError;
    default:
      return kBadRequest;
  }
}

}  // namespace

// The library's server with the socket handling the endpoint needs.
class HttpServer : public httplib::Server {
 public:
  // The library leaves a socket that was bound but never listened on open; close it.
  ~HttpServer() override {
    socket_t socket = svr_sock_.exchange(INVALID_SOCKET);
    if (socket != INVALID_SOCKET) close(socket);
  }

  // The library listens with a queue of 5 pending connections: a batch that opens dozens of
  // connections at once overflows it, and each dropped connection waits a second for the
  // client's retry. Listening again on the bound socket only enlarges the queue (the kernel
  // caps it at net.core.somaxconn). Returns false when the socket refuses.
  bool WidenAcceptQueue() {
    socket_t socket = svr_sock_;
    return socket != INVALID_SOCKET && ::listen(socket, SOMAXCONN) == 0;
  }
};

struct TrackingServer::Http {
  HttpServer server;
  std::atomic<bool> stopRequested{false};
  std::atomic<bool> runStarted{false};
  std::atomic<bool> runFinished{false};
  bool bound = false;
  int port = 0;
};

class TrackingServer::ReaderLease {
 public:
  explicit ReaderLease(TrackingServer& owner) : m_owner(owner), m_reader(owner.TakeReader()) {}
  ~ReaderLease() { m_owner.ReturnReader(std::move(m_reader)); }
  ReaderLease(const ReaderLease&) = delete;
  ReaderLease& operator=(const ReaderLease&) = delete;
  EventReader& operator*() { return *m_reader; }

 private:
  TrackingServer& m_owner;
  std::unique_ptr<EventReader> m_reader;
};

TrackingServer::TrackingServer(ServerOptions options)
    : m_options(std::move(options)), m_http(std::make_unique<Http>()) {
  // The first reader checks the database now, so a wrong path fails at start, not per page.
  m_idleReaders.push_back(std::make_unique<EventReader>(m_options.dbPath));

  httplib::Server& server = m_http->server;
  const int threads = m_options.threads > 0 ? m_options.threads : 1;
  server.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  server.set_keep_alive_max_count(100000);
  server.set_keep_alive_timeout(m_options.keepAliveSeconds);
  server.set_read_timeout(10);
  server.set_write_timeout(10);
  server.set_payload_max_length(64 * 1024);
  server.set_tcp_nodelay(true);
  // The library's default also sets SO_REUSEPORT, which lets a second endpoint start on a
  // port already in use and silently share it; a restart only needs SO_REUSEADDR.
  server.set_socket_options([](socket_t socket) {
    int yes = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });

  // Requests without a body are answered here, before the library's own routing: the
  // endpoint has one path, and its answers for other paths and methods are its own pages.
  // A request with a body goes on to the handlers below, after the library has read the
  // body, so the connection stays in step for the client's next request.
  server.set_pre_routing_handler(
      [this](const httplib::Request& request, httplib::Response& response) {
        if (request.has_header("Content-Length") || request.has_header("Transfer-Encoding")) {
          if (request.method != "GET" && request.method != "HEAD")
            return httplib::Server::HandlerResponse::Unhandled;
        }
        WriteAnswer(request, response);
        return httplib::Server::HandlerResponse::Handled;
      });
  auto answerWithBody = [this](const httplib::Request& request, httplib::Response& response) {
    WriteAnswer(request, response);
  };
  server.Post(".*", answerWithBody);
  server.Put(".*", answerWithBody);
  server.Patch(".*", answerWithBody);
  server.Delete(".*", answerWithBody);
  // Requests the library rejects itself (a malformed request line, a target too long) get
  // a short page too; answers that already have one keep it.
  server.set_error_handler(httplib::Server::HandlerWithResponse(
      [](const httplib::Request&, httplib::Response& response) {
        if (!response.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        response.set_content(RenderErrorPage(response.status, MessageFor(response.status)),
                             kPageContentType);
        return httplib::Server::HandlerResponse::Handled;
      }));
  server.set_exception_handler(
      [](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
        response.status = 500;
        response.set_content(RenderErrorPage(500, kInternalError), kPageContentType);
      });
}

TrackingServer::~TrackingServer() { Stop(); }

int TrackingServer::Bind() {
  HttpServer& server = m_http->server;
  int port = m_options.port;
  errno = 0;
  bool ok;
  if (port == 0) {
    port = server.bind_to_any_port(m_options.host);
    ok = port > 0;
  } else {
    ok = server.bind_to_port(m_options.host, port);
  }
  if (ok && !server.WidenAcceptQueue()) ok = false;
  if (!ok) {
    std::string reason = errno ? std::strerror(errno) : "address unavailable";
    throw std::runtime_error("cannot listen on " + m_options.host + ":" +
                             std::to_string(m_options.port) + ": " + reason);
  }
  m_http->bound = true;
  m_http->port = port;
  return port;
}

void TrackingServer::Run() {
  if (!m_http->bound) throw std::runtime_error("Run needs a successful Bind first");
  m_http->runStarted = true;
  if (!m_http->stopRequested) m_http->server.listen_after_bind();
  m_http->runFinished = true;
}

void TrackingServer::Stop() {
  m_http->stopRequested = true;
  // The library ignores a stop until its accept loop runs: when Run has begun but has not
  // reached the loop yet, wait for it, or the stop would be lost.
  if (m_http->runStarted) {
    while (!m_http->runFinished && !m_http->server.is_running())
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  m_http->server.stop();
  if (!m_http->runStarted) return;
  // Run ends only when every connection has: an idle keep-alive client would hold it for
  // the whole keep-alive timeout. Ending the reading side of each connection lets the answer
  // being written go out and then closes the connection. Repeated, for a connection accepted
  // just as the listening socket closed.
  for (int i = 0; i < 100 && !m_http->runFinished; ++i) {
    EndConnectionReading(m_http->port);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::unique_ptr<EventReader> TrackingServer::TakeReader() {
  {
    std::lock_guard<std::mutex> lock(m_readersMutex);
    if (!m_idleReaders.empty()) {
      auto reader = std::move(m_idleReaders.back());
      m_idleReaders.pop_back();
      return reader;
    }
  }
  return std::make_unique<EventReader>(m_options.dbPath);
}

void TrackingServer::ReturnReader(std::unique_ptr<EventReader> reader) {
  if (!reader) return;
  std::lock_guard<std::mutex> lock(m_readersMutex);
  m_idleReaders.push_back(std::move(reader));
}

void TrackingServer::WriteAnswer(const httplib::Request& request, httplib::Response& response) {
  Answer answer = Respond(request.method, request.target);
  if (m_options.latencyMs > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(m_options.latencyMs));
  response.status = answer.status;
  if (answer.status == 405) response.set_header("Allow", "GET, HEAD");
  response.set_content(std::move(answer.body), kPageContentType);
}

Answer TrackingServer::Respond(std::string_view method, std::string_view target) {
  size_t question = target.find('?');
  std::string path = PercentDecode(target.substr(0, question));
  std::string_view query =
      question == std::string_view::npos ? std::string_view() : target.substr(question + 1);
  if (path != kTrackingPath) return ErrorAnswer(404, kPageNotFound);
  if (method != "GET" && method != "HEAD") return ErrorAnswer(405, kMethodNotAllowed);
  TrackingQuery parsed = ParseTrackingQuery(query);
  if (!parsed.valid) return ErrorAnswer(400, parsed.problem);

  try {
    ReaderLease reader(*this);
    for (const NumberForm& form : parsed.forms) {
      std::vector<StoredEvent> stored = (*reader).EventsOf(form.utf8);
      if (stored.empty()) continue;
      std::vector<std::string> texts;
      texts.reserve(stored.size());
      std::vector<PageEvent> events;
      events.reserve(stored.size());
      for (const StoredEvent& event : stored) texts.push_back(Utf8ToGbkLossy(event.text));
      for (size_t i = 0; i < stored.size(); ++i) events.push_back({stored[i].time, texts[i]});
      return {200, RenderTrackingPage(form.gbk, events)};
    }
  } catch (const StoreError&) {
    return ErrorAnswer(500, kInternalError);
  }
  return {200, RenderNoTrackingPage(parsed.forms.empty() ? "" : parsed.forms.front().gbk)};
}

}  // namespace korvanel::endpoint
