// waybill-query end to end: the program runs as a child process against the tracking
// endpoint with its demo data, or against a scripted server for the failure routes.
#include <gtest/gtest.h>

#include <signal.h>

#include <nlohmann/json.hpp>

#include "app/batch_query.h"
#include "app/records/record_text.h"
#include "scripted_server.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "zip_reader.h"

namespace korvanel::cli {
namespace {

using namespace std::chrono_literals;
using test_support::Answer;
using test_support::ChildProcess;
using test_support::Outcome;
using test_support::ReadFile;
using test_support::RunProgram;
using test_support::ScriptedServer;
using test_support::TempDir;

const std::string kProgram = WAYBILL_QUERY_EXE;

// The CSV header "单号,运输时间,最新运输信息" in UTF-8 and in code page 936.
const std::string kCsvHeaderUtf8 =
    "\xE5\x8D\x95\xE5\x8F\xB7,\xE8\xBF\x90\xE8\xBE\x93\xE6\x97\xB6\xE9\x97\xB4,"
    "\xE6\x9C\x80\xE6\x96\xB0\xE8\xBF\x90\xE8\xBE\x93\xE4\xBF\xA1\xE6\x81\xAF\r\n";
const std::string kCsvHeaderGbk =
    "\xB5\xA5\xBA\xC5,\xD4\xCB\xCA\xE4\xCA\xB1\xBC\xE4,"
    "\xD7\xEE\xD0\xC2\xD4\xCB\xCA\xE4\xD0\xC5\xCF\xA2\r\n";
// "711 发送请求失败!" in UTF-8: what a request to a port nobody listens on ends with.
const std::string kSendFailedUtf8 =
    "711 \xE5\x8F\x91\xE9\x80\x81\xE8\xAF\xB7\xE6\xB1\x82\xE5\xA4\xB1\xE8\xB4\xA5!";

std::vector<std::string> Lines(const std::string& text, const std::string& separator = "\n") {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find(separator, start)) != std::string::npos;
       start = end + separator.size()) {
    lines.push_back(text.substr(start, end - start));
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

std::vector<nlohmann::json> JsonLines(const std::string& text) {
  std::vector<nlohmann::json> records;
  for (const auto& line : Lines(text)) records.push_back(nlohmann::json::parse(line));
  return records;
}

std::vector<std::string> Arguments(std::initializer_list<std::string> arguments) {
  std::vector<std::string> all = {kProgram};
  all.insert(all.end(), arguments);
  return all;
}

// A port that nothing listens on: bound by the scripted server, which is then gone.
std::string UnreachableHost() {
  std::string host;
  {
    ScriptedServer server;
    host = server.Host();
  }
  return host;
}

// The tracking endpoint with its demo data, on a port it picks and tells on its first line.
class DemoEndpoint {
 public:
  explicit DemoEndpoint(int latencyMs = 0) {
#ifdef TRACKING_ENDPOINT_EXE
    const std::string database = m_dir.File("demo.db");
    if (RunProgram({TRACKING_ENDPOINT_EXE, "demo", "--db", database}).exitCode != 0) return;
    ChildProcess::Setup setup;
    setup.arguments = {TRACKING_ENDPOINT_EXE,
                       "serve",
                       "--db",
                       database,
                       "--listen",
                       "127.0.0.1:0",
                       "--latency-ms",
                       std::to_string(latencyMs)};
    setup.pipeOutput = true;  // its first line is the ready signal
    m_server = std::make_unique<ChildProcess>(setup);
    const std::string line = m_server->ReadLine(30s);
    const std::string prefix = "listening on ";
    if (line.rfind(prefix, 0) == 0) m_host = line.substr(prefix.size());
#else
    (void)latencyMs;
#endif
  }
  ~DemoEndpoint() {
    if (m_server) {
      m_server->Signal(SIGTERM);
      m_server->Wait(10s);  // and killed by its PID when it does not stop
    }
  }
  const std::string& host() const { return m_host; }

 private:
  TempDir m_dir;
  std::unique_ptr<ChildProcess> m_server;
  std::string m_host;
};

#ifdef TRACKING_ENDPOINT_EXE
#define REQUIRE_ENDPOINT(endpoint) \
  ASSERT_FALSE((endpoint).host().empty()) << "the endpoint did not start"
#else
#define REQUIRE_ENDPOINT(endpoint) GTEST_SKIP() << "tracking-endpoint is not part of this build"
#endif

// Demo numbers: many events, one event, two at the same clock time, an exception, spaces
// around the number, and one the endpoint does not know.
const std::vector<std::string> kDemoNumbers = {"SF1000000002", "SF1000000001",   "SF1000000003",
                                               "YT2000000001", " ZT3000000001 ", "UNKNOWN404"};

std::string DemoList() {
  std::string list;
  for (const auto& number : kDemoNumbers) list += number + "\n";
  return list;
}

// What the desktop tool's own per-row query gives for each demo number.
std::vector<LatestEvent> DesktopCells(const std::string& host) {
  std::vector<LatestEvent> cells;
  for (const auto& number : kDemoNumbers) {
    cells.push_back(QueryWaybill(QueryAddressPrefixForHost(host), number));
  }
  return cells;
}

// The cells as waybill-query writes them: a page without events gives empty cells.
std::string Utf8Time(const LatestEvent& cells) {
  return cells.time == "  " ? "" : AnsiToUtf8(cells.time);
}

TEST(WaybillQuery, JsonLinesCarryTheDesktopToolsCellsInListOrder) {
  DemoEndpoint endpoint;
  REQUIRE_ENDPOINT(endpoint);
  TempDir dir;
  const std::string list = dir.Write("list.txt", DemoList());
  const Outcome run = RunProgram(Arguments({"--host", endpoint.host(), "--format", "jsonl", list}));
  ASSERT_EQ(run.exitCode, 0) << run.standardError;
  EXPECT_EQ(run.standardError, "");

  const auto records = JsonLines(run.standardOutput);
  const auto cells = DesktopCells(endpoint.host());
  ASSERT_EQ(records.size(), kDemoNumbers.size());
  for (std::size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE(kDemoNumbers[i]);
    EXPECT_EQ(records[i]["number"], kDemoNumbers[i]);
    EXPECT_EQ(records[i]["time"], Utf8Time(cells[i]));
    EXPECT_EQ(records[i]["event"], AnsiToUtf8(cells[i].event));
    EXPECT_EQ(records[i]["ok"], true);
    EXPECT_EQ(records[i]["status"], "200 OK");
  }
  // "【北京市】快件已签收，签收人：本人，感谢使用顺丰，期待再次为您服务"
  EXPECT_EQ(records[0]["time"], "2025-03-12  16:42:10");
  EXPECT_EQ(records[0]["event"],
            "\xE3\x80\x90\xE5\x8C\x97\xE4\xBA\xAC\xE5\xB8\x82\xE3\x80\x91\xE5\xBF\xAB\xE4\xBB\xB6"
            "\xE5\xB7\xB2\xE7\xAD\xBE\xE6\x94\xB6\xEF\xBC\x8C\xE7\xAD\xBE\xE6\x94\xB6\xE4\xBA\xBA"
            "\xEF\xBC\x9A\xE6\x9C\xAC\xE4\xBA\xBA\xEF\xBC\x8C\xE6\x84\x9F\xE8\xB0\xA2\xE4\xBD\xBF"
            "\xE7\x94\xA8\xE9\xA1\xBA\xE4\xB8\xB0\xEF\xBC\x8C\xE6\x9C\x9F\xE5\xBE\x85\xE5\x86\x8D"
            "\xE6\xAC\xA1\xE4\xB8\xBA\xE6\x82\xA8\xE6\x9C\x8D\xE5\x8A\xA1");
  // The endpoint knows nothing of this number: its page came, with no event on it.
  EXPECT_EQ(records[5]["time"], "");
  EXPECT_EQ(records[5]["event"], "");
}

TEST(WaybillQuery, TextFormatsAndEncodingsHoldTheSameRecords) {
  DemoEndpoint endpoint;
  REQUIRE_ENDPOINT(endpoint);
  TempDir dir;
  const std::string list = dir.Write("list.txt", DemoList());
  const auto cells = DesktopCells(endpoint.host());

  std::string csvUtf8 = kCsvHeaderUtf8;
  std::string csvGbk = kCsvHeaderGbk;
  std::string tsvUtf8 =
      "\xE5\x8D\x95\xE5\x8F\xB7\t\xE8\xBF\x90\xE8\xBE\x93\xE6\x97\xB6\xE9\x97\xB4\t"
      "\xE6\x9C\x80\xE6\x96\xB0\xE8\xBF\x90\xE8\xBE\x93\xE4\xBF\xA1\xE6\x81\xAF\n";
  for (std::size_t i = 0; i < cells.size(); ++i) {
    const std::string gbkTime = cells[i].time == "  " ? "" : cells[i].time;
    csvUtf8 +=
        kDemoNumbers[i] + "," + Utf8Time(cells[i]) + "," + AnsiToUtf8(cells[i].event) + "\r\n";
    csvGbk += kDemoNumbers[i] + "," + gbkTime + "," + cells[i].event + "\r\n";
    tsvUtf8 +=
        kDemoNumbers[i] + "\t" + Utf8Time(cells[i]) + "\t" + AnsiToUtf8(cells[i].event) + "\n";
  }
  const struct {
    std::vector<std::string> options;
    std::string expected;
  } cases[] = {
      {{"--format", "csv"}, csvUtf8},
      {{}, csvUtf8},  // standard output is a file here, not a terminal
      {{"--format", "csv", "--bom"}, "\xEF\xBB\xBF" + csvUtf8},
      {{"--format", "csv", "--encoding", "gbk"}, csvGbk},
      {{"--format", "tsv"}, tsvUtf8},
  };
  for (const auto& c : cases) {
    std::vector<std::string> arguments = Arguments({"--host", endpoint.host()});
    std::string shown;
    for (const auto& option : c.options) shown += option + " ";
    SCOPED_TRACE(shown);
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    arguments.push_back(list);
    const Outcome run = RunProgram(arguments);
    EXPECT_EQ(run.exitCode, 0) << run.standardError;
    EXPECT_EQ(run.standardOutput, c.expected);
  }

  // The table: a header, a rule, then one line per row, its columns lined up.
  const Outcome table = RunProgram(
      Arguments({"--host", endpoint.host(), "--format", "table", "--encoding", "gbk", list}));
  ASSERT_EQ(table.exitCode, 0) << table.standardError;
  const auto lines = Lines(table.standardOutput);
  ASSERT_EQ(lines.size(), kDemoNumbers.size() + 2);
  const std::size_t timeColumn = lines[1].find("  -") + 2;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    SCOPED_TRACE(kDemoNumbers[i]);
    EXPECT_EQ(lines[i + 2].rfind(kDemoNumbers[i], 0), 0u);
    if (cells[i].time != "  ") {
      EXPECT_EQ(lines[i + 2].find(cells[i].time), timeColumn);
    }
  }
}

TEST(WaybillQuery, WritesAWorkbookWithABoldHeaderAndFittedColumns) {
  DemoEndpoint endpoint;
  REQUIRE_ENDPOINT(endpoint);
  TempDir dir;
  const std::string list = dir.Write("list.txt", DemoList());
  const std::string book = dir.File("result.xlsx");
  const Outcome run = RunProgram(Arguments({"--host", endpoint.host(), "-o", book, list}));
  ASSERT_EQ(run.exitCode, 0) << run.standardError;
  EXPECT_EQ(run.standardOutput, "");

  const auto members = test_support::ReadZip(ReadFile(book));
  ASSERT_TRUE(members.count("xl/worksheets/sheet1.xml")) << "not a workbook";
  EXPECT_FALSE(members.count("xl/worksheets/sheet2.xml"));
  const std::string& sheet = members.at("xl/worksheets/sheet1.xml");
  const std::string& strings = members.at("xl/sharedStrings.xml");
  const std::string& styles = members.at("xl/styles.xml");
  // "单号" heads the first column, and every number is a cell.
  EXPECT_NE(strings.find("<t>\xE5\x8D\x95\xE5\x8F\xB7</t>"), std::string::npos);
  EXPECT_NE(strings.find("<t>SF1000000002</t>"), std::string::npos);
  EXPECT_NE(strings.find("<t>2025-03-12  16:42:10</t>"), std::string::npos);
  EXPECT_NE(strings.find("ZT3000000001"), std::string::npos);
  EXPECT_NE(styles.find("<b/>"), std::string::npos);
  EXPECT_NE(sheet.find("<row r=\"7\""), std::string::npos);
  EXPECT_EQ(sheet.find("<row r=\"8\""), std::string::npos);
  // The number column fits the 14 characters of " ZT3000000001 " (plus a margin).
  EXPECT_NE(sheet.find("<col min=\"1\" max=\"1\" width=\"16.7109375\""), std::string::npos)
      << sheet;
  EXPECT_EQ(dir.EntryCount(), 2u);  // the list and the workbook, no temporary file
}

TEST(WaybillQuery, ReadsStandardInputAndLinuxOrWindowsLineEnds) {
  ScriptedServer server;
  TempDir dir;
  const std::string windowsList = dir.Write("windows.txt", "A1\r\nB2\r\n");
  for (bool piped : {false, true}) {
    SCOPED_TRACE(piped ? "standard input is a pipe" : "standard input is a file");
    const Outcome run =
        RunProgram(Arguments({"--host", server.Host(), "--format", "jsonl", windowsList, "-"}),
                   "C3\nD4\n", piped);
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    const auto records = JsonLines(run.standardOutput);
    ASSERT_EQ(records.size(), 4u);
    const char* numbers[] = {"A1", "B2", "C3", "D4"};
    for (std::size_t i = 0; i < records.size(); ++i) {
      EXPECT_EQ(records[i]["number"], numbers[i]);
      EXPECT_EQ(records[i]["time"], test_support::kDefaultTime);
      EXPECT_EQ(records[i]["event"], test_support::DefaultEvent(numbers[i]));
    }
  }
}

TEST(WaybillQuery, CsvForASpreadsheetKeepsEveryCellFromRunningAsAFormula) {
  ScriptedServer server;
  ScriptedServer::Answer formula;
  formula.body = test_support::TimelinePage(
      {{"2025-01-02", "08:00:00", "=1+2"}, {"2025-01-01", "17:30:00", "picked up"}});
  server.Script("A1", {formula});
  const struct {
    std::vector<std::string> options;
    std::string expected;
  } cases[] = {
      // For scripts: the cells as received.
      {{"--format", "csv"}, kCsvHeaderUtf8 + "A1,2025-01-02  08:00:00,=1+2\r\n" +
                                "-5,2025-01-02  08:00:00,arrived: -5\r\n"},
      // For a spreadsheet: an apostrophe in front of a cell that could start a formula.
      {{"--format", "csv", "--bom"}, "\xEF\xBB\xBF" + kCsvHeaderUtf8 +
                                         "A1,2025-01-02  08:00:00,'=1+2\r\n" +
                                         "'-5,2025-01-02  08:00:00,arrived: -5\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options.size());
    std::vector<std::string> arguments = Arguments({"--host", server.Host()});
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    arguments.push_back("-");
    const Outcome run = RunProgram(arguments, "A1\n-5\n");
    EXPECT_EQ(run.exitCode, 0) << run.standardError;
    EXPECT_EQ(run.standardOutput, c.expected);
  }
}

TEST(WaybillQuery, AnEmptyListGivesTheHeaderAlone) {
  ScriptedServer server;
  const Outcome run = RunProgram(Arguments({"--host", server.Host(), "-"}), "");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.standardOutput, kCsvHeaderUtf8);
  EXPECT_EQ(server.TotalRequests(), 0);
}

TEST(WaybillQuery, AnUnreachableEndpointFailsEveryRowAndSaysSo) {
  const std::string host = UnreachableHost();
  const Outcome run = RunProgram(Arguments({"--host", host, "--format", "jsonl", "-"}), "A1\nB2\n");
  EXPECT_EQ(run.exitCode, 1);
  const auto records = JsonLines(run.standardOutput);
  ASSERT_EQ(records.size(), 2u);
  for (const auto& record : records) {
    EXPECT_EQ(record["ok"], false);
    EXPECT_EQ(record["time"], "");
    EXPECT_EQ(record["event"], "");
    EXPECT_EQ(record["error"], kSendFailedUtf8);
  }
  EXPECT_EQ(run.standardError, "waybill-query: row 1, number 'A1': " + kSendFailedUtf8 + "\n" +
                                   "waybill-query: row 2, number 'B2': " + kSendFailedUtf8 + "\n" +
                                   "waybill-query: 2 of 2 rows failed\n");
}

TEST(WaybillQuery, AnHttpErrorIsAFailedRowWithItsStatus) {
  ScriptedServer server;
  server.Script("GONE", {Answer(404, "<html>not here</html>")});
  const Outcome run =
      RunProgram(Arguments({"--host", server.Host(), "--format", "jsonl", "-"}), "A1\nGONE\nB2\n");
  EXPECT_EQ(run.exitCode, 1);
  const auto records = JsonLines(run.standardOutput);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0]["ok"], true);
  EXPECT_EQ(records[1]["ok"], false);
  EXPECT_EQ(records[1]["status"], "404 Not Found");
  EXPECT_FALSE(records[1].contains("error"));
  EXPECT_EQ(records[2]["ok"], true);
  EXPECT_NE(run.standardError.find("row 2, number 'GONE': HTTP 404 Not Found\n"), std::string::npos)
      << run.standardError;
}

