// MainWindow: the start window with the import and query buttons, the path box and the
// report list.
#pragma once

#include <QFileDialog>
#include <QWidget>
#include <memory>

#include "app/detail_window.h"
#include "app/gui/detail_window.h"
#include "app/gui/report_model.h"
#include "app/import.h"

class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;
class QLineEdit;
class QMimeData;
class QPushButton;
class QTableView;

namespace korvanel {

// 通用对话框1: one open-file dialog for the program's lifetime, so it keeps the last path.
class OpenFileDialog : public FileDialog {
 public:
  explicit OpenFileDialog(QWidget* parent);
  bool Run() override;
  Text KeptPath() const override;
  // Keeps path as if it had been chosen with OK (a file dropped on the window).
  void Keep(const QString& path);
  QString keptPath() const { return m_keptPath; }
  QFileDialog* dialog() const { return m_dialog; }

 private:
  QFileDialog* m_dialog;
  QString m_keptPath;
};

class LineEditBox : public EditBox {
 public:
  explicit LineEditBox(QLineEdit* edit) : m_edit(edit) {}
  void SetText(std::string_view text) override;
  Text GetText() const override;

 private:
  QLineEdit* m_edit;
};

class TableHitTester : public ListHitTester {
 public:
  explicit TableHitTester(const QTableView* view) : m_view(view) {}
  // x, y in the list's viewport, below its header.
  CellHit HitTest(int x, int y) const override;

 private:
  const QTableView* m_view;
};

class MainWindow : public QWidget {
  Q_OBJECT

 public:
  // prefix: the query address prefix used by the batch query and the detail window.
  explicit MainWindow(Text prefix = {}, QWidget* parent = nullptr);

  ReportModel* model() const { return m_model; }
  QTableView* list() const { return m_list; }
  QFileDialog* fileDialog() const { return m_fileDialog->dialog(); }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void Import();
  void Query();
  // The selected row (Ctrl+C) or a given row ("复制") as tab-separated text on the clipboard.
  void CopyRow(int row);
  // Every row, the header row first ("全部复制").
  void CopyAll();
  // Appends a row per line of the clipboard's text (Ctrl+V).
  void Paste();
  // Asks for a file name and writes every row to it (Ctrl+S, "导出...").
  void Export();
  void ShowListMenu(const QPoint& at);
  // Imports every local file a drag carries, in order, as if each were chosen in the dialog;
  // false when it carries none.
  bool ImportDropped(const QMimeData* data);

  Text m_prefix;
  QPushButton* m_importButton;
  QLineEdit* m_pathEdit;
  QPushButton* m_queryButton;
  QTableView* m_list;
  ReportModel* m_model;
  std::unique_ptr<OpenFileDialog> m_fileDialog;
  std::unique_ptr<LineEditBox> m_pathBox;
  std::unique_ptr<TableHitTester> m_hitTester;
  std::unique_ptr<DetailWindowLauncher> m_launcher;
  // The row the list scrolls to at the next turn of the event loop; -1 for none.
  int m_rowToShow = -1;
  // Set once the window is closed: a batch query running in a nested event loop stops.
  bool m_closed = false;
  // The file last exported to, whose folder the next export's save dialog opens in.
  QString m_lastExportPath;
};

}  // namespace korvanel
