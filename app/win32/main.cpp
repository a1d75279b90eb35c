// waybill-tracker.exe: the desktop tool on Windows.
#include "app/detail_window.h"
#include "app/win32/main_window.h"
#include "app/win32/message_loop.h"
#include "web/message_pump.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand) {
  // The list view and the buttons of common controls 6; OLE for the web view's control.
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES;
  ::InitCommonControlsEx(&controls);
  const HRESULT ole = ::OleInitialize(nullptr);

  int exitCode = 0;
  {
    // Window messages keep flowing while a request of the batch query waits for its answer.
    korvanel::SetMessagePump(&korvanel::PumpPendingMessages);
    korvanel::MainWindow window;
    if (window.Create(showCommand)) exitCode = korvanel::RunMessageLoop();
    korvanel::SetMessagePump(nullptr);
  }
  korvanel::selectedCellText.clear();
  if (SUCCEEDED(ole)) ::OleUninitialize();
  return exitCode;
}
