#include "web/charset_decode.h"

#include <gtest/gtest.h>

#include "web/charset_names.h"

namespace korvanel {
namespace {

ByteSet Bytes(std::string_view text) { return ByteSet(text.begin(), text.end()); }

// "中文" in code page 936.
constexpr std::string_view kZhongWen = "\xD6\xD0\xCE\xC4";

TEST(DecodeCharset, ConvertsDeclaredCharsetsToCodePage936) {
  const struct {
    std::string_view charset;
    ByteSet body;
    std::string_view text;
  } cases[] = {
      {"utf-8", Bytes("a\xE4\xB8\xAD\xE6\x96\x87z"), "a\xD6\xD0\xCE\xC4z"},
      {"UTF-8", Bytes("\xE4\xB8\xAD\xE6\x96\x87"), kZhongWen},
      {"Utf-8", Bytes("\xE4\xB8\xAD\xE6\x96\x87"), kZhongWen},
      {"big5", Bytes("\xA4\xA4\xA4\xE5"), kZhongWen},
      {"GBK", Bytes("\xD6\xD0\xCE\xC4"), kZhongWen},
      {"GB2312", Bytes("\xD6\xD0\xCE\xC4"), kZhongWen},
      {"shift_jis", Bytes("\x92\x86\x95\xB6"), kZhongWen},  // 中文 in Shift_JIS
      {"euc-kr", Bytes("\xF1\xE9"), "\xD6\xD0"},            // 中 in EUC-KR
      {"unicode", {0x2D, 0x4E, 0x87, 0x65}, kZhongWen},
      {"utf-16be", {0x4E, 0x2D, 0x65, 0x87}, kZhongWen},
      // Latin letters without a GBK form become "?"; those with one come through.
      {"iso-8859-1", Bytes("se\xF1or \xE0"), "se?or \xA8\xA4"},
      {"windows-1252", Bytes("\x80"), "\x80"},  // the euro sign, a single byte in GBK too
      {"us-ascii", Bytes("plain"), "plain"},
      {"koi8-r", Bytes("\xF0"), "\xA7\xB1"},  // Cyrillic capital PE
      {"utf-8", {}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.charset << " " << testing::PrintToString(c.body));
    const std::optional<Text> text = DecodeCharset(c.body, c.charset);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(*text, c.text);
  }
}

TEST(DecodeCharset, InvalidBytesBecomeQuestionMarks) {
  const struct {
    std::string_view charset;
    ByteSet body;
    std::string_view text;
  } cases[] = {
      {"utf-8",
       Bytes("a\xFF"
             "b"),
       "a?b"},
      {"utf-8", Bytes("\xE4\xB8\xAD\xFF\xE6\x96\x87"), "\xD6\xD0?\xCE\xC4"},
      {"shift_jis", Bytes("\x92\x86\xA0\x95\xB6"), "\xD6\xD0?\xCE\xC4"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.charset << " " << testing::PrintToString(c.body));
    const std::optional<Text> text = DecodeCharset(c.body, c.charset);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(*text, c.text);
  }
}

TEST(DecodeCharset, UnknownNamesGiveNothingSoThePageIsKept) {
  for (std::string_view name : {"", "x-klingon", "utf8x", "-", "hz-gb-2312 "}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(DecodeCharset(Bytes("abc"), name).has_value());
  }
}

TEST(DecodeCharset, ZeroUnitEndsTheText) {
  EXPECT_EQ(DecodeCharset({'a', 0, 'b'}, "utf-8"), "a");
  EXPECT_EQ(DecodeCharset({'a', 0, 'b', 0}, "unicode"), "ab");
}

#if !defined(_WIN32)
// The iconv backend reads every name of the shared table, and reads some texts the Windows
// conversion calls leave to the system: byte-order marks, broken UTF-16, GB18030.

TEST(DecodeCharsetIconv, EveryTableEntryIsLowerCaseUniqueAndKnownToTheConverter) {
  for (const CharsetName& entry : kCharsetNames) {
    SCOPED_TRACE(entry.name);
    for (char c : entry.name) EXPECT_FALSE(c >= 'A' && c <= 'Z');
    EXPECT_EQ(FindCharsetName(entry.name), &entry);
    EXPECT_GT(entry.codePage, 0);
    EXPECT_TRUE(DecodeCharset(Bytes("a"), entry.name).has_value());
  }
  EXPECT_EQ(FindCharsetName("SHIFT_JIS"), FindCharsetName("shift_jis"));
  EXPECT_EQ(FindCharsetName("utf-9"), nullptr);
}

TEST(DecodeCharsetIconv, ByteOrderMarksAreDropped) {
  EXPECT_EQ(DecodeCharset(Bytes("\xEF\xBB\xBF"
                                "abc"),
                          "utf-8"),
            "abc");
  EXPECT_EQ(DecodeCharset({0xFF, 0xFE, 0x2D, 0x4E, 0x87, 0x65}, "utf-16le"), kZhongWen);
  // Only at the start: a later U+FEFF is a character without a GBK form.
  EXPECT_EQ(DecodeCharset(Bytes("a\xEF\xBB\xBF"), "utf-8"), "a?");
}

TEST(DecodeCharsetIconv, BrokenSequencesEachGiveAQuestionMark) {
  const struct {
    std::string_view charset;
    ByteSet body;
    std::string_view text;
  } cases[] = {
      {"utf-8", Bytes("a\xE4\xB8"), "a?"},  // cut off at the end
      {"utf-8",
       Bytes("\xE4\xB8"
             "b\xE6\x96\x87"),
       "??b\xCE\xC4"},
      {"big5", Bytes("\xA4\xA4\xFF\xA4\xE5"), "\xD6\xD0?\xCE\xC4"},
      {"unicode", {0x00, 0xD8, 0x41, 0x00}, "?A"},  // a lone surrogate
      {"unicode", {0x41, 0x00, 0x42}, "A?"},        // an odd last byte
      {"utf-32", {0x41, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x42, 0, 0, 0}, "A?B"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.charset << " " << testing::PrintToString(c.body));
    EXPECT_EQ(DecodeCharset(c.body, c.charset), c.text);
  }
}

TEST(DecodeCharsetIconv, OwnCodePageComesBackByteForByte) {
  // The lone 0xFF and the euro byte included, as the rest of the program reads them.
  EXPECT_EQ(DecodeCharset(Bytes("a\xFF\x80\xD6\xD0"), "GBK"), "a\xFF\x80\xD6\xD0");
  EXPECT_EQ(DecodeCharset(Bytes("\xD6\xD0\xCE\xC4"), "gb18030"), kZhongWen);
  // One four-byte character (U+0080, no GBK form) gives one "?".
  EXPECT_EQ(DecodeCharset(Bytes("a\x81\x30\x81\x30"
                                "b"),
                          "gb18030"),
            "a?b");
}

TEST(DecodeCharsetIconv, StatefulEncodingsFinishTheirText) {
  EXPECT_EQ(DecodeCharset(Bytes("\x1B$B8=:_\x1B(B!"), "iso-2022-jp"),
            "\xAC"
            "F\xD4\xDA!");
  EXPECT_EQ(DecodeCharset(Bytes("+ZeVnLIqe-"), "utf-7"), "\xC8\xD5\xB1\xBE\xD5Z");
}
#endif

}  // namespace
}  // namespace korvanel
