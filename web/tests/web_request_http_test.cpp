// WebRequest end to end over the platform backend, against scripted servers on 127.0.0.1.
#include <chrono>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/loopback_server.h"
#include "web/http_api_curl_holders.h"
#include "web/web_request.h"

namespace korvanel {
namespace {

using test_support::HttpReply;
using test_support::LoopbackServer;
using test_support::ReceivedRequest;
using test_support::Reply;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

// "712 服务器未响应!"
constexpr char kNoResponse[] = "712 \xB7\xFE\xCE\xF1\xC6\xF7\xCE\xB4\xCF\xEC\xD3\xA6!";
// "711 发送请求失败!"
constexpr char kSendFailed[] = "711 \xB7\xA2\xCB\xCD\xC7\xEB\xC7\xF3\xCA\xA7\xB0\xDC!";
// "中文"
constexpr char kChineseGbk[] = "\xD6\xD0\xCE\xC4";

class WebRequestHttp : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(CurlBackendLiveObjects(), 0); }
  LoopbackServer server;
};

TEST_F(WebRequestHttp, HandsBackStatusHeadersAndBodyOfAnErrorStatus) {
  server.Route("/missing", HttpReply(404, "Not Found", "X-Why: gone\r\n", "<p>none</p>"));
  Text status, headers;
  const Text page =
      WebRequest(server.Url("/missing"), {.responseHeaders = &headers, .statusText = &status});
  EXPECT_EQ(page, "<p>none</p>");
  EXPECT_EQ(status, "404 Not Found");
  EXPECT_EQ(headers, "HTTP/1.1 404 Not Found\r\nX-Why: gone\r\nContent-Length: 11\r\n\r\n");
}

TEST_F(WebRequestHttp, ServerSeesTheDefaultLinesAndTheCookieLine) {
  server.Route("/reflect", test_support::ReflectReply);
  Text cookies = "a=1; b=2";
  WebRequest(server.Url("/reflect"), {.sendCookies = &cookies});
  ASSERT_EQ(server.Requests().size(), 1u);
  const ReceivedRequest got = server.Requests().front();
  EXPECT_EQ(got.requestLine, "GET /reflect HTTP/1.1");
  EXPECT_THAT(got.HeaderLines(),
              ::testing::UnorderedElementsAreArray(std::vector<std::string>{
                  "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; "
                  "WOW64; Trident/5.0)",
                  "Accept: text/html, application/xhtml+xml, */*", "Accept-Encoding: gbk, GB2312",
                  "Accept-Language: zh-cn", "Cache-Control: no-cache", "Cookie: a=1; b=2",
                  "Host: " + server.HostPort()}));
}

