// Text, byte-set and text-array primitives.
//
// A Text holds code page 936 (GBK) bytes and never a zero byte. Lengths and positions count
// bytes; positions are 1-based and a search that finds nothing gives -1. A byte of 0x80 or
// above starts a double-byte character, and the walks below that are double-byte aware only
// ever match at character starts, so a trail byte that happens to equal an ASCII marker is
// never mistaken for one. None of these routines fails: a count or position outside the text
// gives the empty text or -1.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvanel {

using Text = std::string;                   // code page 936 bytes; never holds a zero byte
using ByteSet = std::vector<std::uint8_t>;  // counted bytes; may hold zero bytes
using TextArray = std::vector<Text>;        // addressed 1..count by ElementAt

int TextLength(std::string_view text);
// The first min(count, length) bytes; empty when count <= 0. May split a character.
Text TextLeft(std::string_view text, int count);
// The last min(count, length) bytes; empty when count <= 0.
Text TextRight(std::string_view text, int count);
// count bytes from 1-based start; empty when start < 1, start > length or count <= 0.
Text TextMid(std::string_view text, int start, int count);
// The first byte as a signed value (-128..127); 0 for the empty text.
int CharCode(std::string_view text);
// A one-byte text holding the low byte of code; empty for a low byte of 0.
Text CharFromCode(int code);
// First occurrence starting at or after start (missing or < 1: from byte 1); -1 when none.
// An empty sought text gives 1 whenever the search range is not empty.
int FindText(std::string_view text, std::string_view sought,
             std::optional<int> start = std::nullopt, bool ignoreCase = false);
// Last occurrence lying wholly within the first start - 1 bytes (missing: the whole text).
int FindTextReverse(std::string_view text, std::string_view sought,
                    std::optional<int> start = std::nullopt, bool ignoreCase = false);
// Every occurrence of sought replaced, left to right without overlap; the text unchanged
// when the text or sought is empty.
Text ReplaceText(std::string_view text, std::string_view sought, std::string_view replacement,
                 bool caseSensitive);
// Pieces between separators; a trailing separator gives no empty last piece; the empty
// text gives no pieces; an empty separator gives the whole text as one piece.
TextArray SplitText(std::string_view text, std::string_view separator);
// Without leading and trailing ASCII spaces and full-width spaces (0xA1 0xA1).
Text TrimBoth(std::string_view text);
// ASCII a-z upper-cased; double-byte characters untouched.
Text ToUpper(std::string_view text);
// 0 when equal; negative when a sorts first. Without case, ASCII letters fold.
int CompareText(std::string_view a, std::string_view b, bool caseSensitive);
bool TextEquals(std::string_view a, std::string_view b);
Text ConcatText(std::initializer_list<std::string_view> pieces);

ByteSet TextToBytes(std::string_view text);
// The bytes before the first zero byte, or all of them.
Text BytesToText(const ByteSet& bytes);
int ByteCount(const ByteSet& bytes);
ByteSet BytesLeft(const ByteSet& bytes, int count);
ByteSet BlankBytes(int count);
ByteSet BytesFromAddress(const void* address, int count);
ByteSet ConcatBytes(std::initializer_list<const ByteSet*> pieces);
bool BytesEqual(const ByteSet& a, const ByteSet& b);

int ElementCount(const TextArray& array);
// The element at 1-based index; an index outside 1..count is the caller's fault and reads
// as the empty text rather than touching memory it does not own.
const Text& ElementAt(const TextArray& array, int index);
void AppendElement(TextArray& array, std::string_view text);

// The whole file as text, ending before the first NUL or 0x1A at a character start; empty
// when the path is empty or the file cannot be opened. The path is code page 936 text.
Text ReadTextFile(std::string_view path);
// A file's bytes, read by other means, as ReadTextFile would give them: they end before the
// first NUL or 0x1A at a character start.
Text TextFromFileBytes(std::string bytes);

}  // namespace korvanel
