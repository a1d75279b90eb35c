#include "app/cli/waybill_input.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace korvanel::cli {
namespace {

using test_support::TempDir;

TEST(WithCrLfLineEnds, OnlyLoneLineFeedsChange) {
  const struct {
    const char* text;
    const char* result;
  } cases[] = {
      {"", ""},
      {"A1", "A1"},
      {"A1\nB2\n", "A1\r\nB2\r\n"},
      {"A1\r\nB2\r\n", "A1\r\nB2\r\n"},
      {"\n\n", "\r\n\r\n"},
      {"A1\r\nB2\nC3", "A1\r\nB2\r\nC3"},
      {"A1\rB2", "A1\rB2"},  // a lone CR is part of the number, as in the desktop import
      {"A1\r\r\nB2", "A1\r\r\nB2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(WithCrLfLineEnds(c.text), c.result);
  }
}

TEST(ReadWaybillList, SplitsLikeTheImportAndAcceptsLinuxLineEnds) {
  TempDir dir;
  const struct {
    const char* name;
    std::string bytes;
    TextArray numbers;
  } cases[] = {
      {"windows", "A1\r\nB2\r\n", {"A1", "B2"}},
      {"linux", "A1\nB2\n", {"A1", "B2"}},
      {"blank line", "A1\r\n\r\nB2", {"A1", "", "B2"}},
      {"spaces kept", " A1 \n", {" A1 "}},
      {"empty", "", {}},
      {"stops at NUL", std::string("A1\nB2\n\0C3\n", 10), {"A1", "B2"}},
      {"stops at Ctrl-Z",
       "A1\n\x1A"
       "B2\n",
       {"A1"}},
      {"no byte-order mark handling",
       "\xEF\xBB\xBF"
       "A1\n",
       {"\xEF\xBB\xBF"
        "A1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TextArray numbers = {"left over"};
    std::string error;
    ASSERT_TRUE(ReadWaybillList(dir.Write(c.name, c.bytes), &numbers, &error)) << error;
    EXPECT_EQ(numbers, c.numbers);
  }
}

TEST(ReadWaybillList, ReadsAFileWhoseNameIsNotCodePage936) {
  TempDir dir;
  // "清单😀.txt": the emoji has no code page 936 form.
  const std::string path = dir.Write("\xE6\xB8\x85\xE5\x8D\x95\xF0\x9F\x98\x80.txt", "A1\n");
  TextArray numbers;
  std::string error;
  ASSERT_TRUE(ReadWaybillList(path, &numbers, &error)) << error;
  EXPECT_EQ(numbers, TextArray{"A1"});
}

TEST(ReadWaybillList, TellsWhyAFileCannotBeRead) {
  TempDir dir;
  TextArray numbers;
  std::string error;
  EXPECT_FALSE(ReadWaybillList(dir.File("missing.txt"), &numbers, &error));
  EXPECT_EQ(error, "No such file or directory");
  EXPECT_FALSE(ReadWaybillList(dir.path().string(), &numbers, &error));
  EXPECT_EQ(error, "Is a directory");
}

}  // namespace
}  // namespace korvanel::cli
