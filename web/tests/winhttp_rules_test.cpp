#include "web/winhttp_rules.h"

#include <gtest/gtest.h>

#include "text/utf8.h"

namespace korvanel {
namespace {

TEST(CrackHttpUrl, SplitsAddressesAsWinHttpDoes) {
  struct Case {
    std::u16string_view url;
    int scheme;
    std::u16string_view host;
    int port;
    std::u16string_view path;
    std::u16string_view extra;
  };
  const Case cases[] = {
      {u"http://example.com", kSchemeHttp, u"example.com", 80, u"", u""},
      {u"HTTPS://Example.com/", kSchemeHttps, u"Example.com", 443, u"/", u""},
      {u"https://h:80/", kSchemeHttps, u"h", 80, u"/", u""},
      {u"http://h:/p", kSchemeHttp, u"h", 80, u"/p", u""},  // an empty port is the default
      {u"https://h:/", kSchemeHttps, u"h", 443, u"/", u""},
      {u"http://h?q=1", kSchemeHttp, u"h", 80, u"", u"?q=1"},
      {u"http://h#top", kSchemeHttp, u"h", 80, u"", u"#top"},
      {u"http://h/p#part?not", kSchemeHttp, u"h", 80, u"/p", u"#part?not"},
      {u"http://h/a%20b?c%2Fd", kSchemeHttp, u"h", 80, u"/a%20b", u"?c%2Fd"},
      {u"http://user:pass@h:81/p", kSchemeHttp, u"h", 81, u"/p", u""},
      {u"http://a@b@h/", kSchemeHttp, u"h", 80, u"/", u""},
      // An IPv6 literal keeps its brackets, with or without a port after it.
      {u"http://[::1]:8000/v6", kSchemeHttp, u"[::1]", 8000, u"/v6", u""},
      {u"http://[::1]/v6", kSchemeHttp, u"[::1]", 80, u"/v6", u""},
      {u"http://[::1]:/", kSchemeHttp, u"[::1]", 80, u"/", u""},
      {u"http://h/\u67e5?n=a b", kSchemeHttp, u"h", 80, u"/\u67e5", u"?n=a b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.url));
    UrlComponents parts;
    ASSERT_TRUE(CrackHttpUrl(c.url, &parts));
    EXPECT_EQ(parts.scheme, c.scheme);
    EXPECT_EQ(parts.hostName, c.host);
    EXPECT_EQ(parts.port, c.port);
    EXPECT_EQ(parts.urlPath, c.path);
    EXPECT_EQ(parts.extraInfo, c.extra);
  }
}

TEST(CrackHttpUrl, RefusesOtherSchemesAndBrokenAddresses) {
  for (std::u16string_view url :
       {u"", u"example.com/path", u"ftp://example.com/", u"file:///etc/passwd", u"http://",
        u"http:/h/p", u"http://:80/", u"http://user@/", u"http://h:port/", u"http://h:0/",
        u"http://h:70000/", u"http://h:123456/", u"http://[::1/", u"http://[]/",
        u"http://[::1]x/"}) {
    SCOPED_TRACE(Utf16ToUtf8(url));
    UrlComponents parts;
    EXPECT_FALSE(CrackHttpUrl(url, &parts));
  }
}

TEST(EscapeObjectName, EscapesWhatWinHttpEscapes) {
  struct Case {
    std::u16string_view name;
    std::uint32_t flags;
    std::string_view want;
  };
  const Case cases[] = {
      {u"/a b?x=1 2", 0, "/a%20b?x=1%202"},
      {u"/\u67e5", 0, "/%E6%9F%A5"},  // as UTF-8
      {u"/%41\x7F\t", 0, "/%41%7F%09"},
      {u"/%41", kFlagEscapePercent, "/%2541"},
      {u"/a b?x=1 2", kFlagEscapeDisableQuery, "/a%20b?x=1 2"},
      {u"/a b", kFlagEscapeDisable, "/a b"},
      {u"/\u00e9", kFlagNullCodePage, "/%E9"},  // each unit's low byte
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.want);
    EXPECT_EQ(EscapeObjectName(c.name, c.flags), c.want);
  }
  EXPECT_EQ(EscapeUnsafeBytes("/next page?\xD6\xD0"), "/next%20page?%D6%D0");
}

TEST(ChooseProxy, NamedListsBypassAndDefaults) {
  struct Case {
    std::uint32_t accessType;
    std::u16string_view list;
    std::u16string_view bypass;
    std::string_view host;
    bool secure;
    std::string_view url;
    bool environment;
  };
  const Case cases[] = {
      {kAccessTypeNoProxy, u"p:1", u"", "h.example", false, "", false},
      {kAccessTypeDefaultProxy, u"", u"", "h.example", false, "", true},
      {kAccessTypeAutomaticProxy, u"", u"", "h.example", true, "", true},
      {kAccessTypeNamedProxy, u"p:8080", u"", "h.example", true, "http://p:8080", false},
      {kAccessTypeNamedProxy, u"p", u"", "h.example", false, "http://p:80", false},
      {kAccessTypeNamedProxy, u"http://p:3128/", u"", "h.example", false, "http://p:3128", false},
      {kAccessTypeNamedProxy, u"[::1]", u"", "h.example", false, "http://[::1]:80", false},
      // A list for http only leaves https requests to go straight to the server.
      {kAccessTypeNamedProxy, u"http=p:1", u"", "h.example", false, "http://p:1", false},
      {kAccessTypeNamedProxy, u"http=p:1", u"", "h.example", true, "", false},
      {kAccessTypeNamedProxy, u"g:2; HTTPS=s:3", u"", "h.example", true, "http://s:3", false},
      {kAccessTypeNamedProxy, u"g:2; https=s:3", u"", "h.example", false, "http://g:2", false},
      // The bypass list: patterns without case, and "<local>" for names without a dot.
      {kAccessTypeNamedProxy, u"p:1", u"*.Example", "h.example", false, "", false},
      {kAccessTypeNamedProxy, u"p:1", u"other;h?.example", "h1.example", false, "", false},
      {kAccessTypeNamedProxy, u"p:1", u"h?.example", "h12.example", false, "http://p:1", false},
      {kAccessTypeNamedProxy, u"p:1", u"*", "anything", false, "", false},
      {kAccessTypeNamedProxy, u"p:1", u"<local>", "intranet", false, "", false},
      {kAccessTypeNamedProxy, u"p:1", u"<local>", "h.example", false, "http://p:1", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.list) + " / " + Utf16ToUtf8(c.bypass) + " / " + std::string(c.host));
    const ProxySettings settings{c.accessType, std::u16string(c.list), std::u16string(c.bypass)};
    const ProxyChoice choice = ChooseProxy(settings, c.host, c.secure);
    EXPECT_EQ(choice.url, c.url);
    EXPECT_EQ(choice.useEnvironment, c.environment);
  }
}

TEST(SplitHeaderBlock, KeepsHeaderLinesAndRefusesAnythingElse) {
  std::vector<std::string> lines;
  ASSERT_TRUE(SplitHeaderBlock("A: 1\r\n\r\nB:2\nC:\r\n \r\n", &lines));
  EXPECT_EQ(lines, (std::vector<std::string>{"A: 1", "B:2", "C:"}));
  for (std::string_view block :
       {"no colon\r\n", ": value\r\n", "Bad Name: 1\r\n", "A: 1\rB: 2\r\n", "\xD6\xD0: 1\r\n"}) {
    SCOPED_TRACE(block);
    lines = {"kept"};
    EXPECT_FALSE(SplitHeaderBlock(block, &lines));
    EXPECT_EQ(lines, std::vector<std::string>{"kept"});  // nothing is taken from a bad block
  }
  EXPECT_EQ(HeaderName("Set-Cookie: a=1"), "Set-Cookie");
  EXPECT_EQ(HeaderValue("X:  \t v w \t"), "v w");
  EXPECT_EQ(HeaderValue("X"), "");
  EXPECT_TRUE(HasHeader({"Accept: */*"}, "accept"));
}

TEST(ResponseHeaders, StatusCodeAndLocation) {
  EXPECT_EQ(StatusCodeOf("HTTP/1.1 302 Found"), 302);
  EXPECT_EQ(StatusCodeOf("HTTP/1.1 20"), 0);
  EXPECT_EQ(StatusCodeOf("HTTP/1.1 2x0 OK"), 0);
  EXPECT_EQ(StatusCodeOf(""), 0);
  const std::string_view block = "HTTP/1.1 301 Moved\r\nX: 1\r\nlocation:  /next \r\n\r\n";
  EXPECT_EQ(LocationOf(block), "/next");
  EXPECT_EQ(LocationOf("HTTP/1.1 200 OK\r\nLocationX: /no\r\n\r\n"), "");
}

TEST(Redirects, WhichAreFollowedAndHow) {
  for (int status : {301, 302, 303, 307, 308}) EXPECT_TRUE(IsFollowedRedirect(status)) << status;
  for (int status : {200, 300, 304, 305, 306, 309}) EXPECT_FALSE(IsFollowedRedirect(status));
  EXPECT_TRUE(MayRedirect(false, true));
  EXPECT_TRUE(MayRedirect(true, true));
  EXPECT_FALSE(MayRedirect(true, false));

  struct Case {
    std::string verb;
    int status;
    std::string_view wantVerb;
    bool wantBody;
  };
  const Case cases[] = {
      {"POST", 301, "GET", false}, {"POST", 302, "GET", false}, {"POST", 303, "GET", false},
      {"POST", 307, "POST", true}, {"POST", 308, "POST", true}, {"PUT", 303, "PUT", true},
  };
  for (Case c : cases) {
    SCOPED_TRACE(c.verb + " " + std::to_string(c.status));
    bool sendBody = true;
    MethodAfterRedirect(c.status, &c.verb, &sendBody);
    EXPECT_EQ(c.verb, c.wantVerb);
    EXPECT_EQ(sendBody, c.wantBody);
  }
}

}  // namespace
}  // namespace korvanel
