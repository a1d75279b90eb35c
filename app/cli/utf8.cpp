#include "app/cli/utf8.h"

#include <cstdint>

#include "text/code_page.h"

namespace korvanel::cli {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

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

bool IsHighSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

std::string Utf16LeToUtf8(const ByteSet& utf16) {
  std::string out;
  const std::size_t units = utf16.size() / 2;
  auto unitAt = [&](std::size_t i) -> char32_t {
    return static_cast<char32_t>(utf16[2 * i] | (utf16[2 * i + 1] << 8));
  };
  for (std::size_t i = 0; i < units; ++i) {
    const char32_t u = unitAt(i);
    if (u == 0) break;
    if (IsHighSurrogate(u) && i + 1 < units && IsLowSurrogate(unitAt(i + 1))) {
      AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (unitAt(i + 1) - 0xDC00));
      ++i;
    } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

std::string GbkToUtf8(std::string_view text) { return Utf16LeToUtf8(AnsiToUnicode(text)); }

int DisplayWidth(std::string_view text) { return static_cast<int>(text.size()); }

}  // namespace korvanel::cli
