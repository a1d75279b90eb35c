// The HTTP platform backend over libcurl, shaped and behaving like WinHttp wherever WebRequest
// can observe it.
//
// Each request handle owns one transfer (http_api_curl_transfer.h), so the calls return at the
// same points as WinHttp's synchronous ones: SendRequest once the request has gone out,
// ReceiveResponse once the final response's header block is in, and the data calls as body
// bytes arrive. Nothing is shared between requests but curl's global state, so several threads
// may run requests at once. WinHttp's rules (cracking, escaping, proxies, header lines,
// redirects) are those of winhttp_rules.h.
//
// Choices where WinHttp and libcurl differ:
// - Redirects are followed here, not by curl, so that they go as WinHttp's do: at most 10,
//   POST turns into GET on 301, 302 and 303, never from https down to http (that response is
//   handed back as it is), and the raw headers are those of the final response only.
// - Header text travels as code page 936 bytes both ways: the caller's UTF-16 block is narrowed
//   with Utf16ToAnsi and the response header bytes are widened with AnsiToUtf16, so a GBK
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

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "text/code_page.h"
#include "text/utf8.h"
#include "web/http_api_curl_holders.h"
#include "web/http_api_curl_transfer.h"
#include "web/winhttp_rules.h"

namespace korvanel {
namespace {

constexpr std::uint32_t kNulTerminated = 0xFFFFFFFF;  // a length of -1L
constexpr std::uint32_t kOpenRequestFlags = kFlagSecure | kFlagEscapePercent | kFlagNullCodePage |
                                            kFlagEscapeDisable | kFlagEscapeDisableQuery |
                                            kFlagRefresh;
constexpr std::uint32_t kAddRequestFlagAddIfNew = 0x10000000;
constexpr std::uint32_t kAddRequestFlagReplace = 0x80000000;
constexpr std::uint32_t kQueryRawHeaders = 21;  // lines separated by zero units

std::u16string_view ViewOf(const char16_t* text, std::uint32_t length) {
  if (text == nullptr) return {};
  if (length == kNulTerminated) return std::u16string_view(text);
  return std::u16string_view(text, length);
}

std::u16string_view ViewOf(const char16_t* text) {
  return text != nullptr ? std::u16string_view(text) : std::u16string_view();
}

// ---------------------------------------------------------------------------------------------
// Handles.

enum class Kind { kSession, kConnection, kRequest };

struct Handle {
  explicit Handle(Kind kind) : kind(kind) {}
  virtual ~Handle() = default;
  const Kind kind;
};

struct SessionSettings {
  std::string agent;  // code page 936 bytes for the User-Agent line; empty: none
  ProxySettings proxy;
  curl::Timeouts timeouts;
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

struct Request final : Handle {
  Request() : Handle(Kind::kRequest) {}

  enum class State { kOpen, kSent, kReceived, kFailed };
  State state = State::kOpen;
  curl::RequestSetup setup;
  std::unique_ptr<curl::Transfer> transfer;  // from SendRequest on
  std::u16string rawHeaders16;               // the final response's, once asked for
};

class Registry {
 public:
  HttpHandle Add(std::unique_ptr<Handle> handle) {
    std::lock_guard lock(m_mutex);
    Handle* raw = handle.release();
    m_live.insert(raw);
    return raw;
  }
  template <typename T>
  T* Find(HttpHandle handle, Kind kind) {
    std::lock_guard lock(m_mutex);
    auto it = m_live.find(static_cast<Handle*>(handle));
    if (it == m_live.end() || (*it)->kind != kind) return nullptr;
    return static_cast<T*>(*it);
  }
  Handle* FindAny(HttpHandle handle) {
    std::lock_guard lock(m_mutex);
    auto it = m_live.find(static_cast<Handle*>(handle));
    return it == m_live.end() ? nullptr : *it;
  }
  bool Close(HttpHandle handle) {
    Handle* found = nullptr;
    {
      std::lock_guard lock(m_mutex);
      auto it = m_live.find(static_cast<Handle*>(handle));
      if (it == m_live.end()) return false;
      found = *it;
      m_live.erase(it);
    }
    delete found;
    return true;
  }
  int Count() {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_live.size());
  }

