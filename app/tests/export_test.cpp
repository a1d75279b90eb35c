#include "app/export.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/temp_dir.h"
#include "zip_reader.h"

namespace korvanel {
namespace {

using test_support::ReadFile;
using test_support::ReadZip;
using test_support::TempDir;

constexpr const char* kBom = "\xEF\xBB\xBF";
// "单号,运输时间,最新运输信息" in UTF-8.
constexpr const char* kCsvHeader =
    "\xE5\x8D\x95\xE5\x8F\xB7,\xE8\xBF\x90\xE8\xBE\x93\xE6\x97\xB6\xE9\x97\xB4,"
    "\xE6\x9C\x80\xE6\x96\xB0\xE8\xBF\x90\xE8\xBE\x93\xE4\xBF\xA1\xE6\x81\xAF\r\n";
// "已签收" in code page 936 and in UTF-8.
constexpr const char* kSignedGbk = "\xD2\xD1\xC7\xA9\xCA\xD5";
constexpr const char* kSignedUtf8 = "\xE5\xB7\xB2\xE7\xAD\xBE\xE6\x94\xB6";

std::tm LocalTime(int year, int month, int day, int hour, int minute) {
  std::tm time{};
  time.tm_year = year - 1900;
  time.tm_mon = month - 1;
  time.tm_mday = day;
  time.tm_hour = hour;
  time.tm_min = minute;
  return time;
}

// Rows as the list holds them after a query: a signed one, a failed one (two spaces, as the
// query leaves it) and one whose event a server made to look like a formula.
MemoryReportList QueriedList() {
  MemoryReportList list;
  const MemoryReportList::Row rows[] = {{"SF1001", "2024-05-01  10:22:33", kSignedGbk},
                                        {"B2", "  ", ""},
                                        {"C3", "2024-05-02  08:00:00", "=HYPERLINK(\"x\")"}};
  for (const auto& cells : rows) {
    const int row = list.AddRow();
    for (int column = 0; column < kColumnCount; ++column) {
      list.SetCellText(row, column, cells[column]);
    }
  }
  return list;
}

TEST(ExportFormatForName, ByTheExtensionInAnyCase) {
  const struct {
    const char* name;
    ExportFormat format;
  } cases[] = {
      {"result.xlsx", ExportFormat::kXlsx}, {"/a/b/RESULT.XLSX", ExportFormat::kXlsx},
      {"result.csv", ExportFormat::kCsv},   {"C:\\out\\r.Csv", ExportFormat::kCsv},
      {"result.xls", ExportFormat::kNone},  {"result", ExportFormat::kNone},
      {"xlsx", ExportFormat::kNone},        {"", ExportFormat::kNone},
      {"result.csv.txt", ExportFormat::kNone},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ExportFormatForName(c.name), c.format);
  }
}

TEST(DefaultExportPath, TheDatedNameInTheFolderLastUsed) {
  // "运单查询结果-20250307-0905.xlsx"
  const Text name = "\xD4\xCB\xB5\xA5\xB2\xE9\xD1\xAF\xBD\xE1\xB9\xFB-20250307-0905.xlsx";
  const std::tm time = LocalTime(2025, 3, 7, 9, 5);
  EXPECT_EQ(DefaultExportFileName(time), name);
  EXPECT_EQ(DefaultExportFileName(LocalTime(2024, 12, 31, 23, 59)),
            "\xD4\xCB\xB5\xA5\xB2\xE9\xD1\xAF\xBD\xE1\xB9\xFB-20241231-2359.xlsx");
  const struct {
    const char* lastUsed;
    Text path;
  } cases[] = {
      {"", name},
      {"list.txt", name},
      {"/home/clerk/lists/list.txt", "/home/clerk/lists/" + name},
      {"C:\\Users\\Administrator\\Desktop\\", "C:\\Users\\Administrator\\Desktop\\" + name},
      {"D:\\exports\\old.xlsx", "D:\\exports\\" + name},
      {"/", "/" + name},
      // "表" is "\xB1\xED" and "\xD5\x5C" holds a backslash as its second byte: no separator.
      {"D:\\\xB1\xED\xD5\x5C.txt", "D:\\" + name},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lastUsed);
    EXPECT_EQ(DefaultExportPath(c.lastUsed, time), c.path);
  }
}