TEST(WaybillQuery, RetriesARowThatFailsTwiceThenAnswers) {
  ScriptedServer server;
  const std::vector<ScriptedServer::Answer> flaky = {Answer(503, "busy"),
                                                     Answer(429, "slow down", "1"), Answer(200)};
  server.Script("FLAKY", flaky);
  const Outcome run =
      RunProgram(Arguments({"--host", server.Host(), "--format", "jsonl", "--retries", "2", "-"}),
                 "A1\nFLAKY\n");
  ASSERT_EQ(run.exitCode, 0) << run.standardError;
  const auto records = JsonLines(run.standardOutput);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1]["ok"], true);
  EXPECT_EQ(records[1]["event"], test_support::DefaultEvent("FLAKY"));
  EXPECT_EQ(server.RequestsFor("FLAKY"), 3);
  EXPECT_EQ(server.RequestsFor("A1"), 1);
  // The second retry waited for the Retry-After of the 429.
  const auto arrivals = server.ArrivalsFor("FLAKY");
  ASSERT_EQ(arrivals.size(), 3u);
  EXPECT_GE(arrivals[2] - arrivals[1], 950ms);

  ScriptedServer again;
  again.Script("FLAKY", flaky);
  const Outcome tooFew = RunProgram(
      Arguments({"--host", again.Host(), "--format", "jsonl", "--retries", "1", "-"}), "FLAKY\n");
  EXPECT_EQ(tooFew.exitCode, 1);
  EXPECT_EQ(JsonLines(tooFew.standardOutput).at(0)["status"], "429 Too Many Requests");
  EXPECT_EQ(again.RequestsFor("FLAKY"), 2);
}

