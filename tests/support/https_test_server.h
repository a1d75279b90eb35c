// An https server for the web tests, serving the scripted routes below over TLS with a
// certificate made when the test runs, for another host name than 127.0.0.1 and signed by no
// authority the clients trust.
//
// Where the platform has a TLS library for it (OpenSSL), the server runs in this process.
// Under Wine, whose TLS has no server side, it is the program https_test_server that
// scripts/test-windows starts on the Linux side, its address given to the tests in
// KORVANEL_HTTPS_TEST_SERVER ("127.0.0.1:PORT"); without it the server is unavailable.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "tests/support/loopback_server.h"

namespace korvanel::test_support {

class HttpsTestServer {
 public:
  // Throws std::runtime_error when a server in this process cannot start.
  HttpsTestServer();
  ~HttpsTestServer();
  HttpsTestServer(const HttpsTestServer&) = delete;
  HttpsTestServer& operator=(const HttpsTestServer&) = delete;

  // Empty when the server is there; otherwise why it is not.
  const std::string& unavailable() const { return m_unavailable; }
  // "https://127.0.0.1:port" followed by pathAndQuery.
  std::string Url(std::string_view pathAndQuery) const;
  // "127.0.0.1:port".
  const std::string& HostPort() const { return m_hostPort; }

 private:
  std::unique_ptr<LoopbackServer> m_server;  // when it runs in this process
  std::string m_hostPort;
  std::string m_unavailable;
};

// The routes of the https server, for a plain server too, so a test can compare the two:
//   /reflect   200 whose body is every byte of the request as it arrived
//   /redirect  the status in the "status" parameter (302 when there is none) with a Location
//              line holding the "to" parameter
//   /page      200 with a page in UTF-8 that declares its charset ("中文" in its body)
void AddScriptedRoutes(LoopbackServer& server);

}  // namespace korvanel::test_support
