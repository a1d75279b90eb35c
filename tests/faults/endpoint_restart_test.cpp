// The endpoint dies in the middle of a batch and comes back: the rows asked while it was
// gone show the empty cells of a failed query, the rows after its return fill as usual, and
// the command-line tool with --retries recovers every row.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "app/batch_query.h"
#include "app/import.h"
#include "app/report_list.h"
#include "tests/faults/fault_support.h"
#include "text/text.h"

namespace korvanel::faults {
namespace {

// A report list that runs a hook once a row's last cell is written, between two requests.
class HookedList : public MemoryReportList {
 public:
  std::function<void(int row)> afterRow;
  void SetCellText(int row, int column, std::string_view text) override {
    MemoryReportList::SetCellText(row, column, text);
    if (column == kEventColumn && afterRow) afterRow(row);
  }
};

// The first rows of the demo waybill list, as the import lists them.
TextArray DemoNumbers(int count) {
  const TextArray all = ListWaybillNumbers(ReadTextFile(SourceDir() + "/samples/waybills.txt"));
  return TextArray(all.begin(), all.begin() + std::min<int>(count, static_cast<int>(all.size())));
}

class EndpointRestart : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeDemoDatabase(m_dir.File("events.db"));
    m_endpoint = std::make_unique<EndpointProcess>(m_dir.File("events.db"));
  }
  TempDir m_dir;
  std::unique_ptr<EndpointProcess> m_endpoint;
};

TEST_F(EndpointRestart, RowsAskedWhileItIsDownStayEmptyAndLaterRowsFill) {
  const TextArray numbers = DemoNumbers(10);
  ASSERT_EQ(numbers.size(), 10u);
  const Text prefix = QueryAddressPrefixForHost(m_endpoint->Host());

  HookedList baseline;
  for (const Text& n : numbers) baseline.SetCellText(baseline.AddRow(), kNumberColumn, n);
  QueryAllWaybills(baseline, prefix);
  for (int row = 3; row <= 5; ++row) {
    ASSERT_NE(baseline.GetCellText(row, kTimeColumn), "  ") << "row " << row << " is not known";
  }

  HookedList list;
  for (const Text& n : numbers) list.SetCellText(list.AddRow(), kNumberColumn, n);
  const int port = m_endpoint->Port();
  list.afterRow = [&](int row) {
    if (row == 2) m_endpoint->Kill();
    if (row == 5) m_endpoint = std::make_unique<EndpointProcess>(m_dir.File("events.db"), port);
  };
  QueryAllWaybills(list, prefix);

  ASSERT_EQ(list.RowCount(), 10);
  for (int row = 0; row < 10; ++row) {
    SCOPED_TRACE("row " + std::to_string(row));
    EXPECT_EQ(list.GetCellText(row, kNumberColumn), numbers[row]);
    if (row >= 3 && row <= 5) {
      EXPECT_EQ(list.GetCellText(row, kTimeColumn), "  ");
      EXPECT_EQ(list.GetCellText(row, kEventColumn), "");
    } else {
      EXPECT_EQ(list.GetCellText(row, kTimeColumn), baseline.GetCellText(row, kTimeColumn));
      EXPECT_EQ(list.GetCellText(row, kEventColumn), baseline.GetCellText(row, kEventColumn));
    }
  }
  EXPECT_EQ(list.VisibleCalls().size(), 10u);
}

#ifdef WAYBILL_QUERY_EXE
TEST_F(EndpointRestart, CommandLineWithRetriesRecoversEveryRow) {
  Text list;
  for (const Text& n : DemoNumbers(10)) list += n + "\r\n";
  WriteFile(m_dir.File("list.txt"), list);
  const auto command = [&](const std::string& out, std::vector<std::string> extra) {
    std::vector<std::string> argv = {WAYBILL_QUERY_EXE, "-q", "-f", "csv", "--host",
                                     m_endpoint->Host(), "-o", m_dir.File(out)};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back(m_dir.File("list.txt"));
    return argv;
  };
  ASSERT_EQ(RunProgramTo(command("baseline.csv", {})), 0);
  const std::string baseline = ReadFile(m_dir.File("baseline.csv"));
  ASSERT_FALSE(baseline.empty());

  // A pause between requests keeps the batch running for seconds; the endpoint goes down
  // for one of them, well within what six retries with their backoff wait out.
  const int port = m_endpoint->Port();
  ChildProcess cli(command("faulted.csv", {"--retries", "6", "--delay", "300"}), "",
                   m_dir.File("faulted.err"));
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  ASSERT_TRUE(cli.Running()) << "the batch ended before the endpoint could be killed";
  m_endpoint->Kill();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  ASSERT_TRUE(cli.Running()) << "the batch ended while the endpoint was down";
  m_endpoint = std::make_unique<EndpointProcess>(m_dir.File("events.db"), port);

  EXPECT_EQ(cli.Wait(), 0) << ReadFile(m_dir.File("faulted.err"));
  EXPECT_EQ(ReadFile(m_dir.File("faulted.csv")), baseline);
}
#endif

}  // namespace
}  // namespace korvanel::faults
