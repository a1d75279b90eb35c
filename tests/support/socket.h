// The few socket calls the loopback server and the raw client need, the same on POSIX and
// on Windows (Winsock, started on first use). Everything is on 127.0.0.1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace korvanel::test_support {

// A socket descriptor: an int on POSIX, a SOCKET on Windows.
using Socket = std::intptr_t;
inline constexpr Socket kNoSocket = -1;

// A listening socket on 127.0.0.1 at the port asked in *port, or at one the system picks when
// that is 0 (told in *port); kNoSocket when there is none.
Socket ListenOnLoopback(int* port);
// The next connection; kNoSocket when accepting failed.
Socket AcceptConnection(Socket listener);
// A connection to 127.0.0.1:port; kNoSocket when nothing answers.
Socket ConnectToLoopback(int port);
// Up to size bytes: how many came, 0 at the end, -1 on an error. A receive time limit
// (timeoutMs > 0) ends the wait with -1.
long ReceiveSome(Socket socket, char* data, std::size_t size, int timeoutMs = 0);
// All of bytes; false when the peer has gone (never a SIGPIPE).
bool SendAll(Socket socket, std::string_view bytes);
// Ends both directions, waking a thread blocked in a receive or a send.
void ShutdownSocket(Socket socket);
// Ends the sending direction only: the peer reads the end of the stream.
void ShutdownSending(Socket socket);
void CloseSocket(Socket socket);
// Answers at once without the delayed-acknowledgement pause on small writes.
void SetNoDelay(Socket socket);

}  // namespace korvanel::test_support
