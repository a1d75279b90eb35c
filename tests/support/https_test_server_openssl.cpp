#include "tests/support/https_test_server.h"
#include "tests/support/tls_stream.h"

namespace korvanel::test_support {

HttpsTestServer::HttpsTestServer() {
  // One identity per process: making a key is the slow part of starting.
  static const TlsIdentity identity;
  m_server = std::make_unique<LoopbackServer>(
      LoopbackServer::Options{.wrapStream = identity.Wrapper(), .scheme = "https"});
  AddScriptedRoutes(*m_server);
  m_hostPort = m_server->HostPort();
}

}  // namespace korvanel::test_support
