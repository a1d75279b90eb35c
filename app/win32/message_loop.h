// The program's message loops: the main one, the detail window's modal one, and the pump that
// runs pending messages while a request of the batch query waits.
#pragma once

#include "app/win32/windows_api.h"

namespace korvanel {

// Sent to the top-level window a keyboard message is bound for, before it is translated and
// dispatched (wParam 0, lParam the MSG*). A window that answers nonzero has handled the key
// itself (its accelerators, moving the focus between its controls) and the message goes no
// further. Windows that do not know the message answer 0.
UINT TranslateKeysMessage();

// Gives the window a chance at its keys, then translates and dispatches msg.
void ProcessMessage(MSG& msg);

// Runs every message waiting in this thread's queue and returns. A WM_QUIT found there is
// posted again and ends the pump, so the loop it was meant for still ends.
void PumpPendingMessages();

// Runs messages until WM_QUIT and gives its exit code.
int RunMessageLoop();

}  // namespace korvanel
