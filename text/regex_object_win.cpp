// RegexObject over the script engine's regular-expression object, "VBScript.RegExp", driven
// through COM automation. The object initialises COM on its thread for its lifetime.
#include "text/regex_object.h"

#include <algorithm>

#include "text/automation_win.h"
#include "text/code_page.h"
#include "text/wine_quirks_win.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <objbase.h>
// Windows headers name macros after several of our routines.
#undef FindText

namespace korvanel {
namespace {

// "#引号": the placeholder that stands for a double quote in a pattern when asked to.
constexpr std::string_view kQuotePlaceholder = "#\xD2\xFD\xBA\xC5";

// The byte length, in code page 936, of the first units UTF-16 units of subject: the byte
// offset of the script engine's FirstIndex, which counts UTF-16 units.
int ByteOffsetOfUnit(const std::u16string& subject, int units) {
  if (units <= 0) return 0;
  const std::u16string_view prefix =
      std::u16string_view(subject).substr(0, static_cast<std::size_t>(units));
  return TextLength(Utf16ToAnsi(prefix));
}

int Truncated(double value) {
  // A count or an index read as a real is used as an integer, truncated toward zero.
  if (!(value > -2147483648.0 && value < 2147483648.0)) return 0;
  return static_cast<int>(value);
}

}  // namespace

struct RegexObject::State {
  automation::Object regExp;   // the object of the last Search
  automation::Object matches;  // the match collection of its "Execute"
  automation::Variant subject; // the text of the last Search; the integer 0 before the first
  bool comInitialised = false;
  bool refusedGlobal = false;  // the last Search was not run: the engine would have looped

  // Item matchIndex (1-based) of the collection, empty when there is none.
  automation::Object Match(int matchIndex) const {
    if (matchIndex < 1) return {};
    return matches.ReadObject("Item", {static_cast<double>(matchIndex - 1)});
  }
  // The 0-based byte offset in the subject where a match starts.
  int MatchOffset(const automation::Object& match) const {
    return ByteOffsetOfUnit(subject.AsUtf16(), Truncated(match.ReadNumber("FirstIndex")));
  }
};

RegexObject::RegexObject() : m_state(std::make_unique<State>()) {
  m_state->subject.AssignInteger(0);
  // A thread that is already in a multi-threaded apartment refuses; then this object must
  // not un-initialise COM that it did not initialise.
  m_state->comInitialised = SUCCEEDED(CoInitialize(nullptr));
}

RegexObject::~RegexObject() {
  // Every COM reference goes before COM is un-initialised.
  m_state->regExp.Release();
  m_state->matches.Release();
  m_state->subject.Clear();
  if (m_state->comInitialised) CoUninitialize();
}

bool RegexObject::Search(std::string_view pattern, std::string_view subject, bool caseSensitive,
                         bool multiline, bool global, bool replaceQuotes) {
  State& state = *m_state;
  state.regExp.Release();
  state.matches.Release();
  // A failed creation leaves regExp empty; every call below then fails silently and the
  // result is false.
  state.regExp.CreateFromProgId("VBScript.RegExp");
  state.regExp.Write("IgnoreCase", !caseSensitive);
  state.regExp.Write("Multiline", multiline);
  // Engines that know single-line mode take it; the standard object ignores this write.
  state.regExp.Write("Singleline", true);
  state.regExp.Write("Global", global);
  const Text used =
      replaceQuotes ? ReplaceText(pattern, kQuotePlaceholder, "\"", true) : Text(pattern);
  state.regExp.Write("Pattern", used);
  state.subject.AssignText(subject);
  state.refusedGlobal = global && wine::ScriptEngineWouldLoop(state.regExp, state.subject);
  if (state.refusedGlobal) return false;
  // An invalid pattern makes "Execute" raise an error, which leaves matches empty.
  state.matches = state.regExp.CallObject("Execute", {state.subject});
  return !state.matches.IsEmpty();
}

Text RegexObject::CurrentPattern() const {
  if (m_state->regExp.IsEmpty()) return {};
  return m_state->regExp.ReadText("Pattern");
}

Text RegexObject::ReplaceMatches(std::string_view replacement) {
  if (m_state->refusedGlobal) return {};
  return m_state->regExp.CallText("Replace", {m_state->subject, replacement});
}

int RegexObject::MatchCount() const { return Truncated(m_state->matches.ReadNumber("Count")); }

Text RegexObject::MatchText(int matchIndex, int* position) const {
  const automation::Object match = m_state->Match(matchIndex);
  if (match.IsEmpty()) {
    if (position != nullptr) *position = -1;
    return {};
  }
  Text text = match.ReadText("Value");
  if (position != nullptr) *position = m_state->MatchOffset(match);
  return text;
}

Text RegexObject::SubMatchText(int matchIndex, int subIndex, int* position) const {
  const automation::Object match = m_state->Match(matchIndex);
  automation::Variant value;
  if (!match.IsEmpty() && subIndex >= 1) {
    value = match.ReadObject("SubMatches").Read("Item", {static_cast<double>(subIndex - 1)});
  }
  // A group that took no part in the match reads as an empty variant, not as a string.
  if (value.IsEmpty()) {
    if (position != nullptr) *position = -1;
    return {};
  }
  Text text = value.AsText();
  if (position != nullptr) {
    // The engine gives no offset of its own for a group: it is the first place inside the
    // match where the group's text stands.
    const int found = FindText(match.ReadText("Value"), text);
    *position = found < 1 ? -1 : m_state->MatchOffset(match) + found - 1;
  }
  return text;
}

int RegexObject::SubMatchCount() const {
  const automation::Object first = m_state->Match(1);
  return Truncated(first.ReadObject("SubMatches").ReadNumber("Count"));
}

}  // namespace korvanel
