#include "web/charset_decode.h"

#include <iconv.h>

#include <bit>
#include <cerrno>
#include <string>

#include "text/code_page.h"
#include "text/iconv_descriptor.h"
#include "web/charset_names.h"

namespace korvanel {

namespace {

constexpr int kCodePageGbk = 936;

// How many bytes to step over when a sequence is invalid: a whole code unit for the
// fixed-width forms, so the rest of the text stays aligned; one byte otherwise.
std::size_t InvalidStep(std::string_view iconvName) {
  if (iconvName.starts_with("UTF-16")) return 2;
  if (iconvName.starts_with("UTF-32")) return 4;
  return 1;
}

}  // namespace

std::optional<Text> DecodeCharset(const ByteSet& body, std::string_view charsetName) {
  const CharsetName* entry = FindCharsetName(charsetName);
  if (entry == nullptr) return std::nullopt;
  // The program's own code page: its own conversion reads it exactly as the rest of the
  // program does (glibc's table lacks the byte 0xFF that Windows maps). The text ends at
  // the first zero byte, as it would at the first zero unit.
  if (entry->codePage == kCodePageGbk) return Utf16ToAnsi(AnsiToUtf16(BytesToText(body)));
  IconvDescriptor converter("UTF-16LE", entry->iconvName);
  iconv_t cd = converter.Ready();
  if (cd == nullptr) return std::nullopt;

  std::u16string units;
  units.reserve(body.size());
  // iconv writes whole UTF-16LE units, which are native units here.
  static_assert(std::endian::native == std::endian::little);
  alignas(char16_t) char buffer[4096];
  // iconv takes a non-const input pointer but never writes through it.
  char* in = const_cast<char*>(reinterpret_cast<const char*>(body.data()));
  std::size_t inLeft = body.size();
  const std::size_t step = InvalidStep(entry->iconvName);
  bool flushed = false;
  while (!flushed) {
    char* out = buffer;
    std::size_t outLeft = sizeof buffer;
    std::size_t rc;
    if (inLeft > 0) {
      rc = iconv(cd, &in, &inLeft, &out, &outLeft);
    } else {
      // The end of a stateful text (UTF-7, ISO-2022) may still owe a character.
      rc = iconv(cd, nullptr, nullptr, &out, &outLeft);
      flushed = rc != static_cast<std::size_t>(-1) || errno != E2BIG;
    }
    const int error = rc == static_cast<std::size_t>(-1) ? errno : 0;
    units.append(reinterpret_cast<const char16_t*>(buffer),
                 static_cast<std::size_t>(out - buffer) / 2);
    if (error == EILSEQ) {
      // A byte sequence that the declared character set does not allow: the reader sees a
      // "?" there and the rest of the page still comes through.
      units.push_back(u'?');
      const std::size_t skip = step < inLeft ? step : inLeft;
      in += skip;
      inLeft -= skip;
    } else if (error != 0 && error != E2BIG) {
      // EINVAL: the body ends inside a character.
      units.push_back(u'?');
      inLeft = 0;
    }
  }

  // A byte-order mark says how the text is stored; it is not part of the page.
  std::u16string_view text = units;
  if (!text.empty() && text.front() == u'\uFEFF') text.remove_prefix(1);
  return Utf16ToAnsi(text);
}

}  // namespace korvanel
