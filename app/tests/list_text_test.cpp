#include "app/list_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvanel {
namespace {

// "已签收" (signed for) in code page 936.
constexpr const char* kSigned = "\xD2\xD1\xC7\xA9\xCA\xD5";

MemoryReportList ListOf(const std::vector<MemoryReportList::Row>& rows) {
  MemoryReportList list;
  for (const auto& cells : rows) {
    const int row = list.AddRow();
    for (int column = 0; column < kColumnCount; ++column) {
      list.SetCellText(row, column, cells[column]);
    }
  }
  return list;
}

std::vector<Text> Numbers(const MemoryReportList& list) {
  std::vector<Text> numbers;
  for (const auto& row : list.Rows()) numbers.push_back(row[kNumberColumn]);
  return numbers;
}

TEST(ListText, MenuCaptionsAreTheToolsOwnTexts) {
  EXPECT_EQ(kCopyRowCaption, "\xB8\xB4\xD6\xC6");                  // "复制"
  EXPECT_EQ(kCopyAllCaption, "\xC8\xAB\xB2\xBF\xB8\xB4\xD6\xC6");  // "全部复制"
  EXPECT_EQ(kExportCaption, "\xB5\xBC\xB3\xF6...");                // "导出..."
}

TEST(TabSeparatedCell, QuotesWhatWouldSplitACellInASpreadsheet) {
  const struct {
    const char* cell;
    const char* written;
  } cases[] = {
      {"", ""},
      {"SF1001", "SF1001"},
      {" spaced ", " spaced "},
      {"a,b", "a,b"},
      {"say \"hi\"", "say \"hi\""},
      {"a\tb", "\"a\tb\""},
      {"first\r\nsecond", "\"first\r\nsecond\""},
      {"lone\nfeed", "\"lone\nfeed\""},
      {"lone\rreturn", "\"lone\rreturn\""},
      {"tab\tand \"quote\"", "\"tab\tand \"\"quote\"\"\""},
      {"\"leading quote", "\"\"\"leading quote\""},
      // A backslash as the second byte of a character ("\xD5\x5C") is no separator.
      {"\xD5\x5C", "\xD5\x5C"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cell);
    EXPECT_EQ(TabSeparatedCell(c.cell), c.written);
  }
}

TEST(TabSeparatedRow, OneLineOfThreeCells) {
  const MemoryReportList list = ListOf({{"SF1001", "2024-05-01  10:22:33", kSigned},
                                        {"B2", "  ", ""},
                                        {"C3", "", "line\r\nbreak"}});
  const struct {
    int row;
    std::string line;
  } cases[] = {
      {0, std::string("SF1001\t2024-05-01  10:22:33\t") + kSigned + "\r\n"},
      {1, "B2\t  \t\r\n"},  // a failed query's cells, as the list shows them
      {2, "C3\t\t\"line\r\nbreak\"\r\n"},
      {-1, ""},
      {3, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.row);
    EXPECT_EQ(TabSeparatedRow(list, c.row), c.line);
  }
}

TEST(TabSeparatedRows, HeaderThenEveryRow) {
  const Text header =
      "\xB5\xA5\xBA\xC5\t\xD4\xCB\xCA\xE4\xCA\xB1\xBC\xE4\t"
      "\xD7\xEE\xD0\xC2\xD4\xCB\xCA\xE4\xD0\xC5\xCF\xA2\r\n";  // "单号	运输时间	最新运输信息"
  EXPECT_EQ(TabSeparatedRows(MemoryReportList()), header);
  const MemoryReportList list = ListOf({{"A1", "t1", "e1"}, {"", "", ""}, {"C3", "t3", "e\t3"}});
  EXPECT_EQ(TabSeparatedRows(list), header + "A1\tt1\te1\r\n\t\t\r\nC3\tt3\t\"e\t3\"\r\n");
}

TEST(ListPastedNumbers, OneNumberPerLineAsTheImportListsThem) {
  const struct {
    const char* name;
    std::string text;
    std::vector<Text> numbers;
  } cases[] = {
      {"empty", "", {}},
      {"one without a line end", "A1", {"A1"}},
      {"CR LF", "A1\r\nB2\r\n", {"A1", "B2"}},
      {"LF", "A1\nB2\n", {"A1", "B2"}},
      {"mixed, last line open", "A1\r\nB2\nC3", {"A1", "B2", "C3"}},
      {"two line ends make an empty number", "A1\r\n\r\nB2", {"A1", "", "B2"}},
      {"only a line end", "\r\n", {""}},
      {"empty last line kept before the final end", "A1\n\n", {"A1", ""}},
      {"spaces kept", " A1 \r\n\tB2\t\n", {" A1 ", "\tB2\t"}},
      {"a lone CR is part of the number", "A1\rB2\n", {"A1\rB2"}},
      {"ends at Ctrl-Z", "A1\nB2\x1A" "C3\n", {"A1", "B2"}},
      {"ends at NUL", std::string("A1\nB2\0C3\n", 9), {"A1", "B2"}},
      {"double-byte numbers", "\xB2\xE2\xCA\xD4\r\n", {"\xB2\xE2\xCA\xD4"}},  // "测试"
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ListPastedNumbers(c.text), c.numbers);
  }
}

TEST(PasteWaybills, AppendsAfterTheRowsThereAsAnImportDoes) {
  MemoryReportList list = ListOf({{"OLD", "t", "e"}});
  EXPECT_EQ(PasteWaybills(u"A1\r\n B2 \n\n", list), 3);
  EXPECT_EQ(Numbers(list), (std::vector<Text>{"OLD", "A1", " B2 ", ""}));
  for (int row = 1; row < list.RowCount(); ++row) {
    EXPECT_EQ(list.GetCellText(row, kTimeColumn), "");
    EXPECT_EQ(list.GetCellText(row, kEventColumn), "");
  }
  EXPECT_EQ(list.GetCellText(0, kTimeColumn), "t");
  EXPECT_EQ(PasteWaybills(u"", list), 0);
  EXPECT_EQ(list.RowCount(), 4);
}

TEST(PasteWaybills, ConvertsToCodePage936WithQuestionMarksForTheRest) {
  MemoryReportList list;
  // "测试单号" converts; the emoji (a surrogate pair) and the Hangul syllable have no code page
  // 936 form and become "?", and their rows are still added.
  EXPECT_EQ(PasteWaybills(u"\u6D4B\u8BD5\u5355\u53F7\nA\U0001F600B\n\uAC00\n", list), 3);
  EXPECT_EQ(Numbers(list), (std::vector<Text>{"\xB2\xE2\xCA\xD4\xB5\xA5\xBA\xC5", "A??B", "?"}));
}

}  // namespace
}  // namespace korvanel
