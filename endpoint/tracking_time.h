// The one time format the endpoint stores and shows: "YYYY-MM-DD HH:MM:SS".
#pragma once

#include <string_view>

namespace korvanel::endpoint {

// True for exactly 19 characters in that format naming a real calendar day (leap years
// included) and a clock time from 00:00:00 to 23:59:59.
bool IsValidEventTime(std::string_view time);

}  // namespace korvanel::endpoint
