#include "web/cookies.h"

namespace korvanel {

namespace {

constexpr std::string_view kCookieSeparator = "; ";
constexpr std::string_view kDeletedSuffix = "=deleted";

// True when the text ends with suffix starting at a character start, so the trail byte of
// a double-byte character that happens to equal ";" is not taken for one.
bool EndsWith(std::string_view text, std::string_view suffix) {
  const int start = TextLength(text) - TextLength(suffix) + 1;
  return start >= 1 && FindTextReverse(text, suffix) == start;
}

// Trimmed, and a final ";" turned into a whole separator so that it splits off cleanly
// and leaves no ";" on the last item.
Text TidyCookieText(std::string_view cookies) {
  Text result = TrimBoth(cookies);
  if (EndsWith(result, ";")) result += ' ';
  return result;
}

}  // namespace

Text MergeCookies(Text& oldCookies, Text& newCookies) {
  oldCookies = TidyCookieText(oldCookies);
  newCookies = TidyCookieText(newCookies);

  const TextArray oldList = SplitText(oldCookies, kCookieSeparator);
  TextArray newList = SplitText(newCookies, kCookieSeparator);

  // The response's cookies win; a request cookie is carried over only when no item of the
  // growing list has its name yet, so only the first of several same-named ones survives.
  for (int i = 1; i <= ElementCount(oldList); ++i) {
    const Text& item = ElementAt(oldList, i);
    if (!HasCookieNamed(newList, CookieName(item))) AppendElement(newList, item);
  }

  oldCookies.clear();
  for (int i = 1; i <= ElementCount(newList); ++i) {
    const Text& item = ElementAt(newList, i);
    if (EndsWith(item, kDeletedSuffix)) continue;  // the server asked to forget it
    oldCookies += item;
    oldCookies += kCookieSeparator;
  }
  oldCookies = TextLeft(oldCookies, TextLength(oldCookies) - TextLength(kCookieSeparator));
  oldCookies = RemoveDuplicateItems(oldCookies, kCookieSeparator);
  return oldCookies;
}

Text CookieName(std::string_view item) {
  const int equals = FindText(item, "=");
  if (equals == -1) return TrimBoth(item);
  return TrimBoth(TextLeft(item, equals - 1));
}

bool HasCookieNamed(const TextArray& list, std::string_view name) {
  for (int i = 1; i <= ElementCount(list); ++i) {
    if (TextEquals(CookieName(ElementAt(list, i)), name)) return true;
  }
  return false;
}

Text RemoveDuplicateItems(std::string_view text, std::string_view separator) {
  const TextArray items = SplitText(text, separator);
  TextArray kept;
  Text result;
  for (int i = 1; i <= ElementCount(items); ++i) {
    const Text& item = ElementAt(items, i);
    if (IndexOfItem(kept, item) != -1) continue;
    AppendElement(kept, item);
    result += item;
    result += separator;
  }
  return TextLeft(result, TextLength(result) - TextLength(separator));
}

int IndexOfItem(const TextArray& list, std::string_view item) {
  for (int i = 1; i <= ElementCount(list); ++i) {
    if (TextEquals(ElementAt(list, i), item)) return i;
  }
  return -1;
}

}  // namespace korvanel
