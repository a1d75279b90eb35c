// One C++ object per window: the window procedure finds the object through the pointer
// stored in GWLP_USERDATA when the window is created and forwards every message to its
// HandleMessage. The object owns its window: it destroys the window when it goes, after
// detaching itself, so no message reaches a half-destroyed object.
#pragma once

#include <string>

#include "app/win32/windows_api.h"

namespace korvanel {

template <typename Derived>
class BaseWindow {
 public:
  BaseWindow() = default;
  BaseWindow(const BaseWindow&) = delete;
  BaseWindow& operator=(const BaseWindow&) = delete;
  ~BaseWindow() {
    if (HWND window = m_window) {
      ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      m_window = nullptr;
      ::DestroyWindow(window);
    }
  }

  // The window, or nullptr before it is created and once it has been destroyed.
  HWND Window() const { return m_window; }

 protected:
  // Registers the class on first use (Derived::kClassName, Derived::kBackground) and creates
  // the window; HandleMessage sees WM_CREATE before this returns.
  bool CreateWindowOfClass(const std::wstring& caption, DWORD style, DWORD exStyle, int x, int y,
                           int width, int height, HWND parent) {
    static const bool registered = [] {
      WNDCLASSEXW windowClass{};
      windowClass.cbSize = sizeof(windowClass);
      windowClass.style = CS_DBLCLKS;
      windowClass.lpfnWndProc = &BaseWindow::WindowProc;
      windowClass.hInstance = ::GetModuleHandleW(nullptr);
      windowClass.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
      windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
      windowClass.lpszClassName = Derived::kClassName;
      return ::RegisterClassExW(&windowClass) != 0;
    }();
    if (!registered) return false;
    ::CreateWindowExW(exStyle, Derived::kClassName, caption.c_str(), style, x, y, width, height,
                      parent, nullptr, ::GetModuleHandleW(nullptr), this);
    return m_window != nullptr;
  }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    BaseWindow* self = nullptr;
    if (message == WM_NCCREATE) {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      self = static_cast<BaseWindow*>(create->lpCreateParams);
      self->m_window = window;
      ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
      self = reinterpret_cast<BaseWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    }
    if (self == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
    const LRESULT result = static_cast<Derived*>(self)->HandleMessage(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
      ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      self->m_window = nullptr;
    }
    return result;
  }

  HWND m_window = nullptr;
};

// Where a window of the given outer size stands centred on the primary screen's work area.
inline POINT CentredOnPrimaryScreen(int width, int height) {
  RECT area{};
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  const HMONITOR primary = ::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
  if (primary != nullptr && ::GetMonitorInfoW(primary, &info)) {
    area = info.rcWork;
  } else {
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  }
  return POINT{area.left + (area.right - area.left - width) / 2,
               area.top + (area.bottom - area.top - height) / 2};
}

// Title bar with caption, system menu and minimise button; fixed border; no maximise button.
inline constexpr DWORD kFixedWindowStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;

}  // namespace korvanel
