// The HTTP platform backend over libcurl, shaped and behaving like WinHttp wherever WebRequest
// can observe it.
//
// Each request handle owns one curl easy handle driven through its own multi handle, so the
// calls return at the same points as WinHttp's synchronous ones: SendRequest once the request
// has gone out, ReceiveResponse once the final response's header block is in, and the data
// calls as body bytes arrive. Nothing is shared between requests but curl's global state, so
// several threads may run requests at once.
//
// Choices where WinHttp and libcurl differ:
// - Redirects are followed here, not by curl, so that they go as WinHttp's do: at most 10,
//   POST turns into GET on 301, 302 and 303, never from https down to http (that response is
//   handed back as it is), and the raw headers are those of the final response only.
// - Header text travels as code page 936 bytes both ways: the caller's UTF-16 block is narrowed
//   with UnicodeToAnsi and the response header bytes are widened with AnsiToUnicode, so a GBK
//   cookie or header value comes back to WebRequest byte for byte. (WinHttp widens each byte
//   on its own, which would turn such values into question marks on the way back.)
// - In the caller's header block, empty lines are skipped; a line that is not "name: value"
//   with a proper token as its name makes AddRequestHeaders fail and adds nothing, rather
//   than putting a broken line on the wire. A Content-Length line of the caller is dropped:
//   the body itself decides it.
// - A proxy that refuses the tunnel of an https request gives the response (a 407 asking for
//   credentials, say), as with WinHttp; curl alone would fail the transfer.
// - Timeouts: resolve plus connect bound the connection phase (curl cannot time them apart);
//   send and receive bound inactivity, measured here, not the whole transfer.
#include "web/http_api.h"

#include <curl/curl.h>
#include <fnmatch.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "text/code_page.h"
#include "text/utf8.h"

namespace korvanel {

// For the backend's tests: session, connection and request handles, curl handles and curl
// header lists alive at this moment. Zero once every handle has been closed.
int CurlBackendLiveObjects();

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMaxRedirects = 10;                     // WinHttp's default for automatic redirects
constexpr std::uint32_t kNulTerminated = 0xFFFFFFFF;  // a length of -1L

// Values of WinHttp beyond those WebRequest passes, accepted so the backend stays general.
constexpr std::uint32_t kAccessTypeDefaultProxy = 0;
constexpr std::uint32_t kAccessTypeAutomaticProxy = 4;
constexpr std::uint32_t kFlagEscapePercent = 0x00000004;
constexpr std::uint32_t kFlagNullCodePage = 0x00000008;
constexpr std::uint32_t kFlagEscapeDisable = 0x00000040;
constexpr std::uint32_t kFlagEscapeDisableQuery = 0x00000080;
constexpr std::uint32_t kFlagRefresh = 0x00000100;
constexpr std::uint32_t kOpenRequestFlags = kFlagSecure | kFlagEscapePercent | kFlagNullCodePage |
                                            kFlagEscapeDisable | kFlagEscapeDisableQuery |
                                            kFlagRefresh;
constexpr std::uint32_t kDisableAuthentication = 4;
constexpr std::uint32_t kDisableKeepAlive = 8;
constexpr std::uint32_t kEnableRevertImpersonation = 2;
constexpr std::uint32_t kIgnoreUnknownCa = 0x100;
constexpr std::uint32_t kIgnoreWrongUsage = 0x200;
constexpr std::uint32_t kIgnoreCnInvalid = 0x1000;
constexpr std::uint32_t kIgnoreDateInvalid = 0x2000;
constexpr std::uint32_t kAddRequestFlagAddIfNew = 0x10000000;
constexpr std::uint32_t kAddRequestFlagReplace = 0x80000000;
constexpr std::uint32_t kQueryRawHeaders = 21;  // lines separated by zero units

std::atomic<int> g_liveCurlObjects{0};

// ---------------------------------------------------------------------------------------------
// curl's global state and RAII around curl's objects.

bool CurlReady() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
  return ready;
}

struct EasyDeleter {
  void operator()(CURL* easy) const {
    curl_easy_cleanup(easy);
    --g_liveCurlObjects;
  }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const {
    curl_multi_cleanup(multi);
    --g_liveCurlObjects;
  }
};
struct UrlDeleter {
  void operator()(CURLU* url) const {
    curl_url_cleanup(url);
    --g_liveCurlObjects;
  }
};
using EasyPtr = std::unique_ptr<CURL, EasyDeleter>;
using MultiPtr = std::unique_ptr<CURLM, MultiDeleter>;
using UrlPtr = std::unique_ptr<CURLU, UrlDeleter>;

EasyPtr NewEasy() {
  CURL* easy = curl_easy_init();
  if (easy != nullptr) ++g_liveCurlObjects;
  return EasyPtr(easy);
}
MultiPtr NewMulti() {
  CURLM* multi = curl_multi_init();
  if (multi != nullptr) ++g_liveCurlObjects;
  return MultiPtr(multi);
}
UrlPtr NewUrl() {
  CURLU* url = curl_url();
  if (url != nullptr) ++g_liveCurlObjects;
  return UrlPtr(url);
}

// A string curl allocated.
struct CurlString {
  char* text = nullptr;
  CurlString() = default;
  CurlString(const CurlString&) = delete;
  CurlString& operator=(const CurlString&) = delete;
  ~CurlString() { curl_free(text); }
  std::string Take() const { return text != nullptr ? std::string(text) : std::string(); }
};

class HeaderList {
 public:
  HeaderList() = default;
  HeaderList(const HeaderList&) = delete;
  HeaderList& operator=(const HeaderList&) = delete;
  ~HeaderList() { Reset(); }
  bool Append(const std::string& line) {
    curl_slist* grown = curl_slist_append(list_, line.c_str());
    if (grown == nullptr) return false;
    if (list_ == nullptr) ++g_liveCurlObjects;
    list_ = grown;
    return true;
  }
  void Reset() {
    if (list_ == nullptr) return;
    curl_slist_free_all(list_);
    list_ = nullptr;
    --g_liveCurlObjects;
  }
  curl_slist* get() const { return list_; }

