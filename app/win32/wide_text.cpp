#include "app/win32/wide_text.h"

#include <cstring>

#include "text/code_page.h"

namespace korvanel {

std::wstring ToWide(std::string_view text) {
  const ByteSet bytes = AnsiToUnicode(text);
  // The byte set holds the units and their terminating zero.
  std::wstring units(bytes.size() / 2, L'\0');
  if (!units.empty()) std::memcpy(units.data(), bytes.data(), 2 * units.size());
  if (!units.empty() && units.back() == L'\0') units.pop_back();
  return units;
}

Text FromWide(std::wstring_view units) {
  units = units.substr(0, units.find(L'\0'));
  ByteSet bytes = BlankBytes(static_cast<int>(2 * units.size()));
  if (!units.empty()) std::memcpy(bytes.data(), units.data(), bytes.size());
  return UnicodeToAnsi(bytes);
}

}  // namespace korvanel
