// The WinHttp backend of HttpApi: each call forwards to the WinHttp function of the same name,
// bound by name from "Winhttp.dll" at first use. A missing DLL or function makes
// CheckPlatform false and every other call fail.
//
// Response header text is read as code page 936 bytes, as with the other backend: WinHttp
// widens each header byte to a unit, which would turn a GBK cookie into question marks.
//
// Wine's WinHttp differs from Windows in four ways that WebRequest can see; the backend evens
// them out so both behave as Windows documents:
// - it cracks "http://host?query" and "http://host/path#fragment" differently (below);
// - its synchronous send already waits for the response headers, bounded only by the
//   response-header timeout (90 s by default), not by the receive timeout: so the
//   response-header timeout of every request is set to the receive timeout, and a send that
//   timed out waiting for headers is reported as a response that never came;
// - a connection closed in the middle of the body reads as its normal end: so the bytes read
//   are counted against the Content-Length and the read fails when fewer arrived;
// - a redirect from an https page to an http address, which Windows does not follow by
//   default but hands back as the response, fails the wait for the response: so the wait is
//   asked again with redirects off, which gives that response.
#include "web/http_api.h"

#include <cstring>
#include <cwchar>
#include <map>
#include <mutex>
#include <string>

#include "text/code_page.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winhttp.h>

namespace korvanel {
namespace {

// The functions, bound by name. decltype names their types without linking against them.
struct WinHttpFunctions {
  decltype(&::WinHttpCheckPlatform) checkPlatform = nullptr;
  decltype(&::WinHttpCrackUrl) crackUrl = nullptr;
  decltype(&::WinHttpOpen) open = nullptr;
  decltype(&::WinHttpSetTimeouts) setTimeouts = nullptr;
  decltype(&::WinHttpConnect) connect = nullptr;
  decltype(&::WinHttpOpenRequest) openRequest = nullptr;
  decltype(&::WinHttpSetCredentials) setCredentials = nullptr;
  decltype(&::WinHttpSetOption) setOption = nullptr;
  decltype(&::WinHttpAddRequestHeaders) addRequestHeaders = nullptr;
  decltype(&::WinHttpSendRequest) sendRequest = nullptr;
  decltype(&::WinHttpReceiveResponse) receiveResponse = nullptr;
  decltype(&::WinHttpQueryDataAvailable) queryDataAvailable = nullptr;
  decltype(&::WinHttpReadData) readData = nullptr;
  decltype(&::WinHttpQueryHeaders) queryHeaders = nullptr;
  decltype(&::WinHttpCloseHandle) closeHandle = nullptr;
  bool complete = false;
};

template <typename Function>
bool Bind(HMODULE module, const char* name, Function& function) {
  // GetProcAddress gives a generic function pointer; the cast goes through void* so the
  // compiler does not warn about incompatible function types.
  function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return function != nullptr;
}

WinHttpFunctions LoadWinHttp() {
  WinHttpFunctions f;
  HMODULE module = LoadLibraryA("Winhttp.dll");
  if (module == nullptr) return f;
  // The library stays loaded for the life of the process, as the backend does.
  f.complete = Bind(module, "WinHttpCheckPlatform", f.checkPlatform) &&
               Bind(module, "WinHttpCrackUrl", f.crackUrl) && Bind(module, "WinHttpOpen", f.open) &&
               Bind(module, "WinHttpSetTimeouts", f.setTimeouts) &&
               Bind(module, "WinHttpConnect", f.connect) &&
               Bind(module, "WinHttpOpenRequest", f.openRequest) &&
               Bind(module, "WinHttpSetCredentials", f.setCredentials) &&
               Bind(module, "WinHttpSetOption", f.setOption) &&
               Bind(module, "WinHttpAddRequestHeaders", f.addRequestHeaders) &&
               Bind(module, "WinHttpSendRequest", f.sendRequest) &&
               Bind(module, "WinHttpReceiveResponse", f.receiveResponse) &&
               Bind(module, "WinHttpQueryDataAvailable", f.queryDataAvailable) &&
               Bind(module, "WinHttpReadData", f.readData) &&
               Bind(module, "WinHttpQueryHeaders", f.queryHeaders) &&
               Bind(module, "WinHttpCloseHandle", f.closeHandle);
  return f;
}

// Windows ends the host name and the path at the first "?" or "#" and hands the rest back as
// extra information. Wine keeps a query that follows the host directly inside the host name
// and a fragment inside the path; moving them where Windows puts them changes nothing for
// addresses that Windows itself cracks.
void SplitExtraInfo(UrlComponents& parts) {
  const std::size_t inHost = parts.hostName.find_first_of(u"?#");
  if (inHost != std::u16string::npos) {
    parts.extraInfo = parts.hostName.substr(inHost) + parts.urlPath + parts.extraInfo;
    parts.hostName.resize(inHost);
    parts.urlPath.clear();
  }
  const std::size_t inPath = parts.urlPath.find_first_of(u"?#");
  if (inPath != std::u16string::npos) {
    parts.extraInfo = parts.urlPath.substr(inPath) + parts.extraInfo;
    parts.urlPath.resize(inPath);
  }
}

// Units that each hold one byte, read as code page 936 text. Units above 0xFF
// mean the bytes were already decoded, and are left alone.
std::u16string UnitsAsGbk(const std::u16string& units) {
  Text bytes;
  bytes.reserve(units.size());
  for (char16_t unit : units) {
    if (unit > 0xFF) return units;
    if (unit == 0) break;
    bytes.push_back(static_cast<char>(unit));
  }
  const ByteSet wide = AnsiToUnicode(bytes);
  std::u16string text;
  for (std::size_t i = 0; i + 1 < wide.size(); i += 2) {
    const auto unit = static_cast<char16_t>(wide[i] | (wide[i + 1] << 8));
    if (unit == 0) break;
    text.push_back(unit);
  }
  return text;
}

bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

// What the backend remembers of a request between calls.
struct RequestState {
  bool head = false;               // a HEAD response has no body, whatever it announces
  bool secure = false;             // opened for https
  bool responseNeverCame = false;  // Wine's send timed out waiting for the headers
  long long expectedBytes = -1;    // Content-Length of the final response; -1 when unknown
  long long bytesRead = 0;
  bool connectionLost = false;  // asking for more of a short body failed
};

class WinHttpApi final : public HttpApi {
 public:
  WinHttpApi() : m_f(LoadWinHttp()), m_wine(RunningUnderWine()) {}

