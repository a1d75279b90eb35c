#include "app/records/record_writer.h"

#include <algorithm>
#include <array>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/records/record_text.h"

namespace korvanel {
namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
constexpr int kLongestRule = 40;

std::array<std::string_view, 3> Cells(const Record& record) {
  return {record.number, record.time, record.event};
}

class CsvWriter : public RecordWriter {
 public:
  CsvWriter(OutputEncoding encoding, std::string* out, bool forSpreadsheet)
      : m_encoding(encoding), m_out(out), m_forSpreadsheet(forSpreadsheet) {}
  void Begin() override { Line({kNumberTitle, kTimeTitle, kEventTitle}); }
  void Add(const Record& record) override { Line(Cells(record)); }

 private:
  void Line(const std::array<std::string_view, 3>& cells) {
    for (std::size_t i = 0; i < cells.size(); ++i) {
      if (i > 0) *m_out += ',';
      // Event texts come from a server: in a spreadsheet none of them may become a formula.
      const std::string cell = Encode(cells[i], m_encoding);
      *m_out += CsvField(m_forSpreadsheet ? SpreadsheetCell(cell) : cell);
    }
    *m_out += "\r\n";
  }
  OutputEncoding m_encoding;
  std::string* m_out;
  bool m_forSpreadsheet;
};

class TsvWriter : public RecordWriter {
 public:
  TsvWriter(OutputEncoding encoding, std::string* out) : m_encoding(encoding), m_out(out) {}
  void Begin() override { Line({kNumberTitle, kTimeTitle, kEventTitle}); }
  void Add(const Record& record) override { Line(Cells(record)); }

 private:
  void Line(const std::array<std::string_view, 3>& cells) {
    for (std::size_t i = 0; i < cells.size(); ++i) {
      if (i > 0) *m_out += '\t';
      *m_out += TsvField(Encode(cells[i], m_encoding));
    }
    *m_out += '\n';
  }
  OutputEncoding m_encoding;
  std::string* m_out;
};

class JsonLinesWriter : public RecordWriter {
 public:
  explicit JsonLinesWriter(std::string* out) : m_out(out) {}
  void Add(const Record& record) override {
    // ordered_json keeps the fields in the order a reader scans them.
    nlohmann::ordered_json line;
    line["number"] = AnsiToUtf8(record.number);
    line["time"] = AnsiToUtf8(record.time);
    line["event"] = AnsiToUtf8(record.event);
    line["ok"] = record.ok;
    if (!record.error.empty() || record.status.empty()) {
      line["error"] = AnsiToUtf8(record.error);
    } else {
      line["status"] = AnsiToUtf8(record.status);
    }
    *m_out += line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    *m_out += '\n';
  }

 private:
  std::string* m_out;
};

// Aligned columns for a person at a terminal; it needs every row before it can print one.
class TableWriter : public RecordWriter {
 public:
  TableWriter(OutputEncoding encoding, std::string* out) : m_encoding(encoding), m_out(out) {}
  void Add(const Record& record) override {
    m_rows.push_back({Printable(record.number), Printable(record.time), Printable(record.event)});
  }
  bool End(std::string*) override {
    std::array<int, 3> widths = {DisplayWidth(kNumberTitle), DisplayWidth(kTimeTitle),
                                 DisplayWidth(kEventTitle)};
    for (const auto& row : m_rows) {
      for (std::size_t i = 0; i < row.size(); ++i) {
        widths[i] = std::max(widths[i], DisplayWidth(row[i]));
      }
    }
    Line({Text(kNumberTitle), Text(kTimeTitle), Text(kEventTitle)}, widths);
    // The last column is not padded, so its rule need not run the width of its longest
    // cell, which would wrap on a narrow terminal.
    const int lastRule = std::min(widths[2], std::max(DisplayWidth(kEventTitle), kLongestRule));
    Line({Text(widths[0], '-'), Text(widths[1], '-'), Text(lastRule, '-')}, widths);
    for (const auto& row : m_rows) Line(row, widths);
    m_rows.clear();
    return true;
  }

 private:
  // Tabs and line breaks inside a cell would break the columns apart.
  static Text Printable(std::string_view cell) {
    Text text(cell);
    for (char& c : text) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    }
    return text;
  }
  void Line(const std::array<Text, 3>& cells, const std::array<int, 3>& widths) {
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i) {
      if (i > 0) line += "  ";
      line += Encode(cells[i], m_encoding);
      line.append(static_cast<std::size_t>(widths[i] - DisplayWidth(cells[i])), ' ');
    }
    line.erase(line.find_last_not_of(' ') + 1);
    *m_out += line;
    *m_out += '\n';
  }
  OutputEncoding m_encoding;
  std::string* m_out;
  std::vector<std::array<Text, 3>> m_rows;
};

// Puts the byte-order mark in front of whatever the inner writer writes first.
class ByteOrderMarkWriter : public RecordWriter {
 public:
  ByteOrderMarkWriter(std::unique_ptr<RecordWriter> inner, std::string* out)
      : m_inner(std::move(inner)), m_out(out) {}
  void Begin() override {
    *m_out += kUtf8ByteOrderMark;
    m_inner->Begin();
  }
  void Add(const Record& record) override { m_inner->Add(record); }
  bool End(std::string* error) override { return m_inner->End(error); }

 private:
  std::unique_ptr<RecordWriter> m_inner;
  std::string* m_out;
};

}  // namespace

std::string Encode(std::string_view text, OutputEncoding encoding) {
  return encoding == OutputEncoding::kGbk ? std::string(text) : AnsiToUtf8(text);
}

std::string CsvField(std::string_view field) {
  if (field.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(field);
  std::string quoted = "\"";
  for (char c : field) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

std::string SpreadsheetCell(std::string_view cell) {
  if (cell.empty() || std::string_view("=+-@\t\r").find(cell.front()) == std::string_view::npos) {
    return std::string(cell);
  }
  return "'" + std::string(cell);
}

std::string TsvField(std::string_view field) {
  std::string escaped;
  escaped.reserve(field.size());
  for (char c : field) {
    switch (c) {
      case '\\':
        escaped += "\\\\";
        break;
      case '\t':
        escaped += "\\t";
        break;
      case '\r':
        escaped += "\\r";
        break;
      case '\n':
        escaped += "\\n";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

std::unique_ptr<RecordWriter> MakeTextWriter(OutputFormat format, OutputEncoding encoding,
                                             bool byteOrderMark, std::string* out,
                                             bool forSpreadsheet) {
  std::unique_ptr<RecordWriter> writer;
  switch (format) {
    case OutputFormat::kCsv:
      writer = std::make_unique<CsvWriter>(encoding, out, forSpreadsheet);
      break;
    case OutputFormat::kTsv:
      writer = std::make_unique<TsvWriter>(encoding, out);
      break;
    case OutputFormat::kJsonl:
      writer = std::make_unique<JsonLinesWriter>(out);
      break;
    case OutputFormat::kTable:
      writer = std::make_unique<TableWriter>(encoding, out);
      break;
    case OutputFormat::kXlsx:
      return nullptr;
  }
  if (byteOrderMark && encoding == OutputEncoding::kUtf8) {
    writer = std::make_unique<ByteOrderMarkWriter>(std::move(writer), out);
  }
  return writer;
}

}  // namespace korvanel
