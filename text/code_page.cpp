// The code page 936 <-> UTF-16 bridge, and the described byte-set routines over it.
#include "text/code_page.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "text/code_page_backend.h"

namespace korvanel {

std::u16string AnsiToUtf16(std::string_view text) {
  text = text.substr(0, std::min(text.find('\0'), text.size()));
  // Code page 936 keeps ASCII as it is, and most texts (addresses, header blocks, patterns,
  // the start of a page) are nothing else: they are widened in one pass, and only a text
  // with a byte above 0x7F goes to the converter.
  std::u16string units(text.size(), u'\0');
  unsigned char seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    seen |= byte;
    units[i] = byte;
  }
  if (seen < 0x80) return units;
  return code_page_backend::ToUtf16(text);
}

Text Utf16ToAnsi(std::u16string_view units) {
  units = units.substr(0, std::min(units.find(u'\0'), units.size()));
  Text text(units.size(), '\0');
  char16_t seen = 0;
  for (std::size_t i = 0; i < units.size(); ++i) {
    seen |= units[i];
    text[i] = static_cast<char>(units[i]);
  }
  if (seen < 0x80) return text;
  return code_page_backend::FromUtf16(units);
}

ByteSet AnsiToUnicode(std::string_view text) {
  const std::u16string units = AnsiToUtf16(text);
  if (units.empty()) return {};
  ByteSet bytes(2 * (units.size() + 1), 0);  // the terminating zero unit, already zero
  for (std::size_t i = 0; i < units.size(); ++i) {
    bytes[2 * i] = static_cast<std::uint8_t>(units[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<std::uint8_t>(units[i] >> 8);
  }
  return bytes;
}

Text UnicodeToAnsi(const ByteSet& bytes) {
  std::u16string units;
  units.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto unit = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    if (unit == 0) break;
    units.push_back(unit);
  }
  return Utf16ToAnsi(units);
}

}  // namespace korvanel
