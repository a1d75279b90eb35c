#include "web/header_text.h"

#include "text/markers.h"

namespace korvanel {

namespace {

constexpr std::string_view kLineBreak = "\r\n";

}  // namespace

Text NormalizeHeaderNames(std::string_view block) {
  Text result;
  for (const Text& piece : SplitText(block, kLineBreak)) {
    // The colon search walks characters, so a trail byte equal to ":" never ends a name.
    const int colon = FindText(piece, ":");
    if (colon == -1) continue;  // not a header line
    const Text name = TextLeft(piece, colon - 1);

    Text newName;
    if (FindText(name, "-") != -1) {
      const TextArray words = SplitText(name, "-");
      for (int i = 1; i <= ElementCount(words); ++i) {
        if (i > 1) newName += '-';
        newName += CapitalizeFirst(ElementAt(words, i));
      }
    } else {
      newName = CapitalizeFirst(name);
    }

    // Splitting drops an empty last word, so a name ending in "-" comes back one hyphen
    // short; taking the tail by length hands that hyphen back, and no byte is lost.
    const Text tail = TextRight(piece, TextLength(piece) - TextLength(newName));
    result += newName;
    result += tail;
    result += kLineBreak;
  }
  return TextLeft(result, TextLength(result) - 2);
}

Text CapitalizeFirst(std::string_view word) {
  Text result(word);
  // Only a-z change: a lead byte of a double-byte character is left alone.
  if (!result.empty() && result[0] >= 'a' && result[0] <= 'z') {
    result[0] = static_cast<char>(result[0] - 'a' + 'A');
  }
  return result;
}

Text FindHeaderValue(std::string_view block, std::string_view name) {
  const int nameLength = TextLength(name);
  const Text marker = ConcatText({name, ": "});
  for (const Text& line : SplitText(block, kLineBreak)) {
    // A prefix test, and the first line that passes it decides, even when it lacks
    // "name: " and a later line would have given a value.
    if (TextEquals(TextLeft(line, nameLength), name)) return TextRightOf(line, marker);
  }
  return Text();
}

}  // namespace korvanel