TEST(WaybillQuery, RetriesAnUnreachableEndpointOnlyAsOftenAsTold) {
  const std::string host = UnreachableHost();
  const auto start = std::chrono::steady_clock::now();
  const Outcome run = RunProgram(Arguments({"--host", host, "--retries", "2", "-q", "-"}), "A1\n");
  EXPECT_EQ(run.exitCode, 1);
  // Two waits of the backoff: 250-500 ms, then 500-1000 ms.
  EXPECT_GE(std::chrono::steady_clock::now() - start, 750ms);
  EXPECT_EQ(Lines(run.standardOutput).size(), 2u);
}

TEST(WaybillQuery, ParallelJobsKeepTheListOrder) {
  ScriptedServer server;
  constexpr int kRows = 12;
  std::string list;
  for (int i = 0; i < kRows; ++i) {
    const std::string number = "N" + std::to_string(i);
    // Earlier rows answer later, so the answers arrive in reverse.
    server.Script(number, {Answer(200, "", "", std::chrono::milliseconds((kRows - i) * 25))});
    list += number + "\n";
  }
  const Outcome run = RunProgram(
      Arguments({"--host", server.Host(), "--format", "jsonl", "--jobs", "4", "-"}), list);
  ASSERT_EQ(run.exitCode, 0) << run.standardError;
  const auto records = JsonLines(run.standardOutput);
  ASSERT_EQ(records.size(), static_cast<std::size_t>(kRows));
  for (int i = 0; i < kRows; ++i) {
    EXPECT_EQ(records[static_cast<std::size_t>(i)]["number"], "N" + std::to_string(i));
    EXPECT_EQ(records[static_cast<std::size_t>(i)]["event"],
              test_support::DefaultEvent("N" + std::to_string(i)));
  }
  EXPECT_GE(server.MostInFlight(), 3);
  EXPECT_LE(server.MostInFlight(), 4);
}

