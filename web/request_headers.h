// The request header block that WebRequest hands to the HTTP layer in one call.
#pragma once

#include "text/text.h"

namespace korvanel {

Text BuildRequestHeaderBlock(std::string_view extraHeaders, int method,
                             std::string_view sendCookies, bool addDefaultHeaders = true,
                             bool normalizeHeaderCase = true);

}  // namespace korvanel
