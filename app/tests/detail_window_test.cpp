#include "app/detail_window.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/batch_query.h"

namespace korvanel {
namespace {

// "-详细物流信息"
constexpr std::string_view kSuffixBytes = "-\xCF\xEA\xCF\xB8\xCE\xEF\xC1\xF7\xD0\xC5\xCF\xA2";

// Cells laid out on a grid of 100 x 20 pixel cells; below the last row nothing is hit.
class GridHitTester : public ListHitTester {
 public:
  explicit GridHitTester(const ReportList& list) : m_list(list) {}
  CellHit HitTest(int x, int y) const override {
    const int row = y / 20;
    if (row >= m_list.RowCount()) return {-1, x / 100};
    return {row, x / 100};
  }

 private:
  const ReportList& m_list;
};

struct OpenedWindow {
  Text caption;
  Text address;
};

class FakeDetailView : public DetailWindowView {
 public:
  void SetCaption(std::string_view caption) override { window.caption = Text(caption); }
  void SetAddress(std::string_view address) override { window.address = Text(address); }
  OpenedWindow window;
};

// Opens a fresh window each time and runs its creation handler, as the desktop tool does.
class FakeOpener : public DetailWindowOpener {
 public:
  explicit FakeOpener(Text prefix) : m_prefix(std::move(prefix)) {}
  void OpenDetailWindow() override {
    FakeDetailView view;
    InitDetailWindow(view, m_prefix);
    opened.push_back(view.window);
  }
  std::vector<OpenedWindow> opened;

 private:
  Text m_prefix;
};

TEST(DetailCaption, AppendsTheSuffixInCodePage936) {
  EXPECT_EQ(kDetailCaptionSuffix, kSuffixBytes);
  EXPECT_EQ(DetailCaption("123"), "123" + std::string(kSuffixBytes));
  EXPECT_EQ(DetailCaption(""), kSuffixBytes);
}

TEST(ShowCellDetail, OpensTheWindowForTheCellUnderTheMouse) {
  MemoryReportList list;
  list.AddRow();
  list.SetCellText(0, 0, "123");
  list.SetCellText(0, 1, "2024-05-03  10:20:00");
  list.SetCellText(0, 2, "\xBF\xEC\xBC\xFE");  // "快件"
  const GridHitTester hitTester(list);
  const Text prefix = "http://h/korvanelapi.php?yundanhao=";

  struct Case {
    const char* name;
    int x, y;
    Text text;
  };
  const std::vector<Case> cases = {
      {"number cell", 10, 5, "123"},
      {"time cell", 150, 5, "2024-05-03  10:20:00"},
      {"event cell", 250, 5, "\xBF\xEC\xBC\xFE"},
      {"empty area below the rows", 10, 300, ""},
      {"number cell again", 50, 15, "123"},
  };
  FakeOpener opener(prefix);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ShowCellDetail(c.x, c.y, 0, hitTester, list, opener);
    ASSERT_FALSE(opener.opened.empty());
    EXPECT_EQ(opener.opened.back().caption, c.text + std::string(kSuffixBytes));
    EXPECT_EQ(opener.opened.back().address, prefix + c.text + "&type=html");
    // The text stays after the window is closed, until the next double-click.
    EXPECT_EQ(selectedCellText, c.text);
  }
  EXPECT_EQ(opener.opened.size(), cases.size());
}

}  // namespace
}  // namespace korvanel
