// Charset decoding on Windows: MultiByteToWideChar with the code page that the declared name
// stands for in the shared table, then code page 936 through Utf16ToAnsi.
#include "web/charset_decode.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>
#include <utility>

#include "text/code_page.h"
#include "web/charset_names.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace korvanel {
namespace {

constexpr int kUtf16Le = 1200;
constexpr int kUtf16Be = 1201;
constexpr int kUtf32Le = 12000;
constexpr int kUtf32Be = 12001;
constexpr int kGb18030 = 54936;
constexpr int kHebrewLogical = 38598;
constexpr int kHebrewVisual = 28598;

void AppendUnit(std::u16string& wide, std::uint32_t unit) {
  wide.push_back(static_cast<char16_t>(unit));
}

// UTF-16 and UTF-32 are not code pages MultiByteToWideChar takes: their units are taken as
// they are, swapped when big-endian; a trailing partial unit is dropped.
std::u16string WideFromUtf16(const ByteSet& body, bool bigEndian) {
  std::u16string wide;
  wide.reserve(body.size() / 2);
  for (std::size_t i = 0; i + 1 < body.size(); i += 2) {
    const unsigned low = body[bigEndian ? i + 1 : i];
    const unsigned high = body[bigEndian ? i : i + 1];
    wide.push_back(static_cast<char16_t>(low | high << 8));
  }
  return wide;
}

std::u16string WideFromUtf32(const ByteSet& body, bool bigEndian) {
  std::u16string wide;
  wide.reserve(body.size() / 4);
  for (std::size_t i = 0; i + 3 < body.size(); i += 4) {
    std::uint32_t c = 0;
    for (int k = 0; k < 4; ++k) {
      const std::uint32_t b = body[i + static_cast<std::size_t>(bigEndian ? k : 3 - k)];
      c = (c << 8) | b;
    }
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;  // no character: "?" later
    if (c >= 0x10000) {
      c -= 0x10000;
      AppendUnit(wide, 0xD800 + (c >> 10));
      AppendUnit(wide, 0xDC00 + (c & 0x3FF));
    } else {
      AppendUnit(wide, c);
    }
  }
  return wide;
}

// GB18030 where the system lacks its code page (Wine does): its one- and two-byte
// characters are GBK's own bytes, and a four-byte one has no GBK form, so it becomes "?".
// The text ends at a zero byte, as a converted text ends at a zero unit.
Text GbkFromGb18030(const ByteSet& body) {
  Text text;
  text.reserve(body.size());
  std::size_t i = 0;
  while (i < body.size()) {
    const std::uint8_t lead = body[i];
    if (lead == 0) break;
    if (lead < 0x80) {
      text.push_back(static_cast<char>(lead));
      ++i;
      continue;
    }
    const bool hasNext = i + 1 < body.size() && lead <= 0xFE && lead != 0x80;
    const std::uint8_t next = hasNext ? body[i + 1] : 0;
    if (hasNext && next >= 0x30 && next <= 0x39) {
      text.push_back('?');
      i += std::min<std::size_t>(4, body.size() - i);
    } else if (hasNext && ((next >= 0x40 && next <= 0x7E) || (next >= 0x80 && next <= 0xFE))) {
      text.push_back(static_cast<char>(lead));
      text.push_back(static_cast<char>(next));
      i += 2;
    } else {
      text.push_back('?');
      ++i;
    }
  }
  return text;
}

}  // namespace

std::optional<Text> DecodeCharset(const ByteSet& body, std::string_view charsetName) {
  const CharsetName* charset = FindCharsetName(charsetName);
  if (charset == nullptr) return std::nullopt;
  int codePage = charset->codePage;
  if (body.size() > INT_MAX / 2) return std::nullopt;

  std::u16string wide;
  if (codePage == kUtf16Le || codePage == kUtf16Be) {
    wide = WideFromUtf16(body, codePage == kUtf16Be);
  } else if (codePage == kUtf32Le || codePage == kUtf32Be) {
    wide = WideFromUtf32(body, codePage == kUtf32Be);
  } else {
    if (!IsValidCodePage(static_cast<UINT>(codePage))) {
      if (codePage == kGb18030) return GbkFromGb18030(body);
      // Hebrew in logical order has the letters of the visual-order code page.
      if (codePage != kHebrewLogical || !IsValidCodePage(kHebrewVisual)) return std::nullopt;
      codePage = kHebrewVisual;
    }
    if (body.empty()) return Text();
    const auto* bytes = reinterpret_cast<const char*>(body.data());
    const int length = static_cast<int>(body.size());
    const int units = MultiByteToWideChar(static_cast<UINT>(codePage), 0, bytes, length, nullptr, 0);
    if (units < 1) return std::nullopt;
    wide.assign(static_cast<std::size_t>(units), u'\0');
    if (MultiByteToWideChar(static_cast<UINT>(codePage), 0, bytes, length,
                            reinterpret_cast<LPWSTR>(wide.data()), units) < 1)
      return std::nullopt;
  }
  return Utf16ToAnsi(wide);
}

}  // namespace korvanel
