#include "app/records/record_text.h"

#include <gtest/gtest.h>

namespace korvanel::cli {
namespace {

ByteSet Units(std::initializer_list<char16_t> units) {
  ByteSet bytes;
  for (char16_t unit : units) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return bytes;
}

TEST(Utf16LeToUtf8, EveryLengthOfSequenceAndBrokenSurrogates) {
  const struct {
    const char* name;
    ByteSet utf16;
    std::string utf8;
  } cases[] = {
      {"empty", {}, ""},
      {"ascii", Units({'A', '1'}), "A1"},
      {"two bytes", Units({0x00E9}), "\xC3\xA9"},
      {"three bytes", Units({0x5355, 0x53F7}), "\xE5\x8D\x95\xE5\x8F\xB7"},  // 单号
      {"pair", Units({0xD83D, 0xDE00}), "\xF0\x9F\x98\x80"},
      {"lone high", Units({0xD83D, 'A'}),
       "\xEF\xBF\xBD"
       "A"},
      {"lone low", Units({0xDE00}), "\xEF\xBF\xBD"},
      {"high at end", Units({'A', 0xD83D}), "A\xEF\xBF\xBD"},
      {"stops at zero", Units({'A', 0, 'B'}), "A"},
      {"odd byte ignored", ByteSet{'A', 0, 'B'}, "A"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Utf16LeToUtf8(c.utf16), c.utf8);
  }
}

TEST(AnsiToUtf8, ConvertsTheProgramsTexts) {
  // "711 发送请求失败!"
  EXPECT_EQ(AnsiToUtf8("711 \xB7\xA2\xCB\xCD\xC7\xEB\xC7\xF3\xCA\xA7\xB0\xDC!"),
            "711 \xE5\x8F\x91\xE9\x80\x81\xE8\xAF\xB7\xE6\xB1\x82\xE5\xA4\xB1\xE8\xB4\xA5!");
  EXPECT_EQ(AnsiToUtf8(""), "");
}

}  // namespace
}  // namespace korvanel::cli
