// The Windows desktop tool's windows, driven as a user would and read back through Win32
// calls and messages: geometry and styles, the list's columns, the import, a query against a
// local endpoint, double-clicks that open the modal detail window, closing the main window
// while a query runs, and the list's copy, paste, right-click menu, export and file drop.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/batch_query.h"
#include "app/detail_window.h"
#include "app/tests/page_server.h"
#include "app/win32/detail_window.h"
#include "app/win32/main_window.h"
#include "app/win32/message_loop.h"
#include "app/win32/wide_text.h"
#include "app/win32/windows_api.h"
#include "web/message_pump.h"

#include <dlgs.h>
#include <shlobj.h>

using namespace korvanel;

namespace {

// ---- Reading the windows back ----

std::wstring WindowText(HWND window) {
  wchar_t text[1024] = {};
  ::GetWindowTextW(window, text, 1024);
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  ::GetClassNameW(window, name, 256);
  return name;
}

RECT ClientPlace(HWND control) {
  RECT place{};
  ::GetWindowRect(control, &place);
  ::MapWindowPoints(nullptr, ::GetParent(control), reinterpret_cast<POINT*>(&place), 2);
  return place;
}

bool SameRect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string Describe(const RECT& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + " " +
         std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top);
}

LONG_PTR StyleOf(HWND window) { return ::GetWindowLongPtrW(window, GWL_STYLE); }
LONG_PTR ExStyleOf(HWND window) { return ::GetWindowLongPtrW(window, GWL_EXSTYLE); }

std::wstring CellText(HWND list, int row, int column) {
  wchar_t text[1024] = {};
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = text;
  item.cchTextMax = 1024;
  ::SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
  return text;
}

int RowCount(HWND list) { return static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); }

// The centre of a cell, in the list's client area.
POINT CellCentre(HWND list, int row, int column) {
  RECT rowRect{};
  rowRect.left = LVIR_BOUNDS;
  ::SendMessageW(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&rowRect));
  int left = rowRect.left;
  for (int c = 0; c < column; ++c) {
    left += static_cast<int>(::SendMessageW(list, LVM_GETCOLUMNWIDTH, c, 0));
  }
  const int width = static_cast<int>(::SendMessageW(list, LVM_GETCOLUMNWIDTH, column, 0));
  return POINT{left + width / 2, (rowRect.top + rowRect.bottom) / 2};
}

// A left double-click at a point of the window's client area, as the mouse delivers it.
void PostDoubleClick(HWND window, POINT at) {
  const LPARAM point = MAKELPARAM(at.x, at.y);
  ::PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, point);
  ::PostMessageW(window, WM_LBUTTONUP, 0, point);
  ::PostMessageW(window, WM_LBUTTONDBLCLK, MK_LBUTTON, point);
  ::PostMessageW(window, WM_LBUTTONUP, 0, point);
}

// ---- Running messages ----

// Runs this thread's messages until done() holds or timeoutMs has passed. A WM_QUIT that a
// closed main window posts is dropped: the tests go on with new windows.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 20000) {
  const ULONGLONG end = ::GetTickCount64() + timeoutMs;
  while (!done()) {
    if (::GetTickCount64() >= end) return false;
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message != WM_QUIT) ProcessMessage(msg);
    }
    if (done()) break;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  return true;
}

void PumpPending() {
  PumpUntil([] { return false; }, 0);
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message != WM_QUIT) ProcessMessage(msg);
  }
}

// Runs action once a visible top-level window of className is up. Modal windows run their
// own loops, so the action comes from a thread timer that those loops dispatch.
std::function<void(HWND)> g_whenOpen;
const wchar_t* g_awaitedClass = nullptr;
HWND g_notAwaited = nullptr;

