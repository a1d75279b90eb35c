// WebRequest: one synchronous HTTP or HTTPS request with every option the tool's callers need.
//
// Failures are reported, never thrown: a numbered message ("700 ..." to "713 ...", or the
// certificate message) is stored in *statusText and the result is the empty text. HTTP error
// statuses are not failures. Out-parameters are written only when the caller supplies them.
#pragma once

#include "text/text.h"
#include "web/http_api.h"

namespace korvanel {

// Every member has a default initializer, so designated initializers that name only a few
// members, as callers write them, compile without missing-initializer warnings.
struct WebRequestOptions {  // members in the order of the routine's parameters 2..21
  int method = 0;           // 0 GET, 1 POST, 2 HEAD, 3 PUT, 4 OPTIONS, 5 DELETE, 6 TRACE, 7 CONNECT
  Text postText{};
  Text* sendCookies = nullptr;      // in-out
  Text* returnedCookies = nullptr;  // in-out
  Text extraHeaders{};
  Text* responseHeaders = nullptr;  // out
  bool noRedirect = false;
  Text userName{};
  Text password{};
  Text proxy{};
  Text proxyUserName{};
  Text proxyPassword{};
  int timeoutSeconds = 0;            // 0 or less: 30 seconds
  Text* redirectLocation = nullptr;  // out
  Text* statusText = nullptr;        // out
  ByteSet* responseBytes = nullptr;  // out
  bool mergeCookies = true;
  bool addDefaultHeaders = true;
  ByteSet postBytes{};
  bool normalizeHeaderCase = true;
};

// Over the platform's HTTP backend.
Text WebRequest(std::string_view url, const WebRequestOptions& options = {});
// Over the given backend (the tests pass a fake).
Text WebRequest(HttpApi& api, std::string_view url, const WebRequestOptions& options = {});

}  // namespace korvanel
