#include "text/text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "tests/support/temp_dir.h"

namespace korvanel {
namespace {

// "中文" in code page 936.
constexpr std::string_view kChinese = "\xD6\xD0\xCE\xC4";
// A full-width space.
constexpr std::string_view kWideSpace = "\xA1\xA1";

// ---------------------------------------------------------------------------------------
// Reference walks: the rules exactly as stated, one character at a time. The real routines
// take shortcuts, so random texts are run through both.

bool SameBytes(std::string_view a, std::string_view b, bool fold) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (fold) {
      if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
      if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    }
    if (x != y) return false;
  }
  return true;
}

bool IsLead(std::string_view t, std::size_t i) { return static_cast<unsigned char>(t[i]) >= 0x80; }

int WalkFind(std::string_view t, std::string_view s, std::optional<int> start, bool fold) {
  const std::size_t b = start && *start > 1 ? static_cast<std::size_t>(*start) - 1 : 0;
  if (b >= t.size()) return -1;
  if (s.empty()) return 1;
  for (std::size_t i = b; t.size() - i >= s.size();) {
    if (IsLead(t, i) && i + 1 == t.size()) return -1;
    if (SameBytes(t.substr(i, s.size()), s, fold)) return static_cast<int>(i) + 1;
    i += IsLead(t, i) ? 2 : 1;
  }
  return -1;
}

int WalkFindReverse(std::string_view t, std::string_view s, std::optional<int> start, bool fold) {
  std::size_t range = t.size();
  if (start) range = *start <= 1 ? 0 : std::min(range, static_cast<std::size_t>(*start) - 1);
  if (range == 0) return -1;
  if (s.empty()) return 1;
  int last = -1;
  for (std::size_t i = 0; i + s.size() <= range;) {
    if (IsLead(t, i) && i + 1 == t.size()) break;
    if (SameBytes(t.substr(i, s.size()), s, fold)) last = static_cast<int>(i) + 1;
    i += IsLead(t, i) ? 2 : 1;
  }
  return last;
}

Text WalkReplace(std::string_view t, std::string_view s, std::string_view r, bool fold) {
  if (t.empty() || s.empty()) return Text(t);
  Text out;
  std::size_t i = 0;
  while (i < t.size()) {
    if (t.size() - i < s.size()) {
      out.append(t.substr(i));
      break;
    }
    if (IsLead(t, i) && i + 1 == t.size()) break;  // a cut-off character is dropped
    if (SameBytes(t.substr(i, s.size()), s, fold)) {
      out.append(r);
      i += s.size();
    } else {
      const std::size_t n = IsLead(t, i) ? 2 : 1;
      out.append(t.substr(i, n));
      i += n;
    }
  }
  return out;
}

TextArray WalkSplit(std::string_view t, std::string_view sep) {
  TextArray pieces;
  if (t.empty()) return pieces;
  if (sep.empty()) return {Text(t)};
  std::size_t pieceStart = 0;
  std::size_t i = 0;
  while (t.size() - i >= sep.size()) {
    if (IsLead(t, i) && i + 1 == t.size()) break;
    if (t.substr(i, sep.size()) == sep) {
      pieces.emplace_back(t.substr(pieceStart, i - pieceStart));
      i += sep.size();
      pieceStart = i;
    } else {
      i += IsLead(t, i) ? 2 : 1;
    }
  }
  if (pieceStart < t.size()) pieces.emplace_back(t.substr(pieceStart));
  return pieces;
}

// Texts drawn from few bytes, so that markers, their case variants and high bytes that
// hide them as second bytes all turn up often. Runs long enough to cross eight bytes.
class RandomTexts {
 public:
  explicit RandomTexts(unsigned seed) : m_engine(seed) {}
  // mostlyHigh makes long runs of high bytes, where only their parity tells the
  // character starts.
  Text Next(std::size_t maxLength, bool mostlyHigh = false) {
    static constexpr char kBytes[] = {'a', 'A', 'b', 'B', '<', ';', ' ',
                                      '\x81', '\xA1', '\xB0', '\xE1', '\xC1'};
    std::uniform_int_distribution<std::size_t> length(0, maxLength);
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kBytes - 1);
    std::uniform_int_distribution<int> percent(0, 99);
    Text t(length(m_engine), 'a');
    for (char& c : t) {
      c = kBytes[pick(m_engine)];
      if (mostlyHigh && percent(m_engine) < 85) c = kBytes[7 + pick(m_engine) % 5];
    }
    return t;
  }
  int Start(int len) { return std::uniform_int_distribution<int>(-1, len + 2)(m_engine); }

 private:
  std::mt19937 m_engine;
};

