#include "app/gui/main_window.h"

#include <QAbstractItemView>
#include <QCloseEvent>
#include <QCompleter>
#include <QDir>
#include <QHeaderView>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableView>
#include <QTimer>
#include <utility>

#include "app/batch_query.h"
#include "app/gui/qt_text.h"
#include "app/gui/window_frame.h"

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

}  // namespace

OpenFileDialog::OpenFileDialog(QWidget* parent) : m_dialog(new QFileDialog(parent)) {
  m_dialog->setFileMode(QFileDialog::ExistingFile);
  m_dialog->setAcceptMode(QFileDialog::AcceptOpen);
  m_dialog->setDirectory(InitialDirectory());
#ifndef Q_OS_WIN
  // Qt's own dialog behaves the same on every desktop (and under a virtual X server).
  m_dialog->setOption(QFileDialog::DontUseNativeDialog);
#endif
  // Enter in the file name box closes the dialog from inside the key press that the name
  // completer's list passes on to the box; the box still holds the focus at that moment, so
  // the list is left open, and an open list takes the next click anywhere to close itself.
  // It goes with its dialog instead.
  QObject::connect(m_dialog, &QDialog::finished, m_dialog, [dialog = m_dialog] {
    for (QCompleter* completer : dialog->findChildren<QCompleter*>()) {
      if (completer->popup()->isVisible()) completer->popup()->hide();
    }
  });
}

bool OpenFileDialog::Run() {
  if (!m_keptPath.isEmpty()) m_dialog->selectFile(m_keptPath);
  if (m_dialog->exec() != QDialog::Accepted) return false;
  const QStringList files = m_dialog->selectedFiles();
  if (!files.isEmpty()) m_keptPath = QDir::toNativeSeparators(files.first());
  return true;
}

Text OpenFileDialog::KeptPath() const { return FromQString(m_keptPath); }

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

void MainWindow::showEvent(QShowEvent* event) {
  m_closed = false;
  QWidget::showEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  m_closed = true;
  QWidget::closeEvent(event);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
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
