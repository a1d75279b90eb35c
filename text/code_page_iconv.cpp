// Code page 936 <-> UTF-16LE over glibc iconv, giving what the Windows calls give.
//
// glibc's "CP936" agrees with Windows code page 936 on every double-byte character and on
// 0x80 (the euro sign). It lacks the single byte 0xFF, which Windows maps to U+F8F5 (and
// back), and the 2149 double-byte cells that GBK leaves unassigned, which Windows maps to
// the private-use code points U+E000 to U+E864 (and back); those are handled here.
// Descriptors are per thread, since worker threads of the command-line tool convert at the
// same time.
#include <errno.h>
#include <iconv.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

#include "text/code_page_backend.h"
#include "text/iconv_descriptor.h"

namespace korvanel {
namespace {

// The default character of code page 936 in both directions. A byte sequence that is not
// a character converts to U+003F, as MultiByteToWideChar does for this code page when it
// is not asked to fail on invalid characters; the rest of the text still converts.
constexpr std::uint16_t kDefaultUnit = 0x003F;
constexpr char kDefaultByte = '?';
// Windows gives the lone byte 0xFF this private-use code point.
constexpr std::uint16_t kByteFFUnit = 0xF8F5;

iconv_t GbkToUtf16() {
  thread_local IconvDescriptor cd("UTF-16LE", "CP936");
  return cd.Ready();
}

iconv_t Utf16ToGbk() {
  thread_local IconvDescriptor cd("CP936", "UTF-16LE");
  return cd.Ready();
}

inline bool IsTrailByte(unsigned char c) { return c >= 0x40 && c <= 0xFE && c != 0x7F; }

// The cells of the three user-defined areas, each a block of whole rows given a run of
// private-use code points in row order.
struct UserDefinedArea {
  unsigned char firstLead, lastLead, firstTrail, lastTrail;
  std::uint16_t firstUnit;
};
constexpr UserDefinedArea kUserDefinedAreas[] = {
    {0xAA, 0xAF, 0xA1, 0xFE, 0xE000},  // 94 cells a row
    {0xF8, 0xFE, 0xA1, 0xFE, 0xE234},
    {0xA1, 0xA7, 0x40, 0xA0, 0xE4C6},  // 96 cells a row: 0x7F is no trail byte
};
// The unassigned cells among the standard characters, given U+E766 onwards in code order.
struct CellRun {
  std::uint16_t first, last;
};
constexpr CellRun kUnassignedCells[] = {
    {0xA2AB, 0xA2B0}, {0xA2E3, 0xA2E4}, {0xA2EF, 0xA2F0}, {0xA2FD, 0xA2FE}, {0xA4F4, 0xA4FE},
    {0xA5F7, 0xA5FE}, {0xA6B9, 0xA6C0}, {0xA6D9, 0xA6DF}, {0xA6EC, 0xA6ED}, {0xA6F3, 0xA6F3},
    {0xA6F6, 0xA6FE}, {0xA7C2, 0xA7D0}, {0xA7F2, 0xA7FE}, {0xA896, 0xA8A0}, {0xA8BC, 0xA8BC},
    {0xA8BF, 0xA8BF}, {0xA8C1, 0xA8C4}, {0xA8EA, 0xA8FE}, {0xA958, 0xA958}, {0xA95B, 0xA95B},
    {0xA95D, 0xA95F}, {0xA989, 0xA995}, {0xA997, 0xA9A3}, {0xA9F0, 0xA9FE}, {0xD7FA, 0xD7FE},
    {0xFE50, 0xFE7E}, {0xFE80, 0xFEA0},
};
constexpr std::uint16_t kFirstUnassignedUnit = 0xE766;

// Position of a trail byte within its row, counting only bytes that can be trail bytes.
inline int TrailIndex(unsigned char trail, unsigned char firstTrail) {
  return trail - firstTrail - (firstTrail < 0x7F && trail > 0x7F ? 1 : 0);
}

// The private-use code point of an unassigned cell; 0 for any other byte pair.
std::uint16_t PrivateUnitOfCell(unsigned char lead, unsigned char trail) {
  if (!IsTrailByte(trail)) return 0;
  for (const UserDefinedArea& area : kUserDefinedAreas) {
    if (lead < area.firstLead || lead > area.lastLead || trail < area.firstTrail ||
        trail > area.lastTrail) {
      continue;
    }
    const int perRow = TrailIndex(area.lastTrail, area.firstTrail) + 1;
    return static_cast<std::uint16_t>(area.firstUnit + (lead - area.firstLead) * perRow +
                                      TrailIndex(trail, area.firstTrail));
  }
  const auto cell = static_cast<std::uint16_t>(lead << 8 | trail);
  std::uint16_t unit = kFirstUnassignedUnit;
  for (const CellRun& run : kUnassignedCells) {
    if (cell >= run.first && cell <= run.last) {
      return static_cast<std::uint16_t>(unit + (cell - run.first));
    }
    unit = static_cast<std::uint16_t>(unit + (run.last - run.first + 1));
  }
  return 0;
}

// The cell of a private-use code point that code page 936 maps; 0 for any other unit.
std::uint16_t CellOfPrivateUnit(std::uint16_t unit) {
  for (const UserDefinedArea& area : kUserDefinedAreas) {
    const int perRow = TrailIndex(area.lastTrail, area.firstTrail) + 1;
    const int cells = (area.lastLead - area.firstLead + 1) * perRow;
    const int k = unit - area.firstUnit;
    if (k < 0 || k >= cells) continue;
    int trail = area.firstTrail + k % perRow;
    if (area.firstTrail < 0x7F && trail >= 0x7F) ++trail;
    return static_cast<std::uint16_t>((area.firstLead + k / perRow) << 8 | trail);
  }
  int k = unit - kFirstUnassignedUnit;
  if (k < 0) return 0;
  for (const CellRun& run : kUnassignedCells) {
    if (k <= run.last - run.first) return static_cast<std::uint16_t>(run.first + k);
    k -= run.last - run.first + 1;
  }
  return 0;
}

// iconv's "UTF-16LE" is written straight into char16_t storage.
static_assert(std::endian::native == std::endian::little, "UTF-16LE units are native here");

inline void PutUnit(char*& out, std::size_t& outLeft, char16_t unit) {
  std::memcpy(out, &unit, 2);
  out += 2;
  outLeft -= 2;
}

// WC_COMPOSITECHECK: a base character followed by a combining mark converts as the
// precomposed character when code page 936 has that one (the pinyin vowels above all).
struct Composition {
  std::uint16_t base;
  std::uint16_t mark;
  std::uint16_t composed;
};
constexpr Composition kCompositions[] = {
    {0x003C, 0x0338, 0x226E}, {0x003D, 0x0338, 0x2260}, {0x003E, 0x0338, 0x226F},
    {0x0061, 0x0300, 0x00E0}, {0x0061, 0x0301, 0x00E1}, {0x0061, 0x0304, 0x0101},
    {0x0061, 0x030C, 0x01CE}, {0x0065, 0x0300, 0x00E8}, {0x0065, 0x0301, 0x00E9},
    {0x0065, 0x0302, 0x00EA}, {0x0065, 0x0304, 0x0113}, {0x0065, 0x030C, 0x011B},
    {0x0069, 0x0300, 0x00EC}, {0x0069, 0x0301, 0x00ED}, {0x0069, 0x0304, 0x012B},
    {0x0069, 0x030C, 0x01D0}, {0x006E, 0x0301, 0x0144}, {0x006E, 0x030C, 0x0148},
    {0x006F, 0x0300, 0x00F2}, {0x006F, 0x0301, 0x00F3}, {0x006F, 0x0304, 0x014D},
    {0x006F, 0x030C, 0x01D2}, {0x0075, 0x0300, 0x00F9}, {0x0075, 0x0301, 0x00FA},
    {0x0075, 0x0304, 0x016B}, {0x0075, 0x0308, 0x00FC}, {0x0075, 0x030C, 0x01D4},
    {0x00FC, 0x0300, 0x01DC}, {0x00FC, 0x0301, 0x01D8}, {0x00FC, 0x0304, 0x01D6},
    {0x00FC, 0x030C, 0x01DA}, {0x0415, 0x0308, 0x0401}, {0x0418, 0x0306, 0x0419},
    {0x0435, 0x0308, 0x0451}, {0x0438, 0x0306, 0x0439}, {0x304B, 0x3099, 0x304C},
    {0x304D, 0x3099, 0x304E}, {0x304F, 0x3099, 0x3050}, {0x3051, 0x3099, 0x3052},
    {0x3053, 0x3099, 0x3054}, {0x3055, 0x3099, 0x3056}, {0x3057, 0x3099, 0x3058},
    {0x3059, 0x3099, 0x305A}, {0x305B, 0x3099, 0x305C}, {0x305D, 0x3099, 0x305E},
    {0x305F, 0x3099, 0x3060}, {0x3061, 0x3099, 0x3062}, {0x3064, 0x3099, 0x3065},
    {0x3066, 0x3099, 0x3067}, {0x3068, 0x3099, 0x3069}, {0x306F, 0x3099, 0x3070},
    {0x306F, 0x309A, 0x3071}, {0x3072, 0x3099, 0x3073}, {0x3072, 0x309A, 0x3074},
    {0x3075, 0x3099, 0x3076}, {0x3075, 0x309A, 0x3077}, {0x3078, 0x3099, 0x3079},
    {0x3078, 0x309A, 0x307A}, {0x307B, 0x3099, 0x307C}, {0x307B, 0x309A, 0x307D},
    {0x309D, 0x3099, 0x309E}, {0x30A6, 0x3099, 0x30F4}, {0x30AB, 0x3099, 0x30AC},
    {0x30AD, 0x3099, 0x30AE}, {0x30AF, 0x3099, 0x30B0}, {0x30B1, 0x3099, 0x30B2},
    {0x30B3, 0x3099, 0x30B4}, {0x30B5, 0x3099, 0x30B6}, {0x30B7, 0x3099, 0x30B8},
    {0x30B9, 0x3099, 0x30BA}, {0x30BB, 0x3099, 0x30BC}, {0x30BD, 0x3099, 0x30BE},
    {0x30BF, 0x3099, 0x30C0}, {0x30C1, 0x3099, 0x30C2}, {0x30C4, 0x3099, 0x30C5},
    {0x30C6, 0x3099, 0x30C7}, {0x30C8, 0x3099, 0x30C9}, {0x30CF, 0x3099, 0x30D0},
    {0x30CF, 0x309A, 0x30D1}, {0x30D2, 0x3099, 0x30D3}, {0x30D2, 0x309A, 0x30D4},
    {0x30D5, 0x3099, 0x30D6}, {0x30D5, 0x309A, 0x30D7}, {0x30D8, 0x3099, 0x30D9},
    {0x30D8, 0x309A, 0x30DA}, {0x30DB, 0x3099, 0x30DC}, {0x30DB, 0x309A, 0x30DD},
    {0x30FD, 0x3099, 0x30FE},
};

inline bool IsCombiningMark(std::uint16_t unit) {
  return (unit >= 0x0300 && unit <= 0x036F) || unit == 0x3099 || unit == 0x309A;
}

std::uint16_t Compose(std::uint16_t base, std::uint16_t mark) {
  const auto* end = std::end(kCompositions);
  const auto* it = std::lower_bound(
      std::begin(kCompositions), end, Composition{base, mark, 0},
      [](const Composition& a, const Composition& b) {
        return a.base != b.base ? a.base < b.base : a.mark < b.mark;
      });
  return it != end && it->base == base && it->mark == mark ? it->composed : 0;
}

// The units with composable pairs joined; empty when nothing composes.
std::u16string ComposedUnits(std::u16string_view units) {
  bool any = false;
  for (std::size_t i = 1; i < units.size() && !any; ++i) {
    any = IsCombiningMark(units[i]) && Compose(units[i - 1], units[i]) != 0;
  }
  if (!any) return {};
  std::u16string out;
  out.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    std::uint16_t unit = units[i];
    while (i + 1 < units.size() && IsCombiningMark(units[i + 1])) {
      const std::uint16_t composed = Compose(unit, units[i + 1]);
      if (composed == 0) break;
      unit = composed;
      ++i;
    }
    out.push_back(static_cast<char16_t>(unit));
  }
  return out;
}

}  // namespace

