#include "app/records/record_text.h"

#include "text/code_page.h"

namespace korvanel {

std::string GbkToUtf8(std::string_view text) { return Utf16LeToUtf8(AnsiToUnicode(text)); }

int DisplayWidth(std::string_view text) { return static_cast<int>(text.size()); }

}  // namespace korvanel