TEST(WaybillQuery, DelaySpacesTheRequestsOfAJob) {
  ScriptedServer server;
  const Outcome run =
      RunProgram(Arguments({"--host", server.Host(), "--delay", "200", "-"}), "A\nB\n");
  ASSERT_EQ(run.exitCode, 0) << run.standardError;
  const auto first = server.ArrivalsFor("A");
  const auto second = server.ArrivalsFor("B");
  ASSERT_EQ(first.size(), 1u);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_GE(second[0] - first[0], 190ms);
}

TEST(WaybillQuery, TimeoutEndsARequestThatGetsNoAnswer) {
  ScriptedServer server;
  server.Script("SILENT", {Answer(200, "", "", 20s)});
  const auto start = std::chrono::steady_clock::now();
  const Outcome run = RunProgram(
      Arguments({"--host", server.Host(), "--timeout", "1", "--format", "jsonl", "-"}), "SILENT\n");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  EXPECT_EQ(run.exitCode, 1);
  const auto records = JsonLines(run.standardOutput);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0]["ok"], false);
  EXPECT_TRUE(records[0].contains("error"));
}

TEST(WaybillQuery, CtrlCWritesEveryFinishedRecordAndAWholeFile) {
  ScriptedServer server;
  server.SetDefaultDelay(300ms);
  std::string list;
  for (int i = 0; i < 40; ++i) list += "N" + std::to_string(i) + "\n";
  TempDir dir;
  const std::string listPath = dir.Write("list.txt", list);
  const std::string output = dir.Write("out.csv", "the previous run's file");

  ChildProcess::Setup setup;
  setup.arguments = Arguments({"--host", server.Host(), "--jobs", "2", "-o", output, listPath});
  setup.standardError = dir.File("stderr");
  ChildProcess child(setup);
  ASSERT_TRUE(server.WaitForRequests(5, 30s));
  // Until the batch ends, the earlier file stands as it was.
  EXPECT_EQ(ReadFile(output), "the previous run's file");
  child.Signal(SIGINT);
  EXPECT_EQ(child.Wait(30s), 130);

  const auto rows = Lines(ReadFile(output), "\r\n");
  ASSERT_GE(rows.size(), 6u);
  EXPECT_EQ(rows[0] + "\r\n", kCsvHeaderUtf8);
  // Every request that was started finished and is in the file, in list order; none began
  // after the signal.
  EXPECT_EQ(rows.size() - 1, static_cast<std::size_t>(server.TotalRequests()));
  EXPECT_LT(rows.size() - 1, 40u);
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const std::string number = "N" + std::to_string(i - 1);
    EXPECT_EQ(rows[i],
              number + "," + test_support::kDefaultTime + "," + test_support::DefaultEvent(number));
  }
  EXPECT_NE(ReadFile(dir.File("stderr")).find("interrupted"), std::string::npos);
  EXPECT_EQ(dir.EntryCount(), 3u);  // the list, the output and stderr; no temporary file
}

