// Charset decoding on Windows: MultiByteToWideChar with the code page that the declared name
// stands for, then code page 936 through UnicodeToAnsi.
#include "web/charset_decode.h"

#include <climits>
#include <cstdint>
#include <utility>

#include "text/code_page.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace korvanel {
namespace {

constexpr unsigned kUtf16Le = 1200;
constexpr unsigned kUtf16Be = 1201;

struct CharsetCodePage {
  std::string_view name;  // lower case
  unsigned codePage;
};

// The names pages declare, with their usual aliases.
constexpr CharsetCodePage kCodePages[] = {
    {"utf-8", 65001},        {"utf8", 65001},           {"unicode-1-1-utf-8", 65001},
    {"gbk", 936},            {"gb2312", 936},           {"cp936", 936},
    {"x-gbk", 936},          {"windows-936", 936},      {"csgb2312", 936},
    {"chinese", 936},        {"euc-cn", 936},           {"gb_2312-80", 936},
    {"gb18030", 54936},      {"big5", 950},             {"cp950", 950},
    {"big5-hkscs", 950},     {"cn-big5", 950},          {"x-x-big5", 950},
    {"csbig5", 950},         {"shift_jis", 932},        {"shift-jis", 932},
    {"sjis", 932},           {"x-sjis", 932},           {"ms_kanji", 932},
    {"csshiftjis", 932},     {"windows-31j", 932},      {"cp932", 932},
    {"euc-jp", 20932},       {"x-euc-jp", 20932},       {"iso-2022-jp", 50220},
    {"euc-kr", 51949},       {"ks_c_5601-1987", 949},   {"cp949", 949},
    {"windows-949", 949},    {"korean", 949},           {"csksc56011987", 949},
    {"iso-8859-1", 28591},   {"iso8859-1", 28591},      {"iso_8859-1", 28591},
    {"latin1", 28591},       {"l1", 28591},             {"cp819", 28591},
    {"iso-8859-2", 28592},   {"iso-8859-3", 28593},     {"iso-8859-4", 28594},
    {"iso-8859-5", 28595},   {"iso-8859-6", 28596},     {"iso-8859-7", 28597},
    {"iso-8859-8", 28598},   {"iso-8859-9", 28599},     {"iso-8859-13", 28603},
    {"iso-8859-15", 28605},  {"windows-1250", 1250},    {"windows-1251", 1251},
    {"windows-1252", 1252},  {"windows-1253", 1253},    {"windows-1254", 1254},
    {"windows-1255", 1255},  {"windows-1256", 1256},    {"windows-1257", 1257},
    {"windows-1258", 1258},  {"cp1250", 1250},          {"cp1251", 1251},
    {"cp1252", 1252},        {"windows-874", 874},      {"tis-620", 874},
    {"koi8-r", 20866},       {"koi8-u", 21866},         {"us-ascii", 20127},
    {"ascii", 20127},        {"macintosh", 10000},      {"unicode", kUtf16Le},
    {"utf-16", kUtf16Le},    {"utf-16le", kUtf16Le},    {"utf-16be", kUtf16Be},
    {"unicodefffe", kUtf16Be},
};

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view declared, std::string_view known) {
  if (declared.size() != known.size()) return false;
  for (std::size_t i = 0; i < declared.size(); ++i)
    if (LowerAscii(declared[i]) != known[i]) return false;
  return true;
}

std::optional<unsigned> CodePageOf(std::string_view name) {
  for (const CharsetCodePage& entry : kCodePages)
    if (SameName(name, entry.name)) return entry.codePage;
  return std::nullopt;
}

}  // namespace

std::optional<Text> DecodeCharset(const ByteSet& body, std::string_view charsetName) {
  const std::optional<unsigned> codePage = CodePageOf(charsetName);
  if (!codePage) return std::nullopt;
  if (body.empty()) return Text();
  if (body.size() > INT_MAX / 2) return std::nullopt;

  ByteSet wide;
  if (*codePage == kUtf16Le || *codePage == kUtf16Be) {
    // Already UTF-16: the units are taken as they are (swapped when big-endian).
    wide.assign(body.begin(), body.end() - static_cast<std::ptrdiff_t>(body.size() % 2));
    if (*codePage == kUtf16Be)
      for (std::size_t i = 0; i + 1 < wide.size(); i += 2) std::swap(wide[i], wide[i + 1]);
  } else {
    // A code page this system does not have (Wine lacks GB18030) leaves the page as it came.
    if (!IsValidCodePage(*codePage)) return std::nullopt;
    const auto* bytes = reinterpret_cast<const char*>(body.data());
    const int length = static_cast<int>(body.size());
    const int units = MultiByteToWideChar(*codePage, 0, bytes, length, nullptr, 0);
    if (units < 1) return std::nullopt;
    wide = BlankBytes(2 * units);
    if (MultiByteToWideChar(*codePage, 0, bytes, length, reinterpret_cast<LPWSTR>(wide.data()),
                            units) < 1)
      return std::nullopt;
  }
  return UnicodeToAnsi(wide);
}

}  // namespace korvanel
