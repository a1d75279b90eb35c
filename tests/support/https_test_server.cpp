#include "tests/support/https_test_server.h"

#include <cstdlib>
#include <string>

namespace korvanel::test_support {
namespace {

std::string_view ReasonOf(int status) {
  switch (status) {
    case 301:
      return "Moved Permanently";
    case 303:
      return "See Other";
    case 307:
      return "Temporary Redirect";
    case 308:
      return "Permanent Redirect";
    default:
      return "Found";
  }
}

// Every answer closes its connection: a client that kept it for a later request (Wine's
// WinHttp keeps connections past the session that opened them) would skip that request's
// handshake, and with it the certificate check under test.
Reply Closing(int status, std::string_view reason, std::string_view extraHeaders,
              std::string_view body) {
  Reply reply =
      HttpReply(status, reason, "Connection: close\r\n" + std::string(extraHeaders), body);
  reply.after = Reply::After::kClose;
  return reply;
}

}  // namespace

void AddScriptedRoutes(LoopbackServer& server) {
  server.Route("/reflect", [](const ReceivedRequest& request) {
    return Closing(200, "OK", "Content-Type: text/plain\r\n", request.raw);
  });
  server.Route("/redirect", [](const ReceivedRequest& request) {
    const std::string asked = request.Query("status");
    const int status = asked.empty() ? 302 : std::atoi(asked.c_str());
    return Closing(status, ReasonOf(status), "Location: " + request.Query("to") + "\r\n", "moved");
  });
  server.Route("/page", Closing(200, "OK", "Content-Type: text/html\r\n",
                                "<html><head><meta charset=\"utf-8\"></head>"
                                "<body>\xE4\xB8\xAD\xE6\x96\x87</body></html>"));  // "中文"
}

HttpsTestServer::~HttpsTestServer() = default;

std::string HttpsTestServer::Url(std::string_view pathAndQuery) const {
  return "https://" + m_hostPort + std::string(pathAndQuery);
}

}  // namespace korvanel::test_support
