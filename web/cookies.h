// Merging the cookies a request sent with those its response set. Cookie text is items
// separated by "; " exactly.
#pragma once

#include "text/text.h"

namespace korvanel {

// Response cookies first (in their order), then request cookies the response did not name;
// items ending in "=deleted" dropped, byte-equal repeats removed. The result is also left in
// oldCookies; newCookies is left trimmed.
Text MergeCookies(Text& oldCookies, Text& newCookies);
// The text before the item's first "=", or the whole item, without surrounding spaces.
Text CookieName(std::string_view item);
bool HasCookieNamed(const TextArray& list, std::string_view name);
// Each byte-equal item kept once (first occurrence), joined by separator.
Text RemoveDuplicateItems(std::string_view text, std::string_view separator);
// 1-based position of the first item equal to item byte for byte; -1 when none.
int IndexOfItem(const TextArray& list, std::string_view item);

}  // namespace korvanel
