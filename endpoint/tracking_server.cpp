#include "endpoint/tracking_server.h"

#include <httplib.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

#include <sys/socket.h>
#include <unistd.h>

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

Answer ErrorAnswer(int status, std::string_view message) {
  return {status, RenderErrorPage(status, message), false};
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

// The library leaves a socket that was bound but never listened on open; close it.
class ClosingServer : public httplib::Server {
 public:
  ~ClosingServer() override {
    socket_t socket = svr_sock_.exchange(INVALID_SOCKET);
    if (socket != INVALID_SOCKET) close(socket);
  }
};

struct TrackingServer::Http {
  ClosingServer server;
  std::atomic<bool> stopRequested{false};
  std::atomic<bool> runStarted{false};
  std::atomic<bool> runFinished{false};
  bool bound = false;
};

class TrackingServer::ReaderLease {
 public:
  explicit ReaderLease(TrackingServer& owner) : owner_(owner), reader_(owner.TakeReader()) {}
  ~ReaderLease() { owner_.ReturnReader(std::move(reader_)); }
  ReaderLease(const ReaderLease&) = delete;
  ReaderLease& operator=(const ReaderLease&) = delete;
  EventReader& operator*() { return *reader_; }

 private:
  TrackingServer& owner_;
  std::unique_ptr<EventReader> reader_;
};

TrackingServer::TrackingServer(ServerOptions options)
    : options_(std::move(options)), http_(std::make_unique<Http>()) {
  // The first reader checks the database now, so a wrong path fails at start, not per page.
  idleReaders_.push_back(std::make_unique<EventReader>(options_.dbPath));

  httplib::Server& server = http_->server;
  const int threads = options_.threads > 0 ? options_.threads : 1;
  server.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  server.set_keep_alive_max_count(100000);
  server.set_keep_alive_timeout(5);
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

  // Every request is answered here, before the library's own routing: the endpoint has one
  // path, and its answers for other paths and methods are its own pages.
  server.set_pre_routing_handler(
      [this](const httplib::Request& request, httplib::Response& response) {
        Answer answer = Respond(request.method, request.target);
        if (options_.latencyMs > 0)
          std::this_thread::sleep_for(std::chrono::milliseconds(options_.latencyMs));
        response.status = answer.status;
        if (answer.status == 405) response.set_header("Allow", "GET, HEAD");
        if (answer.closeConnection) response.set_header("Connection", "close");
        response.set_content(std::move(answer.body), kPageContentType);
        return httplib::Server::HandlerResponse::Handled;
      });
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
  httplib::Server& server = http_->server;
  int port = options_.port;
  errno = 0;
  bool ok;
  if (port == 0) {
    port = server.bind_to_any_port(options_.host);
    ok = port > 0;
  } else {
    ok = server.bind_to_port(options_.host, port);
  }
  if (!ok) {
    std::string reason = errno ? std::strerror(errno) : "address unavailable";
    throw std::runtime_error("cannot listen on " + options_.host + ":" +
                             std::to_string(options_.port) + ": " + reason);
  }
  http_->bound = true;
  return port;
}

void TrackingServer::Run() {
  if (!http_->bound) throw std::runtime_error("Run needs a successful Bind first");
  http_->runStarted = true;
  if (!http_->stopRequested) http_->server.listen_after_bind();
  http_->runFinished = true;
}

void TrackingServer::Stop() {
  http_->stopRequested = true;
  // The library ignores a stop until its accept loop runs: when Run has begun but has not
  // reached the loop yet, wait for it, or the stop would be lost.
  if (http_->runStarted) {
    while (!http_->runFinished && !http_->server.is_running())
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  http_->server.stop();
}

std::unique_ptr<EventReader> TrackingServer::TakeReader() {
  {
    std::lock_guard<std::mutex> lock(readersMutex_);
    if (!idleReaders_.empty()) {
      auto reader = std::move(idleReaders_.back());
      idleReaders_.pop_back();
      return reader;
    }
  }
  return std::make_unique<EventReader>(options_.dbPath);
}

void TrackingServer::ReturnReader(std::unique_ptr<EventReader> reader) {
  if (!reader) return;
  std::lock_guard<std::mutex> lock(readersMutex_);
  idleReaders_.push_back(std::move(reader));
}

Answer TrackingServer::Respond(std::string_view method, std::string_view target) {
  size_t question = target.find('?');
  std::string path = PercentDecode(target.substr(0, question));
  std::string_view query =
      question == std::string_view::npos ? std::string_view() : target.substr(question + 1);
  if (path != kTrackingPath) return ErrorAnswer(404, kPageNotFound);
  if (method != "GET" && method != "HEAD") {
    // Any body such a request carries is left unread, so the connection cannot go on.
    Answer answer = ErrorAnswer(405, kMethodNotAllowed);
    answer.closeConnection = true;
    return answer;
  }
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
      return {200, RenderTrackingPage(form.gbk, events), false};
    }
  } catch (const StoreError&) {
    return ErrorAnswer(500, kInternalError);
  }
  return {200, RenderNoTrackingPage(parsed.forms.empty() ? "" : parsed.forms.front().gbk), false};
}

}  // namespace korvanel::endpoint
