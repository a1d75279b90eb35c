// The WinHttp backend of HttpApi: each call forwards to the WinHttp function of the same name,
// bound by name from "Winhttp.dll" at first use. A missing DLL or function makes
// CheckPlatform false and every other call fail.
//
// Response header text is read as code page 936 bytes, as with the other backend: WinHttp
// widens each header byte to a unit, which would turn a GBK cookie into question marks.
//
// Wine's WinHttp differs from Windows in four ways that WebRequest can see (cracking, the
// wait for the response, a redirect down from https, a body cut short); the corrections live in
// web/wine_quirks_win.h, so that each call here reads as Windows documents it.
#include "web/http_api.h"

#include <cstring>
#include <cwchar>
#include <string>

#include "text/code_page.h"
#include "web/wine_quirks_win.h"

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

// Units that each hold one byte, read as code page 936 text. Units above 0xFF
// mean the bytes were already decoded, and are left alone.
std::u16string RereadWidenedBytesAsAnsi(const std::u16string& units) {
  Text bytes;
  bytes.reserve(units.size());
  for (char16_t unit : units) {
    if (unit > 0xFF) return units;
    if (unit == 0) break;
    bytes.push_back(static_cast<char>(unit));
  }
  return AnsiToUtf16(bytes);
}

const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

class WinHttpApi final : public HttpApi {
 public:
  WinHttpApi() : m_f(LoadWinHttp()), m_wineCorrections(m_f.queryHeaders, m_f.setOption) {}

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
    wine::MoveExtraInfoWhereWindowsPutsIt(*components);
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
    m_wineCorrections.SessionTimeoutsSet(session, receiveTimeout);
    return true;
  }

  HttpHandle Connect(HttpHandle session, const char16_t* serverName, std::uint16_t port,
                     std::uint32_t reserved) override {
    if (!Usable()) return nullptr;
    HINTERNET connection = m_f.connect(session, Wide(serverName), port, reserved);
    if (connection != nullptr) m_wineCorrections.Connected(session, connection);
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
    const bool head = verb != nullptr && std::wcscmp(Wide(verb), L"HEAD") == 0;
    m_wineCorrections.RequestOpened(connection, request, head, (flags & WINHTTP_FLAG_SECURE) != 0);
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
    return m_wineCorrections.SendWaitedForTheResponse(request, GetLastError());
  }

  bool ReceiveResponse(HttpHandle request, void* reserved) override {
    if (!Usable()) return false;
    if (m_wineCorrections.ResponseNeverCame(request)) {
      SetLastError(ERROR_WINHTTP_TIMEOUT);
      return false;
    }
    if (!m_f.receiveResponse(request, reserved) &&
        !m_wineCorrections.RedirectToHttpAnswered(request, GetLastError(), m_f.receiveResponse))
      return false;
    m_wineCorrections.ResponseReceived(request);
    return true;
  }

  bool QueryDataAvailable(HttpHandle request, std::uint32_t* numberOfBytesAvailable) override {
    if (!Usable()) return false;
    DWORD available = 0;
    const bool asked = m_f.queryDataAvailable(request, &available);
    const long long announced = m_wineCorrections.Available(request, asked, available);
    if (announced < 0) return false;
    if (numberOfBytesAvailable != nullptr) {
      *numberOfBytesAvailable = static_cast<std::uint32_t>(announced);
    }
    return true;
  }

  bool ReadData(HttpHandle request, void* buffer, std::uint32_t numberOfBytesToRead,
                std::uint32_t* numberOfBytesRead) override {
    if (!Usable()) return false;
    if (m_wineCorrections.ConnectionLostBeforeRead(request)) {
      SetLastError(ERROR_WINHTTP_CONNECTION_ERROR);
      return false;
    }
    DWORD read = 0;
    if (!m_f.readData(request, buffer, numberOfBytesToRead, &read)) return false;
    if (numberOfBytesRead != nullptr) *numberOfBytesRead = read;
    if (m_wineCorrections.ReadCutShort(request, numberOfBytesToRead, read)) {
      SetLastError(ERROR_WINHTTP_CONNECTION_ERROR);
      return false;
    }
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
    m_wineCorrections.Closed(handle);
    return m_f.closeHandle(handle);
  }

 private:
  bool Usable() {
    if (m_f.complete) return true;
    SetLastError(ERROR_PROC_NOT_FOUND);
    return false;
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
    const std::u16string text = RereadWidenedBytesAsAnsi(block);
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

  const WinHttpFunctions m_f;
  wine::WinHttpCorrections m_wineCorrections;
};

}  // namespace

HttpApi& PlatformHttpApi() {
  static WinHttpApi api;
  return api;
}

}  // namespace korvanel
