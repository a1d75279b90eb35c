#include "app/records/record_writer.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace korvanel::cli {
namespace {

// "711 发送请求失败!", the request routine's message for a send that failed.
constexpr const char* kSendFailed = "711 \xB7\xA2\xCB\xCD\xC7\xEB\xC7\xF3\xCA\xA7\xB0\xDC!";
// "已签收" (signed for), in code page 936 and in UTF-8.
constexpr const char* kSignedGbk = "\xD2\xD1\xC7\xA9\xCA\xD5";
constexpr const char* kSignedUtf8 = "\xE5\xB7\xB2\xE7\xAD\xBE\xE6\x94\xB6";

Record Delivered() { return {"SF1001", "2024-05-01  10:22:33", kSignedGbk, true, "", "200 OK"}; }
Record SendFailed() { return {"SF1002", "", "", false, kSendFailed, ""}; }

std::string Write(OutputFormat format, OutputEncoding encoding, bool bom,
                  const std::vector<Record>& records) {
  std::string out;
  auto writer = MakeTextWriter(format, encoding, bom, &out);
  writer->Begin();
  for (const auto& record : records) writer->Add(record);
  std::string error;
  EXPECT_TRUE(writer->End(&error)) << error;
  return out;
}

TEST(CsvWriter, HeaderRowAndRecordsInBothEncodings) {
  EXPECT_EQ(Write(OutputFormat::kCsv, OutputEncoding::kUtf8, false, {Delivered(), SendFailed()}),
            "\xE5\x8D\x95\xE5\x8F\xB7,\xE8\xBF\x90\xE8\xBE\x93\xE6\x97\xB6\xE9\x97\xB4,"
            "\xE6\x9C\x80\xE6\x96\xB0\xE8\xBF\x90\xE8\xBE\x93\xE4\xBF\xA1\xE6\x81\xAF\r\n"
            "SF1001,2024-05-01  10:22:33," +
                std::string(kSignedUtf8) +
                "\r\n"
                "SF1002,,\r\n");
  // The header "单号,运输时间,最新运输信息" byte for byte in code page 936.
  EXPECT_EQ(Write(OutputFormat::kCsv, OutputEncoding::kGbk, false, {Delivered()}),
            "\xB5\xA5\xBA\xC5,\xD4\xCB\xCA\xE4\xCA\xB1\xBC\xE4,"
            "\xD7\xEE\xD0\xC2\xD4\xCB\xCA\xE4\xD0\xC5\xCF\xA2\r\n"
            "SF1001,2024-05-01  10:22:33," +
                std::string(kSignedGbk) + "\r\n");
}

TEST(CsvWriter, ByteOrderMarkComesFirst) {
  const std::string out = Write(OutputFormat::kCsv, OutputEncoding::kUtf8, true, {});
  EXPECT_EQ(out.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_EQ(out.substr(3, 6), "\xE5\x8D\x95\xE5\x8F\xB7");
}

TEST(CsvField, QuotesOnlyWhatNeedsIt) {
  const struct {
    const char* field;
    const char* written;
  } cases[] = {
      {"", ""},
      {"plain text", "plain text"},
      {"a,b", "\"a,b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"line\r\nbreak", "\"line\r\nbreak\""},
      {"lone\nfeed", "\"lone\nfeed\""},
      {"\"", "\"\"\"\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.field);
    EXPECT_EQ(CsvField(c.field), c.written);
  }
}

TEST(SpreadsheetCell, PutsAnApostropheBeforeWhatCouldStartAFormula) {
  const struct {
    const char* cell;
    const char* written;
  } cases[] = {
      {"", ""},
      {"=1+2", "'=1+2"},
      {"+86 10", "'+86 10"},
      {"-5", "'-5"},
      {"@SUM(A1)", "'@SUM(A1)"},
      {"\tx", "'\tx"},
      {"\rx", "'\rx"},
      {" =1+2", " =1+2"},
      {"a=b", "a=b"},
      {"'quoted", "'quoted"},
      {"\nx", "\nx"},
      {"2024-05-01  10:22:33", "2024-05-01  10:22:33"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cell);
    EXPECT_EQ(SpreadsheetCell(c.cell), c.written);
  }
}

TEST(CsvWriter, GuardsFormulasOnlyForASpreadsheet) {
  const Record risky = {"-SF1001", "", "=HYPERLINK(\"http://x\",\"y\")", true, "", "200 OK"};
  for (bool forSpreadsheet : {false, true}) {
    SCOPED_TRACE(forSpreadsheet);
    std::string out;
    auto writer = MakeTextWriter(OutputFormat::kCsv, OutputEncoding::kGbk, false, &out,
                                 forSpreadsheet);
    writer->Add(risky);
    EXPECT_EQ(out, forSpreadsheet ? "'-SF1001,,\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\"\r\n"
                                  : "-SF1001,,\"=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\"\r\n");
  }
  // Only CSV is meant for a spreadsheet program; tab-separated values stay as they are.
  std::string tsv;
  auto writer = MakeTextWriter(OutputFormat::kTsv, OutputEncoding::kGbk, false, &tsv, true);
  writer->Add(risky);
  EXPECT_EQ(tsv.substr(0, 9), "-SF1001\t\t");
}

TEST(TsvField, EscapesSeparatorsAndBackslash) {
  const struct {
    const char* field;
    const char* written;
  } cases[] = {
      {"", ""}, {"a b", "a b"}, {"a\tb", "a\\tb"}, {"a\r\nb", "a\\r\\nb"}, {"C:\\dir", "C:\\\\dir"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.field);
    EXPECT_EQ(TsvField(c.field), c.written);
  }
}

TEST(TsvWriter, OneLinePerRecordEvenWithBreaksInCells) {
  Record record = Delivered();
  record.event = "first\r\nsecond\tthird";
  const std::string out = Write(OutputFormat::kTsv, OutputEncoding::kGbk, false, {record});
  EXPECT_EQ(out,
            "\xB5\xA5\xBA\xC5\t\xD4\xCB\xCA\xE4\xCA\xB1\xBC\xE4\t"
            "\xD7\xEE\xD0\xC2\xD4\xCB\xCA\xE4\xD0\xC5\xCF\xA2\n"
            "SF1001\t2024-05-01  10:22:33\tfirst\\r\\nsecond\\tthird\n");
}

TEST(JsonLinesWriter, CarriesOkAndErrorOrStatus) {
  Record notFound = {"SF1003", "", "", false, "", "404 Not Found"};
  const std::string out = Write(OutputFormat::kJsonl, OutputEncoding::kUtf8, false,
                                {Delivered(), SendFailed(), notFound});
  std::vector<nlohmann::ordered_json> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(nlohmann::ordered_json::parse(out.substr(start, end - start)));
  }
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].dump(),
            "{\"number\":\"SF1001\",\"time\":\"2024-05-01  10:22:33\",\"event\":\"" +
                std::string(kSignedUtf8) + "\",\"ok\":true,\"status\":\"200 OK\"}");
  EXPECT_EQ(lines[1]["ok"], false);
  EXPECT_EQ(lines[1]["error"],
            "711 \xE5\x8F\x91\xE9\x80\x81\xE8\xAF\xB7\xE6\xB1\x82\xE5\xA4\xB1\xE8\xB4\xA5!");
  EXPECT_FALSE(lines[1].contains("status"));
  EXPECT_EQ(lines[2]["ok"], false);
  EXPECT_EQ(lines[2]["status"], "404 Not Found");
  EXPECT_FALSE(lines[2].contains("error"));
}

