// The result formats: one record per list row, in list order. waybill-query writes them and
// the desktop tools export them, so both give the same bytes for the same rows.
//
// Records hold the program's own code page 936 texts; a writer turns them into the bytes of
// the chosen format and encoding. The text writers append to a caller's buffer, which the
// caller flushes after each record so that a pipe sees rows as they finish; the table waits
// for every row to know its column widths; the workbook is written to a file by path.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "text/text.h"

namespace korvanel {

// The report list's column titles, as the desktop tool shows them; the header row of
// every format that has one.
inline constexpr std::string_view kNumberTitle = "\xB5\xA5\xBA\xC5";                // "单号"
inline constexpr std::string_view kTimeTitle = "\xD4\xCB\xCA\xE4\xCA\xB1\xBC\xE4";  // "运输时间"
inline constexpr std::string_view kEventTitle =
    "\xD7\xEE\xD0\xC2\xD4\xCB\xCA\xE4\xD0\xC5\xCF\xA2";  // "最新运输信息"

enum class OutputFormat { kTable, kCsv, kTsv, kJsonl, kXlsx };
enum class OutputEncoding { kUtf8, kGbk };

struct Record {
  Text number;
  Text time;        // "运输时间": date, two spaces, time; empty when the page holds no event
  Text event;       // "最新运输信息"
  bool ok = false;  // a page came with a 2xx status; its cells are the scraped ones
  Text error;       // the request's failure message ("711 ..."), empty when a response came
  Text status;      // the HTTP status text ("200 OK"), empty when no response came
};

class RecordWriter {
 public:
  virtual ~RecordWriter() = default;
  virtual void Begin() {}
  virtual void Add(const Record& record) = 0;
  // Completes the output; false with *error set when it could not be written.
  virtual bool End(std::string* error) {
    (void)error;
    return true;
  }
};

// csv, tsv, jsonl and table, appending to *out. The UTF-8 byte-order mark, when asked for,
// comes first. jsonl is always UTF-8 (its readers expect nothing else). forSpreadsheet: csv
// meant to be opened by a spreadsheet program, whose cells must not run as formulas
// (SpreadsheetCell); the other formats ignore it.
std::unique_ptr<RecordWriter> MakeTextWriter(OutputFormat format, OutputEncoding encoding,
                                             bool byteOrderMark, std::string* out,
                                             bool forSpreadsheet = false);

// An Excel workbook with one sheet, written to path when End() is called.
std::unique_ptr<RecordWriter> MakeXlsxWriter(std::string path);

// The texts of a record's cells in the chosen encoding.
std::string Encode(std::string_view text, OutputEncoding encoding);

// One field as RFC 4180 writes it: quoted when it holds a comma, a quote, CR or LF.
std::string CsvField(std::string_view field);
// A cell as a spreadsheet program must take it: one that begins with "=", "+", "-", "@", a tab
// or a CR could be run as a formula, so it gets a leading apostrophe and is shown as text;
// any other cell is returned unchanged.
std::string SpreadsheetCell(std::string_view cell);
// One field of tab-separated values: backslash, tab, CR and LF escaped as \\ \t \r \n.
std::string TsvField(std::string_view field);

}  // namespace korvanel
