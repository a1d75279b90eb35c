#include "app/win32/main_window.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <utility>
#include <vector>

#include "app/batch_query.h"
#include "app/export.h"
#include "app/list_text.h"
#include "app/records/file_names_win.h"
#include "app/win32/captions.h"
#include "app/win32/detail_window.h"
#include "app/win32/message_loop.h"
#include "app/win32/wide_text.h"

namespace korvanel {

namespace {

// Room for the longest path the system takes.
constexpr DWORD kPathUnits = 32768;

// The commands of the list's right-click menu.
constexpr UINT kCopyRowCommand = 1;
constexpr UINT kCopyAllCommand = 2;
constexpr UINT kExportCommand = 3;

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

// Another program may hold the clipboard for a moment; a few short tries ride that out.
bool OpenClipboardPatiently(HWND owner) {
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (::OpenClipboard(owner)) return true;
    ::Sleep(20);
  }
  return false;
}

void PutClipboardText(HWND owner, const std::wstring& text) {
  const SIZE_T bytes = (text.size() + 1) * sizeof(wchar_t);
  const HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes);
  if (memory == nullptr) return;
  void* const at = ::GlobalLock(memory);
  if (at == nullptr || !OpenClipboardPatiently(owner)) {
    if (at != nullptr) ::GlobalUnlock(memory);
    ::GlobalFree(memory);
    return;
  }
  std::memcpy(at, text.c_str(), bytes);
  ::GlobalUnlock(memory);
  ::EmptyClipboard();
  // Once placed, the memory belongs to the clipboard.
  if (::SetClipboardData(CF_UNICODETEXT, memory) == nullptr) ::GlobalFree(memory);
  ::CloseClipboard();
}

std::u16string ClipboardText(HWND owner) {
  std::u16string text;
  if (!::IsClipboardFormatAvailable(CF_UNICODETEXT) || !OpenClipboardPatiently(owner)) return text;
  if (const HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* units = static_cast<const char16_t*>(::GlobalLock(data))) {
      // Up to the first zero unit, and never past the block, whatever its writer left there.
      const std::size_t most = ::GlobalSize(data) / sizeof(char16_t);
      std::size_t count = 0;
      while (count < most && units[count] != u'\0') ++count;
      text.assign(units, count);
      ::GlobalUnlock(data);
    }
  }
  ::CloseClipboard();
  return text;
}

std::tm LocalTimeNow() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  std::tm time{};
  time.tm_year = now.wYear - 1900;
  time.tm_mon = now.wMonth - 1;
  time.tm_mday = now.wDay;
  time.tm_hour = now.wHour;
  time.tm_min = now.wMinute;
  return time;
}

int SelectedRow(HWND list) {
  return static_cast<int>(
      ::SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
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
  // A file dropped anywhere on the window is imported.
  ::DragAcceptFiles(window, TRUE);
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
    case WM_CONTEXTMENU:
      if (reinterpret_cast<HWND>(wParam) != m_rows.ListWindowHandle()) break;
      ShowListMenu(POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))});
      return 0;
    case WM_DROPFILES:
      ImportDropped(reinterpret_cast<HDROP>(wParam));
      return 0;
    case WM_DESTROY:
      m_destroyed = true;
      m_rows.ForgetControl();
      // The program ends with its main window.
      ::PostQuitMessage(0);
      return 0;
    default:
      if (message == TranslateKeysMessage()) {
        MSG* const key = reinterpret_cast<MSG*>(lParam);
        if (OnKey(*key)) return 1;
        // Tab and Shift+Tab move between the controls.
        return ::IsDialogMessageW(Window(), key);
      }
      break;
  }
  return ::DefWindowProcW(Window(), message, wParam, lParam);
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
    case LVN_ODFINDITEMA:
    case LVN_ODFINDITEMW:
      // A letter typed in the list finds no row: the selection stays where it is, so a key
      // pressed by mistake never moves it to the first row before a copy.
      return -1;
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

bool MainWindow::OnKey(const MSG& key) {
  if (key.message != WM_KEYDOWN) return false;
  const bool control = ::GetKeyState(VK_CONTROL) < 0;
  const bool shift = ::GetKeyState(VK_SHIFT) < 0;
  const bool alt = ::GetKeyState(VK_MENU) < 0;
  const bool inList = key.hwnd == m_rows.ListWindowHandle();
  if (alt) return false;
  if (control && !shift && key.wParam == 'S') {
    Export();
    return true;
  }
  if (!inList) return false;
  if (control && !shift && (key.wParam == 'C' || key.wParam == VK_INSERT)) {
    CopyRow(SelectedRow(m_rows.ListWindowHandle()));
    return true;
  }
  if ((control && !shift && key.wParam == 'V') || (shift && !control && key.wParam == VK_INSERT)) {
    Paste();
    return true;
  }
  return false;
}

