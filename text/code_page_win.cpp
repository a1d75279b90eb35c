// Code page 936 <-> UTF-16LE through kernel32, naming code page 936 on every call so the
// result never depends on the machine's ANSI code page.
#include "text/code_page.h"

#include <algorithm>
#include <climits>
#include <cstring>

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace korvanel {
namespace {

constexpr UINT kCodePageGbk = 936;

}  // namespace

ByteSet AnsiToUnicode(std::string_view text) {
  // A Text ends at its first zero byte, as a zero-terminated string would.
  text = text.substr(0, std::min(text.find('\0'), text.size()));
  if (text.empty() || text.size() > INT_MAX / 2) return {};
  const int length = static_cast<int>(text.size());
  // The terminating zero unit is not part of the view, so it is counted and left in place
  // by the zero-filled buffer instead of being converted.
  const int units = MultiByteToWideChar(kCodePageGbk, 0, text.data(), length, nullptr, 0);
  if (units < 1) return {};
  ByteSet result = BlankBytes(2 * (units + 1));
  const int written = MultiByteToWideChar(kCodePageGbk, 0, text.data(), length,
                                          reinterpret_cast<LPWSTR>(result.data()), units);
  if (written < 1) return {};
  return result;
}

Text UnicodeToAnsi(const ByteSet& bytes) {
  const int units = static_cast<int>(bytes.size() / 2);
  if (units == 0) return {};
  // The bytes of a ByteSet need not be aligned for wchar_t; copy them into units first.
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  std::memcpy(wide.data(), bytes.data(), 2 * static_cast<std::size_t>(units));
  const int size = WideCharToMultiByte(kCodePageGbk, WC_COMPOSITECHECK, wide.data(), units,
                                       nullptr, 0, nullptr, nullptr);
  if (size < 1) return {};
  ByteSet out = BlankBytes(size);
  const int written =
      WideCharToMultiByte(kCodePageGbk, WC_COMPOSITECHECK, wide.data(), units,
                          reinterpret_cast<LPSTR>(out.data()), size, nullptr, nullptr);
  if (written < 1) return {};
  out.resize(static_cast<std::size_t>(written));
  return BytesToText(out);
}

}  // namespace korvanel