  bool CheckPlatform() override { return m_f.complete && m_f.checkPlatform(); }

  bool CrackUrl(const char16_t* url, std::uint32_t urlLength, std::uint32_t flags,
                UrlComponents* components) override {
    if (!Usable() || components == nullptr) return false;
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    // A length of -1 with no buffer asks for a pointer into the address itself.
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!m_f.crackUrl(Wide(url), urlLength, flags, &parts)) return false;
    auto piece = [](const wchar_t* start, DWORD length) {
      return start == nullptr ? std::u16string()
                              : std::u16string(reinterpret_cast<const char16_t*>(start), length);
    };
    components->scheme = parts.nScheme;
    components->hostName = piece(parts.lpszHostName, parts.dwHostNameLength);
    components->port = parts.nPort;
    components->urlPath = piece(parts.lpszUrlPath, parts.dwUrlPathLength);
    components->extraInfo = piece(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    SplitExtraInfo(*components);
    return true;
  }

  HttpHandle Open(const char16_t* agent, std::uint32_t accessType, const char16_t* proxyName,
                  const char16_t* proxyBypass, std::uint32_t flags) override {
    if (!Usable()) return nullptr;
    return m_f.open(Wide(agent), accessType, Wide(proxyName), Wide(proxyBypass), flags);
  }

  bool SetTimeouts(HttpHandle session, int resolveTimeout, int connectTimeout, int sendTimeout,
                   int receiveTimeout) override {
    if (!Usable()) return false;
    if (!m_f.setTimeouts(session, resolveTimeout, connectTimeout, sendTimeout, receiveTimeout))
      return false;
    std::lock_guard lock(m_mutex);
    m_receiveTimeouts[session] = receiveTimeout;
    return true;
  }

