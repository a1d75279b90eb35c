// The byte stream of one connection of the loopback server: the seam where a TLS layer fits
// between the socket and the HTTP exchange. Everything the server reads and writes goes
// through it.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string_view>

#include "tests/support/socket.h"

namespace korvanel::test_support {

class Stream {
 public:
  virtual ~Stream() = default;
  // Up to size bytes into data: how many came, 0 at the end of the stream, -1 on an error
  // (and once the server has shut the socket underneath to stop).
  virtual long Read(char* data, std::size_t size) = 0;
  // All of bytes; false when the peer has gone.
  virtual bool Write(std::string_view bytes) = 0;
  // The connection is closed when the object goes.
};

// A plain TCP connection; owns and closes its socket.
class SocketStream : public Stream {
 public:
  explicit SocketStream(Socket socket) : m_socket(socket) {}
  ~SocketStream() override { CloseSocket(m_socket); }
  SocketStream(const SocketStream&) = delete;
  SocketStream& operator=(const SocketStream&) = delete;

  long Read(char* data, std::size_t size) override { return ReceiveSome(m_socket, data, size); }
  bool Write(std::string_view bytes) override { return SendAll(m_socket, bytes); }
  // For a layer that drives the socket itself (a TLS library handed the descriptor).
  Socket socket() const { return m_socket; }

 private:
  Socket m_socket;
};

// Makes the stream a server connection speaks over from the plain connection it accepted:
// a TLS layer does its handshake here and returns null when it fails. To stop, the server
// shuts the socket underneath, so a layer's blocked reads and writes fail and return.
using StreamWrapper = std::function<std::unique_ptr<Stream>(std::unique_ptr<SocketStream> plain)>;

}  // namespace korvanel::test_support
