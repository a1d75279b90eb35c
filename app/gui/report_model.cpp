#include "app/gui/report_model.h"

#include "app/gui/qt_text.h"

namespace korvanel {

namespace {

bool IsColumn(int column) { return column >= 0 && column < kColumnCount; }

}  // namespace

ReportModel::ReportModel(QObject* parent) : QAbstractTableModel(parent) {}

int ReportModel::AddRow() {
  if (m_rows.size() >= static_cast<std::size_t>(std::numeric_limits<int>::max())) return -1;
  const int row = RowCount();
  if (m_appendDepth > 0) {
    m_rows.emplace_back();
    return row;
  }
  beginInsertRows(QModelIndex(), row, row);
  m_rows.emplace_back();
  m_publishedRows = RowCount();
  endInsertRows();
  return row;
}

void ReportModel::SetCellText(int row, int column, std::string_view text) {
  if (row < 0 || row >= RowCount() || !IsColumn(column)) return;
  m_rows[row][column] = Text(text);
  if (row < m_publishedRows) {
    const QModelIndex cell = index(row, column);
    emit dataChanged(cell, cell, {Qt::DisplayRole});
  }
}

Text ReportModel::GetCellText(int row, int column) const {
  if (row < 0 || row >= RowCount() || !IsColumn(column)) return {};
  return m_rows[row][column];
}

int ReportModel::RowCount() const { return static_cast<int>(m_rows.size()); }

void ReportModel::EnsureVisible(int row) {
  if (row < 0 || row >= m_publishedRows) return;
  emit ensureVisibleRequested(row);
}

void ReportModel::BeginAppend() { ++m_appendDepth; }

void ReportModel::EndAppend() {
  if (m_appendDepth > 0 && --m_appendDepth == 0) PublishPendingRows();
}

void ReportModel::PublishPendingRows() {
  if (m_publishedRows == RowCount()) return;
  beginInsertRows(QModelIndex(), m_publishedRows, RowCount() - 1);
  m_publishedRows = RowCount();
  endInsertRows();
}

int ReportModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : m_publishedRows;
}

int ReportModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant ReportModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= m_publishedRows) return {};
  return ToQString(m_rows[index.row()][index.column()]);
}

QVariant ReportModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
  switch (section) {
    case kNumberColumn:
      return QStringLiteral("单号");
    case kTimeColumn:
      return QStringLiteral("运输时间");
    case kEventColumn:
      return QStringLiteral("最新运输信息");
    default:
      return {};
  }
}

Qt::ItemFlags ReportModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

}  // namespace korvanel
