#include "app/import.h"

namespace korvanel {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

}  // namespace

TextArray ListWaybillNumbers(std::string_view fileText) { return SplitText(fileText, kLineEnd); }

void AppendWaybills(const TextArray& numbers, ReportList& list) {
  AppendBatch batch(list);
  for (int i = 1; i <= ElementCount(numbers); ++i) {
    const int row = list.AddRow();
    list.SetCellText(row, kNumberColumn, ElementAt(numbers, i));
  }
}

void ImportWaybills(FileDialog& dialog, EditBox& editBox, ReportList& list) {
  // A cancel keeps the dialog's earlier path, so the earlier file is listed again.
  dialog.Run();
  ImportWaybillFile(dialog.KeptPath(), editBox, list);
}

void ImportWaybillFile(std::string_view path, EditBox& editBox, ReportList& list) {
  editBox.SetText(path);
  // The box is where the path lives for the user, so the import reads it from there.
  const Text shownPath = editBox.GetText();
  AppendWaybills(ListWaybillNumbers(ReadTextFile(shownPath)), list);
}

}  // namespace korvanel
