#include <ctime>

#include "app/cli/http_date.h"

namespace korvanel::cli {

std::optional<std::chrono::system_clock::time_point> ParseHttpDate(const std::string& text) {
  std::tm parts{};
  const char* end = strptime(text.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &parts);
  if (end == nullptr || *end != '\0') return std::nullopt;
  return std::chrono::system_clock::from_time_t(timegm(&parts));
}

}  // namespace korvanel::cli