// ---------------------------------------------------------------------------------------

TEST(TextCut, LeftRightMidCountBytes) {
  struct Case {
    Text got;
    Text want;
  };
  const Case cases[] = {
      {TextLeft("abc", 2), "ab"},
      {TextLeft("abc", 9), "abc"},
      {TextLeft("abc", 0), ""},
      {TextLeft("abc", -1), ""},
      {TextLeft("\xD6\xD0z", 1), "\xD6"},  // cuts bytes, not characters
      {TextRight("abc", 2), "bc"},
      {TextRight("abc", INT_MAX), "abc"},
      {TextRight("abc", -5), ""},
      {TextMid("abcdef", 2, 3), "bcd"},
      {TextMid("abcdef", 5, 10), "ef"},
      {TextMid("abcdef", 6, INT_MAX), "f"},
      {TextMid("abcdef", 7, 1), ""},
      {TextMid("abcdef", 0, 3), ""},
      {TextMid("abcdef", 2, 0), ""},
      {TextMid("", 1, 1), ""},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(cases[i].got, cases[i].want);
  }
  EXPECT_EQ(TextLength(""), 0);
  EXPECT_EQ(TextLength(kChinese), 4);
}

TEST(TextCharCode, SignedFirstByteAndLowByteBack) {
  EXPECT_EQ(CharCode("\xB0\xA1"), -80);
  EXPECT_EQ(CharCode("\xFF"), -1);
  EXPECT_EQ(CharCode("A"), 65);
  EXPECT_EQ(CharCode(""), 0);
  EXPECT_EQ(CharFromCode(65), "A");
  EXPECT_EQ(CharFromCode(-80), "\xB0");
  EXPECT_EQ(CharFromCode(0x141), "A");
  EXPECT_EQ(CharFromCode(0), "");
  EXPECT_EQ(CharFromCode(256), "");
}

struct FindCase {
  std::string_view text;
  std::string_view sought;
  std::optional<int> start;
  bool ignoreCase;
  int want;
};

TEST(TextFind, FirstOccurrenceAtACharacterStart) {
  const FindCase cases[] = {
      {"abc", "", std::nullopt, false, 1},
      {"abc", "", 3, false, 1},  // 1 even though the search starts later
      {"abc", "", 4, false, -1},
      {"", "", std::nullopt, false, -1},
      {"abc", "c", 4, false, -1},
      {"abc", "c", 0, false, 3},
      {"abc", "c", -7, false, 3},
      {"abc", "c", INT_MAX, false, -1},
      {"abcabc", "bc", 3, false, 5},
      {"abc", "abcd", std::nullopt, false, -1},
      // A second byte that looks like an ASCII marker is never a match.
      {"\x81\x41", "A", std::nullopt, false, -1},
      {"\x81\x41" "A", "A", std::nullopt, false, 3},
      {"\xD6\x3C\x3C", "<", std::nullopt, false, 3},
      // A walk begins at its first byte, even inside a character.
      {"\x81\x41", "A", 2, false, 2},
      // A lead byte at the very end is cut off and ends the walk.
      {"a\x81", "\x81", std::nullopt, false, -1},
      {"\x81\x81\x81", "\x81", 2, false, 2},
      // Case folding covers ASCII letters only, second bytes included.
      {"\x81\x61", "\x81\x41", std::nullopt, true, 1},
      {"\x81\x61", "\x81\x41", std::nullopt, false, -1},
      {"xKEYx", "key", std::nullopt, true, 2},
      {"\xE1\xE1", "\xC1\xC1", std::nullopt, true, -1},
      {"[\\]", "{", std::nullopt, true, -1},
      {"\x81" "a" "A", "a", std::nullopt, true, 3},
      // Parity over a run longer than eight high bytes.
      {"\xB0\xB0\xB0\xB0\xB0\xB0\xB0\xB0\xB0\xB0\xB0\xB0\xB0\xB0\xB0\xB0\xB0" "A", "A",
       std::nullopt, false, -1},
      {"\xB0\xB0\xB0\xB0\xB0\xB0\xB0\xB0\xB0\xB0\xB0\xB0\xB0\xB0\xB0\xB0" "A", "A",
       std::nullopt, false, 17},
      {"x\xB0\xB0\xB0\xB0\xB0\xB0\xB0\xB0\xB0\xB0\xB0\xB0\xB0\xB0\xB0\xB0\xB0" "A", "A", 3,
       false, 19},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    const FindCase& c = cases[i];
    EXPECT_EQ(FindText(c.text, c.sought, c.start, c.ignoreCase), c.want);
  }
}

