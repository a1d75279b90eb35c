// DetailWindow: the modal window whose web view shows one waybill's full tracking page.
#pragma once

#include <string>
#include <string_view>

#include "app/detail_window.h"
#include "app/win32/base_window.h"
#include "app/win32/handles.h"

namespace korvanel {

// 超文本浏览框1: the system's WebBrowser control, hosted by atl.dll's "AtlAxWin" window. It
// starts with no page and shows none of its own dialogs. Where atl.dll or the control is
// missing, the host stays an empty child window and navigating does nothing.
class WebView {
 public:
  // Creates the host as a child of parent at place.
  void Create(HWND parent, RECT place);
  // Starts loading address; the page loads while messages run.
  void Navigate(const std::wstring& address);
  // Lets go of the control, before its host window goes.
  void Release();

  HWND HostWindow() const { return m_host; }
  bool HasBrowser() const { return static_cast<bool>(m_browser); }

 private:
  HWND m_host = nullptr;  // a child window, destroyed with its parent
  ComPtr<IWebBrowser2> m_browser;
};

class DetailWindow : public BaseWindow<DetailWindow>, private DetailWindowView {
 public:
  static constexpr const wchar_t* kClassName = L"Korvanel.DetailWindow";
  static constexpr int kOuterWidth = 485;
  static constexpr int kOuterHeight = 482;

  // prefix: the query address prefix. enableOnClose: the window that was disabled while this
  // one is open, enabled again before this one goes so that it becomes the active window.
  DetailWindow(Text prefix, HWND enableOnClose);

  // Creates the window centred on the primary screen, runs InitDetailWindow and shows it.
  bool Create();

  HWND Canvas() const { return m_canvas; }
  const WebView& View() const { return m_webView; }

  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  void SetCaption(std::string_view caption) override;
  void SetAddress(std::string_view address) override;

  Text m_prefix;
  HWND m_enableOnClose;
  HWND m_canvas = nullptr;  // 画板1, a child window
  WebView m_webView;
};

// Opens a fresh DetailWindow for selectedCellText and runs its modal loop until it has been
// closed, with mainWindow disabled meanwhile. A WM_QUIT met on the way closes the window and
// is posted again for the loop it was meant for.
void OpenModalDetailWindow(const Text& prefix, HWND mainWindow);

}  // namespace korvanel