 private:
  std::mutex m_mutex;
  std::unordered_set<Handle*> m_live;
};

Registry& Handles() {
  static Registry registry;
  return registry;
}

// ---------------------------------------------------------------------------------------------
// Header lines.

// The caller's header lines joined to the request's as the modifiers say.
bool AddHeaderLines(Request& request, std::u16string_view block, std::uint32_t modifiers) {
  std::vector<std::string> lines;
  if (!SplitHeaderBlock(Utf16ToAnsi(block), &lines)) return false;
  if ((modifiers & kAddRequestFlagReplace) != 0) {
    for (const std::string& line : lines) {
      const std::string_view name = HeaderName(line);
      auto& existing = request.setup.headerLines;
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
      if (HasHeader(request.setup.headerLines, HeaderName(line))) return false;
    }
  }
  request.setup.headerLines.insert(request.setup.headerLines.end(), lines.begin(), lines.end());
  return true;
}

// ---------------------------------------------------------------------------------------------

class CurlHttpApi final : public HttpApi {
 public:
  bool CheckPlatform() override { return curl::Ready(); }

  bool CrackUrl(const char16_t* url, std::uint32_t urlLength, std::uint32_t flags,
                UrlComponents* components) override {
    if (url == nullptr || components == nullptr || flags != 0) return false;
    const std::u16string_view text =
        urlLength == 0 ? std::u16string_view(url) : std::u16string_view(url, urlLength);
    return CrackHttpUrl(text, components);
  }

  HttpHandle Open(const char16_t* agent, std::uint32_t accessType, const char16_t* proxyName,
                  const char16_t* proxyBypass, std::uint32_t flags) override {
    if (!curl::Ready() || flags != 0) return nullptr;
    if (accessType != kAccessTypeNoProxy && accessType != kAccessTypeNamedProxy &&
        accessType != kAccessTypeDefaultProxy && accessType != kAccessTypeAutomaticProxy) {
      return nullptr;
    }
    auto session = std::make_unique<Session>();
    session->settings.proxy.accessType = accessType;
    session->settings.agent = Utf16ToAnsi(ViewOf(agent));
    if (accessType == kAccessTypeNamedProxy) {
      session->settings.proxy.proxyList = std::u16string(ViewOf(proxyName));
      session->settings.proxy.bypassList = std::u16string(ViewOf(proxyBypass));
      if (session->settings.proxy.proxyList.empty()) return nullptr;
    }
    return Handles().Add(std::move(session));
  }

