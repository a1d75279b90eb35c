#include "app/win32/wide_text.h"

#include "text/code_page.h"

namespace korvanel {

// On Windows wchar_t is the UTF-16 code unit the text layer's bridge speaks.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

std::wstring ToWide(std::string_view text) {
  const std::u16string units = AnsiToUtf16(text);
  return std::wstring(units.begin(), units.end());
}

Text FromWide(std::wstring_view units) {
  return Utf16ToAnsi(std::u16string(units.begin(), units.end()));
}

}  // namespace korvanel
