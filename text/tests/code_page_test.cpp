#include "text/code_page.h"

#include <gtest/gtest.h>

#include <clocale>
#include <thread>
#include <vector>

namespace korvanel {
namespace {

// UTF-16LE bytes of the given code units.
ByteSet Units(std::initializer_list<std::uint16_t> units) {
  ByteSet bytes;
  for (std::uint16_t unit : units) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return bytes;
}

TEST(AnsiToUnicode, ZeroTerminatedUtf16) {
  struct Case {
    std::string_view text;
    ByteSet want;
  };
  const Case cases[] = {
      {"", {}},  // no terminating unit either
      {"/", {0x2F, 0x00, 0x00, 0x00}},
      {"\xD6\xD0", {0x2D, 0x4E, 0x00, 0x00}},  // U+4E2D
      {"a\xD6\xD0z", Units({'a', 0x4E2D, 'z', 0})},
      {"\x80", Units({0x20AC, 0})},  // the euro sign
      {"\xFF", Units({0xF8F5, 0})},
      {"\xA1\xA1", Units({0x3000, 0})},
      {"\x81\x40", Units({0x4E02, 0})},  // second byte 0x40
      // Cells that GBK leaves unassigned are private-use characters: the user-defined
      // areas first, then the gaps among the standard characters in code order.
      {"\xAA\xA1", Units({0xE000, 0})},
      {"\xFE\xFE", Units({0xE4C5, 0})},
      {"\xA1\x40", Units({0xE4C6, 0})},
      {"\xA3\xA0", Units({0xE5E5, 0})},
      {"\xA7\xA0", Units({0xE765, 0})},
      {"\xA2\xAB", Units({0xE766, 0})},
      {"\xFE\xA0", Units({0xE864, 0})},
      {std::string_view("ab\0cd", 5), Units({'a', 'b', 0})},  // a zero ends the text
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(AnsiToUnicode(cases[i].text), cases[i].want);
  }
}

TEST(AnsiToUnicode, BadBytesBecomeQuestionMarksAndTheRestConverts) {
  struct Case {
    std::string_view text;
    ByteSet want;
  };
  const Case cases[] = {
      // A lead byte before a byte that cannot follow it: only the lead byte is lost.
      {"\x81"
       "0ab",
       Units({'?', '0', 'a', 'b', 0})},
      {"\xD6\x7F\xD6\xD0", Units({'?', 0x7F, 0x4E2D, 0})},
      // A lead byte cut off at the end.
      {"ab\xD6", Units({'a', 'b', '?', 0})},
      {"\xD6\xD0\xD6", Units({0x4E2D, '?', 0})},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(AnsiToUnicode(cases[i].text), cases[i].want);
  }
}

TEST(UnicodeToAnsi, EndsAtTheFirstZeroUnit) {
  struct Case {
    ByteSet bytes;
    std::string_view want;
  };
  const Case cases[] = {
      {{}, ""},
      {{0x41, 0x00, 0x00, 0x00, 0x42, 0x00}, "A"},
      {{0x00, 0x00, 0x41, 0x00}, ""},
      {{0x41, 0x00, 0x42, 0x00}, "AB"},        // no zero unit: everything
      {{0x41, 0x00, 0x42, 0x00, 0x43}, "AB"},  // the odd last byte is ignored
      {{0x41}, ""},
      {Units({0x4E2D, 0x6587}), "\xD6\xD0\xCE\xC4"},  // "中文"
      {Units({0x20AC, 0xF8F5, 0x3000}), "\x80\xFF\xA1\xA1"},
      {Units({0x0100, 'x'}), "?x"},  // no GBK form
      {Units({0xE000, 0xE5E5, 0xE864, 0xE865}), "\xAA\xA1\xA3\xA0\xFE\xA0?"},
      {Units({0xD83D, 0xDE00, 'x'}), "??x"},  // one "?" per unit of a surrogate pair
      {Units({0xDC00, 0xD800}), "??"},        // lone surrogates
      // Composite characters are composed first: e + U+0301 is GBK's é.
      {Units({'e', 0x0301, 'u', 0x0308, 0x0304}), "\xA8\xA6\xA8\xB5"},
      {Units({'x', 0x0301}), "x?"},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(UnicodeToAnsi(cases[i].bytes), cases[i].want);
  }
}

TEST(CodePage, EveryDoubleByteCellIsACharacterAndRoundTrips) {
  // Code page 936 gives every lead and second byte pair a character of its own, the cells
  // GBK leaves unassigned a private-use one, so none of them is lost on the way back.
  std::vector<bool> seen(0x10000, false);
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      SCOPED_TRACE(testing::Message() << std::hex << lead << " " << trail);
      const Text text{static_cast<char>(lead), static_cast<char>(trail)};
      const ByteSet wide = AnsiToUnicode(text);
      ASSERT_EQ(wide.size(), 4u);
      const auto unit = static_cast<std::uint16_t>(wide[0] | wide[1] << 8);
      ASSERT_NE(unit, u'?');
      ASSERT_FALSE(seen[unit]);
      seen[unit] = true;
      ASSERT_EQ(UnicodeToAnsi(wide), text);
    }
  }
}

