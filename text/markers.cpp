#include "text/markers.h"

#include <climits>
#include <cstdint>

namespace korvanel {
namespace {

// Positions are worked out in 64 bits so that extreme start positions cannot overflow;
// anything outside int lies outside every text anyway.
int Clamp(std::int64_t value) {
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

// The first occurrence at or after byte start (below 1: from byte 1).
int ForwardFrom(std::string_view text, std::string_view marker, std::int64_t start,
                bool ignoreCase) {
  return FindText(text, marker, Clamp(start), ignoreCase);
}

// The last occurrence lying wholly within bytes 1 .. end - 1.
int BackwardBelow(std::string_view text, std::string_view marker, std::int64_t end,
                  bool ignoreCase) {
  if (end <= 1) return -1;
  return FindTextReverse(text, marker, Clamp(end), ignoreCase);
}

}  // namespace

Text TextRightOf(std::string_view text, std::string_view marker, int startPosition,
                 bool ignoreCase) {
  const std::int64_t len = TextLength(text);
  const int pos = startPosition < 0
                      ? ForwardFrom(text, marker, -std::int64_t{startPosition}, ignoreCase)
                      : BackwardBelow(text, marker, len - startPosition, ignoreCase);
  if (pos == -1) return {};
  return TextRight(text, Clamp(len - TextLength(marker) - pos + 1));
}

Text TextLeftOf(std::string_view text, std::string_view marker, int startPosition,
                bool ignoreCase) {
  int pos;
  if (startPosition < 0) {
    // -1 means "from the end", the same as -0 would.
    const std::int64_t k = startPosition == -1 ? 0 : -std::int64_t{startPosition};
    pos = BackwardBelow(text, marker, TextLength(text) - k, ignoreCase);
  } else {
    pos = ForwardFrom(text, marker, startPosition, ignoreCase);
  }
  if (pos == -1) return {};
  return TextLeft(text, pos - 1);
}

Text TextBetween(std::string_view text, std::string_view startMarker, std::string_view endMarker,
                 int startPosition, bool ignoreCase) {
  const Text start = ReplaceText(startMarker, kQuoteToken, "\"", true);
  const Text end = ReplaceText(endMarker, kQuoteToken, "\"", true);
  int p1 = FindText(text, start, startPosition, ignoreCase);
  if (p1 == -1) return {};
  p1 = Clamp(std::int64_t{p1} + TextLength(start));
  const int p2 = FindText(text, end, p1, ignoreCase);
  if (p2 == -1) return {};
  return TextMid(text, p1, Clamp(std::int64_t{p2} - p1));
}

}  // namespace korvanel
