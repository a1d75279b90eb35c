#include <cstdlib>

#include "tests/support/https_test_server.h"

namespace korvanel::test_support {

HttpsTestServer::HttpsTestServer() {
  const char* address = std::getenv("KORVANEL_HTTPS_TEST_SERVER");
  if (address != nullptr && *address != '\0') {
    m_hostPort = address;
  } else {
    m_unavailable =
        "no https server: this platform has none of its own; scripts/test-windows starts one "
        "and names it in KORVANEL_HTTPS_TEST_SERVER";
  }
}

}  // namespace korvanel::test_support