// A visible top-level window of className that this thread made. Other test programs may run
// beside this one under the same Wine server, so windows are looked for in this thread only.
HWND FindThreadWindow(const wchar_t* className, HWND except = nullptr) {
  struct Search {
    const wchar_t* className;
    HWND except;
    HWND found;
  } search{className, except, nullptr};
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND window, LPARAM data) -> BOOL {
        auto* s = reinterpret_cast<Search*>(data);
        if (window != s->except && ::IsWindowVisible(window) && ClassOf(window) == s->className) {
          s->found = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

void CALLBACK AwaitWindow(HWND, UINT, UINT_PTR timer, DWORD) {
  const HWND found = FindThreadWindow(g_awaitedClass, g_notAwaited);
  if (found == nullptr) return;
  ::KillTimer(nullptr, timer);
  std::function<void(HWND)> action = std::move(g_whenOpen);
  g_whenOpen = nullptr;
  if (action) action(found);
}

// except: a window of that class already up (a dialog closing), which is not the one awaited.
void WhenWindowOpens(const wchar_t* className, std::function<void(HWND)> action,
                     HWND except = nullptr) {
  g_awaitedClass = className;
  g_notAwaited = except;
  g_whenOpen = std::move(action);
  ::SetTimer(nullptr, 0, 20, &AwaitWindow);
}

// ---- The import's dialog, scripted ----

class ScriptedDialog : public FileDialog {
 public:
  // Each run answers with the next outcome: OK with a path, or cancel (an empty path).
  void Answer(std::wstring path) { m_answers.push_back(std::move(path)); }
  bool Run() override {
    ++runs;
    if (m_answers.empty()) return false;
    const std::wstring path = m_answers.front();
    m_answers.pop_front();
    if (path.empty()) return false;
    m_kept = path;
    return true;
  }
  Text KeptPath() const override { return FromWide(m_kept); }

  int runs = 0;

 private:
  std::deque<std::wstring> m_answers;
  std::wstring m_kept;
};

// A scratch folder whose name holds Chinese characters, removed with everything in it.
class ScratchFolder {
 public:
  // suffix tells apart two folders of one test.
  explicit ScratchFolder(const std::wstring& suffix = L"") {
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    m_path = std::filesystem::path(temp) /
             (L"\u8FD0\u5355-" + std::to_wstring(::GetCurrentProcessId()) + suffix);  // 运单-
    std::filesystem::create_directories(m_path);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }
  std::wstring Path() const { return m_path.wstring(); }
  std::wstring Write(const std::wstring& name, const std::string& bytes) const {
    const std::filesystem::path file = m_path / name;
    std::ofstream(file, std::ios::binary) << bytes;
    return file.wstring();
  }

 private:
  std::filesystem::path m_path;
};

const wchar_t* const kMainCaption = L"Korvanel物流-批量查询物流信息";

// ---- Keys, the clipboard, the right-click menu and file drops ----

// Keys held down while the posted key presses are handled, as GetKeyState tells them.
class HeldKeys {
 public:
  explicit HeldKeys(std::initializer_list<int> keys) {
    ::GetKeyboardState(m_saved);
    BYTE state[256];
    std::copy(std::begin(m_saved), std::end(m_saved), std::begin(state));
    for (int key : keys) state[key] |= 0x80;
    ::SetKeyboardState(state);
  }
  ~HeldKeys() { ::SetKeyboardState(m_saved); }
  HeldKeys(const HeldKeys&) = delete;
  HeldKeys& operator=(const HeldKeys&) = delete;

 private:
  BYTE m_saved[256] = {};
};

// A key pressed and released on a control with modifiers held, and everything it starts run.
void PressKey(HWND control, std::initializer_list<int> modifiers, UINT key) {
  HeldKeys held(modifiers);
  ::PostMessageW(control, WM_KEYDOWN, key, 1);
  ::PostMessageW(control, WM_KEYUP, key, 0xC0000001);
  PumpPending();
}

void PressCtrl(HWND control, UINT key) { PressKey(control, {VK_CONTROL, VK_LCONTROL}, key); }

void SetClipboardText(const std::wstring& text) {
  ASSERT_TRUE(::OpenClipboard(nullptr));
  ::EmptyClipboard();
  const SIZE_T bytes = (text.size() + 1) * sizeof(wchar_t);
  const HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes);
  std::memcpy(::GlobalLock(memory), text.c_str(), bytes);
  ::GlobalUnlock(memory);
  EXPECT_NE(::SetClipboardData(CF_UNICODETEXT, memory), nullptr);
  ::CloseClipboard();
}

void EmptyTheClipboard() {
  ASSERT_TRUE(::OpenClipboard(nullptr));
  ::EmptyClipboard();
  ::CloseClipboard();
}

std::wstring ClipboardText() {
  std::wstring text;
  if (!::OpenClipboard(nullptr)) return L"<clipboard busy>";
  if (const HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
    text = static_cast<const wchar_t*>(::GlobalLock(data));
    ::GlobalUnlock(data);
  }
  ::CloseClipboard();
  return text;
}

// A right-click at a point of the list's client area, the pointer moved there first.
void RightClick(HWND list, POINT at) {
  POINT onScreen = at;
  ::ClientToScreen(list, &onScreen);
  ::SetCursorPos(onScreen.x, onScreen.y);
  ::PostMessageW(list, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(at.x, at.y));
  ::PostMessageW(list, WM_RBUTTONUP, 0, MAKELPARAM(at.x, at.y));
}

struct MenuSeen {
  std::vector<std::wstring> captions;
  std::vector<bool> enabled;
};

// What the open popup menu offers.
MenuSeen ReadMenu(HWND menuWindow) {
  MenuSeen seen;
  const HMENU menu = reinterpret_cast<HMENU>(::SendMessageW(menuWindow, MN_GETHMENU, 0, 0));
  for (int item = 0; item < ::GetMenuItemCount(menu); ++item) {
    wchar_t caption[64] = {};
    ::GetMenuStringW(menu, item, caption, 64, MF_BYPOSITION);
    seen.captions.push_back(caption);
    seen.enabled.push_back(
        !(::GetMenuState(menu, item, MF_BYPOSITION) & (MF_GRAYED | MF_DISABLED)));
  }
  return seen;
}

// Answers the next popup menu with the keyboard: item is 0 for the first entry, -1 to close
// the menu choosing nothing. then runs as the menu is answered, before the choice is acted on.
void WhenMenuOpens(int item, MenuSeen* seen, std::function<void()> then = nullptr) {
  WhenWindowOpens(L"#32768", [=](HWND menu) {
    if (seen != nullptr) *seen = ReadMenu(menu);
    if (then) then();
    if (item < 0) {
      ::PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 1);
      return;
    }
    for (int down = 0; down <= item; ++down) ::PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 1);
    ::PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 1);
  });
}

// The file-name box of the common file dialogs.
HWND FileNameBox(HWND dialog) {
  const HWND edit = ::GetDlgItem(dialog, edt1);
  return edit != nullptr ? edit : ::GetDlgItem(dialog, cmb13);
}

struct SaveDialogSeen {
  std::wstring offeredName;
  std::wstring folder;
};

// Answers the save dialog with path (or cancels it for an empty path), noting what it offered.
void AnswerSaveDialog(HWND dialog, const std::wstring& path, SaveDialogSeen* seen) {
  if (seen != nullptr) {
    seen->offeredName = WindowText(FileNameBox(dialog));
    wchar_t folder[MAX_PATH] = {};
    ::SendMessageW(dialog, CDM_GETFOLDERPATH, MAX_PATH, reinterpret_cast<LPARAM>(folder));
    seen->folder = folder;
  }
  const int button = path.empty() ? IDCANCEL : IDOK;
  if (!path.empty()) ::SetWindowTextW(FileNameBox(dialog), path.c_str());
  ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(dialog, button)));
}

