// Cutting a piece of text out by the marker texts around it.
//
// These are how the program reads structured answers: the latest event out of a tracking
// page, header names and cookie pairs out of response header lines. Every case where a
// marker is not found gives the empty text.
#pragma once

#include <string_view>

#include "text/text.h"

namespace korvanel {

// "#引号": TextBetween reads it as a double quote in its markers, so callers can write a
// marker holding double quotes without escaping them.
inline constexpr std::string_view kQuoteToken = "#\xD2\xFD\xBA\xC5";

// What follows the chosen occurrence of marker. startPosition >= 0 searches backward: the
// last occurrence lying within bytes 1 .. len - startPosition - 1 (so the default does not
// see an occurrence that ends at the last byte). startPosition -k searches forward from k.
Text TextRightOf(std::string_view text, std::string_view marker, int startPosition = 0,
                 bool ignoreCase = false);
// What precedes the chosen occurrence of marker. startPosition >= 0 searches forward from
// it (the default finds the first occurrence); -1 and -k search backward.
Text TextLeftOf(std::string_view text, std::string_view marker, int startPosition = 0,
                bool ignoreCase = false);
// The bytes between the first startMarker at or after startPosition and the first endMarker
// that starts after it.
Text TextBetween(std::string_view text, std::string_view startMarker, std::string_view endMarker,
                 int startPosition = 0, bool ignoreCase = false);

}  // namespace korvanel
