#include "endpoint/csv_import.h"

#include "endpoint/gbk.h"

namespace korvanel::endpoint {
namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string_view TrimSpaces(std::string_view text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return {};
  size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

[[noreturn]] void FailAt(size_t line, const std::string& problem) {
  throw ImportError("line " + std::to_string(line) + ": " + problem);
}

// Splits one line into fields. Works on raw bytes, which is sound for GBK as well: a trail
// byte is 0x40 or above, so it is never a comma or a double quote.
std::vector<std::string> SplitFields(std::string_view line, size_t lineNumber) {
  std::vector<std::string> fields;
  size_t i = 0;
  while (true) {
    std::string field;
    if (i < line.size() && line[i] == '"') {
      ++i;
      while (true) {
        if (i >= line.size())
          FailAt(lineNumber, "a quoted field is not closed on this line (an event is one line)");
        if (line[i] == '"') {
          if (i + 1 < line.size() && line[i + 1] == '"') {
            field += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        field += line[i++];
      }
      if (i < line.size() && line[i] != ',')
        FailAt(lineNumber, "text after a closing double quote");
    } else {
      size_t end = line.find(',', i);
      if (end == std::string_view::npos) end = line.size();
      field.assign(line.substr(i, end - i));
      if (field.find('"') != std::string::npos)
        FailAt(lineNumber, "a double quote inside a field that is not quoted");
      i = end;
    }
    fields.push_back(std::move(field));
    if (i >= line.size()) break;
    ++i;  // the comma
  }
  return fields;
}

}  // namespace

std::optional<InputEncoding> ParseEncoding(std::string_view name) {
  std::string lower = Lower(name);
  if (lower == "utf-8" || lower == "utf8") return InputEncoding::kUtf8;
  if (lower == "gbk" || lower == "cp936") return InputEncoding::kGbk;
  return std::nullopt;
}

std::optional<std::string> ToUtf8(std::string_view bytes, InputEncoding encoding) {
  if (encoding == InputEncoding::kGbk) return GbkToUtf8(bytes);
  if (!IsValidUtf8(bytes)) return std::nullopt;
  return std::string(bytes);
}

std::vector<TrackingEvent> ParseEventsCsv(std::string_view data, InputEncoding encoding) {
  if (encoding == InputEncoding::kUtf8 && data.substr(0, 3) == "\xEF\xBB\xBF")
    data.remove_prefix(3);
  std::vector<TrackingEvent> events;
  bool firstContentLine = true;
  size_t lineNumber = 0;
  size_t at = 0;
  while (at < data.size()) {
    size_t end = data.find('\n', at);
    if (end == std::string_view::npos) end = data.size();
    std::string_view line = data.substr(at, end - at);
    at = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (TrimSpaces(line).empty()) continue;
    if (line.find('\0') != std::string_view::npos) FailAt(lineNumber, "a NUL byte");

    std::vector<std::string> fields = SplitFields(line, lineNumber);
    bool header = firstContentLine && fields.size() == 3 &&
                  Lower(TrimSpaces(fields[0])) == "number" &&
                  Lower(TrimSpaces(fields[1])) == "time" && Lower(TrimSpaces(fields[2])) == "text";
    firstContentLine = false;
    if (header) continue;
    if (fields.size() != 3)
      FailAt(lineNumber,
             "expected 3 columns (number, time, text), found " + std::to_string(fields.size()));

    TrackingEvent event;
    std::string* targets[] = {&event.number, &event.time, &event.text};
    for (size_t k = 0; k < 3; ++k) {
      auto utf8 = ToUtf8(fields[k], encoding);
      if (!utf8)
        FailAt(lineNumber, std::string("column ") + std::to_string(k + 1) + " is not valid " +
                               (encoding == InputEncoding::kGbk ? "GBK" : "UTF-8") +
                               " (choose the file's encoding with --encoding)");
      *targets[k] = *std::move(utf8);
    }
    if (std::string problem = CheckEvent(event); !problem.empty()) FailAt(lineNumber, problem);
    events.push_back(std::move(event));
  }
  return events;
}

}  // namespace korvanel::endpoint