TEST_F(WebRequestHttp, PostCarriesTheFormTypeAndTheBody) {
  server.Route("/form", test_support::ReflectReply);
  WebRequest(server.Url("/form"), {.method = 1, .postText = "k=v&w=x"});
  const ReceivedRequest got = server.Requests().front();
  EXPECT_EQ(got.method, "POST");
  EXPECT_EQ(got.Header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(got.Header("Content-Length"), "7");
  EXPECT_EQ(got.body, "k=v&w=x");
}

TEST_F(WebRequestHttp, AWaybillNumberWithSpacesAndChineseReachesTheServer) {
  server.Route("/korvanelapi.php", HttpReply(200, "OK", "", "ok"));
  Text status;
  const Text page = WebRequest(
      server.Url("/korvanelapi.php?yundanhao=AB 12" + std::string(kChineseGbk) + "&type=html"),
      {.statusText = &status});
  EXPECT_EQ(page, "ok");
  EXPECT_EQ(status, "200 OK");
  EXPECT_EQ(server.Requests().front().target,
            "/korvanelapi.php?yundanhao=AB%2012%E4%B8%AD%E6%96%87&type=html");
}

TEST_F(WebRequestHttp, CollectsTheSetCookieLinesItRecognises) {
  server.Route("/set", HttpReply(200, "OK",
                                 "Set-Cookie: a=1; path=/\r\nset-cookie: lower=1\r\n"
                                 "Set-Cookie:tight=1\r\nSet-Cookie: b=2\r\n",
                                 ""));
  Text returned;
  WebRequest(server.Url("/set"), {.returnedCookies = &returned});
  EXPECT_EQ(returned, "a=1; b=2");
}

TEST_F(WebRequestHttp, CookiesSetOnARedirectGoToTheNextHopWhenCookiesAreSent) {
  server.Route("/login",
               HttpReply(302, "Found", "Set-Cookie: sid=77; Path=/\r\nLocation: /home\r\n", ""));
  server.Route("/home", test_support::ReflectReply);
  Text cookies = "lang=zh";
  Text location = "untouched";
  Text status;
  const Text page =
      WebRequest(server.Url("/login"),
                 {.sendCookies = &cookies, .redirectLocation = &location, .statusText = &status});
  ASSERT_EQ(server.Requests().size(), 2u);
  EXPECT_THAT(server.Requests().back().Header("Cookie"), HasSubstr("sid=77"));
  EXPECT_THAT(server.Requests().back().Header("Cookie"), HasSubstr("lang=zh"));
  EXPECT_EQ(status, "200 OK");
  EXPECT_EQ(location, "untouched");  // the final response has no Location line
  EXPECT_THAT(page, StartsWith("GET /home HTTP/1.1\r\n"));

  // Without cookies to send, the cookie handling is off and the hop gets none.
  WebRequest(server.Url("/login"));
  EXPECT_FALSE(server.Requests().back().HasHeader("Cookie"));
}

TEST_F(WebRequestHttp, NoRedirectStopsAtTheRedirectAndGivesItsLocation) {
  server.Route("/old", HttpReply(301, "Moved Permanently", "Location: /new?x=1\r\n", "moved"));
  Text status, location;
  const Text page =
      WebRequest(server.Url("/old"),
                 {.noRedirect = true, .redirectLocation = &location, .statusText = &status});
  EXPECT_EQ(page, "moved");
  EXPECT_EQ(status, "301 Moved Permanently");
  EXPECT_EQ(location, "/new?x=1");
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(WebRequestHttp, APageDeclaringUtf8IsDecoded) {
  const std::string page =
      "<html><head><meta charset=\"utf-8\"></head><body>\xE4\xB8\xAD\xE6\x96\x87"
      "</body></html>";
  server.Route("/utf8", HttpReply(200, "OK", "Content-Type: text/html\r\n", page));
  ByteSet bytes;
  const Text text = WebRequest(server.Url("/utf8"), {.responseBytes = &bytes});
  EXPECT_EQ(text, "<html><head><meta charset=\"utf-8\"></head><body>" + std::string(kChineseGbk) +
                      "</body></html>");
  EXPECT_EQ(bytes, ByteSet(page.begin(), page.end()));
}

TEST_F(WebRequestHttp, BodiesWithANulOrNoneAtAll) {
  const std::string withNul("head\0tail", 9);
  server.Route("/nul", HttpReply(200, "OK", "", withNul));
  server.Route("/empty", Reply{.bytes = "HTTP/1.1 204 No Content\r\nX-A: 1\r\n\r\n"});
  ByteSet bytes;
  EXPECT_EQ(WebRequest(server.Url("/nul"), {.responseBytes = &bytes}), "head");
  EXPECT_EQ(bytes, ByteSet(withNul.begin(), withNul.end()));

  for (const int method : {0, 2}) {
    SCOPED_TRACE(method);
    Text status, headers;
    bytes = {1, 2, 3};
    const Text text = WebRequest(server.Url("/empty"), {.method = method,
                                                        .responseHeaders = &headers,
                                                        .statusText = &status,
                                                        .responseBytes = &bytes});
    EXPECT_EQ(text, "");
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(status, "204 No Content");
    EXPECT_EQ(headers, "HTTP/1.1 204 No Content\r\nX-A: 1\r\n\r\n");
  }
}

TEST_F(WebRequestHttp, ABodyCutShortKeepsWhatArrivedAndTheStatus) {
  server.Route("/cut", Reply{.bytes = "HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\npartial",
                             .after = Reply::After::kClose});
  Text status;
  ByteSet bytes;
  const Text text =
      WebRequest(server.Url("/cut"), {.statusText = &status, .responseBytes = &bytes});
  EXPECT_EQ(text, "partial");
  EXPECT_EQ(status, "200 OK");
  EXPECT_EQ(bytes.size(), 7u);
}

TEST_F(WebRequestHttp, ASilentServerEndsAfterTheTimeoutNotLater) {
  server.Route("/silent", Reply{.after = Reply::After::kHold});
  Text status;
  const auto start = std::chrono::steady_clock::now();
  const Text text = WebRequest(server.Url("/silent"), {.timeoutSeconds = 1, .statusText = &status});
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(text, "");
  EXPECT_EQ(status, kNoResponse);
  EXPECT_LT(seconds, 5.0);
}

TEST_F(WebRequestHttp, NothingListeningFailsTheSend) {
  const int port = test_support::UnusedPort();
  Text status;
  const Text text = WebRequest("http://127.0.0.1:" + std::to_string(port) + "/",
                               {.timeoutSeconds = 2, .statusText = &status});
  EXPECT_EQ(text, "");
  EXPECT_EQ(status, kSendFailed);
}

TEST_F(WebRequestHttp, AProxyIsAskedForTheAbsoluteAddressWithItsCredentials) {
  LoopbackServer proxy;
  // The proxy answers itself, so what arrives shows it was asked.
  proxy.Fallback([](const ReceivedRequest& request) {
    return HttpReply(200, "OK", "",
                     request.requestLine + "|" + request.Header("Proxy-Authorization"));
  });
  const Text text =
      WebRequest(server.Url("/p?q=1"),
                 {.proxy = proxy.HostPort(), .proxyUserName = "pu", .proxyPassword = "pp"});
  EXPECT_EQ(text, "GET " + server.Url("/p?q=1") + " HTTP/1.1|Basic cHU6cHA=");
  EXPECT_TRUE(server.Requests().empty());
  EXPECT_THAT(proxy.Requests().front().HeaderLines(),
              Not(::testing::Contains(StartsWith("Proxy-Connection"))));
}

TEST_F(WebRequestHttp, AProxyRefusingAnHttpsTunnelGivesItsStatus) {
  LoopbackServer proxy;
  proxy.Fallback([](const ReceivedRequest&) {
    return HttpReply(407, "Proxy Authentication Required",
                     "Proxy-Authenticate: Basic realm=\"p\"\r\n", "who are you");
  });
  Text status, headers;
  const Text text =
      WebRequest("https://" + server.HostPort() + "/secret",
                 {.responseHeaders = &headers, .proxy = proxy.HostPort(), .statusText = &status});
  EXPECT_EQ(text, "");
  EXPECT_EQ(status, "407 Proxy Authentication Required");
  EXPECT_THAT(headers, HasSubstr("\r\nProxy-Authenticate: Basic realm=\"p\"\r\n"));
  EXPECT_EQ(proxy.Requests().front().method, "CONNECT");
  EXPECT_EQ(server.ConnectionCount(), 0);
}

}  // namespace
}  // namespace korvanel
