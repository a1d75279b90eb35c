// The desktop tool's windows, driven as a user would: geometry and settings, the import
// through the file dialog, a query against a local endpoint, double-clicks that open the
// detail window, and closing the main window while a query runs.
#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEngineView>
#include <QtTest>
#include <cstdio>
#include <functional>

#include "app/batch_query.h"
#include "app/gui/detail_window.h"
#include "app/gui/main_window.h"
#include "app/tests/page_server.h"
#include "web/message_pump.h"

using namespace korvanel;

namespace {

// Runs action once the next modal window is up (QDialog::exec blocks the caller).
void WhenModalOpens(std::function<void(QWidget*)> action) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, action] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible()) return;
    timer->stop();
    timer->deleteLater();
    action(modal);
  });
  timer->start();
}

// Types a path into the dialog's file name box, as a user would before pressing OK.
void TypeFileName(QFileDialog* dialog, const QString& path) {
  auto* nameEdit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  QVERIFY(nameEdit);
  nameEdit->setText(path);
}

QString CellText(const MainWindow& window, int row, int column) {
  return window.model()->index(row, column).data().toString();
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();

  void geometryAndFlags();
  void listColumnsAndSettings();
  void headerClickSortsNothing();
  void importThroughTheFileDialog();
  void queryFillsTheRows();
  void doubleClickOpensTheDetailWindow_data();
  void doubleClickOpensTheDetailWindow();
  void detailWindowGeometry();
  void closingDuringAQueryEndsIt();
  void deletingDuringAQueryEndsIt();

 private:
  void AddRows(const QStringList& numbers);
  QPoint CellCentre(int row, int column) const;

  std::unique_ptr<test_support::PageServer> m_server;
  Text m_prefix;
  std::unique_ptr<MainWindow> m_window;
};

void MainWindowTest::initTestCase() {
  SetMessagePump([] { QCoreApplication::processEvents(); });
  m_server = std::make_unique<test_support::PageServer>();
  m_server->SetPage("A1", test_support::ReadFixture("two_entries.html"));
  m_server->SetPage("B2", test_support::ReadFixture("ninety_five_spaces.html"));
  m_server->SetPage("C3", test_support::ReadFixture("repeated_time.html"));
  m_prefix = QueryAddressPrefixForHost(m_server->Host());
}

void MainWindowTest::init() {
  m_window = std::make_unique<MainWindow>(m_prefix);
  m_window->show();
  QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void MainWindowTest::cleanup() {
  while (QWidget* modal = QApplication::activeModalWidget()) modal->close();
  m_window.reset();
}

void MainWindowTest::AddRows(const QStringList& numbers) {
  for (const QString& number : numbers) {
    m_window->model()->SetCellText(m_window->model()->AddRow(), 0, number.toStdString());
  }
}

QPoint MainWindowTest::CellCentre(int row, int column) const {
  return m_window->list()->visualRect(m_window->model()->index(row, column)).center();
}

void MainWindowTest::geometryAndFlags() {
  MainWindow& window = *m_window;
  QCOMPARE(window.windowTitle(), QStringLiteral("Korvanel物流-批量查询物流信息"));
  QCOMPARE(window.frameGeometry().size(), QSize(707, 536));
  QCOMPARE(window.minimumSize(), window.maximumSize());
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  QVERIFY(qAbs(window.frameGeometry().center().x() - area.center().x()) <= 1);
  QVERIFY(qAbs(window.frameGeometry().center().y() - area.center().y()) <= 1);

  const Qt::WindowFlags flags = window.windowFlags();
  QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint));
  QVERIFY(flags.testFlag(Qt::WindowSystemMenuHint));
  QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
  QCOMPARE(window.font(), QApplication::font());

  struct Control {
    const char* name;
    QRect place;
    QString caption;
  };
  for (const Control& c : {Control{"按钮1", {80, 24, 80, 32}, "导入"},
                           Control{"按钮2", {456, 24, 80, 32}, "查询"}}) {
    auto* button = window.findChild<QPushButton*>(QString::fromUtf8(c.name));
    QVERIFY(button);
    QCOMPARE(button->geometry(), c.place);
    QCOMPARE(button->text(), c.caption);
    QVERIFY(!button->isDefault());
  }
  auto* edit = window.findChild<QLineEdit*>(QStringLiteral("编辑框1"));
  QVERIFY(edit);
  QCOMPARE(edit->geometry(), QRect(216, 24, 216, 32));
  QVERIFY(edit->text().isEmpty());
  QVERIFY(!edit->isReadOnly());
  QCOMPARE(edit->echoMode(), QLineEdit::Normal);
  QCOMPARE(window.list()->objectName(), QStringLiteral("超级列表框1"));
  QCOMPARE(window.list()->geometry(), QRect(8, 80, 688, 424));
}

