// Turning the program's code page 936 texts into the UTF-8 that files, terminals and JSON
// readers expect (AnsiToUtf8 of text/utf8.h), and measuring how wide a text shows in a
// terminal column.
#pragma once

#include <string>
#include <string_view>

#include "text/text.h"
#include "text/utf8.h"

namespace korvanel {

// Columns the text fills on a terminal: a double-byte character takes two, an ASCII
// character one. Code page 936 lays its characters out so that the byte count is the width.
int DisplayWidth(std::string_view text);

}  // namespace korvanel