std::string ReadBytes(const std::wstring& path) {
  std::ifstream file(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::vector<std::wstring> FolderEntries(const std::wstring& folder) {
  std::vector<std::wstring> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().wstring());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Files dropped from a file manager: a DROPFILES block with the paths, each ended by a zero,
// and one zero more. The window that takes it frees it.
HDROP DroppedFiles(const std::vector<std::wstring>& paths) {
  std::wstring list;
  for (const std::wstring& path : paths) list += path + L'\0';
  list += L'\0';
  const SIZE_T bytes = sizeof(DROPFILES) + list.size() * sizeof(wchar_t);
  const HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
  auto* header = static_cast<DROPFILES*>(::GlobalLock(memory));
  header->pFiles = sizeof(DROPFILES);
  header->pt = POINT{300, 300};
  header->fWide = TRUE;
  std::memcpy(reinterpret_cast<char*>(header) + sizeof(DROPFILES), list.data(),
              list.size() * sizeof(wchar_t));
  ::GlobalUnlock(memory);
  return static_cast<HDROP>(memory);
}

}  // namespace

class WindowsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES;
    ::InitCommonControlsEx(&controls);
    ::OleInitialize(nullptr);
    SetMessagePump(&PumpPendingMessages);
    try {
      s_server = new korvanel::test_support::PageServer;
    } catch (const std::runtime_error&) {
      return;  // every test then fails on the missing server
    }
    s_server->SetPage("A1", korvanel::test_support::ReadFixture("two_entries.html"));
    s_server->SetPage("B2", korvanel::test_support::ReadFixture("ninety_five_spaces.html"));
    s_server->SetPage("C3", korvanel::test_support::ReadFixture("repeated_time.html"));
  }
  static void TearDownTestSuite() {
    SetMessagePump(nullptr);
    delete s_server;
    s_server = nullptr;
    ::OleUninitialize();
  }

  void SetUp() override {
    ASSERT_NE(s_server, nullptr);
    ASSERT_FALSE(korvanel::test_support::ReadFixture("two_entries.html").empty());
    m_prefix = QueryAddressPrefixForHost(s_server->Host());
    m_window = std::make_unique<MainWindow>(m_prefix, &m_dialog);
    ASSERT_TRUE(m_window->Create());
    PumpPending();
  }
  void TearDown() override {
    m_window.reset();
    PumpPending();
    selectedCellText.clear();
  }

  HWND Main() const { return m_window->Window(); }
  HWND Control(int id) const { return ::GetDlgItem(Main(), id); }
  HWND List() const { return Control(MainWindow::kListId); }
  void AddRows(std::initializer_list<const char*> numbers) {
    for (const char* number : numbers) {
      m_window->Rows().SetCellText(m_window->Rows().AddRow(), 0, number);
    }
  }
  void ClickQuery() { ::SendMessageW(Control(MainWindow::kQueryButtonId), BM_CLICK, 0, 0); }

  static korvanel::test_support::PageServer* s_server;
  Text m_prefix;
  ScriptedDialog m_dialog;
  std::unique_ptr<MainWindow> m_window;
};

korvanel::test_support::PageServer* WindowsTest::s_server = nullptr;

TEST_F(WindowsTest, MainWindowGeometryStylesAndControls) {
  EXPECT_EQ(WindowText(Main()), kMainCaption);
  RECT outer{};
  ::GetWindowRect(Main(), &outer);
  EXPECT_EQ(outer.right - outer.left, 707);
  EXPECT_EQ(outer.bottom - outer.top, 536);
  MONITORINFO screen{};
  screen.cbSize = sizeof(screen);
  ::GetMonitorInfoW(::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &screen);
  EXPECT_LE(std::abs((outer.left + outer.right) - (screen.rcWork.left + screen.rcWork.right)), 2);
  EXPECT_LE(std::abs((outer.top + outer.bottom) - (screen.rcWork.top + screen.rcWork.bottom)), 2);

  const LONG_PTR style = StyleOf(Main());
  EXPECT_TRUE(style & WS_CAPTION);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME) << "the border is fixed";
  EXPECT_TRUE(::IsWindowVisible(Main()));
  EXPECT_TRUE(::IsWindowEnabled(Main()));

  const HFONT guiFont = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
  struct Expected {
    int id;
    const wchar_t* className;
    RECT place;
    const wchar_t* text;
  };
  for (const Expected& e :
       {Expected{MainWindow::kImportButtonId, L"Button", {80, 24, 160, 56}, L"导入"},
        Expected{MainWindow::kPathEditId, L"Edit", {216, 24, 432, 56}, L""},
        Expected{MainWindow::kQueryButtonId, L"Button", {456, 24, 536, 56}, L"查询"},
        Expected{MainWindow::kListId, L"SysListView32", {8, 80, 696, 504}, L""}}) {
    SCOPED_TRACE(e.id);
    const HWND control = Control(e.id);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(ClassOf(control), e.className);
    EXPECT_TRUE(SameRect(ClientPlace(control), e.place)) << Describe(ClientPlace(control));
    EXPECT_EQ(WindowText(control), e.text);
    EXPECT_EQ(reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)), guiFont);
  }
  for (int id : {MainWindow::kImportButtonId, MainWindow::kQueryButtonId}) {
    SCOPED_TRACE(id);
    const LONG_PTR buttonStyle = StyleOf(Control(id));
    EXPECT_EQ(buttonStyle & BS_TYPEMASK, BS_PUSHBUTTON) << "neither button is the default one";
    EXPECT_EQ(buttonStyle & BS_CENTER, BS_CENTER);
  }
  const LONG_PTR editStyle = StyleOf(Control(MainWindow::kPathEditId));
  EXPECT_FALSE(editStyle & (ES_READONLY | ES_PASSWORD | ES_MULTILINE | ES_CENTER | ES_RIGHT));
}

