// The one bridge between the program's code page 936 text and the UTF-16 the wide Windows API
// takes, so every caption, cell and path reads right whatever the system's own code page is.
#pragma once

#include <string>
#include <string_view>

#include "text/text.h"

namespace korvanel {

// text (up to its first zero byte) as UTF-16; the empty string for the empty text.
std::wstring ToWide(std::string_view text);
// units (up to the first zero unit) as code page 936 text; a character with no GBK form
// becomes "?".
Text FromWide(std::wstring_view units);

}  // namespace korvanel
