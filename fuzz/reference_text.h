// Plain reference versions of the text routines, written straight from their rules: walk the
// text one character at a time (a byte of 0x80 or above starts a two-byte character), compare
// byte by byte at each character start, fold only A-Z / a-z. No tables, no skipping ahead, no
// 8-byte tricks: slow and obviously right, so the fuzzers can hold the real routines to them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ref {

using Text = std::string;
using TextArray = std::vector<Text>;
using i64 = std::int64_t;

inline bool Lead(std::string_view t, i64 i) { return static_cast<unsigned char>(t[i]) >= 0x80; }
inline unsigned char FoldByte(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c;
}
// The width of the character starting at i as a walk steps over it.
inline i64 Step(std::string_view t, i64 i) { return Lead(t, i) ? 2 : 1; }
// A lead byte directly before the end of the text: a cut-off character, which ends a walk.
inline bool CutOff(std::string_view t, i64 i) {
  return Lead(t, i) && i == static_cast<i64>(t.size()) - 1;
}

inline bool MatchAt(std::string_view t, i64 i, std::string_view s, bool fold) {
  for (i64 k = 0; k < static_cast<i64>(s.size()); ++k) {
    unsigned char a = static_cast<unsigned char>(t[i + k]);
    unsigned char b = static_cast<unsigned char>(s[k]);
    if (fold) {
      a = FoldByte(a);
      b = FoldByte(b);
    }
    if (a != b) return false;
  }
  return true;
}

inline int FindText(std::string_view t, std::string_view s, std::optional<i64> start,
                    bool ignoreCase) {
  const i64 len = static_cast<i64>(t.size());
  const i64 m = static_cast<i64>(s.size());
  const i64 b = (!start || *start < 1) ? 0 : *start - 1;
  if (b >= len) return -1;
  if (m == 0) return 1;
  for (i64 i = b; i < len; i += Step(t, i)) {
    if (len - i < m) return -1;
    if (CutOff(t, i)) return -1;
    if (MatchAt(t, i, s, ignoreCase)) return static_cast<int>(i + 1);
  }
  return -1;
}

inline int FindTextReverse(std::string_view t, std::string_view s, std::optional<i64> start,
                           bool ignoreCase) {
  const i64 len = static_cast<i64>(t.size());
  const i64 m = static_cast<i64>(s.size());
  i64 range = len;
  if (start) range = *start <= 1 ? 0 : std::min(len, *start - 1);
  if (range == 0) return -1;
  if (m == 0) return 1;
  int last = -1;
  for (i64 i = 0; i < range; i += Step(t, i)) {
    if (range - i < m) break;
    if (CutOff(t, i)) break;
    if (MatchAt(t, i, s, ignoreCase)) last = static_cast<int>(i + 1);
  }
  return last;
}

inline Text ReplaceText(std::string_view t, std::string_view s, std::string_view r,
                        bool caseSensitive) {
  if (t.empty() || s.empty()) return Text(t);
  const i64 len = static_cast<i64>(t.size());
  const i64 m = static_cast<i64>(s.size());
  Text out;
  i64 i = 0;
  while (i < len) {
    if (len - i < m) {
      out.append(t.substr(i));
      break;
    }
    if (CutOff(t, i)) break;  // dropped
    if (MatchAt(t, i, s, !caseSensitive)) {
      out.append(r);
      i += m;
      continue;
    }
    const i64 w = std::min(Step(t, i), len - i);
    out.append(t.substr(i, w));
    i += w;
  }
  return out;
}

inline TextArray SplitText(std::string_view t, std::string_view sep) {
  TextArray out;
  if (t.empty()) return out;
  if (sep.empty()) return {Text(t)};
  const i64 len = static_cast<i64>(t.size());
  const i64 m = static_cast<i64>(sep.size());
  i64 pieceStart = 0;
  i64 i = 0;
  while (i < len) {
    if (len - i < m || CutOff(t, i)) break;
    if (MatchAt(t, i, sep, false)) {
      out.emplace_back(t.substr(pieceStart, i - pieceStart));
      i += m;
      pieceStart = i;
      continue;
    }
    i += Step(t, i);
  }
  if (pieceStart < len) out.emplace_back(t.substr(pieceStart));
  return out;
}

