// Regular-expression matching with the script engine's syntax and options: JavaScript-style
// patterns, IgnoreCase, Multiline and Global. One object keeps the pattern and the matches of
// its last Search; every reading operation gives its empty value until a Search succeeds.
#pragma once

#include <memory>

#include "text/text.h"

namespace korvanel {

class RegexObject {
 public:
  RegexObject();
  ~RegexObject();
  RegexObject(const RegexObject&) = delete;
  RegexObject& operator=(const RegexObject&) = delete;

  // True when the pattern compiled and the subject was searched (even with no match).
  bool Search(std::string_view pattern, std::string_view subject, bool caseSensitive = false,
              bool multiline = true, bool global = true, bool replaceQuotes = false);
  Text CurrentPattern() const;
  Text ReplaceMatches(std::string_view replacement = {});
  int MatchCount() const;
  // matchIndex and subIndex are 1-based. position, when given, receives the 0-based byte
  // offset of the text in the subject (-1 when a group took no part in the match).
  Text MatchText(int matchIndex, int* position = nullptr) const;
  Text SubMatchText(int matchIndex, int subIndex, int* position = nullptr) const;
  int SubMatchCount() const;

 private:
  struct State;
  std::unique_ptr<State> m_state;
};

}  // namespace korvanel
