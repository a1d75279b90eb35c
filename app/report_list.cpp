#include "app/report_list.h"

namespace korvanel {

namespace {

bool IsColumn(int column) { return column >= 0 && column < kColumnCount; }

}  // namespace

int MemoryReportList::AddRow() {
  m_rows.emplace_back();
  return static_cast<int>(m_rows.size()) - 1;
}

void MemoryReportList::SetCellText(int row, int column, std::string_view text) {
  if (row < 0 || row >= RowCount() || !IsColumn(column)) return;
  m_rows[row][column] = Text(text);
}

Text MemoryReportList::GetCellText(int row, int column) const {
  if (row < 0 || row >= RowCount() || !IsColumn(column)) return {};
  return m_rows[row][column];
}

int MemoryReportList::RowCount() const { return static_cast<int>(m_rows.size()); }

void MemoryReportList::EnsureVisible(int row) {
  if (row < 0 || row >= RowCount()) return;
  m_visibleCalls.push_back(row);
}

}  // namespace korvanel