TEST_F(WindowsTest, ListColumnsAndSettings) {
  const HWND list = List();
  const LONG_PTR style = StyleOf(list);
  EXPECT_EQ(style & LVS_TYPEMASK, LVS_REPORT);
  EXPECT_TRUE(style & LVS_SINGLESEL);
  EXPECT_FALSE(style & (LVS_NOCOLUMNHEADER | LVS_EDITLABELS));
  EXPECT_TRUE(ExStyleOf(list) & WS_EX_CLIENTEDGE) << "sunken border";
  const auto extended = ::SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
  EXPECT_TRUE(extended & LVS_EX_GRIDLINES);
  EXPECT_TRUE(extended & LVS_EX_FULLROWSELECT);
  EXPECT_FALSE(extended & (LVS_EX_CHECKBOXES | LVS_EX_TRACKSELECT));
  EXPECT_EQ(::SendMessageW(list, LVM_GETTEXTCOLOR, 0, 0), RGB(0, 0, 0));
  EXPECT_EQ(::SendMessageW(list, LVM_GETBKCOLOR, 0, 0), RGB(255, 255, 255));
  EXPECT_EQ(::SendMessageW(list, LVM_GETTEXTBKCOLOR, 0, 0), RGB(255, 255, 255));
  EXPECT_EQ(RowCount(list), 0);

  const HWND header = reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0));
  ASSERT_NE(header, nullptr);
  EXPECT_TRUE(::IsWindowVisible(header));
  ASSERT_EQ(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0), 3);
  const wchar_t* titles[] = {L"单号", L"运输时间", L"最新运输信息"};
  const int widths[] = {120, 160, 400};
  for (int column = 0; column < 3; ++column) {
    SCOPED_TRACE(column);
    wchar_t title[64] = {};
    LVCOLUMNW info{};
    info.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    info.pszText = title;
    info.cchTextMax = 64;
    ASSERT_TRUE(::SendMessageW(list, LVM_GETCOLUMNW, column, reinterpret_cast<LPARAM>(&info)));
    EXPECT_STREQ(title, titles[column]);
    EXPECT_EQ(info.cx, widths[column]);
    EXPECT_EQ(info.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_LEFT);
  }
}

TEST_F(WindowsTest, ClicksSelectOneRowAndTheHeaderSortsNothing) {
  AddRows({"B2", "A1", "C3"});
  const HWND list = List();
  // A click on the event cell of row 1 selects that whole row, and only it.
  const POINT cell = CellCentre(list, 1, 2);
  ::PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(cell.x, cell.y));
  ::PostMessageW(list, WM_LBUTTONUP, 0, MAKELPARAM(cell.x, cell.y));
  PumpPending();
  EXPECT_EQ(::SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0), 1);
  EXPECT_EQ(::SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED), 1);

  const HWND header = reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0));
  RECT title{};
  ::SendMessageW(header, HDM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&title));
  const LPARAM at = MAKELPARAM(title.left + 10, (title.top + title.bottom) / 2);
  for (int click = 0; click < 2; ++click) {
    ::PostMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::PostMessageW(header, WM_LBUTTONUP, 0, at);
  }
  PumpPending();
  EXPECT_EQ(CellText(list, 0, 0), L"B2");
  EXPECT_EQ(CellText(list, 1, 0), L"A1");
  EXPECT_EQ(CellText(list, 2, 0), L"C3");
}

TEST_F(WindowsTest, ImportListsEveryLineOfTheChosenFile) {
  ScratchFolder folder;
  const std::wstring path = folder.Write(L"\u5355\u53F7.txt", " A1 \r\n\r\nB2\r\n");  // 单号.txt
  const HWND edit = Control(MainWindow::kPathEditId);
  const HWND importButton = Control(MainWindow::kImportButtonId);

  // Cancel before any OK: nothing listed, the box emptied of what the user typed.
  ::SetWindowTextW(edit, L"typed by the user");
  m_dialog.Answer(L"");
  ::SendMessageW(importButton, BM_CLICK, 0, 0);
  EXPECT_EQ(m_dialog.runs, 1);
  EXPECT_EQ(RowCount(List()), 0);
  EXPECT_EQ(WindowText(edit), L"");

  // OK: the path shows in the box, Chinese characters and all, and every line is a row.
  m_dialog.Answer(path);
  ::SendMessageW(importButton, BM_CLICK, 0, 0);
  EXPECT_EQ(WindowText(edit), path);
  ASSERT_EQ(RowCount(List()), 3);
  EXPECT_EQ(CellText(List(), 0, 0), L" A1 ");
  EXPECT_EQ(CellText(List(), 1, 0), L"");
  EXPECT_EQ(CellText(List(), 2, 0), L"B2");

  // Cancel after an OK: the kept file is listed once more.
  m_dialog.Answer(L"");
  ::SendMessageW(importButton, BM_CLICK, 0, 0);
  ASSERT_EQ(RowCount(List()), 6);
  EXPECT_EQ(CellText(List(), 5, 0), L"B2");
}

