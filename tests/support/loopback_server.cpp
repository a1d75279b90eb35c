#include "tests/support/loopback_server.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <thread>

namespace korvanel::test_support {

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

// The length a Content-Length value names; 0 when it is not a plain number.
std::size_t LengthOf(std::string_view value) {
  std::size_t length = 0;
  for (char c : value) {
    // Too long to count: no plain number either (the check fits a 32-bit size too).
    if (c < '0' || c > '9' || length > (std::numeric_limits<std::size_t>::max() - 9) / 10) {
      return 0;
    }
    length = length * 10 + static_cast<std::size_t>(c - '0');
  }
  return length;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Unescaped(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
               HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// Reads more of the stream onto buffer; false at its end or on an error.
bool ReadMore(Stream& stream, std::string& buffer) {
  char chunk[16384];
  const long got = stream.Read(chunk, sizeof chunk);
  if (got <= 0) return false;
  buffer.append(chunk, static_cast<std::size_t>(got));
  return true;
}

// Reads one request, with bytes read past it carried over in buffer.
bool ReadRequest(Stream& stream, std::string& buffer, ReceivedRequest& request) {
  std::size_t headerEnd;
  while ((headerEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
    if (!ReadMore(stream, buffer)) return false;
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
  const std::size_t length = LengthOf(request.Header("Content-Length"));
  const std::size_t headSize = headerEnd + 4;
  while (buffer.size() < headSize + length) {
    if (!ReadMore(stream, buffer)) return false;
  }
  request.raw = buffer.substr(0, headSize + length);
  request.body = buffer.substr(headSize, length);
  buffer.erase(0, headSize + length);
  return true;
}

// Sends the reply; false when the connection should end.
bool SendReply(Stream& stream, const Reply& reply) {
  if (!reply.bytes.empty() && !stream.Write(reply.bytes)) return false;
  if (reply.generatedBytes > 0) {
    std::string block(64 * 1024, '\0');
    std::uint64_t offset = 0;
    while (offset < reply.generatedBytes) {
      const std::size_t size = static_cast<std::size_t>(
          std::min<std::uint64_t>(block.size(), reply.generatedBytes - offset));
      for (std::size_t i = 0; i < size; ++i) block[i] = GeneratedByte(offset + i);
      if (!stream.Write(std::string_view(block).substr(0, size))) return false;
      offset += size;
    }
  }
  for (const std::string& chunk : reply.chunks) {
    // The pause is the behaviour under test: a server that trickles its answer.
    std::this_thread::sleep_for(std::chrono::milliseconds(reply.pauseMs));
    if (!stream.Write(chunk)) return false;
  }
  return !reply.writer || reply.writer(stream);
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

std::string ReceivedRequest::Query(std::string_view name) const {
  const std::size_t question = target.find('?');
  if (question == std::string::npos) return {};
  std::string_view query = std::string_view(target).substr(question + 1);
  while (!query.empty()) {
    const std::size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    const std::size_t equals = pair.find('=');
    if (Unescaped(pair.substr(0, equals)) == name) {
      return equals == std::string_view::npos ? std::string() : Unescaped(pair.substr(equals + 1));
    }
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return {};
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

LoopbackServer::LoopbackServer() : LoopbackServer(Options{}) {}

LoopbackServer::LoopbackServer(Options options) : m_options(std::move(options)) {
  m_port = m_options.port;
  m_listener = ListenOnLoopback(&m_port);
  if (m_listener == kNoSocket) throw std::runtime_error("test server: cannot listen on 127.0.0.1");
  m_fallback = [](const ReceivedRequest&) { return HttpReply(404, "Not Found", "", "no route"); };
  m_activeThreads = 1;
  std::thread([this] { AcceptLoop(); }).detach();
}

LoopbackServer::~LoopbackServer() {
  std::unique_lock lock(m_mutex);
  m_stopping = true;
  for (Socket socket : m_openSockets) ShutdownSocket(socket);
  lock.unlock();
  // Shutting the listener ends a waiting accept; a connection of our own wakes it too where
  // a shutdown does not.
  ShutdownSocket(m_listener);
  CloseSocket(ConnectToLoopback(m_port));
  lock.lock();
  m_changed.wait(lock, [this] { return m_activeThreads == 0; });
  lock.unlock();
  CloseSocket(m_listener);
}

std::string LoopbackServer::Url(std::string_view pathAndQuery) const {
  return m_options.scheme + "://" + HostPort() + std::string(pathAndQuery);
}

std::string LoopbackServer::HostPort() const { return "127.0.0.1:" + std::to_string(m_port); }

void LoopbackServer::Route(const std::string& path, Handler handler) {
  std::lock_guard lock(m_mutex);
  m_routes[path] = std::move(handler);
}

void LoopbackServer::Route(const std::string& path, Reply reply) {
  Route(path, [reply](const ReceivedRequest&) { return reply; });
}

void LoopbackServer::Fallback(Handler handler) {
  std::lock_guard lock(m_mutex);
  m_fallback = std::move(handler);
}

std::vector<ReceivedRequest> LoopbackServer::Requests() const {
  std::lock_guard lock(m_mutex);
  return m_requests;
}

int LoopbackServer::ConnectionCount() const {
  std::lock_guard lock(m_mutex);
  return m_connections;
}

bool LoopbackServer::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(m_mutex);
  return m_changed.wait_for(lock, timeout, [&] { return m_requests.size() >= count; });
}

void LoopbackServer::AcceptLoop() {
  for (;;) {
    const Socket socket = AcceptConnection(m_listener);
    std::unique_lock lock(m_mutex);
    if (m_stopping) {
      CloseSocket(socket);
      break;
    }
    if (socket == kNoSocket) continue;
    SetNoDelay(socket);
    ++m_connections;
    ++m_activeThreads;
    lock.unlock();
    std::thread([this, socket] { Serve(socket); }).detach();
  }
  // Under the lock like every change the stopping server waits on: an unguarded count can
  // lose this step against a connection's own, or wake the waiter before it sleeps, and the
  // stop then waits for ever; notifying under it also keeps the object alive until done.
  std::lock_guard lock(m_mutex);
  --m_activeThreads;
  m_changed.notify_all();
}

Reply LoopbackServer::Dispatch(const ReceivedRequest& request) {
  Handler handler;
  {
    std::lock_guard lock(m_mutex);
    m_requests.push_back(request);
    auto it = m_routes.find(request.path);
    handler = it != m_routes.end() ? it->second : m_fallback;
  }
  m_changed.notify_all();
  return handler(request);
}

void LoopbackServer::Serve(Socket socket) {
  {
    // Shut at once when the server began stopping after this connection was accepted.
    std::lock_guard lock(m_mutex);
    m_openSockets.push_back(socket);
    if (m_stopping) ShutdownSocket(socket);
  }
  auto plain = std::make_unique<SocketStream>(socket);
  std::unique_ptr<Stream> stream =
      m_options.wrapStream ? m_options.wrapStream(std::move(plain)) : std::move(plain);
  if (stream) {
    std::string buffer;
    ReceivedRequest request;
    while (ReadRequest(*stream, buffer, request)) {
      const Reply reply = Dispatch(request);
      if (!SendReply(*stream, reply) || reply.after == Reply::After::kClose) break;
      if (reply.after == Reply::After::kHold) {  // silent until the client or the server ends it
        char sink[4096];
        while (stream->Read(sink, sizeof sink) > 0) {
        }
        break;
      }
      if (SameName(request.Header("Connection"), "close")) break;
    }
  }
  {
    // Out of the list before the socket is closed, so a stop never shuts a reused number.
    std::lock_guard lock(m_mutex);
    m_openSockets.erase(std::find(m_openSockets.begin(), m_openSockets.end(), socket));
  }
  stream.reset();
  std::lock_guard lock(m_mutex);
  --m_activeThreads;
  m_changed.notify_all();
}

int UnusedPort() {
  int port = 0;
  CloseSocket(ListenOnLoopback(&port));
  return port;
}

namespace {

// True once the head and as many body bytes as its Content-Length names have arrived.
bool AnswerComplete(const std::string& got) {
  const std::size_t headEnd = got.find("\r\n\r\n");
  if (headEnd == std::string::npos) return false;
  std::string head = got.substr(0, headEnd);
  for (char& c : head) c = Lower(c);
  const std::size_t at = head.find("\r\ncontent-length:");
  if (at == std::string::npos) return false;
  const long long length = std::atoll(head.c_str() + at + 17);
  return static_cast<long long>(got.size() - headEnd - 4) >= length;
}

}  // namespace

int RawRequest(int port, std::string_view bytes, std::string* answer,
               std::chrono::milliseconds timeout) {
  const Socket socket = ConnectToLoopback(port);
  std::string got;
  if (socket != kNoSocket) {
    // No half-close: some servers drop a request whose client has shut its side. The answer
    // ends where its Content-Length says, or when the server closes.
    SendAll(socket, bytes);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      char buffer[16384];
      const long n = ReceiveSome(socket, buffer, sizeof buffer, static_cast<int>(left.count()));
      if (n <= 0) break;
      got.append(buffer, static_cast<std::size_t>(n));
      if (AnswerComplete(got)) break;
    }
    CloseSocket(socket);
  }
  if (answer != nullptr) *answer = got;
  if (got.rfind("HTTP/1.", 0) != 0 || got.size() < 12) return 0;
  return std::atoi(got.c_str() + 9);
}

}  // namespace korvanel::test_support
