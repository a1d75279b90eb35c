// waybill-tracker: the desktop tool.
#include <QApplication>
#include <QCoreApplication>

#include "app/detail_window.h"
#include "app/gui/main_window.h"
#include "web/message_pump.h"

int main(int argc, char* argv[]) {
  // The web view shares its rendering context with the widgets.
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication application(argc, argv);
  // Window events keep flowing while a request of the batch query waits for its answer.
  korvanel::SetMessagePump([] { QCoreApplication::processEvents(); });

  int exitCode = 0;
  {
    korvanel::MainWindow mainWindow;
    mainWindow.show();
    exitCode = application.exec();
  }
  korvanel::SetMessagePump(nullptr);
  korvanel::selectedCellText.clear();
  return exitCode;
}
