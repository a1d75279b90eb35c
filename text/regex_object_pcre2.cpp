// RegexObject over PCRE2's 16-bit library.
//
// The script engine that the program was written against matches over UTF-16 strings, so
// this backend does the same: the pattern and the subject are converted from code page 936
// to UTF-16 first, a double-byte character is one character to the engine, and match texts
// are converted back. Byte positions are worked out from the engine's UTF-16 offsets.
//
// The pattern language is the script engine's (JavaScript-style). PCRE2 is a superset of
// it, but a few escapes mean something else to PCRE2; TranslatePattern below rewrites those
// before compiling, and the compile options pick the JavaScript reading everywhere else.

#include "text/regex_object.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "text/code_page.h"
#include "text/markers.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

namespace korvanel {
namespace {

// Limits per pcre2_match call, so that a pattern that backtracks catastrophically over a
// page ends the Search with false instead of hanging a request. The match limit caps the
// number of backtracking steps (PCRE2's own default, a fraction of a second of work);
// the heap limit (in KiB) caps the memory of the backtracking frames, which is what deep
// nesting of repeated groups consumes; the depth limit caps that nesting directly.
constexpr std::uint32_t kMatchLimit = 10'000'000;
constexpr std::uint32_t kDepthLimit = 1'000'000;
constexpr std::uint32_t kHeapLimitKiB = 64 * 1024;

using Units = std::u16string;

struct CodeDeleter {
  void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};
struct CompileContextDeleter {
  void operator()(pcre2_compile_context* context) const { pcre2_compile_context_free(context); }
};
struct MatchContextDeleter {
  void operator()(pcre2_match_context* context) const { pcre2_match_context_free(context); }
};
struct MatchDataDeleter {
  void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};

// The engine's own unit type over our UTF-16 text; both are 16-bit code units.
PCRE2_SPTR16 EngineUnits(const Units& units) {
  static_assert(sizeof(PCRE2_UCHAR16) == sizeof(char16_t));
  return reinterpret_cast<PCRE2_SPTR16>(units.c_str());
}

bool IsClassEscape(PCRE2_UCHAR16 c) {
  return c == 'w' || c == 'W' || c == 'd' || c == 'D' || c == 's' || c == 'S';
}

// Letters after a backslash that PCRE2 gives a meaning of its own (\Q quoting, \h, \R, \K,
// \A, \z, \p, ...) but the script engine reads as the plain letter.
bool IsPlainLetterEscape(PCRE2_UCHAR16 c) {
  constexpr std::string_view kLetters = "ACEGHKLNPQRUVXZaeghklopz";
  return c < 0x80 && kLetters.find(static_cast<char>(c)) != std::string_view::npos;
}

void Append(Units& out, std::string_view ascii) { out.append(ascii.begin(), ascii.end()); }

// Rewrites the places where PCRE2 would read a script-engine pattern differently:
// - \v is the vertical tab alone, not PCRE2's class of vertical white space;
// - escapes that only PCRE2 knows stand for their letter;
// - inside a class, "[" is a plain character (PCRE2 would start a POSIX class), and a "-"
//   next to \w, \d or \s is a plain hyphen (PCRE2 rejects it as a bad range).
// A trailing backslash, which the script engine rejects, gives nothing.
std::optional<Units> TranslatePattern(const Units& pattern) {
  Units out;
  out.reserve(pattern.size() + 8);
  const std::size_t n = pattern.size();
  bool inClass = false;
  for (std::size_t i = 0; i < n; ++i) {
    const PCRE2_UCHAR16 c = pattern[i];
    if (c == '\\') {
      if (i + 1 == n) return std::nullopt;
      const PCRE2_UCHAR16 next = pattern[++i];
      if (next == 'v') {
        Append(out, "\\x0B");
      } else if (IsPlainLetterEscape(next)) {
        out.push_back(next);
      } else {
        out.push_back(c);
        out.push_back(next);
        if (inClass && IsClassEscape(next) && i + 2 < n && pattern[i + 1] == '-' &&
            pattern[i + 2] != ']') {
          Append(out, "\\-");
          ++i;
        }
      }
      continue;
    }
    if (inClass) {
      if (c == ']') {
        inClass = false;
        out.push_back(c);
      } else if (c == '[') {
        Append(out, "\\[");
      } else if (c == '-' && i + 2 < n && pattern[i + 1] == '\\' && IsClassEscape(pattern[i + 2])) {
        Append(out, "\\-");
      } else {
        out.push_back(c);
      }
      continue;
    }
    out.push_back(c);
    if (c == '[') {
      inClass = true;
      // The script engine ends a class at its first "]" even right after "[" or "[^"
      // ("[]" matches nothing, "[^]" anything); PCRE2_ALLOW_EMPTY_CLASS agrees.
      if (i + 1 < n && pattern[i + 1] == '^') out.push_back(pattern[++i]);
    }
  }
  return out;
}

// The compiled form of a translated pattern with the given options; null when it does not
// compile. Pages are searched with the same few patterns again and again (a WebRequest looks
// for the charset declaration of every page), so each thread keeps the patterns it compiled
// last; matching never changes compiled code.
const pcre2_code* CompiledPattern(const Units& pattern, std::uint32_t options) {
  constexpr std::size_t kKept = 8;
  struct Compiled {
    Units pattern;
    std::uint32_t options;
    std::unique_ptr<pcre2_code, CodeDeleter> code;
  };
  thread_local std::vector<Compiled> kept;  // the most recently used last
  for (auto it = kept.begin(); it != kept.end(); ++it) {
    if (it->options == options && it->pattern == pattern) {
      std::rotate(it, it + 1, kept.end());
      return kept.back().code.get();
    }
  }

  std::unique_ptr<pcre2_compile_context, CompileContextDeleter> compileContext(
      pcre2_compile_context_create(nullptr));
  if (!compileContext) return nullptr;
  pcre2_set_newline(compileContext.get(), PCRE2_NEWLINE_LF);
  pcre2_set_compile_extra_options(compileContext.get(), PCRE2_EXTRA_BAD_ESCAPE_IS_LITERAL);
  int errorCode = 0;
  PCRE2_SIZE errorOffset = 0;
  std::unique_ptr<pcre2_code, CodeDeleter> code(pcre2_compile(EngineUnits(pattern), pattern.size(),
                                                              options, &errorCode, &errorOffset,
                                                              compileContext.get()));
  if (!code) return nullptr;
  if (kept.size() == kKept) kept.erase(kept.begin());
  kept.push_back({pattern, options, std::move(code)});
  return kept.back().code.get();
}

}  // namespace

struct RegexObject::State {
  bool searched = false;  // the last Search compiled its pattern and searched the subject
  Text pattern;
  Units subject;
  bool asciiSubject = false;  // every unit is one byte of the subject text
  std::size_t groupCount = 0;
  // For each match, 2 x (groupCount + 1) UTF-16 offsets: the whole match, then each group;
  // PCRE2_UNSET for a group that took no part in the match.
  std::vector<PCRE2_SIZE> offsets;