 private:
  curl_slist* list_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Text helpers.

std::u16string_view ViewOf(const char16_t* text, std::uint32_t length) {
  if (text == nullptr) return {};
  if (length == kNulTerminated) return std::u16string_view(text);
  return std::u16string_view(text, length);
}

std::u16string_view ViewOf(const char16_t* text) {
  return text != nullptr ? std::u16string_view(text) : std::u16string_view();
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

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
  return std::strchr("!#$%&'*+-.^_`|~", c) != nullptr && c != 0;
}

// The object name as WinHttp puts it on the request line by default: as UTF-8, with spaces,
// control characters and bytes above 0x7F percent-escaped; an existing %XX is left alone.
std::string EscapeObjectName(std::u16string_view objectName, std::uint32_t flags) {
  std::string bytes;
  if ((flags & kFlagNullCodePage) != 0) {
    for (char16_t c : objectName) bytes += static_cast<char>(c & 0xFF);
  } else {
    bytes = Utf16ToUtf8(objectName);
  }
  if ((flags & kFlagEscapeDisable) != 0) return bytes;
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

// Percent-escapes what curl's URL parser would refuse in a Location value (spaces, controls,
// raw 8-bit bytes), as WinHttp escapes a redirect target.
std::string EscapeLocation(std::string_view location) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char ch : location) {
    const auto c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c >= 0x7F) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    } else {
      out += ch;
    }
  }
  return out;
}

// A host as it goes between "//" and ":port" in a URL.
std::string HostForUrl(const std::string& host) {
  if (host.find(':') != std::string::npos && host.front() != '[') return "[" + host + "]";
  return host;
}

// ---------------------------------------------------------------------------------------------
// Handles.

enum class Kind { kSession, kConnection, kRequest };

// WinHttp's timeouts in milliseconds; 0 or -1 waits without limit.
struct Timeouts {
  int resolve = 0;
  int connect = 60000;
  int send = 30000;
  int receive = 30000;
};

struct Handle {
  explicit Handle(Kind kind) : kind(kind) {}
  virtual ~Handle() = default;
  const Kind kind;
};

struct SessionSettings {
  std::string agent;  // code page 936 bytes for the User-Agent line; empty: none
  std::uint32_t accessType = kAccessTypeNoProxy;
  std::u16string proxyList;
  std::u16string bypassList;
  Timeouts timeouts;
};

struct Session final : Handle {
  Session() : Handle(Kind::kSession) {}
  SessionSettings settings;
};

struct Connection final : Handle {
  Connection() : Handle(Kind::kConnection) {}
  SessionSettings settings;  // as the session had them when the connection was made
  std::string host;          // UTF-8
  std::uint16_t port = 0;    // 0: the scheme's default
};

// Where one hop of a request goes.
struct Hop {
  bool secure = false;
  std::string host;  // UTF-8, without brackets
  int port = 0;
  std::string target;  // path and query, escaped
  std::string verb;
  bool sendBody = false;
};

struct Request final : Handle {
  Request() : Handle(Kind::kRequest) {}
  ~Request() override {
    if (easy && multi && inMulti) curl_multi_remove_handle(multi.get(), easy.get());
  }

  SessionSettings settings;
  Hop origin;  // the first hop, whose server the credentials belong to
  std::string version = "HTTP/1.1";
  std::vector<std::string> headerLines;  // the caller's lines, code page 936
  std::optional<std::pair<std::string, std::string>> serverCredentials;
  std::optional<std::pair<std::string, std::string>> proxyCredentials;
  std::uint32_t securityFlags = 0;
  std::uint32_t disabledFeatures = 0;
  std::string body;
  bool sendBody = false;

  enum class State { kOpen, kSent, kReceived, kFailed };
  State state = State::kOpen;

  EasyPtr easy;
  MultiPtr multi;
  HeaderList curlHeaders;
  HeaderList proxyHeaders;
  std::string cookieValue;  // the caller's cookies when curl's own cookie line carries them
  std::string url;
  std::string requestTarget;
  std::string proxyUrl;
  bool inMulti = false;

  // The hop under way.
  Hop hop;
  int redirectsFollowed = 0;
  bool connected = false;  // the connection of this hop stands
  bool sent = false;       // the request of this hop went out
  bool headersStarted = false;
  bool headersDone = false;
  std::string hopHeaders;      // normalised to CR LF line ends
  std::string tunnelHeaders;   // a proxy's answer to the tunnel request of an https hop
  bool tunnelRefused = false;  // that answer, not the server's, is the response
  bool transferDone = false;
  CURLcode transferResult = CURLE_OK;
  std::optional<Hop> nextHop;  // a redirect that will be followed
  bool redirectFailed = false;
  bool timedOut = false;
  curl_off_t uploadedBefore = 0;
  Clock::time_point idleSince;

  // The final response.
  bool received = false;
  std::string finalHeaders;
  std::u16string rawHeaders16;
  std::string pending;  // body bytes received and not yet read
  std::size_t pendingOffset = 0;

  std::size_t Pending() const { return pending.size() - pendingOffset; }
};

