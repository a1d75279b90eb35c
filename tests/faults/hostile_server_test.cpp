// Servers that misbehave: one that accepts and never answers, one that sends a 100 MiB page,
// one that sends binary garbage. Each row still ends, is written, and nothing hangs.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "app/batch_query.h"
#include "app/report_list.h"
#include "tests/faults/fault_support.h"

namespace korvanel::faults {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string Head(std::size_t contentLength) {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
         std::to_string(contentLength) + "\r\nConnection: close\r\n\r\n";
}

std::string Fixture(const std::string& name) {
  return ReadFile(SourceDir() + "/app/tests/fixtures/" + name);
}

TEST(SilentServer, EachRowEndsAfterTheTimeoutAndNoLater) {
  LoopbackServer server;
  server.Fallback([](const ReceivedRequest&) { return Reply{.after = Reply::After::kHold}; });
  const Text prefix = QueryAddressPrefixForHost(server.HostPort());
  for (const char* number : {"SF1", "SF2", "SF3"}) {
    SCOPED_TRACE(number);
    Text status;
    const auto start = Clock::now();
    const LatestEvent latest = QueryWaybill(prefix, number, &status, 1);
    const double took = SecondsSince(start);
    EXPECT_EQ(latest.time, "  ");
    EXPECT_EQ(latest.event, "");
    EXPECT_EQ(status.rfind("71", 0), 0u) << status;
    // One second of timeout; the bounds are loose so a loaded machine does not fail them.
    EXPECT_GE(took, 0.8);
    EXPECT_LT(took, 10.0);
  }
  EXPECT_EQ(server.ConnectionCount(), 3);
}

#ifdef WAYBILL_QUERY_EXE
TEST(SilentServer, CommandLineEndsEveryRowAfterTheTimeout) {
  LoopbackServer server;
  server.Fallback([](const ReceivedRequest&) { return Reply{.after = Reply::After::kHold}; });
  TempDir dir;
  WriteFile(dir.File("list.txt"), "SF1\r\nSF2\r\nSF3\r\n");
  const auto start = Clock::now();
  const int status =
      RunProgramTo({WAYBILL_QUERY_EXE, "-q", "-f", "csv", "--timeout", "1", "--host",
                    server.HostPort(), "-o", dir.File("out.csv"), dir.File("list.txt")});
  const double took = SecondsSince(start);
  EXPECT_EQ(status, 1);  // some rows failed
  EXPECT_LT(took, 20.0);
  const std::string out = ReadFile(dir.File("out.csv"));
  for (const char* number : {"SF1", "SF2", "SF3"}) {
    EXPECT_NE(out.find(number), std::string::npos) << out;
  }
}
#endif

// A waybill line may hold a lone CR or LF (only CR LF ends a line) and any other byte; none
// of them may end the request line early or start a header line of its own on the wire.
TEST(RequestLine, NoNumberCanSplitTheRequest) {
  LoopbackServer server;
  server.Fallback([](const ReceivedRequest&) {
    return Reply{.bytes = Head(2) + "ok", .after = Reply::After::kClose};
  });
  const std::string numbers[] = {
      "SF1\nX-Injected: 1",
      "SF1\rX-Injected: 1",
      "SF1 HTTP/1.1\nX-Injected: 1\n",
      "\x81\nX-Injected: 1",
      "SF1\t\x7F\x01",
      "SF1%0D%0AX-Injected: 1",
  };
  const Text prefix = QueryAddressPrefixForHost(server.HostPort());
  for (const std::string& number : numbers) {
    Text status;
    QueryWaybill(prefix, number, &status);
    EXPECT_EQ(status, "200 OK") << number;
  }
  std::vector<std::string> heads;
  for (const ReceivedRequest& request : server.Requests()) heads.push_back(request.raw);
  ASSERT_EQ(heads.size(), std::size(numbers));
  for (const std::string& head : heads) {
    SCOPED_TRACE(head);
    const std::string requestLine = head.substr(0, head.find("\r\n"));
    EXPECT_EQ(requestLine.rfind("GET /korvanelapi.php?yundanhao=", 0), 0u);
    EXPECT_TRUE(requestLine.ends_with("&type=html HTTP/1.1"));
    // Only printable ASCII: controls, spaces inside the number and bytes above 0x7F go
    // percent-escaped.
    int spaces = 0;
    for (char c : requestLine) {
      const auto b = static_cast<unsigned char>(c);
      spaces += b == ' ';
      EXPECT_TRUE(b >= 0x20 && b < 0x7F) << static_cast<int>(b);
    }
    EXPECT_EQ(spaces, 2);
    EXPECT_EQ(head.find("\nX-Injected"), std::string::npos);
  }
}

TEST(HugePage, A100MiBPageIsReadAndItsRowWritten) {
  const std::string page = Fixture("two_entries.html");
  ASSERT_FALSE(page.empty());
  const LatestEvent expected = ScrapeLatestEvent(page);
  ASSERT_NE(expected.event, "");
  constexpr std::size_t kTotal = std::size_t{100} << 20;
  LoopbackServer server;
  Reply huge{.bytes = Head(kTotal) + page, .after = Reply::After::kClose};
  // The filler is written as the client reads it; a write fails once the client or the
  // server has gone.
  huge.writer = [&page](Stream& stream) {
    const std::string filler(1 << 20, 'x');
    std::size_t sent = page.size();
    while (sent < kTotal) {
      const std::size_t n = std::min(filler.size(), kTotal - sent);
      if (!stream.Write(std::string_view(filler).substr(0, n))) return false;
      sent += n;
    }
    return true;
  };
  server.Fallback([&huge](const ReceivedRequest&) { return huge; });
  MemoryReportList list;
  list.SetCellText(list.AddRow(), kNumberColumn, "SF1");
  QueryAllWaybills(list, QueryAddressPrefixForHost(server.HostPort()));
  EXPECT_EQ(list.GetCellText(0, kTimeColumn), expected.time);
  EXPECT_EQ(list.GetCellText(0, kEventColumn), expected.event);
}

// Half a megabyte of Set-Cookie lines before a proper page: the row ends and is written,
// with the page's cells when the HTTP layer takes a head that big, empty ones when not.
TEST(HeaderFlood, ManyCookieLinesEndAndWriteTheRow) {
  const std::string page = Fixture("two_entries.html");
  const LatestEvent expected = ScrapeLatestEvent(page);
  std::string head = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < 20000; ++i) head += "Set-Cookie: c" + std::to_string(i) + "=1; path=/\r\n";
  head += "Content-Length: " + std::to_string(page.size()) + "\r\nConnection: close\r\n\r\n";
  LoopbackServer server;
  server.Fallback([&](const ReceivedRequest&) {
    return Reply{.bytes = head + page, .after = Reply::After::kClose};
  });
  MemoryReportList list;
  list.SetCellText(list.AddRow(), kNumberColumn, "SF1");
  const auto start = Clock::now();
  QueryAllWaybills(list, QueryAddressPrefixForHost(server.HostPort()));
  EXPECT_LT(SecondsSince(start), 60.0);
  const Text time = list.GetCellText(0, kTimeColumn);
  EXPECT_TRUE(time == expected.time || time == "  ") << time;
  EXPECT_EQ(list.GetCellText(0, kEventColumn), time == "  " ? "" : expected.event);
}