TEST(ExportReportList, CsvForASpreadsheetWithEveryRow) {
  TempDir dir;
  const std::string path = dir.File("result.csv");
  ExportFailure failure;
  ASSERT_TRUE(ExportReportList(QueriedList(), path, &failure)) << failure.reason;
  EXPECT_EQ(ReadFile(path), std::string(kBom) + kCsvHeader +
                               "SF1001,2024-05-01  10:22:33," + kSignedUtf8 + "\r\n" +
                               "B2,  ,\r\n" +
                               "C3,2024-05-02  08:00:00,\"'=HYPERLINK(\"\"x\"\")\"\r\n");
  EXPECT_EQ(dir.EntryCount(), 1u);  // no temporary file left beside it
}

TEST(ExportReportList, WorkbookWithEveryRowAsStrings) {
  TempDir dir;
  const std::string path = dir.File("Result.XLSX");
  ExportFailure failure;
  ASSERT_TRUE(ExportReportList(QueriedList(), path, &failure)) << failure.reason;
  const auto members = ReadZip(ReadFile(path));
  ASSERT_TRUE(members.count("xl/sharedStrings.xml")) << "not a workbook";
  const std::string& strings = members.at("xl/sharedStrings.xml");
  for (const char* text : {"\xE5\x8D\x95\xE5\x8F\xB7", "SF1001", kSignedUtf8, "B2",
                           "=HYPERLINK(\"x\")"}) {
    SCOPED_TRACE(text);
    EXPECT_NE(strings.find(text), std::string::npos);
  }
  const std::string& sheet = members.at("xl/worksheets/sheet1.xml");
  EXPECT_EQ(sheet.find("<f>"), std::string::npos);  // no cell is a formula
  EXPECT_NE(sheet.find("r=\"A4\""), std::string::npos);
  EXPECT_EQ(sheet.find("r=\"A5\""), std::string::npos);
  EXPECT_EQ(dir.EntryCount(), 1u);
}

TEST(ExportReportList, AnEmptyListGivesTheHeaderAlone) {
  TempDir dir;
  const std::string path = dir.File("empty.csv");
  ASSERT_TRUE(ExportReportList(MemoryReportList(), path, nullptr));
  EXPECT_EQ(ReadFile(path), std::string(kBom) + kCsvHeader);
}

TEST(ExportReportList, ReplacesAnEarlierFileOnlyWhenComplete) {
  TempDir dir;
  const std::string path = dir.Write("result.csv", "earlier export");
  ASSERT_TRUE(ExportReportList(QueriedList(), path, nullptr));
  EXPECT_EQ(ReadFile(path).substr(0, 3), kBom);
}

TEST(ExportReportList, AFailureNamesTheFileAndTheReasonAndLeavesNoFile) {
  TempDir dir;
  const std::string earlier = dir.Write("earlier.xlsx", "earlier export");
  std::filesystem::create_directory(dir.File("folder.csv"));
  // Names for a device that takes no bytes: the write fails after the output has started.
  const bool full = std::filesystem::exists("/dev/full");
  if (full) {
    std::filesystem::create_symlink("/dev/full", dir.File("full.csv"));
    std::filesystem::create_symlink("/dev/full", dir.File("full.xlsx"));
  }
  const std::size_t entries = dir.EntryCount();
  const struct {
    const char* name;
    std::string path;
  } cases[] = {
      {"folder missing", dir.File("missing/result.xlsx")},
      {"a folder by that name", dir.File("folder.csv")},
      {"neither .xlsx nor .csv", dir.File("result.txt")},
      {"no room for the csv", full ? dir.File("full.csv") : ""},
      {"no room for the workbook", full ? dir.File("full.xlsx") : ""},
  };
  for (const auto& c : cases) {
    if (c.path.empty()) continue;
    SCOPED_TRACE(c.name);
    ExportFailure failure;
    EXPECT_FALSE(ExportReportList(QueriedList(), c.path, &failure));
    EXPECT_EQ(failure.file, c.path);
    EXPECT_FALSE(failure.reason.empty());
  }
  EXPECT_EQ(dir.EntryCount(), entries);  // nothing new, no temporary file left
  EXPECT_EQ(ReadFile(earlier), "earlier export");
}

}  // namespace
}  // namespace korvanel