std::u16string code_page_backend::ToUtf16(std::string_view text) {
  // Like a zero-terminated string handed to MultiByteToWideChar, the text ends at a zero.
  text = text.substr(0, text.find('\0'));
  if (text.empty()) return {};
  iconv_t cd = GbkToUtf16();
  if (cd == nullptr) return {};

  // Every character, and every byte that is not one, gives at most one unit.
  std::u16string result(text.size(), u'\0');
  char* in = const_cast<char*>(text.data());
  std::size_t inLeft = text.size();
  char* out = reinterpret_cast<char*>(result.data());
  std::size_t outLeft = 2 * text.size();
  while (inLeft > 0) {
    if (iconv(cd, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1)) break;
    if (errno != EILSEQ && errno != EINVAL) return {};
    const unsigned char bad = static_cast<unsigned char>(*in);
    std::size_t skip = 1;
    if (bad == 0xFF) {
      PutUnit(out, outLeft, kByteFFUnit);
    } else if (bad >= 0x81 && inLeft >= 2 && IsTrailByte(static_cast<unsigned char>(in[1]))) {
      // A lead byte with a proper second byte is a cell that GBK leaves unassigned: the
      // pair goes whole, as its private-use code point.
      const std::uint16_t unit = PrivateUnitOfCell(bad, static_cast<unsigned char>(in[1]));
      PutUnit(out, outLeft, unit != 0 ? unit : kDefaultUnit);
      skip = 2;
    } else {
      // Only the lead byte goes, so an ASCII byte after it survives.
      PutUnit(out, outLeft, kDefaultUnit);
    }
    in += skip;
    inLeft -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  result.resize(static_cast<std::size_t>(out - reinterpret_cast<char*>(result.data())) / 2);
  return result;
}

Text code_page_backend::FromUtf16(std::u16string_view units) {
  units = units.substr(0, units.find(u'\0'));
  if (units.empty()) return {};
  iconv_t cd = Utf16ToGbk();
  if (cd == nullptr) return {};

  const std::u16string composed = ComposedUnits(units);
  if (!composed.empty()) units = composed;

  // No unit gives more than two bytes.
  Text result(units.size() * 2, '\0');
  char* in = reinterpret_cast<char*>(const_cast<char16_t*>(units.data()));
  std::size_t inLeft = units.size() * 2;
  char* out = result.data();
  std::size_t outLeft = result.size();
  while (inLeft > 0) {
    if (iconv(cd, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1)) break;
    if (errno != EILSEQ && errno != EINVAL) return {};
    // Units are looked at one by one, so even a valid surrogate pair gives two "?".
    char16_t bad;
    std::memcpy(&bad, in, 2);
    if (const std::uint16_t cell = CellOfPrivateUnit(bad)) {
      *out++ = static_cast<char>(cell >> 8);
      *out++ = static_cast<char>(cell & 0xFF);
      outLeft -= 2;
    } else {
      *out++ = bad == kByteFFUnit ? static_cast<char>(0xFF) : kDefaultByte;
      --outLeft;
    }
    in += 2;
    inLeft -= 2;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  result.resize(static_cast<std::size_t>(out - result.data()));
  return result;
}

}  // namespace korvanel
