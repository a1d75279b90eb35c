// waybill-query.exe end to end under Windows (Wine here): the program runs as a child
// process against a scripted tracking endpoint on 127.0.0.1 (the shared loopback server).
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include <nlohmann/json.hpp>

#include "app/cli/tests/zip_reader.h"
#include "tests/support/child_process.h"
#include "tests/support/loopback_server.h"
#include "tests/support/temp_dir.h"

namespace korvanel::cli {
namespace {

using namespace std::chrono_literals;
using test_support::ChildProcess;
using test_support::HttpReply;
using test_support::LoopbackServer;
using test_support::Outcome;
using test_support::ReadFile;
using test_support::ReceivedRequest;
using test_support::Reply;
using test_support::RunProgram;
using test_support::TempDir;

const std::string kProgram = WAYBILL_QUERY_EXE;

// "已到达 " (has arrived) in code page 936 and in UTF-8: the latest event names the number.
const std::string kArrivedGbk = "\xD2\xD1\xB5\xBD\xB4\xEF ";
const std::string kArrivedUtf8 = "\xE5\xB7\xB2\xE5\x88\xB0\xE8\xBE\xBE ";
const std::string kTime = "2025-01-02  08:00:00";
// The CSV header "单号,运输时间,最新运输信息" in UTF-8 and in code page 936.
const std::string kHeaderUtf8 =
    "\xE5\x8D\x95\xE5\x8F\xB7,\xE8\xBF\x90\xE8\xBE\x93\xE6\x97\xB6\xE9\x97\xB4,"
    "\xE6\x9C\x80\xE6\x96\xB0\xE8\xBF\x90\xE8\xBE\x93\xE4\xBF\xA1\xE6\x81\xAF";
const std::string kHeaderGbk =
    "\xB5\xA5\xBA\xC5,\xD4\xCB\xCA\xE4\xCA\xB1\xBC\xE4,"
    "\xD7\xEE\xD0\xC2\xD4\xCB\xCA\xE4\xD0\xC5\xCF\xA2";
// "711 发送请求失败!" in UTF-8: what a request to a port nobody listens on ends with.
const std::string kSendFailedUtf8 =
    "711 \xE5\x8F\x91\xE9\x80\x81\xE8\xAF\xB7\xE6\xB1\x82\xE5\xA4\xB1\xE8\xB4\xA5!";
// "清单.txt" and "结果" in UTF-8: names a Western code page cannot spell.
const std::string kListName = "\xE6\xB8\x85\xE5\x8D\x95.txt";
const std::string kResultName = "\xE7\xBB\x93\xE6\x9E\x9C";

// A tracking page in the endpoint's timeline layout with two entries, newest first.
std::string TimelinePage(const std::string& number) {
  const std::string entryStart =
      "    <li class=\"layui-timeline-item\">\r\n"
      "    <i class=\"layui-icon layui-timeline-axis\">&#xe63f;</i>\r\n"
      "    <div class=\"layui-timeline-content layui-text\">\r\n"
      "      <h3 class=\"layui-timeline-title\">";
  const std::string entryEnd = std::string(90, ' ') + "</p>\r\n    </div>\r\n  </li>\r\n";
  std::string page = "<html>\r\n<head><meta charset=\"gbk\"></head>\r\n<body><ul>\r\n";
  page += entryStart + "2025-01-02&nbsp;&nbsp;08:00:00</h3>\r\n      <p>\r\n\t\t" + kArrivedGbk +
          number + entryEnd;
  page +=
      entryStart + "2025-01-01&nbsp;&nbsp;17:30:00</h3>\r\n      <p>\r\n\t\tpicked up" + entryEnd;
  return page + "</ul></body></html>\r\n";
}

// The endpoint: a page for every number, except "E500" (a server error); a number may be
// held until the test lets it go.
class Endpoint {
 public:
  Endpoint() {
    m_server.Route("/korvanelapi.php", [this](const ReceivedRequest& request) {
      const std::string number = request.Query("yundanhao");
      const int now = ++m_inFlight;
      for (int most = m_mostInFlight;
           now > most && !m_mostInFlight.compare_exchange_weak(most, now);) {
      }
      {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return !m_held.count(number); });
      }
      // Early numbers answer last, so jobs finish out of list order.
      if (const auto delay = m_delays.find(number); delay != m_delays.end()) {
        std::this_thread::sleep_for(delay->second);
      }
      --m_inFlight;
      if (number == "E500") return HttpReply(500, "Internal Server Error", "", "down");
      return HttpReply(200, "OK", "Content-Type: text/html; charset=gbk\r\n", TimelinePage(number));
    });
  }
  ~Endpoint() { ReleaseAll(); }

