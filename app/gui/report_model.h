// The cells of the main window's report list, owned here as code page 936 text and shown
// through a QTableView. Also the ReportList the handlers write into.
#pragma once

#include <QAbstractTableModel>
#include <array>
#include <limits>
#include <vector>

#include "app/report_list.h"

namespace korvanel {

class ReportModel : public QAbstractTableModel, public ReportList {
  Q_OBJECT

 public:
  explicit ReportModel(QObject* parent = nullptr);

  // ReportList
  int AddRow() override;
  void SetCellText(int row, int column, std::string_view text) override;
  Text GetCellText(int row, int column) const override;
  int RowCount() const override;
  // Asks the view to scroll (ensureVisibleRequested); the model itself has no view.
  void EnsureVisible(int row) override;
  void BeginAppend() override;
  void EndAppend() override;

  // QAbstractTableModel
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 signals:
  void ensureVisibleRequested(int row);

 private:
  void PublishPendingRows();

  std::vector<std::array<Text, kColumnCount>> m_rows;
  // Rows appended inside an append bracket are announced to the view when it closes; until
  // then the view sees only the first m_publishedRows.
  int m_publishedRows = 0;
  int m_appendDepth = 0;
};

}  // namespace korvanel
