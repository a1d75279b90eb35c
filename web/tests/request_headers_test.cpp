#include "web/request_headers.h"

#include <gtest/gtest.h>

namespace korvanel {
namespace {

constexpr std::string_view kUserAgent =
    "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)\r\n";
constexpr std::string_view kAccept = "Accept: text/html, application/xhtml+xml, */*\r\n";
constexpr std::string_view kAcceptEncoding = "Accept-Encoding: gbk, GB2312\r\n";
constexpr std::string_view kAcceptLanguage = "Accept-Language: zh-cn\r\n";
constexpr std::string_view kContentType = "Content-Type: application/x-www-form-urlencoded\r\n";
constexpr std::string_view kCacheControl = "Cache-Control: no-cache\r\n";

Text Join(std::initializer_list<std::string_view> pieces) { return ConcatText(pieces); }

// The default lines of a GET after normalising: the last CR LF is gone.
Text NormalisedGetDefaults() {
  const Text block = Join({kUserAgent, kAccept, kAcceptEncoding, kAcceptLanguage, kCacheControl});
  return block.substr(0, block.size() - 2);
}

TEST(BuildRequestHeaderBlock, DefaultLinesInTheirOrder) {
  const Text raw = Join({kUserAgent, kAccept, kAcceptEncoding, kAcceptLanguage, kCacheControl});
  EXPECT_EQ(BuildRequestHeaderBlock("", 0, "", true, false), raw);
  EXPECT_EQ(BuildRequestHeaderBlock("", 0, ""), NormalisedGetDefaults());

  const Text post =
      Join({kUserAgent, kAccept, kAcceptEncoding, kAcceptLanguage, kContentType, kCacheControl});
  EXPECT_EQ(BuildRequestHeaderBlock("", 1, "", true, false), post);
  for (int method : {-1, 0, 2, 3, 4, 5, 6, 7, 8}) {
    SCOPED_TRACE(testing::Message() << "method " << method);
    EXPECT_EQ(BuildRequestHeaderBlock("", method, "", true, false), raw);
  }
}

TEST(BuildRequestHeaderBlock, ExtraLinesSuppressDefaultsByFoldedSubstring) {
  struct Case {
    std::string_view extra;
    int method;
    Text expected;  // with normalising off
  };
  const Case cases[] = {
      // Folded case: the caller's own line stands for the default.
      {"user-agent: X", 0,
       Join({"user-agent: X\r\n", kAccept, kAcceptEncoding, kAcceptLanguage, kCacheControl})},
      // No space after the colon: the key "User-Agent: " is not there.
      {"User-Agent:X", 0,
       Join({"User-Agent:X\r\n", kUserAgent, kAccept, kAcceptEncoding, kAcceptLanguage,
             kCacheControl})},
      // "Accept: " inside another name counts too.
      {"X-Accept: 1", 0,
       Join({"X-Accept: 1\r\n", kUserAgent, kAcceptEncoding, kAcceptLanguage, kCacheControl})},
      // "Content-Type:" needs no space.
      {"content-type:text/plain", 1,
       Join({"content-type:text/plain\r\n", kUserAgent, kAccept, kAcceptEncoding, kAcceptLanguage,
             kCacheControl})},
      // A caller's line ending in CR LF leaves an empty line.
      {"A: 1\r\n", 0,
       Join(
           {"A: 1\r\n\r\n", kUserAgent, kAccept, kAcceptEncoding, kAcceptLanguage, kCacheControl})},
      // "Accept-Language: " does not hold "Accept: ", so row 2 is still added.
      {"Accept-Language: en", 0,
       Join({"Accept-Language: en\r\n", kUserAgent, kAccept, kAcceptEncoding, kCacheControl})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "extra: " << c.extra);
    EXPECT_EQ(BuildRequestHeaderBlock(c.extra, c.method, "", true, false), c.expected);
  }
}

TEST(BuildRequestHeaderBlock, WithoutDefaults) {
  EXPECT_EQ(BuildRequestHeaderBlock("", 1, "", false, false), "");
  EXPECT_EQ(BuildRequestHeaderBlock("", 1, "", false, true), "");
  EXPECT_EQ(BuildRequestHeaderBlock("x-a: 1", 1, "", false, false), "x-a: 1\r\n");
  EXPECT_EQ(BuildRequestHeaderBlock("x-a: 1", 1, "", false, true), "X-A: 1");
  // The cookie line alone, after an empty line.
  EXPECT_EQ(BuildRequestHeaderBlock("", 0, "a=1", false, true), "\r\nCookie: a=1\r\n");
  EXPECT_EQ(BuildRequestHeaderBlock("", 0, "a=1", false, false), "\r\nCookie: a=1\r\n");
}

TEST(BuildRequestHeaderBlock, NormalisesNamesBeforeTheCookieLine) {
  EXPECT_EQ(BuildRequestHeaderBlock("x-requested-with: XMLHttpRequest\r\nbad line", 0,
                                    "sid=x; lang=zh", false, true),
            "X-Requested-With: XMLHttpRequest\r\nCookie: sid=x; lang=zh\r\n");
  // The caller's cookie text is not normalised.
  EXPECT_EQ(BuildRequestHeaderBlock("", 0, "cookie: a=b", false, true), "\r\ncookie: a=b\r\n");
}

TEST(BuildRequestHeaderBlock, KeepAliveLineRemovedOnlyWhenExactAndFollowedByCrLf) {
  struct Case {
    std::string_view extra;
    bool normalize;
    Text expected;
  };
  const Text defaults =
      Join({kUserAgent, kAccept, kAcceptEncoding, kAcceptLanguage, kCacheControl});
  const Case cases[] = {
      {"Connection: keep-alive", true, NormalisedGetDefaults()},
      {"connection: keep-alive", true, NormalisedGetDefaults()},
      {"Connection: keep-alive", false, defaults},
      {"Connection: close", true, Join({"Connection: close\r\n", NormalisedGetDefaults()})},
      {"Connection: Keep-Alive", true,
       Join({"Connection: Keep-Alive\r\n", NormalisedGetDefaults()})},
      // Lower case is not found by the exact "Connection" search when normalising is off.
      {"connection: keep-alive", false, Join({"connection: keep-alive\r\n", defaults})},
      // A "Connections" line ahead decides the value, so the keep-alive line stays.
      {"Connections: 1\r\nConnection: keep-alive", false,
       Join({"Connections: 1\r\nConnection: keep-alive\r\n", defaults})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "extra: " << c.extra << " normalize " << c.normalize);
    EXPECT_EQ(BuildRequestHeaderBlock(c.extra, 0, "", true, c.normalize), c.expected);
  }
  // As the block's last line after normalising it has no CR LF and stays.
  EXPECT_EQ(BuildRequestHeaderBlock("Connection: keep-alive", 0, "", false, true),
            "Connection: keep-alive");
  // Every occurrence goes.
  EXPECT_EQ(BuildRequestHeaderBlock("Connection: keep-alive\r\nConnection: keep-alive\r\nA: 1", 0,
                                    "", false, true),
            "A: 1");
}

TEST(BuildRequestHeaderBlock, CookieLineRules) {
  struct Case {
    std::string_view extra;
    std::string_view cookies;
    bool defaults;
    bool normalize;
    Text expected;
  };
  const Text raw = Join({kUserAgent, kAccept, kAcceptEncoding, kAcceptLanguage, kCacheControl});
  const Case cases[] = {
      {"", "a=1; b=2", true, true, Join({NormalisedGetDefaults(), "\r\nCookie: a=1; b=2\r\n"})},
      {"", "Cookie: a=1", true, true, Join({NormalisedGetDefaults(), "\r\nCookie: a=1\r\n"})},
      {"", "a=1; b=2", true, false, Join({raw, "\r\nCookie: a=1; b=2\r\n"})},
      {"", "Cookie: a=1", true, false, Join({raw, "\r\nCookie: a=1\r\n"})},
      // A cookie line of the caller's, or any "Cookie:" in the block, suppresses the line.
      {"Cookie: z=9", "a=1", false, true, "Cookie: z=9"},
      {"set-cookie: z=9", "a=1", false, false, "set-cookie: z=9\r\n"},
      {"COOKIE:z", "a=1", false, false, "COOKIE:z\r\n"},
      // Empty cookies add nothing.
      {"A: 1", "", false, false, "A: 1\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "extra: " << c.extra << " cookies: " << c.cookies);
    EXPECT_EQ(BuildRequestHeaderBlock(c.extra, 0, c.cookies, c.defaults, c.normalize), c.expected);
  }
}

TEST(BuildRequestHeaderBlock, DoubleByteTextPassesThroughWhole) {
  // 0x81 0x3A holds a trail ":" and 0x81 0x2D a trail "-"; neither may split the name.
  const std::string_view extra = "x-\xD6\xD0\x81-a: \xCE\xC4\x81:b";
  EXPECT_EQ(BuildRequestHeaderBlock(extra, 0, "\xC3\xFB=\xD6\xB5\x81;", false, true),
            "X-\xD6\xD0\x81-a: \xCE\xC4\x81:b\r\nCookie: \xC3\xFB=\xD6\xB5\x81;\r\n");
}

}  // namespace
}  // namespace korvanel
