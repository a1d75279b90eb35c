#include "text/regex_object.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace korvanel {
namespace {

// The pattern that the response decoding runs over the first 1024 bytes of a page.
constexpr std::string_view kCharsetPattern = "<meta.+?charset=[^\\w]?([-\\w]+)";

constexpr std::string_view kZhong = "\xD6\xD0";                      // "中"
constexpr std::string_view kZhongWen = "\xD6\xD0\xCE\xC4";           // "中文"
constexpr std::string_view kQuotePlaceholder = "#\xD2\xFD\xBA\xC5";  // "#引号"
constexpr std::string_view kFullWidthOne = "\xA3\xB1";               // "１"

std::string Cat(std::initializer_list<std::string_view> pieces) {
  std::string out;
  for (std::string_view piece : pieces) out += piece;
  return out;
}

struct CharsetCase {
  const char* what;
  std::string page;
  const char* declared;  // group 1 of the first match; "" when nothing matches
};

TEST(RegexObject, CharsetPatternFindsTheDeclaration) {
  const std::vector<CharsetCase> cases = {
      {"single quotes", "<html><meta charset='utf-8'></html>", "utf-8"},
      {"double quotes", "<meta charset=\"UTF-8\">", "UTF-8"},
      {"no quotes", "<meta charset=big5>", "big5"},
      {"upper-case tag and name",
       "<META http-equiv=Content-Type content='text/html; CHARSET=utf-8'>", "utf-8"},
      {"http-equiv form", "<meta http-equiv='Content-Type' content='text/html; charset=gb2312'>",
       "gb2312"},
      {"GBK text inside the tag", Cat({"<meta content='", kZhongWen, "; charset=big5'>"}), "big5"},
      {"declaration on a later line than its <meta",
       "<meta http-equiv='Content-Type'\ncharset=utf-8>", ""},
      {"space and quote before the name", "<meta charset= 'utf-8'>", ""},
      {"name cut at the end of the sample", "<meta charset=ut", "ut"},
      {"leftmost of several declarations", "<meta charset=big5><meta charset=utf-8>", "big5"},
      {"a later <meta on its own line", "<meta name=x>\n<meta charset=gbk>", "gbk"},
      {"no declaration at all", "<html><head><title>t</title></head></html>", ""},
      {"empty page", "", ""},
  };
  for (const CharsetCase& c : cases) {
    SCOPED_TRACE(c.what);
    RegexObject regex;
    ASSERT_TRUE(regex.Search(kCharsetPattern, c.page));
    EXPECT_EQ(regex.SubMatchText(1, 1), c.declared);
    EXPECT_EQ(regex.MatchCount() > 0, *c.declared != '\0');
  }
}

TEST(RegexObject, GlobalSearchKeepsEveryMatch) {
  RegexObject regex;
  ASSERT_TRUE(regex.Search(kCharsetPattern, "<meta charset=big5><meta charset='utf-8'>"));
  ASSERT_EQ(regex.MatchCount(), 2);
  EXPECT_EQ(regex.MatchText(1), "<meta charset=big5");
  EXPECT_EQ(regex.SubMatchText(2, 1), "utf-8");
  EXPECT_EQ(regex.SubMatchCount(), 1);

  ASSERT_TRUE(regex.Search(kCharsetPattern, "<meta charset=big5><meta charset='utf-8'>", false,
                           true, /*global=*/false));
  EXPECT_EQ(regex.MatchCount(), 1);
  EXPECT_EQ(regex.SubMatchText(2, 1), "");
}

TEST(RegexObject, EmptyValuesBeforeAnySearch) {
  RegexObject regex;
  int position = 99;
  EXPECT_EQ(regex.CurrentPattern(), "");
  EXPECT_EQ(regex.MatchCount(), 0);
  EXPECT_EQ(regex.SubMatchCount(), 0);
  EXPECT_EQ(regex.MatchText(1, &position), "");
  EXPECT_EQ(position, -1);
  position = 99;
  EXPECT_EQ(regex.SubMatchText(1, 1, &position), "");
  EXPECT_EQ(position, -1);
  EXPECT_EQ(regex.ReplaceMatches("x"), "");
}

TEST(RegexObject, InvalidPatternFailsAndClearsTheLastSearch) {
  const char* invalid[] = {"(abc",   "abc)", "[a-",  "a**",   "*a",
                           "a{2,1}", "x\\",  "(?<a", "[z-a]", "(?P<n>a)(?P<n>b)"};
  for (const char* pattern : invalid) {
    SCOPED_TRACE(pattern);
    RegexObject regex;
    ASSERT_TRUE(regex.Search("(b)", "abc"));
    ASSERT_EQ(regex.MatchCount(), 1);

    EXPECT_FALSE(regex.Search(pattern, "abc(abc)"));
    int position = 99;
    EXPECT_EQ(regex.MatchCount(), 0);
    EXPECT_EQ(regex.SubMatchCount(), 0);
    EXPECT_EQ(regex.MatchText(1, &position), "");
    EXPECT_EQ(position, -1);
    EXPECT_EQ(regex.SubMatchText(1, 1), "");
    // The object still holds the pattern that was written to it.
    EXPECT_EQ(regex.CurrentPattern(), pattern);
    EXPECT_EQ(regex.ReplaceMatches("x"), "");
  }
}

TEST(RegexObject, SearchWithoutMatchSucceedsWithNoMatches) {
  RegexObject regex;
  ASSERT_TRUE(regex.Search("xyz", "abc"));
  EXPECT_EQ(regex.MatchCount(), 0);
  EXPECT_EQ(regex.SubMatchCount(), 0);
  EXPECT_EQ(regex.MatchText(1), "");
  EXPECT_EQ(regex.ReplaceMatches("q"), "abc");
  EXPECT_EQ(regex.CurrentPattern(), "xyz");
}

TEST(RegexObject, PositionsCountBytesAfterDoubleByteText) {
  struct Case {
    const char* what;
    std::string pattern;
    std::string subject;
    bool caseSensitive;
    int match;
    std::string text;
    int position;
  };
  const std::vector<Case> cases = {
      {"ASCII subject", "XYZ", "abcdXYZ", false, 1, "XYZ", 4},
      {"after two GBK characters", "XYZ", Cat({kZhongWen, "abXYZ"}), false, 1, "XYZ", 6},
      {"GBK match text", std::string(kZhong), Cat({"ab", kZhongWen, kZhong}), false, 2,
       std::string(kZhong), 6},
      // The match is the second "a"; its UTF-16 offset (4) is a byte offset before the first.
      {"equal text earlier in the subject", "a(?=2)", Cat({kZhongWen, "a1a2"}), false, 1, "a", 6},
      // Case-sensitive: the "a" at byte 5, not the case variant "A" at byte 4.
      {"case variant earlier in the subject", "a", Cat({kZhongWen, "Aa"}), true, 1, "a", 5},
      // 0x80 is the euro sign, a single byte, to the code page.
      {"euro byte before the match", "b", Cat({"\x80", "ab"}), false, 1, "b", 2},
      {"empty match", "x*", Cat({kZhongWen, "b"}), false, 2, "", 2},
      {"empty match at the end", "$", Cat({kZhongWen}), false, 1, "", 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RegexObject regex;
    ASSERT_TRUE(regex.Search(c.pattern, c.subject, c.caseSensitive));
    int position = 99;
    EXPECT_EQ(regex.MatchText(c.match, &position), c.text);
    EXPECT_EQ(position, c.position);
  }
}

TEST(RegexObject, SubMatchPositionIsTheGroupsOwn) {
  RegexObject regex;
  // Group 2 is the second "b" of the match, though a "b" comes earlier in the match.
  ASSERT_TRUE(regex.Search("a(b)c(b)", Cat({kZhongWen, "xabcb"})));
  int position = 99;
  EXPECT_EQ(regex.SubMatchText(1, 1, &position), "b");
  EXPECT_EQ(position, 6);
  EXPECT_EQ(regex.SubMatchText(1, 2, &position), "b");
  EXPECT_EQ(position, 8);
  EXPECT_EQ(regex.SubMatchCount(), 2);
}

TEST(RegexObject, GroupThatTookNoPartIsEmpty) {
  RegexObject regex;
  ASSERT_TRUE(regex.Search("(a)|(b)", "b"));
  ASSERT_EQ(regex.SubMatchCount(), 2);
  int position = 99;
  EXPECT_EQ(regex.SubMatchText(1, 1, &position), "");
  EXPECT_EQ(position, -1);
  EXPECT_EQ(regex.SubMatchText(1, 2, &position), "b");
  EXPECT_EQ(position, 0);
}

TEST(RegexObject, IndexesOutsideTheMatchesGiveEmpty) {
  RegexObject regex;
  ASSERT_TRUE(regex.Search("(a)", "aa"));
  ASSERT_EQ(regex.MatchCount(), 2);
  const std::pair<int, int> outside[] = {{0, 1}, {3, 1}, {-1, 1}, {1, 0}, {1, 2}, {1, -1}};
  for (const auto& [match, sub] : outside) {
    SCOPED_TRACE(testing::Message() << match << "," << sub);
    int position = 99;
    EXPECT_EQ(regex.SubMatchText(match, sub, &position), "");
    EXPECT_EQ(position, -1);
  }
  int position = 99;
  EXPECT_EQ(regex.MatchText(3, &position), "");
  EXPECT_EQ(position, -1);
}

TEST(RegexObject, OptionsFollowTheScriptEngine) {
  struct Case {
    const char* what;
    std::string pattern;
    std::string subject;
    bool caseSensitive;
    bool multiline;
    int count;
    std::string first;
  };
  const std::vector<Case> cases = {
      {"ignore case by default", "ABC", "xabc", false, true, 1, "abc"},
      {"case-sensitive", "ABC", "xabc", true, true, 0, ""},
      {"multiline ^", "^b", "a\nb", false, true, 1, "b"},
      {"single-line ^", "^b", "a\nb", false, false, 0, ""},
      {"multiline $", "a$", "a\nb", false, true, 1, "a"},
      {"single-line $ only at the very end", "a$", "a\n", false, false, 0, ""},
      {"multiline ^ after a final line feed", "^", "a\n", false, true, 2, ""},
      {"dot stops at a line feed", "a.b", "a\nb", false, true, 0, ""},
      {"dot takes a carriage return", "a.b", "a\rb", false, true, 1, "a\rb"},
      {"lazy quantifier", "<.+?>", "<a><b>", false, true, 2, "<a>"},
      {"alternation and groups", "(?:cat|dog)s?", "dogs cat", false, true, 2, "dogs"},
      {"\\w is ASCII only", "\\w+", Cat({kZhongWen, "ab_9"}), false, true, 1, "ab_9"},
      {"\\d is ASCII only", "\\d", Cat({kFullWidthOne, "7"}), false, true, 1, "7"},
      {"[^\\w] takes a double-byte character whole", "[^\\w]", Cat({"a", kZhong}), false, true, 1,
       std::string(kZhong)},
      {"dot takes a double-byte character whole", "^.$", std::string(kZhong), false, true, 1,
       std::string(kZhong)},
      {"\\s", "\\s+", "a \t\r\nb", false, true, 1, " \t\r\n"},
      {"\\b at ASCII word edges", "\\bab\\b", "ab abc", false, true, 1, "ab"},
      {"\\xHH", "\\x41", "zA", true, true, 1, "A"},
      {"\\uXXXX", "\\u4E2D", Cat({"a", kZhong}), true, true, 1, std::string(kZhong)},
      {"\\u range in a class", "[\\u4e00-\\u9fa5]+", Cat({"ab", kZhongWen, "c"}), true, true, 1,
       std::string(kZhongWen)},
      {"outside \\x00-\\xff", "[^\\x00-\\xff]", Cat({"a", kZhong}), true, true, 1,
       std::string(kZhong)},
      {"\\v is the vertical tab", "\\v", "\n\x0B", true, true, 1, "\x0B"},
      {"\\Q is a plain Q", "\\Qa", "Qa", true, true, 1, "Qa"},
      {"unknown escape is its letter", "\\j", "j", true, true, 1, "j"},
      {"hyphen after \\w in a class", "[\\w-]+", "a-b c", false, true, 2, "a-b"},
      {"hyphen between \\w and a letter in a class", "[\\w-z]+", "a-z", false, true, 1, "a-z"},
      {"[ inside a class", "[[:a]+", "[:a", false, true, 1, "[:a"},
      {"empty class matches nothing", "a[]", "a", false, true, 0, ""},
      {"[^] matches a line feed", "a[^]b", "a\nb", false, true, 1, "a\nb"},
      {"back reference to an unset group is empty", "(x)?\\1y", "y", false, true, 1, "y"},
      {"back reference", "(a+)b\\1", "aabaa", false, true, 1, "aabaa"},
      {"bounded repeat", "a{2}", "aaaaa", false, true, 2, "aa"},
      {"lookahead", "a(?!b)", "abac", false, true, 1, "a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RegexObject regex;
    ASSERT_TRUE(regex.Search(c.pattern, c.subject, c.caseSensitive, c.multiline));
    EXPECT_EQ(regex.MatchCount(), c.count);
    EXPECT_EQ(regex.MatchText(1), c.first);
  }
}

TEST(RegexObject, EmptyMatchesAdvanceInGlobalMode) {
  struct Case {
    const char* pattern;
    std::string subject;
    int count;
    std::string replaced;  // every match replaced by "-"
  };
  const std::vector<Case> cases = {
      {"x*", "abc", 4, "-a-b-c-"},
      {"", "ab", 3, "-a-b-"},
      {"b*", "ab", 3, "-a--"},
      {"x*", std::string(kZhongWen), 3, Cat({"-", kZhong, "-\xCE\xC4-"})},
      {"^", "a\nb\n", 3, "-a\n-b\n-"},
      {"", "", 1, "-"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    RegexObject regex;
    ASSERT_TRUE(regex.Search(c.pattern, c.subject));
    EXPECT_EQ(regex.MatchCount(), c.count);
    EXPECT_EQ(regex.ReplaceMatches("-"), c.replaced);
  }
}

TEST(RegexObject, ReplaceFollowsTheScriptEngineSyntax) {
  struct Case {
    const char* replacement;
    std::string result;
  };
  // Pattern "(\w+) (\w+)(x)?" over "<John Smith>": groups John, Smith and an unset third.
  const std::vector<Case> cases = {
      {"$2 $1", "<Smith John>"},
      {"[$&]", "<[John Smith]>"},
      {"[$`]", "<[<]>"},
      {"[$']", "<[>]>"},
      {"$$1", "<$1>"},
      {"$3", "<>"},        // an existing group that took no part
      {"$4", "<$4>"},      // beyond the group count: literal
      {"$10", "<John0>"},  // no group 10, so group 1 and a "0"
      {"$01", "<John>"},
      {"$0", "<$0>"},
      {"a$", "<a$>"},
      {"$x", "<$x>"},
      {"", "<>"},
      {"\xD6\xD0$1", "<\xD6\xD0John>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.replacement);
    RegexObject regex;
    ASSERT_TRUE(regex.Search("(\\w+) (\\w+)(x)?", "<John Smith>"));
    EXPECT_EQ(regex.ReplaceMatches(c.replacement), c.result);
  }
}

TEST(RegexObject, ReplaceTwoDigitGroups) {
  RegexObject regex;
  ASSERT_TRUE(regex.Search("(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)", "abcdefghijk"));
  EXPECT_EQ(regex.ReplaceMatches("$11$10$1"), "kja");
}

TEST(RegexObject, ReplaceGlobalOnOrOff) {
  RegexObject regex;
  const std::string subject = Cat({kZhongWen, " a1 b22 c333"});
  ASSERT_TRUE(regex.Search("\\d+", subject));
  EXPECT_EQ(regex.ReplaceMatches("<$&>"), Cat({kZhongWen, " a<1> b<22> c<333>"}));
  ASSERT_TRUE(regex.Search("\\d+", subject, false, true, /*global=*/false));
  EXPECT_EQ(regex.ReplaceMatches("<$&>"), Cat({kZhongWen, " a<1> b22 c333"}));
  EXPECT_EQ(regex.ReplaceMatches(), Cat({kZhongWen, " a b22 c333"}));
}

TEST(RegexObject, ReplaceQuotesTurnsThePlaceholderIntoADoubleQuote) {
  const std::string pattern = Cat({"charset=", kQuotePlaceholder, "(\\w+)", kQuotePlaceholder});
  RegexObject regex;
  ASSERT_TRUE(regex.Search(pattern, "<meta charset=\"gbk\">", false, true, true, true));
  EXPECT_EQ(regex.SubMatchText(1, 1), "gbk");
  EXPECT_EQ(regex.CurrentPattern(), "charset=\"(\\w+)\"");

  ASSERT_TRUE(regex.Search(pattern, "<meta charset=\"gbk\">"));
  EXPECT_EQ(regex.MatchCount(), 0);
  EXPECT_EQ(regex.CurrentPattern(), pattern);
  const std::string literal = Cat({"charset=", kQuotePlaceholder, "gbk", kQuotePlaceholder});
  ASSERT_TRUE(regex.Search(pattern, literal));
  EXPECT_EQ(regex.SubMatchText(1, 1), "gbk");
}

TEST(RegexObject, RunawayBacktrackingEndsWithFalse) {
  RegexObject regex;
  const std::string subject = std::string(40, 'a') + "!";
  EXPECT_FALSE(regex.Search("^(a|aa)+$", subject, true, false));
  EXPECT_EQ(regex.MatchCount(), 0);
  EXPECT_FALSE(regex.Search("(x+x+)+y", std::string(60, 'x') + "zy"));
  // Each repetition of the group nests one backtracking frame deeper, past the heap limit.
  EXPECT_FALSE(regex.Search("^(?:(a)|b)*c", std::string(2'000'000, 'a') + "c"));
  EXPECT_EQ(regex.SubMatchText(1, 1), "");
}

TEST(RegexObject, SeparateObjectsRunOnSeveralThreads) {
  const std::string page = Cat({kZhongWen, "<meta charset='utf-8'>", kZhongWen, "x1 y22"});
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      RegexObject regex;
      for (int i = 0; i < 200; ++i) {
        int position = 0;
        const bool ok = regex.Search(kCharsetPattern, page) &&
                        regex.SubMatchText(1, 1, &position) == "utf-8" && position == 19 &&
                        regex.Search("\\d+", page) && regex.MatchCount() == 3 &&
                        regex.ReplaceMatches("#") ==
                            Cat({kZhongWen, "<meta charset='utf-#'>", kZhongWen, "x# y#"});
        if (!ok) ++failures[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
}

}  // namespace
}  // namespace korvanel
