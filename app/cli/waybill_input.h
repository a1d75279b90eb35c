// Reading the waybill lists named on the command line.
#pragma once

#include <string>
#include <string_view>

#include "text/text.h"

namespace korvanel::cli {

// The text with every LF that does not follow a CR turned into CR LF, so a list written with
// Linux line ends splits like one written on Windows. A lone CR stays part of its line.
Text WithCrLfLineEnds(std::string_view text);

// The numbers listed in the file at path ("-": standard input), read and split as the
// desktop import does (up to a NUL or 0x1A, one number per line), except that a lone LF also
// ends a line. False with *error set to the reason when the file cannot be read.
bool ReadWaybillList(const std::string& path, TextArray* numbers, std::string* error);

}  // namespace korvanel::cli