  HttpHandle Connect(HttpHandle session, const char16_t* serverName, std::uint16_t port,
                     std::uint32_t reserved) override {
    if (!Usable()) return nullptr;
    HINTERNET connection = m_f.connect(session, Wide(serverName), port, reserved);
    if (connection != nullptr) {
      std::lock_guard lock(m_mutex);
      m_sessionOf[connection] = session;
    }
    return connection;
  }

  HttpHandle OpenRequest(HttpHandle connection, const char16_t* verb, const char16_t* objectName,
                         const char16_t* version, const char16_t* referrer,
                         const char16_t* const* acceptTypes, std::uint32_t flags) override {
    if (!Usable()) return nullptr;
    HINTERNET request = m_f.openRequest(
        connection, Wide(verb), Wide(objectName), Wide(version), Wide(referrer),
        const_cast<LPCWSTR*>(reinterpret_cast<const wchar_t* const*>(acceptTypes)), flags);
    if (request == nullptr) return nullptr;
    RequestState state;
    state.head = verb != nullptr && std::wcscmp(Wide(verb), L"HEAD") == 0;
    state.secure = (flags & WINHTTP_FLAG_SECURE) != 0;
    int receiveTimeout = -1;
    {
      std::lock_guard lock(m_mutex);
      m_requests[request] = state;
      auto session = m_sessionOf.find(connection);
      if (session != m_sessionOf.end()) {
        auto timeout = m_receiveTimeouts.find(session->second);
        if (timeout != m_receiveTimeouts.end()) receiveTimeout = timeout->second;
      }
    }
    // The wait for the response headers is bounded by the receive timeout, as on Windows
    // (see the top of this file). Where the option is refused nothing is lost but the bound.
    if (receiveTimeout >= 0) {
      DWORD value = static_cast<DWORD>(receiveTimeout);
      m_f.setOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &value, sizeof(value));
    }
    return request;
  }

  bool SetCredentials(HttpHandle request, std::uint32_t authTargets, std::uint32_t authScheme,
                      const char16_t* userName, const char16_t* password, void* params) override {
    if (!Usable()) return false;
    return m_f.setCredentials(request, authTargets, authScheme, Wide(userName), Wide(password),
                              params);
  }

  bool SetOption(HttpHandle handle, std::uint32_t option, const void* buffer,
                 std::uint32_t bufferLength) override {
    if (!Usable()) return false;
    return m_f.setOption(handle, option, const_cast<void*>(buffer), bufferLength);
  }

  bool AddRequestHeaders(HttpHandle request, const char16_t* headers, std::uint32_t headersLength,
                         std::uint32_t modifiers) override {
    if (!Usable()) return false;
    return m_f.addRequestHeaders(request, Wide(headers), headersLength, modifiers);
  }

  bool SendRequest(HttpHandle request, const char16_t* headers, std::uint32_t headersLength,
                   const void* optional, std::uint32_t optionalLength, std::uint32_t totalLength,
                   std::uintptr_t context) override {
    if (!Usable()) return false;
    if (m_f.sendRequest(request, Wide(headers), headersLength, const_cast<void*>(optional),
                        optionalLength, totalLength, context))
      return true;
    if (m_wine && GetLastError() == ERROR_WINHTTP_TIMEOUT) {
      // Wine waited for the response inside the send and gave up: on Windows the request
      // would have gone out and the wait for the response would fail.
      std::lock_guard lock(m_mutex);
      auto state = m_requests.find(request);
      if (state != m_requests.end()) {
        state->second.responseNeverCame = true;
        return true;
      }
    }
    return false;
  }

  bool ReceiveResponse(HttpHandle request, void* reserved) override {
    if (!Usable()) return false;
    {
      std::lock_guard lock(m_mutex);
      auto state = m_requests.find(request);
      if (state != m_requests.end() && state->second.responseNeverCame) {
        SetLastError(ERROR_WINHTTP_TIMEOUT);
        return false;
      }
    }
    if (!m_f.receiveResponse(request, reserved) && !RedirectToHttpRefused(request, reserved))
      return false;
    const long long expected = ExpectedBodyLength(request);
    std::lock_guard lock(m_mutex);
    auto state = m_requests.find(request);
    if (state != m_requests.end()) {
      state->second.expectedBytes = state->second.head ? 0 : expected;
      state->second.bytesRead = 0;
    }
    return true;
  }

