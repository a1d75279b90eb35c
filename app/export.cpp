#include "app/export.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "app/records/atomic_output.h"
#include "app/records/record_writer.h"

namespace korvanel {

namespace {

// "运单查询结果"
constexpr std::string_view kExportNameStart = "\xD4\xCB\xB5\xA5\xB2\xE9\xD1\xAF\xBD\xE1\xB9\xFB";
// "文件名须以 .xlsx 或 .csv 结尾" (UTF-8, as the other reasons are)
constexpr std::string_view kUnknownExtension =
    "\xE6\x96\x87\xE4\xBB\xB6\xE5\x90\x8D\xE9\xA1\xBB\xE4\xBB\xA5 .xlsx \xE6\x88\x96 .csv "
    "\xE7\xBB\x93\xE5\xB0\xBE";

bool EndsWithIgnoringCase(std::string_view text, std::string_view ending) {
  if (text.size() < ending.size()) return false;
  return CompareText(text.substr(text.size() - ending.size()), ending, false) == 0;
}

bool Fail(ExportFailure* failure, const std::string& path, std::string reason) {
  if (failure) *failure = {path, std::move(reason)};
  return false;
}

}  // namespace

ExportFormat ExportFormatForName(std::string_view path) {
  if (EndsWithIgnoringCase(path, ".xlsx")) return ExportFormat::kXlsx;
  if (EndsWithIgnoringCase(path, ".csv")) return ExportFormat::kCsv;
  return ExportFormat::kNone;
}

Text DefaultExportFileName(const std::tm& localTime) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "-%04d%02d%02d-%02d%02d.xlsx", localTime.tm_year + 1900,
                localTime.tm_mon + 1, localTime.tm_mday, localTime.tm_hour, localTime.tm_min);
  return ConcatText({kExportNameStart, stamp});
}

Text DefaultExportPath(std::string_view lastUsedPath, const std::tm& localTime) {
  // A backslash can be the second byte of a code page 936 character, so the search goes
  // character by character.
  const int slash = std::max(FindTextReverse(lastUsedPath, "\\"), FindTextReverse(lastUsedPath, "/"));
  const Text name = DefaultExportFileName(localTime);
  if (slash < 1) return name;
  return ConcatText({TextLeft(lastUsedPath, slash), name});
}

bool ExportReportList(const ReportList& list, const std::string& path, ExportFailure* failure) {
  const ExportFormat format = ExportFormatForName(path);
  if (format == ExportFormat::kNone) return Fail(failure, path, std::string(kUnknownExtension));

  std::string reason;
  const std::unique_ptr<AtomicOutputFile> file = AtomicOutputFile::Create(path, &reason);
  if (!file) return Fail(failure, path, reason);

  std::string bytes;
  std::unique_ptr<RecordWriter> writer;
  if (format == ExportFormat::kXlsx) {
    // The workbook library writes the file by its name.
    file->CloseDescriptor();
    writer = MakeXlsxWriter(file->writePath());
  } else {
    writer = MakeTextWriter(OutputFormat::kCsv, OutputEncoding::kUtf8, true, &bytes, true);
  }
  writer->Begin();
  for (int row = 0; row < list.RowCount(); ++row) {
    Record record;
    record.number = list.GetCellText(row, kNumberColumn);
    record.time = list.GetCellText(row, kTimeColumn);
    record.event = list.GetCellText(row, kEventColumn);
    writer->Add(record);
  }
  if (!writer->End(&reason)) return Fail(failure, path, reason);
  if (!bytes.empty() && !file->Write(bytes, &reason)) return Fail(failure, path, reason);
  if (!file->Commit(&reason)) return Fail(failure, path, reason);
  return true;
}

}  // namespace korvanel
