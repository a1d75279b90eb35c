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
      {"gb18030", Bytes("\xD6\xD0\xCE\xC4"), kZhongWen},
      {"GBK", Bytes("\xD6\xD0\xCE\xC4"), kZhongWen},
      {"GB2312", Bytes("\xD6\xD0\xCE\xC4"), kZhongWen},
      // The program's own code page comes back byte for byte, the lone 0xFF included.
      {"GBK", Bytes("a\xFF\x80\xD6\xD0"), "a\xFF\x80\xD6\xD0"},
      {"shift_jis", Bytes("\x92\x86\x95\xB6"), kZhongWen},  // 中文 in Shift_JIS
      {"euc-kr", Bytes("\xF1\xE9"), "\xD6\xD0"},            // 中 in EUC-KR
      {"unicode", {0x2D, 0x4E, 0x87, 0x65}, kZhongWen},
      {"utf-16le", {0xFF, 0xFE, 0x2D, 0x4E, 0x87, 0x65}, kZhongWen},  // mark dropped
      {"utf-16be", {0x4E, 0x2D, 0x65, 0x87}, kZhongWen},
      {"utf-8", Bytes("\xEF\xBB\xBF" "abc"), "abc"},  // mark dropped
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
      {"utf-8", Bytes("a\xFF" "b"), "a?b"},
      {"utf-8", Bytes("a\xE4\xB8"), "a?"},  // cut off at the end
      {"utf-8", Bytes("\xE4\xB8" "b\xE6\x96\x87"), "??b\xCE\xC4"},
      {"big5", Bytes("\xA4\xA4\xFF\xA4\xE5"), "\xD6\xD0?\xCE\xC4"},
      {"unicode", {0x00, 0xD8, 0x41, 0x00}, "?A"},  // a lone surrogate
      {"unicode", {0x41, 0x00, 0x42}, "A?"},        // an odd last byte
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

TEST(CharsetNames, EveryEntryIsLowerCaseUniqueAndKnownToTheConverter) {
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

}  // namespace
}  // namespace korvanel
