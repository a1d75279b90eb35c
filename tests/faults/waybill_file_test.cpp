// Waybill files far from the usual: a million lines, one line of a mebibyte, bytes that are
// not valid code page 936. Each is imported exactly as the import rules say: one row per
// CR LF separated line, at character starts only, up to a NUL or 0x1A.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/import.h"
#include "app/report_list.h"
#include "tests/faults/fault_support.h"

namespace korvanel::faults {
namespace {

class PathDialog : public FileDialog {
 public:
  explicit PathDialog(std::string path) : m_path(std::move(path)) {}
  bool Run() override { return true; }
  Text KeptPath() const override { return m_path; }

 private:
  std::string m_path;
};

class PlainEditBox : public EditBox {
 public:
  void SetText(std::string_view text) override { m_text = text; }
  Text GetText() const override { return m_text; }

 private:
  Text m_text;
};

std::vector<Text> Import(const std::string& path) {
  PathDialog dialog(path);
  PlainEditBox box;
  MemoryReportList list;
  ImportWaybills(dialog, box, list);
  std::vector<Text> numbers;
  for (const MemoryReportList::Row& row : list.Rows()) {
    EXPECT_EQ(row[kTimeColumn], "");
    EXPECT_EQ(row[kEventColumn], "");
    numbers.push_back(row[kNumberColumn]);
  }
  return numbers;
}

std::string Number(int i) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "SF%07d", i);
  return buf;
}

TEST(WaybillFile, AMillionLinesGiveAMillionRowsInOrder) {
  TempDir dir;
  constexpr int kLines = 1'000'000;
  std::string bytes;
  bytes.reserve(kLines * 11);
  for (int i = 0; i < kLines; ++i) bytes += Number(i) + "\r\n";
  WriteFile(dir.File("million.txt"), bytes);

  const std::vector<Text> numbers = Import(dir.File("million.txt"));
  ASSERT_EQ(numbers.size(), static_cast<size_t>(kLines));
  for (int i : {0, 1, 499'999, 999'998, 999'999}) EXPECT_EQ(numbers[i], Number(i));
  std::size_t mismatches = 0;
  for (int i = 0; i < kLines; ++i) mismatches += numbers[i] != Number(i);
  EXPECT_EQ(mismatches, 0u);
}

TEST(WaybillFile, OneMebibyteOnOneLineIsOneRow) {
  TempDir dir;
  // Lone LF and CR are not line ends, so all of this is one number.
  std::string line;
  while (line.size() < (1u << 20)) line += "SF1234567890\nYT\r";
  line.resize(1u << 20);
  for (const std::string& ending : {std::string(), std::string("\r\n")}) {
    SCOPED_TRACE(ending.empty() ? "no line end" : "CR LF at the end");
    WriteFile(dir.File("long.txt"), line + ending);
    const std::vector<Text> numbers = Import(dir.File("long.txt"));
    ASSERT_EQ(numbers.size(), 1u);
    EXPECT_EQ(numbers[0], line);
  }
}

TEST(WaybillFile, GbkAndInvalidBytesAreListedByteForByte) {
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<Text> rows;
  };
  const Case cases[] = {
      {"Chinese number",
       "\xD6\xD0\xCE\xC4"
       "001\r\n",  // "中文001"
       {"\xD6\xD0\xCE\xC4"
        "001"}},
      // The last lead byte takes the CR of the final CR LF, which then ends nothing.
      {"bytes that are no GBK character",
       "\xFF\xFF\r\n\x81 x\r\n\x80\r\n",
       {"\xFF\xFF", "\x81 x", "\x80\r\n"}},
      // A lead byte takes the CR after it as its second byte, so that CR LF ends no line.
      {"lead byte before CR LF", "A\x81\r\nB\r\nC\r\n", {"A\x81\r\nB", "C"}},
      // 0x1A ends the list only where a character starts.
      {"0x1A as a second byte, then at a character start",
       "\x81\x1Az\r\nD1\r\n\x1A"
       "E1\r\n",
       {"\x81\x1Az", "D1"}},
      // A NUL in place of a second byte ends the list before its lead byte.
      {"NUL after a lead byte", std::string("N1\r\nN2\x81\x00N3\r\n", 11), {"N1", "N2"}},
      {"UTF-8 with a byte-order mark, taken as it is",
       "\xEF\xBB\xBFSF1\r\n\xE4\xB8\xAD\r\n",
       {"\xEF\xBB\xBFSF1", "\xE4\xB8\xAD\r\n"}},
      {"empty lines and spaces kept", "\r\n  SF1 \r\n\r\n", {"", "  SF1 ", ""}},
      {"only a 0x1A", "\x1A\r\nSF1\r\n", {}},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(dir.File("list.txt"), c.bytes);
    EXPECT_EQ(Import(dir.File("list.txt")), c.rows);
  }
}

}  // namespace
}  // namespace korvanel::faults
