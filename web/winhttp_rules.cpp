#include "web/winhttp_rules.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

#include "text/utf8.h"

namespace korvanel {
namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoreCase(std::u16string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] > 0x7F || LowerAscii(static_cast<char>(a[i])) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::string_view TrimSpaces(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool IsTokenChar(unsigned char c) {
  if (c >= '0' && c <= '9') return true;
  if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') return true;
  return c != 0 && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool ParsePort(std::u16string_view digits, int* port) {
  if (digits.empty() || digits.size() > 5) return false;
  int value = 0;
  for (char16_t c : digits) {
    if (c < u'0' || c > u'9') return false;
    value = value * 10 + (c - u'0');
  }
  if (value < 1 || value > 65535) return false;
  *port = value;
  return true;
}

// The items of a WinHttp list, separated by semicolons or white space.
template <typename Visit>
void ForEachListItem(std::string_view list, Visit visit) {
  std::size_t pos = 0;
  while (pos < list.size()) {
    const std::size_t end = std::min(list.find_first_of("; \t", pos), list.size());
    const std::string_view item = list.substr(pos, end - pos);
    pos = end + 1;
    if (!item.empty()) visit(item);
  }
}

// A bypass pattern against a host: "*" stands for any run of characters, "?" for one;
// letters match without case.
bool MatchesPattern(std::string_view pattern, std::string_view host) {
  std::size_t p = 0, h = 0;
  std::optional<std::size_t> star;  // where the last "*" was, to widen what it took
  std::size_t starHost = 0;
  while (h < host.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      starHost = h;
    } else if (p < pattern.size() &&
               (pattern[p] == '?' || LowerAscii(pattern[p]) == LowerAscii(host[h]))) {
      ++p;
      ++h;
    } else if (star) {
      p = *star + 1;
      h = ++starHost;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool Bypassed(std::string_view bypassList, std::string_view host) {
  bool bypassed = false;
  ForEachListItem(bypassList, [&](std::string_view entry) {
    if (entry == "<local>") {
      bypassed = bypassed || host.find_first_of(".:") == std::string_view::npos;
    } else {
      bypassed = bypassed || MatchesPattern(entry, host);
    }
  });
  return bypassed;
}

}  // namespace

// ---- Addresses ----

bool CrackHttpUrl(std::u16string_view url, UrlComponents* out) {
  const std::size_t schemeEnd = url.find(u"://");
  if (schemeEnd == std::u16string_view::npos) return false;
  const std::u16string_view scheme = url.substr(0, schemeEnd);
  UrlComponents parts;
  if (EqualsIgnoreCase(scheme, "http")) {
    parts.scheme = kSchemeHttp;
    parts.port = 80;
  } else if (EqualsIgnoreCase(scheme, "https")) {
    parts.scheme = kSchemeHttps;
    parts.port = 443;
  } else {
    return false;
  }
  const std::u16string_view rest = url.substr(schemeEnd + 3);
  const std::size_t authorityEnd = std::min(rest.find_first_of(u"/?#"), rest.size());
  std::u16string_view authority = rest.substr(0, authorityEnd);
  const std::u16string_view afterAuthority = rest.substr(authorityEnd);

  // User name and password are cracked away and not used.
  if (const std::size_t at = authority.rfind(u'@'); at != std::u16string_view::npos) {
    authority.remove_prefix(at + 1);
  }
  std::u16string_view host = authority;
  std::size_t portColon = std::u16string_view::npos;
  if (!authority.empty() && authority.front() == u'[') {
    const std::size_t close = authority.find(u']');
    if (close == std::u16string_view::npos) return false;
    host = authority.substr(0, close + 1);
    if (close + 1 < authority.size()) {
      if (authority[close + 1] != u':') return false;
      portColon = close + 1;
    }
  } else {
    portColon = authority.rfind(u':');
    if (portColon != std::u16string_view::npos) host = authority.substr(0, portColon);
  }
  if (portColon != std::u16string_view::npos) {
    const std::u16string_view digits = authority.substr(portColon + 1);
    if (!digits.empty() && !ParsePort(digits, &parts.port)) return false;
  }
  if (host.empty() || host == u"[]") return false;
  parts.hostName = std::u16string(host);

  const std::size_t extraStart =
      std::min(afterAuthority.find_first_of(u"?#"), afterAuthority.size());
  parts.urlPath = std::u16string(afterAuthority.substr(0, extraStart));
  parts.extraInfo = std::u16string(afterAuthority.substr(extraStart));
  *out = std::move(parts);
  return true;
}

std::string EscapeObjectName(std::u16string_view objectName, std::uint32_t flags) {
  std::string bytes;
  if ((flags & kFlagNullCodePage) != 0) {
    for (char16_t c : objectName) bytes += static_cast<char>(c & 0xFF);
  } else {
    bytes = Utf16ToUtf8(objectName);
  }
  return EscapeUnsafeBytes(bytes, flags);
}

std::string EscapeUnsafeBytes(std::string_view bytes, std::uint32_t flags) {
  if ((flags & kFlagEscapeDisable) != 0) return std::string(bytes);
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size());
  bool inQuery = false;
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '?') inQuery = true;
    const bool keepQuery = inQuery && (flags & kFlagEscapeDisableQuery) != 0;
    const bool unsafe = c <= 0x20 || c >= 0x7F || (c == '%' && (flags & kFlagEscapePercent) != 0);
    if (unsafe && !keepQuery) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    } else {
      out += ch;
    }
  }
  return out;
}

