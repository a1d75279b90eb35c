#include "web/tests/test_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace korvanel::testing {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool SendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

// Reads one request from fd into request, with buffered bytes carried over in `buffer`.
bool ReadRequest(int fd, std::string& buffer, ReceivedRequest& request) {
  char chunk[16384];
  std::size_t headerEnd;
  while ((headerEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
    const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    buffer.append(chunk, static_cast<std::size_t>(got));
  }
  const std::size_t lineEnd = buffer.find("\r\n");
  request = ReceivedRequest();
  request.requestLine = buffer.substr(0, lineEnd);
  request.headerBlock = buffer.substr(lineEnd + 2, headerEnd + 2 - (lineEnd + 2));
  const std::size_t firstSpace = request.requestLine.find(' ');
  const std::size_t lastSpace = request.requestLine.rfind(' ');
  request.method = request.requestLine.substr(0, firstSpace);
  if (firstSpace != std::string::npos && lastSpace > firstSpace) {
    request.target = request.requestLine.substr(firstSpace + 1, lastSpace - firstSpace - 1);
  }
  request.path = request.target.substr(0, request.target.find('?'));
  buffer.erase(0, headerEnd + 4);

  std::size_t length = 0;
  const std::string declared = request.Header("Content-Length");
  if (!declared.empty()) length = std::stoull(declared);
  while (buffer.size() < length) {
    const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    buffer.append(chunk, static_cast<std::size_t>(got));
  }
  request.body = buffer.substr(0, length);
  buffer.erase(0, length);
  return true;
}

// Sends the reply; false when the connection should end.
bool SendReply(int fd, const Reply& reply) {
  if (!SendAll(fd, reply.bytes.data(), reply.bytes.size())) return false;
  if (reply.generatedBytes > 0) {
    std::string block(64 * 1024, '\0');
    std::uint64_t offset = 0;
    while (offset < reply.generatedBytes) {
      const std::size_t size = static_cast<std::size_t>(
          std::min<std::uint64_t>(block.size(), reply.generatedBytes - offset));
      for (std::size_t i = 0; i < size; ++i) block[i] = GeneratedByte(offset + i);
      if (!SendAll(fd, block.data(), size)) return false;
      offset += size;
    }
  }
  for (const std::string& chunk : reply.chunks) {
    std::this_thread::sleep_for(std::chrono::milliseconds(reply.pauseMs));
    if (!SendAll(fd, chunk.data(), chunk.size())) return false;
  }
  return true;
}

}  // namespace

std::vector<std::string> ReceivedRequest::HeaderLines() const {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < headerBlock.size()) {
    const std::size_t end = headerBlock.find("\r\n", pos);
    if (end == std::string::npos) break;
    lines.push_back(headerBlock.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

std::string ReceivedRequest::Header(std::string_view name) const {
  for (const std::string& line : HeaderLines()) {
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos && SameName(std::string_view(line).substr(0, colon), name)) {
      return std::string(Trim(std::string_view(line).substr(colon + 1)));
    }
  }
  return {};
}

bool ReceivedRequest::HasHeader(std::string_view name) const {
  for (const std::string& line : HeaderLines()) {
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos && SameName(std::string_view(line).substr(0, colon), name)) {
      return true;
    }
  }
  return false;
}

Reply HttpReply(int status, std::string_view reason, std::string_view extraHeaders,
                std::string_view body) {
  Reply reply;
  reply.bytes = "HTTP/1.1 " + std::to_string(status) + " " + std::string(reason) + "\r\n" +
                std::string(extraHeaders) + "Content-Length: " + std::to_string(body.size()) +
                "\r\n\r\n" + std::string(body);
  return reply;
}

Reply ReflectReply(const ReceivedRequest& request) {
  return HttpReply(200, "OK", "Content-Type: text/plain\r\n",
                   request.requestLine + "\r\n" + request.headerBlock);
}

char GeneratedByte(std::uint64_t i) { return static_cast<char>('a' + i % 23); }

TestServer::TestServer() {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) throw std::runtime_error("test server: no socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listenFd_, 128) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      ::pipe2(wakeFds_, O_CLOEXEC) != 0) {
    ::close(listenFd_);
    throw std::runtime_error("test server: cannot listen on 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
  fallback_ = [](const ReceivedRequest&) { return HttpReply(404, "Not Found", "", "no route"); };
  activeThreads_ = 1;
  std::thread([this] { AcceptLoop(); }).detach();
}

TestServer::~TestServer() {
  std::unique_lock lock(mutex_);
  stopping_ = true;
  const char wake = 'x';
  [[maybe_unused]] ssize_t ignored = ::write(wakeFds_[1], &wake, 1);
  for (int fd : openFds_) ::shutdown(fd, SHUT_RDWR);
  idle_.wait(lock, [this] { return activeThreads_ == 0; });
  lock.unlock();
  ::close(listenFd_);
  ::close(wakeFds_[0]);
  ::close(wakeFds_[1]);
}

std::string TestServer::Url(std::string_view pathAndQuery) const {
  return "http://" + HostPort() + std::string(pathAndQuery);
}

std::string TestServer::HostPort() const { return "127.0.0.1:" + std::to_string(port_); }

void TestServer::Route(const std::string& path, Handler handler) {
  std::lock_guard lock(mutex_);
  routes_[path] = std::move(handler);
}

void TestServer::Route(const std::string& path, Reply reply) {
  Route(path, [reply](const ReceivedRequest&) { return reply; });
}

void TestServer::Fallback(Handler handler) {
  std::lock_guard lock(mutex_);
  fallback_ = std::move(handler);
}

std::vector<ReceivedRequest> TestServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

int TestServer::ConnectionCount() const {
  std::lock_guard lock(mutex_);
  return connections_;
}

void TestServer::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
    const int ready = ::poll(fds, 2, -1);
    std::unique_lock lock(mutex_);
    if (stopping_) break;
    if (ready <= 0 || (fds[0].revents & POLLIN) == 0) continue;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    openFds_.push_back(fd);
    ++connections_;
    ++activeThreads_;
    lock.unlock();
    std::thread([this, fd] { Serve(fd); }).detach();
  }
  --activeThreads_;
  idle_.notify_all();
}

Reply TestServer::Dispatch(const ReceivedRequest& request) {
  Handler handler;
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
    auto it = routes_.find(request.path);
    handler = it != routes_.end() ? it->second : fallback_;
  }
  return handler(request);
}

void TestServer::Serve(int fd) {
  std::string buffer;
  ReceivedRequest request;
  bool holding = false;
  while (ReadRequest(fd, buffer, request)) {
    const Reply reply = Dispatch(request);
    const bool clientCloses = SameName(request.Header("Connection"), "close");
    if (!SendReply(fd, reply) || reply.after == Reply::After::kClose) break;
    if (clientCloses && reply.after != Reply::After::kHold) break;
    if (reply.after == Reply::After::kHold) {
      holding = true;
      break;
    }
  }
  if (holding) {  // silent until the client gives up or the server stops
    char sink[4096];
    while (true) {
      const ssize_t got = ::recv(fd, sink, sizeof sink, 0);
      if (got > 0 || (got < 0 && errno == EINTR)) continue;
      break;
    }
  }
  std::lock_guard lock(mutex_);
  openFds_.erase(std::find(openFds_.begin(), openFds_.end(), fd));
  ::close(fd);
  --activeThreads_;
  idle_.notify_all();
}

}  // namespace korvanel::testing