  std::string Host() const { return m_server.HostPort(); }
  void Hold(const std::string& number) {
    std::lock_guard lock(m_mutex);
    m_held.insert(number);
  }
  void ReleaseAll() {
    std::lock_guard lock(m_mutex);
    m_held.clear();
    m_changed.notify_all();
  }
  // Set before the run starts; read by the server's threads only afterwards.
  void Delay(const std::string& number, std::chrono::milliseconds delay) {
    m_delays[number] = delay;
  }
  bool WaitForRequests(std::size_t count) const { return m_server.WaitForRequests(count, 30s); }
  int MostInFlight() const { return m_mostInFlight; }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::set<std::string> m_held;
  std::map<std::string, std::chrono::milliseconds> m_delays;
  std::atomic<int> m_inFlight{0};
  std::atomic<int> m_mostInFlight{0};
  LoopbackServer m_server;  // last: stopped first, while what its handlers use still exists
};

std::vector<std::string> Arguments(std::initializer_list<std::string> arguments) {
  std::vector<std::string> all = {kProgram};
  all.insert(all.end(), arguments);
  return all;
}

std::string CsvRow(const std::string& number, const std::string& arrived) {
  return number + "," + kTime + "," + arrived + number + "\r\n";
}

TEST(WaybillQueryExe, FormatsAndEncodingsHoldTheRecordsInListOrder) {
  Endpoint endpoint;
  TempDir dir;
  const std::string list = dir.Write("list.txt", "SF1\r\nYT2\nZT3\r\n");
  const std::string host = endpoint.Host();
  const std::string utf8Csv = kHeaderUtf8 + "\r\n" + CsvRow("SF1", kArrivedUtf8) +
                              CsvRow("YT2", kArrivedUtf8) + CsvRow("ZT3", kArrivedUtf8);
  const std::string gbkCsv = kHeaderGbk + "\r\n" + CsvRow("SF1", kArrivedGbk) +
                             CsvRow("YT2", kArrivedGbk) + CsvRow("ZT3", kArrivedGbk);
  std::string tsv = kHeaderUtf8 + "\n";
  for (auto& c : tsv) c = c == ',' ? '\t' : c;
  for (const std::string number : {"SF1", "YT2", "ZT3"}) {
    tsv += number + "\t" + kTime + "\t" + kArrivedUtf8 + number + "\n";
  }
  const struct {
    std::vector<std::string> options;
    std::string output;
  } cases[] = {
      {{"-f", "csv"}, utf8Csv},  // a pipe or file gets CSV unless told otherwise
      {{}, utf8Csv},
      {{"-f", "csv", "--bom"}, "\xEF\xBB\xBF" + utf8Csv},
      {{"-f", "csv", "--encoding", "gbk"}, gbkCsv},
      {{"-f", "tsv"}, tsv},
  };
  for (const auto& c : cases) {
    std::vector<std::string> arguments = Arguments({"--host", host, "-q"});
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    arguments.push_back(list);
    SCOPED_TRACE(::testing::PrintToString(c.options));
    const Outcome outcome = RunProgram(arguments);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.standardError;
    EXPECT_EQ(outcome.standardOutput, c.output);
  }

  const Outcome json = RunProgram(Arguments({"--host", host, "-f", "jsonl", list}));
  ASSERT_EQ(json.exitCode, 0) << json.standardError;
  std::vector<nlohmann::json> records;
  std::size_t start = 0;
  for (std::size_t end; (end = json.standardOutput.find('\n', start)) != std::string::npos;
       start = end + 1) {
    records.push_back(nlohmann::json::parse(json.standardOutput.substr(start, end - start)));
  }
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[1]["number"], "YT2");
  EXPECT_EQ(records[1]["time"], kTime);
  EXPECT_EQ(records[1]["event"], kArrivedUtf8 + "YT2");
  EXPECT_EQ(records[1]["ok"], true);
  EXPECT_EQ(records[1]["status"], "200 OK");

  // The table is for a console; asked for in a pipe it still lines up by display width
  // ("单号" is four columns wide).
  const Outcome table = RunProgram(Arguments({"--host", host, "-f", "table", list}));
  ASSERT_EQ(table.exitCode, 0) << table.standardError;
  EXPECT_NE(table.standardOutput.find("\nSF1   " + kTime + "  " + kArrivedUtf8 + "SF1\n"),
            std::string::npos)
      << table.standardOutput;
}

TEST(WaybillQueryExe, AChineseFileNameIsReadAndTheResultAppearsOnlyWhenComplete) {
  Endpoint endpoint;
  TempDir dir;
  const std::string list = dir.Write(kListName, "SF1\r\nYT2\r\nZT3\r\n");
  for (const std::string extension : {".csv", ".xlsx"}) {
    SCOPED_TRACE(extension);
    const std::string result = dir.File(kResultName + extension);
    test_support::WriteFile(result, "the earlier run");
    endpoint.Hold("ZT3");
    ChildProcess child(Arguments({"--host", endpoint.Host(), "-o", result, list}));
    ASSERT_TRUE(child.Started());
    // Two rows are done and the third is on its way: the earlier file is still all there is.
    ASSERT_TRUE(endpoint.WaitForRequests(extension == ".csv" ? 3 : 6));
    EXPECT_EQ(ReadFile(result), "the earlier run");
    endpoint.ReleaseAll();
    ASSERT_EQ(child.Wait(60s), 0);
    const std::string written = ReadFile(result);
    if (extension == ".csv") {
      EXPECT_EQ(written, kHeaderUtf8 + "\r\n" + CsvRow("SF1", kArrivedUtf8) +
                             CsvRow("YT2", kArrivedUtf8) + CsvRow("ZT3", kArrivedUtf8));
    } else {
      const std::string strings = test_support::ReadZip(written)["xl/sharedStrings.xml"];
      for (const std::string& cell : {kArrivedUtf8 + "SF1", kArrivedUtf8 + "ZT3", kTime}) {
        EXPECT_NE(strings.find("<t>" + cell + "</t>"), std::string::npos) << strings;
      }
    }
  }
  // The list and the two results: no temporary file left beside them.
  EXPECT_EQ(dir.EntryCount(), 3u);
}

