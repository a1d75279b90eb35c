#include "app/gui/main_window.h"

#include <QAbstractItemView>
#include <QClipboard>
#include <QCloseEvent>
#include <QCompleter>
#include <QDateTime>
#include <QDir>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QStandardPaths>
#include <QTableView>
#include <QTimer>
#include <QUrl>
#include <ctime>
#include <string_view>
#include <utility>

#include "app/batch_query.h"
#include "app/export.h"
#include "app/gui/qt_text.h"
#include "app/gui/window_frame.h"
#include "app/list_text.h"

namespace korvanel {

namespace {

QString InitialDirectory() {
#ifdef Q_OS_WIN
  return QStringLiteral("C:\\Users\\Administrator\\Desktop");
#else
  const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
  if (!desktop.isEmpty() && QDir(desktop).exists()) return desktop;
  return QDir::homePath();
#endif
}

// Enter in a file dialog's name box closes the dialog from inside the key press that the
// name completer's list passes on to the box; the box still holds the focus at that moment,
// so the list is left open, and an open list takes the next click anywhere to close itself.
// The list goes with its dialog instead.
void CloseCompletionListsWith(QFileDialog* dialog) {
  QObject::connect(dialog, &QDialog::finished, dialog, [dialog] {
    for (QCompleter* completer : dialog->findChildren<QCompleter*>()) {
      if (completer->popup()->isVisible()) completer->popup()->hide();
    }
  });
}

std::u16string_view Utf16Of(const QString& string) {
  return {reinterpret_cast<const char16_t*>(string.utf16()),
          static_cast<std::size_t>(string.size())};
}

std::tm LocalTimeNow() {
  const QDateTime now = QDateTime::currentDateTime();
  std::tm time{};
  time.tm_year = now.date().year() - 1900;
  time.tm_mon = now.date().month() - 1;
  time.tm_mday = now.date().day();
  time.tm_hour = now.time().hour();
  time.tm_min = now.time().minute();
  return time;
}

// The local files a drag carries, in order; folders and remote addresses are left out.
QStringList DroppedFiles(const QMimeData* data) {
  QStringList files;
  if (data == nullptr || !data->hasUrls()) return files;
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile()) {
      files << url.toLocalFile();
    }
  }
  return files;
}

}  // namespace

OpenFileDialog::OpenFileDialog(QWidget* parent) : m_dialog(new QFileDialog(parent)) {
  m_dialog->setFileMode(QFileDialog::ExistingFile);
  m_dialog->setAcceptMode(QFileDialog::AcceptOpen);
  m_dialog->setDirectory(InitialDirectory());
#ifndef Q_OS_WIN
  // Qt's own dialog behaves the same on every desktop (and under a virtual X server).
  m_dialog->setOption(QFileDialog::DontUseNativeDialog);
#endif
  CloseCompletionListsWith(m_dialog);
}

bool OpenFileDialog::Run() {
  if (!m_keptPath.isEmpty()) m_dialog->selectFile(m_keptPath);
  if (m_dialog->exec() != QDialog::Accepted) return false;
  const QStringList files = m_dialog->selectedFiles();
  if (!files.isEmpty()) m_keptPath = QDir::toNativeSeparators(files.first());
  return true;
}

Text OpenFileDialog::KeptPath() const { return FromQString(m_keptPath); }

