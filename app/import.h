// Importing a waybill list: the click handler of the import button.
#pragma once

#include <string_view>

#include "app/report_list.h"
#include "text/text.h"

namespace korvanel {

// The open-file dialog of the main window. It keeps the full path of the file last chosen
// with OK for its whole life; cancelling leaves that path as it was (empty before any OK).
class FileDialog {
 public:
  virtual ~FileDialog() = default;
  // Shows the dialog and waits for the user; true for OK. ImportWaybills ignores the outcome.
  virtual bool Run() = 0;
  // The kept path, code page 936 text.
  virtual Text KeptPath() const = 0;
};

// The single-line edit box that shows the path being imported.
class EditBox {
 public:
  virtual ~EditBox() = default;
  virtual void SetText(std::string_view text) = 0;
  virtual Text GetText() const = 0;
};

// The waybill numbers listed in a file's text: one per CR LF separated line, in file order,
// unchanged (spaces kept, a lone LF or CR is part of the number). Two CR LF in a row give an
// empty number; a CR LF at the very end gives no empty last one; the empty text gives none.
TextArray ListWaybillNumbers(std::string_view fileText);

// Appends one row per number, in order, the number in column 0: how an import lists them.
void AppendWaybills(const TextArray& numbers, ReportList& list);

// Runs the dialog, shows the kept path in the edit box, reads the path back from the box and
// appends one row per number in that file (ReadTextFile: up to a NUL or 0x1A), the number in
// column 0. Nothing is reported: a cancelled first dialog or an unreadable file adds no rows;
// a cancel after an earlier OK reads the earlier file again.
void ImportWaybills(FileDialog& dialog, EditBox& editBox, ReportList& list);

// What ImportWaybills does once its dialog has given a path: shows path in the edit box,
// reads it back from the box and appends the file's numbers. A file dropped on the main
// window is imported this way; the front end makes its dialog keep the path as well.
void ImportWaybillFile(std::string_view path, EditBox& editBox, ReportList& list);

}  // namespace korvanel
