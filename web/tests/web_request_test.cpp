#include "web/web_request.h"

#include <gtest/gtest.h>

#include <climits>
#include <thread>

#include "text/code_page.h"
#include "web/message_pump.h"
#include "web/request_headers.h"
#include "web/tests/fake_http_api.h"

namespace korvanel {
namespace {

using Kind = FakeHttpApi::HandleKind;

// Code page 936 text from a UTF-16 literal, so the expected messages below are checked
// against the code-page layer rather than against a second copy of the same escapes.
Text Gbk(std::u16string_view text) {
  ByteSet bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return UnicodeToAnsi(bytes);
}

ByteSet Bytes(std::string_view text) { return ByteSet(text.begin(), text.end()); }

thread_local int t_pumpCount = 0;
void CountingPump() { ++t_pumpCount; }

// Installs a pump that counts the times WebRequest lets window messages through on this
// thread, and removes it again.
class PumpCounter {
 public:
  PumpCounter() {
    t_pumpCount = 0;
    SetMessagePump(&CountingPump);
  }
  ~PumpCounter() { SetMessagePump(nullptr); }
  int count() const { return t_pumpCount; }
};

// Caller variables holding values that a failing request must leave alone.
struct OutVariables {
  Text sendCookies;
  Text returnedCookies = "keep=returned";
  Text responseHeaders = "keep headers";
  Text redirectLocation = "/keep";
  Text statusText = "keep status";
  ByteSet responseBytes = Bytes("keep bytes");

