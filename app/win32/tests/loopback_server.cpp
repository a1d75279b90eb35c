#include "app/win32/tests/loopback_server.h"

#include <cstdint>
#include <fstream>
#include <sstream>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

namespace korvanel::testing {

namespace {

struct SocketLibrary {
  SocketLibrary() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
  ~SocketLibrary() { WSACleanup(); }
};

void EnsureSocketLibrary() { static SocketLibrary library; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

LoopbackServer::LoopbackServer(int port) : m_listener(INVALID_SOCKET) {
  EnsureSocketLibrary();
  SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener == INVALID_SOCKET) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<u_short>(port));
  int length = sizeof(address);
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(listener, 16) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::closesocket(listener);
    return;
  }
  m_listener = listener;
  m_port = ntohs(address.sin_port);
  m_thread = std::thread([this] { AcceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
  m_stopping = true;
  if (m_listener != INVALID_SOCKET) {
    // A connection of our own wakes the accept.
    SOCKET wake = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<u_short>(m_port));
    if (wake != INVALID_SOCKET) {
      ::connect(wake, reinterpret_cast<sockaddr*>(&address), sizeof(address));
      ::closesocket(wake);
    }
  }
  if (m_thread.joinable()) m_thread.join();
  if (m_listener != INVALID_SOCKET) ::closesocket(m_listener);
}

std::string LoopbackServer::Host() const { return "127.0.0.1:" + std::to_string(m_port); }

void LoopbackServer::SetPage(const std::string& number, std::string body) {
  std::lock_guard lock(m_mutex);
  m_pages[number] = std::move(body);
}

std::vector<std::string> LoopbackServer::Targets() const {
  std::lock_guard lock(m_mutex);
  return m_targets;
}

void LoopbackServer::AcceptLoop() {
  while (!m_stopping) {
    const SOCKET client = ::accept(m_listener, nullptr, nullptr);
    if (client == INVALID_SOCKET) continue;
    if (!m_stopping) Serve(client);
    ::closesocket(client);
  }
}

void LoopbackServer::Serve(std::uintptr_t client) {
  // A client that never finishes its request, or never lets go, cannot hold the server.
  const DWORD timeoutMs = 5000;
  ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs),
               sizeof(timeoutMs));
  std::string request;
  char buffer[4096];
  while (request.find("\r\n\r\n") == std::string::npos) {
    const int got = ::recv(client, buffer, sizeof(buffer), 0);
    if (got <= 0) return;
    request.append(buffer, static_cast<std::size_t>(got));
  }
  // "GET target HTTP/1.1"
  const std::size_t targetStart = request.find(' ') + 1;
  const std::size_t targetEnd = request.find(' ', targetStart);
  const std::string target = request.substr(targetStart, targetEnd - targetStart);
  std::string body = "<html><body>no timeline</body></html>";
  {
    std::lock_guard lock(m_mutex);
    m_targets.push_back(target);
    const auto page = m_pages.find(NumberOfTarget(target));
    if (page != m_pages.end()) body = page->second;
  }
  const std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                             std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  std::size_t sent = 0;
  while (sent < answer.size()) {
    const int n = ::send(client, answer.data() + sent, static_cast<int>(answer.size() - sent), 0);
    if (n <= 0) return;
    sent += static_cast<std::size_t>(n);
  }
  ::shutdown(client, SD_SEND);
  // Wait for the client to finish with the connection before it is closed.
  while (::recv(client, buffer, sizeof(buffer), 0) > 0) {
  }
}

std::string NumberOfTarget(const std::string& target) {
  const std::string key = "yundanhao=";
  const std::size_t start = target.find(key);
  if (start == std::string::npos) return {};
  const std::size_t end = target.find("&type=", start);
  const std::string raw = target.substr(start + key.size(), end - start - key.size());
  std::string number;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '%' && i + 2 < raw.size() && HexValue(raw[i + 1]) >= 0 &&
        HexValue(raw[i + 2]) >= 0) {
      number.push_back(static_cast<char>(HexValue(raw[i + 1]) * 16 + HexValue(raw[i + 2])));
      i += 2;
    } else {
      number.push_back(raw[i]);
    }
  }
  return number;
}

std::string ReadFixture(const std::string& name) {
  std::ifstream file(std::string(KORVANEL_APP_FIXTURE_DIR) + "/" + name, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

}  // namespace korvanel::testing
