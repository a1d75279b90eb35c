// Reading events from a CSV file for the import command.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "endpoint/event_store.h"

namespace korvanel::endpoint {

enum class InputEncoding { kUtf8, kGbk };

// "utf-8"/"utf8" or "gbk"/"cp936", any case; nullopt for anything else.
std::optional<InputEncoding> ParseEncoding(std::string_view name);

// The bytes as UTF-8; nullopt when they are not valid in the encoding.
std::optional<std::string> ToUtf8(std::string_view bytes, InputEncoding encoding);

class ImportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The events of a CSV file with the columns number, time, text, one event per line (LF or
// CR LF). Fields are taken exactly, spaces included; a field holding a comma or a double
// quote is written in double quotes with the quote doubled. A first line "number,time,text"
// is a header and skipped, as are blank lines, and a UTF-8 byte-order mark. Every event is
// checked as CheckEvent does; the first bad line throws ImportError "line N: ...".
std::vector<TrackingEvent> ParseEventsCsv(std::string_view data, InputEncoding encoding);

}  // namespace korvanel::endpoint