// The common open-file dialog itself, as a user meets it: no filter, no read-only box, and
// after an OK the chosen file is offered again the next time.
TEST_F(WindowsTest, ImportThroughTheRealOpenFileDialog) {
  ScratchFolder folder;
  const std::wstring path = folder.Write(L"list.txt", "A1\r\nB2\r\n");
  MainWindow window(m_prefix);
  ASSERT_TRUE(window.Create());
  const HWND importButton = ::GetDlgItem(window.Window(), MainWindow::kImportButtonId);
  const auto fileNameBox = [](HWND dialog) {
    const HWND edit = ::GetDlgItem(dialog, edt1);
    return edit != nullptr ? edit : ::GetDlgItem(dialog, cmb13);
  };

  bool readOnlyShown = true;
  LRESULT filters = -1;
  HWND owner = nullptr;
  WhenWindowOpens(L"#32770", [&](HWND dialog) {
    const HWND readOnly = ::GetDlgItem(dialog, chx1);
    readOnlyShown = readOnly != nullptr && ::IsWindowVisible(readOnly);
    filters = ::SendDlgItemMessageW(dialog, cmb1, CB_GETCOUNT, 0, 0);
    owner = ::GetWindow(dialog, GW_OWNER);
    ::SetWindowTextW(fileNameBox(dialog), path.c_str());
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDOK)));
  });
  ::SendMessageW(importButton, BM_CLICK, 0, 0);
  EXPECT_FALSE(readOnlyShown);
  EXPECT_LE(filters, 0);
  EXPECT_EQ(owner, window.Window());
  const HWND list = window.Rows().ListWindowHandle();
  ASSERT_EQ(RowCount(list), 2);
  EXPECT_EQ(CellText(list, 1, 0), L"B2");
  EXPECT_EQ(WindowText(::GetDlgItem(window.Window(), MainWindow::kPathEditId)), path);

  // The dialog opens in the kept file's folder with its name in the box.
  std::wstring offered;
  wchar_t folderShown[MAX_PATH] = {};
  WhenWindowOpens(L"#32770", [&](HWND dialog) {
    offered = WindowText(fileNameBox(dialog));
    ::SendMessageW(dialog, CDM_GETFOLDERPATH, MAX_PATH, reinterpret_cast<LPARAM>(folderShown));
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDCANCEL)));
  });
  ::SendMessageW(importButton, BM_CLICK, 0, 0);
  const std::filesystem::path kept(path);
  EXPECT_TRUE(offered == path || offered == kept.filename().wstring()) << FromWide(offered);
  EXPECT_EQ(std::wstring(folderShown), kept.parent_path().wstring());
  EXPECT_EQ(RowCount(list), 4);
}

TEST_F(WindowsTest, QueryFillsTheRowsAndScrollsToEach) {
  AddRows({"A1", "B2", "C3", "D4"});
  for (int i = 0; i < 40; ++i) {
    const std::string number = "N" + std::to_string(i);
    m_window->Rows().SetCellText(m_window->Rows().AddRow(), 0, number);
  }
  const std::size_t before = s_server->Targets().size();
  ClickQuery();
  const std::vector<std::string> targets = s_server->Targets();
  ASSERT_EQ(targets.size(), before + 44);
  EXPECT_EQ(targets[before], "/korvanelapi.php?yundanhao=A1&type=html");
  EXPECT_EQ(targets.back(), "/korvanelapi.php?yundanhao=N39&type=html");

  const HWND list = List();
  EXPECT_EQ(CellText(list, 0, 1), L"2024-05-03  10:20:00");
  EXPECT_EQ(CellText(list, 0, 2), L"快件已签收");
  EXPECT_EQ(CellText(list, 1, 2), L"快件已签收     ");
  EXPECT_EQ(CellText(list, 2, 2), L"快件已签收");
  EXPECT_EQ(CellText(list, 3, 1), L"  ");
  EXPECT_EQ(CellText(list, 3, 2), L"");
  // The last row is wholly in view; the first has scrolled away.
  const auto top = ::SendMessageW(list, LVM_GETTOPINDEX, 0, 0);
  const auto perPage = ::SendMessageW(list, LVM_GETCOUNTPERPAGE, 0, 0);
  EXPECT_GT(top, 0);
  EXPECT_GT(top + perPage, 43);
}

TEST_F(WindowsTest, ASecondClickDuringAPassNestsAWholePass) {
  AddRows({"A1", "B2"});
  const std::size_t before = s_server->Targets().size();
  // Handled inside the first request, as a click that comes while it waits.
  ::PostMessageW(Control(MainWindow::kQueryButtonId), BM_CLICK, 0, 0);
  ClickQuery();
  std::vector<std::string> numbers;
  const std::vector<std::string> asked = s_server->Numbers();
  for (std::size_t i = before; i < asked.size(); ++i) numbers.push_back(asked[i]);
  EXPECT_EQ(numbers, (std::vector<std::string>{"A1", "A1", "B2", "B2"}));
  EXPECT_EQ(CellText(List(), 1, 1), L"2024-05-03  10:20:00");
}

TEST_F(WindowsTest, ClosingTheMainWindowDuringAPassEndsIt) {
  AddRows({"A1", "B2", "C3"});
  const std::size_t before = s_server->Targets().size();
  // Runs inside the first request, as a click on the close button would.
  ::PostMessageW(Main(), WM_CLOSE, 0, 0);
  ClickQuery();
  EXPECT_EQ(m_window->Window(), nullptr);
  EXPECT_EQ(s_server->Targets().size(), before + 1);
  for (int row = 0; row < 3; ++row) EXPECT_EQ(m_window->Rows().GetCellText(row, 1), "");
  // The program's loop ends with its main window.
  EXPECT_EQ(RunMessageLoop(), 0);
}

TEST_F(WindowsTest, ClosingTheMainWindowEndsTheMessageLoop) {
  ::PostMessageW(Main(), WM_CLOSE, 0, 0);
  EXPECT_EQ(RunMessageLoop(), 0);
  EXPECT_EQ(m_window->Window(), nullptr);
}

TEST_F(WindowsTest, CtrlCCopiesTheSelectedRowAsTabSeparatedUnicode) {
  AddRows({"A1", "B2"});
  m_window->Rows().SetCellText(1, 1, "2024-05-03  10:20:00");
  m_window->Rows().SetCellText(1, 2, "line\r\nbreak");
  const HWND list = List();
  SetClipboardText(L"before");

  // Nothing selected yet: the clipboard keeps what it held.
  PressCtrl(list, 'C');
  EXPECT_EQ(ClipboardText(), L"before");
  // C without Ctrl copies nothing either.
  const POINT second = CellCentre(list, 1, 0);
  ::PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(second.x, second.y));
  ::PostMessageW(list, WM_LBUTTONUP, 0, MAKELPARAM(second.x, second.y));
  PumpPending();
  PressKey(list, {}, 'C');
  EXPECT_EQ(ClipboardText(), L"before");

  PressCtrl(list, 'C');
  EXPECT_EQ(ClipboardText(), L"B2\t2024-05-03  10:20:00\t\"line\r\nbreak\"\r\n");
  // Chinese text reaches the clipboard as Unicode.
  m_window->Rows().SetCellText(0, 2, "\xD2\xD1\xC7\xA9\xCA\xD5");  // "已签收"
  const POINT first = CellCentre(list, 0, 2);
  ::PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(first.x, first.y));
  ::PostMessageW(list, WM_LBUTTONUP, 0, MAKELPARAM(first.x, first.y));
  PumpPending();
  PressCtrl(list, 'C');
  EXPECT_EQ(ClipboardText(), L"A1\t\t已签收\r\n");
  EXPECT_EQ(RowCount(list), 2);
}