void MainWindowTest::listColumnsAndSettings() {
  QTableView* list = m_window->list();
  QCOMPARE(m_window->model()->rowCount(), 0);
  QCOMPARE(m_window->model()->columnCount(), 3);
  const QStringList titles = {"单号", "运输时间", "最新运输信息"};
  const QList<int> widths = {120, 160, 400};
  for (int column = 0; column < 3; ++column) {
    QCOMPARE(m_window->model()->headerData(column, Qt::Horizontal).toString(), titles[column]);
    QCOMPARE(list->columnWidth(column), widths[column]);
  }
  QVERIFY(list->showGrid());
  QVERIFY(list->horizontalHeader()->isVisible());
  QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
  QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
  QCOMPARE(list->editTriggers(), QAbstractItemView::NoEditTriggers);

  AddRows({"A1", "B2"});
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, CellCentre(1, 2));
  const QModelIndexList selected = list->selectionModel()->selectedIndexes();
  QCOMPARE(selected.size(), 3);
  for (const QModelIndex& index : selected) QCOMPARE(index.row(), 1);
  QVERIFY(!(m_window->model()->flags(selected.first()) & Qt::ItemIsEditable));
}

void MainWindowTest::headerClickSortsNothing() {
  AddRows({"B2", "A1", "C3"});
  QHeaderView* header = m_window->list()->horizontalHeader();
  const QPoint title(header->sectionViewportPosition(0) + 10, header->height() / 2);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, title);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, title);
  QCOMPARE(CellText(*m_window, 0, 0), QStringLiteral("B2"));
  QCOMPARE(CellText(*m_window, 1, 0), QStringLiteral("A1"));
  QCOMPARE(m_window->list()->visualRect(m_window->model()->index(0, 0)).top(), 0);
}

void MainWindowTest::importThroughTheFileDialog() {
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const QString path = QDir::toNativeSeparators(dir.filePath("waybills.txt"));
  {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(" A1 \r\n\r\nB2\r\n");
  }
  auto* importButton = m_window->findChild<QPushButton*>(QStringLiteral("按钮1"));
  auto* edit = m_window->findChild<QLineEdit*>(QStringLiteral("编辑框1"));

  // Cancel before any OK: nothing listed, the box emptied.
  edit->setText("typed by the user");
  WhenModalOpens([](QWidget* dialog) { qobject_cast<QDialog*>(dialog)->reject(); });
  QTest::mouseClick(importButton, Qt::LeftButton);
  QCOMPARE(m_window->model()->rowCount(), 0);
  QVERIFY(edit->text().isEmpty());

  QFileDialog* shown = nullptr;
  WhenModalOpens([&](QWidget* dialog) {
    shown = qobject_cast<QFileDialog*>(dialog);
    QVERIFY(shown);
    TypeFileName(shown, path);
    static_cast<QDialog*>(shown)->accept();  // checks the file as the OK button does
  });
  QTest::mouseClick(importButton, Qt::LeftButton);
  QCOMPARE(shown, m_window->fileDialog());
  QCOMPARE(shown->fileMode(), QFileDialog::ExistingFile);
  QVERIFY(shown->nameFilters().isEmpty() || shown->nameFilters() == QStringList{"All Files (*)"});
  QCOMPARE(edit->text(), path);
  QCOMPARE(m_window->model()->rowCount(), 3);
  QCOMPARE(CellText(*m_window, 0, 0), QStringLiteral(" A1 "));
  QCOMPARE(CellText(*m_window, 1, 0), QString());
  QCOMPARE(CellText(*m_window, 2, 0), QStringLiteral("B2"));

  // Cancel after an OK: the dialog opens on the kept path and the file is listed again.
  QStringList prefilled;
  WhenModalOpens([&](QWidget* dialog) {
    prefilled = qobject_cast<QFileDialog*>(dialog)->selectedFiles();
    qobject_cast<QDialog*>(dialog)->reject();
  });
  QTest::mouseClick(importButton, Qt::LeftButton);
  QCOMPARE(prefilled.value(0), QDir::fromNativeSeparators(path));
  QCOMPARE(m_window->model()->rowCount(), 6);
  QCOMPARE(CellText(*m_window, 5, 0), QStringLiteral("B2"));
}