void OpenFileDialog::Keep(const QString& path) {
  m_keptPath = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

void LineEditBox::SetText(std::string_view text) { m_edit->setText(ToQString(text)); }

Text LineEditBox::GetText() const { return FromQString(m_edit->text()); }

CellHit TableHitTester::HitTest(int x, int y) const {
  const QModelIndex index = m_view->indexAt(QPoint(x, y));
  if (!index.isValid()) return {-1, m_view->columnAt(x)};
  return {index.row(), index.column()};
}

MainWindow::MainWindow(Text prefix, QWidget* parent)
    : QWidget(parent, kFixedWindowFlags),
      m_prefix(prefix.empty() ? QueryAddressPrefix() : std::move(prefix)) {
  setWindowTitle(QStringLiteral("Korvanel物流-批量查询物流信息"));
  new FixedOuterSize(this, QSize(707, 536));

  m_importButton = new QPushButton(QStringLiteral("导入"), this);
  m_importButton->setObjectName(QStringLiteral("按钮1"));
  m_importButton->setGeometry(80, 24, 80, 32);

  m_pathEdit = new QLineEdit(this);
  m_pathEdit->setObjectName(QStringLiteral("编辑框1"));
  m_pathEdit->setGeometry(216, 24, 216, 32);

  m_queryButton = new QPushButton(QStringLiteral("查询"), this);
  m_queryButton->setObjectName(QStringLiteral("按钮2"));
  m_queryButton->setGeometry(456, 24, 80, 32);
  for (QPushButton* button : {m_importButton, m_queryButton}) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }

  m_model = new ReportModel(this);
  m_list = new QTableView(this);
  m_list->setObjectName(QStringLiteral("超级列表框1"));
  m_list->setGeometry(8, 80, 688, 424);
  m_list->setModel(m_model);
  m_list->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  m_list->setShowGrid(true);
  m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_list->setSelectionMode(QAbstractItemView::SingleSelection);
  m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_list->setSortingEnabled(false);
  m_list->setWordWrap(false);
  m_list->setTextElideMode(Qt::ElideRight);
  m_list->verticalHeader()->hide();
  // Fixed row heights keep a list of many thousand rows as quick as a short one.
  m_list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  m_list->verticalHeader()->setDefaultSectionSize(m_list->fontMetrics().height() + 6);
  QHeaderView* header = m_list->horizontalHeader();
  header->setSortIndicatorShown(false);
  header->setHighlightSections(false);
  header->setStretchLastSection(false);
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  m_list->setColumnWidth(kNumberColumn, 120);
  m_list->setColumnWidth(kTimeColumn, 160);
  m_list->setColumnWidth(kEventColumn, 400);
  QPalette colours = m_list->palette();
  colours.setColor(QPalette::Base, Qt::white);
  colours.setColor(QPalette::Text, Qt::black);
  m_list->setPalette(colours);
  m_list->viewport()->installEventFilter(this);
  // Copy and paste keys, and the right-click menu (copy a row, copy all, export).
  m_list->installEventFilter(this);
  m_list->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(m_list, &QWidget::customContextMenuRequested, this, &MainWindow::ShowListMenu);
  // A file dropped anywhere on the window is imported; the path box passes file drops on
  // and keeps taking dropped text.
  setAcceptDrops(true);
  // A pass asks for every row in turn; scrolling once per turn of the event loop, to the
  // row asked for last, looks the same and keeps a pass over a long list quick.
  connect(m_model, &ReportModel::ensureVisibleRequested, this, [this](int row) {
    const bool scheduled = m_rowToShow >= 0;
    m_rowToShow = row;
    if (scheduled) return;
    QTimer::singleShot(0, this, [this] {
      const int rowToShow = std::exchange(m_rowToShow, -1);
      m_list->scrollTo(m_model->index(rowToShow, 0), QAbstractItemView::EnsureVisible);
    });
  });

  m_fileDialog = std::make_unique<OpenFileDialog>(this);
  m_pathBox = std::make_unique<LineEditBox>(m_pathEdit);
  m_hitTester = std::make_unique<TableHitTester>(m_list);
  m_launcher = std::make_unique<DetailWindowLauncher>(this, m_prefix);

  connect(m_importButton, &QPushButton::clicked, this, &MainWindow::Import);
  connect(m_queryButton, &QPushButton::clicked, this, &MainWindow::Query);
  m_pathEdit->installEventFilter(this);
  auto* exportKeys = new QShortcut(QKeySequence::Save, this);
  connect(exportKeys, &QShortcut::activated, this, &MainWindow::Export);
}

void MainWindow::Import() { ImportWaybills(*m_fileDialog, *m_pathBox, *m_model); }

void MainWindow::Query() {
  // The pass handles window events inside every request; by the time one returns the
  // window may have been closed, or deleted.
  QPointer<MainWindow> self = this;
  ReportModel& model = *m_model;
  const Text prefix = m_prefix;
  QueryAllWaybills(model, prefix, [self] { return self && !self->m_closed; });
}

void MainWindow::CopyRow(int row) {
  if (row < 0 || row >= m_model->RowCount()) return;
  QGuiApplication::clipboard()->setText(ToQString(TabSeparatedRow(*m_model, row)));
}

void MainWindow::CopyAll() {
  QGuiApplication::clipboard()->setText(ToQString(TabSeparatedRows(*m_model)));
}

void MainWindow::Paste() {
  PasteWaybills(Utf16Of(QGuiApplication::clipboard()->text()), *m_model);
}