  std::size_t MatchTotal() const { return offsets.size() / (2 * (groupCount + 1)); }
  PCRE2_SIZE Length() const { return subject.size(); }

  // The 0-based byte offset in the subject text of the first `units` UTF-16 units: the
  // length in code page 936 of that prefix.
  int ByteOffset(PCRE2_SIZE units) const {
    if (asciiSubject) return static_cast<int>(units);
    return TextLength(Utf16ToAnsi(std::u16string_view(subject).substr(0, units)));
  }

  // Text and position of group (0 for the whole match) of the 0-based match, or the empty
  // text and -1 when either does not exist or the group took no part.
  Text Piece(int match, int group, int* position) const {
    if (position) *position = -1;
    if (!searched || match < 0 || static_cast<std::size_t>(match) >= MatchTotal() || group < 0 ||
        static_cast<std::size_t>(group) > groupCount) {
      return {};
    }
    const std::size_t at = static_cast<std::size_t>(match) * 2 * (groupCount + 1) +
                           2 * static_cast<std::size_t>(group);
    const PCRE2_SIZE start = offsets[at];
    const PCRE2_SIZE end = offsets[at + 1];
    if (start == PCRE2_UNSET || end < start || end > Length()) return {};
    // From the engine's own offset: searching the text again for the match text could land
    // on an earlier equal text or a case variant of it.
    if (position) *position = ByteOffset(start);
    return Utf16ToAnsi(std::u16string_view(subject).substr(start, end - start));
  }
};

RegexObject::RegexObject() : m_state(std::make_unique<State>()) {}
RegexObject::~RegexObject() = default;

bool RegexObject::Search(std::string_view pattern, std::string_view subject, bool caseSensitive,
                         bool multiline, bool global, bool replaceQuotes) {
  *m_state = State{};

  Text usedPattern = replaceQuotes ? ReplaceText(pattern, kQuoteToken, "\"", true) : Text(pattern);
  // The expression object keeps the pattern written to it even when it cannot compile it.
  m_state->pattern = usedPattern;
  const std::optional<Units> enginePattern = TranslatePattern(AnsiToUtf16(usedPattern));
  if (!enginePattern) return false;

  // No PCRE2_UCP: \w, \d, \s and \b stay ASCII, as in the script engine. JavaScript reads
  // \uXXXX and \xHH (ALT_BSUX), "[]" and "[^]" (ALLOW_EMPTY_CLASS), a back reference to a
  // group that has not matched as empty (MATCH_UNSET_BACKREF) and an unknown escape as its
  // letter (BAD_ESCAPE_IS_LITERAL). Only a line feed is a newline, for ".", "^" and "$".
  std::uint32_t options = PCRE2_UTF | PCRE2_NEVER_UCP | PCRE2_NEVER_BACKSLASH_C | PCRE2_ALT_BSUX |
                          PCRE2_ALLOW_EMPTY_CLASS | PCRE2_MATCH_UNSET_BACKREF;
  if (!caseSensitive) options |= PCRE2_CASELESS;
  // A multiline "^" also matches after a final line feed; otherwise "$" matches only at the
  // very end, not before a final line feed as PCRE2 would by default.
  options |= multiline ? (PCRE2_MULTILINE | PCRE2_ALT_CIRCUMFLEX) : PCRE2_DOLLAR_ENDONLY;

  const pcre2_code* code = CompiledPattern(*enginePattern, options);
  if (code == nullptr) return false;

  std::uint32_t captureCount = 0;
  pcre2_pattern_info(code, PCRE2_INFO_CAPTURECOUNT, &captureCount);

  std::unique_ptr<pcre2_match_context, MatchContextDeleter> matchContext(
      pcre2_match_context_create(nullptr));
  std::unique_ptr<pcre2_match_data, MatchDataDeleter> matchData(
      pcre2_match_data_create_from_pattern(code, nullptr));
  if (!matchContext || !matchData) return false;
  pcre2_set_match_limit(matchContext.get(), kMatchLimit);
  pcre2_set_depth_limit(matchContext.get(), kDepthLimit);
  pcre2_set_heap_limit(matchContext.get(), kHeapLimitKiB);

  State found;
  found.pattern = usedPattern;
  found.subject = AnsiToUtf16(subject);
  found.groupCount = captureCount;
  found.asciiSubject = found.Length() == subject.size();
  for (unsigned char byte : subject) {
    if (byte >= 0x80) found.asciiSubject = false;
  }

  const Units& subjectUnits = found.subject;
  const PCRE2_SIZE length = found.Length();
  const std::size_t pairs = captureCount + 1;
  PCRE2_SIZE start = 0;
  std::uint32_t matchOptions = 0;  // the subject's UTF-16 is checked on the first call only
  while (start <= length) {
    const int rc = pcre2_match(code, EngineUnits(subjectUnits), length, start, matchOptions,
                               matchData.get(), matchContext.get());
    if (rc == PCRE2_ERROR_NOMATCH) break;
    if (rc < 0) return false;  // match, depth or heap limit, or a subject the engine refuses
    matchOptions = PCRE2_NO_UTF_CHECK;
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(matchData.get());
    found.offsets.insert(found.offsets.end(), ovector, ovector + 2 * pairs);
    if (!global) break;
    // As in the script engine, the next search starts where this match ended, and one
    // character later after an empty match, so an empty match never repeats.
    const PCRE2_SIZE end = ovector[1];
    if (end > ovector[0]) {
      start = end;
    } else if (end < length && (subjectUnits[end] & 0xFC00) == 0xD800 && end + 1 < length &&
               (subjectUnits[end + 1] & 0xFC00) == 0xDC00) {
      start = end + 2;
    } else {
      start = end + 1;
    }
  }

  found.searched = true;
  *m_state = std::move(found);
  return true;
}

Text RegexObject::CurrentPattern() const { return m_state->pattern; }

Text RegexObject::ReplaceMatches(std::string_view replacement) {
  const State& s = *m_state;
  if (!s.searched) return {};
  const Units with = AnsiToUtf16(replacement);
  const Units& subject = s.subject;
  const PCRE2_SIZE length = s.Length();
  const std::size_t pairs = s.groupCount + 1;
  Units out;
  out.reserve(length);
  auto appendRange = [&](PCRE2_SIZE from, PCRE2_SIZE to) {
    if (from != PCRE2_UNSET && from < to && to <= length) {
      out.insert(out.end(), subject.begin() + from, subject.begin() + to);
    }
  };
  auto isDigit = [](PCRE2_UCHAR16 c) { return c >= '0' && c <= '9'; };

  PCRE2_SIZE done = 0;
  for (std::size_t m = 0; m < s.MatchTotal(); ++m) {
    const PCRE2_SIZE* ov = &s.offsets[m * 2 * pairs];
    const PCRE2_SIZE matchStart = ov[0];
    const PCRE2_SIZE matchEnd = ov[1] < ov[0] ? ov[0] : ov[1];
    appendRange(done, matchStart);
    // $$, $&, $`, $', and $n / $nn for groups 1 to 99: a two-digit number is taken when that
    // group exists, else one digit when that group exists, else the "$" stays literal.
    for (std::size_t i = 0; i < with.size(); ++i) {
      const PCRE2_UCHAR16 c = with[i];
      if (c != '$' || i + 1 == with.size()) {
        out.push_back(c);
        continue;
      }
      const PCRE2_UCHAR16 next = with[i + 1];
      if (next == '$') {
        out.push_back('$');
        ++i;
      } else if (next == '&') {
        appendRange(matchStart, matchEnd);
        ++i;
      } else if (next == '`') {
        appendRange(0, matchStart);
        ++i;
      } else if (next == '\'') {
        appendRange(matchEnd, length);
        ++i;
      } else if (isDigit(next)) {
        std::size_t group = next - '0';
        std::size_t used = 1;
        if (i + 2 < with.size() && isDigit(with[i + 2])) {
          const std::size_t two = group * 10 + (with[i + 2] - '0');
          if (two >= 1 && two <= s.groupCount) {
            group = two;
            used = 2;
          }
        }
        if (group >= 1 && group <= s.groupCount) {
          appendRange(ov[2 * group], ov[2 * group + 1]);
          i += used;
        } else {
          out.push_back(c);
        }
      } else {
        out.push_back(c);
      }
    }
    done = matchEnd;
  }
  appendRange(done, length);
  return Utf16ToAnsi(out);
}

int RegexObject::MatchCount() const {
  if (!m_state->searched) return 0;
  const std::size_t total = m_state->MatchTotal();
  return total > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(total);
}

Text RegexObject::MatchText(int matchIndex, int* position) const {
  return m_state->Piece(matchIndex - 1, 0, position);
}

Text RegexObject::SubMatchText(int matchIndex, int subIndex, int* position) const {
  if (subIndex < 1) {
    if (position) *position = -1;
    return {};
  }
  return m_state->Piece(matchIndex - 1, subIndex, position);
}

int RegexObject::SubMatchCount() const {
  const State& s = *m_state;
  if (!s.searched || s.MatchTotal() == 0) return 0;
  return static_cast<int>(s.groupCount);
}

}  // namespace korvanel