void MainWindowTest::queryFillsTheRows() {
  // More rows than the list shows: the pass scrolls down to each row it writes.
  QStringList numbers = {"A1", "B2", "C3", "D4"};
  for (int i = 0; i < 40; ++i) numbers << QStringLiteral("N%1").arg(i);
  AddRows(numbers);
  const std::size_t before = m_server->Targets().size();
  QTest::mouseClick(m_window->findChild<QPushButton*>(QStringLiteral("按钮2")), Qt::LeftButton);
  QCOMPARE(m_server->Targets().size(), before + numbers.size());
  QTRY_VERIFY(m_window->list()->viewport()->rect().contains(
      m_window->list()->visualRect(m_window->model()->index(43, 0))));
  QVERIFY(!m_window->list()->viewport()->rect().contains(
      m_window->list()->visualRect(m_window->model()->index(0, 0))));
  const QString newest = QStringLiteral("2024-05-03  10:20:00");
  const QString signedText = QStringLiteral("快件已签收");
  QCOMPARE(CellText(*m_window, 0, 1), newest);
  QCOMPARE(CellText(*m_window, 0, 2), signedText);
  QCOMPARE(CellText(*m_window, 1, 2), signedText + "     ");
  QCOMPARE(CellText(*m_window, 2, 2), signedText);
  QCOMPARE(CellText(*m_window, 3, 1), QStringLiteral("  "));
  QCOMPARE(CellText(*m_window, 3, 2), QString());
}

void MainWindowTest::doubleClickOpensTheDetailWindow_data() {
  QTest::addColumn<int>("row");
  QTest::addColumn<int>("column");
  QTest::addColumn<QString>("text");
  QTest::newRow("number") << 0 << 0 << QStringLiteral("A1");
  QTest::newRow("time") << 0 << 1 << QStringLiteral("2024-05-03  10:20:00");
  QTest::newRow("empty area") << -1 << 0 << QString();
}

void MainWindowTest::doubleClickOpensTheDetailWindow() {
  QFETCH(int, row);
  QFETCH(int, column);
  QFETCH(QString, text);
  AddRows({"A1"});
  m_window->model()->SetCellText(0, 1, "2024-05-03  10:20:00");
  QWidget* viewport = m_window->list()->viewport();
  const QPoint at = row >= 0 ? CellCentre(row, column)
                             : QPoint(20, viewport->height() - 10);  // below the last row

  const QString address = QString::fromStdString(m_prefix) + text + "&type=html";
  const std::string target =
      "/korvanelapi.php?yundanhao=" + QUrl::toPercentEncoding(text, "-:").toStdString() +
      "&type=html";
  QString caption;
  QUrl requested;
  bool mainEnabled = true;
  bool served = false;
  std::size_t queriesWhileOpen = 0;
  WhenModalOpens([&](QWidget* modal) {
    auto* detail = qobject_cast<DetailWindow*>(modal);
    QVERIFY(detail);
    caption = detail->windowTitle();
    requested = detail->webView()->page()->requestedUrl();
    mainEnabled = m_window->isEnabled();
    // The main window takes no clicks while the detail window is open.
    const std::size_t before = m_server->Targets().size();
    AddRows({"B2"});
    QTest::mouseClick(m_window->findChild<QPushButton*>(QStringLiteral("按钮2")),
                      Qt::LeftButton);
    queriesWhileOpen = m_server->Targets().size() - before;
    // The web view asks the endpoint for the page.
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
          for (const std::string& t : m_server->Targets()) served = served || t == target;
          return served;
        }(),
        20000);
    detail->close();
  });
  QTest::mouseClick(viewport, Qt::LeftButton, {}, at);
  QTest::mouseDClick(viewport, Qt::LeftButton, {}, at);

  QCOMPARE(caption, text + QStringLiteral("-详细物流信息"));
  QCOMPARE(requested, QUrl(address, QUrl::TolerantMode));
  QVERIFY(!mainEnabled);
  QCOMPARE(queriesWhileOpen, std::size_t{0});
  QVERIFY(served);
  QVERIFY(m_window->isEnabled());
  QCOMPARE(QString::fromStdString(selectedCellText), text);
  QVERIFY(QApplication::activeModalWidget() == nullptr);
}

