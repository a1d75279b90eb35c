// The tracking-endpoint executable run as a child process, as scripts and users run it.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>

#include <chrono>
#include <string>
#include <vector>

#include "endpoint/event_store.h"
#include "endpoint/tracking_page.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace korvanel::endpoint {
namespace {

using namespace std::chrono_literals;
using test_support::ChildProcess;
using test_support::ReadFile;
using test_support::TempDir;

// tracking-endpoint with args: its standard output a pipe, its standard error a file.
ChildProcess StartTool(const std::vector<std::string>& args, const std::string& stderrPath) {
  std::vector<std::string> command = {TRACKING_ENDPOINT_EXE};
  command.insert(command.end(), args.begin(), args.end());
  return ChildProcess(
      ChildProcess::Setup{.arguments = command, .pipeOutput = true, .standardError = stderrPath});
}

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

Outcome RunTool(const TempDir& dir, const std::vector<std::string>& args) {
  const std::string errPath = dir.File("stderr.txt");
  ChildProcess child = StartTool(args, errPath);
  std::string out = child.ReadRest();
  int status = child.Wait();
  return {status, out, ReadFile(errPath)};
}

int EventCount(const std::string& db) { return EventStore(db).EventCount(); }

TEST(CommandLine, BadUsageExitsWithTwoAndSaysWhy) {
  TempDir dir;
  const std::string db = dir.File("events.db");
  struct Case {
    std::vector<std::string> args;
    const char* says;
  };
  const Case cases[] = {
      {{}, "usage:"},
      {{"launch"}, "unknown command"},
      {{"serve"}, "--db FILE is required"},
      {{"serve", "--db"}, "--db needs a value"},
      {{"serve", "--db", db, "--port", "1"}, "unknown option --port"},
      {{"serve", "--db", db, "--listen", "8580"}, "HOST:PORT"},
      {{"serve", "--db", db, "--listen", "127.0.0.1:70000"}, "port"},
      {{"serve", "--db", db, "--latency-ms", "-5"}, "--latency-ms"},
      {{"serve", "--db", db, "--latency-ms", "5ms"}, "--latency-ms"},
      {{"serve", "--db", db, "extra"}, "no argument"},
      {{"demo", "--db", db, "--db", db}, "twice"},
      {{"add", "--db", db, "SF1", "2025-03-10 08:15:00"}, "add needs"},
      {{"add", "--db", db, "SF1", "2025-03-10 8:15", "text"}, "YYYY-MM-DD HH:MM:SS"},
      {{"add", "--db", db, "SF1", "2025-02-30 08:15:00", "text"}, "YYYY-MM-DD HH:MM:SS"},
      {{"add", "--db", db, std::string(65, '1'), "2025-03-10 08:15:00", "text"}, "64 bytes"},
      {{"add", "--db", db, "--encoding", "latin1", "SF1", "2025-03-10 08:15:00", "t"},
       "--encoding"},
      {{"import", "--db", db}, "import needs"},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const std::string& a : c.args) joined += a + " ";
    SCOPED_TRACE(joined);
    Outcome outcome = RunTool(dir, c.args);
    EXPECT_EQ(outcome.status, 2);
    EXPECT_NE(outcome.err.find(c.says), std::string::npos) << outcome.err;
  }
  EXPECT_FALSE(std::ifstream(db).good());  // no command above created the database
  Outcome help = RunTool(dir, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("tracking-endpoint serve"), std::string::npos);
}

TEST(CommandLine, DemoThenServeAnswersUntilSigintOrSigterm) {
  TempDir dir;
  const std::string db = dir.File("demo.db");
  Outcome demo = RunTool(dir, {"demo", "--db", db});
  ASSERT_EQ(demo.status, 0) << demo.err;
  EXPECT_NE(demo.out.find("waybills"), std::string::npos);

  for (int signalNumber : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signalNumber);
    ChildProcess server =
        StartTool({"serve", "--db", db, "--listen", "127.0.0.1:0"}, dir.File("serve.err"));
    const std::string first = server.ReadLine(30s);
    const std::string prefix = "listening on 127.0.0.1:";
    ASSERT_EQ(first.rfind(prefix, 0), 0u) << first << ReadFile(dir.File("serve.err"));
    int port = std::stoi(first.substr(prefix.size()));
    ASSERT_GT(port, 0);

    {
      httplib::Client client("127.0.0.1", port);
      client.set_keep_alive(true);  // an idle connection must not hold the stop
      auto result = client.Get("/korvanelapi.php?yundanhao=SF1000000001&type=html");
      ASSERT_TRUE(result);
      EXPECT_EQ(result->status, 200);
      EXPECT_NE(result->body.find("2025-03-10&nbsp;&nbsp;08:15:00</h3>"), std::string::npos);

      ASSERT_EQ(kill(static_cast<pid_t>(server.Pid()), signalNumber), 0);
      EXPECT_EQ(server.ReadLine(30s), "stopped");
      EXPECT_EQ(server.Wait(), 0);
    }
  }
}

