// Turning a page's bytes into code page 936 text, from the character set the page declares.
#pragma once

#include <optional>

#include "text/text.h"

namespace korvanel {

// The text that body spells in the named character set (names matched without regard to
// letter case, with the usual aliases), converted to code page 936; characters with no GBK
// form and bytes invalid in that character set become "?". std::nullopt when the name is not
// one the converter knows, so the caller can keep the page as it came.
std::optional<Text> DecodeCharset(const ByteSet& body, std::string_view charsetName);

}  // namespace korvanel
