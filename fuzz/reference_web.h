// Plain reference versions of the header text helpers, the request header block and the
// cookie merge, written step by step from their rules over the reference text walk.
#pragma once

#include <string>
#include <string_view>

#include "fuzz/reference_text.h"

namespace ref {

inline Text CapitalizeFirst(std::string_view word) {
  Text out(word);
  if (!out.empty() && out[0] >= 'a' && out[0] <= 'z') out[0] = static_cast<char>(out[0] - 32);
  return out;
}

inline Text NormalizeHeaderNames(std::string_view block) {
  Text result;
  for (const Text& piece : SplitText(block, "\r\n")) {
    const int colon = FindText(piece, ":", std::nullopt, false);
    if (colon == -1) continue;
    const Text name = TextLeft(piece, colon - 1);
    Text newName;
    if (FindText(name, "-", std::nullopt, false) != -1) {
      const TextArray words = SplitText(name, "-");
      for (size_t i = 0; i < words.size(); ++i) {
        if (i > 0) newName += '-';
        newName += CapitalizeFirst(words[i]);
      }
    } else {
      newName = CapitalizeFirst(name);
    }
    result += newName;
    result += TextRight(piece, static_cast<i64>(piece.size()) - static_cast<i64>(newName.size()));
    result += "\r\n";
  }
  return TextLeft(result, static_cast<i64>(result.size()) - 2);
}

// The same result said the other way round: each line with a colon copied byte for byte,
// the first byte of its name and each byte after a "-" of the name upper-cased when a-z.
inline Text NormalizeHeaderNamesInEffect(std::string_view block) {
  Text result;
  for (const Text& piece : SplitText(block, "\r\n")) {
    const int colon = FindText(piece, ":", std::nullopt, false);
    if (colon == -1) continue;
    Text line = piece;
    bool wordStart = true;
    for (i64 i = 0; i < colon - 1; i += Step(line, i)) {
      if (wordStart && line[i] >= 'a' && line[i] <= 'z') line[i] = static_cast<char>(line[i] - 32);
      wordStart = line[i] == '-';
    }
    result += line;
    result += "\r\n";
  }
  return TextLeft(result, static_cast<i64>(result.size()) - 2);
}

inline Text FindHeaderValue(std::string_view block, std::string_view name) {
  for (const Text& line : SplitText(block, "\r\n")) {
    if (TextLeft(line, static_cast<i64>(name.size())) == name) {
      return TextRightOf(line, Text(name) + ": ", 0, false);
    }
  }
  return {};
}

inline Text BuildRequestHeaderBlock(std::string_view extra, int method, std::string_view cookies,
                                    bool addDefaults, bool normalize) {
  struct Row {
    const char* key;
    const char* line;
    bool postOnly;
  };
  static const Row rows[] = {
      {"User-Agent: ",
       "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)\r\n",
       false},
      {"Accept: ", "Accept: text/html, application/xhtml+xml, */*\r\n", false},
      {"Accept-Encoding: ", "Accept-Encoding: gbk, GB2312\r\n", false},
      {"Accept-Language: ", "Accept-Language: zh-cn\r\n", false},
      {"Content-Type:", "Content-Type: application/x-www-form-urlencoded\r\n", true},
      {"Cache-Control: ", "Cache-Control: no-cache\r\n", false},
  };
  Text block;
  if (!extra.empty()) block = Text(extra) + "\r\n";
  if (addDefaults) {
    for (const Row& row : rows) {
      if (row.postOnly && method != 1) continue;
      if (FindText(block, row.key, std::nullopt, true) == -1) block += row.line;
    }
  }
  if (normalize) block = NormalizeHeaderNames(block);
  if (FindText(block, "Connection", std::nullopt, false) != -1 &&
      FindHeaderValue(block, "Connection") == "keep-alive") {
    block = ReplaceText(block, "Connection: keep-alive\r\n", "", true);
  }
  if (FindText(block, "Cookie:", std::nullopt, true) == -1 && !cookies.empty()) {
    if (FindText(cookies, "Cookie:", std::nullopt, true) != -1) {
      block += "\r\n" + Text(cookies) + "\r\n";
    } else {
      block += "\r\nCookie: " + Text(cookies) + "\r\n";
    }
  }
  return block;
}

// True when text ends with suffix and the suffix begins at a character start (matches are
// only ever taken at character starts).
inline bool EndsWithAt(std::string_view t, std::string_view suffix) {
  const i64 start = static_cast<i64>(t.size()) - static_cast<i64>(suffix.size());
  if (start < 0 || !MatchAt(t, start, suffix, false)) return false;
  i64 i = 0;
  while (i < start) i += Step(t, i);
  return i == start;
}

inline Text CookieName(std::string_view item) {
  const int eq = FindText(item, "=", std::nullopt, false);
  return TrimBoth(eq == -1 ? Text(item) : TextLeft(item, eq - 1));
}

inline Text RemoveDuplicateItems(std::string_view text, std::string_view sep) {
  TextArray kept;
  Text result;
  for (const Text& item : SplitText(text, sep)) {
    bool seen = false;
    for (const Text& k : kept) seen = seen || k == item;
    if (seen) continue;
    kept.push_back(item);
    result += item;
    result += sep;
  }
  return TextLeft(result, static_cast<i64>(result.size()) - static_cast<i64>(sep.size()));
}

inline Text MergeCookies(Text& oldCookies, Text& newCookies) {
  for (Text* t : {&oldCookies, &newCookies}) {
    *t = TrimBoth(*t);
    if (EndsWithAt(*t, ";")) *t += ' ';
  }
  const TextArray oldList = SplitText(oldCookies, "; ");
  TextArray newList = SplitText(newCookies, "; ");
  for (const Text& item : oldList) {
    const Text name = CookieName(item);
    bool named = false;
    for (const Text& n : newList) named = named || CookieName(n) == name;
    if (!named) newList.push_back(item);
  }
  oldCookies.clear();
  for (const Text& item : newList) {
    if (EndsWithAt(item, "=deleted")) continue;
    oldCookies += item;
    oldCookies += "; ";
  }
  oldCookies = TextLeft(oldCookies, static_cast<i64>(oldCookies.size()) - 2);
  oldCookies = RemoveDuplicateItems(oldCookies, "; ");
  return oldCookies;
}

}  // namespace ref