TEST(JsonLinesWriter, BytesThatAreNotCodePage936StillGiveValidJson) {
  Record record = Delivered();
  record.number = "\x81";  // a lead byte with nothing after it
  record.event = "quote \" and \\ and \x01";
  const std::string out = Write(OutputFormat::kJsonl, OutputEncoding::kUtf8, false, {record});
  const auto line = nlohmann::json::parse(out);
  EXPECT_EQ(line["event"], "quote \" and \\ and \x01");
}

TEST(TableWriter, AlignsColumnsByDisplayWidth) {
  Record wide = Delivered();  // a three-character event, six columns wide
  Record narrow = {"X", "", "done", true, "", "200 OK"};
  const std::string out = Write(OutputFormat::kTable, OutputEncoding::kGbk, false, {wide, narrow});
  EXPECT_EQ(out, "\xB5\xA5\xBA\xC5    \xD4\xCB\xCA\xE4\xCA\xB1\xBC\xE4" + std::string(14, ' ') +
                     "\xD7\xEE\xD0\xC2\xD4\xCB\xCA\xE4\xD0\xC5\xCF\xA2\n"
                     "------  --------------------  ------------\n"
                     "SF1001  2024-05-01  10:22:33  " +
                     std::string(kSignedGbk) +
                     "\n"
                     "X" +
                     std::string(29, ' ') + "done\n");
}

TEST(TableWriter, LineBreaksInsideCellsDoNotBreakRows) {
  Record record = {"A\rB", "", "x\r\ny", true, "", "200 OK"};
  const std::string out = Write(OutputFormat::kTable, OutputEncoding::kUtf8, false, {record});
  EXPECT_EQ(out.substr(out.rfind('\n', out.size() - 2) + 1),
            "A B" + std::string(13, ' ') + "x  y\n");
}

}  // namespace
}  // namespace korvanel::cli