TEST_F(WindowsTest, CtrlVAppendsOneRowPerClipboardLine) {
  AddRows({"A1"});
  const HWND edit = Control(MainWindow::kPathEditId);
  ::SetWindowTextW(edit, L"kept");
  // LF and CR LF line ends, spaces, an empty line, a Chinese number and one with characters
  // that code page 936 lacks (its row is added, each such character as "?").
  SetClipboardText(L" B2 \r\n\nC3\n测试单号\nD\u00E5\u1E9E4\n");
  const HWND list = List();
  PressCtrl(list, 'V');
  const std::vector<std::wstring> expected = {L"A1", L" B2 ", L"", L"C3", L"测试单号", L"D??4"};
  ASSERT_EQ(RowCount(list), static_cast<int>(expected.size()));
  for (int row = 0; row < RowCount(list); ++row) {
    SCOPED_TRACE(row);
    EXPECT_EQ(CellText(list, row, 0), expected[row]);
    EXPECT_EQ(CellText(list, row, 1), L"");
  }
  EXPECT_EQ(WindowText(edit), L"kept");

  // An empty clipboard adds nothing; Ctrl+V in the path box pastes into the box, not the list.
  EmptyTheClipboard();
  PressCtrl(list, 'V');
  EXPECT_EQ(RowCount(list), static_cast<int>(expected.size()));
  SetClipboardText(L"X9");
  ::SetFocus(edit);
  PressCtrl(edit, 'V');
  EXPECT_EQ(RowCount(list), static_cast<int>(expected.size()));
}

TEST_F(WindowsTest, RightClickMenuCopiesARowOrEveryRow) {
  AddRows({"A1", "B2", "C3"});
  m_window->Rows().SetCellText(2, 2, "\xD2\xD1\xC7\xA9\xCA\xD5");  // "已签收"
  const HWND list = List();
  SetClipboardText(L"before");

  MenuSeen seen;
  WhenMenuOpens(0, &seen);
  RightClick(list, CellCentre(list, 2, 1));
  ASSERT_TRUE(PumpUntil([] { return g_whenOpen == nullptr; }));
  PumpPending();
  EXPECT_EQ(seen.captions, (std::vector<std::wstring>{L"复制", L"全部复制", L"导出..."}));
  EXPECT_EQ(seen.enabled, (std::vector<bool>{true, true, true}));
  EXPECT_EQ(ClipboardText(), L"C3\t\t已签收\r\n");

  WhenMenuOpens(1, nullptr);
  RightClick(list, CellCentre(list, 0, 0));
  ASSERT_TRUE(PumpUntil([] { return g_whenOpen == nullptr; }));
  PumpPending();
  EXPECT_EQ(ClipboardText(),
            L"单号\t运输时间\t最新运输信息\r\nA1\t\t\r\nB2\t\t\r\nC3\t\t已签收\r\n");

  // Below the last row there is no row to copy, but every row can still be copied.
  SetClipboardText(L"before");
  RECT client{};
  ::GetClientRect(list, &client);
  WhenMenuOpens(-1, &seen);
  RightClick(list, POINT{20, client.bottom - 10});
  ASSERT_TRUE(PumpUntil([] { return g_whenOpen == nullptr; }));
  PumpPending();
  EXPECT_EQ(seen.enabled, (std::vector<bool>{false, true, true}));
  EXPECT_EQ(ClipboardText(), L"before");
  EXPECT_EQ(FindThreadWindow(L"#32768"), nullptr);

  // From the keyboard (Shift+F10) the menu is about the selected row.
  const POINT second = CellCentre(list, 1, 0);
  ::PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(second.x, second.y));
  ::PostMessageW(list, WM_LBUTTONUP, 0, MAKELPARAM(second.x, second.y));
  PumpPending();
  WhenMenuOpens(0, &seen);
  {
    HeldKeys shift({VK_SHIFT, VK_LSHIFT});
    ::PostMessageW(list, WM_SYSKEYDOWN, VK_F10, 1);
    ::PostMessageW(list, WM_SYSKEYUP, VK_F10, 0xC0000001);
    ASSERT_TRUE(PumpUntil([] { return g_whenOpen == nullptr; }));
  }
  PumpPending();
  EXPECT_EQ(seen.enabled, (std::vector<bool>{true, true, true}));
  EXPECT_EQ(ClipboardText(), L"B2\t\t\r\n");
  EXPECT_EQ(RowCount(list), 3);
}