std::string HostForUrl(std::string_view host) {
  if (host.find(':') != std::string_view::npos && host.front() != '[') {
    return "[" + std::string(host) + "]";
  }
  return std::string(host);
}

// ---- Proxy ----

ProxyChoice ChooseProxy(const ProxySettings& settings, std::string_view host, bool secure) {
  if (settings.accessType == kAccessTypeDefaultProxy ||
      settings.accessType == kAccessTypeAutomaticProxy) {
    return {{}, true};
  }
  if (settings.accessType != kAccessTypeNamedProxy) return {};
  if (Bypassed(Utf16ToUtf8(settings.bypassList), host)) return {};

  const std::string list = Utf16ToUtf8(settings.proxyList);
  const std::string_view scheme = secure ? "https" : "http";
  std::string general;
  std::string specific;
  ForEachListItem(list, [&](std::string_view entry) {
    std::optional<std::string_view> forScheme;
    if (const std::size_t eq = entry.find('='); eq != std::string_view::npos) {
      forScheme = entry.substr(0, eq);
      entry.remove_prefix(eq + 1);
    }
    if (entry.size() > 7 && EqualsIgnoreCase(entry.substr(0, 7), "http://")) {
      entry.remove_prefix(7);
    }
    while (!entry.empty() && entry.back() == '/') entry.remove_suffix(1);
    if (entry.empty()) return;
    if (forScheme) {
      if (EqualsIgnoreCase(*forScheme, scheme) && specific.empty()) specific = entry;
    } else if (general.empty()) {
      general = entry;
    }
  });
  std::string chosen = !specific.empty() ? specific : general;
  if (chosen.empty()) return {};
  const std::size_t colon = chosen.rfind(':');
  const std::size_t bracket = chosen.rfind(']');
  if (colon == std::string::npos || (bracket != std::string::npos && colon < bracket)) {
    chosen += ":80";
  }
  return {"http://" + chosen, false};
}

// ---- Header lines ----

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

bool IsToken(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return IsTokenChar(static_cast<unsigned char>(c)); });
}

bool SplitHeaderBlock(std::string_view block, std::vector<std::string>* lines) {
  std::vector<std::string> found;
  std::size_t pos = 0;
  while (pos < block.size()) {
    const std::size_t end = std::min(block.find('\n', pos), block.size());
    std::string_view line = block.substr(pos, end - pos);
    pos = end + 1;
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (TrimSpaces(line).empty()) continue;  // an empty line, as a doubled CR LF leaves
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    if (!IsToken(line.substr(0, colon))) return false;
    if (line.find('\r') != std::string_view::npos) return false;
    found.emplace_back(line);
  }
  *lines = std::move(found);
  return true;
}

std::string_view HeaderName(std::string_view line) { return line.substr(0, line.find(':')); }

std::string_view HeaderValue(std::string_view line) {
  const std::size_t colon = line.find(':');
  return colon == std::string_view::npos ? std::string_view() : TrimSpaces(line.substr(colon + 1));
}

bool HasHeader(const std::vector<std::string>& lines, std::string_view name) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
    return EqualsIgnoreCase(HeaderName(line), name);
  });
}

int StatusCodeOf(std::string_view statusLine) {
  const std::size_t space = statusLine.find(' ');
  if (space == std::string_view::npos || space + 4 > statusLine.size()) return 0;
  int code = 0;
  for (std::size_t i = space + 1; i < space + 4; ++i) {
    const char c = statusLine[i];
    if (c < '0' || c > '9') return 0;
    code = code * 10 + (c - '0');
  }
  return code;
}

std::string LocationOf(std::string_view headers) {
  std::size_t pos = headers.find("\r\n");  // past the status line
  while (pos != std::string_view::npos && pos + 2 < headers.size()) {
    const std::size_t start = pos + 2;
    const std::size_t end = headers.find("\r\n", start);
    const std::string_view line = headers.substr(start, end - start);
    if (EqualsIgnoreCase(HeaderName(line), "location")) return std::string(HeaderValue(line));
    pos = end;
  }
  return {};
}

// ---- Redirects ----

bool IsFollowedRedirect(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool MayRedirect(bool fromSecure, bool toSecure) { return toSecure || !fromSecure; }

void MethodAfterRedirect(int status, std::string* verb, bool* sendBody) {
  if (*verb == "POST" && (status == 301 || status == 302 || status == 303)) {
    *verb = "GET";
    *sendBody = false;
  }
}

}  // namespace korvanel
