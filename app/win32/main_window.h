// MainWindow: the start window with the import and query buttons, the path box and the report
// list, wired to the handlers of the app library.
#pragma once

#include <memory>
#include <string>

#include "app/detail_window.h"
#include "app/import.h"
#include "app/win32/base_window.h"
#include "app/win32/report_list_view.h"

namespace korvanel {

// 通用对话框1: the common open-file dialog. One lives as long as the main window, so it keeps
// the path of the last OK and offers it again.
class OpenFileDialog : public FileDialog {
 public:
  static constexpr const wchar_t* kInitialDirectory = L"C:\\Users\\Administrator\\Desktop";

  explicit OpenFileDialog(HWND owner = nullptr) : m_owner(owner) {}
  void SetOwner(HWND owner) { m_owner = owner; }

  bool Run() override;
  Text KeptPath() const override;

 private:
  HWND m_owner;
  std::wstring m_keptPath;
};

// 编辑框1 through its window text.
class WindowEditBox : public EditBox {
 public:
  explicit WindowEditBox(HWND edit = nullptr) : m_edit(edit) {}
  void SetText(std::string_view text) override;
  Text GetText() const override;

 private:
  HWND m_edit;
};

// Asks the list view which cell lies under a point of its client area.
class ListViewHitTester : public ListHitTester {
 public:
  explicit ListViewHitTester(HWND list = nullptr) : m_list(list) {}
  CellHit HitTest(int x, int y) const override;

 private:
  HWND m_list;
};

class MainWindow : public BaseWindow<MainWindow>, private DetailWindowOpener {
 public:
  static constexpr const wchar_t* kClassName = L"Korvanel.MainWindow";
  static constexpr int kOuterWidth = 707;
  static constexpr int kOuterHeight = 536;
  // Control identifiers, as WM_COMMAND and WM_NOTIFY name them.
  static constexpr int kImportButtonId = 101;
  static constexpr int kPathEditId = 102;
  static constexpr int kQueryButtonId = 103;
  static constexpr int kListId = 104;

  // prefix: the query address prefix of the batch query and the detail window (empty: the
  // build's endpoint). fileDialog: the dialog the import runs; without one the window keeps
  // its own common open-file dialog.
  explicit MainWindow(Text prefix = {}, FileDialog* fileDialog = nullptr);

  // Creates the window with its controls, centred on the primary screen, and shows it.
  bool Create(int showCommand = SW_SHOW);

  ReportListView& Rows() { return m_rows; }
  const ReportListView& Rows() const { return m_rows; }

  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  bool CreateControls();
  void OnCommand(int id, int code);
  LRESULT OnNotify(const NMHDR& header);
  void OnListDoubleClick(const NMITEMACTIVATE& activate);
  void Import();
  void Query();
  // DetailWindowOpener: a fresh detail window, modal over this one.
  void OpenDetailWindow() override;

  Text m_prefix;
  OpenFileDialog m_ownDialog;
  FileDialog* m_fileDialog;
  ReportListView m_rows;
  WindowEditBox m_pathBox;
  ListViewHitTester m_hitTester;
  // Set when the window is destroyed: a batch query running in a nested loop ends there.
  bool m_destroyed = false;
};

}  // namespace korvanel
