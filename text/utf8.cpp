#include "text/utf8.h"

#include <cstddef>

#include "text/code_page.h"

namespace korvanel {
namespace {

bool IsHighSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// unitAt(i) for i < count gives the i-th UTF-16 unit.
template <typename UnitAt>
std::string Convert(std::size_t count, UnitAt unitAt) {
  std::string out;
  out.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const char32_t u = unitAt(i);
    if (u == 0) break;
    if (IsHighSurrogate(u) && i + 1 < count && IsLowSurrogate(unitAt(i + 1))) {
      AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (unitAt(i + 1) - 0xDC00));
      ++i;
    } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

}  // namespace

std::string Utf16ToUtf8(std::u16string_view units) {
  return Convert(units.size(), [&](std::size_t i) { return char32_t{units[i]}; });
}

std::string AnsiToUtf8(std::string_view text) { return Utf16ToUtf8(AnsiToUtf16(text)); }

std::string Utf16LeToUtf8(const ByteSet& utf16le) {
  return Convert(utf16le.size() / 2, [&](std::size_t i) {
    return static_cast<char32_t>(utf16le[2 * i] | (utf16le[2 * i + 1] << 8));
  });
}

}  // namespace korvanel
