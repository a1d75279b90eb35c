#include "app/win32/main_window.h"

#include <utility>
#include <vector>

#include "app/batch_query.h"
#include "app/win32/captions.h"
#include "app/win32/detail_window.h"
#include "app/win32/message_loop.h"
#include "app/win32/wide_text.h"

namespace korvanel {

namespace {

// Room for the longest path the system takes.
constexpr DWORD kPathUnits = 32768;

HFONT DefaultGuiFont() { return static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT)); }

HWND CreateControl(HWND parent, const wchar_t* className, std::string_view text, DWORD style,
                   DWORD exStyle, int id, int x, int y, int width, int height) {
  const HWND control =
      ::CreateWindowExW(exStyle, className, ToWide(text).c_str(), WS_CHILD | WS_VISIBLE | style, x,
                        y, width, height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                        ::GetModuleHandleW(nullptr), nullptr);
  if (control != nullptr) {
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(DefaultGuiFont()), FALSE);
  }
  return control;
}

}  // namespace

bool OpenFileDialog::Run() {
  std::vector<wchar_t> file(kPathUnits, L'\0');
  // The path of the last OK stands in the file-name box.
  m_keptPath.copy(file.data(), std::min<std::size_t>(m_keptPath.size(), kPathUnits - 1));
  OPENFILENAMEW settings{};
  settings.lStructSize = sizeof(settings);
  settings.hwndOwner = m_owner;
  settings.lpstrFile = file.data();
  settings.nMaxFile = kPathUnits;
  settings.lpstrInitialDir = kInitialDirectory;
  settings.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
  if (!::GetOpenFileNameW(&settings)) return false;
  m_keptPath = file.data();
  return true;
}

Text OpenFileDialog::KeptPath() const { return FromWide(m_keptPath); }

void WindowEditBox::SetText(std::string_view text) {
  ::SetWindowTextW(m_edit, ToWide(text).c_str());
}

Text WindowEditBox::GetText() const {
  const int length = ::GetWindowTextLengthW(m_edit);
  if (length <= 0) return {};
  std::wstring units(static_cast<std::size_t>(length) + 1, L'\0');
  const int got = ::GetWindowTextW(m_edit, units.data(), length + 1);
  units.resize(static_cast<std::size_t>(got > 0 ? got : 0));
  return FromWide(units);
}

CellHit ListViewHitTester::HitTest(int x, int y) const {
  // A zeroed record with only the point filled in; the control writes the row (-1 when no row
  // is under the point) and the column. The record's trailing group field, which newer
  // controls may also write, stays within the record.
  LVHITTESTINFO record{};
  record.pt.x = x;
  record.pt.y = y;
  ::SendMessageA(m_list, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&record));
  return CellHit{record.iItem, record.iSubItem};
}

MainWindow::MainWindow(Text prefix, FileDialog* fileDialog)
    : m_prefix(prefix.empty() ? QueryAddressPrefix() : std::move(prefix)),
      m_fileDialog(fileDialog != nullptr ? fileDialog : &m_ownDialog) {}

bool MainWindow::Create(int showCommand) {
  const POINT at = CentredOnPrimaryScreen(kOuterWidth, kOuterHeight);
  if (!CreateWindowOfClass(ToWide(kMainWindowCaption), kFixedWindowStyle, 0, at.x, at.y,
                           kOuterWidth, kOuterHeight, nullptr)) {
    return false;
  }
  ::ShowWindow(Window(), showCommand);
  ::UpdateWindow(Window());
  return true;
}

bool MainWindow::CreateControls() {
  const HWND window = Window();
  m_ownDialog.SetOwner(window);
  const DWORD buttonStyle = WS_TABSTOP | BS_PUSHBUTTON | BS_CENTER;
  const HWND importButton = CreateControl(window, WC_BUTTONW, kImportCaption, buttonStyle, 0,
                                          kImportButtonId, 80, 24, 80, 32);
  const HWND pathEdit = CreateControl(window, WC_EDITW, {}, WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL,
                                      WS_EX_CLIENTEDGE, kPathEditId, 216, 24, 216, 32);
  const HWND queryButton = CreateControl(window, WC_BUTTONW, kQueryCaption, buttonStyle, 0,
                                         kQueryButtonId, 456, 24, 80, 32);
  if (importButton == nullptr || pathEdit == nullptr || queryButton == nullptr) return false;
  if (!m_rows.Create(window, kListId, RECT{8, 80, 8 + 688, 80 + 424}, DefaultGuiFont())) {
    return false;
  }
  m_pathBox = WindowEditBox(pathEdit);
  m_hitTester = ListViewHitTester(m_rows.ListWindowHandle());
  return true;
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return CreateControls() ? 0 : -1;
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_NOTIFY:
      return OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
    case WM_DESTROY:
      m_destroyed = true;
      m_rows.ForgetControl();
      // The program ends with its main window.
      ::PostQuitMessage(0);
      return 0;
    default:
      if (message == TranslateKeysMessage()) {
        // Tab and Shift+Tab move between the controls.
        return ::IsDialogMessageW(Window(), reinterpret_cast<MSG*>(lParam));
      }
      return ::DefWindowProcW(Window(), message, wParam, lParam);
  }
}

void MainWindow::OnCommand(int id, int code) {
  if (code != BN_CLICKED) return;
  if (id == kImportButtonId) Import();
  if (id == kQueryButtonId) Query();
}

LRESULT MainWindow::OnNotify(const NMHDR& header) {
  if (header.idFrom != static_cast<UINT_PTR>(kListId)) return 0;
  switch (header.code) {
    case LVN_GETDISPINFOW:
      m_rows.FillDisplayInfo(*reinterpret_cast<NMLVDISPINFOW*>(const_cast<NMHDR*>(&header)));
      return 0;
    case NM_DBLCLK:
      OnListDoubleClick(reinterpret_cast<const NMITEMACTIVATE&>(header));
      return 0;
    default:
      return 0;
  }
}

void MainWindow::OnListDoubleClick(const NMITEMACTIVATE& activate) {
  // Ctrl, Shift and Alt as bits 1, 2 and 4.
  const UINT flags = activate.uKeyFlags;
  const int keys = ((flags & LVKF_CONTROL) ? 1 : 0) | ((flags & LVKF_SHIFT) ? 2 : 0) |
                   ((flags & LVKF_ALT) ? 4 : 0);
  ShowCellDetail(activate.ptAction.x, activate.ptAction.y, keys, m_hitTester, m_rows, *this);
}

void MainWindow::Import() { ImportWaybills(*m_fileDialog, m_pathBox, m_rows); }

void MainWindow::Query() {
  // Window messages run inside every request; by the time one returns the window may have
  // been closed, and the pass ends there.
  QueryAllWaybills(m_rows, m_prefix, [this] { return !m_destroyed; });
}

void MainWindow::OpenDetailWindow() { OpenModalDetailWindow(m_prefix, Window()); }

}  // namespace korvanel