  bool SetTimeouts(HttpHandle handle, int resolveTimeout, int connectTimeout, int sendTimeout,
                   int receiveTimeout) override {
    if (resolveTimeout < -1 || connectTimeout < -1 || sendTimeout < -1 || receiveTimeout < -1) {
      return false;
    }
    const curl::Timeouts timeouts{resolveTimeout, connectTimeout, sendTimeout, receiveTimeout};
    if (auto* session = Handles().Find<Session>(handle, Kind::kSession)) {
      session->settings.timeouts = timeouts;
      return true;
    }
    if (auto* request = Handles().Find<Request>(handle, Kind::kRequest)) {
      request->setup.timeouts = timeouts;
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
    curl::RequestSetup& setup = request->setup;
    setup.proxy = connection->settings.proxy;
    setup.timeouts = connection->settings.timeouts;
    setup.agent = connection->settings.agent;
    curl::Hop& origin = setup.origin;
    origin.secure = (flags & kFlagSecure) != 0;
    origin.host = connection->host;
    origin.port = connection->port != 0 ? connection->port : (origin.secure ? 443 : 80);
    origin.verb = verb != nullptr && *verb != 0 ? Utf16ToUtf8(ViewOf(verb)) : "GET";
    if (!IsToken(origin.verb)) return nullptr;
    std::u16string_view object = ViewOf(objectName);
    origin.target = EscapeObjectName(object, flags);
    if (origin.target.empty() || origin.target.front() != '/') origin.target.insert(0, "/");
    if (version != nullptr && *version != 0) {
      setup.version = Utf16ToUtf8(ViewOf(version));
      if (setup.version != "HTTP/1.1" && setup.version != "HTTP/1.0") return nullptr;
    }
    if (referrer != nullptr && *referrer != 0) {
      setup.headerLines.push_back("Referer: " + Utf16ToAnsi(ViewOf(referrer)));
    }
    if (acceptTypes != nullptr && acceptTypes[0] != nullptr) {
      std::string accept = "Accept: ";
      for (const char16_t* const* type = acceptTypes; *type != nullptr; ++type) {
        if (type != acceptTypes) accept += ", ";
        accept += Utf16ToAnsi(ViewOf(*type));
      }
      setup.headerLines.push_back(std::move(accept));
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
    curl::Credentials credentials(Utf16ToAnsi(ViewOf(userName)), Utf16ToAnsi(ViewOf(password)));
    if (authTargets == kAuthTargetServer) {
      request->setup.serverCredentials = std::move(credentials);
    } else if (authTargets == kAuthTargetProxy) {
      request->setup.proxyCredentials = std::move(credentials);
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
        request->setup.securityFlags = value;
        return true;
      }
      case kOptionDisableFeature: {
        constexpr std::uint32_t known =
            kDisableCookies | kDisableRedirects | kDisableAuthentication | kDisableKeepAlive;
        if (value == 0 || (value & ~known) != 0) return false;
        request->setup.disabledFeatures |= value;
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
    curl::RequestSetup& setup = request->setup;
    setup.body.assign(static_cast<const char*>(optional), optionalLength);
    // POST and PUT carry a Content-Length even when empty, as WinHttp's do; HEAD never waits
    // for a body, so it sends none.
    const std::string& verb = setup.origin.verb;
    setup.origin.sendBody =
        verb != "HEAD" && (optionalLength > 0 || verb == "POST" || verb == "PUT");
    request->transfer = std::make_unique<curl::Transfer>(setup);
    if (!request->transfer->Start() || !request->transfer->WaitUntilSent()) return false;
    request->state = Request::State::kSent;
    return true;
  }

  bool ReceiveResponse(HttpHandle handle, void* reserved) override {
    auto* request = Handles().Find<Request>(handle, Kind::kRequest);
    if (request == nullptr || reserved != nullptr || request->state != Request::State::kSent) {
      return false;
    }
    if (!request->transfer->WaitForResponse()) {
      request->state = Request::State::kFailed;
      return false;
    }
    request->state = Request::State::kReceived;
    return true;
  }

  bool QueryDataAvailable(HttpHandle handle, std::uint32_t* numberOfBytesAvailable) override {
    auto* request = Handles().Find<Request>(handle, Kind::kRequest);
    if (request == nullptr || request->state != Request::State::kReceived) return false;
    const std::size_t pending = request->transfer->Available();
    if (pending == 0 && !request->transfer->BodyHealthy()) return false;
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
    const std::size_t count = request->transfer->Read(buffer, numberOfBytesToRead);
    if (count == 0) return request->transfer->BodyHealthy();
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
    if (request->rawHeaders16.empty())
      request->rawHeaders16 = AnsiToUtf16(request->transfer->ResponseHeaders());
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

int CurlBackendLiveObjects() { return Handles().Count() + curl::LiveObjects(); }

HttpApi& PlatformHttpApi() {
  static CurlHttpApi api;
  return api;
}

}  // namespace korvanel
