#include "text/markers.h"

#include <gtest/gtest.h>

#include <climits>

#include "text/code_page.h"

namespace korvanel {
namespace {

struct MarkerCase {
  std::string_view text;
  std::string_view marker;
  int startPosition;
  bool ignoreCase;
  std::string_view want;
};

TEST(TextRightOf, BackwardByDefaultForwardForNegativeStarts) {
  const MarkerCase cases[] = {
      {"a=b", "=", 0, false, "b"},
      {"a=b=", "=", 0, false, "b="},  // the = at the last byte is not seen
      {"x:1;x:2", "x:", 0, false, "2"},
      {"x:1;x:2", "x:", -1, false, "1;x:2"},
      {"x:1;x:2", "x:", -2, false, "2"},
      {"x:1;x:2", "x:", -3, false, "2"},
      {"x:1;x:2", "x:", 3, false, "1;x:2"},  // bytes 1 .. 3 only
      {"x:1;x:2", "x:", 6, false, ""},
      {"key=V", "KEY", -1, true, "=V"},
      {"key=V", "KEY", -1, false, ""},
      {"a", "a", 0, false, ""},  // a one-byte text leaves no room below its last byte
      {"ab", "", 0, false, "ab"},
      {"", "", 0, false, ""},
      {"", "a", -1, true, ""},
      {"a=b", "=", INT_MAX, false, ""},
      {"a=b", "=", INT_MIN, false, ""},
      // A marker hidden as the second byte of a character is not an occurrence.
      {"a=\x81=b", "=", 0, false, "\x81=b"},
      {"\xB0:x:y", ":", -1, false, "y"},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    const MarkerCase& c = cases[i];
    EXPECT_EQ(TextRightOf(c.text, c.marker, c.startPosition, c.ignoreCase), c.want);
  }
  EXPECT_EQ(TextRightOf("Server: x\r\nDate: y", "Date: "), "y");
}

TEST(TextLeftOf, ForwardByDefaultBackwardForNegativeStarts) {
  const MarkerCase cases[] = {
      {"a;b;c", ";", 0, false, "a"},
      {"a;b;c", ";", -1, false, "a;b"},
      {"a;b;c", ";", -2, false, "a"},  // bytes 1 .. 2
      {"a;b;c", ";", -3, false, ""},   // byte 1 only
      {"a;b;c", ";", 3, false, "a;b"},
      {"a;b;c", ";", 5, false, ""},
      {"a;b;", ";", -1, false, "a"},  // the ; at the last byte is not seen
      {"a KEY b", "key", 0, true, "a "},
      {"a KEY b", "key", 0, false, ""},
      {"abc", "", 0, false, ""},
      {"", "", 0, false, ""},
      {"a;b", ";", INT_MIN, false, ""},
      {"a;b", ";", INT_MAX, false, ""},
      {"\x81;a;b", ";", 0, false, "\x81;a"},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    const MarkerCase& c = cases[i];
    EXPECT_EQ(TextLeftOf(c.text, c.marker, c.startPosition, c.ignoreCase), c.want);
  }
  EXPECT_EQ(TextLeftOf("Content-Type: text/html; charset=gbk", ": "), "Content-Type");
}

TEST(TextBetween, FirstStartMarkerThenFirstEndMarkerAfterIt) {
  struct Case {
    std::string_view text, startMarker, endMarker;
    int startPosition;
    bool ignoreCase;
    std::string_view want;
  };
  const Case cases[] = {
      {"[one][two]", "[", "]", 0, false, "one"},
      {"[one][two]", "[", "]", 2, false, "two"},
      {"[one][two]", "[", "]", -5, false, "one"},
      {"[one][two]", "[", "]", 7, false, ""},
      {"ab", "b", "c", 0, false, ""},   // the search for c would start beyond the text
      {"abc", "b", "c", 0, false, ""},  // the end marker follows directly
      {"abc", "x", "c", 0, false, ""},
      {"abc", "a", "x", 0, false, ""},
      {"abc", "", "c", 0, false, "ab"},
      {"", "a", "b", 0, false, ""},
      {"<B>x</b>", "<b>", "</B>", 0, true, "x"},
      {"<B>x</b>", "<b>", "</B>", 0, false, ""},
      {"Set-Cookie: sid=42; path=/", "Set-Cookie:", ";", 0, false, " sid=42"},
      // The end marker hidden as a second byte is passed over.
      {"[\xD6]x]", "[", "]", 0, false, "\xD6]x"},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    const Case& c = cases[i];
    EXPECT_EQ(TextBetween(c.text, c.startMarker, c.endMarker, c.startPosition, c.ignoreCase),
              c.want);
  }
}

TEST(TextBetween, QuoteTokenStandsForADoubleQuoteInMarkersOnly) {
  EXPECT_EQ(TextBetween("id=\"7\"", ConcatText({"id=", kQuoteToken}), kQuoteToken), "7");
  EXPECT_EQ(
      TextBetween("<h3 class=\"layui-timeline-title\">2024-05-01&nbsp;",
                  ConcatText({kQuoteToken, "layui-timeline-title", kQuoteToken, ">"}), "&nbsp;"),
      "2024-05-01");
  // The searched text keeps its own token: it is no double quote there.
  EXPECT_EQ(TextBetween(ConcatText({"a", kQuoteToken, "b\"c"}), "\"", "c"), "");
  EXPECT_EQ(TextBetween(ConcatText({"a", kQuoteToken, "b\"c\""}), "\"", "\""), "c");
}

TEST(TextBetween, QuoteTokenIsHashAndYinHaoInCodePage936) {
  // "#引号": '#', U+5F15, U+53F7.
  EXPECT_EQ(kQuoteToken, "#\xD2\xFD\xBA\xC5");
  EXPECT_EQ(AnsiToUnicode(kQuoteToken), (ByteSet{0x23, 0x00, 0x15, 0x5F, 0xF7, 0x53, 0x00, 0x00}));
}

}  // namespace
}  // namespace korvanel
