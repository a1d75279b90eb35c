// The detail window: a double-click on a cell opens a modal window whose web view shows the
// tracking page for that cell's text.
#pragma once

#include <string_view>

#include "app/report_list.h"
#include "text/text.h"

namespace korvanel {

// The text of the cell last double-clicked; empty at start. Written by ShowCellDetail, read
// by InitDetailWindow; it outlives each detail window until the next double-click.
extern Text selectedCellText;

// "-详细物流信息", the caption suffix of the detail window.
inline constexpr std::string_view kDetailCaptionSuffix =
    "-\xCF\xEA\xCF\xB8\xCE\xEF\xC1\xF7\xD0\xC5\xCF\xA2";

// Which cell lies under a point of the list's client area.
struct CellHit {
  int row = -1;  // -1 when no row is under the point (the empty area below the rows)
  int column = -1;
};

class ListHitTester {
 public:
  virtual ~ListHitTester() = default;
  virtual CellHit HitTest(int x, int y) const = 0;
};

// Opens a fresh detail window modally and returns once the user has closed it. The window
// runs InitDetailWindow when it is created.
class DetailWindowOpener {
 public:
  virtual ~DetailWindowOpener() = default;
  virtual void OpenDetailWindow() = 0;
};

// What InitDetailWindow sets on a detail window.
class DetailWindowView {
 public:
  virtual ~DetailWindowView() = default;
  virtual void SetCaption(std::string_view caption) = 0;  // code page 936 text
  // Setting the address starts the navigation.
  virtual void SetAddress(std::string_view address) = 0;  // code page 936 text
};

// cellText + "-详细物流信息".
Text DetailCaption(std::string_view cellText);

// The double-click handler of the list: takes the text of the cell under (x, y), the column
// included, so a time cell shows the page for its time text; the empty text below the rows.
// Keeps it in selectedCellText and opens the detail window. keys (Ctrl, Shift, Alt) is unused.
void ShowCellDetail(int x, int y, int keys, const ListHitTester& hitTester, const ReportList& list,
                    DetailWindowOpener& opener);

// The creation handler of the detail window: caption selectedCellText + "-详细物流信息",
// address QueryAddress(prefix, selectedCellText).
void InitDetailWindow(DetailWindowView& window, std::string_view prefix);

}  // namespace korvanel