class Registry {
 public:
  HttpHandle Add(std::unique_ptr<Handle> handle) {
    std::lock_guard lock(mutex_);
    Handle* raw = handle.release();
    live_.insert(raw);
    return raw;
  }
  template <typename T>
  T* Find(HttpHandle handle, Kind kind) {
    std::lock_guard lock(mutex_);
    auto it = live_.find(static_cast<Handle*>(handle));
    if (it == live_.end() || (*it)->kind != kind) return nullptr;
    return static_cast<T*>(*it);
  }
  Handle* FindAny(HttpHandle handle) {
    std::lock_guard lock(mutex_);
    auto it = live_.find(static_cast<Handle*>(handle));
    return it == live_.end() ? nullptr : *it;
  }
  bool Close(HttpHandle handle) {
    Handle* found = nullptr;
    {
      std::lock_guard lock(mutex_);
      auto it = live_.find(static_cast<Handle*>(handle));
      if (it == live_.end()) return false;
      found = *it;
      live_.erase(it);
    }
    delete found;
    return true;
  }
  int Count() {
    std::lock_guard lock(mutex_);
    return static_cast<int>(live_.size());
  }

 private:
  std::mutex mutex_;
  std::unordered_set<Handle*> live_;
};

Registry& Handles() {
  static Registry registry;
  return registry;
}

// ---------------------------------------------------------------------------------------------
// URL cracking.

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