TEST(TextFind, ReverseFindsTheLastOccurrenceBeforeStart) {
  const FindCase cases[] = {
      {"abcabc", "bc", std::nullopt, false, 5},
      {"abcabc", "bc", 6, false, 2},
      {"abcabc", "bc", 7, false, 5},  // the occurrence must end before start
      {"abcabc", "bc", 99, false, 5},
      {"abcabc", "bc", 1, false, -1},
      {"abcabc", "bc", INT_MIN, false, -1},
      {"abc", "", std::nullopt, false, 1},
      {"abc", "", 2, false, 1},
      {"abc", "", 1, false, -1},
      {"", "", std::nullopt, false, -1},
      {"A\x81\x41", "A", std::nullopt, false, 1},
      {"\x81\x41", "\x81", 2, false, 1},  // the range may end inside a character
      {"a\x81", "\x81", std::nullopt, false, -1},
      {"xKeyKEY", "key", std::nullopt, true, 5},
      {"\x81\x61\x81\x41", "\x81\x41", std::nullopt, true, 3},
      {"\x81\x61\x81\x41", "\x81\x61", std::nullopt, false, 1},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    const FindCase& c = cases[i];
    EXPECT_EQ(FindTextReverse(c.text, c.sought, c.start, c.ignoreCase), c.want);
  }
}

TEST(TextFind, AgreesWithACharacterWalkOnRandomTexts) {
  RandomTexts random(20240611);
  for (int round = 0; round < 4000; ++round) {
    const Text text = random.Next(round % 5 == 0 ? 200 : 40, round % 4 >= 2);
    const Text sought = random.Next(3, round % 8 >= 6);
    const int start = random.Start(static_cast<int>(text.size()));
    const bool fold = round % 2 == 1;
    SCOPED_TRACE(testing::Message() << "round " << round << " start " << start);
    ASSERT_EQ(FindText(text, sought, start, fold), WalkFind(text, sought, start, fold));
    ASSERT_EQ(FindText(text, sought, std::nullopt, fold),
              WalkFind(text, sought, std::nullopt, fold));
    ASSERT_EQ(FindTextReverse(text, sought, start, fold),
              WalkFindReverse(text, sought, start, fold));
    ASSERT_EQ(FindTextReverse(text, sought, std::nullopt, fold),
              WalkFindReverse(text, sought, std::nullopt, fold));
    ASSERT_EQ(ReplaceText(text, sought, "<>", !fold), WalkReplace(text, sought, "<>", fold));
    ASSERT_EQ(SplitText(text, sought), WalkSplit(text, sought));
  }
}

TEST(TextReplace, EveryOccurrenceLeftToRight) {
  struct Case {
    std::string_view text, sought, replacement;
    bool caseSensitive;
    std::string_view want;
  };
  const Case cases[] = {
      {"aXbx", "x", "", false, "ab"},
      {"aXbx", "x", "", true, "aXb"},
      {"aaa", "aa", "a", true, "aa"},  // no overlap, output not searched again
      {"a", "a", "aa", true, "aa"},
      {"", "a", "b", true, ""},
      {"abc", "", "x", true, "abc"},
      {"\x81\x41" "A", "A", "b", true, "\x81\x41" "b"},
      {"\x81\x61", "A", "b", false, "\x81\x61"},
      // A cut-off character is dropped when the walk reaches it...
      {"ab\x81", "x", "y", true, "ab"},
      // ...and kept when the sought text no longer fits there.
      {"ab\x81", "xy", "z", true, "ab\x81"},
      // After a match the walk goes on from the next byte, even inside a character.
      {"\x81\x81\x41", "\x81", "", true, "A"},
      {"id=#\xD2\xFD\xBA\xC5", "#\xD2\xFD\xBA\xC5", "\"", true, "id=\""},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    const Case& c = cases[i];
    EXPECT_EQ(ReplaceText(c.text, c.sought, c.replacement, c.caseSensitive), c.want);
  }
}

