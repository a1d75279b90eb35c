#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>

#include "tests/support/socket.h"

namespace korvanel::test_support {

namespace {

sockaddr_in LoopbackAddress(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

}  // namespace

Socket ListenOnLoopback(int* port) {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return kNoSocket;
  sockaddr_in address = LoopbackAddress(*port);
  socklen_t length = sizeof address;
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(s, 128) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(s);
    return kNoSocket;
  }
  *port = ntohs(address.sin_port);
  return s;
}

Socket AcceptConnection(Socket listener) {
  int s;
  while ((s = ::accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC)) < 0 &&
         errno == EINTR) {
  }
  return s < 0 ? kNoSocket : s;
}

Socket ConnectToLoopback(int port) {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return kNoSocket;
  const sockaddr_in address = LoopbackAddress(port);
  int rc;
  while ((rc = ::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address)) != 0 &&
         errno == EINTR) {
  }
  if (rc != 0) {
    ::close(s);
    return kNoSocket;
  }
  return s;
}

long ReceiveSome(Socket socket, char* data, std::size_t size, int timeoutMs) {
  if (timeoutMs > 0) {
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  }
  ssize_t got;
  while ((got = ::recv(static_cast<int>(socket), data, size, 0)) < 0 && errno == EINTR) {
  }
  return got < 0 ? -1 : static_cast<long>(got);
}

bool SendAll(Socket socket, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(static_cast<int>(socket), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

void ShutdownSocket(Socket socket) { ::shutdown(static_cast<int>(socket), SHUT_RDWR); }

void ShutdownSending(Socket socket) { ::shutdown(static_cast<int>(socket), SHUT_WR); }

void CloseSocket(Socket socket) {
  if (socket != kNoSocket) ::close(static_cast<int>(socket));
}

void SetNoDelay(Socket socket) {
  const int one = 1;
  ::setsockopt(static_cast<int>(socket), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

}  // namespace korvanel::test_support
