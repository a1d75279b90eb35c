#include "app/import.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace korvanel {
namespace {

// A dialog that plays a script: each Run takes the next answer (a path for OK, nullopt for
// cancel) and keeps the path of the last OK, as the real dialog does.
class ScriptedFileDialog : public FileDialog {
 public:
  void Answer(std::optional<Text> path) { m_answers.push_back(std::move(path)); }
  bool Run() override {
    ++runs;
    if (m_answers.empty()) return false;
    std::optional<Text> answer = m_answers.front();
    m_answers.pop_front();
    if (!answer) return false;
    m_kept = *answer;
    return true;
  }
  Text KeptPath() const override { return m_kept; }
  int runs = 0;

 private:
  std::deque<std::optional<Text>> m_answers;
  Text m_kept;
};

class RecordingEditBox : public EditBox {
 public:
  void SetText(std::string_view text) override {
    m_text = Text(text);
    written.push_back(m_text);
  }
  Text GetText() const override { return m_text; }
  std::vector<Text> written;

 private:
  Text m_text;
};

std::vector<Text> Numbers(const MemoryReportList& list) {
  std::vector<Text> numbers;
  for (const auto& row : list.Rows()) numbers.push_back(row[kNumberColumn]);
  return numbers;
}

class ImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = std::filesystem::temp_directory_path() /
            ("app_import_test_" + std::to_string(::getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(m_dir);
  }
  void TearDown() override { std::filesystem::remove_all(m_dir); }

  Text WriteFile(const std::string& name, const std::string& bytes) {
    const auto path = m_dir / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }

  ScriptedFileDialog m_dialog;
  RecordingEditBox m_editBox;
  MemoryReportList m_list;

 private:
  std::filesystem::path m_dir;
};

TEST_F(ImportTest, OneRowPerCrLfLine) {
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<Text> numbers;
  };
  const std::vector<Case> cases = {
      {"crlf", "A1\r\nB2\r\n", {"A1", "B2"}},
      {"no final line end", "A1\r\nB2", {"A1", "B2"}},
      {"empty line", "A1\r\n\r\nB2", {"A1", "", "B2"}},
      {"lf only", "A1\nB2\n", {"A1\nB2\n"}},
      {"lone cr", "A1\rB2", {"A1\rB2"}},
      {"spaces kept", " A1 \r\nB2", {" A1 ", "B2"}},
      {"only crlf", "\r\n", {""}},
      {"empty file", "", {}},
      {"nul ends the text", std::string("A1\r\nB2\0\r\nC3\r\n", 12), {"A1", "B2"}},
      {"ctrl-z ends the text",
       "A1\r\n\x1A"
       "B2\r\n",
       {"A1"}},
      {"gbk number",
       "\xB5\xA5\xBA\xC5"
       "1\r\n",
       {"\xB5\xA5\xBA\xC5"
        "1"}},  // "单号1"
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryReportList list;
    ScriptedFileDialog dialog;
    dialog.Answer(WriteFile("list.txt", c.bytes));
    ImportWaybills(dialog, m_editBox, list);
    EXPECT_EQ(Numbers(list), c.numbers);
    for (const auto& row : list.Rows()) {
      EXPECT_EQ(row[kTimeColumn], "");
      EXPECT_EQ(row[kEventColumn], "");
    }
  }
}

TEST(ListWaybillNumbers, SplitsAtCrLfOnly) {
  EXPECT_EQ(ListWaybillNumbers("A1\r\n\r\n B2\nC3 \r\n"),
            (std::vector<Text>{"A1", "", " B2\nC3 "}));
  EXPECT_TRUE(ListWaybillNumbers("").empty());
}

TEST_F(ImportTest, AppendsAfterExistingRows) {
  for (const char* number : {"X", "Y", "Z"}) m_list.SetCellText(m_list.AddRow(), 0, number);
  m_dialog.Answer(WriteFile("list.txt", "A1\r\nB2\r\n"));
  ImportWaybills(m_dialog, m_editBox, m_list);
  EXPECT_EQ(Numbers(m_list), (std::vector<Text>{"X", "Y", "Z", "A1", "B2"}));
}

TEST_F(ImportTest, CancelBeforeAnyOkAddsNothingAndEmptiesTheBox) {
  m_dialog.Answer(std::nullopt);
  ImportWaybills(m_dialog, m_editBox, m_list);
  EXPECT_EQ(m_dialog.runs, 1);
  EXPECT_EQ(m_list.RowCount(), 0);
  EXPECT_EQ(m_editBox.written, (std::vector<Text>{""}));
}

TEST_F(ImportTest, CancelAfterAnOkListsTheKeptFileAgain) {
  const Text path = WriteFile("list.txt", "A1\r\nB2\r\n");
  m_dialog.Answer(path);
  m_dialog.Answer(std::nullopt);
  ImportWaybills(m_dialog, m_editBox, m_list);
  ImportWaybills(m_dialog, m_editBox, m_list);
  EXPECT_EQ(Numbers(m_list), (std::vector<Text>{"A1", "B2", "A1", "B2"}));
  EXPECT_EQ(m_editBox.written, (std::vector<Text>{path, path}));
}

TEST_F(ImportTest, ReadsThePathBackFromTheEditBox) {
  // An edit box that hands back another path than the one written: the box's text wins.
  class RedirectingEditBox : public EditBox {
   public:
    explicit RedirectingEditBox(Text path) : m_path(std::move(path)) {}
    void SetText(std::string_view) override {}
    Text GetText() const override { return m_path; }

   private:
    Text m_path;
  };
  RedirectingEditBox editBox(WriteFile("other.txt", "OTHER\r\n"));
  m_dialog.Answer(WriteFile("list.txt", "A1\r\n"));
  ImportWaybills(m_dialog, editBox, m_list);
  EXPECT_EQ(Numbers(m_list), (std::vector<Text>{"OTHER"}));
}

TEST_F(ImportTest, MissingFileAddsNothing) {
  m_dialog.Answer(WriteFile("list.txt", "") + ".missing");
  ImportWaybills(m_dialog, m_editBox, m_list);
  EXPECT_EQ(m_list.RowCount(), 0);
}

TEST(MemoryReportList, MissingCellsReadEmptyAndIgnoreWrites) {
  MemoryReportList list;
  EXPECT_EQ(list.AddRow(), 0);
  EXPECT_EQ(list.AddRow(), 1);
  list.SetCellText(1, 2, "E");
  for (auto [row, column] : {std::pair{-1, 0}, {2, 0}, {0, -1}, {0, 3}}) {
    SCOPED_TRACE(::testing::Message() << row << "," << column);
    list.SetCellText(row, column, "X");
    EXPECT_EQ(list.GetCellText(row, column), "");
  }
  EXPECT_EQ(list.RowCount(), 2);
  EXPECT_EQ(list.Rows()[0], (MemoryReportList::Row{"", "", ""}));
  EXPECT_EQ(list.Rows()[1], (MemoryReportList::Row{"", "", "E"}));
}

}  // namespace
}  // namespace korvanel
