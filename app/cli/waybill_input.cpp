#include "app/cli/waybill_input.h"

namespace korvanel::cli {

Text WithCrLfLineEnds(std::string_view text) {
  Text result;
  result.reserve(text.size() + text.size() / 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) result += '\r';
    result += text[i];
  }
  return result;
}

}  // namespace korvanel::cli
