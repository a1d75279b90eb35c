// Code page 936 <-> UTF-16 through kernel32, naming code page 936 on every call so the
// result never depends on the machine's ANSI code page.
#include "text/code_page_backend.h"

#include <algorithm>
#include <climits>
#include <string>
#include <utility>

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace korvanel {
namespace {

constexpr UINT kCodePageGbk = 936;
// Units with no GBK form become "?", not a look-alike that would change the text's meaning.
constexpr DWORD kToGbkFlags = WC_COMPOSITECHECK | WC_NO_BEST_FIT_CHARS;

bool IsLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }
bool IsTrailByte(unsigned char byte) {
  return (byte >= 0x40 && byte <= 0x7E) || (byte >= 0x80 && byte <= 0xFE);
}

// Converts a run of well-formed characters and appends its units.
void AppendRun(std::string_view run, std::u16string& units) {
  const int length = static_cast<int>(run.size());
  const int count = MultiByteToWideChar(kCodePageGbk, 0, run.data(), length, nullptr, 0);
  if (count < 1) return;
  std::wstring wide(static_cast<std::size_t>(count), L'\0');
  if (MultiByteToWideChar(kCodePageGbk, 0, run.data(), length, wide.data(), count) != count)
    return;
  for (wchar_t unit : wide) units.push_back(static_cast<char16_t>(unit));
}

bool IsCombiningMark(wchar_t unit) { return unit >= 0x0300 && unit <= 0x036F; }

// A base character followed by combining marks is composed as far as Unicode allows, so
// that "u" with a diaeresis and a macron still finds GBK's one character for the three.
// WC_COMPOSITECHECK alone composes one mark at most under Wine. Only such sequences are
// touched: composing the whole text would also swap GBK's compatibility ideographs for
// their unified twins.
void ComposeMarks(std::wstring& wide) {
  std::wstring result;
  std::size_t copied = 0;
  for (std::size_t i = 1; i < wide.size(); ++i) {
    if (!IsCombiningMark(wide[i]) || IsCombiningMark(wide[i - 1])) continue;
    std::size_t end = i;
    while (end < wide.size() && IsCombiningMark(wide[end])) ++end;
    const std::size_t start = i - 1;
    const int length = static_cast<int>(end - start);
    wchar_t composed[64];
    const int n = length < 32 ? NormalizeString(NormalizationC, wide.data() + start, length,
                                                composed, 64)
                              : 0;
    if (n > 0 && n <= length) {
      result.append(wide, copied, start - copied);
      result.append(composed, static_cast<std::size_t>(n));
      copied = end;
    }
    i = end;
  }
  if (copied == 0) return;
  result.append(wide, copied, std::wstring::npos);
  wide = std::move(result);
}

}  // namespace

std::u16string code_page_backend::ToUtf16(std::string_view text) {
  // A Text ends at its first zero byte, as a zero-terminated string would.
  text = text.substr(0, std::min(text.find('\0'), text.size()));
  if (text.empty() || text.size() > INT_MAX / 4) return {};
  std::u16string units;
  units.reserve(text.size());
  // Runs of well-formed characters go to the converter whole; a lead byte that has no valid
  // trail byte after it becomes one "?" on its own, so it cannot swallow the byte after it
  // (Windows and Wine take such pairs differently).
  std::size_t runStart = 0;
  auto flush = [&](std::size_t runEnd) {
    if (runEnd > runStart) AppendRun(text.substr(runStart, runEnd - runStart), units);
  };
  std::size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (!IsLeadByte(byte)) {
      ++i;
    } else if (i + 1 < text.size() && IsTrailByte(static_cast<unsigned char>(text[i + 1]))) {
      i += 2;
    } else {
      flush(i);
      units.push_back(u'?');
      runStart = ++i;
    }
  }
  flush(text.size());
  return units;
}

Text code_page_backend::FromUtf16(std::u16string_view units) {
  units = units.substr(0, std::min(units.find(u'\0'), units.size()));
  if (units.empty() || units.size() > INT_MAX / 4) return {};
  std::wstring wide(units.begin(), units.end());
  ComposeMarks(wide);
  const int count = static_cast<int>(wide.size());
  const int size = WideCharToMultiByte(kCodePageGbk, kToGbkFlags, wide.data(), count,
                                       nullptr, 0, nullptr, nullptr);
  if (size < 1) return {};
  Text out(static_cast<std::size_t>(size), '\0');
  const int written = WideCharToMultiByte(kCodePageGbk, kToGbkFlags, wide.data(), count, out.data(),
                                          size, nullptr, nullptr);
  if (written < 1) return {};
  out.resize(static_cast<std::size_t>(written));
  return out;
}

}  // namespace korvanel