  bool QueryDataAvailable(HttpHandle request, std::uint32_t* numberOfBytesAvailable) override {
    if (!Usable()) return false;
    DWORD available = 0;
    if (!m_f.queryDataAvailable(request, &available)) {
      // A connection lost before the announced body is complete is reported by the read
      // that follows, the one place where WebRequest notices a loss.
      if (!BodyCutShort(request, /*markLost=*/true)) return false;
      available = 1;
    }
    // Wine reports a body cut short as its end; announcing a byte lets the read that follows
    // report the loss.
    if (available == 0 && BodyCutShort(request)) available = 1;
    if (numberOfBytesAvailable != nullptr) *numberOfBytesAvailable = available;
    return true;
  }

  bool ReadData(HttpHandle request, void* buffer, std::uint32_t numberOfBytesToRead,
                std::uint32_t* numberOfBytesRead) override {
    if (!Usable()) return false;
    if (ConnectionLost(request)) {
      SetLastError(ERROR_WINHTTP_CONNECTION_ERROR);
      return false;
    }
    DWORD read = 0;
    if (!m_f.readData(request, buffer, numberOfBytesToRead, &read)) return false;
    if (numberOfBytesRead != nullptr) *numberOfBytesRead = read;
    if (read == 0 && numberOfBytesToRead > 0 && BodyCutShort(request)) {
      SetLastError(ERROR_WINHTTP_CONNECTION_ERROR);
      return false;
    }
    std::lock_guard lock(m_mutex);
    auto state = m_requests.find(request);
    if (state != m_requests.end()) state->second.bytesRead += read;
    return true;
  }

  bool QueryHeaders(HttpHandle request, std::uint32_t infoLevel, const char16_t* name, void* buffer,
                    std::uint32_t* bufferLength, std::uint32_t* index) override {
    if (!Usable()) return false;
    if (infoLevel == WINHTTP_QUERY_RAW_HEADERS_CRLF || infoLevel == WINHTTP_QUERY_RAW_HEADERS)
      return QueryRawHeaders(request, infoLevel, buffer, bufferLength);
    DWORD length = bufferLength != nullptr ? *bufferLength : 0;
    DWORD headerIndex = index != nullptr ? *index : 0;
    const BOOL ok = m_f.queryHeaders(request, infoLevel, Wide(name), buffer, &length,
                                     index != nullptr ? &headerIndex : nullptr);
    // The length needed is written back on failure too (a buffer too small).
    if (bufferLength != nullptr) *bufferLength = length;
    if (index != nullptr) *index = headerIndex;
    return ok;
  }

  bool CloseHandle(HttpHandle handle) override {
    if (!Usable()) return false;
    {
      std::lock_guard lock(m_mutex);
      m_requests.erase(handle);
      m_sessionOf.erase(handle);
      m_receiveTimeouts.erase(handle);
    }
    return m_f.closeHandle(handle);
  }

 private:
  bool Usable() {
    if (m_f.complete) return true;
    SetLastError(ERROR_PROC_NOT_FOUND);
    return false;
  }

