// Conversion between code page 936 text and UTF-16LE, always with code page 936 whatever
// the system's own settings are.
#pragma once

#include "text/text.h"

namespace korvanel {

// The zero-terminated UTF-16LE form of text (2 x (units + 1) bytes); the empty byte set for
// the empty text. The text ends at a zero byte, if it holds one. A lead byte without a valid
// trail byte does not spoil the rest: it becomes U+003F, the code page's default character.
ByteSet AnsiToUnicode(std::string_view text);
// UTF-16LE code units (a trailing odd byte ignored) as code page 936 text, ending at the first
// zero unit; a unit with no GBK form becomes "?", each unit of a surrogate pair on its own.
// A base letter followed by a combining mark converts as the precomposed letter where code
// page 936 has it.
Text UnicodeToAnsi(const ByteSet& bytes);

}  // namespace korvanel
