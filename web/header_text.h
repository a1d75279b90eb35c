// Text helpers over a block of header lines separated by CR LF.
#pragma once

#include "text/text.h"

namespace korvanel {

// Every line holding a colon, with the first letter of each hyphen-separated word of its
// name upper-cased and every other byte kept; lines without a colon are dropped and the
// block loses its final CR LF. The empty text when no line holds a colon.
Text NormalizeHeaderNames(std::string_view block);
// The word with its first byte upper-cased when it is an ASCII letter a-z.
Text CapitalizeFirst(std::string_view word);
// The value after "name: " on the first line that begins with name (case-sensitive prefix
// test); the empty text when no line begins with name or that line lacks "name: ".
Text FindHeaderValue(std::string_view block, std::string_view name);

}  // namespace korvanel
