#include "web/charset_decode.h"

#include <iconv.h>

#include <cerrno>

#include "text/code_page.h"
#include "web/charset_names.h"

namespace korvanel {

namespace {

constexpr int kCodePageGbk = 936;

class IconvHandle {
 public:
  IconvHandle(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
  ~IconvHandle() {
    if (valid()) iconv_close(m_cd);
  }
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;

  bool valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return m_cd; }

 private:
  iconv_t m_cd;
};

// How many bytes to step over when a sequence is invalid: a whole code unit for the
// fixed-width forms, so the rest of the text stays aligned; one byte otherwise.
std::size_t InvalidStep(std::string_view iconvName) {
  if (iconvName.starts_with("UTF-16")) return 2;
  if (iconvName.starts_with("UTF-32")) return 4;
  return 1;
}

void AppendQuestionMark(ByteSet& out) {
  out.push_back('?');
  out.push_back(0);
}

}  // namespace

std::optional<Text> DecodeCharset(const ByteSet& body, std::string_view charsetName) {
  const CharsetName* entry = FindCharsetName(charsetName);
  if (entry == nullptr) return std::nullopt;
  // The program's own code page: its own conversion reads it exactly as the rest of the
  // program does (glibc's table lacks the byte 0xFF that Windows maps). The text ends at
  // the first zero byte, as it would at the first zero unit.
  if (entry->codePage == kCodePageGbk) return UnicodeToAnsi(AnsiToUnicode(BytesToText(body)));
  IconvHandle converter("UTF-16LE", entry->iconvName);
  if (!converter.valid()) return std::nullopt;

  ByteSet units;  // UTF-16LE
  units.reserve(body.size() * 2 + 2);
  char buffer[4096];
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
      rc = iconv(converter.get(), &in, &inLeft, &out, &outLeft);
    } else {
      // The end of a stateful text (UTF-7, ISO-2022) may still owe a character.
      rc = iconv(converter.get(), nullptr, nullptr, &out, &outLeft);
      flushed = rc != static_cast<std::size_t>(-1) || errno != E2BIG;
    }
    const int error = rc == static_cast<std::size_t>(-1) ? errno : 0;
    units.insert(units.end(), buffer, out);
    if (error == EILSEQ) {
      // A byte sequence that the declared character set does not allow: the reader sees a
      // "?" there and the rest of the page still comes through.
      AppendQuestionMark(units);
      const std::size_t skip = step < inLeft ? step : inLeft;
      in += skip;
      inLeft -= skip;
    } else if (error != 0 && error != E2BIG) {
      // EINVAL: the body ends inside a character.
      AppendQuestionMark(units);
      inLeft = 0;
    }
  }

  // A byte-order mark says how the text is stored; it is not part of the page.
  if (units.size() >= 2 && units[0] == 0xFF && units[1] == 0xFE) {
    units.erase(units.begin(), units.begin() + 2);
  }
  units.push_back(0);
  units.push_back(0);
  return UnicodeToAnsi(units);
}

}  // namespace korvanel
