#include "app/detail_window.h"

#include "app/batch_query.h"

namespace korvanel {

Text selectedCellText;

Text DetailCaption(std::string_view cellText) {
  return ConcatText({cellText, kDetailCaptionSuffix});
}

void ShowCellDetail(int x, int y, int /*keys*/, const ListHitTester& hitTester,
                    const ReportList& list, DetailWindowOpener& opener) {
  const CellHit hit = hitTester.HitTest(x, y);
  selectedCellText = list.GetCellText(hit.row, hit.column);
  opener.OpenDetailWindow();
}

void InitDetailWindow(DetailWindowView& window, std::string_view prefix) {
  window.SetCaption(DetailCaption(selectedCellText));
  window.SetAddress(QueryAddress(prefix, selectedCellText));
}

}  // namespace korvanel