void MainWindow::ShowListMenu(POINT at) {
  const HWND list = m_rows.ListWindowHandle();
  int row = -1;
  if (at.x == -1 && at.y == -1) {
    // From the keyboard: the selected row, the menu at its left end.
    row = SelectedRow(list);
    RECT place{};
    place.left = LVIR_LABEL;
    if (row < 0 || !::SendMessageW(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&place))) {
      place = RECT{};
    }
    at = POINT{place.left, place.bottom};
    ::ClientToScreen(list, &at);
  } else {
    POINT inList = at;
    ::ScreenToClient(list, &inList);
    row = m_hitTester.HitTest(inList.x, inList.y).row;
  }
  const HMENU menu = ::CreatePopupMenu();
  if (menu == nullptr) return;
  const UINT copyRowState = row >= 0 && row < m_rows.RowCount() ? MF_ENABLED : MF_GRAYED;
  ::AppendMenuW(menu, MF_STRING | copyRowState, kCopyRowCommand, ToWide(kCopyRowCaption).c_str());
  ::AppendMenuW(menu, MF_STRING, kCopyAllCommand, ToWide(kCopyAllCaption).c_str());
  ::AppendMenuW(menu, MF_STRING, kExportCommand, ToWide(kExportCaption).c_str());
  const UINT chosen = static_cast<UINT>(::TrackPopupMenu(
      menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0, Window(), nullptr));
  ::DestroyMenu(menu);
  if (chosen == kCopyRowCommand) CopyRow(row);
  if (chosen == kCopyAllCommand) CopyAll();
  if (chosen == kExportCommand) Export();
}

void MainWindow::CopyRow(int row) {
  if (row < 0 || row >= m_rows.RowCount()) return;
  PutClipboardText(Window(), ToWide(TabSeparatedRow(m_rows, row)));
}

void MainWindow::CopyAll() { PutClipboardText(Window(), ToWide(TabSeparatedRows(m_rows))); }

void MainWindow::Paste() { PasteWaybills(ClipboardText(Window()), m_rows); }

void MainWindow::Export() {
  // The folder last used: that of the last export, else that of the last import, else the
  // import dialog's own starting folder.
  std::wstring lastUsed = m_lastExportPath;
  if (lastUsed.empty()) lastUsed = ToWide(m_fileDialog->KeptPath());
  if (lastUsed.empty()) lastUsed = std::wstring(OpenFileDialog::kInitialDirectory) + L"\\";
  const std::size_t folderEnd = lastUsed.find_last_of(L"\\/");
  const std::wstring offered =
      (folderEnd == std::wstring::npos ? std::wstring() : lastUsed.substr(0, folderEnd + 1)) +
      ToWide(DefaultExportFileName(LocalTimeNow()));

  std::vector<wchar_t> file(kPathUnits, L'\0');
  offered.copy(file.data(), std::min<std::size_t>(offered.size(), kPathUnits - 1));
  OPENFILENAMEW settings{};
  settings.lStructSize = sizeof(settings);
  settings.hwndOwner = Window();
  settings.lpstrFilter = L"Excel (*.xlsx)\0*.xlsx\0CSV (*.csv)\0*.csv\0";
  settings.nFilterIndex = 1;
  settings.lpstrFile = file.data();
  settings.nMaxFile = kPathUnits;
  // A name typed without an extension takes that of the chosen type.
  settings.lpstrDefExt = L"xlsx";
  // A folder that cannot be written to, or is missing, is told after the dialog, in the
  // failed export's message box.
  settings.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (!::GetSaveFileNameW(&settings)) return;

  const std::wstring path = file.data();
  m_lastExportPath = path;
  ExportFailure failure;
  if (ExportReportList(m_rows, Utf8FromWide(path), &failure)) return;
  // A silent failure here would lose the clerk's work, so this is the one place the tool
  // speaks.
  const std::wstring text =
      ToWide(kExportFailedText) + L"\n" + path + L"\n\n" + WideFromUtf8(failure.reason);
  ::MessageBoxW(Window(), text.c_str(), ToWide(kExportFailedCaption).c_str(),
                MB_OK | MB_ICONWARNING);
}

void MainWindow::ImportDropped(HDROP drop) {
  const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT index = 0; index < count; ++index) {
    const UINT length = ::DragQueryFileW(drop, index, nullptr, 0);
    std::wstring path(static_cast<std::size_t>(length) + 1, L'\0');
    path.resize(::DragQueryFileW(drop, index, path.data(), length + 1));
    // Folders are left out; a file is imported as if chosen in the dialog, which keeps it.
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (path.empty() || attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      continue;
    }
    m_ownDialog.Keep(path);
    ImportWaybillFile(FromWide(path), m_pathBox, m_rows);
  }
  ::DragFinish(drop);
}

void MainWindow::Import() { ImportWaybills(*m_fileDialog, m_pathBox, m_rows); }

void MainWindow::Query() {
  // Window messages run inside every request; by the time one returns the window may have
  // been closed, and the pass ends there.
  QueryAllWaybills(m_rows, m_prefix, [this] { return !m_destroyed; });
}

void MainWindow::OpenDetailWindow() { OpenModalDetailWindow(m_prefix, Window()); }

}  // namespace korvanel
