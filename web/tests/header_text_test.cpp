#include "web/header_text.h"

#include <gtest/gtest.h>

namespace korvanel {
namespace {

struct Case {
  std::string_view input;
  std::string_view expected;
};

TEST(NormalizeHeaderNames, UpperCasesWordStartsOfNamesOnly) {
  const Case cases[] = {
      {"", ""},
      {"no colon here\r\nnor here", ""},
      {"\r\n", ""},
      {"accept: */*\r\n", "Accept: */*"},
      {"a: 1\r\nb: 2", "A: 1\r\nB: 2"},
      {"cache-control:no-cache", "Cache-Control:no-cache"},
      {"host: example:80", "Host: example:80"},
      {"x-: v", "X-: v"},
      {"x--: v", "X--: v"},
      {"x---: v", "X---: v"},
      {"x--y: v", "X--Y: v"},
      {"-x: v", "-X: v"},
      {"-: v", "-: v"},
      {"--: v", "--: v"},
      {": v", ": v"},
      {" accept: x", " accept: x"},
      {"1st-part: x", "1st-Part: x"},
      {"ACCEPT-language: zh-cn", "ACCEPT-Language: zh-cn"},
      {"x-y: keep-this lower-case value", "X-Y: keep-this lower-case value"},
      {"a: 1\r\n\r\nbad line\r\nb: 2\r\n", "A: 1\r\nB: 2"},
      {"a:", "A:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "input: " << c.input);
    EXPECT_EQ(NormalizeHeaderNames(c.input), c.expected);
  }
}

TEST(NormalizeHeaderNames, WorkedExample) {
  EXPECT_EQ(NormalizeHeaderNames("content-type: text/html\r\nx-requested-with: XMLHttpRequest\r\n"
                                 "ACCEPT-language: zh-cn\r\nno colon here\r\n"),
            "Content-Type: text/html\r\nX-Requested-With: XMLHttpRequest\r\n"
            "ACCEPT-Language: zh-cn");
}

TEST(NormalizeHeaderNames, TrailBytesNeverActAsColonOrHyphen) {
  // 0x81 0x3A and 0x81 0x2D are double-byte characters whose trail byte equals ":" or "-".
  const Case cases[] = {
      // The character is kept whole and the letter after it is not a word start.
      {"x\x81-a: v", "X\x81-a: v"},
      // The name runs past the trail ":" to the real colon, so "-c" is still in the name.
      {"a\x81:b-c: v", "A\x81:b-C: v"},
      // A line whose only ":" is a trail byte holds no colon.
      {"a\x81:b\r\nc: d", "C: d"},
      // A double-byte first byte is left alone, and so is a double-byte word start.
      {"\xD6\xD0-\xCE\xC4: \xD6\xD0", "\xD6\xD0-\xCE\xC4: \xD6\xD0"},
      {"x-\xCE\xC4-y: v", "X-\xCE\xC4-Y: v"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "input: " << testing::PrintToString(c.input));
    EXPECT_EQ(NormalizeHeaderNames(c.input), c.expected);
  }
}

TEST(CapitalizeFirst, ChangesOnlyALeadingLowerCaseLetter) {
  const Case cases[] = {
      {"", ""},     {"a", "A"},   {"accept", "Accept"}, {"Accept", "Accept"},     {"aBC", "ABC"},
      {"1a", "1a"}, {" a", " a"}, {"\xE1x", "\xE1x"},   {"\xD6\xD0", "\xD6\xD0"}, {"{a", "{a"},
      {"`a", "`a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "input: " << testing::PrintToString(c.input));
    EXPECT_EQ(CapitalizeFirst(c.input), c.expected);
  }
}

TEST(FindHeaderValue, PrefixMatchOfTheFirstLineDecides) {
  struct ValueCase {
    std::string_view block;
    std::string_view name;
    std::string_view expected;
  };
  const ValueCase cases[] = {
      {"Accept: */*\r\nConnection: keep-alive", "Connection", "keep-alive"},
      {"connection: close", "Connection", ""},
      {"Accept: */*", "Connection", ""},
      {"", "Connection", ""},
      {"Connection:keep-alive", "Connection", ""},
      {"Connections: x\r\nConnection: keep-alive", "Connection", ""},
      {"Connection: close\r\nConnection: keep-alive", "Connection", "close"},
      {"Conn", "Connection", ""},
      {"Connection: keep-alive\r\n", "Connection", "keep-alive"},
      {"Host: a: b", "Host", "a: b"},
      {"X-\xD6\xD0: \xCE\xC4", "X-\xD6\xD0", "\xCE\xC4"},
  };
  for (const ValueCase& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "block: " << testing::PrintToString(c.block) << " name: " << c.name);
    EXPECT_EQ(FindHeaderValue(c.block, c.name), c.expected);
  }
}

}  // namespace
}  // namespace korvanel
