#include "app/win32/message_loop.h"

namespace korvanel {

UINT TranslateKeysMessage() {
  static const UINT message = ::RegisterWindowMessageW(L"Korvanel.TranslateKeys");
  return message;
}

void ProcessMessage(MSG& msg) {
  if (msg.hwnd != nullptr && msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST) {
    const HWND root = ::GetAncestor(msg.hwnd, GA_ROOT);
    if (root != nullptr &&
        ::SendMessageW(root, TranslateKeysMessage(), 0, reinterpret_cast<LPARAM>(&msg)) != 0) {
      return;
    }
  }
  ::TranslateMessage(&msg);
  ::DispatchMessageW(&msg);
}

void PumpPendingMessages() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    ProcessMessage(msg);
  }
}

int RunMessageLoop() {
  MSG msg;
  for (;;) {
    const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(msg.wParam);
    if (got == -1) return 0;
    ProcessMessage(msg);
  }
}

}  // namespace korvanel
