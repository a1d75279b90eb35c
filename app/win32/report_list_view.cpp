#include "app/win32/report_list_view.h"

#include <algorithm>
#include <string>

#include "app/win32/captions.h"
#include "app/win32/wide_text.h"

namespace korvanel {

namespace {

bool IsColumn(int column) { return column >= 0 && column < kColumnCount; }

struct ColumnSpec {
  std::string_view title;
  int width;
};
constexpr std::array<ColumnSpec, kColumnCount> kColumns = {
    ColumnSpec{kNumberTitle, 120}, ColumnSpec{kTimeTitle, 160}, ColumnSpec{kEventTitle, 400}};

}  // namespace

bool ReportListView::Create(HWND parent, int id, RECT place, HFONT font) {
  m_list = ::CreateWindowExW(
      WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
      WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS |
          LVS_OWNERDATA,
      place.left, place.top, place.right - place.left, place.bottom - place.top, parent,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr), nullptr);
  if (m_list == nullptr) return false;
  ::SendMessageW(m_list, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  const DWORD extended = LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT;
  ::SendMessageW(m_list, LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);
  ::SendMessageW(m_list, LVM_SETTEXTCOLOR, 0, RGB(0, 0, 0));
  ::SendMessageW(m_list, LVM_SETTEXTBKCOLOR, 0, RGB(255, 255, 255));
  ::SendMessageW(m_list, LVM_SETBKCOLOR, 0, RGB(255, 255, 255));
  for (int index = 0; index < kColumnCount; ++index) {
    std::wstring title = ToWide(kColumns[index].title);
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = kColumns[index].width;
    column.pszText = title.data();
    column.iSubItem = index;
    ::SendMessageW(m_list, LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&column));
  }
  PublishRows();
  return true;
}

int ReportListView::AddRow() {
  m_rows.emplace_back();
  if (m_appendDepth == 0) PublishRows();
  return RowCount() - 1;
}

void ReportListView::SetCellText(int row, int column, std::string_view text) {
  if (row < 0 || row >= RowCount() || !IsColumn(column)) return;
  m_rows[row][column] = Text(text);
  if (m_list != nullptr) ::SendMessageW(m_list, LVM_REDRAWITEMS, row, row);
}

Text ReportListView::GetCellText(int row, int column) const {
  if (row < 0 || row >= RowCount() || !IsColumn(column)) return {};
  return m_rows[row][column];
}

int ReportListView::RowCount() const { return static_cast<int>(m_rows.size()); }

void ReportListView::EnsureVisible(int row) {
  if (row < 0 || row >= RowCount() || m_list == nullptr) return;
  PublishRows();
  // FALSE: a partly visible row is scrolled until it is wholly visible.
  ::SendMessageW(m_list, LVM_ENSUREVISIBLE, row, FALSE);
}

void ReportListView::BeginAppend() { ++m_appendDepth; }

void ReportListView::EndAppend() {
  if (m_appendDepth > 0 && --m_appendDepth == 0) PublishRows();
}

void ReportListView::PublishRows() {
  if (m_list == nullptr) return;
  const auto count = static_cast<WPARAM>(m_rows.size());
  if (static_cast<WPARAM>(::SendMessageW(m_list, LVM_GETITEMCOUNT, 0, 0)) == count) return;
  ::SendMessageW(m_list, LVM_SETITEMCOUNT, count, LVSICF_NOSCROLL);
}

void ReportListView::FillDisplayInfo(NMLVDISPINFOW& info) const {
  LVITEMW& item = info.item;
  if (!(item.mask & LVIF_TEXT) || item.pszText == nullptr || item.cchTextMax <= 0) return;
  const std::wstring text = ToWide(GetCellText(item.iItem, item.iSubItem));
  const std::size_t count = std::min(text.size(), static_cast<std::size_t>(item.cchTextMax - 1));
  text.copy(item.pszText, count);
  item.pszText[count] = L'\0';
}

}  // namespace korvanel