TEST(WaybillQueryExe, ExitStatusAndMessagesAreThoseOfTheLinuxBuild) {
  Endpoint endpoint;
  TempDir dir;
  const std::string host = endpoint.Host();
  const std::string good = dir.Write("good.txt", "SF1\r\nYT2\r\n");
  const std::string bad = dir.Write("bad.txt", "SF1\r\nE500\r\nYT2\r\n");
  const struct {
    std::vector<std::string> arguments;
    int exitCode;
    std::string error;  // a line standard error must hold
  } cases[] = {
      {{"--host", host, good}, 0, ""},
      {{"--host", host, bad},
       1,
       "waybill-query: row 2, number 'E500': HTTP 500 Internal Server Error\n"},
      {{"--host", host, bad}, 1, "waybill-query: 1 of 3 rows failed\n"},
      {{"--host", host, dir.File("missing.txt")},
       2,
       "waybill-query: cannot read " + dir.File("missing.txt") + ": No such file or directory\n"},
      {{"--host", host, "-o", dir.File("no\\such\\folder.csv"), good},
       2,
       "waybill-query: cannot write " + dir.File("no\\such\\folder.csv") +
           ": No such file or directory\n"},
      {{"--host", host, "-f", "xlsx", good},
       2,
       "waybill-query: --format xlsx needs --output FILE\n"},
      {{"--host", "http://" + host, good}, 2, "give the host without a scheme"},
      {{"--jobs", "0", good}, 2, "Run with --help for more information.\n"},
      {{}, 2, "waybill-query: FILE is required\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> arguments = {kProgram};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    const Outcome outcome = RunProgram(arguments);
    EXPECT_EQ(outcome.exitCode, c.exitCode) << outcome.standardError;
    EXPECT_NE(outcome.standardError.find(c.error), std::string::npos) << outcome.standardError;
  }
  const Outcome version = RunProgram(Arguments({"--version"}));
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.standardOutput, "waybill-query 0.1\n");
}

TEST(WaybillQueryExe, AnUnreachableEndpointFailsEveryRowAndKeepsItsPlace) {
  TempDir dir;
  const std::string host = "127.0.0.1:" + std::to_string(test_support::UnusedPort());
  const Outcome outcome = RunProgram(
      Arguments({"--host", host, "-f", "jsonl", dir.Write("list.txt", "SF1\r\nYT2\r\n")}));
  EXPECT_EQ(outcome.exitCode, 1);
  EXPECT_NE(outcome.standardError.find("row 2, number 'YT2': " + kSendFailedUtf8),
            std::string::npos)
      << outcome.standardError;
  EXPECT_EQ(outcome.standardOutput,
            "{\"number\":\"SF1\",\"time\":\"\",\"event\":\"\",\"ok\":false,\"error\":\"" +
                kSendFailedUtf8 +
                "\"}\n"
                "{\"number\":\"YT2\",\"time\":\"\",\"event\":\"\",\"ok\":false,\"error\":\"" +
                kSendFailedUtf8 + "\"}\n");
}

TEST(WaybillQueryExe, ParallelJobsKeepTheListOrder) {
  Endpoint endpoint;
  TempDir dir;
  std::string list;
  std::string expected = kHeaderUtf8 + "\r\n";
  for (int i = 1; i <= 8; ++i) {
    const std::string number = "N" + std::to_string(i);
    endpoint.Delay(number, std::chrono::milliseconds(40 * (9 - i)));
    list += number + "\r\n";
    expected += CsvRow(number, kArrivedUtf8);
  }
  const Outcome outcome =
      RunProgram(Arguments({"--host", endpoint.Host(), "-j", "4", dir.Write("list.txt", list)}));
  EXPECT_EQ(outcome.exitCode, 0) << outcome.standardError;
  EXPECT_EQ(outcome.standardOutput, expected);
  EXPECT_GT(endpoint.MostInFlight(), 1);
}

TEST(WaybillQueryExe, ReadsStandardInput) {
  Endpoint endpoint;
  const Outcome outcome =
      RunProgram(Arguments({"--host", endpoint.Host(), "-f", "csv", "-"}), "SF1\nYT2\n");
  EXPECT_EQ(outcome.exitCode, 0) << outcome.standardError;
  EXPECT_EQ(outcome.standardOutput,
            kHeaderUtf8 + "\r\n" + CsvRow("SF1", kArrivedUtf8) + CsvRow("YT2", kArrivedUtf8));
}

}  // namespace
}  // namespace korvanel::cli
