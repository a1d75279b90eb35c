// The workbook format, through libxlsxwriter.
#include "app/records/record_writer.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "app/records/record_text.h"

namespace korvanel {
namespace {

constexpr const char* kSheetName =
    "\xE6\x9F\xA5\xE8\xAF\xA2\xE7\xBB\x93\xE6\x9E\x9C";  // "查询结果" (UTF-8)
// Excel holds at most this many characters in a cell and refuses a longer string.
constexpr std::size_t kMaxCellCharacters = 32767;
// Column widths in Excel's character units: room for the widest cell, within reason.
constexpr double kMinColumnWidth = 8;
constexpr double kMaxColumnWidth = 80;

std::string FitCell(std::string utf8) {
  std::size_t characters = 0;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    if ((static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) continue;
    if (++characters > kMaxCellCharacters) {
      utf8.resize(i);
      break;
    }
  }
  return utf8;
}

struct WorkbookCloser {
  void operator()(lxw_workbook* workbook) const {
    if (workbook) workbook_close(workbook);
  }
};

class XlsxWriter : public RecordWriter {
 public:
  explicit XlsxWriter(std::string path) : m_path(std::move(path)) {}

  void Begin() override {
    m_workbook.reset(workbook_new(m_path.c_str()));
    if (!m_workbook) return;
    m_sheet = workbook_add_worksheet(m_workbook.get(), kSheetName);
    m_bold = workbook_add_format(m_workbook.get());
    format_set_bold(m_bold);
    Row({kNumberTitle, kTimeTitle, kEventTitle}, m_bold);
    worksheet_freeze_panes(m_sheet, 1, 0);
  }

  void Add(const Record& record) override { Row({record.number, record.time, record.event}); }

  bool End(std::string* error) override {
    if (!m_workbook || !m_sheet) {
      if (error) *error = "cannot create the workbook";
      return false;
    }
    for (lxw_col_t col = 0; col < m_widths.size(); ++col) {
      const double width =
          std::clamp(static_cast<double>(m_widths[col]) + 2, kMinColumnWidth, kMaxColumnWidth);
      worksheet_set_column(m_sheet, col, col, width, nullptr);
    }
    const lxw_error closed = workbook_close(m_workbook.release());
    if (closed != LXW_NO_ERROR) {
      if (error) *error = lxw_strerror(closed);
      return false;
    }
    if (m_failedWrites > 0) {
      if (error) *error = "the workbook refused some cells";
      return false;
    }
    return true;
  }

 private:
  void Row(const std::array<std::string_view, 3>& cells, lxw_format* format = nullptr) {
    if (!m_sheet) return;
    for (std::size_t col = 0; col < cells.size(); ++col) {
      m_widths[col] = std::max(m_widths[col], DisplayWidth(cells[col]));
      const std::string utf8 = FitCell(AnsiToUtf8(cells[col]));
      if (worksheet_write_string(m_sheet, m_row, static_cast<lxw_col_t>(col), utf8.c_str(),
                                 format) != LXW_NO_ERROR) {
        ++m_failedWrites;
      }
    }
    ++m_row;
  }

  std::string m_path;
  std::unique_ptr<lxw_workbook, WorkbookCloser> m_workbook;
  lxw_worksheet* m_sheet = nullptr;
  lxw_format* m_bold = nullptr;
  lxw_row_t m_row = 0;
  std::array<int, 3> m_widths = {0, 0, 0};
  int m_failedWrites = 0;
};

}  // namespace

std::unique_ptr<RecordWriter> MakeXlsxWriter(std::string path) {
  return std::make_unique<XlsxWriter>(std::move(path));
}

}  // namespace korvanel