TEST(TextSplit, PiecesBetweenSeparators) {
  struct Case {
    std::string_view text, separator;
    TextArray want;
  };
  const Case cases[] = {
      {"", "\r\n", {}},
      {"abc", "\r\n", {"abc"}},
      {"abc", "", {"abc"}},
      {"\r\nb", "\r\n", {"", "b"}},
      {"a\r\n\r\nb\r\n", "\r\n", {"a", "", "b"}},
      {"\r\n", "\r\n", {""}},
      {"a;b;", ";", {"a", "b"}},
      {"a;;", ";", {"a", ""}},
      {"\x81;a;b", ";", {"\x81;a", "b"}},  // the first ; is a second byte
      {"a;\x81", ";", {"a", "\x81"}},      // a cut-off tail stays in the last piece
      {"aXb", "x", {"aXb"}},               // always case-sensitive
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(SplitText(cases[i].text, cases[i].separator), cases[i].want);
  }
}

TEST(TextTrim, SpacesAndFullWidthSpacesOnly) {
  struct Case {
    std::string_view text, want;
  };
  const Case cases[] = {
      {"  ab  ", "ab"},
      {"\tab\t", "\tab\t"},
      {"\r\nab \r\n", "\r\nab \r\n"},
      {"\xA1\xA1" "ab" "\xA1\xA1", "ab"},
      {" \xA1\xA1 a b \xA1\xA1 ", "a b"},
      {"    ", ""},
      {"\xA1\xA1\xA1\xA1", ""},
      {"", ""},
      {"ab \xB0", "ab "},  // a cut-off character goes, the spaces before it stay
      {"\xB0", ""},
      {"\xB0\xA1\xA1", "\xB0\xA1"},  // its last 0xA1 is a cut-off character
      {"\xB0\xA1\xA1\xA1", "\xB0\xA1"},      // ...and one that is a real space
      {"\xA1", ""},
      {"a\xA1", "a"},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(TrimBoth(cases[i].text), cases[i].want);
  }
}

TEST(TextUpper, AsciiLettersOnly) {
  EXPECT_EQ(ToUpper("abz-AZ09"), "ABZ-AZ09");
  EXPECT_EQ(ToUpper("\x81\x61" "a"), "\x81\x61" "A");
  EXPECT_EQ(ToUpper("\xE1\xE1"), "\xE1\xE1");
  EXPECT_EQ(ToUpper(""), "");
}

TEST(TextCompare, CaseFoldsAsciiLettersAndWholeCharacters) {
  struct Case {
    std::string_view a, b;
    bool caseSensitive;
    int sign;
  };
  const Case cases[] = {
      {"abc", "abc", true, 0},
      {"abc", "ABC", true, 1},
      {"abc", "ABC", false, 0},
      {"abc", "abd", false, -1},
      {"ab", "abc", false, -1},
      {"abc", "ab", true, 1},
      {"", "", false, 0},
      {"\xD6\xD0", "\xD6\xD0", false, 0},
      {"\x81\x41", "\x81\x61", false, -1},  // second bytes are not folded
      {"\xE1", "\xC1", false, 1},
      {"\x81", "\x81\x41", false, -1},
      {"\xB0", "a", true, 1},  // bytes compare unsigned
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    const int got = CompareText(cases[i].a, cases[i].b, cases[i].caseSensitive);
    EXPECT_EQ((got > 0) - (got < 0), cases[i].sign);
  }
}

TEST(TextConcat, StoredEvenWhenEmpty) {
  const Text empty = ConcatText({"", ""});
  EXPECT_TRUE(empty.empty());
  EXPECT_TRUE(TextEquals(empty, Text()));
  EXPECT_EQ(ConcatText({"a", "", kChinese, "b"}), Text("a") + Text(kChinese) + "b");
  EXPECT_FALSE(TextEquals("a", "A"));
}