void MainWindowTest::detailWindowGeometry() {
  selectedCellText = "123";
  DetailWindow detail(m_prefix);
  detail.show();
  QVERIFY(QTest::qWaitForWindowExposed(&detail));
  QCOMPARE(detail.frameGeometry().size(), QSize(485, 482));
  QCOMPARE(detail.minimumSize(), detail.maximumSize());
  QVERIFY(!detail.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  QCOMPARE(detail.windowModality(), Qt::ApplicationModal);
  auto* canvas = detail.findChild<QWidget*>(QStringLiteral("画板1"));
  QVERIFY(canvas);
  QCOMPARE(canvas->geometry(), QRect(8, 8, 464, 432));
  QCOMPARE(detail.webView()->parentWidget(), canvas);
  QCOMPARE(detail.webView()->objectName(), QStringLiteral("超文本浏览框1"));
  QCOMPARE(detail.webView()->geometry(), QRect(6, 2, 436, 414));
  QCOMPARE(detail.windowTitle(), QStringLiteral("123-详细物流信息"));
  QCOMPARE(detail.requestedUrl(),
           QUrl(QString::fromStdString(m_prefix) + "123&type=html", QUrl::TolerantMode));
}

void MainWindowTest::closingDuringAQueryEndsIt() {
  AddRows({"A1", "B2", "C3"});
  const std::size_t before = m_server->Targets().size();
  // Runs inside the first request, as a click on the close button would.
  QTimer::singleShot(0, m_window.get(), &QWidget::close);
  QTest::mouseClick(m_window->findChild<QPushButton*>(QStringLiteral("按钮2")), Qt::LeftButton);
  QVERIFY(!m_window->isVisible());
  QCOMPARE(m_server->Targets().size(), before + 1);
  for (int row = 0; row < 3; ++row) QCOMPARE(CellText(*m_window, row, 1), QString());
}

void MainWindowTest::deletingDuringAQueryEndsIt() {
  AddRows({"A1", "B2"});
  QPointer<MainWindow> window = m_window.release();
  QPushButton* query = window->findChild<QPushButton*>(QStringLiteral("按钮2"));
  const std::size_t before = m_server->Targets().size();
  // Deleted for good inside the first request: nothing may touch its list afterwards.
  QTimer::singleShot(0, [window] { delete window.data(); });
  QTest::mouseClick(query, Qt::LeftButton);
  QVERIFY(window.isNull());
  QCOMPARE(m_server->Targets().size(), before + 1);
}

int main(int argc, char* argv[]) {
  // The X variant needs a display; plain ctest without one skips it (scripts/test brings a
  // virtual X server).
  if (qEnvironmentVariable("QT_QPA_PLATFORM") == QStringLiteral("xcb") &&
      qEnvironmentVariableIsEmpty("DISPLAY")) {
    std::puts("no X display: skipped");
    return 77;
  }
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication application(argc, argv);
  MainWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "main_window_test.moc"
