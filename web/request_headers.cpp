#include "web/request_headers.h"

#include "web/header_text.h"

namespace korvanel {

namespace {

struct DefaultHeaderLine {
  std::string_view searchKey;
  std::string_view line;
  bool onlyForPost;
};

// Offered in this order, each only when the block does not hold its key yet. The keys end
// in ": " so that a caller's "User-Agent:X" does not count, except "Content-Type:", which
// any spacing of the caller's own line suppresses.
constexpr DefaultHeaderLine kDefaultHeaderLines[] = {
    {"User-Agent: ",
     "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)\r\n",
     false},
    {"Accept: ", "Accept: text/html, application/xhtml+xml, */*\r\n", false},
    {"Accept-Encoding: ", "Accept-Encoding: gbk, GB2312\r\n", false},
    {"Accept-Language: ", "Accept-Language: zh-cn\r\n", false},
    {"Content-Type:", "Content-Type: application/x-www-form-urlencoded\r\n", true},
    {"Cache-Control: ", "Cache-Control: no-cache\r\n", false},
};

constexpr int kMethodPost = 1;

}  // namespace

Text BuildRequestHeaderBlock(std::string_view extraHeaders, int method,
                             std::string_view sendCookies, bool addDefaultHeaders,
                             bool normalizeHeaderCase) {
  Text block;
  if (!extraHeaders.empty()) block = ConcatText({extraHeaders, "\r\n"});

  if (addDefaultHeaders) {
    for (const DefaultHeaderLine& row : kDefaultHeaderLines) {
      if (row.onlyForPost && method != kMethodPost) continue;
      // A plain substring search over the whole block, so each search also sees the
      // default lines appended before it.
      if (FindText(block, row.searchKey, 1, true) == -1) block += row.line;
    }
  }

  if (normalizeHeaderCase) block = NormalizeHeaderNames(block);

  // Only a keep-alive line that still ends in CR LF is taken out; any other value, or a
  // keep-alive line that ends the block, goes to the server as the caller wrote it.
  if (FindText(block, "Connection") != -1 &&
      TextEquals(FindHeaderValue(block, "Connection"), "keep-alive")) {
    block = ReplaceText(block, "Connection: keep-alive\r\n", "", true);
  }

  // Added after normalising, so the caller's cookies reach the server byte for byte. A
  // "Cookie:" anywhere in the block (even inside another header) means the caller already
  // chose what to send.
  if (!sendCookies.empty() && FindText(block, "Cookie:", 1, true) == -1) {
    if (FindText(sendCookies, "Cookie:", 1, true) != -1) {
      block += ConcatText({"\r\n", sendCookies, "\r\n"});
    } else {
      block += ConcatText({"\r\nCookie: ", sendCookies, "\r\n"});
    }
  }
  return block;
}

}  // namespace korvanel