inline Text TrimBoth(std::string_view t) {
  const i64 len = static_cast<i64>(t.size());
  auto wide = [&](i64 i) {
    return static_cast<unsigned char>(t[i]) == 0xA1 && i + 1 < len &&
           static_cast<unsigned char>(t[i + 1]) == 0xA1;
  };
  i64 begin = 0;
  for (;;) {
    if (begin < len && t[begin] == ' ') {
      begin += 1;
    } else if (begin < len && wide(begin)) {
      begin += 2;
    } else {
      break;
    }
  }
  i64 runStart = -1;
  i64 i = begin;
  while (i < len) {
    if (t[i] == ' ') {
      if (runStart < 0) runStart = i;
      i += 1;
    } else if (Lead(t, i)) {
      if (i + 1 == len) return Text(t.substr(begin, i - begin));
      if (wide(i)) {
        if (runStart < 0) runStart = i;
      } else {
        runStart = -1;
      }
      i += 2;
    } else {
      runStart = -1;
      i += 1;
    }
  }
  const i64 end = runStart < 0 ? len : runStart;
  return Text(t.substr(begin, end - begin));
}

inline Text ToUpper(std::string_view t) {
  Text out(t);
  for (i64 i = 0; i < static_cast<i64>(out.size()); i += Step(out, i)) {
    if (out[i] >= 'a' && out[i] <= 'z') out[i] = static_cast<char>(out[i] - 32);
  }
  return out;
}

// Whether CompareText without case must give 0: ASCII letters fold, a double-byte character
// compares as a whole.
inline bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  const i64 len = static_cast<i64>(a.size());
  for (i64 i = 0; i < len; i += Step(a, i)) {
    if (Lead(a, i)) {
      if (a[i] != b[i]) return false;
      if (i + 1 < len && a[i + 1] != b[i + 1]) return false;
    } else if (FoldByte(static_cast<unsigned char>(a[i])) !=
               FoldByte(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

inline Text TextLeft(std::string_view t, i64 count) {
  if (count <= 0) return {};
  return Text(t.substr(0, static_cast<size_t>(std::min<i64>(count, t.size()))));
}
inline Text TextRight(std::string_view t, i64 count) {
  if (count <= 0) return {};
  const i64 n = std::min<i64>(count, t.size());
  return Text(t.substr(t.size() - n));
}
inline Text TextMid(std::string_view t, i64 start, i64 count) {
  if (start < 1 || count <= 0 || start > static_cast<i64>(t.size())) return {};
  return Text(t.substr(start - 1, static_cast<size_t>(std::min<i64>(count, t.size()))));
}

// What ReadTextFile keeps of a file's bytes.
inline Text FileText(std::string_view bytes) {
  const i64 n = static_cast<i64>(bytes.size());
  i64 i = 0;
  while (i < n) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == 0 || c == 0x1A) break;
    if (c >= 0x80) {
      if (i + 1 < n && bytes[i + 1] == 0) break;
      i += 2;
    } else {
      i += 1;
    }
  }
  return Text(bytes.substr(0, static_cast<size_t>(std::min(i, n))));
}

// Marker extraction over the searches above.
inline Text TextRightOf(std::string_view t, std::string_view marker, i64 sp, bool ic) {
  const i64 len = static_cast<i64>(t.size());
  int pos;
  if (sp < 0) {
    pos = FindText(t, marker, -sp, ic);
  } else {
    const i64 e = len - sp;
    pos = e <= 1 ? -1 : FindTextReverse(t, marker, e, ic);
  }
  if (pos == -1) return {};
  return TextRight(t, len - static_cast<i64>(marker.size()) - pos + 1);
}

inline Text TextLeftOf(std::string_view t, std::string_view marker, i64 sp, bool ic) {
  const i64 len = static_cast<i64>(t.size());
  int pos;
  if (sp < 0) {
    const i64 k = sp == -1 ? 0 : -sp;
    const i64 e = len - k;
    pos = e <= 1 ? -1 : FindTextReverse(t, marker, e, ic);
  } else {
    pos = FindText(t, marker, sp, ic);
  }
  if (pos == -1) return {};
  return TextLeft(t, pos - 1);
}

inline constexpr std::string_view kQuoteToken = "#\xD2\xFD\xBA\xC5";  // "#引号"

inline Text TextBetween(std::string_view t, std::string_view s1, std::string_view s2, i64 sp,
                        bool ic) {
  const Text a = ReplaceText(s1, kQuoteToken, "\"", true);
  const Text b = ReplaceText(s2, kQuoteToken, "\"", true);
  i64 p1 = FindText(t, a, sp, ic);
  if (p1 == -1) return {};
  p1 += static_cast<i64>(a.size());
  const i64 p2 = FindText(t, b, p1, ic);
  if (p2 == -1) return {};
  return TextMid(t, p1, p2 - p1);
}

}  // namespace ref
