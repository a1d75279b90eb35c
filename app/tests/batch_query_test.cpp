#include "app/batch_query.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/tests/page_server.h"
#include "web/message_pump.h"

namespace korvanel {
namespace {

using test_support::PageServer;
using test_support::ReadFixture;

// Event texts of the fixture pages, newest entry first.
constexpr std::string_view kSigned = "\xBF\xEC\xBC\xFE\xD2\xD1\xC7\xA9\xCA\xD5";  // "快件已签收"
constexpr std::string_view kArrived =                                         // "快件已到达深圳"
    "\xBF\xEC\xBC\xFE\xD2\xD1\xB5\xBD\xB4\xEF\xC9\xEE\xDB\xDA";
constexpr std::string_view kNewestTime = "2024-05-03  10:20:00";

TEST(QueryAddress, PrefixNumberAndTypeUnchanged) {
  EXPECT_EQ(QueryAddressPrefixForHost("example.test:81"),
            "http://example.test:81/korvanelapi.php?yundanhao=");
  EXPECT_EQ(QueryAddressPrefix(), QueryAddressPrefixForHost(DefaultEndpointHost()));
  EXPECT_EQ(QueryAddress("P?n=", " A 1 "), "P?n= A 1 &type=html");
  EXPECT_EQ(QueryAddress("P?n=", ""), "P?n=&type=html");
}

TEST(ScrapeLatestEvent, FixturePages) {
  struct Case {
    const char* fixture;
    std::string time;
    std::string event;
  };
  const std::vector<Case> cases = {
      {"two_entries.html", std::string(kNewestTime), std::string(kSigned)},
      {"ninety_five_spaces.html", std::string(kNewestTime), std::string(kSigned) + "     "},
      // The event text ends where the next entry begins, so a lone entry has none.
      {"single_entry.html", std::string(kNewestTime), ""},
      {"no_timeline.html", "  ", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    const std::string page = ReadFixture(c.fixture);
    ASSERT_FALSE(page.empty());
    const LatestEvent latest = ScrapeLatestEvent(page);
    EXPECT_EQ(latest.time, c.time);
    EXPECT_EQ(latest.event, c.event);
  }
}

// An older entry at the same clock time as the newest one used to be shown as the latest
// event (or hide it when the older entry was the last one). The newest entry must win.
TEST(ScrapeLatestEvent, OlderEntryWithTheSameTimeDoesNotHideTheNewest) {
  for (const char* fixture : {"repeated_time.html", "repeated_time_final.html"}) {
    SCOPED_TRACE(fixture);
    const LatestEvent latest = ScrapeLatestEvent(ReadFixture(fixture));
    EXPECT_EQ(latest.time, kNewestTime);
    EXPECT_EQ(latest.event, kSigned);
  }
}

TEST(ScrapeLatestEvent, MissingMarkersLeaveTheirPartEmpty) {
  struct Case {
    const char* name;
    std::string page;
    std::string time;
  };
  const std::vector<Case> cases = {
      {"empty page", "", "  "},
      {"no title", "<h3>D1&nbsp;&nbsp;T1</h3>", "  T1"},
      {"no time", "<h3 class=\"layui-timeline-title\">D1&nbsp;x</h3>", "D1  "},
      {"no time end", "<h3 class=\"layui-timeline-title\">D1&nbsp;&nbsp;T1", "D1  "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const LatestEvent latest = ScrapeLatestEvent(c.page);
    EXPECT_EQ(latest.time, c.time);
    EXPECT_EQ(latest.event, "");
  }
}

// The message pump that WebRequest runs between its stages; tests put their nested actions
// here, as window events would run in the desktop tool.
std::function<void()> g_pumpAction;

class BatchQueryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_pumpAction = nullptr;
    SetMessagePump([] {
      if (g_pumpAction) g_pumpAction();
    });
    m_server.SetPage("A1", ReadFixture("two_entries.html"));
    m_server.SetPage("B2", ReadFixture("ninety_five_spaces.html"));
    m_server.SetPage("C3", ReadFixture("repeated_time.html"));
    m_prefix = QueryAddressPrefixForHost(m_server.Host());
  }
  void TearDown() override {
    SetMessagePump(nullptr);
    g_pumpAction = nullptr;
  }

  void AddRows(std::initializer_list<const char*> numbers) {
    for (const char* number : numbers) m_list.SetCellText(m_list.AddRow(), 0, number);
  }
  static std::string Target(const std::string& number) {
    return "/korvanelapi.php?yundanhao=" + number + "&type=html";
  }

  PageServer m_server;
  Text m_prefix;
  MemoryReportList m_list;
};

TEST_F(BatchQueryTest, FillsEveryRowFromItsPageInOrder) {
  AddRows({"A1", "B2", "C3", "D4"});
  QueryAllWaybills(m_list, m_prefix);

  const std::vector<MemoryReportList::Row> expected = {
      {"A1", std::string(kNewestTime), std::string(kSigned)},
      {"B2", std::string(kNewestTime), std::string(kSigned) + "     "},
      {"C3", std::string(kNewestTime), std::string(kSigned)},
      {"D4", "  ", ""},  // the endpoint knows no such waybill
  };
  EXPECT_EQ(m_list.Rows(), expected);
  EXPECT_EQ(m_list.VisibleCalls(), (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(m_server.Targets(),
            (std::vector<std::string>{Target("A1"), Target("B2"), Target("C3"), Target("D4")}));
}

TEST_F(BatchQueryTest, NumbersAreSentUnchanged) {
  m_server.SetPage("", ReadFixture("two_entries.html"));
  m_server.SetPage(" A1 ", ReadFixture("two_entries.html"));
  AddRows({"", " A1 "});
  QueryAllWaybills(m_list, m_prefix);

  // The space goes out escaped by the request routine, the way a browser sends it.
  EXPECT_EQ(m_server.Targets(), (std::vector<std::string>{Target(""), Target("%20A1%20")}));
  for (int row : {0, 1}) {
    SCOPED_TRACE(row);
    EXPECT_EQ(m_list.GetCellText(row, kTimeColumn), kNewestTime);
    EXPECT_EQ(m_list.GetCellText(row, kEventColumn), kSigned);
  }
}

TEST_F(BatchQueryTest, UnreachableEndpointLeavesTwoSpacesAndTellsOnlyTheCaller) {
  const Text prefix =
      QueryAddressPrefixForHost("127.0.0.1:" + std::to_string(test_support::UnusedPort()));
  AddRows({"A1", "B2"});
  m_list.SetCellText(0, kEventColumn, "stale");
  QueryAllWaybills(m_list, prefix);
  for (int row : {0, 1}) {
    SCOPED_TRACE(row);
    EXPECT_EQ(m_list.GetCellText(row, kTimeColumn), "  ");
    EXPECT_EQ(m_list.GetCellText(row, kEventColumn), "");
  }

  Text status = "unset";
  const LatestEvent latest = QueryWaybill(prefix, "A1", &status);
  EXPECT_EQ(latest.time, "  ");
  // A numbered message of the request routine, never shown in the list.
  EXPECT_TRUE(status.size() > 3 && status[0] == '7') << status;

  status = "unset";
  EXPECT_EQ(QueryWaybill(m_prefix, "A1", &status).event, kSigned);
  EXPECT_EQ(status, "200 OK");
}

TEST_F(BatchQueryTest, EmptyListSendsNothing) {
  QueryAllWaybills(m_list, m_prefix);
  EXPECT_TRUE(m_server.Targets().empty());
}

TEST_F(BatchQueryTest, EveryPassOverwritesTheEarlierResult) {
  AddRows({"A1"});
  QueryAllWaybills(m_list, m_prefix);
  m_server.SetPage("A1", ReadFixture("single_entry.html"));
  QueryAllWaybills(m_list, m_prefix);
  EXPECT_EQ(m_list.GetCellText(0, kEventColumn), "");
  EXPECT_EQ(m_server.Targets().size(), 2u);
}

TEST_F(BatchQueryTest, RowsAddedDuringAPassWaitForTheNextPass) {
  AddRows({"A1", "B2"});
  g_pumpAction = [this] {
    g_pumpAction = nullptr;
    AddRows({"C3"});
  };
  QueryAllWaybills(m_list, m_prefix);
  EXPECT_EQ(m_server.Targets(), (std::vector<std::string>{Target("A1"), Target("B2")}));
  EXPECT_EQ(m_list.Rows()[2], (MemoryReportList::Row{"C3", "", ""}));
}

TEST_F(BatchQueryTest, SecondClickDuringAPassRunsAWholeNestedPass) {
  AddRows({"A1", "B2"});
  g_pumpAction = [this] {
    g_pumpAction = nullptr;
    QueryAllWaybills(m_list, m_prefix);
  };
  QueryAllWaybills(m_list, m_prefix);
  // The nested pass runs to its end inside the first request, then the first pass goes on.
  EXPECT_EQ(m_server.Targets(), (std::vector<std::string>{Target("A1"), Target("A1"),
                                                           Target("B2"), Target("B2")}));
  EXPECT_EQ(m_list.GetCellText(1, kEventColumn), std::string(kSigned) + "     ");
}

TEST_F(BatchQueryTest, ListGoneDuringARequestEndsThePassUntouched) {
  AddRows({"A1", "B2", "C3"});
  int answers = 0;
  QueryAllWaybills(m_list, m_prefix, [&] { return ++answers < 2; });
  EXPECT_EQ(m_list.GetCellText(0, kTimeColumn), kNewestTime);
  EXPECT_EQ(m_list.GetCellText(1, kTimeColumn), "");
  EXPECT_EQ(m_list.VisibleCalls(), (std::vector<int>{0}));
  EXPECT_EQ(m_server.Targets().size(), 2u);
}

}  // namespace
}  // namespace korvanel
