// Takes the README's picture of the desktop tool: the main window after an import and a
// query, and the detail window of one row, as the real program shows them.
//   waybill_tracker_screenshot --host H:P --list FILE --row N --out PNG
// Run it on an X server (xvfb-run) with a tracking endpoint listening on H:P.
#include <QApplication>
#include <QCommandLineParser>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTimer>
#include <QWebEngineView>
#include <QtTest>
#include <cstdio>

#include "app/batch_query.h"
#include "app/gui/detail_window.h"
#include "app/gui/main_window.h"
#include "web/message_pump.h"

using namespace korvanel;

int main(int argc, char* argv[]) {
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication application(argc, argv);
  QCommandLineParser parser;
  parser.addOptions({{"host", "endpoint host:port", "host"},
                     {"list", "waybill list to import", "file"},
                     {"row", "row whose number cell is double-clicked", "row", "0"},
                     {"out", "PNG file to write", "file"}});
  parser.process(application);
  if (!parser.isSet("host") || !parser.isSet("list") || !parser.isSet("out")) {
    std::fputs("usage: waybill_tracker_screenshot --host H:P --list FILE --out PNG [--row N]\n",
               stderr);
    return 2;
  }
  SetMessagePump([] { QCoreApplication::processEvents(); });

  MainWindow window(QueryAddressPrefixForHost(parser.value("host").toStdString()));
  window.show();
  if (!QTest::qWaitForWindowExposed(&window)) return 1;
  // Both windows side by side, so neither hides the other.
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  window.move(area.x() + 16, area.y() + (area.height() - window.frameGeometry().height()) / 2);

  const QString list = QFileInfo(parser.value("list")).absoluteFilePath();
  QTimer::singleShot(200, [&] {
    // Typed into the file name box, as a user would.
    if (auto* nameEdit = window.fileDialog()->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
      nameEdit->setText(list);
    static_cast<QDialog*>(window.fileDialog())->accept();
  });
  QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("按钮1")), Qt::LeftButton);
  QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("按钮2")), Qt::LeftButton);
  window.list()->scrollToTop();

  const int row = parser.value("row").toInt();
  window.list()->selectRow(row);
  const QPoint cell = window.list()->visualRect(window.model()->index(row, 0)).center();
  bool saved = false;
  QTimer::singleShot(0, [&] {
    auto* detail = qobject_cast<DetailWindow*>(QApplication::activeModalWidget());
    if (detail == nullptr) {
      application.exit(1);
      return;
    }
    detail->move(window.frameGeometry().right() + 16, window.frameGeometry().top() + 27);
    bool loaded = false;
    QObject::connect(detail->webView(), &QWebEngineView::loadFinished, [&] { loaded = true; });
    if (!QTest::qWaitFor([&] { return loaded; }, 20000)) std::fputs("page not loaded\n", stderr);
    QTest::qWait(1500);  // let the page paint
    saved = QGuiApplication::primaryScreen()->grabWindow(0).save(parser.value("out"));
    detail->close();
  });
  QTest::mouseClick(window.list()->viewport(), Qt::LeftButton, {}, cell);
  QTest::mouseDClick(window.list()->viewport(), Qt::LeftButton, {}, cell);
  std::printf("%s\n", saved ? "saved" : "not saved");
  return saved ? 0 : 1;
}