TEST(CommandLine, ServeFailsClearlyWithoutADatabase) {
  TempDir dir;
  Outcome outcome =
      RunTool(dir, {"serve", "--db", dir.File("missing.db"), "--listen", "127.0.0.1:0"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("missing.db"), std::string::npos) << outcome.err;
  EXPECT_FALSE(std::ifstream(dir.File("missing.db")).good());
}

TEST(CommandLine, ImportIsAllOrNothing) {
  TempDir dir;
  const std::string db = dir.File("events.db");
  ASSERT_EQ(RunTool(dir, {"add", "--db", db, "SF0", "2025-03-01 00:00:00", "before"}).status, 0);
  const std::string bad = dir.Write("bad.csv",
                                    "number,time,text\r\n"
                                    "SF1,2025-03-10 08:15:00,picked up\r\n"
                                    "SF1,2025-03-11 09:00:00,arrived\r\n"
                                    "SF2,2025-03-11 25:00:00,bad hour\r\n"
                                    "SF2,2025-03-12 09:00:00,never read\r\n");
  Outcome rejected = RunTool(dir, {"import", "--db", db, bad});
  EXPECT_EQ(rejected.status, 1);
  EXPECT_NE(rejected.err.find("line 4:"), std::string::npos) << rejected.err;
  EXPECT_NE(rejected.err.find("nothing was imported"), std::string::npos) << rejected.err;
  EXPECT_EQ(EventCount(db), 1);

  // "测试" in GBK
  const std::string good = dir.Write("good.csv",
                                     "SF1,2025-03-10 08:15:00,picked up\r\n"
                                     "SF2,2025-03-12 09:00:00,\xB2\xE2\xCA\xD4\r\n");
  Outcome imported = RunTool(dir, {"import", "--db", db, "--encoding", "gbk", good});
  EXPECT_EQ(imported.status, 0) << imported.err;
  EXPECT_EQ(EventCount(db), 3);
  EXPECT_EQ(EventReader(db).EventsOf("SF2").at(0).text, "\xE6\xB5\x8B\xE8\xAF\x95");
  Outcome again = RunTool(dir, {"import", "--db", db, "--encoding", "gbk", good});
  EXPECT_EQ(again.status, 0);
  EXPECT_NE(again.out.find("imported 0 events"), std::string::npos) << again.out;
  EXPECT_EQ(EventCount(db), 3);

  Outcome missing = RunTool(dir, {"import", "--db", db, dir.File("none.csv")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("cannot read"), std::string::npos);
  Outcome folder = RunTool(dir, {"import", "--db", db, dir.path()});
  EXPECT_EQ(folder.status, 1);
  EXPECT_NE(folder.err.find("cannot read"), std::string::npos);
  Outcome empty = RunTool(dir, {"import", "--db", db, dir.Write("empty.csv", "")});
  EXPECT_EQ(empty.status, 1);
  EXPECT_NE(empty.err.find("no events"), std::string::npos);
}

TEST(CommandLine, AddKeepsTheNumberExactly) {
  TempDir dir;
  const std::string db = dir.File("events.db");
  Outcome added = RunTool(dir, {"add", "--db", db, "--", " -SF1 ", "2025-03-10 08:15:00", "a & b"});
  ASSERT_EQ(added.status, 0) << added.err;
  EXPECT_NE(added.out.find("recorded"), std::string::npos);
  EXPECT_EQ(EventReader(db).EventsOf(" -SF1 ").size(), 1u);
  Outcome twice = RunTool(dir, {"add", "--db", db, "--", " -SF1 ", "2025-03-10 08:15:00", "a & b"});
  EXPECT_EQ(twice.status, 0);
  EXPECT_NE(twice.out.find("already recorded"), std::string::npos);
  const std::string notDb = dir.Write("notes.txt", std::string(2048, 'n'));
  Outcome wrong = RunTool(dir, {"add", "--db", notDb, "SF1", "2025-03-10 08:15:00", "x"});
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.err.find("notes.txt"), std::string::npos) << wrong.err;
}

}  // namespace
}  // namespace korvanel::endpoint
