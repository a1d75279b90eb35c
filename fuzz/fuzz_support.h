// What every fuzz target shares: a check that stops the run with both sides printed, and a
// way to draw code page 936 looking texts from the fuzzer's bytes.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

namespace fuzz {

// Bytes printed as C escapes, so a finding can be pasted into a regression test.
inline std::string Escaped(std::string_view bytes) {
  std::string out = "\"";
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
      out += "\"\"";  // so a following hex digit is not read as part of the escape
    }
  }
  out += "\"";
  return out;
}

[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "\n*** fuzz check failed at %s:%d: %s\n", file, line, what);
  std::fflush(stderr);
  std::abort();
}

}  // namespace fuzz

// A difference or a broken rule: print what the caller says, then abort so libFuzzer keeps
// the input as a crash.
#define FUZZ_CHECK(cond, ...)                  \
  do {                                         \
    if (!(cond)) {                             \
      std::fprintf(stderr, "\n" __VA_ARGS__);  \
      ::fuzz::Fail(#cond, __FILE__, __LINE__); \
    }                                          \
  } while (0)

namespace fuzz {

// Bytes that make the text routines interesting: lead bytes whose second byte is an ASCII
// letter or a separator, the full-width space, letters of both cases and the separators the
// header and cookie code splits at.
inline constexpr unsigned char kAlphabet[] = {
    'a',  'A',  'b',  'B',  'x',  'X',  ' ',  ':',  ';',  '=',  '-', '\r', '\n', '\t', '"',
    0x81, 0x41, 0x61, 0xA1, 0xA1, 0xB0, 0xFF, 0x80, 0x3B, 0x1A, '&', '<',  '/',  '#',
};

// A text of up to maxLength bytes without a zero byte. With the mode bit set the bytes come
// from the small alphabet above, so searches hit and miss at character edges far more often
// than on uniform bytes.
inline std::string GbkText(FuzzedDataProvider& in, size_t maxLength, bool alphabet) {
  std::string s = in.ConsumeRandomLengthString(maxLength);
  for (char& c : s) {
    unsigned char b = static_cast<unsigned char>(c);
    if (alphabet) b = kAlphabet[b % sizeof kAlphabet];
    if (b == 0) b = ' ';
    c = static_cast<char>(b);
  }
  return s;
}

}  // namespace fuzz
