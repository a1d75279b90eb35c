// Exporting the report list to a file for a spreadsheet program: every row, with the list's
// column titles as the header, as an Excel workbook or as CSV, through the record writers
// that waybill-query uses. Library target app_export (the app library and the records).
#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "app/report_list.h"
#include "text/text.h"

namespace korvanel {

// The message box that tells a failed export, the one message the desktop tool shows: its
// caption, and the words before the file's name and the reason.
inline constexpr std::string_view kExportFailedCaption = "\xB5\xBC\xB3\xF6\xCA\xA7\xB0\xDC";
// "导出失败"
inline constexpr std::string_view kExportFailedText =
    "\xCE\xDE\xB7\xA8\xD0\xB4\xC8\xEB\xCE\xC4\xBC\xFE\xA3\xBA";  // "无法写入文件："

enum class ExportFormat { kNone, kXlsx, kCsv };

// The format a file name asks for by its extension, in any letter case: ".xlsx" an Excel
// workbook, ".csv" CSV; kNone for any other name.
ExportFormat ExportFormatForName(std::string_view path);

// "运单查询结果-YYYYMMDD-HHMM.xlsx" for the given local time.
Text DefaultExportFileName(const std::tm& localTime);

// The default file name in the folder of lastUsedPath: the path up to and including its last
// "\" or "/" (a folder given with a separator at its end is that folder), then the name. Just
// the name when lastUsedPath has no separator. Code page 936 text, walked by characters.
Text DefaultExportPath(std::string_view lastUsedPath, const std::tm& localTime);

struct ExportFailure {
  std::string file;    // the path that could not be written, as given
  std::string reason;  // why, as the system or the workbook library says it (UTF-8)
};

// Writes every row of the list to path, the header "单号", "运输时间", "最新运输信息" first,
// as the name's extension asks: a workbook whose cells are all strings, or CSV in UTF-8 with
// the byte-order mark Excel wants, a cell that could start a formula written with a leading
// apostrophe. path is the file's name as the file system takes it (UTF-8). The file appears
// only once complete, replacing any earlier file of that name; a failure leaves no partial
// file and an earlier file untouched, and gives false with *failure set.
bool ExportReportList(const ReportList& list, const std::string& path, ExportFailure* failure);

}  // namespace korvanel