TEST(Bytes, ConversionsAndCuts) {
  EXPECT_EQ(BytesToText(ByteSet{0x41, 0x00, 0x42}), "A");
  EXPECT_EQ(BytesToText(ByteSet{0x41, 0x42}), "AB");
  EXPECT_EQ(BytesToText(ByteSet{}), "");
  EXPECT_EQ(TextToBytes("A\xB0"), (ByteSet{0x41, 0xB0}));
  EXPECT_EQ(ByteCount(ByteSet{1, 0, 2}), 3);
  EXPECT_EQ(BytesLeft(ByteSet{1, 2, 3}, 2), (ByteSet{1, 2}));
  EXPECT_EQ(BytesLeft(ByteSet{1, 2, 3}, 9), (ByteSet{1, 2, 3}));
  EXPECT_TRUE(BytesLeft(ByteSet{1, 2, 3}, -1).empty());
  EXPECT_EQ(BlankBytes(3), (ByteSet{0, 0, 0}));
  EXPECT_TRUE(BlankBytes(-3).empty());
  const char raw[] = {'a', '\0', 'b'};
  EXPECT_EQ(BytesFromAddress(raw, 3), (ByteSet{'a', 0, 'b'}));
  EXPECT_TRUE(BytesFromAddress(raw, 0).empty());
  EXPECT_TRUE(BytesFromAddress(nullptr, 4).empty());
  const ByteSet a{1, 0}, b{}, c{2};
  EXPECT_EQ(ConcatBytes({&a, &b, nullptr, &c}), (ByteSet{1, 0, 2}));
  EXPECT_TRUE(ConcatBytes({&b, &b}).empty());
  EXPECT_TRUE(BytesEqual(ByteSet{}, ByteSet{}));
  EXPECT_FALSE(BytesEqual(ByteSet{1}, ByteSet{1, 0}));
}

TEST(TextArrays, OneBasedAndSafeOutsideTheRange) {
  TextArray array;
  EXPECT_EQ(ElementCount(array), 0);
  AppendElement(array, "a");
  AppendElement(array, "");
  AppendElement(array, kChinese);
  EXPECT_EQ(ElementCount(array), 3);
  EXPECT_EQ(ElementAt(array, 1), "a");
  EXPECT_EQ(ElementAt(array, 2), "");
  EXPECT_EQ(ElementAt(array, 3), kChinese);
  for (int index : {0, -1, 4, INT_MAX, INT_MIN}) {
    SCOPED_TRACE(index);
    EXPECT_EQ(ElementAt(array, index), "");
  }
}

// A scratch folder of its own per test, removed afterwards.
class ReadTextFileTest : public testing::Test {
 protected:
  // Writes bytes to a file in the folder; name is UTF-8, as the file system spells it. The
  // path comes back in the system's own narrow spelling, as ReadTextFile takes it.
  std::string Write(const std::string& name, std::string_view bytes) {
    m_dir.Write(name, bytes);
    return m_dir.PathOf(name).string();
  }
  test_support::TempDir m_dir;
};

TEST_F(ReadTextFileTest, EndsAtZeroOrEofMarkerAtACharacterStart) {
  using namespace std::string_view_literals;
  struct Case {
    std::string_view bytes, want;
  };
  const Case cases[] = {
      {"ab\x1A" "cd", "ab"},
      {"ab\0cd"sv, "ab"},
      {"\x81\x1A" "cd\x1A" "e", "\x81\x1A" "cd"},  // 0x1A as a second byte is data
      {"ab\x81\0cd"sv, "ab"},                      // a lead byte before a zero goes too
      {"\x81\x81\0x"sv, "\x81\x81"},
      {"1\r\n2\r\n", "1\r\n2\r\n"},  // no line-end conversion
      {"\xEF\xBB\xBF" "a", "\xEF\xBB\xBF" "a"},
      {"", ""},
      {"ab\x81", "ab\x81"},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(ReadTextFile(Write("list.txt", cases[i].bytes)), cases[i].want);
  }
}

TEST_F(ReadTextFileTest, EmptyWhenThePathCannotBeRead) {
  EXPECT_EQ(ReadTextFile(""), "");
  EXPECT_EQ(ReadTextFile((m_dir.path() / "missing.txt").string()), "");
  EXPECT_EQ(ReadTextFile(m_dir.path().string()), "");  // a folder
}

TEST_F(ReadTextFileTest, TakesACodePage936Path) {
  // "运单.txt" named in UTF-8 on disk, asked for in code page 936.
  Write("\xE8\xBF\x90\xE5\x8D\x95.txt", "SF100\r\n");
  EXPECT_EQ(ReadTextFile((m_dir.path().string() + "/\xD4\xCB\xB5\xA5.txt")), "SF100\r\n");
}

TEST_F(ReadTextFileTest, ReadsAMillionLinesWhole) {
  std::string bytes;
  for (int i = 0; i < 1000000; ++i) bytes += "SF" + std::to_string(1000000 + i) + "\r\n";
  bytes += "\xD6\xD0\x1A";
  const Text text = ReadTextFile(Write("big.txt", bytes));
  ASSERT_EQ(text.size(), bytes.size() - 1);
  EXPECT_EQ(text, bytes.substr(0, bytes.size() - 1));
}

}  // namespace
}  // namespace korvanel
