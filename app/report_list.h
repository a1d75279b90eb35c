// The report list: the three-column list of waybills that the import fills and the batch
// query writes into. The handlers only ever touch it through this contract, so the desktop
// window, the command-line tool and the tests each bring their own list.
#pragma once

#include <array>
#include <string_view>
#include <vector>

#include "text/text.h"

namespace korvanel {

// Columns, 0-based: the waybill number, the time of the latest event, its text.
inline constexpr int kNumberColumn = 0;
inline constexpr int kTimeColumn = 1;
inline constexpr int kEventColumn = 2;
inline constexpr int kColumnCount = 3;

// Rows and columns are 0-based. No operation reports an error: a row or column that does not
// exist is ignored by SetCellText and EnsureVisible and reads as the empty text.
class ReportList {
 public:
  virtual ~ReportList() = default;

  // Appends an empty row after the last one and gives its index (the row count before the
  // call), or -1 when the list refuses the row.
  virtual int AddRow() = 0;
  virtual void SetCellText(int row, int column, std::string_view text) = 0;
  // A copy of the cell's whole text; empty for an empty cell or a missing row (-1 included).
  virtual Text GetCellText(int row, int column) const = 0;
  virtual int RowCount() const = 0;
  // Scrolls so that the row is wholly visible; a list without a view does nothing.
  virtual void EnsureVisible(int row) = 0;

  // Brackets a run of AddRow / SetCellText calls that append many rows at once (an import),
  // so a list with a view can announce them to it in one go. Rows added inside the bracket
  // are readable through this interface at once. Calls may nest.
  virtual void BeginAppend() {}
  virtual void EndAppend() {}
};

// Opens an append bracket for its lifetime.
class AppendBatch {
 public:
  explicit AppendBatch(ReportList& list) : m_list(list) { m_list.BeginAppend(); }
  ~AppendBatch() { m_list.EndAppend(); }
  AppendBatch(const AppendBatch&) = delete;
  AppendBatch& operator=(const AppendBatch&) = delete;

 private:
  ReportList& m_list;
};

// A report list held in memory only: the command-line tool's list and the tests' fake.
class MemoryReportList : public ReportList {
 public:
  using Row = std::array<Text, kColumnCount>;

  int AddRow() override;
  void SetCellText(int row, int column, std::string_view text) override;
  Text GetCellText(int row, int column) const override;
  int RowCount() const override;
  // Remembers the row, so tests can see the pass scroll row by row.
  void EnsureVisible(int row) override;

  const std::vector<Row>& Rows() const { return m_rows; }
  // The rows passed to EnsureVisible, in call order.
  const std::vector<int>& VisibleCalls() const { return m_visibleCalls; }

 private:
  std::vector<Row> m_rows;
  std::vector<int> m_visibleCalls;
};

}  // namespace korvanel
