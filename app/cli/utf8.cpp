#include "app/cli/utf8.h"

namespace korvanel::cli {

int DisplayWidth(std::string_view text) { return static_cast<int>(text.size()); }

}  // namespace korvanel::cli
