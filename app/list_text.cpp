#include "app/list_text.h"

#include "app/import.h"
#include "text/code_page.h"

namespace korvanel {

namespace {

// The column titles, as the list shows them and the export writes them.
constexpr std::string_view kNumberTitle = "\xB5\xA5\xBA\xC5";                // "单号"
constexpr std::string_view kTimeTitle = "\xD4\xCB\xCA\xE4\xCA\xB1\xBC\xE4";  // "运输时间"
constexpr std::string_view kEventTitle =
    "\xD7\xEE\xD0\xC2\xD4\xCB\xCA\xE4\xD0\xC5\xCF\xA2";  // "最新运输信息"

constexpr std::string_view kLineEnd = "\r\n";

Text TabSeparatedLine(std::string_view number, std::string_view time, std::string_view event) {
  return ConcatText({TabSeparatedCell(number), "\t", TabSeparatedCell(time), "\t",
                     TabSeparatedCell(event), kLineEnd});
}

}  // namespace

Text TabSeparatedCell(std::string_view cell) {
  // Tab, CR, LF and the double quote are single bytes that no code page 936 character
  // holds as its second byte, so a byte search finds only the characters themselves.
  const bool quoted = cell.find_first_of("\t\r\n") != std::string_view::npos ||
                      (!cell.empty() && cell.front() == '"');
  if (!quoted) return Text(cell);
  Text text = "\"";
  for (char c : cell) {
    if (c == '"') text += '"';
    text += c;
  }
  text += '"';
  return text;
}

Text TabSeparatedRow(const ReportList& list, int row) {
  if (row < 0 || row >= list.RowCount()) return {};
  return TabSeparatedLine(list.GetCellText(row, kNumberColumn),
                          list.GetCellText(row, kTimeColumn),
                          list.GetCellText(row, kEventColumn));
}

Text TabSeparatedRows(const ReportList& list) {
  Text text = TabSeparatedLine(kNumberTitle, kTimeTitle, kEventTitle);
  for (int row = 0; row < list.RowCount(); ++row) text += TabSeparatedRow(list, row);
  return text;
}

TextArray ListPastedNumbers(std::string_view text) {
  // NUL and Ctrl-Z are single bytes that never follow a lead byte in code page 936.
  text = text.substr(0, text.find_first_of(std::string_view("\0\x1A", 2)));
  TextArray numbers;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t feed = text.find('\n', start);
    if (feed == std::string_view::npos) {
      AppendElement(numbers, text.substr(start));
      break;
    }
    std::size_t end = feed;
    if (end > start && text[end - 1] == '\r') --end;
    AppendElement(numbers, text.substr(start, end - start));
    start = feed + 1;
  }
  return numbers;
}

int PasteWaybills(std::u16string_view clipboardText, ReportList& list) {
  ByteSet units;
  units.reserve((clipboardText.size() + 1) * 2);
  for (char16_t unit : clipboardText) {
    units.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    units.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  units.push_back(0);
  units.push_back(0);
  const TextArray numbers = ListPastedNumbers(UnicodeToAnsi(units));
  AppendWaybills(numbers, list);
  return ElementCount(numbers);
}

}  // namespace korvanel
