#include "app/records/record_text.h"

namespace korvanel {

int DisplayWidth(std::string_view text) { return static_cast<int>(text.size()); }

}  // namespace korvanel
