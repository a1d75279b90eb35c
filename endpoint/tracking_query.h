// Reading the query string of "/korvanelapi.php?yundanhao=...&type=html".
//
// The desktop tool inserts the number unchanged; its HTTP layer escapes bytes above 0x7F as
// UTF-8 percent escapes of the characters, while other clients send the GBK bytes raw or
// percent-escaped. So a number is looked up first as UTF-8 after percent-decoding and then
// as GBK. A "+" is a plus sign, not a space: the tool never writes a space as "+", and a
// plus can be part of a number.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korvanel::endpoint {

// %XX becomes its byte; a "%" not followed by two hex digits and every other byte stay as
// they are.
std::string PercentDecode(std::string_view text);

// One way to read the received number.
struct NumberForm {
  std::string utf8;  // as the database keeps it
  std::string gbk;   // as the page shows it
};

struct TrackingQuery {
  bool valid = false;
  std::string problem;  // code page 936, for the answer's page, when not valid
  // The readings to look up, in order; empty when the bytes are neither UTF-8 with a GBK
  // form nor GBK, so the number cannot be known.
  std::vector<NumberForm> forms;
};

// A valid query has exactly one yundanhao, 1 to 64 bytes in code page 936 without control
// characters, and exactly one type, "html". Other keys are ignored.
TrackingQuery ParseTrackingQuery(std::string_view queryString);

}  // namespace korvanel::endpoint
