#include <gtest/gtest.h>

#include "app/records/record_writer.h"
#include "tests/support/temp_dir.h"
#include "zip_reader.h"

namespace korvanel::cli {
namespace {

TEST(XlsxWriter, OneSheetOfStringsWithABoldHeaderAndFittedWidths) {
  test_support::TempDir dir;
  const std::string path = dir.File("book.xlsx");
  auto writer = MakeXlsxWriter(path);
  writer->Begin();
  // "已签收" (signed for); a number that a spreadsheet would otherwise take for a number.
  writer->Add({"0012345", "2025-03-12  16:42:10", "\xD2\xD1\xC7\xA9\xCA\xD5", true, "", "200 OK"});
  // Longer than a cell can hold: cut at Excel's limit rather than refused.
  writer->Add({"LONG", "", std::string(40'000, 'x'), true, "", "200 OK"});
  std::string error;
  ASSERT_TRUE(writer->End(&error)) << error;

  const auto members = test_support::ReadZip(test_support::ReadFile(path));
  ASSERT_TRUE(members.count("xl/worksheets/sheet1.xml"));
  EXPECT_FALSE(members.count("xl/worksheets/sheet2.xml"));
  const std::string& strings = members.at("xl/sharedStrings.xml");
  const std::string& sheet = members.at("xl/worksheets/sheet1.xml");
  EXPECT_NE(strings.find("<t>0012345</t>"), std::string::npos);
  EXPECT_NE(strings.find("<t>\xE5\xB7\xB2\xE7\xAD\xBE\xE6\x94\xB6</t>"), std::string::npos);
  EXPECT_NE(strings.find("<t>" + std::string(32767, 'x') + "</t>"), std::string::npos);
  EXPECT_EQ(strings.find(std::string(32768, 'x')), std::string::npos);
  // Every cell is a string ("s"), none a number or formula.
  EXPECT_EQ(sheet.find("<f>"), std::string::npos);
  EXPECT_NE(sheet.find("<c r=\"A2\" t=\"s\">"), std::string::npos) << sheet;
  EXPECT_NE(members.at("xl/styles.xml").find("<b/>"), std::string::npos);
  EXPECT_NE(sheet.find("<pane ySplit=\"1\""), std::string::npos);  // the header stays in view
  // Widths: the widest cell and a margin (7 + 2, 20 + 2), the event column capped.
  EXPECT_NE(sheet.find("<col min=\"1\" max=\"1\" width=\"9.7109375\""), std::string::npos);
  EXPECT_NE(sheet.find("<col min=\"2\" max=\"2\" width=\"22.7109375\""), std::string::npos);
  EXPECT_NE(sheet.find("<col min=\"3\" max=\"3\" width=\"80.7109375\""), std::string::npos);
}

TEST(XlsxWriter, TellsWhenTheWorkbookCannotBeWritten) {
  test_support::TempDir dir;
  auto writer = MakeXlsxWriter(dir.File("no/such/folder/book.xlsx"));
  writer->Begin();
  writer->Add({"A1", "", "", true, "", "200 OK"});
  std::string error;
  EXPECT_FALSE(writer->End(&error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace korvanel::cli
