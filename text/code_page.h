// Conversion between code page 936 text and UTF-16, always with code page 936 whatever
// the system's own settings are.
#pragma once

#include <string>
#include <string_view>

#include "text/text.h"

namespace korvanel {

// The bridge every caller that hands text to a UTF-16 interface uses (the HTTP backends,
// the regular-expression engines, the windows).
//
// The UTF-16 units of text, without a terminating zero; empty for the empty text. The text
// ends at a zero byte, if it holds one. A lead byte without a valid trail byte does not
// spoil the rest: it becomes U+003F, the code page's default character.
std::u16string AnsiToUtf16(std::string_view text);
// The units up to the first zero unit as code page 936 text; a unit with no GBK form
// becomes "?", each unit of a surrogate pair on its own. A base letter followed by a
// combining mark converts as the precomposed letter where code page 936 has it.
Text Utf16ToAnsi(std::u16string_view units);

// The described routines, over UTF-16LE bytes.
//
// The zero-terminated UTF-16LE form of text (2 x (units + 1) bytes); the empty byte set for
// the empty text. Otherwise as AnsiToUtf16.
ByteSet AnsiToUnicode(std::string_view text);
// UTF-16LE code units (a trailing odd byte ignored) as code page 936 text, as Utf16ToAnsi.
Text UnicodeToAnsi(const ByteSet& bytes);

}  // namespace korvanel