// Bytes of every value, zeros included, from a fixed seed.
std::string Garbage(std::size_t size) {
  std::mt19937 random(936);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
  return bytes;
}

TEST(GarbagePage, BinaryBodyOrBinaryAnswerLeavesTheEmptyCells) {
  const std::string garbage = Garbage(4 << 20);
  struct Case {
    const char* name;
    std::string answer;
  };
  const Case cases[] = {
      {"garbage body after a proper head", Head(garbage.size()) + garbage},
      {"garbage instead of an answer", garbage},
      {"garbage body without a length", "HTTP/1.1 200 OK\r\n\r\n" + garbage},
      {"head cut off", "HTTP/1.1 200 OK\r\nContent-Le"},
      {"body shorter than its length", Head(1000) + "<html>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LoopbackServer server;
    server.Fallback([&](const ReceivedRequest&) {
      return Reply{.bytes = c.answer, .after = Reply::After::kClose};
    });
    MemoryReportList list;
    list.SetCellText(list.AddRow(), kNumberColumn, "SF1");
    list.SetCellText(list.AddRow(), kNumberColumn, "SF2");
    const auto start = Clock::now();
    QueryAllWaybills(list, QueryAddressPrefixForHost(server.HostPort()));
    EXPECT_LT(SecondsSince(start), 60.0);
    for (int row = 0; row < 2; ++row) {
      EXPECT_EQ(list.GetCellText(row, kTimeColumn), "  ");
      EXPECT_EQ(list.GetCellText(row, kEventColumn), "");
    }
    EXPECT_EQ(list.VisibleCalls().size(), 2u);
  }
}

}  // namespace
}  // namespace korvanel::faults