  // Called when the wait for the response failed. Under Wine, a secure request whose response
  // redirects to an http address fails that wait and leaves the response unreadable; with
  // redirects switched off the wait is asked again and gives that response, as Windows would.
  // True when it did.
  bool RedirectToHttpRefused(HINTERNET request, void* reserved) {
    if (!m_wine || GetLastError() != ERROR_WINHTTP_REDIRECT_FAILED) return false;
    {
      std::lock_guard lock(m_mutex);
      auto state = m_requests.find(request);
      if (state == m_requests.end() || !state->second.secure) return false;
    }
    DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
    if (!m_f.setOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects,
                       sizeof(noRedirects)) ||
        !m_f.receiveResponse(request, reserved))
      return false;
    // Too many redirects fail the same way; only a Location down to http is taken.
    DWORD length = 0;
    m_f.queryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX, nullptr,
                     &length, WINHTTP_NO_HEADER_INDEX);
    std::wstring location(length / sizeof(wchar_t) + 1, L'\0');
    const bool down =
        length > 0 &&
        m_f.queryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX,
                         location.data(), &length, WINHTTP_NO_HEADER_INDEX) &&
        _wcsnicmp(location.c_str(), L"http:", 5) == 0;
    if (!down) SetLastError(ERROR_WINHTTP_REDIRECT_FAILED);
    return down;
  }

  // The body length the final response announces; -1 when it announces none (chunked, or
  // until the connection closes) or has no body by its status.
  long long ExpectedBodyLength(HINTERNET request) {
    DWORD status = 0;
    DWORD length = sizeof(status);
    if (!m_f.queryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &status, &length, WINHTTP_NO_HEADER_INDEX))
      return -1;
    if ((status >= 100 && status < 200) || status == 204 || status == 304) return 0;
    wchar_t text[32] = {};
    length = sizeof(text) - sizeof(wchar_t);
    if (!m_f.queryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text,
                          &length, WINHTTP_NO_HEADER_INDEX))
      return -1;
    long long value = 0;
    bool digits = false;
    for (const wchar_t* c = text; *c != L'\0'; ++c) {
      if (*c == L' ') continue;
      if (*c < L'0' || *c > L'9' || value > (1LL << 50)) return -1;
      value = value * 10 + (*c - L'0');
      digits = true;
    }
    return digits ? value : -1;
  }

  // The raw header block with its bytes read as code page 936. WinHttp widens each header
  // byte to a unit of its own; when it did so (no unit above 0xFF), the bytes are taken back
  // and read as GBK, so header text reaches WebRequest as the server wrote it.
  bool QueryRawHeaders(HINTERNET request, DWORD infoLevel, void* buffer,
                       std::uint32_t* bufferLength) {
    DWORD length = 0;
    m_f.queryHeaders(request, infoLevel, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &length,
                     WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || length == 0) return false;
    std::u16string block(length / 2 + 1, u'\0');
    if (!m_f.queryHeaders(request, infoLevel, WINHTTP_HEADER_NAME_BY_INDEX, block.data(), &length,
                          WINHTTP_NO_HEADER_INDEX))
      return false;
    block.resize(length / 2);
    while (!block.empty() && block.back() == u'\0') block.pop_back();
    const std::u16string text = UnitsAsGbk(block);
    const std::uint32_t needed = static_cast<std::uint32_t>((text.size() + 1) * 2);
    if (bufferLength == nullptr) return false;
    if (buffer == nullptr || *bufferLength < needed) {
      *bufferLength = needed;
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return false;
    }
    std::memcpy(buffer, text.c_str(), needed);
    *bufferLength = needed - 2;
    return true;
  }

  bool BodyCutShort(HINTERNET request, bool markLost = false) {
    std::lock_guard lock(m_mutex);
    auto state = m_requests.find(request);
    const bool cutShort = state != m_requests.end() && state->second.expectedBytes >= 0 &&
                          state->second.bytesRead < state->second.expectedBytes;
    if (cutShort && markLost) state->second.connectionLost = true;
    return cutShort;
  }

  bool ConnectionLost(HINTERNET request) {
    std::lock_guard lock(m_mutex);
    auto state = m_requests.find(request);
    return state != m_requests.end() && state->second.connectionLost;
  }

  const WinHttpFunctions m_f;
  const bool m_wine;
  std::mutex m_mutex;
  std::map<HINTERNET, RequestState> m_requests;
  std::map<HINTERNET, HINTERNET> m_sessionOf;  // connection -> its session
  std::map<HINTERNET, int> m_receiveTimeouts;  // session -> its receive timeout
};

}  // namespace

HttpApi& PlatformHttpApi() {
  static WinHttpApi api;
  return api;
}

}  // namespace korvanel
