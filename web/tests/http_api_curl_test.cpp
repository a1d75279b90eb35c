// The libcurl backend against scripted servers on 127.0.0.1, driven call by call in the order
// WebRequest makes the calls, checking what WinHttp would do at each call.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/loopback_server.h"
#include "web/http_api.h"
#include "web/http_api_curl_holders.h"

namespace korvanel {
namespace {

using test_support::LoopbackServer;
using test_support::ReceivedRequest;
using test_support::Reply;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::UnorderedElementsAre;
using Clock = std::chrono::steady_clock;

std::u16string U(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

std::string Narrow(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

// Everything one request does, in WebRequest's order.
struct Plan {
  int port = 0;
  std::u16string object = u"/";
  std::u16string verb = u"GET";
  std::u16string headers;
  std::string body;
  std::uint32_t accessType = kAccessTypeNoProxy;
  std::u16string proxy;
  int timeoutMs = 5000;
  bool cookies = false;  // on: the cookie-sending option; off: cookies switched off
  bool noRedirect = false;
  std::u16string user, password, proxyUser, proxyPassword;
  bool secure = false;
  std::u16string host = u"127.0.0.1";
};

struct Outcome {
  bool sent = false;
  bool received = false;
  std::string body;
  bool dataFailed = false;  // a data call failed after the bytes in body
  std::u16string headers;   // the raw header block
  double seconds = 0;
};

class OpenHandles {
 public:
  explicit OpenHandles(HttpApi& api) : m_api(api) {}
  ~OpenHandles() {
    for (HttpHandle handle : {request, connection, session}) {
      if (handle != nullptr) {
        EXPECT_TRUE(m_api.CloseHandle(handle));
      }
    }
  }
  HttpHandle session = nullptr;
  HttpHandle connection = nullptr;
  HttpHandle request = nullptr;

 private:
  HttpApi& m_api;
};

bool SetOption(HttpApi& api, HttpHandle request, std::uint32_t option, std::uint32_t value) {
  return api.SetOption(request, option, &value, sizeof value);
}

Outcome Exchange(const Plan& setup) {
  HttpApi& api = PlatformHttpApi();
  Outcome out;
  const auto start = Clock::now();
  OpenHandles h(api);
  h.session = api.Open(nullptr, setup.accessType, setup.proxy.c_str(), nullptr, 0);
  EXPECT_NE(h.session, nullptr);
  EXPECT_TRUE(api.SetTimeouts(h.session, setup.timeoutMs, setup.timeoutMs, setup.timeoutMs,
                              setup.timeoutMs));
  h.connection =
      api.Connect(h.session, setup.host.c_str(), static_cast<std::uint16_t>(setup.port), 0);
  EXPECT_NE(h.connection, nullptr);
  h.request = api.OpenRequest(h.connection, setup.verb.c_str(), setup.object.c_str(), nullptr,
                              nullptr, nullptr, setup.secure ? kFlagSecure : 0);
  EXPECT_NE(h.request, nullptr);
  if (h.request == nullptr) return out;
  if (!setup.user.empty()) {
    EXPECT_TRUE(api.SetCredentials(h.request, kAuthTargetServer, kAuthSchemeBasic,
                                   setup.user.c_str(), setup.password.c_str(), nullptr));
  }
  if (!setup.proxyUser.empty()) {
    EXPECT_TRUE(api.SetCredentials(h.request, kAuthTargetProxy, kAuthSchemeBasic,
                                   setup.proxyUser.c_str(), setup.proxyPassword.c_str(), nullptr));
  }
  EXPECT_TRUE(SetOption(api, h.request, kOptionSecurityFlags, kSecurityFlagsIgnoreAll));
  EXPECT_TRUE(setup.cookies ? SetOption(api, h.request, kOptionEnableFeature, kEnableSslRevocation)
                            : SetOption(api, h.request, kOptionDisableFeature, kDisableCookies));
  if (setup.noRedirect) {
    EXPECT_TRUE(SetOption(api, h.request, kOptionDisableFeature, kDisableRedirects));
  }
  if (!setup.headers.empty()) {
    EXPECT_TRUE(api.AddRequestHeaders(h.request, setup.headers.c_str(),
                                      static_cast<std::uint32_t>(setup.headers.size()),
                                      kAddRequestFlagAdd));
  }
  const auto length = static_cast<std::uint32_t>(setup.body.size());
  out.sent = api.SendRequest(h.request, nullptr, 0,
                             setup.body.empty() ? nullptr : setup.body.data(), length, length, 0);
  if (out.sent) out.received = api.ReceiveResponse(h.request, nullptr);
  if (out.received) {
    for (;;) {
      std::uint32_t available = 0;
      if (!api.QueryDataAvailable(h.request, &available)) {
        out.dataFailed = true;
        break;
      }
      if (available == 0) break;
      std::string chunk(available, '\0');
      std::uint32_t read = 0;
      if (!api.ReadData(h.request, chunk.data(), available, &read)) {
        out.dataFailed = true;
        break;
      }
      EXPECT_LE(read, available);
      out.body.append(chunk, 0, read);
    }
    std::uint32_t bytes = 0;
    std::uint32_t index = 0;
    EXPECT_FALSE(
        api.QueryHeaders(h.request, kQueryRawHeadersCrlf, nullptr, nullptr, &bytes, &index));
    std::u16string buffer(bytes / 2, u'\0');
    EXPECT_TRUE(
        api.QueryHeaders(h.request, kQueryRawHeadersCrlf, nullptr, buffer.data(), &bytes, &index));
    buffer.resize(bytes / 2);
    out.headers = buffer;
  }
  out.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return out;
}

std::string StatusLine(const Outcome& out) {
  const std::string headers = Narrow(out.headers);
  return headers.substr(0, headers.find("\r\n"));
}

// A port on 127.0.0.1 where nothing listens.
int ClosedPort() { return test_support::UnusedPort(); }

// Every test ends with no handle, curl handle or curl header list left alive.
class CurlBackend : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(CurlBackendLiveObjects(), 0); }
  Plan To(std::string_view object) {
    Plan setup;
    setup.port = server.port();
    setup.object = U(object);
    return setup;
  }
  const ReceivedRequest& Only() {
    requests = server.Requests();
    EXPECT_EQ(requests.size(), 1u);
    if (requests.empty()) requests.emplace_back();
    return requests.front();
  }
  LoopbackServer server;
  std::vector<ReceivedRequest> requests;
};

// ---------------------------------------------------------------------------------------------

TEST(CurlCrackUrl, SplitsAddressesAsWinHttpDoes) {
  struct Case {
    std::u16string url;
    int scheme;
    std::u16string host;
    int port;
    std::u16string path;
    std::u16string extra;
  };
  const Case cases[] = {
      {u"http://example.com", kSchemeHttp, u"example.com", 80, u"", u""},
      {u"https://example.com/", kSchemeHttps, u"example.com", 443, u"/", u""},
      {u"HTTP://Example.com:8080/a/b?x=1&y=2", kSchemeHttp, u"Example.com", 8080, u"/a/b",
       u"?x=1&y=2"},
      {u"https://h:444/p#frag?not", kSchemeHttps, u"h", 444, u"/p", u"#frag?not"},
      {u"http://h?q=1", kSchemeHttp, u"h", 80, u"", u"?q=1"},
      {u"http://user:secret@h:81/p", kSchemeHttp, u"h", 81, u"/p", u""},
      {u"http://[::1]:8000/v6", kSchemeHttp, u"[::1]", 8000, u"/v6", u""},
      {u"http://h/\u67e5\u8be2?n=a b", kSchemeHttp, u"h", 80, u"/\u67e5\u8be2", u"?n=a b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.url));
    UrlComponents parts;
    ASSERT_TRUE(PlatformHttpApi().CrackUrl(c.url.c_str(), static_cast<std::uint32_t>(c.url.size()),
                                           0, &parts));
    EXPECT_EQ(parts.scheme, c.scheme);
    EXPECT_EQ(parts.hostName, c.host);
    EXPECT_EQ(parts.port, c.port);
    EXPECT_EQ(parts.urlPath, c.path);
    EXPECT_EQ(parts.extraInfo, c.extra);
  }
  // A length shorter than the string cracks only that much; 0 reads to the terminator.
  UrlComponents parts;
  ASSERT_TRUE(PlatformHttpApi().CrackUrl(u"http://h/abc/def", 12, 0, &parts));
  EXPECT_EQ(parts.urlPath, u"/abc");
  ASSERT_TRUE(PlatformHttpApi().CrackUrl(u"http://h/abc/def", 0, 0, &parts));
  EXPECT_EQ(parts.urlPath, u"/abc/def");
}

TEST(CurlCrackUrl, RefusesOtherSchemesAndBrokenAddresses) {
  for (const std::u16string url :
       {u"", u"example.com/path", u"ftp://example.com/", u"file:///etc/passwd", u"http://",
        u"http:/h/p", u"http://:80/", u"http://h:port/", u"http://h:70000/", u"http://[::1/"}) {
    SCOPED_TRACE(Narrow(url));
    UrlComponents parts;
    EXPECT_FALSE(
        PlatformHttpApi().CrackUrl(url.c_str(), static_cast<std::uint32_t>(url.size()), 0, &parts));
  }
}

// ---------------------------------------------------------------------------------------------

TEST_F(CurlBackend, SendsTheCallersLinesAndHostOnly) {
  server.Route("/reflect", test_support::ReflectReply);
  Plan setup = To("/reflect?a=1");
  // An empty line, as the header assembly leaves before a cookie line, is skipped.
  setup.headers = u"User-Agent: Agent/1\r\nX-One: 1\r\n\r\nX-Empty:\r\nX-Two:2\r\n";
  const Outcome out = Exchange(setup);
  ASSERT_TRUE(out.received);
  const ReceivedRequest& got = Only();
  EXPECT_EQ(got.requestLine, "GET /reflect?a=1 HTTP/1.1");
  EXPECT_THAT(got.HeaderLines(), UnorderedElementsAre("User-Agent: Agent/1", "X-One: 1", "X-Empty:",
                                                      "X-Two:2", "Host: " + server.HostPort()));
  EXPECT_EQ(out.body, got.requestLine + "\r\n" + got.headerBlock);

  // Without any lines of the caller's, Host is all that goes out.
  server.Route("/bare", test_support::ReflectReply);
  ASSERT_TRUE(Exchange(To("/bare")).received);
  EXPECT_THAT(server.Requests().back().HeaderLines(), ElementsAre("Host: " + server.HostPort()));
}

TEST_F(CurlBackend, RefusesHeaderLinesThatAreNotHeaders) {
  HttpApi& api = PlatformHttpApi();
  OpenHandles h(api);
  h.session = api.Open(nullptr, kAccessTypeNoProxy, u"", nullptr, 0);
  h.connection = api.Connect(h.session, u"127.0.0.1", static_cast<std::uint16_t>(server.port()), 0);
  h.request = api.OpenRequest(h.connection, u"GET", u"/", nullptr, nullptr, nullptr, 0);
  ASSERT_NE(h.request, nullptr);
  for (const std::u16string block :
       {u"X-Good: 1\r\nno colon here\r\n", u": no name", u"Bad Name: 1", u" X-Folded: 1"}) {
    SCOPED_TRACE(Narrow(block));
    EXPECT_FALSE(api.AddRequestHeaders(
        h.request, block.c_str(), static_cast<std::uint32_t>(block.size()), kAddRequestFlagAdd));
  }
  server.Route("/", test_support::ReflectReply);
  ASSERT_TRUE(api.SendRequest(h.request, nullptr, 0, nullptr, 0, 0, 0));
  ASSERT_TRUE(api.ReceiveResponse(h.request, nullptr));
  // Nothing of the refused blocks went out, not even their good lines.
  EXPECT_THAT(Only().HeaderLines(), ElementsAre("Host: " + server.HostPort()));
}

TEST_F(CurlBackend, SendsTheBodyWithAnyVerbAndOnlyAContentLength) {
  server.Fallback(test_support::ReflectReply);
  const std::string big(2 * 1024 * 1024 + 7, 'b');  // past the size where curl would ask first
  struct Case {
    std::u16string verb;
    std::string body;
    std::u16string headers;
    std::vector<std::string> lines;  // besides Host
  };
  const Case cases[] = {
      {u"POST", "a=1&b=2", u"", {"Content-Length: 7"}},
      {u"POST", big, u"", {"Content-Length: " + std::to_string(big.size())}},
      {u"POST", "", u"", {"Content-Length: 0"}},
      {u"GET", "in a GET", u"", {"Content-Length: 8"}},
      {u"PUT",
       "x",
       u"Content-Type: text/plain\r\nContent-Length: 99",
       {"Content-Type: text/plain", "Content-Length: 1"}},
      {u"DELETE", "", u"", {}},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.verb) + " with " + std::to_string(c.body.size()) + " bytes");
    Plan setup = To("/body" + std::to_string(n++));
    setup.verb = c.verb;
    setup.body = c.body;
    setup.headers = c.headers;
    ASSERT_TRUE(Exchange(setup).received);
    const ReceivedRequest got = server.Requests().back();
    EXPECT_EQ(got.method, Narrow(c.verb));
    EXPECT_EQ(got.body, c.body);
    std::vector<std::string> lines = got.HeaderLines();
    lines.erase(std::remove(lines.begin(), lines.end(), "Host: " + server.HostPort()), lines.end());
    EXPECT_THAT(lines, ::testing::UnorderedElementsAreArray(c.lines));
  }
}

TEST_F(CurlBackend, EscapesTheObjectNameAsWinHttpDoes) {
  server.Fallback(test_support::ReflectReply);
  struct Case {
    std::u16string object;
    std::string target;
  };
  const Case cases[] = {
      {u"/q?n=AB 12", "/q?n=AB%2012"},
      {u"/q?n=\u4e2d\u6587", "/q?n=%E4%B8%AD%E6%96%87"},  // UTF-8 of the two characters
      {u"/kept%41?x=%zz", "/kept%41?x=%zz"},
      {u"/ctl\t\x7f", "/ctl%09%7F"},
      {u"/plain/a-b_c.d~e!$&'()*+,;=:@", "/plain/a-b_c.d~e!$&'()*+,;=:@"},
      {u"", "/"},
      {u"nolead", "/nolead"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    Plan setup = To("");
    setup.object = c.object;
    ASSERT_TRUE(Exchange(setup).received);
    EXPECT_EQ(server.Requests().back().target, c.target);
  }
}

// ---------------------------------------------------------------------------------------------

TEST_F(CurlBackend, RawHeadersFollowTheBufferLengthProtocol) {
  server.Route("/h", test_support::HttpReply(200, "OK", "X-A: 1\r\n", "body"));
  HttpApi& api = PlatformHttpApi();
  OpenHandles h(api);
  h.session = api.Open(nullptr, kAccessTypeNoProxy, u"", nullptr, 0);
  h.connection = api.Connect(h.session, u"127.0.0.1", static_cast<std::uint16_t>(server.port()), 0);
  h.request = api.OpenRequest(h.connection, u"GET", u"/h", nullptr, nullptr, nullptr, 0);
  std::uint32_t bytes = 0;
  std::uint32_t index = 0;
  // Not before the response is in.
  EXPECT_FALSE(api.QueryHeaders(h.request, kQueryRawHeadersCrlf, nullptr, nullptr, &bytes, &index));
  ASSERT_TRUE(api.SendRequest(h.request, nullptr, 0, nullptr, 0, 0, 0));
  ASSERT_TRUE(api.ReceiveResponse(h.request, nullptr));

  const std::u16string expected = u"HTTP/1.1 200 OK\r\nX-A: 1\r\nContent-Length: 4\r\n\r\n";
  const auto needed = static_cast<std::uint32_t>(2 * (expected.size() + 1));
  bytes = 0;
  EXPECT_FALSE(api.QueryHeaders(h.request, kQueryRawHeadersCrlf, nullptr, nullptr, &bytes, &index));
  EXPECT_EQ(bytes, needed);
  std::u16string buffer(expected.size() + 1, u'#');
  bytes = needed - 2;  // one unit short: the terminator does not fit
  EXPECT_FALSE(
      api.QueryHeaders(h.request, kQueryRawHeadersCrlf, nullptr, buffer.data(), &bytes, &index));
  EXPECT_EQ(bytes, needed);
  EXPECT_EQ(buffer[0], u'#');
  ASSERT_TRUE(
      api.QueryHeaders(h.request, kQueryRawHeadersCrlf, nullptr, buffer.data(), &bytes, &index));
  EXPECT_EQ(bytes, needed - 2);  // on success: without the terminator
  EXPECT_EQ(buffer, expected + u'\0');
}

TEST_F(CurlBackend, RawHeadersAreTheFinalResponsesInCrLfLines) {
  struct Case {
    std::string name;
    std::string reply;
    std::u16string headers;
  };
  const Case cases[] = {
      {"bare line feeds", "HTTP/1.1 200 OK\nX-A: 1\nContent-Length: 0\n\n",
       u"HTTP/1.1 200 OK\r\nX-A: 1\r\nContent-Length: 0\r\n\r\n"},
      {"interim response first",
       "HTTP/1.1 100 Continue\r\nX-Interim: 1\r\n\r\nHTTP/1.1 404 Not Found\r\n"
       "Content-Length: 0\r\n\r\n",
       u"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"},
      // A GBK value comes back as its characters: "中文".
      {"code page 936 value",
       "HTTP/1.0 200 OK\r\nX-Name: \xD6\xD0\xCE\xC4\r\nContent-Length: 0\r\n\r\n",
       u"HTTP/1.0 200 OK\r\nX-Name: \u4e2d\u6587\r\nContent-Length: 0\r\n\r\n"},
      {"no reason phrase", "HTTP/1.1 200\r\nContent-Length: 0\r\n\r\n",
       u"HTTP/1.1 200\r\nContent-Length: 0\r\n\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server.Route("/" + std::to_string(&c - cases), Reply{.bytes = c.reply});
    const Outcome out = Exchange(To("/" + std::to_string(&c - cases)));
    ASSERT_TRUE(out.received);
    EXPECT_EQ(out.headers, c.headers);
  }
}

TEST_F(CurlBackend, BodiesArriveWholeWhateverTheyHold) {
  const std::string withNul("before\0after", 12);
  server.Route("/nul", test_support::HttpReply(200, "OK", "", withNul));
  server.Route("/204", Reply{.bytes = "HTTP/1.1 204 No Content\r\n\r\n"});
  // HEAD is answered with the length of a body that never comes; the client must not wait.
  server.Route("/head", Reply{.bytes = "HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\n"});
  server.Route("/chunked", Reply{.bytes = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                          "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n"});
  server.Route("/until-close",
               Reply{.bytes = "HTTP/1.0 200 OK\r\n\r\nto the end", .after = Reply::After::kClose});
  server.Route("/gzip",
               test_support::HttpReply(200, "OK", "Content-Encoding: gzip\r\n", "not gzip"));
  struct Case {
    std::string path;
    std::u16string verb;
    std::string body;
  };
  const Case cases[] = {{"/nul", u"GET", withNul},
                        {"/204", u"GET", ""},
                        {"/head", u"HEAD", ""},
                        {"/chunked", u"GET", "hello world"},
                        {"/until-close", u"GET", "to the end"},
                        {"/gzip", u"GET", "not gzip"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    Plan setup = To(c.path);
    setup.verb = c.verb;
    const Outcome out = Exchange(setup);
    ASSERT_TRUE(out.received);
    EXPECT_FALSE(out.dataFailed);
    EXPECT_EQ(out.body, c.body);
    EXPECT_LT(out.seconds, 3.0);
  }
}

// ---------------------------------------------------------------------------------------------

TEST_F(CurlBackend, FailuresSurfaceInTheCallWinHttpFailsIn) {
  server.Route("/drop", Reply{.after = Reply::After::kClose});
  server.Route("/garbage",
               Reply{.bytes = "SPLAT 200 OK\r\n\r\nbody", .after = Reply::After::kClose});
  server.Route("/cut", Reply{.bytes = "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nfirst part",
                             .after = Reply::After::kClose});
  server.Route("/cut-chunked", Reply{.bytes = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n"
                                              "\r\n4\r\nsome\r\n",
                                     .after = Reply::After::kClose});
  struct Case {
    std::string name;
    Plan setup;
    bool sent;
    bool received;
    std::string body;
    bool dataFailed;
  };
  Plan refused = To("/");
  refused.port = ClosedPort();
  Plan unnamed = To("/");
  unnamed.host = u"no such host";
  const Case cases[] = {
      {"nothing listens", refused, false, false, "", false},
      {"name that cannot be resolved", unnamed, false, false, "", false},
      {"closed without a response", To("/drop"), true, false, "", false},
      {"no status line", To("/garbage"), true, false, "", false},
      {"closed inside the body", To("/cut"), true, true, "first part", true},
      {"closed inside a chunked body", To("/cut-chunked"), true, true, "some", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome out = Exchange(c.setup);
    EXPECT_EQ(out.sent, c.sent);
    EXPECT_EQ(out.received, c.received);
    EXPECT_EQ(out.body, c.body);
    EXPECT_EQ(out.dataFailed, c.dataFailed);
  }
}

TEST_F(CurlBackend, ASilentServerEndsTheWaitAfterTheTimeout) {
  server.Route("/silent", Reply{.after = Reply::After::kHold});
  server.Route("/silent-body", Reply{.bytes = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nhalf",
                                     .after = Reply::After::kHold});
  for (const std::string path : {"/silent", "/silent-body"}) {
    SCOPED_TRACE(path);
    Plan setup = To(path);
    setup.timeoutMs = 400;
    // A body makes no difference to where the wait ends.
    if (path == "/silent") {
      setup.verb = u"POST";
      setup.body = std::string(300000, 'p');
    }
    const Outcome out = Exchange(setup);
    EXPECT_TRUE(out.sent);
    EXPECT_EQ(out.received, path == "/silent-body");
    EXPECT_EQ(out.dataFailed, path == "/silent-body");
    EXPECT_EQ(out.body, path == "/silent-body" ? "half" : "");
    EXPECT_GE(out.seconds, 0.35);
    EXPECT_LT(out.seconds, 3.0);
  }
}

TEST_F(CurlBackend, TimeoutsBoundSilenceNotTheWholeTransfer) {
  // Eight pieces 150 ms apart: twice the timeout in all, never silent for as long as it.
  Reply slow{.bytes = "HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\n", .pauseMs = 150};
  for (int i = 0; i < 8; ++i) slow.chunks.push_back(std::string(1, static_cast<char>('1' + i)));
  server.Route("/slow", slow);
  Plan setup = To("/slow");
  setup.timeoutMs = 600;
  const Outcome out = Exchange(setup);
  ASSERT_TRUE(out.received);
  EXPECT_FALSE(out.dataFailed);
  EXPECT_EQ(out.body, "12345678");
  EXPECT_GT(out.seconds, 1.0);
}

// ---------------------------------------------------------------------------------------------

TEST_F(CurlBackend, RedirectsCarryCookiesOnlyWithCookiesOn) {
  server.Route("/start", test_support::HttpReply(302, "Found",
                                                 "Set-Cookie: a=1; Path=/\r\nLocation: /middle\r\n",
                                                 "redirect body"));
  server.Route("/middle",
               test_support::HttpReply(
                   303, "See Other",
                   "Set-Cookie: b=2; Path=/\r\nLocation: " + server.Url("/end") + "\r\n", ""));
  server.Route("/end", test_support::ReflectReply);
  for (const bool cookies : {true, false}) {
    SCOPED_TRACE(cookies ? "cookies on" : "cookies off");
    Plan setup = To("/start");
    setup.cookies = cookies;
    setup.headers = u"Cookie: mine=0";
    const std::size_t before = server.Requests().size();
    const Outcome out = Exchange(setup);
    ASSERT_TRUE(out.received);
    const std::vector<ReceivedRequest> all = server.Requests();
    ASSERT_EQ(all.size() - before, 3u);
    EXPECT_EQ(all[before].Header("Cookie"), "mine=0");
    const ReceivedRequest& last = all.back();
    EXPECT_EQ(last.requestLine, "GET /end HTTP/1.1");
    // One Cookie line, whatever the engine adds to the caller's.
    const auto lines = last.HeaderLines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.rfind("Cookie:", 0) == 0; }),
              1);
    if (cookies) {
      EXPECT_THAT(last.Header("Cookie"), HasSubstr("a=1"));
      EXPECT_THAT(last.Header("Cookie"), HasSubstr("b=2"));
      EXPECT_THAT(last.Header("Cookie"), HasSubstr("mine=0"));
    } else {
      EXPECT_EQ(last.Header("Cookie"), "mine=0");
    }
    EXPECT_EQ(StatusLine(out), "HTTP/1.1 200 OK");
    EXPECT_THAT(Narrow(out.headers), Not(HasSubstr("Set-Cookie")));
    EXPECT_EQ(out.body, last.requestLine + "\r\n" + last.headerBlock);
  }
}

TEST_F(CurlBackend, DisabledRedirectsStopAtTheRedirect) {
  server.Route("/start", test_support::HttpReply(302, "Found", "Location: /next\r\n", "moved"));
  Plan setup = To("/start");
  setup.noRedirect = true;
  const Outcome out = Exchange(setup);
  ASSERT_TRUE(out.received);
  EXPECT_EQ(StatusLine(out), "HTTP/1.1 302 Found");
  EXPECT_THAT(Narrow(out.headers), HasSubstr("\r\nLocation: /next\r\n"));
  EXPECT_EQ(out.body, "moved");
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(CurlBackend, RedirectsChangeTheVerbAsWinHttpDoes) {
  server.Route("/to", test_support::ReflectReply);
  struct Case {
    int status;
    std::string verb;  // at the target
    std::string body;
  };
  const Case cases[] = {{301, "GET", ""},
                        {302, "GET", ""},
                        {303, "GET", ""},
                        {307, "POST", "k=v"},
                        {308, "POST", "k=v"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    const std::string from = "/from" + std::to_string(c.status);
    server.Route(from, test_support::HttpReply(c.status, "Moved", "Location: /to\r\n", ""));
    Plan setup = To(from);
    setup.verb = u"POST";
    setup.body = "k=v";
    const Outcome out = Exchange(setup);
    ASSERT_TRUE(out.received);
    const ReceivedRequest last = server.Requests().back();
    EXPECT_EQ(last.path, "/to");
    EXPECT_EQ(last.method, c.verb);
    EXPECT_EQ(last.body, c.body);
    EXPECT_EQ(last.HasHeader("Content-Length"), !c.body.empty());
  }
}

TEST_F(CurlBackend, TenRedirectsAreFollowedAndAnEleventhFails) {
  for (int i = 0; i < 11; ++i) {
    server.Route("/hop" + std::to_string(i),
                 test_support::HttpReply(302, "Found",
                                         "Location: /hop" + std::to_string(i + 1) + "\r\n", ""));
  }
  server.Route("/hop11", test_support::HttpReply(200, "OK", "", "arrived"));
  const Outcome ten = Exchange(To("/hop1"));
  ASSERT_TRUE(ten.received);
  EXPECT_EQ(ten.body, "arrived");
  const Outcome eleven = Exchange(To("/hop0"));
  EXPECT_TRUE(eleven.sent);
  EXPECT_FALSE(eleven.received);
}

TEST_F(CurlBackend, RedirectsWinHttpWouldNotFollowAreTheAnswer) {
  server.Route("/ftp",
               test_support::HttpReply(302, "Found", "Location: ftp://127.0.0.1/x\r\n", ""));
  server.Route("/none", test_support::HttpReply(302, "Found", "", "no location"));
  server.Route("/300", test_support::HttpReply(300, "Multiple Choices", "Location: /x\r\n", ""));
  for (const std::string path : {"/ftp", "/none", "/300"}) {
    SCOPED_TRACE(path);
    const std::size_t before = server.Requests().size();
    const Outcome out = Exchange(To(path));
    ASSERT_TRUE(out.received);
    EXPECT_THAT(StatusLine(out), HasSubstr(path == "/300" ? "300" : "302"));
    EXPECT_EQ(server.Requests().size(), before + 1);
  }
}

// ---------------------------------------------------------------------------------------------

TEST_F(CurlBackend, BasicCredentialsGoToTheirServerOnly) {
  LoopbackServer other;
  other.Fallback(test_support::ReflectReply);
  server.Route("/here", test_support::ReflectReply);
  server.Route("/away", test_support::HttpReply(302, "Found",
                                                "Location: " + other.Url("/there") + "\r\n", ""));
  Plan setup = To("/here");
  setup.user = u"user";
  setup.password = u"pa:ss";
  ASSERT_TRUE(Exchange(setup).received);
  EXPECT_EQ(server.Requests().back().Header("Authorization"), "Basic dXNlcjpwYTpzcw==");

  setup.object = u"/away";
  ASSERT_TRUE(Exchange(setup).received);
  EXPECT_EQ(server.Requests().back().Header("Authorization"), "Basic dXNlcjpwYTpzcw==");
  ASSERT_EQ(other.Requests().size(), 1u);
  EXPECT_FALSE(other.Requests().back().HasHeader("Authorization"));
}

// A forward proxy that records what it is asked and passes plain requests on to the origin.
Reply Forward(const ReceivedRequest& request) {
  const std::string prefix = "http://";
  if (request.target.rfind(prefix, 0) != 0) {
    return test_support::HttpReply(403, "Forbidden", "", "not through here");
  }
  const std::size_t slash = request.target.find('/', prefix.size());
  const std::string hostPort = request.target.substr(prefix.size(), slash - prefix.size());
  const int port = std::stoi(hostPort.substr(hostPort.find(':') + 1));
  std::string out = request.method + " " + request.target.substr(slash) + " HTTP/1.1\r\n";
  for (const std::string& line : request.HeaderLines()) {
    if (line.rfind("Proxy-", 0) != 0) out += line + "\r\n";
  }
  out += "Connection: close\r\n\r\n" + request.body;
  std::string response;
  test_support::RawRequest(port, out, &response);
  return Reply{.bytes = response, .after = Reply::After::kClose};
}

TEST_F(CurlBackend, NamedProxyServesPlainRequestsInAbsoluteForm) {
  LoopbackServer proxy;
  proxy.Fallback(Forward);
  server.Route("/via", test_support::ReflectReply);
  Plan setup = To("/via?x=1");
  setup.accessType = kAccessTypeNamedProxy;
  setup.proxy = U("http=" + proxy.HostPort());
  setup.proxyUser = u"pu";
  setup.proxyPassword = u"pp";
  setup.user = u"su";
  setup.password = u"sp";
  const Outcome out = Exchange(setup);
  ASSERT_TRUE(out.received);
  EXPECT_EQ(StatusLine(out), "HTTP/1.1 200 OK");

  ASSERT_EQ(proxy.Requests().size(), 1u);
  const ReceivedRequest asked = proxy.Requests().front();
  EXPECT_EQ(asked.requestLine, "GET " + server.Url("/via?x=1") + " HTTP/1.1");
  EXPECT_EQ(asked.Header("Proxy-Authorization"), "Basic cHU6cHA=");
  EXPECT_EQ(asked.Header("Authorization"), "Basic c3U6c3A=");
  EXPECT_THAT(asked.HeaderLines(),
              UnorderedElementsAre("Host: " + server.HostPort(), "Authorization: Basic c3U6c3A=",
                                   "Proxy-Authorization: Basic cHU6cHA="));
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests().front().target, "/via?x=1");
}

TEST_F(CurlBackend, ProxyListChoosesByScheme) {
  LoopbackServer proxy;
  proxy.Fallback(Forward);
  // "http=" serves http only: an https request goes straight to the server, which speaks no
  // TLS, so sending fails there and the proxy hears nothing.
  Plan direct = To("/");
  direct.secure = true;
  direct.accessType = kAccessTypeNamedProxy;
  direct.proxy = U("http=" + proxy.HostPort());
  direct.timeoutMs = 500;  // the server never answers the TLS greeting
  EXPECT_FALSE(Exchange(direct).sent);
  EXPECT_TRUE(proxy.Requests().empty());
  EXPECT_EQ(server.ConnectionCount(), 1);

  // A list without a scheme serves https too, through a tunnel. The proxy refuses it here, and
  // its answer is the response, as WinHttp hands it back.
  Plan tunnel = direct;
  tunnel.proxy = U(proxy.HostPort());
  tunnel.proxyUser = u"pu";
  tunnel.proxyPassword = u"pp";
  const Outcome refused = Exchange(tunnel);
  EXPECT_TRUE(refused.sent);
  ASSERT_TRUE(refused.received);
  EXPECT_EQ(StatusLine(refused), "HTTP/1.1 403 Forbidden");
  EXPECT_THAT(Narrow(refused.headers), ::testing::EndsWith("\r\n\r\n"));
  EXPECT_EQ(refused.body, "");
  EXPECT_FALSE(refused.dataFailed);
  ASSERT_EQ(proxy.Requests().size(), 1u);
  EXPECT_EQ(proxy.Requests().front().requestLine, "CONNECT " + server.HostPort() + " HTTP/1.1");
  EXPECT_THAT(
      proxy.Requests().front().HeaderLines(),
      UnorderedElementsAre("Host: " + server.HostPort(), "Proxy-Authorization: Basic cHU6cHA="));

  // A tunnel the proxy opens is no response: here nothing answers inside it, so the secure
  // handshake and with it the sending fail.
  LoopbackServer opener;
  opener.Fallback([](const ReceivedRequest&) {
    return Reply{.bytes = "HTTP/1.1 200 Connection established\r\n\r\n",
                 .after = Reply::After::kHold};
  });
  Plan opened = direct;
  opened.proxy = U(opener.HostPort());
  const Outcome silent = Exchange(opened);
  EXPECT_FALSE(silent.sent);
  EXPECT_EQ(opener.Requests().size(), 1u);
}

// ---------------------------------------------------------------------------------------------

TEST_F(CurlBackend, HandlesAreCheckedAndClosedInAnyOrder) {
  HttpApi& api = PlatformHttpApi();
  HttpHandle session = api.Open(nullptr, kAccessTypeNoProxy, u"", nullptr, 0);
  HttpHandle connection = api.Connect(session, u"127.0.0.1", 80, 0);
  HttpHandle request = api.OpenRequest(connection, u"GET", u"/", nullptr, nullptr, nullptr, 0);
  ASSERT_NE(request, nullptr);
  // A handle of the wrong kind is refused.
  EXPECT_EQ(api.Connect(request, u"h", 80, 0), nullptr);
  EXPECT_EQ(api.OpenRequest(session, u"GET", u"/", nullptr, nullptr, nullptr, 0), nullptr);
  EXPECT_FALSE(api.SendRequest(connection, nullptr, 0, nullptr, 0, 0, 0));
  EXPECT_FALSE(api.ReceiveResponse(request, nullptr));  // nothing sent yet
  std::uint32_t value = 1;
  EXPECT_FALSE(api.SetOption(request, kOptionDisableFeature, &value, 2));
  EXPECT_FALSE(api.SetOption(request, 12345, &value, sizeof value));
  EXPECT_FALSE(api.SetCredentials(request, kAuthTargetServer, 2, u"u", u"p", nullptr));
  EXPECT_FALSE(api.SetTimeouts(session, -2, 0, 0, 0));
  // The session may go first; the others stay usable handles until closed.
  EXPECT_TRUE(api.CloseHandle(session));
  EXPECT_TRUE(api.CloseHandle(request));
  EXPECT_FALSE(api.CloseHandle(request));
  EXPECT_TRUE(api.CloseHandle(connection));
  int unrelated = 0;
  EXPECT_FALSE(api.CloseHandle(&unrelated));
  EXPECT_FALSE(api.CloseHandle(nullptr));
}

TEST_F(CurlBackend, AbandonedRequestsReleaseEverything) {
  server.Route("/silent", Reply{.after = Reply::After::kHold});
  server.Route("/big", Reply{.bytes = "HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\n",
                             .generatedBytes = 1000000});
  HttpApi& api = PlatformHttpApi();
  for (const std::u16string object : {u"/silent", u"/big"}) {
    HttpHandle session = api.Open(nullptr, kAccessTypeNoProxy, u"", nullptr, 0);
    HttpHandle connection =
        api.Connect(session, u"127.0.0.1", static_cast<std::uint16_t>(server.port()), 0);
    HttpHandle request =
        api.OpenRequest(connection, u"GET", object.c_str(), nullptr, nullptr, nullptr, 0);
    ASSERT_TRUE(api.AddRequestHeaders(request, u"X-A: 1", 6, kAddRequestFlagAdd));
    ASSERT_TRUE(api.SendRequest(request, nullptr, 0, nullptr, 0, 0, 0));
    if (object == u"/big") {
      ASSERT_TRUE(api.ReceiveResponse(request, nullptr));
      std::uint32_t available = 0;
      ASSERT_TRUE(api.QueryDataAvailable(request, &available));
      EXPECT_GT(available, 0u);
    }
    EXPECT_GT(CurlBackendLiveObjects(), 3);
    api.CloseHandle(request);
    api.CloseHandle(connection);
    api.CloseHandle(session);
  }
}

TEST_F(CurlBackend, RequestsRunOnSeveralThreadsAtOnce) {
  server.Fallback(test_support::ReflectReply);
  std::vector<std::thread> threads;
  std::vector<int> succeeded(6, 0);
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 10; ++i) {
        Plan setup = To("/t" + std::to_string(t) + "/" + std::to_string(i));
        const Outcome out = Exchange(setup);
        if (out.received && out.body.rfind("GET " + Narrow(setup.object) + " ", 0) == 0) {
          ++succeeded[t];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_THAT(succeeded, ::testing::Each(10));
}

}  // namespace
}  // namespace korvanel