TEST_F(WindowsTest, CtrlSExportsEveryRowInTheFolderOfTheImport) {
  ScratchFolder importFolder;
  ScratchFolder exportFolder(L"-out");
  const std::wstring exportDir = exportFolder.Path();
  const std::wstring listPath = importFolder.Write(L"list.txt", "A1\r\n-B2\r\n");
  m_dialog.Answer(listPath);
  ::SendMessageW(Control(MainWindow::kImportButtonId), BM_CLICK, 0, 0);
  ASSERT_EQ(RowCount(List()), 2);
  m_window->Rows().SetCellText(0, 1, "2024-05-03  10:20:00");
  m_window->Rows().SetCellText(0, 2, "\xD2\xD1\xC7\xA9\xCA\xD5");  // "已签收"

  const std::wstring csv = exportDir + L"\\结果.csv";
  SaveDialogSeen seen;
  WhenWindowOpens(L"#32770", [&](HWND dialog) { AnswerSaveDialog(dialog, csv, &seen); });
  PressCtrl(List(), 'S');
  ASSERT_TRUE(PumpUntil([] { return g_whenOpen == nullptr; }));
  PumpPending();
  EXPECT_TRUE(
      std::regex_match(seen.offeredName, std::wregex(L"运单查询结果-20[0-9]{6}-[0-9]{4}\\.xlsx")))
      << FromWide(seen.offeredName);
  EXPECT_EQ(seen.folder, std::filesystem::path(listPath).parent_path().wstring());
  EXPECT_EQ(FindThreadWindow(L"#32770"), nullptr) << "no message: it worked";
  // UTF-8 after the byte-order mark ("单号,运输时间,最新运输信息", then "A1,...,已签收"); the
  // cell that could start a formula is kept as text.
  EXPECT_EQ(ReadBytes(csv),
            "\xEF\xBB\xBF"
            "\xE5\x8D\x95\xE5\x8F\xB7,\xE8\xBF\x90\xE8\xBE\x93\xE6\x97\xB6\xE9\x97"
            "\xB4,\xE6\x9C\x80\xE6\x96\xB0\xE8\xBF\x90\xE8\xBE\x93\xE4\xBF\xA1\xE6"
            "\x81\xAF\r\nA1,2024-05-03  10:20:00,\xE5\xB7\xB2\xE7\xAD\xBE\xE6\x94"
            "\xB6\r\n'-B2,,\r\n");

  // From the menu: the dialog opens in the folder of the last export, and a name without an
  // extension becomes a workbook.
  WhenMenuOpens(2, nullptr, [&] {
    WhenWindowOpens(L"#32770",
                    [&](HWND dialog) { AnswerSaveDialog(dialog, exportDir + L"\\book", &seen); });
  });
  RightClick(List(), CellCentre(List(), 0, 0));
  ASSERT_TRUE(PumpUntil([] { return g_whenOpen == nullptr; }));
  PumpUntil([] { return FindThreadWindow(L"#32770") == nullptr; });
  EXPECT_EQ(seen.folder, exportDir);
  EXPECT_EQ(ReadBytes(exportDir + L"\\book.xlsx").substr(0, 4), std::string("PK\x03\x04", 4));
  // Each file appears only when complete: nothing else is left in the folder.
  EXPECT_EQ(FolderEntries(exportDir), (std::vector<std::wstring>{L"book.xlsx", L"结果.csv"}));
}

TEST_F(WindowsTest, AFailedExportIsToldInAMessageBox) {
  ScratchFolder folder;
  AddRows({"A1"});
  const std::wstring path = folder.Path() + L"\\missing\\result.xlsx";
  std::wstring caption;
  std::wstring text;
  WhenWindowOpens(L"#32770", [&](HWND dialog) {
    AnswerSaveDialog(dialog, path, nullptr);
    WhenWindowOpens(
        L"#32770",
        [&](HWND box) {
          caption = WindowText(box);
          text = WindowText(::GetDlgItem(box, 0xFFFF));
          ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                         reinterpret_cast<LPARAM>(::GetDlgItem(box, IDOK)));
        },
        dialog);
  });
  PressCtrl(List(), 'S');
  ASSERT_TRUE(PumpUntil([] { return g_whenOpen == nullptr; }));
  PumpUntil([] { return FindThreadWindow(L"#32770") == nullptr; });
  EXPECT_EQ(caption, L"导出失败");
  EXPECT_EQ(text.rfind(L"无法写入文件：\n" + path + L"\n\n", 0), 0u) << FromWide(text);
  EXPECT_GT(text.size(), (L"无法写入文件：\n" + path + L"\n\n").size()) << "a reason follows";
  EXPECT_EQ(FindThreadWindow(L"#32770"), nullptr);
  EXPECT_TRUE(FolderEntries(folder.Path()).empty());
  EXPECT_EQ(RowCount(List()), 1);
}

// Dropped on the window, a file is imported as if chosen in the dialog, which then keeps it.
TEST_F(WindowsTest, DroppingAFileImportsIt) {
  ScratchFolder folder;
  const std::wstring path = folder.Write(L"\u5355\u53F7.txt", " A1 \r\nB2\r\n");  // 单号.txt
  MainWindow window(m_prefix);
  ASSERT_TRUE(window.Create());
  window.Rows().SetCellText(window.Rows().AddRow(), 0, "X0");
  const HWND list = window.Rows().ListWindowHandle();
  const HWND edit = ::GetDlgItem(window.Window(), MainWindow::kPathEditId);
  EXPECT_TRUE(ExStyleOf(window.Window()) & WS_EX_ACCEPTFILES);

  // A folder dropped with it is left out.
  ::PostMessageW(window.Window(), WM_DROPFILES,
                 reinterpret_cast<WPARAM>(DroppedFiles({folder.Path(), path})), 0);
  PumpPending();
  EXPECT_EQ(WindowText(edit), path);
  ASSERT_EQ(RowCount(list), 3);
  EXPECT_EQ(CellText(list, 1, 0), L" A1 ");
  EXPECT_EQ(CellText(list, 2, 0), L"B2");

  // The dialog keeps the dropped file: it opens on it, and a cancel lists it again.
  std::wstring offered;
  WhenWindowOpens(L"#32770", [&](HWND dialog) {
    offered = WindowText(FileNameBox(dialog));
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDCANCEL)));
  });
  ::SendMessageW(::GetDlgItem(window.Window(), MainWindow::kImportButtonId), BM_CLICK, 0, 0);
  EXPECT_TRUE(offered == path || offered == std::filesystem::path(path).filename().wstring())
      << FromWide(offered);
  EXPECT_EQ(RowCount(list), 5);
}

