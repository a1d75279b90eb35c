// What each platform's code page 936 converter provides to text/code_page.cpp, which
// handles the plain ASCII texts itself and hands everything else on.
#pragma once

#include <string>
#include <string_view>

#include "text/text.h"

namespace korvanel::code_page_backend {

// As AnsiToUtf16, for text without a zero byte.
std::u16string ToUtf16(std::string_view text);
// As Utf16ToAnsi, for units without a zero unit.
Text FromUtf16(std::u16string_view units);

}  // namespace korvanel::code_page_backend
