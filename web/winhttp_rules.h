// WinHttp's rules, as plain functions: how an address is cracked, how an object name is
// escaped, which proxy a request goes through, what counts as a header line and which
// redirects are followed. The libcurl backend follows them to behave as WinHttp does, and
// the tests' fake HttpApi cracks addresses with the same code.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "web/http_api.h"

namespace korvanel {

// Values of WinHttp beyond those WebRequest passes, so a backend stays general; each named
// as WinHttp names it, with its prefix (WINHTTP_, SECURITY_FLAG_) dropped.
inline constexpr std::uint32_t kAccessTypeDefaultProxy = 0;      // ACCESS_TYPE_DEFAULT_PROXY
inline constexpr std::uint32_t kAccessTypeAutomaticProxy = 4;    // ACCESS_TYPE_AUTOMATIC_PROXY
inline constexpr std::uint32_t kFlagEscapePercent = 0x00000004;  // FLAG_ESCAPE_PERCENT
inline constexpr std::uint32_t kFlagNullCodePage = 0x00000008;   // FLAG_NULL_CODEPAGE
inline constexpr std::uint32_t kFlagEscapeDisable = 0x00000040;  // FLAG_ESCAPE_DISABLE
inline constexpr std::uint32_t kFlagEscapeDisableQuery = 0x80;   // FLAG_ESCAPE_DISABLE_QUERY
inline constexpr std::uint32_t kFlagRefresh = 0x00000100;        // FLAG_REFRESH
inline constexpr std::uint32_t kDisableAuthentication = 4;       // DISABLE_AUTHENTICATION
inline constexpr std::uint32_t kDisableKeepAlive = 8;            // DISABLE_KEEP_ALIVE
inline constexpr std::uint32_t kEnableRevertImpersonation = 2;   // ENABLE_SSL_REVERT_IMPERSONATION
inline constexpr std::uint32_t kIgnoreUnknownCa = 0x100;         // IGNORE_UNKNOWN_CA
inline constexpr std::uint32_t kIgnoreWrongUsage = 0x200;        // IGNORE_WRONG_USAGE
inline constexpr std::uint32_t kIgnoreCnInvalid = 0x1000;        // IGNORE_CERT_CN_INVALID
inline constexpr std::uint32_t kIgnoreDateInvalid = 0x2000;      // IGNORE_CERT_DATE_INVALID

// ---- Addresses ----

// Splits an address as WinHttpCrackUrl does with no flags: only http and https (any case);
// a user part before "@" is cracked away; the host keeps the brackets of an IPv6 literal; a
// port of 1 to 65535, or the scheme's default (80, 443) when there is none or it is empty,
// as an empty port means in any URI; path and extra information split at the first "?" or
// "#". Nothing is decoded or escaped. False for any other scheme, an empty host, a broken
// IPv6 literal or a port that is not a number in range.
bool CrackHttpUrl(std::u16string_view url, UrlComponents* parts);

// The object name as WinHttp puts it on the request line: as UTF-8 (each unit's low byte
// with kFlagNullCodePage), with spaces, control characters and bytes above 0x7E
// percent-escaped. An existing %XX is left alone unless kFlagEscapePercent asks;
// kFlagEscapeDisableQuery leaves the query alone, kFlagEscapeDisable everything.
std::string EscapeObjectName(std::u16string_view objectName, std::uint32_t flags);
// The same escaping over bytes, with the given flags; what a redirect target gets (flags 0).
std::string EscapeUnsafeBytes(std::string_view bytes, std::uint32_t flags = 0);

// A host as it goes between "//" and ":port" in an address: an IPv6 literal in brackets.
std::string HostForUrl(std::string_view host);

// ---- Proxy ----

// What WinHttpOpen was told about proxies.
struct ProxySettings {
  std::uint32_t accessType = kAccessTypeNoProxy;
  std::u16string proxyList;   // "http=host:port;https=host:port" or "host:port"
  std::u16string bypassList;  // host patterns with "*" and "?", and "<local>"
};

struct ProxyChoice {
  std::string url;              // "http://host:port"; empty: straight to the server
  bool useEnvironment = false;  // the system's settings: here, the usual environment variables
};

// The proxy a request to host goes through. A named proxy list gives the entry for the
// request's scheme, else the entry without one; a proxy without a port gets WinHttp's 80.
// A host that the bypass list names (case-insensitively), or that has no dot when it lists
// "<local>", goes straight to the server.
ProxyChoice ChooseProxy(const ProxySettings& settings, std::string_view host, bool secure);

// ---- Header lines ----

// ASCII letters compare without case; every other byte as it is.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
// The bytes HTTP allows in a method or a header name.
bool IsToken(std::string_view text);

// The caller's header block (code page 936 bytes) as separate lines, CR LF or LF ended.
// Empty lines are skipped; false when any other line is not "name: value" with a token as
// its name, or holds a stray CR.
bool SplitHeaderBlock(std::string_view block, std::vector<std::string>* lines);
std::string_view HeaderName(std::string_view line);
// The value after the colon, without the spaces and tabs round it; empty without a colon.
std::string_view HeaderValue(std::string_view line);
bool HasHeader(const std::vector<std::string>& lines, std::string_view name);

// The status code of a status line ("HTTP/1.1 200 OK"); 0 when it has none.
int StatusCodeOf(std::string_view statusLine);
// The value of the first Location line of a CR LF header block; empty without one.
std::string LocationOf(std::string_view headers);

// ---- Redirects ----

// WinHttp's default limit on automatic redirects.
inline constexpr int kMaxRedirects = 10;

// A status that WinHttp follows by itself (301, 302, 303, 307, 308).
bool IsFollowedRedirect(int status);
// Never down from https to http: that response is handed back as it is.
bool MayRedirect(bool fromSecure, bool toSecure);
// The method and whether the body goes again on the next hop: a POST becomes a GET without
// a body after 301, 302 and 303; 307 and 308 repeat the request as it was.
void MethodAfterRedirect(int status, std::string* verb, bool* sendBody);

}  // namespace korvanel
