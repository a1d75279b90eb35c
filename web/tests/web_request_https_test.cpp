// WebRequest over https end to end on the platform's backend (libcurl, or WinHttp under
// Wine), against the scripted https server with its untrusted certificate for another host
// name, each case beside the same request over plain http.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/https_test_server.h"
#include "tests/support/loopback_server.h"
#include "web/http_api.h"
#include "web/web_request.h"

namespace korvanel {
namespace {

using test_support::HttpsTestServer;
using test_support::LoopbackServer;
using ::testing::StartsWith;

// "中文"
constexpr char kChineseGbk[] = "\xD6\xD0\xCE\xC4";

// A request as the /reflect route gives it back, its Host line put aside: the one line that
// must differ between two servers.
struct Reflected {
  std::string requestLine;
  std::vector<std::string> headerLines;
  std::string host;
  std::string body;
};

Reflected ParseReflected(const std::string& raw) {
  Reflected reflected;
  const std::size_t headEnd = raw.find("\r\n\r\n");
  const std::string head = raw.substr(0, headEnd);
  if (headEnd != std::string::npos) reflected.body = raw.substr(headEnd + 4);
  std::size_t pos = 0;
  bool first = true;
  while (pos <= head.size()) {
    std::size_t end = head.find("\r\n", pos);
    if (end == std::string::npos) end = head.size();
    const std::string line = head.substr(pos, end - pos);
    if (first) {
      reflected.requestLine = line;
      first = false;
    } else if (line.rfind("Host: ", 0) == 0) {
      reflected.host = line.substr(6);
    } else {
      reflected.headerLines.push_back(line);
    }
    pos = end + 2;
  }
  return reflected;
}

class WebRequestHttps : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!https.unavailable().empty()) GTEST_SKIP() << https.unavailable();
    test_support::AddScriptedRoutes(http);
  }

  HttpsTestServer https;
  LoopbackServer http;
};

TEST_F(WebRequestHttps, GetAndPostArriveAsOverHttp) {
  struct Case {
    const char* name;
    WebRequestOptions options;
    const char* requestLine;
    const char* body;
  };
  const Case cases[] = {
      {"GET", {}, "GET /reflect?n=1 HTTP/1.1", ""},
      {"POST", {.method = 1, .postText = "k=v&w=x"}, "POST /reflect?n=1 HTTP/1.1", "k=v&w=x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Text plainStatus, secureStatus;
    WebRequestOptions plainOptions = c.options;
    plainOptions.statusText = &plainStatus;
    WebRequestOptions secureOptions = c.options;
    secureOptions.statusText = &secureStatus;
    const Reflected plain = ParseReflected(WebRequest(http.Url("/reflect?n=1"), plainOptions));
    const Reflected secure = ParseReflected(WebRequest(https.Url("/reflect?n=1"), secureOptions));
    EXPECT_EQ(plainStatus, "200 OK");
    EXPECT_EQ(secureStatus, "200 OK");
    EXPECT_EQ(secure.requestLine, c.requestLine);
    EXPECT_EQ(secure.requestLine, plain.requestLine);
    EXPECT_THAT(secure.headerLines, ::testing::Contains(StartsWith("User-Agent: Mozilla/5.0")));
    EXPECT_EQ(secure.headerLines, plain.headerLines);
    EXPECT_EQ(secure.host, https.HostPort());
    EXPECT_EQ(plain.host, http.HostPort());
    EXPECT_EQ(secure.body, c.body);
  }
}

// Below WebRequest, on the backend itself: the certificate is refused unless every check it
// fails is switched off, so the case above shows that WebRequest's security flags accept a
// certificate from an unknown authority for another name.
TEST_F(WebRequestHttps, TheBackendAcceptsTheCertificateOnlyWithTheIgnoreFlags) {
  struct Case {
    const char* name;
    bool setFlags;
    std::uint32_t flags;
    bool accepted;
  };
  const Case cases[] = {
      {"no option", false, 0, false},
      {"unknown authority only", true, 0x100, false},
      {"wrong name only", true, 0x1000, false},
      {"the flags WebRequest sets", true, kSecurityFlagsIgnoreAll, true},
  };
  HttpApi& api = PlatformHttpApi();
  const std::string hostPort = https.HostPort();
  const std::string hostName = hostPort.substr(0, hostPort.find(':'));
  const std::u16string host(hostName.begin(), hostName.end());
  const auto port = static_cast<std::uint16_t>(std::stoi(hostPort.substr(hostPort.find(':') + 1)));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HttpHandle session = api.Open(nullptr, kAccessTypeNoProxy, u"", nullptr, 0);
    ASSERT_NE(session, nullptr);
    ASSERT_TRUE(api.SetTimeouts(session, 10000, 10000, 10000, 10000));
    HttpHandle connection = api.Connect(session, host.c_str(), port, 0);
    ASSERT_NE(connection, nullptr);
    HttpHandle request =
        api.OpenRequest(connection, u"GET", u"/reflect", nullptr, nullptr, nullptr, kFlagSecure);
    ASSERT_NE(request, nullptr);
    if (c.setFlags) {
      EXPECT_TRUE(api.SetOption(request, kOptionSecurityFlags, &c.flags, sizeof c.flags));
    }
    const bool answered = api.SendRequest(request, nullptr, 0, nullptr, 0, 0, 0) &&
                          api.ReceiveResponse(request, nullptr);
    EXPECT_EQ(answered, c.accepted);
    api.CloseHandle(request);
    api.CloseHandle(connection);
    api.CloseHandle(session);
  }
}

TEST_F(WebRequestHttps, ARedirectWithinHttpsIsFollowed) {
  const std::string targets[] = {"/reflect", https.Url("/reflect")};
  for (const std::string& to : targets) {
    SCOPED_TRACE(to);
    Text status, location = "untouched";
    const Text page = WebRequest(https.Url("/redirect?to=" + to),
                                 {.redirectLocation = &location, .statusText = &status});
    EXPECT_EQ(status, "200 OK");
    EXPECT_THAT(page, StartsWith("GET /reflect HTTP/1.1\r\n"));
    EXPECT_EQ(location, "untouched");  // the final response has no Location line
  }
}

TEST_F(WebRequestHttps, ARedirectFromHttpsDownToHttpComesBackUnfollowed) {
  const std::string down = http.Url("/reflect");
  for (const char* status : {"301", "302"}) {
    SCOPED_TRACE(status);
    Text statusText, location, headers;
    const Text page = WebRequest(
        https.Url("/redirect?status=" + std::string(status) + "&to=" + down),
        {.responseHeaders = &headers, .redirectLocation = &location, .statusText = &statusText});
    EXPECT_EQ(page, "moved");
    EXPECT_THAT(statusText, StartsWith(status));
    EXPECT_EQ(location, down);
    EXPECT_THAT(headers, ::testing::HasSubstr("\r\nLocation: " + down + "\r\n"));
  }
  EXPECT_TRUE(http.Requests().empty());
}

TEST_F(WebRequestHttps, APageDeclaringItsCharsetDecodesAsOverHttp) {
  const std::string expected = "<html><head><meta charset=\"utf-8\"></head><body>" +
                               std::string(kChineseGbk) + "</body></html>";
  ByteSet plainBytes, secureBytes;
  EXPECT_EQ(WebRequest(http.Url("/page"), {.responseBytes = &plainBytes}), expected);
  EXPECT_EQ(WebRequest(https.Url("/page"), {.responseBytes = &secureBytes}), expected);
  EXPECT_EQ(secureBytes, plainBytes);
}

}  // namespace
}  // namespace korvanel
