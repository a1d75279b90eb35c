// File names and system errors on Windows. The program keeps file names as UTF-8, which can
// spell any name Windows can hold, and hands them to the wide file API; a failure is told in
// the words the Linux build uses where one matches, so messages read the same everywhere.
#pragma once

#include <string>
#include <string_view>

namespace korvanel {

// Empty when utf8 is empty or not valid UTF-8.
std::wstring WideFromUtf8(std::string_view utf8);
// Unpaired surrogates become U+FFFD.
std::string Utf8FromWide(std::wstring_view wide);
// The reason for a Win32 error code, in one line without a final full stop.
std::string SystemErrorText(unsigned long code);

}  // namespace korvanel