TEST(CodePage, Utf16BridgeGivesTheUnitsOfTheByteSetRoutines) {
  // The bridge and the described routines must agree on every kind of text: plain ASCII
  // (which the bridge takes without the converter), double-byte text, bad bytes, 0xFF and
  // a zero byte that ends the text.
  const std::string_view texts[] = {
      "",
      "GET /korvanelapi.php?yundanhao=1",
      "a\xD6\xD0z",
      "\x81"
      "0ab",
      "\xFF\x80",
      std::string_view("ab\0\xD6\xD0", 4),
  };
  for (std::string_view text : texts) {
    SCOPED_TRACE(testing::Message() << '"' << text << '"');
    const std::u16string units = AnsiToUtf16(text);
    ByteSet bytes = AnsiToUnicode(text);
    ASSERT_EQ(bytes.size(), units.empty() ? 0 : 2 * (units.size() + 1));
    for (std::size_t i = 0; i < units.size(); ++i) {
      EXPECT_EQ(units[i], bytes[2 * i] | bytes[2 * i + 1] << 8) << "unit " << i;
    }
    EXPECT_EQ(Utf16ToAnsi(units), UnicodeToAnsi(bytes));
  }
}

TEST(CodePage, Utf16ToAnsiEndsAtTheFirstZeroUnit) {
  struct Case {
    std::u16string_view units;
    Text want;
  };
  const Case cases[] = {
      {u"", ""},
      {std::u16string_view(u"ab\0cd", 5), "ab"},
      {std::u16string_view(u"\u4E2D\0\u6587", 3), "\xD6\xD0"},
      {u"a\u4E2Dz", "a\xD6\xD0z"},
      {u"u\u0308", "\xA8\xB9"},  // a combining mark joins the letter before it
      {u"\U0001F600", "??"},     // each unit of a surrogate pair on its own
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(Utf16ToAnsi(cases[i].units), cases[i].want);
  }
}

TEST(CodePage, SameResultWhateverTheLocale) {
  const char* saved = std::setlocale(LC_ALL, nullptr);
  const std::string previous = saved ? saved : "C";
  std::setlocale(LC_ALL, "C.UTF-8");
  EXPECT_EQ(AnsiToUnicode("\xD6\xD0"), Units({0x4E2D, 0}));
  EXPECT_EQ(UnicodeToAnsi(Units({0x4E2D})), "\xD6\xD0");
  std::setlocale(LC_ALL, previous.c_str());
}

TEST(CodePage, ConvertsOnManyThreadsAtOnce) {
  // "中文" and a bad byte, so that every thread also goes through the error path.
  const Text text =
      "waybill \xD6\xD0\xCE\xC4 \x81"
      "0 end";
  const ByteSet wide = AnsiToUnicode(text);
  const Text back = UnicodeToAnsi(wide);
  std::vector<int> mismatches(8, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        if (AnsiToUnicode(text) != wide || UnicodeToAnsi(wide) != back) ++mismatches[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < 8; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
  EXPECT_EQ(back, "waybill \xD6\xD0\xCE\xC4 ?0 end");
}

}  // namespace
}  // namespace korvanel