  void Attach(WebRequestOptions& options) {
    options.sendCookies = &sendCookies;
    options.returnedCookies = &returnedCookies;
    options.responseHeaders = &responseHeaders;
    options.redirectLocation = &redirectLocation;
    options.statusText = &statusText;
    options.responseBytes = &responseBytes;
  }
};

constexpr std::string_view kUrl = "http://example.com/track?id=1";

void ExpectAllClosedInOrder(const FakeHttpApi& api) {
  EXPECT_EQ(api.OpenHandleCount(), 0);
  std::vector<Kind> expected;
  if (api.HandlesCreated() >= 3) expected.push_back(Kind::kRequest);
  if (api.HandlesCreated() >= 2) expected.push_back(Kind::kConnection);
  if (api.HandlesCreated() >= 1) expected.push_back(Kind::kSession);
  EXPECT_EQ(api.closeOrder, expected);
  EXPECT_TRUE(api.misuse.empty()) << testing::PrintToString(api.misuse);
}

TEST(WebRequest, FullPathCallsTheHttpLayerInOrderWithWinHttpArguments) {
  FakeHttpApi api;
  api.bodyChunks = {Bytes("<html>"), Bytes("hello</html>")};
  api.SetRawHeaders("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n");
  OutVariables out;
  WebRequestOptions options;
  out.Attach(options);

  EXPECT_EQ(WebRequest(api, kUrl, options), "<html>hello</html>");

  using C = HttpCall;
  const std::vector<HttpCall> expectedCalls = {C::kCheckPlatform,
                                               C::kCrackUrl,
                                               C::kOpen,
                                               C::kSetTimeouts,
                                               C::kConnect,
                                               C::kOpenRequest,
                                               C::kSetOption,
                                               C::kSetOption,
                                               C::kAddRequestHeaders,
                                               C::kSendRequest,
                                               C::kReceiveResponse,
                                               C::kQueryDataAvailable,
                                               C::kReadData,
                                               C::kQueryDataAvailable,
                                               C::kReadData,
                                               C::kQueryDataAvailable,
                                               C::kQueryHeaders,
                                               C::kQueryHeaders,
                                               C::kCloseHandle,
                                               C::kCloseHandle,
                                               C::kCloseHandle};
  EXPECT_EQ(api.calls, expectedCalls);

  EXPECT_EQ(api.crackedAddress, u"http://example.com/track?id=1");
  EXPECT_EQ(api.crackLength, 29u);
  EXPECT_EQ(api.crackFlags, 0u);
  ASSERT_TRUE(api.open);
  EXPECT_TRUE(api.open->agentNull);
  EXPECT_EQ(api.open->accessType, 1u);
  EXPECT_EQ(api.open->proxyName, std::u16string());
  EXPECT_TRUE(api.open->proxyBypassNull);
  EXPECT_EQ(api.open->flags, 0u);
  ASSERT_TRUE(api.connect);
  EXPECT_EQ(api.connect->serverName, u"example.com");
  EXPECT_EQ(api.connect->port, 80);
  EXPECT_EQ(api.connect->reserved, 0u);
  ASSERT_TRUE(api.openRequest);
  EXPECT_EQ(api.openRequest->verb, u"GET");
  EXPECT_EQ(api.openRequest->objectName, u"/track?id=1");
  EXPECT_TRUE(api.openRequest->versionNull);
  EXPECT_TRUE(api.openRequest->referrerNull);
  EXPECT_TRUE(api.openRequest->acceptTypesNull);
  EXPECT_EQ(api.openRequest->flags, 0u);
  EXPECT_TRUE(api.credentials.empty());

  ASSERT_EQ(api.headers.size(), 1u);
  EXPECT_EQ(api.headers[0].headers, AnsiToUtf16(BuildRequestHeaderBlock("", 0, "")));
  EXPECT_EQ(api.headers[0].length, api.headers[0].headers.size());
  EXPECT_TRUE(api.headers[0].terminated);
  EXPECT_EQ(api.headers[0].modifiers, 0x20000000u);

  ASSERT_TRUE(api.send);
  EXPECT_TRUE(api.send->headersNull);
  EXPECT_EQ(api.send->headersLength, 0u);
  EXPECT_TRUE(api.send->bodyNull);
  EXPECT_EQ(api.send->optionalLength, 0u);
  EXPECT_EQ(api.send->totalLength, 0u);
  EXPECT_EQ(api.send->context, 0u);

  ASSERT_EQ(api.headerQueries.size(), 2u);
  for (const auto& query : api.headerQueries) {
    EXPECT_EQ(query.infoLevel, 22u);
    EXPECT_TRUE(query.nameNull);
    EXPECT_EQ(query.index, 0u);
  }
  EXPECT_TRUE(api.headerQueries[0].bufferNull);
  EXPECT_EQ(api.headerQueries[0].lengthIn, 0u);
  EXPECT_FALSE(api.headerQueries[1].bufferNull);

  EXPECT_EQ(out.statusText, "200 OK");
  EXPECT_EQ(out.responseHeaders, "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n");
  EXPECT_EQ(out.responseBytes, Bytes("<html>hello</html>"));
  EXPECT_EQ(out.redirectLocation, "/keep");  // no Location line
  EXPECT_EQ(out.returnedCookies, "keep=returned");
  ExpectAllClosedInOrder(api);
}

TEST(WebRequest, WorksWithoutAnyOutParameters) {
  FakeHttpApi api;
  api.bodyChunks = {Bytes("page")};
  EXPECT_EQ(WebRequest(api, kUrl), "page");
  ExpectAllClosedInOrder(api);
}

struct FailureCase {
  const char* name;
  HttpCall call;
  int occurrence;
  std::function<void(WebRequestOptions&)> setUp;
  Text message;
  int pumpCalls;  // 1 for way out A, 0 for way out B and after 700
};

TEST(WebRequest, EveryFailureStoresItsMessageAndLeavesTheRightWay) {
  const auto none = [](WebRequestOptions&) {};
  const FailureCase cases[] = {
      {"platform", HttpCall::kCheckPlatform, 1, none, Gbk(u"700 当前系统不支持WinHttp服务!"), 0},
      {"crack", HttpCall::kCrackUrl, 1, none, Gbk(u"701 解析URL地址失败!"), 1},
      {"session", HttpCall::kOpen, 1, none, Gbk(u"702 创建WinHttp会话失败!"), 1},
      {"timeouts", HttpCall::kSetTimeouts, 1, none, Gbk(u"705 设置超时时间失败!"), 1},
      {"connect", HttpCall::kConnect, 1, none, Gbk(u"703 创建WinHttp连接失败!"), 1},
      {"request", HttpCall::kOpenRequest, 1, none, Gbk(u"704 创建WinHttp请求失败!"), 1},
      {"server credentials", HttpCall::kSetCredentials, 1,
       [](WebRequestOptions& o) {
         o.userName = "u";
         o.password = "p";
       },
       Gbk(u"707 设置代理凭证失败!"), 0},
      {"proxy credentials", HttpCall::kSetCredentials, 1,
       [](WebRequestOptions& o) {
         o.proxyUserName = "u";
         o.proxyPassword = "p";
       },
       Gbk(u"707 设置代理凭证失败!"), 0},
      {"proxy credentials after server ones", HttpCall::kSetCredentials, 2,
       [](WebRequestOptions& o) {
         o.userName = o.proxyUserName = "u";
         o.password = o.proxyPassword = "p";
       },
       Gbk(u"707 设置代理凭证失败!"), 0},
      {"security flags", HttpCall::kSetOption, 1, none, Gbk(u"忽略错误/证书错误  失败！"), 0},
      {"cookie option off", HttpCall::kSetOption, 2, none, Gbk(u"708 禁止自动设置Cookies失败!"), 0},
      {"cookie option on", HttpCall::kSetOption, 2,
       [](WebRequestOptions& o) { *o.sendCookies = "a=1"; }, Gbk(u"708 禁止自动设置Cookies失败!"),
       0},
      {"redirect option", HttpCall::kSetOption, 3,
       [](WebRequestOptions& o) { o.noRedirect = true; }, Gbk(u"709 重定向设置失败!"), 0},
      {"headers", HttpCall::kAddRequestHeaders, 1, none, Gbk(u"710 设置协议头失败!"), 1},
      {"send", HttpCall::kSendRequest, 1, none, Gbk(u"711 发送请求失败!"), 1},
      {"receive", HttpCall::kReceiveResponse, 1, none, Gbk(u"712 服务器未响应!"), 1},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeHttpApi api;
    api.bodyChunks = {Bytes("never read")};
    api.FailCall(c.call, c.occurrence);
    OutVariables out;
    WebRequestOptions options;
    out.Attach(options);
    c.setUp(options);
    const Text sendCookiesOnEntry = out.sendCookies;
    PumpCounter pump;

    EXPECT_EQ(WebRequest(api, kUrl, options), "");

    EXPECT_EQ(out.statusText, c.message);
    EXPECT_EQ(pump.count(), c.pumpCalls);
    // The failing call is the last one before the handles are closed.
    std::vector<HttpCall> beforeClosing = api.calls;
    while (!beforeClosing.empty() && beforeClosing.back() == HttpCall::kCloseHandle) {
      beforeClosing.pop_back();
    }
    ASSERT_FALSE(beforeClosing.empty());
    EXPECT_EQ(beforeClosing.back(), c.call);
    EXPECT_EQ(api.CallCount(c.call), c.occurrence);
    ExpectAllClosedInOrder(api);
    EXPECT_EQ(out.sendCookies, sendCookiesOnEntry);
    EXPECT_EQ(out.returnedCookies, "keep=returned");
    EXPECT_EQ(out.responseHeaders, "keep headers");
    EXPECT_EQ(out.redirectLocation, "/keep");
    EXPECT_EQ(out.responseBytes, Bytes("keep bytes"));
  }
}

TEST(WebRequest, MessagesAreStoredByteForByte) {
  const struct {
    HttpCall call;
    int occurrence;
    std::string_view bytes;
  } cases[] = {
      // "忽略错误/证书错误  失败！": two spaces and a full-width exclamation mark.
      {HttpCall::kSetOption, 1,
       "\xBA\xF6\xC2\xD4\xB4\xED\xCE\xF3/\xD6\xA4\xCA\xE9\xB4\xED\xCE\xF3  "
       "\xCA\xA7\xB0\xDC\xA3\xA1"},
      // "711 发送请求失败!"
      {HttpCall::kSendRequest, 1, "711 \xB7\xA2\xCB\xCD\xC7\xEB\xC7\xF3\xCA\xA7\xB0\xDC!"},
      // "708 禁止自动设置Cookies失败!"
      {HttpCall::kSetOption, 2,
       "708 \xBD\xFB\xD6\xB9\xD7\xD4\xB6\xAF\xC9\xE8\xD6\xC3"
       "Cookies\xCA\xA7\xB0\xDC!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(HttpCallName(c.call));
    FakeHttpApi api;
    api.FailCall(c.call, c.occurrence);
    Text status;
    WebRequest(api, kUrl, {.statusText = &status});
    EXPECT_EQ(status, c.bytes);
  }
}

TEST(WebRequest, BadAddressesFailWith701) {
  for (std::string_view url : {"", "example.com/track", "ftp://example.com/", "http://",
                               "http://:80/", "http://example.com:99999/"}) {
    SCOPED_TRACE(testing::Message() << "url: " << url);
    FakeHttpApi api;
    Text status;
    EXPECT_EQ(WebRequest(api, url, {.statusText = &status}), "");
    EXPECT_EQ(status, Gbk(u"701 解析URL地址失败!"));
    EXPECT_EQ(api.HandlesCreated(), 0);
  }
}

TEST(WebRequest, ObjectNamePortAndSecureFlagComeFromTheAddress) {
  const struct {
    std::string_view url;
    std::u16string_view objectName;
    int port;
    std::uint32_t flags;
  } cases[] = {
      {"http://example.com", u"/", 80, 0},
      {"http://example.com/", u"/", 80, 0},
      {"http://example.com/a/b.php?x=1&y=2#top", u"/a/b.php?x=1&y=2#top", 80, 0},
      {"http://example.com?x=1", u"/", 80, 0},
      {"https://example.com/p", u"/p", 443, 0x00800000},
      {"HTTPS://example.com:8443/p", u"/p", 8443, 0x00800000},
      {"http://user:pw@example.com:8080/p", u"/p", 8080, 0},
      {"http://example.com/\xD6\xD0\xCE\xC4", u"/\u4E2D\u6587", 80, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "url: " << c.url);
    FakeHttpApi api;
    WebRequest(api, c.url);
    ASSERT_TRUE(api.openRequest);
    EXPECT_EQ(api.openRequest->objectName, c.objectName);
    EXPECT_EQ(api.openRequest->flags, c.flags);
    ASSERT_TRUE(api.connect);
    EXPECT_EQ(api.connect->port, c.port);
    EXPECT_EQ(api.connect->serverName, u"example.com");
  }
}

TEST(WebRequest, ProxyListDependsOnTheScheme) {
  const struct {
    std::string_view url;
    std::string_view proxy;
    std::uint32_t accessType;
    std::u16string_view proxyList;
  } cases[] = {
      {"http://example.com/", "", 1, u""},
      {"https://example.com/", "", 1, u""},
      {"http://example.com/", "127.0.0.1:8080", 3, u"http=127.0.0.1:8080"},
      {"https://example.com/", "127.0.0.1:8080", 3, u"127.0.0.1:8080"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.url << " via " << c.proxy);
    FakeHttpApi api;
    WebRequest(api, c.url, {.proxy = Text(c.proxy)});
    ASSERT_TRUE(api.open);
    EXPECT_EQ(api.open->accessType, c.accessType);
    ASSERT_TRUE(api.open->proxyName);
    EXPECT_EQ(*api.open->proxyName, c.proxyList);
  }
}

TEST(WebRequest, TimeoutIsSetOnTheSessionForAllFourPhases) {
  const struct {
    int seconds;
    int milliseconds;
  } cases[] = {
      {0, 30000}, {-1, 30000},           {INT_MIN, 30000},   {5, 5000},
      {1, 1000},  {2147483, 2147483000}, {2147484, INT_MAX}, {INT_MAX, INT_MAX},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.seconds << " s");
    FakeHttpApi api;
    WebRequest(api, kUrl, {.timeoutSeconds = c.seconds});
    ASSERT_TRUE(api.timeouts);
    ASSERT_TRUE(api.open);
    EXPECT_EQ(api.timeouts->resolve, c.milliseconds);
    EXPECT_EQ(api.timeouts->connect, c.milliseconds);
    EXPECT_EQ(api.timeouts->send, c.milliseconds);
    EXPECT_EQ(api.timeouts->receive, c.milliseconds);
  }
}

TEST(WebRequest, MethodPicksTheVerb) {
  const struct {
    int method;
    std::u16string_view verb;
  } cases[] = {
      {0, u"GET"},     {1, u"POST"},   {2, u"HEAD"},      {3, u"PUT"},
      {4, u"OPTIONS"}, {5, u"DELETE"}, {6, u"TRACE"},     {7, u"CONNECT"},
      {8, u"GET"},     {-1, u"GET"},   {INT_MAX, u"GET"}, {INT_MIN, u"GET"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "method " << c.method);
    FakeHttpApi api;
    WebRequest(api, kUrl, {.method = c.method});
    ASSERT_TRUE(api.openRequest);
    EXPECT_EQ(api.openRequest->verb, c.verb);
  }
}

TEST(WebRequest, CredentialsOnlyForCompletePairs) {
  struct Expected {
    std::uint32_t target;
    std::u16string_view user, password;
  };
  const struct {
    std::string_view user, password, proxyUser, proxyPassword;
    std::vector<Expected> expected;
  } cases[] = {
      {"", "", "", "", {}},
      {"u", "", "", "", {}},
      {"", "p", "", "", {}},
      {"", "", "pu", "", {}},
      {"", "", "", "pp", {}},
      {"u", "p", "", "", {{0, u"u", u"p"}}},
      {"", "", "pu", "pp", {{1, u"pu", u"pp"}}},
      {"u", "p", "pu", "pp", {{0, u"u", u"p"}, {1, u"pu", u"pp"}}},
      {"\xD3\xC3\xBB\xA7", "\xC3\xDC", "", "", {{0, u"\u7528\u6237", u"\u5BC6"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.user << "/" << c.password << " " << c.proxyUser << "/" << c.proxyPassword);
    FakeHttpApi api;
    WebRequest(api, kUrl,
               {.userName = Text(c.user),
                .password = Text(c.password),
                .proxyUserName = Text(c.proxyUser),
                .proxyPassword = Text(c.proxyPassword)});
    ASSERT_EQ(api.credentials.size(), c.expected.size());
    for (std::size_t i = 0; i < c.expected.size(); ++i) {
      EXPECT_EQ(api.credentials[i].target, c.expected[i].target);
      EXPECT_EQ(api.credentials[i].scheme, 1u);
      EXPECT_EQ(api.credentials[i].userName, c.expected[i].user);
      EXPECT_EQ(api.credentials[i].password, c.expected[i].password);
      EXPECT_TRUE(api.credentials[i].paramsNull);
    }
    ASSERT_TRUE(api.openRequest);
  }
}

TEST(WebRequest, RequestOptionsInTheirOrder) {
  struct Option {
    std::uint32_t option, value;
  };
  const struct {
    std::string_view sendCookies;
    bool noRedirect;
    std::vector<Option> expected;
  } cases[] = {
      {"", false, {{31, 0x3300}, {63, 1}}},
      {"a=1", false, {{31, 0x3300}, {79, 1}}},
      {"", true, {{31, 0x3300}, {63, 1}, {63, 2}}},
      {"a=1", true, {{31, 0x3300}, {79, 1}, {63, 2}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "cookies '" << c.sendCookies << "' noRedirect " << c.noRedirect);
    FakeHttpApi api;
    Text cookies(c.sendCookies);
    WebRequest(api, kUrl, {.sendCookies = &cookies, .noRedirect = c.noRedirect});
    ASSERT_EQ(api.options.size(), c.expected.size());
    for (std::size_t i = 0; i < c.expected.size(); ++i) {
      EXPECT_EQ(api.options[i].option, c.expected[i].option);
      EXPECT_EQ(api.options[i].value, c.expected[i].value);
      EXPECT_EQ(api.options[i].length, 4u);
    }
  }
}

TEST(WebRequest, HeaderBlockGoesToTheHttpLayerInOneCall) {
  const struct {
    std::string_view extraHeaders;
    int method;
    std::string_view sendCookies;
    bool addDefaultHeaders;
    bool normalizeHeaderCase;
  } cases[] = {
      {"", 0, "", true, true},
      {"", 1, "", true, true},
      {"x-token: abc\r\nconnection: keep-alive", 1, "a=1; b=2", true, true},
      {"X-Name: \xD6\xD0\xCE\xC4", 0, "", false, false},
      {"", 0, "a=1", false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "extra: " << c.extraHeaders);
    FakeHttpApi api;
    Text cookies(c.sendCookies);
    WebRequest(api, kUrl,
               {.method = c.method,
                .sendCookies = &cookies,
                .extraHeaders = Text(c.extraHeaders),
                .addDefaultHeaders = c.addDefaultHeaders,
                .normalizeHeaderCase = c.normalizeHeaderCase});
    ASSERT_EQ(api.headers.size(), 1u);
    const Text block = BuildRequestHeaderBlock(c.extraHeaders, c.method, c.sendCookies,
                                               c.addDefaultHeaders, c.normalizeHeaderCase);
    EXPECT_EQ(api.headers[0].headers, AnsiToUtf16(block));
    EXPECT_EQ(api.headers[0].length, AnsiToUtf16(block).size());
    EXPECT_TRUE(api.headers[0].terminated);
    EXPECT_EQ(api.headers[0].modifiers, 0x20000000u);
  }
  // The double-byte value arrives as its UTF-16 characters.
  FakeHttpApi api;
  WebRequest(api, kUrl, {.extraHeaders = "X-Name: \xD6\xD0\xCE\xC4", .addDefaultHeaders = false});
  ASSERT_EQ(api.headers.size(), 1u);
  EXPECT_EQ(api.headers[0].headers, u"X-Name: \u4E2D\u6587");
}

TEST(WebRequest, EmptyHeaderBlockIsNotAddedAndTheRequestStillGoesOut) {
  FakeHttpApi api;
  api.bodyChunks = {Bytes("ok")};
  Text status;
  EXPECT_EQ(WebRequest(api, kUrl, {.statusText = &status, .addDefaultHeaders = false}), "ok");
  EXPECT_EQ(api.CallCount(HttpCall::kAddRequestHeaders), 0);
  EXPECT_EQ(api.CallCount(HttpCall::kSendRequest), 1);
  EXPECT_EQ(status, "200 OK");
}

TEST(WebRequest, BodyChoice) {
  const ByteSet withNul = {'a', 0, 'b'};
  const struct {
    const char* name;
    int method;
    std::string_view postText;
    ByteSet postBytes;
    std::optional<ByteSet> sent;  // nullopt: no body at all
  } cases[] = {
      {"none", 0, "", {}, std::nullopt},
      {"text, even with GET", 0, "a=1&b=\xD6\xD0", {}, Bytes("a=1&b=\xD6\xD0")},
      {"text with POST", 1, "a=1", {}, Bytes("a=1")},
      {"bytes win over text", 1, "text", Bytes("bytes"), Bytes("bytes")},
      {"bytes with a zero byte are sent whole", 3, "", withNul, withNul},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeHttpApi api;
    WebRequest(api, kUrl,
               {.method = c.method, .postText = Text(c.postText), .postBytes = c.postBytes});
    ASSERT_TRUE(api.send);
    if (c.sent) {
      EXPECT_FALSE(api.send->bodyNull);
      EXPECT_EQ(api.send->body, *c.sent);
      EXPECT_EQ(api.send->optionalLength, c.sent->size());
      EXPECT_EQ(api.send->totalLength, c.sent->size());
    } else {
      EXPECT_TRUE(api.send->bodyNull);
      EXPECT_EQ(api.send->optionalLength, 0u);
      EXPECT_EQ(api.send->totalLength, 0u);
    }
  }
}

TEST(WebRequest, StatusTextIsTheStatusLineFromItsTenthByte) {
  const struct {
    std::string_view rawHeaders;
    std::string_view status;
  } cases[] = {
      {"HTTP/1.1 200 OK\r\n\r\n", "200 OK"},
      {"HTTP/1.1 404 Not Found\r\nServer: x\r\n\r\n", "404 Not Found"},
      {"HTTP/1.0 302 Found\r\n", "302 Found"},
      {"HTTP/1.1 200 OK", ""},
      {"HTTP/1.1 \r\n", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.rawHeaders));
    FakeHttpApi api;
    api.SetRawHeaders(c.rawHeaders);
    api.bodyChunks = {Bytes("body")};
    Text status = "entry";
    Text headers;
    // Error statuses are answers like any other: the body still comes back.
    EXPECT_EQ(WebRequest(api, kUrl, {.responseHeaders = &headers, .statusText = &status}), "body");
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(headers, c.rawHeaders);
  }
}

TEST(WebRequest, HeaderQueryFailureSkipsTheResponseButClosesEverything) {
  FakeHttpApi api;
  api.bodyChunks = {Bytes("body")};
  api.FailCall(HttpCall::kQueryHeaders, 2);
  OutVariables out;
  WebRequestOptions options;
  out.Attach(options);
  out.sendCookies = "a=1";
  PumpCounter pump;
  EXPECT_EQ(WebRequest(api, kUrl, options), "");
  EXPECT_EQ(out.statusText, "keep status");
  EXPECT_EQ(out.sendCookies, "a=1");
  EXPECT_EQ(out.returnedCookies, "keep=returned");
  EXPECT_EQ(out.responseHeaders, "keep headers");
  EXPECT_EQ(out.redirectLocation, "/keep");
  EXPECT_EQ(out.responseBytes, Bytes("keep bytes"));
  EXPECT_EQ(pump.count(), 1);  // only on the way out
  ExpectAllClosedInOrder(api);
}

TEST(WebRequest, ReadFailureKeepsThePartialBody) {
  // A later status line replaces the 713 message; without headers the message stays.
  for (bool headersFail : {false, true}) {
    SCOPED_TRACE(headersFail ? "header query fails" : "headers arrive");
    FakeHttpApi api;
    api.bodyChunks = {Bytes("first "), Bytes("second "), Bytes("third")};
    api.SetRawHeaders("HTTP/1.1 200 OK\r\n\r\n");
    api.FailCall(HttpCall::kReadData, 3);
    if (headersFail) api.FailCall(HttpCall::kQueryHeaders, 2);
    Text status;
    ByteSet bytes;
    const Text result = WebRequest(api, kUrl, {.statusText = &status, .responseBytes = &bytes});
    EXPECT_EQ(api.CallCount(HttpCall::kReadData), 3);
    if (headersFail) {
      EXPECT_EQ(result, "");
      EXPECT_EQ(status, Gbk(u"713 读取数据失败!"));
      EXPECT_TRUE(bytes.empty());
    } else {
      EXPECT_EQ(result, "first second ");
      EXPECT_EQ(status, "200 OK");
      EXPECT_EQ(bytes, Bytes("first second "));
    }
    ExpectAllClosedInOrder(api);
  }
}

TEST(WebRequest, BodyEndsSilentlyWhenAvailabilityCannotBeQueried) {
  FakeHttpApi api;
  api.bodyChunks = {Bytes("first "), Bytes("second")};
  api.FailCall(HttpCall::kQueryDataAvailable, 2);
  Text status;
  EXPECT_EQ(WebRequest(api, kUrl, {.statusText = &status}), "first ");
  EXPECT_EQ(status, "200 OK");
}

TEST(WebRequest, BodyBytesAreKeptExactly) {
  const struct {
    const char* name;
    std::vector<ByteSet> chunks;
    std::uint32_t maxRead;
    ByteSet bytes;
    Text result;
  } cases[] = {
      {"empty", {}, UINT32_MAX, {}, ""},
      {"a zero byte ends the text, not the bytes",
       {{'a', 'b', 0, 'c'}, {'d'}},
       UINT32_MAX,
       {'a', 'b', 0, 'c', 'd'},
       "ab"},
      {"short reads", {Bytes("0123456789")}, 3, Bytes("0123456789"), "0123456789"},
      {"double-byte text",
       {Bytes("\xD6"), Bytes("\xD0\xCE\xC4")},
       UINT32_MAX,
       Bytes("\xD6\xD0\xCE\xC4"),
       "\xD6\xD0\xCE\xC4"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeHttpApi api;
    api.bodyChunks = c.chunks;
    api.maxRead = c.maxRead;
    api.SetRawHeaders("HTTP/1.1 204 No Content\r\n\r\n");
    Text status, headers;
    ByteSet bytes = Bytes("entry");
    EXPECT_EQ(
        WebRequest(api, kUrl,
                   {.responseHeaders = &headers, .statusText = &status, .responseBytes = &bytes}),
        c.result);
    EXPECT_EQ(bytes, c.bytes);
    EXPECT_EQ(status, "204 No Content");
    EXPECT_EQ(headers, "HTTP/1.1 204 No Content\r\n\r\n");
  }
}

TEST(WebRequest, LargeBodyInManyChunks) {
  FakeHttpApi api;
  ByteSet expected;
  for (int i = 0; i < 5000; ++i) {
    ByteSet chunk(1 + i % 700, static_cast<std::uint8_t>('a' + i % 26));
    expected.insert(expected.end(), chunk.begin(), chunk.end());
    api.bodyChunks.push_back(std::move(chunk));
  }
  ByteSet bytes;
  const Text result = WebRequest(api, kUrl, {.responseBytes = &bytes});
  EXPECT_EQ(bytes, expected);
  EXPECT_EQ(result.size(), expected.size());
}

TEST(WebRequest, SetCookieAndLocationLines) {
  const struct {
    const char* name;
    std::string_view headerLines;  // after the status line
    std::string_view returnedOnEntry;
    std::string_view returnedCookies;
    std::string_view redirectLocation;
  } cases[] = {
      {"two cookies", "Set-Cookie: a=1; path=/\r\nSet-Cookie: b=2\r\n", "", "a=1; b=2", "/keep"},
      {"no semicolon: the whole value, trimmed", "Set-Cookie:   c=3  \r\n", "", "c=3", "/keep"},
      {"attributes dropped", "Set-Cookie: sid=x y; HttpOnly; Secure\r\n", "", "sid=x y", "/keep"},
      {"lower-case name not collected", "set-cookie: a=1\r\n", "", "", "/keep"},
      {"no space after the colon not collected", "Set-Cookie:a=1\r\n", "", "", "/keep"},
      {"location in any case", "location: /next\r\n", "", "", "/next"},
      {"the last Location line wins", "Location: /one\r\nLOCATION: /two\r\n", "", "", "/two"},
      {"empty location", "Location: \r\n", "", "", ""},
      {"location needs its space", "Location:/x\r\n", "", "", "/keep"},
      {"cookies appended to the entry value", "Set-Cookie: b=2\r\n", "a=1", "a=1; b=2", "/keep"},
      {"entry value ending in a separator", "Set-Cookie: b=2\r\n", "a=1; ", "a=1; b=2", "/keep"},
      {"entry value ending in a semicolon", "Set-Cookie: b=2\r\n", "a=1;", "a=1; b=2", "/keep"},
      {"entry value kept without new cookies", "X: y\r\n", "a=1", "a=1", "/keep"},
      // An empty first value already leaves "; " after the entry text: no second separator.
      {"empty first value after the entry value", "Set-Cookie: ; path=/\r\nSet-Cookie: b=2\r\n",
       "a=1", "a=1; b=2", "/keep"},
      {"only an empty value after the entry value", "Set-Cookie: ; path=/\r\n", "a=1", "a=1",
       "/keep"},
      {"double-byte value", "Set-Cookie: n=\xD6\xD0\xCE\xC4; path=/\r\n", "", "n=\xD6\xD0\xCE\xC4",
       "/keep"},
      {"repeats and deletions kept without a merge",
       "Set-Cookie: a=1\r\nSet-Cookie: a=1\r\n"
       "Set-Cookie: b=deleted\r\n",
       "", "a=1; a=1; b=deleted", "/keep"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeHttpApi api;
    api.SetRawHeaders(ConcatText({"HTTP/1.1 302 Found\r\n", c.headerLines, "\r\n"}));
    Text returned(c.returnedOnEntry);
    Text location = "/keep";
    WebRequest(api, kUrl, {.returnedCookies = &returned, .redirectLocation = &location});
    EXPECT_EQ(returned, c.returnedCookies);
    EXPECT_EQ(location, c.redirectLocation);
  }
}

TEST(WebRequest, MergeRunsOnlyWithCookiesSentAndMergingOn) {
  const struct {
    const char* name;
    std::string_view sendCookies;
    bool merge;
    std::string_view sendAfter;
    std::string_view returnedAfter;
  } cases[] = {
      {"merged into both", "a=1", true, "b=2; a=1", "b=2; a=1"},
      {"merging off", "a=1", false, "a=1", "b=2"},
      {"nothing sent", "", true, "", "b=2"},
      {"deleted and replaced", "b=1; c=3; d=4", true, "b=2; c=3", "b=2; c=3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeHttpApi api;
    api.SetRawHeaders(
        "HTTP/1.1 200 OK\r\nSet-Cookie: b=2; path=/\r\nSet-Cookie: d=deleted\r\n\r\n");
    Text send(c.sendCookies);
    Text returned;
    WebRequest(api, kUrl,
               {.sendCookies = &send, .returnedCookies = &returned, .mergeCookies = c.merge});
    EXPECT_EQ(send, c.sendAfter);
    if (c.sendCookies.empty() || !c.merge) {
      // Without a merge the collected text keeps the deleted item.
      EXPECT_EQ(returned, ConcatText({c.returnedAfter, "; d=deleted"}));
    } else {
      EXPECT_EQ(returned, c.returnedAfter);
    }
  }
}

TEST(WebRequest, PendingMessagesOnlyAtTheNamedPoints) {
  FakeHttpApi api;
  api.SetRawHeaders("HTTP/1.1 200 OK\r\nA: 1\r\nB: 2\r\n\r\n");  // four lines, one empty
  api.bodyChunks = {Bytes("a"), Bytes("b"), Bytes("c")};
  PumpCounter pump;
  std::vector<std::pair<HttpCall, int>> pumpAtCall;
  api.onCall = [&](HttpCall call) { pumpAtCall.emplace_back(call, pump.count()); };
  WebRequest(api, kUrl);
  // Never while the request is prepared, sent, waited for or read; the handles are closed
  // after the last time.
  for (const auto& [call, count] : pumpAtCall) {
    SCOPED_TRACE(HttpCallName(call));
    EXPECT_EQ(count, call == HttpCall::kCloseHandle ? 6 : 0);
  }
  // One per header line, one for the decoding search, one on the way out.
  EXPECT_EQ(pump.count(), 4 + 1 + 1);
}

// A pump that, the first time it runs, makes a whole request of its own, as an event handler
// of the window may do while a batch query waits in WebRequest.
thread_local Text t_nestedResult;
thread_local bool t_nestedDone = false;
void NestingPump() {
  if (t_nestedDone) return;
  t_nestedDone = true;
  FakeHttpApi inner;
  inner.bodyChunks = {Bytes("inner page")};
  t_nestedResult = WebRequest(inner, "http://inner.example/");
}

TEST(WebRequest, AnotherRequestMayRunInsideThePump) {
  t_nestedDone = false;
  t_nestedResult.clear();
  SetMessagePump(&NestingPump);
  FakeHttpApi outer;
  outer.bodyChunks = {Bytes("outer page")};
  Text status;
  const Text result = WebRequest(outer, kUrl, {.statusText = &status});
  SetMessagePump(nullptr);
  EXPECT_EQ(result, "outer page");
  EXPECT_EQ(status, "200 OK");
  EXPECT_EQ(t_nestedResult, "inner page");
  ExpectAllClosedInOrder(outer);
}

TEST(WebRequest, AFailureThenASuccessWithTheSameVariables) {
  Text status;
  Text headers = "entry";
  {
    FakeHttpApi failing;
    failing.FailCall(HttpCall::kSendRequest);
    EXPECT_EQ(WebRequest(failing, kUrl, {.responseHeaders = &headers, .statusText = &status}), "");
    EXPECT_EQ(headers, "entry");
  }
  FakeHttpApi api;
  api.bodyChunks = {Bytes("fine")};
  EXPECT_EQ(WebRequest(api, kUrl, {.responseHeaders = &headers, .statusText = &status}), "fine");
  EXPECT_EQ(status, "200 OK");
}

TEST(WebRequest, StatusTextPointsNowhereWhenTheCallerGivesNoVariable) {
  FakeHttpApi api;
  api.FailCall(HttpCall::kSendRequest);
  EXPECT_EQ(WebRequest(api, kUrl), "");
  ExpectAllClosedInOrder(api);
}

TEST(WebRequest, ResponseTextDecoding) {
  const Text utf8Page = "<meta charset='utf-8'>\xE4\xB8\xAD\xE6\x96\x87";  // 中文
  const Text gbkText = "\xD6\xD0\xCE\xC4";
  const Text farDeclaration = ConcatText({Text(1020, ' '), "<meta charset=utf-8>\xE4\xB8\xAD"});
  // The sample ends inside "iso-8859-15", so the page reads as iso-8859-1: its byte 0xA4 is
  // the currency sign there, not the euro sign.
  const Text cutDeclaration = ConcatText({Text(1024 - 24, ' '), "<meta charset=iso-8859-15>\xA4"});
  const struct {
    const char* name;
    Text body;
    std::string_view contentType;
    Text result;
  } cases[] = {
      {"utf-8 declared", utf8Page, "", ConcatText({"<meta charset='utf-8'>", gbkText})},
      {"gb2312 declared: not converted",
       ConcatText(
           {"<meta http-equiv='Content-Type' content='text/html; charset=gb2312'>", gbkText}),
       "",
       ConcatText(
           {"<meta http-equiv='Content-Type' content='text/html; charset=gb2312'>", gbkText})},
      {"GBK in capitals goes through the converter with the same text",
       ConcatText({"<META CHARSET=GBK>", gbkText}), "",
       ConcatText({"<META CHARSET=GBK>", gbkText})},
      {"unknown name keeps the page", ConcatText({"<meta charset=x-klingon>", gbkText}), "",
       ConcatText({"<meta charset=x-klingon>", gbkText})},
      {"declaration beyond the first 1024 bytes", farDeclaration, "", farDeclaration},
      {"name cut off at byte 1024", cutDeclaration, "",
       ConcatText({Text(1024 - 24, ' '), "<meta charset=iso-8859-15>\xA1\xE8"})},
      {"space and quote before the name", "<meta charset= 'utf-8'>\xE4\xB8\xAD", "",
       "<meta charset= 'utf-8'>\xE4\xB8\xAD"},
      {"charset on a later line than meta", "<meta\ncharset=utf-8>\xE4\xB8\xAD", "",
       "<meta\ncharset=utf-8>\xE4\xB8\xAD"},
      {"content type header only", "\xE4\xB8\xAD", "text/html; charset=utf-8", "\xE4\xB8\xAD"},
      {"leftmost declaration decides",
       ConcatText({"<meta charset=gbk><meta charset=utf-8>", gbkText}), "",
       ConcatText({"<meta charset=gbk><meta charset=utf-8>", gbkText})},
      {"big5", "<meta charset=big5>\xA4\xA4\xA4\xE5", "",
       ConcatText({"<meta charset=big5>", gbkText})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeHttpApi api;
    api.bodyChunks = {Bytes(c.body)};
    api.SetRawHeaders(
        c.contentType.empty()
            ? Text("HTTP/1.1 200 OK\r\n\r\n")
            : ConcatText({"HTTP/1.1 200 OK\r\nContent-Type: ", c.contentType, "\r\n\r\n"}));
    ByteSet bytes;
    EXPECT_EQ(WebRequest(api, kUrl, {.responseBytes = &bytes}), c.result);
    EXPECT_EQ(bytes, Bytes(c.body));
  }
}

TEST(WebRequest, ZeroByteEndsTheConvertedTextToo) {
  // The zero byte ends the text that is searched; the converter gets the whole body, and
  // its text ends at the same character, while responseBytes keeps every byte.
  FakeHttpApi api;
  ByteSet body = Bytes("<meta charset=utf-8>\xE4\xB8\xAD");
  body.push_back(0);
  body.push_back('x');
  api.bodyChunks = {body};
  ByteSet bytes;
  EXPECT_EQ(WebRequest(api, kUrl, {.responseBytes = &bytes}), "<meta charset=utf-8>\xD6\xD0");
  EXPECT_EQ(bytes, body);
}

TEST(WebRequest, CallsFromSeveralThreadsAtOnceShareNothing) {
  constexpr int kThreads = 6;
  constexpr int kCallsPerThread = 40;
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < kCallsPerThread; ++i) {
        FakeHttpApi api;
        const Text page =
            ConcatText({"<meta charset=utf-8>page ", std::to_string(t), "/", std::to_string(i)});
        api.bodyChunks = {Bytes(page)};
        api.SetRawHeaders(
            ConcatText({"HTTP/1.1 200 OK\r\nSet-Cookie: t=", std::to_string(t), "\r\n\r\n"}));
        Text send = ConcatText({"i=", std::to_string(i)});
        Text returned;
        if (WebRequest(api, kUrl, {.sendCookies = &send, .returnedCookies = &returned}) != page ||
            returned != ConcatText({"t=", std::to_string(t), "; i=", std::to_string(i)}) ||
            api.OpenHandleCount() != 0) {
          ++failures[t];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
}

}  // namespace
}  // namespace korvanel