TEST(WaybillQuery, AnUnreadableInputIsExitTwoBeforeAnyRequest) {
  ScriptedServer server;
  TempDir dir;
  const std::string good = dir.Write("good.txt", "A1\n");
  const std::string output = dir.File("out.csv");
  const struct {
    std::string path;
    std::string reason;
  } cases[] = {{dir.File("missing.txt"), "No such file or directory"},
               {dir.path().string(), "Is a directory"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const Outcome run =
        RunProgram(Arguments({"--host", server.Host(), "-o", output, good, c.path}));
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.standardError, "waybill-query: cannot read " + c.path + ": " + c.reason + "\n");
    EXPECT_FALSE(std::filesystem::exists(output));
  }
  EXPECT_EQ(server.TotalRequests(), 0);
}

TEST(WaybillQuery, BadUsageAndUnwritableOutputAreExitTwo) {
  TempDir dir;
  const std::string list = dir.Write("list.txt", "A1\n");
  const Outcome noOutput = RunProgram(Arguments({"--format", "xlsx", list}));
  EXPECT_EQ(noOutput.exitCode, 2);
  EXPECT_NE(noOutput.standardError.find("--output"), std::string::npos);
  EXPECT_EQ(noOutput.standardOutput, "");

  const Outcome nowhere = RunProgram(Arguments({"-o", dir.File("no/such/dir/out.csv"), list}));
  EXPECT_EQ(nowhere.exitCode, 2);
  EXPECT_EQ(nowhere.standardError, "waybill-query: cannot write " +
                                       dir.File("no/such/dir/out.csv") +
                                       ": No such file or directory\n");

  // A device is written in place (never replaced by a rename), and a full one is told.
  ScriptedServer server;
  const Outcome full = RunProgram(Arguments({"--host", server.Host(), "-o", "/dev/full", list}));
  EXPECT_EQ(full.exitCode, 2);
  EXPECT_EQ(full.standardError, "waybill-query: cannot write /dev/full: No space left on device\n");
  EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));

  const Outcome help = RunProgram(Arguments({"--help"}));
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.standardOutput.find("--retries"), std::string::npos);
}

}  // namespace
}  // namespace korvanel::cli
