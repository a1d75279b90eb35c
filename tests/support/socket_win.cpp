#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <set>

#include "tests/support/socket.h"

namespace korvanel::test_support {

namespace {

// Winsock needs starting once per process; it stays started until the process ends.
void StartWinsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
}

SOCKET Native(Socket socket) { return static_cast<SOCKET>(socket); }

Socket Ours(SOCKET socket) {
  return socket == INVALID_SOCKET ? kNoSocket : static_cast<Socket>(socket);
}

sockaddr_in LoopbackAddress(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<u_short>(port));
  return address;
}

// Sockets are not inherited by child processes the tests start.
SOCKET NewSocket() {
  return WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
}

// A shutdown does not wake a thread blocked in recv under every Windows implementation
// (Wine's does not), so connections are non-blocking and wait in short slices, looking
// between them whether the socket has been shut.
std::mutex g_shutMutex;
std::set<SOCKET> g_shut;

bool IsShut(SOCKET socket) {
  std::lock_guard lock(g_shutMutex);
  return g_shut.count(socket) != 0;
}

enum class Ready { kYes, kShut, kTimeout };

Ready WaitUntilReady(SOCKET socket, bool forWriting, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (IsShut(socket)) return Ready::kShut;
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(socket, &ready);
    FD_SET(socket, &failed);
    timeval slice{0, 50 * 1000};
    const int got =
        ::select(0, forWriting ? nullptr : &ready, forWriting ? &ready : nullptr, &failed, &slice);
    if (got != 0) return Ready::kYes;  // ready, failed or in error: the call itself tells
    if (timeoutMs > 0 && std::chrono::steady_clock::now() >= deadline) return Ready::kTimeout;
  }
}

Socket NonBlocking(SOCKET socket) {
  if (socket == INVALID_SOCKET) return kNoSocket;
  u_long on = 1;
  ::ioctlsocket(socket, FIONBIO, &on);
  return Ours(socket);
}

}  // namespace

Socket ListenOnLoopback(int* port) {
  StartWinsock();
  const SOCKET s = NewSocket();
  if (s == INVALID_SOCKET) return kNoSocket;
  // Without exclusive use another program could bind the same port and take our
  // connections.
  BOOL exclusive = TRUE;
  ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
               sizeof exclusive);
  sockaddr_in address = LoopbackAddress(*port);
  int length = sizeof address;
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(s, SOMAXCONN) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::closesocket(s);
    return kNoSocket;
  }
  *port = ntohs(address.sin_port);
  return Ours(s);
}

Socket AcceptConnection(Socket listener) {
  // Waits in slices like a receive, so shutting the listener ends the wait.
  if (WaitUntilReady(Native(listener), false, 0) != Ready::kYes) return kNoSocket;
  return NonBlocking(::accept(Native(listener), nullptr, nullptr));
}

Socket ConnectToLoopback(int port) {
  StartWinsock();
  const SOCKET s = NewSocket();
  if (s == INVALID_SOCKET) return kNoSocket;
  const sockaddr_in address = LoopbackAddress(port);
  if (::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::closesocket(s);
    return kNoSocket;
  }
  return NonBlocking(s);
}

long ReceiveSome(Socket socket, char* data, std::size_t size, int timeoutMs) {
  for (;;) {
    if (WaitUntilReady(Native(socket), false, timeoutMs) != Ready::kYes) return -1;
    const int got =
        ::recv(Native(socket), data, static_cast<int>(std::min<std::size_t>(size, 1 << 30)), 0);
    if (got != SOCKET_ERROR) return got;
    if (::WSAGetLastError() != WSAEWOULDBLOCK) return -1;
  }
}

bool SendAll(Socket socket, std::string_view bytes) {
  while (!bytes.empty()) {
    if (WaitUntilReady(Native(socket), true, 0) != Ready::kYes) return false;
    const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 20));
    const int sent = ::send(Native(socket), bytes.data(), chunk, 0);
    if (sent == SOCKET_ERROR) {
      if (::WSAGetLastError() == WSAEWOULDBLOCK) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

void ShutdownSocket(Socket socket) {
  {
    std::lock_guard lock(g_shutMutex);
    g_shut.insert(Native(socket));
  }
  ::shutdown(Native(socket), SD_BOTH);
}

void ShutdownSending(Socket socket) { ::shutdown(Native(socket), SD_SEND); }

void CloseSocket(Socket socket) {
  if (socket == kNoSocket) return;
  {
    std::lock_guard lock(g_shutMutex);
    g_shut.erase(Native(socket));
  }
  ::closesocket(Native(socket));
}

void SetNoDelay(Socket socket) {
  const BOOL one = TRUE;
  ::setsockopt(Native(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one),
               sizeof one);
}

}  // namespace korvanel::test_support
