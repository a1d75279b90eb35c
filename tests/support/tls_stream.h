// TLS for the loopback server, over OpenSSL: a key and a certificate made when the test runs,
// for a host name that no test asks for and signed by nobody, so a client accepts the
// connection only when it is told to ignore certificate errors.
#pragma once

#include <memory>

#include "tests/support/stream.h"

typedef struct ssl_ctx_st SSL_CTX;

namespace korvanel::test_support {

// The name in the certificate: never the address the clients ask for (127.0.0.1).
inline constexpr char kTlsCertificateHost[] = "tracking.test.invalid";

class TlsIdentity {
 public:
  // Makes the key and the self-signed certificate, valid from an hour ago for a day. Throws
  // std::runtime_error when OpenSSL cannot.
  TlsIdentity();

  // For LoopbackServer::Options: each accepted connection speaks TLS as this server; a failed
  // handshake ends the connection.
  StreamWrapper Wrapper() const;

 private:
  std::shared_ptr<SSL_CTX> m_context;
};

}  // namespace korvanel::test_support