bool Crack(std::u16string_view url, UrlComponents* out) {
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
  std::u16string_view rest = url.substr(schemeEnd + 3);
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

// ---------------------------------------------------------------------------------------------
// Proxy selection, from a WinHttp named proxy list such as "http=host:port" or "host:port".

std::string ProxyForHop(const SessionSettings& settings, const Hop& hop, bool* useEnvironment) {
  *useEnvironment = false;
  if (settings.accessType == kAccessTypeDefaultProxy ||
      settings.accessType == kAccessTypeAutomaticProxy) {
    *useEnvironment = true;  // the system's settings: here, the usual environment variables
    return {};
  }
  if (settings.accessType != kAccessTypeNamedProxy) return {};

  const std::string bypass = Utf16ToUtf8(settings.bypassList);
  std::size_t pos = 0;
  while (pos < bypass.size()) {
    const std::size_t end = std::min(bypass.find_first_of("; \t", pos), bypass.size());
    const std::string entry = bypass.substr(pos, end - pos);
    pos = end + 1;
    if (entry.empty()) continue;
    if (entry == "<local>") {
      if (hop.host.find('.') == std::string::npos && hop.host.find(':') == std::string::npos) {
        return {};
      }
    } else if (fnmatch(entry.c_str(), hop.host.c_str(), FNM_CASEFOLD) == 0) {
      return {};
    }
  }

  const std::string list = Utf16ToUtf8(settings.proxyList);
  const std::string_view scheme = hop.secure ? "https" : "http";
  std::string general;
  std::string specific;
  pos = 0;
  while (pos < list.size()) {
    const std::size_t end = std::min(list.find_first_of("; \t", pos), list.size());
    std::string_view entry(list.data() + pos, end - pos);
    pos = end + 1;
    if (entry.empty()) continue;
    std::optional<std::string_view> forScheme;
    if (const std::size_t eq = entry.find('='); eq != std::string_view::npos) {
      forScheme = entry.substr(0, eq);
      entry.remove_prefix(eq + 1);
    }
    if (entry.size() > 7 && EqualsIgnoreCase(entry.substr(0, 7), "http://")) {
      entry.remove_prefix(7);
    }
    while (!entry.empty() && entry.back() == '/') entry.remove_suffix(1);
    if (entry.empty()) continue;
    if (forScheme) {
      if (EqualsIgnoreCase(*forScheme, scheme) && specific.empty()) specific = entry;
    } else if (general.empty()) {
      general = entry;
    }
  }
  std::string chosen = !specific.empty() ? specific : general;
  if (chosen.empty()) return {};
  // WinHttp's default proxy port is 80.
  const std::size_t colon = chosen.rfind(':');
  const std::size_t bracket = chosen.rfind(']');
  if (colon == std::string::npos || (bracket != std::string::npos && colon < bracket)) {
    chosen += ":80";
  }
  return "http://" + chosen;
}

// ---------------------------------------------------------------------------------------------
// Header lines.

// The caller's header block as separate lines; false when a line is not a header line.
bool SplitHeaderBlock(std::u16string_view block, std::vector<std::string>* lines) {
  const Text bytes = Utf16ToAnsi(block);
  std::vector<std::string> found;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    std::size_t end = bytes.find('\n', pos);
    if (end == std::string::npos) end = bytes.size();
    std::string_view line(bytes.data() + pos, end - pos);
    pos = end + 1;
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (TrimSpaces(line).empty()) continue;  // an empty line, as a doubled CR LF leaves
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    for (std::size_t i = 0; i < colon; ++i) {
      if (!IsTokenChar(static_cast<unsigned char>(line[i]))) return false;
    }
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

bool AddHeaderLines(Request& request, std::u16string_view block, std::uint32_t modifiers) {
  std::vector<std::string> lines;
  if (!SplitHeaderBlock(block, &lines)) return false;
  if ((modifiers & kAddRequestFlagReplace) != 0) {
    for (const std::string& line : lines) {
      const std::string_view name = HeaderName(line);
      auto& existing = request.headerLines;
      auto it = std::find_if(existing.begin(), existing.end(), [&](const std::string& old) {
        return EqualsIgnoreCase(HeaderName(old), name);
      });
      if (it == existing.end()) {
        if ((modifiers & kAddRequestFlagAdd) == 0) return false;
        existing.push_back(line);
      } else if (HeaderValue(line).empty()) {
        existing.erase(it);
      } else {
        *it = line;
      }
    }
    return true;
  }
  if ((modifiers & kAddRequestFlagAddIfNew) != 0) {
    for (const std::string& line : lines) {
      if (HasHeader(request.headerLines, HeaderName(line))) return false;
    }
  }
  request.headerLines.insert(request.headerLines.end(), lines.begin(), lines.end());
  return true;
}

// ---------------------------------------------------------------------------------------------
// The transfer.

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

// The hop a redirect leads to, when WinHttp would follow it.
std::optional<Hop> RedirectHop(const Request& request, int status, const std::string& location) {
  if ((request.disabledFeatures & kDisableRedirects) != 0) return std::nullopt;
  if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308) {
    return std::nullopt;
  }
  if (location.empty()) return std::nullopt;
  UrlPtr url = NewUrl();
  if (!url) return std::nullopt;
  const Hop& from = request.hop;
  const std::string base = std::string(from.secure ? "https://" : "http://") +
                           HostForUrl(from.host) + ":" + std::to_string(from.port) + from.target;
  if (curl_url_set(url.get(), CURLUPART_URL, base.c_str(), 0) != CURLUE_OK) return std::nullopt;
  if (curl_url_set(url.get(), CURLUPART_URL, EscapeLocation(location).c_str(),
                   CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
    return std::nullopt;
  }
  CurlString scheme, host, port, path, query;
  if (curl_url_get(url.get(), CURLUPART_SCHEME, &scheme.text, 0) != CURLUE_OK ||
      curl_url_get(url.get(), CURLUPART_HOST, &host.text, 0) != CURLUE_OK ||
      curl_url_get(url.get(), CURLUPART_PORT, &port.text, CURLU_DEFAULT_PORT) != CURLUE_OK ||
      curl_url_get(url.get(), CURLUPART_PATH, &path.text, 0) != CURLUE_OK) {
    return std::nullopt;
  }
  Hop next;
  const std::string schemeName = scheme.Take();
  if (EqualsIgnoreCase(schemeName, "https")) {
    next.secure = true;
  } else if (!EqualsIgnoreCase(schemeName, "http")) {
    return std::nullopt;  // not a scheme WinHttp goes to: the 3xx is the answer
  }
  if (from.secure && !next.secure) return std::nullopt;  // never down from https to http
  next.host = host.Take();
  if (next.host.size() > 2 && next.host.front() == '[') {
    next.host = next.host.substr(1, next.host.size() - 2);
  }
  next.port = std::atoi(port.text);
  next.target = path.Take();
  if (curl_url_get(url.get(), CURLUPART_QUERY, &query.text, 0) == CURLUE_OK) {
    next.target += "?" + query.Take();
  }
  next.verb = from.verb;
  next.sendBody = from.sendBody;
  if (from.verb == "POST" && (status == 301 || status == 302 || status == 303)) {
    next.verb = "GET";
    next.sendBody = false;
  }
  return next;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto& request = *static_cast<Request*>(user);
  const std::size_t length = size * count;
  request.idleSince = Clock::now();
  std::string_view line(data, length);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (!request.connected) {
    // Before the connection stands, only a proxy answering the tunnel request speaks. When it
    // refuses, its answer is the response, as WinHttp gives it (a 407 asks for credentials).
    if (!line.empty()) {
      request.tunnelHeaders.append(line.data(), line.size()) += "\r\n";
      return length;
    }
    const int status = StatusCodeOf(request.tunnelHeaders);
    if (status < 200 || status > 299) {
      request.finalHeaders = std::move(request.tunnelHeaders) + "\r\n";
      request.tunnelRefused = true;
      request.received = true;
      request.headersStarted = true;
      request.headersDone = true;
    }
    request.tunnelHeaders.clear();
    return length;
  }
  request.headersStarted = true;
  if (request.headersDone) return length;  // trailers of a chunked body
  if (!line.empty()) {
    for (char c : line) request.hopHeaders += c == '\0' ? ' ' : c;
    request.hopHeaders += "\r\n";
    return length;
  }
  const int status = StatusCodeOf(request.hopHeaders);
  if (status >= 100 && status < 200) {  // an interim response; the real one follows
    request.hopHeaders.clear();
    return length;
  }
  request.hopHeaders += "\r\n";
  request.headersDone = true;
  request.nextHop = RedirectHop(request, status, LocationOf(request.hopHeaders));
  if (!request.nextHop) {
    request.finalHeaders = std::move(request.hopHeaders);
    request.hopHeaders.clear();
    request.received = true;
  }
  return length;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto& request = *static_cast<Request*>(user);
  const std::size_t length = size * count;
  request.idleSince = Clock::now();
  if (!request.received) return length;  // the body of a redirect being followed
  if (request.pendingOffset == request.pending.size()) {
    request.pending.clear();
    request.pendingOffset = 0;
  }
  request.pending.append(data, length);
  return length;
}

int OnConnected(void* user, char*, char*, int, int) {
  auto& request = *static_cast<Request*>(user);
  request.connected = true;
  request.idleSince = Clock::now();
  return CURL_PREREQFUNC_OK;
}

long ConnectTimeoutMs(const Timeouts& timeouts) {
  // Resolving and connecting are one phase for curl; it gets both budgets. curl reads 0 as its
  // own default, so "no limit" becomes the longest limit it takes.
  if (timeouts.connect <= 0) return INT_MAX;
  const long long sum = static_cast<long long>(std::max(timeouts.resolve, 0)) + timeouts.connect;
  return static_cast<long>(std::min<long long>(sum, INT_MAX));
}

bool SameServer(const Hop& a, const Hop& b) {
  return a.secure == b.secure && a.port == b.port && EqualsIgnoreCase(a.host, b.host);
}

// Sets every option of the easy handle for request.hop.
bool ConfigureHop(Request& request) {
  CURL* easy = request.easy.get();
  const Hop& hop = request.hop;
  bool ok = true;
  auto set = [&](CURLoption option, auto value) {
    ok = ok && curl_easy_setopt(easy, option, value) == CURLE_OK;
  };

  request.url = std::string(hop.secure ? "https://" : "http://") + HostForUrl(hop.host) + ":" +
                std::to_string(hop.port) + "/";
  set(CURLOPT_URL, request.url.c_str());

  bool useEnvironment = false;
  request.proxyUrl = ProxyForHop(request.settings, hop, &useEnvironment);
  set(CURLOPT_PROXY, useEnvironment ? nullptr : request.proxyUrl.c_str());
  // A named proxy is not bypassed by the environment's no_proxy either.
  set(CURLOPT_NOPROXY, useEnvironment ? nullptr : "");
  const bool viaPlainProxy = !request.proxyUrl.empty() && !hop.secure;
  request.requestTarget = hop.target;
  if (viaPlainProxy) {  // a proxy is asked for the absolute address
    request.requestTarget = "http://" + HostForUrl(hop.host) +
                            (hop.port != 80 ? ":" + std::to_string(hop.port) : "") + hop.target;
  }
  set(CURLOPT_REQUEST_TARGET, request.requestTarget.c_str());

  const bool authAllowed = (request.disabledFeatures & kDisableAuthentication) == 0;
  if (request.serverCredentials && authAllowed && SameServer(hop, request.origin)) {
    set(CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    set(CURLOPT_USERNAME, request.serverCredentials->first.c_str());
    set(CURLOPT_PASSWORD, request.serverCredentials->second.c_str());
  } else {
    set(CURLOPT_USERNAME, static_cast<const char*>(nullptr));
    set(CURLOPT_PASSWORD, static_cast<const char*>(nullptr));
  }
  if (request.proxyCredentials && authAllowed) {
    set(CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
    set(CURLOPT_PROXYUSERNAME, request.proxyCredentials->first.c_str());
    set(CURLOPT_PROXYPASSWORD, request.proxyCredentials->second.c_str());
  } else {
    set(CURLOPT_PROXYUSERNAME, static_cast<const char*>(nullptr));
    set(CURLOPT_PROXYPASSWORD, static_cast<const char*>(nullptr));
  }

  if (hop.verb == "HEAD") {
    set(CURLOPT_CUSTOMREQUEST, static_cast<const char*>(nullptr));
    set(CURLOPT_NOBODY, 1L);
  } else {
    set(CURLOPT_NOBODY, 0L);
    if (hop.sendBody) {
      set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
      set(CURLOPT_POSTFIELDS, request.body.data());
    } else {
      set(CURLOPT_HTTPGET, 1L);
    }
    const bool curlsOwnVerb = hop.verb == (hop.sendBody ? "POST" : "GET");
    set(CURLOPT_CUSTOMREQUEST, curlsOwnVerb ? nullptr : hop.verb.c_str());
  }

  // Exactly the caller's lines plus what HTTP itself needs: curl's own Accept, Expect and
  // form Content-Type are switched off unless the caller gives them.
  const bool cookieEngine = (request.disabledFeatures & kDisableCookies) == 0;
  request.curlHeaders.Reset();
  request.cookieValue.clear();
  const auto& lines = request.headerLines;
  for (const std::string& line : lines) {
    const std::string_view name = HeaderName(line);
    if (EqualsIgnoreCase(name, "content-length")) continue;
    if (cookieEngine && request.redirectsFollowed > 0 && EqualsIgnoreCase(name, "cookie")) {
      // After a redirect the engine may hold cookies too; curl joins both into one line.
      if (!request.cookieValue.empty()) request.cookieValue += "; ";
      request.cookieValue += HeaderValue(line);
      continue;
    }
    // curl drops a "Name:" line; "Name;" is how it sends a header with an empty value.
    ok = ok &&
         request.curlHeaders.Append(HeaderValue(line).empty() ? std::string(name) + ";" : line);
  }
  if (!HasHeader(lines, "accept")) ok = ok && request.curlHeaders.Append("Accept:");
  if (!HasHeader(lines, "expect")) ok = ok && request.curlHeaders.Append("Expect:");
  if (hop.sendBody && !HasHeader(lines, "content-type")) {
    ok = ok && request.curlHeaders.Append("Content-Type:");
  }
  set(CURLOPT_HTTPHEADER, request.curlHeaders.get());
  set(CURLOPT_COOKIE, request.cookieValue.empty() ? nullptr : request.cookieValue.c_str());
  return ok;
}

bool StartTransfer(Request& request) {
  request.connected = false;
  request.sent = false;
  request.headersStarted = false;
  request.headersDone = false;
  request.hopHeaders.clear();
  request.tunnelHeaders.clear();
  request.transferDone = false;
  request.transferResult = CURLE_OK;
  request.nextHop.reset();
  request.uploadedBefore = 0;
  request.idleSince = Clock::now();
  if (!ConfigureHop(request)) return false;
  if (curl_multi_add_handle(request.multi.get(), request.easy.get()) != CURLM_OK) return false;
  request.inMulti = true;
  return true;
}

bool FollowRedirect(Request& request) {
  if (request.redirectsFollowed >= kMaxRedirects) {
    request.redirectFailed = true;
    return false;
  }
  curl_multi_remove_handle(request.multi.get(), request.easy.get());
  request.inMulti = false;
  ++request.redirectsFollowed;
  request.hop = *request.nextHop;
  return StartTransfer(request);
}

bool CreateTransfer(Request& request) {
  request.easy = NewEasy();
  request.multi = NewMulti();
  if (!request.easy || !request.multi) return false;
  CURL* easy = request.easy.get();
  bool ok = true;
  auto set = [&](CURLoption option, auto value) {
    ok = ok && curl_easy_setopt(easy, option, value) == CURLE_OK;
  };
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_HTTP_VERSION,
      static_cast<long>(request.version == "HTTP/1.0" ? CURL_HTTP_VERSION_1_0
                                                      : CURL_HTTP_VERSION_1_1));
  set(CURLOPT_HEADERFUNCTION, &OnHeader);
  set(CURLOPT_HEADERDATA, &request);
  set(CURLOPT_WRITEFUNCTION, &OnBody);
  set(CURLOPT_WRITEDATA, &request);
  set(CURLOPT_PREREQFUNCTION, &OnConnected);
  set(CURLOPT_PREREQDATA, &request);
  set(CURLOPT_HTTP_CONTENT_DECODING, 0L);
  set(CURLOPT_HEADEROPT, static_cast<long>(CURLHEADER_SEPARATE));
  // Nor does a proxy hear a Proxy-Connection line the caller did not write.
  ok = ok && request.proxyHeaders.Append("Proxy-Connection:");
  set(CURLOPT_PROXYHEADER, request.proxyHeaders.get());
  set(CURLOPT_CONNECTTIMEOUT_MS, ConnectTimeoutMs(request.settings.timeouts));
  const std::uint32_t flags = request.securityFlags;
  const bool ignoreChain =
      (flags & (kIgnoreUnknownCa | kIgnoreWrongUsage | kIgnoreDateInvalid)) != 0;
  set(CURLOPT_SSL_VERIFYPEER, ignoreChain ? 0L : 1L);
  set(CURLOPT_SSL_VERIFYHOST, (flags & kIgnoreCnInvalid) != 0 ? 0L : 2L);
  if ((request.disabledFeatures & kDisableCookies) == 0) set(CURLOPT_COOKIEFILE, "");
  if ((request.disabledFeatures & kDisableKeepAlive) != 0) set(CURLOPT_FORBID_REUSE, 1L);
  if (!request.settings.agent.empty() && !HasHeader(request.headerLines, "user-agent")) {
    set(CURLOPT_USERAGENT, request.settings.agent.c_str());
  }
  return ok;
}

enum class Goal { kSent, kHeaders, kData };

bool Reached(const Request& request, Goal goal) {
  switch (goal) {
    case Goal::kSent:
      return request.sent || request.headersStarted;
    case Goal::kHeaders:
      return request.received;
    case Goal::kData:
      return request.Pending() > 0;
  }
  return false;
}

// The inactivity limit of the phase the hop is in, in ms; 0 without one. The connection phase
// is curl's to time.
int IdleLimit(const Request& request) {
  const Timeouts& timeouts = request.settings.timeouts;
  if (!request.connected) return 0;
  if (!request.sent) return std::max(timeouts.send, 0);
  return std::max(timeouts.receive, 0);
}

void UpdateSent(Request& request) {
  if (!request.connected || request.sent) return;
  if (!request.hop.sendBody || request.body.empty()) {
    request.sent = true;  // the request went out in the step that made the connection
  } else {
    curl_off_t uploaded = 0;
    curl_easy_getinfo(request.easy.get(), CURLINFO_SIZE_UPLOAD_T, &uploaded);
    if (uploaded != request.uploadedBefore) {
      request.uploadedBefore = uploaded;
      request.idleSince = Clock::now();
    }
    request.sent = uploaded >= static_cast<curl_off_t>(request.body.size());
  }
  if (request.sent) request.idleSince = Clock::now();
}

// Runs the transfer until goal is reached, the transfer ends, or a timeout or redirect failure
// stops it. Redirects are followed only when the goal is the final response or beyond.
void Drive(Request& request, Goal goal) {
  request.idleSince = Clock::now();
  for (;;) {
    if (!request.inMulti) return;
    int running = 0;
    if (curl_multi_perform(request.multi.get(), &running) != CURLM_OK) {
      request.transferDone = true;
      request.transferResult = CURLE_FAILED_INIT;
      return;
    }
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(request.multi.get(), &queued)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == request.easy.get()) {
        request.transferDone = true;
        request.transferResult = message->data.result;
      }
    }
    UpdateSent(request);
    if (Reached(request, goal)) return;
    if (request.nextHop && goal != Goal::kSent) {
      if (!FollowRedirect(request)) return;
      continue;
    }
    if (request.transferDone) return;

    int waitMs = 1000;
    if (const int limit = IdleLimit(request); limit > 0) {
      const auto deadline = request.idleSince + std::chrono::milliseconds(limit);
      const auto now = Clock::now();
      if (now >= deadline) {
        request.timedOut = true;
        return;
      }
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
      waitMs = static_cast<int>(std::min<long long>(left, waitMs));
    }
    if (curl_multi_poll(request.multi.get(), nullptr, 0, waitMs, nullptr) != CURLM_OK) {
      request.transferDone = true;
      request.transferResult = CURLE_FAILED_INIT;
      return;
    }
  }
}

// True while the body can still give bytes or has ended cleanly.
bool BodyHealthy(const Request& request) {
  if (request.tunnelRefused) return true;  // the proxy's answer ends with its headers
  return !request.timedOut && (!request.transferDone || request.transferResult == CURLE_OK);
}

void PullBody(Request& request) {
  if (request.Pending() == 0 && !request.transferDone && !request.timedOut) {
    Drive(request, Goal::kData);
  }
}

// ---------------------------------------------------------------------------------------------

class CurlHttpApi final : public HttpApi {
 public:
  bool CheckPlatform() override { return CurlReady(); }

  bool CrackUrl(const char16_t* url, std::uint32_t urlLength, std::uint32_t flags,
                UrlComponents* components) override {
    if (url == nullptr || components == nullptr || flags != 0) return false;
    const std::u16string_view text =
        urlLength == 0 ? std::u16string_view(url) : std::u16string_view(url, urlLength);
    return Crack(text, components);
  }

  HttpHandle Open(const char16_t* agent, std::uint32_t accessType, const char16_t* proxyName,
                  const char16_t* proxyBypass, std::uint32_t flags) override {
    if (!CurlReady() || flags != 0) return nullptr;
    if (accessType != kAccessTypeNoProxy && accessType != kAccessTypeNamedProxy &&
        accessType != kAccessTypeDefaultProxy && accessType != kAccessTypeAutomaticProxy) {
      return nullptr;
    }
    auto session = std::make_unique<Session>();
    session->settings.accessType = accessType;
    session->settings.agent = Utf16ToAnsi(ViewOf(agent));
    if (accessType == kAccessTypeNamedProxy) {
      session->settings.proxyList = std::u16string(ViewOf(proxyName));
      session->settings.bypassList = std::u16string(ViewOf(proxyBypass));
      if (session->settings.proxyList.empty()) return nullptr;
    }
    return Handles().Add(std::move(session));
  }

  bool SetTimeouts(HttpHandle handle, int resolveTimeout, int connectTimeout, int sendTimeout,
                   int receiveTimeout) override {
    if (resolveTimeout < -1 || connectTimeout < -1 || sendTimeout < -1 || receiveTimeout < -1) {
      return false;
    }
    const Timeouts timeouts{resolveTimeout, connectTimeout, sendTimeout, receiveTimeout};
    if (auto* session = Handles().Find<Session>(handle, Kind::kSession)) {
      session->settings.timeouts = timeouts;
      return true;
    }
    if (auto* request = Handles().Find<Request>(handle, Kind::kRequest)) {
      request->settings.timeouts = timeouts;
      return true;
    }
    return false;
  }

  HttpHandle Connect(HttpHandle sessionHandle, const char16_t* serverName, std::uint16_t port,
                     std::uint32_t reserved) override {
    auto* session = Handles().Find<Session>(sessionHandle, Kind::kSession);
    if (session == nullptr || reserved != 0) return nullptr;
    std::u16string_view name = ViewOf(serverName);
    if (name.size() > 2 && name.front() == u'[' && name.back() == u']') {
      name = name.substr(1, name.size() - 2);
    }
    if (name.empty()) return nullptr;
    auto connection = std::make_unique<Connection>();
    connection->settings = session->settings;
    connection->host = Utf16ToUtf8(name);
    connection->port = port;
    return Handles().Add(std::move(connection));
  }

  HttpHandle OpenRequest(HttpHandle connectionHandle, const char16_t* verb,
                         const char16_t* objectName, const char16_t* version,
                         const char16_t* referrer, const char16_t* const* acceptTypes,
                         std::uint32_t flags) override {
    auto* connection = Handles().Find<Connection>(connectionHandle, Kind::kConnection);
    if (connection == nullptr || (flags & ~kOpenRequestFlags) != 0) return nullptr;
    auto request = std::make_unique<Request>();
    request->settings = connection->settings;
    Hop& origin = request->origin;
    origin.secure = (flags & kFlagSecure) != 0;
    origin.host = connection->host;
    origin.port = connection->port != 0 ? connection->port : (origin.secure ? 443 : 80);
    origin.verb = verb != nullptr && *verb != 0 ? Utf16ToUtf8(ViewOf(verb)) : "GET";
    if (!std::all_of(origin.verb.begin(), origin.verb.end(),
                     [](char c) { return IsTokenChar(static_cast<unsigned char>(c)); })) {
      return nullptr;
    }
    std::u16string_view object = ViewOf(objectName);
    origin.target = EscapeObjectName(object, flags);
    if (origin.target.empty() || origin.target.front() != '/') origin.target.insert(0, "/");
    if (version != nullptr && *version != 0) {
      request->version = Utf16ToUtf8(ViewOf(version));
      if (request->version != "HTTP/1.1" && request->version != "HTTP/1.0") return nullptr;
    }
    if (referrer != nullptr && *referrer != 0) {
      request->headerLines.push_back("Referer: " + Utf16ToAnsi(ViewOf(referrer)));
    }
    if (acceptTypes != nullptr && acceptTypes[0] != nullptr) {
      std::string accept = "Accept: ";
      for (const char16_t* const* type = acceptTypes; *type != nullptr; ++type) {
        if (type != acceptTypes) accept += ", ";
        accept += Utf16ToAnsi(ViewOf(*type));
      }
      request->headerLines.push_back(std::move(accept));
    }
    return Handles().Add(std::move(request));
  }

  bool SetCredentials(HttpHandle handle, std::uint32_t authTargets, std::uint32_t authScheme,
                      const char16_t* userName, const char16_t* password, void* params) override {
    auto* request = Handles().Find<Request>(handle, Kind::kRequest);
    if (request == nullptr || request->state != Request::State::kOpen) return false;
    // Only BASIC: the challenge schemes would need a second round trip that WinHttp makes
    // inside ReceiveResponse and curl inside one transfer.
    if (authScheme != kAuthSchemeBasic || userName == nullptr || params != nullptr) return false;
    auto credentials = std::make_pair(Utf16ToAnsi(ViewOf(userName)), Utf16ToAnsi(ViewOf(password)));
    if (authTargets == kAuthTargetServer) {
      request->serverCredentials = std::move(credentials);
    } else if (authTargets == kAuthTargetProxy) {
      request->proxyCredentials = std::move(credentials);
    } else {
      return false;
    }
    return true;
  }

  bool SetOption(HttpHandle handle, std::uint32_t option, const void* buffer,
                 std::uint32_t bufferLength) override {
    auto* request = Handles().Find<Request>(handle, Kind::kRequest);
    if (request == nullptr || buffer == nullptr || bufferLength != sizeof(std::uint32_t)) {
      return false;
    }
    std::uint32_t value = 0;
    std::memcpy(&value, buffer, sizeof value);
    switch (option) {
      case kOptionSecurityFlags: {
        constexpr std::uint32_t known =
            kIgnoreUnknownCa | kIgnoreWrongUsage | kIgnoreCnInvalid | kIgnoreDateInvalid;
        if ((value & ~known) != 0) return false;
        request->securityFlags = value;
        return true;
      }
      case kOptionDisableFeature: {
        constexpr std::uint32_t known =
            kDisableCookies | kDisableRedirects | kDisableAuthentication | kDisableKeepAlive;
        if (value == 0 || (value & ~known) != 0) return false;
        request->disabledFeatures |= value;
        return true;
      }
      case kOptionEnableFeature:
        // Revocation checking: with OpenSSL curl has no online check to switch on, and the
        // security flags this program sets accept the certificate anyway.
        return value != 0 && (value & ~(kEnableSslRevocation | kEnableRevertImpersonation)) == 0;
      default:
        return false;
    }
  }

  bool AddRequestHeaders(HttpHandle handle, const char16_t* headers, std::uint32_t headersLength,
                         std::uint32_t modifiers) override {
    auto* request = Handles().Find<Request>(handle, Kind::kRequest);
    if (request == nullptr || request->state != Request::State::kOpen) return false;
    if (headers == nullptr && headersLength != 0) return false;
    return AddHeaderLines(*request, ViewOf(headers, headersLength), modifiers);
  }

  bool SendRequest(HttpHandle handle, const char16_t* headers, std::uint32_t headersLength,
                   const void* optional, std::uint32_t optionalLength, std::uint32_t totalLength,
                   std::uintptr_t) override {
    auto* request = Handles().Find<Request>(handle, Kind::kRequest);
    if (request == nullptr || request->state != Request::State::kOpen) return false;
    // The rest of a longer body would come through a data-writing call this interface lacks.
    if (totalLength != optionalLength || (optional == nullptr && optionalLength != 0)) {
      return false;
    }
    if (headers != nullptr && headersLength != 0 &&
        !AddHeaderLines(*request, ViewOf(headers, headersLength), kAddRequestFlagAdd)) {
      return false;
    }
    request->state = Request::State::kFailed;  // until the request is out
    // The body is kept: a 307 or 308 redirect sends it again.
    request->body.assign(static_cast<const char*>(optional), optionalLength);
    // POST and PUT carry a Content-Length even when empty, as WinHttp's do; HEAD never waits
    // for a body, so it sends none.
    const std::string& verb = request->origin.verb;
    request->origin.sendBody =
        verb != "HEAD" && (optionalLength > 0 || verb == "POST" || verb == "PUT");
    request->hop = request->origin;
    if (!CreateTransfer(*request) || !StartTransfer(*request)) return false;
    Drive(*request, Goal::kSent);
    if (request->timedOut || !Reached(*request, Goal::kSent)) return false;
    request->state = Request::State::kSent;
    return true;
  }

  bool ReceiveResponse(HttpHandle handle, void* reserved) override {
    auto* request = Handles().Find<Request>(handle, Kind::kRequest);
    if (request == nullptr || reserved != nullptr || request->state != Request::State::kSent) {
      return false;
    }
    Drive(*request, Goal::kHeaders);
    if (!request->received) {
      request->state = Request::State::kFailed;
      return false;
    }
    request->state = Request::State::kReceived;
    return true;
  }

  bool QueryDataAvailable(HttpHandle handle, std::uint32_t* numberOfBytesAvailable) override {
    auto* request = Handles().Find<Request>(handle, Kind::kRequest);
    if (request == nullptr || request->state != Request::State::kReceived) return false;
    PullBody(*request);
    const std::size_t pending = request->Pending();
    if (pending == 0 && !BodyHealthy(*request)) return false;
    if (numberOfBytesAvailable != nullptr) {
      *numberOfBytesAvailable =
          static_cast<std::uint32_t>(std::min<std::size_t>(pending, UINT32_MAX));
    }
    return true;
  }

  bool ReadData(HttpHandle handle, void* buffer, std::uint32_t numberOfBytesToRead,
                std::uint32_t* numberOfBytesRead) override {
    auto* request = Handles().Find<Request>(handle, Kind::kRequest);
    if (request == nullptr || request->state != Request::State::kReceived) return false;
    if (buffer == nullptr && numberOfBytesToRead != 0) return false;
    if (numberOfBytesRead != nullptr) *numberOfBytesRead = 0;
    if (numberOfBytesToRead == 0) return true;
    PullBody(*request);
    const std::size_t count = std::min<std::size_t>(request->Pending(), numberOfBytesToRead);
    if (count == 0) return BodyHealthy(*request);
    std::memcpy(buffer, request->pending.data() + request->pendingOffset, count);
    request->pendingOffset += count;
    if (numberOfBytesRead != nullptr) *numberOfBytesRead = static_cast<std::uint32_t>(count);
    return true;
  }

  bool QueryHeaders(HttpHandle handle, std::uint32_t infoLevel, const char16_t* name, void* buffer,
                    std::uint32_t* bufferLength, std::uint32_t* index) override {
    auto* request = Handles().Find<Request>(handle, Kind::kRequest);
    if (request == nullptr || request->state != Request::State::kReceived ||
        bufferLength == nullptr || name != nullptr) {
      return false;
    }
    if (infoLevel != kQueryRawHeadersCrlf && infoLevel != kQueryRawHeaders) return false;
    if (index != nullptr && *index != 0) return false;  // the block exists once
    if (request->rawHeaders16.empty()) request->rawHeaders16 = AnsiToUtf16(request->finalHeaders);
    std::u16string text = request->rawHeaders16;
    if (infoLevel == kQueryRawHeaders) {
      // Lines separated by zero units, the list ending in an extra one.
      std::u16string separated;
      separated.reserve(text.size() + 1);
      for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
          separated.push_back(u'\0');
          ++i;
        } else {
          separated.push_back(text[i]);
        }
      }
      separated.push_back(u'\0');
      text = std::move(separated);
    }
    text.push_back(u'\0');
    const auto needed = static_cast<std::uint32_t>(2 * text.size());
    if (buffer == nullptr || *bufferLength < needed) {
      *bufferLength = needed;
      return false;
    }
    std::memcpy(buffer, text.data(), needed);
    *bufferLength = needed - 2;  // without the terminating zero unit
    return true;
  }

  bool CloseHandle(HttpHandle handle) override { return Handles().Close(handle); }
};

}  // namespace

int CurlBackendLiveObjects() { return Handles().Count() + g_liveCurlObjects.load(); }

HttpApi& PlatformHttpApi() {
  static CurlHttpApi api;
  return api;
}

}  // namespace korvanel
