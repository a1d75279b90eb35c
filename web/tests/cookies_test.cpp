#include "web/cookies.h"

#include <gtest/gtest.h>

namespace korvanel {
namespace {

struct MergeCase {
  std::string_view oldCookies;
  std::string_view newCookies;
  std::string_view merged;
};

TEST(MergeCookies, ResponseFirstThenUnnamedRequestCookies) {
  const MergeCase cases[] = {
      {"sid=abc; lang=en; theme=dark", "lang=zh; sid=deleted", "lang=zh; theme=dark"},
      {"a=1", "", "a=1"},
      {"", "a=1", "a=1"},
      {"a=1; a=2", "", "a=1"},
      {"a=1", "a=2; a=3", "a=2; a=3"},
      {"a=1", "b=2; b=2", "b=2; a=1"},
      {"a=1; b=2", "a=deleted", "b=2"},
      {"a=1; b=2", "a=Deleted", "a=Deleted; b=2"},
      {"a=deleted; b=2", "c=3", "c=3; b=2"},
      {"a=1;", "b=2;", "b=2; a=1"},
      {"  a=1;  ", " b=2 ", "b=2; a=1"},
      {"a=1; ", "b=2; ", "b=2; a=1"},
      {"A=1", "a=2", "a=2; A=1"},
      {"y = 1", "y=2", "y=2"},
      {"z = 3", "y=2", "y=2; z = 3"},
      {"flag", "flag=1", "flag=1"},
      {"a=1;b=2", "b=3", "b=3; a=1;b=2"},
      {"a=1; ; ; b=2", "", "a=1; ; b=2"},
      {"a=deleted", "b=deleted", ""},
      {"", "", ""},
      {"   ", "   ", ""},
      // Full-width spaces trim like ASCII ones; a tab does not.
      {"\xA1\xA1"
       "a=1\xA1\xA1",
       "", "a=1"},
      {"a=1\t", "", "a=1\t"},
  };
  for (const MergeCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "old: " << testing::PrintToString(c.oldCookies)
                                    << " new: " << testing::PrintToString(c.newCookies));
    Text oldCookies(c.oldCookies);
    Text newCookies(c.newCookies);
    EXPECT_EQ(MergeCookies(oldCookies, newCookies), c.merged);
    EXPECT_EQ(oldCookies, c.merged);
  }
}

TEST(MergeCookies, LeavesNewCookiesTrimmedWithAFinalSemicolonMadeASeparator) {
  const struct {
    std::string_view newCookies;
    std::string_view after;
  } cases[] = {
      {"  b=2  ", "b=2"},
      {"b=2;", "b=2; "},
      {" b=2; ", "b=2; "},
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "new: " << testing::PrintToString(c.newCookies));
    Text oldCookies = "a=1";
    Text newCookies(c.newCookies);
    MergeCookies(oldCookies, newCookies);
    EXPECT_EQ(newCookies, c.after);
  }
}

TEST(MergeCookies, TrailBytesNeverSplitOrEndAnItem) {
  // 0x81 0x3B is one character whose trail byte equals ";", 0x81 0x3D one that ends in "=".
  const MergeCase cases[] = {
      // The value's last character is not a ";": no space is added to it.
      {"a=\x81;", "", "a=\x81;"},
      // "\x81; " is a character and a space, not a separator: the old text is one item.
      {"a=\x81; b=2", "b=3", "b=3; a=\x81; b=2"},
      // The "=" inside 0x81 0x3D is no name end, and "deleted" after it is no deletion.
      {"k\x81=deleted", "", "k\x81=deleted"},
      {"k\x81=1", "k\x81=2", "k\x81=2; k\x81=1"},
      // Double-byte names and values merge like ASCII ones.
      {"\xC3\xFB=\xBE\xC9; x=1", "\xC3\xFB=\xD0\xC2", "\xC3\xFB=\xD0\xC2; x=1"},
      {"\xC3\xFB=1", "\xC3\xFB=deleted", ""},
  };
  for (const MergeCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "old: " << testing::PrintToString(c.oldCookies)
                                    << " new: " << testing::PrintToString(c.newCookies));
    Text oldCookies(c.oldCookies);
    Text newCookies(c.newCookies);
    EXPECT_EQ(MergeCookies(oldCookies, newCookies), c.merged);
  }
}

TEST(CookieName, TextBeforeFirstEqualsWithoutSurroundingSpaces) {
  const struct {
    std::string_view item;
    std::string_view name;
  } cases[] = {
      {"a=1", "a"},
      {" y = 1", "y"},
      {"flag", "flag"},
      {" flag ", "flag"},
      {"=v", ""},
      {"", ""},
      {"a=b=c", "a"},
      {"a b=1", "a b"},
      {"\xC3\xFB=1", "\xC3\xFB"},
      {"k\x81=1", "k\x81=1"},
      {"\xA1\xA1k\xA1\xA1=1", "k"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "item: " << testing::PrintToString(c.item));
    EXPECT_EQ(CookieName(c.item), c.name);
  }
}

TEST(HasCookieNamed, ComparesNamesExactly) {
  const TextArray list = {"a=1", " b = 2", "flag"};
  EXPECT_TRUE(HasCookieNamed(list, "a"));
  EXPECT_TRUE(HasCookieNamed(list, "b"));
  EXPECT_TRUE(HasCookieNamed(list, "flag"));
  EXPECT_FALSE(HasCookieNamed(list, "A"));
  EXPECT_FALSE(HasCookieNamed(list, "a=1"));
  EXPECT_FALSE(HasCookieNamed(list, ""));
  EXPECT_FALSE(HasCookieNamed({}, ""));
  EXPECT_TRUE(HasCookieNamed({"=x"}, ""));
}

TEST(RemoveDuplicateItems, KeepsFirstOfEachByteEqualItem) {
  const struct {
    std::string_view text;
    std::string_view separator;
    std::string_view result;
  } cases[] = {
      {"", "; ", ""},
      {"a=1", "; ", "a=1"},
      {"a=1; a=1", "; ", "a=1"},
      {"b=2; a=1; b=2; A=1", "; ", "b=2; a=1; A=1"},
      {"a; ; ; b; ", "; ", "a; ; b"},
      {"x,y,x,,", ",", "x,y,"},
      {"\xC3\xFB; \xC3\xFB", "; ", "\xC3\xFB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "text: " << testing::PrintToString(c.text));
    EXPECT_EQ(RemoveDuplicateItems(c.text, c.separator), c.result);
  }
}

TEST(IndexOfItem, FirstExactlyEqualItem) {
  const TextArray list = {"a", "", "b", "a"};
  EXPECT_EQ(IndexOfItem(list, "a"), 1);
  EXPECT_EQ(IndexOfItem(list, ""), 2);
  EXPECT_EQ(IndexOfItem(list, "b"), 3);
  EXPECT_EQ(IndexOfItem(list, "A"), -1);
  EXPECT_EQ(IndexOfItem({}, ""), -1);
}

}  // namespace
}  // namespace korvanel