struct DoubleClickCase {
  const char* name;
  int row;  // -1: the empty area below the rows
  int column;
  std::string cellText;
  std::wstring caption;
  friend void PrintTo(const DoubleClickCase& c, std::ostream* out) { *out << c.name; }
};

class DoubleClickTest : public WindowsTest,
                        public ::testing::WithParamInterface<DoubleClickCase> {};

TEST_P(DoubleClickTest, OpensTheModalDetailWindowForTheCell) {
  const DoubleClickCase& c = GetParam();
  AddRows({"A1"});
  m_window->Rows().SetCellText(0, 1, "2024-05-03  10:20:00");
  const HWND list = List();
  RECT client{};
  ::GetClientRect(list, &client);
  const POINT at = c.row >= 0 ? CellCentre(list, c.row, c.column) : POINT{20, client.bottom - 10};

  std::wstring caption;
  bool mainEnabled = true;
  bool served = false;
  const std::size_t before = s_server->Targets().size();
  WhenWindowOpens(DetailWindow::kClassName, [&](HWND detail) {
    caption = WindowText(detail);
    // The main window takes no clicks while the detail window is open.
    mainEnabled = ::IsWindowEnabled(Main());
    // The web view asks the endpoint for the cell's page.
    served = PumpUntil([&] {
      for (const korvanel::test_support::ReceivedRequest& r : s_server->Requests()) {
        const std::string& t = r.target;
        if (r.Query("yundanhao") == c.cellText && t.find("/korvanelapi.php?yundanhao=") == 0 &&
            t.ends_with("&type=html")) {
          return true;
        }
      }
      return false;
    });
    ::PostMessageW(detail, WM_CLOSE, 0, 0);
  });
  PostDoubleClick(list, at);
  ASSERT_TRUE(PumpUntil([] { return g_whenOpen == nullptr; }));
  PumpUntil([&] { return ::IsWindowEnabled(Main()); });

  EXPECT_EQ(caption, c.caption);
  EXPECT_FALSE(mainEnabled);
  // The web view's request is the only one: nothing else asked the endpoint.
  EXPECT_EQ(s_server->Targets().size(), before + 1);
  EXPECT_TRUE(served);
  EXPECT_TRUE(::IsWindowEnabled(Main()));
  EXPECT_EQ(selectedCellText, c.cellText);
  EXPECT_EQ(FindThreadWindow(DetailWindow::kClassName), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Cells, DoubleClickTest,
    ::testing::Values(DoubleClickCase{"Number", 0, 0, "A1", L"A1-详细物流信息"},
                      DoubleClickCase{"Time", 0, 1, "2024-05-03  10:20:00",
                                      L"2024-05-03  10:20:00-详细物流信息"},
                      DoubleClickCase{"EmptyArea", -1, 0, "", L"-详细物流信息"}),
    [](const ::testing::TestParamInfo<DoubleClickCase>& info) { return info.param.name; });

TEST_F(WindowsTest, DetailWindowGeometryAndControls) {
  selectedCellText = "123";
  DetailWindow detail(m_prefix, nullptr);
  ASSERT_TRUE(detail.Create());
  PumpPending();
  EXPECT_EQ(WindowText(detail.Window()), L"123-详细物流信息");
  RECT outer{};
  ::GetWindowRect(detail.Window(), &outer);
  EXPECT_EQ(outer.right - outer.left, 485);
  EXPECT_EQ(outer.bottom - outer.top, 482);
  const LONG_PTR style = StyleOf(detail.Window());
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & (WS_MAXIMIZEBOX | WS_THICKFRAME));
  EXPECT_EQ(::GetWindow(detail.Window(), GW_OWNER), nullptr);

  ASSERT_NE(detail.Canvas(), nullptr);
  EXPECT_EQ(::GetParent(detail.Canvas()), detail.Window());
  EXPECT_TRUE(SameRect(ClientPlace(detail.Canvas()), RECT{8, 8, 472, 440}))
      << Describe(ClientPlace(detail.Canvas()));
  const HWND host = detail.View().HostWindow();
  ASSERT_NE(host, nullptr) << "atl.dll hosts the web view";
  EXPECT_EQ(::GetParent(host), detail.Canvas());
  EXPECT_TRUE(SameRect(ClientPlace(host), RECT{6, 2, 442, 416})) << Describe(ClientPlace(host));
  EXPECT_TRUE(detail.View().HasBrowser());
}

// The Wine programs of a test run share the default desktop, which may have been made before
// there was any display and then takes no windows; a program takes its display driver from its
// desktop when it starts. So the tests run in a child of this program started on a desktop of
// their own, made on this program's display; this program passes on the child's exit status.
namespace {

constexpr const wchar_t* kTestDesktop = L"Korvanel.WindowTests";

bool OnTestDesktop() {
  wchar_t name[128] = {};
  return ::GetUserObjectInformationW(::GetThreadDesktop(::GetCurrentThreadId()), UOI_NAME, name,
                                     sizeof(name), nullptr) &&
         std::wstring(name) == kTestDesktop;
}

int RunOnTestDesktop() {
  const HDESK desktop = ::CreateDesktopW(kTestDesktop, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  if (desktop == nullptr) return 1;
  std::wstring commandLine = ::GetCommandLineW();
  std::wstring desktopName = kTestDesktop;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.lpDesktop = desktopName.data();
  PROCESS_INFORMATION child{};
  DWORD status = 1;
  if (::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                       &startup, &child)) {
    ::WaitForSingleObject(child.hProcess, INFINITE);
    ::GetExitCodeProcess(child.hProcess, &status);
    ::CloseHandle(child.hThread);
    ::CloseHandle(child.hProcess);
  }
  ::CloseDesktop(desktop);
  return static_cast<int>(status);
}

}  // namespace

int main(int argc, char** argv) {
  if (!OnTestDesktop()) return RunOnTestDesktop();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
