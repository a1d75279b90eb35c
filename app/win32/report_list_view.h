// The cells of the main window's report list, owned here as code page 936 text and shown
// through a list view that asks for them as it paints (an owner-data list view), so the
// exact bytes of every cell survive and a long list costs the control nothing.
#pragma once

#include <array>
#include <vector>

#include "app/report_list.h"
#include "app/win32/windows_api.h"

namespace korvanel {

class ReportListView : public ReportList {
 public:
  // Creates the list view as a child of parent, with its settings and three columns.
  // Returns false when the control cannot be created.
  bool Create(HWND parent, int id, RECT place, HFONT font);
  HWND ListWindowHandle() const { return m_list; }
  // The control is going away with its window; the cells stay readable.
  void ForgetControl() { m_list = nullptr; }

  // ReportList
  int AddRow() override;
  void SetCellText(int row, int column, std::string_view text) override;
  Text GetCellText(int row, int column) const override;
  int RowCount() const override;
  void EnsureVisible(int row) override;
  void BeginAppend() override;
  void EndAppend() override;

  // Answers the list view's LVN_GETDISPINFOW with a cell's text.
  void FillDisplayInfo(NMLVDISPINFOW& info) const;

 private:
  void PublishRows();

  HWND m_list = nullptr;  // a child of the main window, destroyed with it
  std::vector<std::array<Text, kColumnCount>> m_rows;
  // Rows appended inside an append bracket reach the control when it closes.
  int m_appendDepth = 0;
};

}  // namespace korvanel