void MainWindow::Export() {
  // The folder last used: that of the last export, else that of the last import.
  QString folder = QFileInfo(m_lastExportPath).absolutePath();
  if (m_lastExportPath.isEmpty()) {
    const QString imported = m_fileDialog->keptPath();
    folder = imported.isEmpty() ? m_fileDialog->dialog()->directory().absolutePath()
                                : QFileInfo(imported).absolutePath();
  }
  QFileDialog dialog(this);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
#ifndef Q_OS_WIN
  dialog.setOption(QFileDialog::DontUseNativeDialog);
#endif
  dialog.setNameFilters({QStringLiteral("Excel (*.xlsx)"), QStringLiteral("CSV (*.csv)")});
  dialog.setDefaultSuffix(QStringLiteral("xlsx"));
  connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
    dialog.setDefaultSuffix(filter.contains(QStringLiteral("*.csv")) ? QStringLiteral("csv")
                                                                      : QStringLiteral("xlsx"));
  });
  CloseCompletionListsWith(&dialog);
  dialog.setDirectory(folder);
  dialog.selectFile(QDir(folder).filePath(ToQString(DefaultExportFileName(LocalTimeNow()))));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;

  const QString path = dialog.selectedFiles().first();
  m_lastExportPath = path;
  ExportFailure failure;
  if (ExportReportList(*m_model, QFile::encodeName(path).toStdString(), &failure)) return;
  // A silent failure here would lose the clerk's work, so this is the one place the tool
  // speaks.
  QMessageBox::warning(this, ToQString(kExportFailedCaption),
                       ToQString(kExportFailedText) + QStringLiteral("\n") +
                           QDir::toNativeSeparators(path) + QStringLiteral("\n\n") +
                           QString::fromUtf8(failure.reason));
}

void MainWindow::ShowListMenu(const QPoint& at) {
  const int row = m_list->indexAt(at).row();
  QMenu menu(this);
  QAction* copyRow = menu.addAction(ToQString(kCopyRowCaption));
  copyRow->setEnabled(row >= 0);
  QAction* copyAll = menu.addAction(ToQString(kCopyAllCaption));
  QAction* exportRows = menu.addAction(ToQString(kExportCaption));
  QAction* chosen = menu.exec(m_list->viewport()->mapToGlobal(at));
  if (chosen == copyRow) {
    CopyRow(row);
  } else if (chosen == copyAll) {
    CopyAll();
  } else if (chosen == exportRows) {
    Export();
  }
}

bool MainWindow::ImportDropped(const QMimeData* data) {
  const QStringList files = DroppedFiles(data);
  for (const QString& file : files) {
    m_fileDialog->Keep(file);
    ImportWaybillFile(m_fileDialog->KeptPath(), *m_pathBox, *m_model);
  }
  return !files.isEmpty();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!DroppedFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event) {
  if (!DroppedFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  if (ImportDropped(event->mimeData())) event->acceptProposedAction();
}

void MainWindow::showEvent(QShowEvent* event) {
  m_closed = false;
  QWidget::showEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  m_closed = true;
  QWidget::closeEvent(event);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_list && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->matches(QKeySequence::Copy)) {
      const QModelIndexList selected = m_list->selectionModel()->selectedRows();
      if (!selected.isEmpty()) CopyRow(selected.first().row());
      return true;
    }
    if (key->matches(QKeySequence::Paste)) {
      Paste();
      return true;
    }
  }
  if (watched == m_pathEdit) {
    switch (event->type()) {
      case QEvent::DragEnter:
      case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (DroppedFiles(drag->mimeData()).isEmpty()) break;
        drag->acceptProposedAction();
        return true;
      }
      case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        if (!ImportDropped(drop->mimeData())) break;
        drop->acceptProposedAction();
        return true;
      }
      default:
        break;
    }
  }
  if (watched == m_list->viewport() && event->type() == QEvent::MouseButtonDblClick) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::LeftButton) {
      const Qt::KeyboardModifiers modifiers = mouse->modifiers();
      const int keys = (modifiers & Qt::ControlModifier ? 1 : 0) |
                       (modifiers & Qt::ShiftModifier ? 2 : 0) |
                       (modifiers & Qt::AltModifier ? 4 : 0);
      const QPoint at = mouse->position().toPoint();
      ShowCellDetail(at.x(), at.y(), keys, *m_hitTester, *m_model, *m_launcher);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace korvanel
