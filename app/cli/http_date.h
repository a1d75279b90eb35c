// The date of a Retry-After header.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace korvanel::cli {

// An HTTP date in the one form servers are told to send, "Sun, 06 Nov 1994 08:49:37 GMT"
// (names in any letter case, full names too); nothing for anything else.
std::optional<std::chrono::system_clock::time_point> ParseHttpDate(const std::string& text);

}  // namespace korvanel::cli
