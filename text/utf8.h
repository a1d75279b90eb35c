// UTF-16 to UTF-8, for what the platform wants in UTF-8: Linux file names, libcurl's
// strings, and the files and terminals the command-line tool writes.
#pragma once

#include <string>
#include <string_view>

#include "text/text.h"

namespace korvanel {

// The units up to the first zero unit as UTF-8. A surrogate without its partner becomes
// U+FFFD, so the result is always valid UTF-8.
std::string Utf16ToUtf8(std::u16string_view units);
// Code page 936 text as UTF-8, through AnsiToUtf16.
std::string AnsiToUtf8(std::string_view text);
// Utf16ToUtf8 over UTF-16LE bytes, as AnsiToUnicode gives them; an odd last byte is ignored.
std::string Utf16LeToUtf8(const ByteSet& utf16le);

}  // namespace korvanel
