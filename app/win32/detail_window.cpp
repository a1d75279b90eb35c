#include "app/win32/detail_window.h"

#include <utility>

#include "app/win32/message_loop.h"
#include "app/win32/wide_text.h"

namespace korvanel {

namespace {

constexpr const wchar_t* kCanvasClassName = L"Korvanel.Canvas";

// atl.dll, loaded by name once for the life of the program: its AtlAxWin window class hosts
// any ActiveX control, here the WebBrowser control.
class ControlHost {
 public:
  static const ControlHost& Get() {
    static const ControlHost host;
    return host;
  }

  bool available() const { return m_getControl != nullptr; }
  // The control that a host window holds, or an empty pointer.
  ComPtr<IUnknown> Control(HWND host) const {
    ComPtr<IUnknown> control;
    if (m_getControl != nullptr && m_getControl(host, control.put()) != S_OK) control.reset();
    return control;
  }

 private:
  using InitFunction = BOOL(WINAPI*)();
  using GetControlFunction = HRESULT(WINAPI*)(HWND, IUnknown**);

  ControlHost() : m_module(::LoadLibraryW(L"atl.dll")) {
    if (!m_module) return;
    const auto init = Bind<InitFunction>("AtlAxWinInit");
    const auto getControl = Bind<GetControlFunction>("AtlAxGetControl");
    if (init == nullptr || getControl == nullptr || !init()) return;
    m_getControl = getControl;
  }

  // GetProcAddress gives a generic function pointer; the cast goes through void* so the
  // compiler does not warn about incompatible function types.
  template <typename Function>
  Function Bind(const char* name) const {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(::GetProcAddress(m_module.get(), name)));
  }

  UniqueHmodule m_module;
  GetControlFunction m_getControl = nullptr;
};

bool RegisterCanvasClass() {
  static const bool registered = [] {
    WNDCLASSEXW canvasClass{};
    canvasClass.cbSize = sizeof(canvasClass);
    canvasClass.lpfnWndProc = ::DefWindowProcW;
    canvasClass.hInstance = ::GetModuleHandleW(nullptr);
    canvasClass.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    canvasClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    canvasClass.lpszClassName = kCanvasClassName;
    return ::RegisterClassExW(&canvasClass) != 0;
  }();
  return registered;
}

}  // namespace

void WebView::Create(HWND parent, RECT place) {
  const ControlHost& host = ControlHost::Get();
  if (!host.available()) return;
  // The ProgID as the window text makes the host create the control without loading any
  // page: the view has no address until one is set.
  m_host = ::CreateWindowExW(0, L"AtlAxWin", L"Shell.Explorer.2", WS_CHILD | WS_VISIBLE, place.left,
                             place.top, place.right - place.left, place.bottom - place.top, parent,
                             nullptr, ::GetModuleHandleW(nullptr), nullptr);
  if (m_host == nullptr) return;
  m_browser = host.Control(m_host).As<IWebBrowser2>(IID_IWebBrowser2);
  // Silent: script errors and the like never raise a dialog of the browser's own.
  if (m_browser) m_browser->put_Silent(VARIANT_TRUE);
}

void WebView::Navigate(const std::wstring& address) {
  if (!m_browser) return;
  UniqueBstr url(::SysAllocStringLen(address.data(), static_cast<UINT>(address.size())));
  if (!url) return;
  VARIANT empty;
  ::VariantInit(&empty);
  m_browser->Navigate(url.get(), &empty, &empty, &empty, &empty);
}

void WebView::Release() { m_browser.reset(); }

DetailWindow::DetailWindow(Text prefix, HWND enableOnClose)
    : m_prefix(std::move(prefix)), m_enableOnClose(enableOnClose) {}

bool DetailWindow::Create() {
  const POINT at = CentredOnPrimaryScreen(kOuterWidth, kOuterHeight);
  // No owner: the window is opened without naming a parent.
  if (!CreateWindowOfClass(L"", kFixedWindowStyle, 0, at.x, at.y, kOuterWidth, kOuterHeight,
                           nullptr)) {
    return false;
  }
  ::ShowWindow(Window(), SW_SHOW);
  ::UpdateWindow(Window());
  return true;
}

LRESULT DetailWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      if (!RegisterCanvasClass()) return -1;
      m_canvas =
          ::CreateWindowExW(0, kCanvasClassName, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 8, 8,
                            464, 432, Window(), nullptr, ::GetModuleHandleW(nullptr), nullptr);
      if (m_canvas == nullptr) return -1;
      ::SendMessageW(m_canvas, WM_SETFONT,
                     reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)), FALSE);
      m_webView.Create(m_canvas, RECT{6, 2, 6 + 436, 2 + 414});
      InitDetailWindow(*this, m_prefix);
      return 0;
    case WM_CLOSE:
      if (m_enableOnClose != nullptr && ::IsWindow(m_enableOnClose)) {
        ::EnableWindow(m_enableOnClose, TRUE);
      }
      ::DestroyWindow(Window());
      return 0;
    case WM_DESTROY:
      m_webView.Release();
      return 0;
    default:
      return ::DefWindowProcW(Window(), message, wParam, lParam);
  }
}

void DetailWindow::SetCaption(std::string_view caption) {
  ::SetWindowTextW(Window(), ToWide(caption).c_str());
}

void DetailWindow::SetAddress(std::string_view address) { m_webView.Navigate(ToWide(address)); }

void OpenModalDetailWindow(const Text& prefix, HWND mainWindow) {
  const bool disable = mainWindow != nullptr && ::IsWindow(mainWindow);
  if (disable) ::EnableWindow(mainWindow, FALSE);
  {
    DetailWindow window(prefix, disable ? mainWindow : nullptr);
    if (window.Create()) {
      MSG msg;
      while (window.Window() != nullptr) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
          ::PostQuitMessage(static_cast<int>(msg.wParam));
          break;
        }
        if (got == -1) break;
        ProcessMessage(msg);
      }
    }
  }
  if (disable && ::IsWindow(mainWindow)) ::EnableWindow(mainWindow, TRUE);
}

}  // namespace korvanel
