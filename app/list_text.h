// The report list's rows as clipboard text, and clipboard text as new rows: what the desktop
// front ends copy and paste. Copied text is tab-separated, so a paste into a spreadsheet
// gives one cell per column; pasted text lists one waybill number per line.
#pragma once

#include <string>
#include <string_view>

#include "app/report_list.h"
#include "text/text.h"

namespace korvanel {

// The captions of the list's right-click menu.
inline constexpr std::string_view kCopyRowCaption = "\xB8\xB4\xD6\xC6";  // "复制"
inline constexpr std::string_view kCopyAllCaption =
    "\xC8\xAB\xB2\xBF\xB8\xB4\xD6\xC6";                                 // "全部复制"
inline constexpr std::string_view kExportCaption = "\xB5\xBC\xB3\xF6...";  // "导出..."

// One cell as a spreadsheet reads tab-separated text: a cell holding a tab, CR or LF, or
// starting with a double quote, is put in double quotes with its own quotes doubled; any
// other cell is returned unchanged.
Text TabSeparatedCell(std::string_view cell);

// One row (number, time, event) as a tab-separated line ending in CR LF; the empty text for
// a row that does not exist.
Text TabSeparatedRow(const ReportList& list, int row);

// The header row ("单号", "运输时间", "最新运输信息") and then every row of the list, each a
// tab-separated line ending in CR LF.
Text TabSeparatedRows(const ReportList& list);

// The waybill numbers in pasted text, one per line, in order. Lines end at CR LF or LF; a
// lone CR is part of its number, and spaces are kept, as the import keeps them. Two line ends
// in a row give an empty number; a line end at the very end gives no empty last one; the
// text ends at its first NUL or Ctrl-Z, as a file's text does.
TextArray ListPastedNumbers(std::string_view text);

// Appends one row per line of the clipboard's Unicode text (UTF-16), the number in column 0,
// as an import of that text appends them, and gives how many rows were added. The text is
// converted to code page 936 first: a character that code page 936 cannot hold becomes "?",
// and its row is still added.
int PasteWaybills(std::u16string_view clipboardText, ReportList& list);

}  // namespace korvanel
