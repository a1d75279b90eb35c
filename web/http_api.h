// The HTTP platform interface: one virtual function per WinHttp call that WebRequest makes,
// with WinHttp's arguments and results, so the routine above it is written once. Handles are
// opaque; a null handle means the call failed. Strings are NUL-terminated UTF-16.
//
// PlatformHttpApi() gives the backend of the platform: WinHttp on Windows, libcurl elsewhere.
// Both behave alike wherever WebRequest can observe them; a fake in the tests can fail any
// single call.
#pragma once

#include <cstdint>
#include <string>

namespace korvanel {

using HttpHandle = void*;

// The values WebRequest passes, under names that do not clash with the Windows macros.
inline constexpr int kSchemeHttp = 1;                       // INTERNET_SCHEME_HTTP
inline constexpr int kSchemeHttps = 2;                      // INTERNET_SCHEME_HTTPS
inline constexpr std::uint32_t kAccessTypeNoProxy = 1;      // WINHTTP_ACCESS_TYPE_NO_PROXY
inline constexpr std::uint32_t kAccessTypeNamedProxy = 3;   // WINHTTP_ACCESS_TYPE_NAMED_PROXY
inline constexpr std::uint32_t kFlagSecure = 0x00800000;    // WINHTTP_FLAG_SECURE
inline constexpr std::uint32_t kAuthTargetServer = 0;       // WINHTTP_AUTH_TARGET_SERVER
inline constexpr std::uint32_t kAuthTargetProxy = 1;        // WINHTTP_AUTH_TARGET_PROXY
inline constexpr std::uint32_t kAuthSchemeBasic = 1;        // WINHTTP_AUTH_SCHEME_BASIC
inline constexpr std::uint32_t kOptionSecurityFlags = 31;   // WINHTTP_OPTION_SECURITY_FLAGS
inline constexpr std::uint32_t kOptionDisableFeature = 63;  // WINHTTP_OPTION_DISABLE_FEATURE
inline constexpr std::uint32_t kOptionEnableFeature = 79;   // WINHTTP_OPTION_ENABLE_FEATURE
inline constexpr std::uint32_t kSecurityFlagsIgnoreAll = 0x3300;
inline constexpr std::uint32_t kDisableCookies = 1;              // WINHTTP_DISABLE_COOKIES
inline constexpr std::uint32_t kDisableRedirects = 2;            // WINHTTP_DISABLE_REDIRECTS
inline constexpr std::uint32_t kEnableSslRevocation = 1;         // WINHTTP_ENABLE_SSL_REVOCATION
inline constexpr std::uint32_t kAddRequestFlagAdd = 0x20000000;  // WINHTTP_ADDREQ_FLAG_ADD
inline constexpr std::uint32_t kQueryRawHeadersCrlf = 22;        // WINHTTP_QUERY_RAW_HEADERS_CRLF

// What WinHttpCrackUrl hands back for the components WebRequest asks for. The strings are
// copies of the address's pieces, not escaped or decoded.
struct UrlComponents {
  int scheme = 0;
  std::u16string hostName;
  int port = 0;
  std::u16string urlPath;
  std::u16string extraInfo;
};

class HttpApi {
 public:
  virtual ~HttpApi() = default;

  virtual bool CheckPlatform() = 0;
  virtual bool CrackUrl(const char16_t* url, std::uint32_t urlLength, std::uint32_t flags,
                        UrlComponents* components) = 0;
  virtual HttpHandle Open(const char16_t* agent, std::uint32_t accessType,
                          const char16_t* proxyName, const char16_t* proxyBypass,
                          std::uint32_t flags) = 0;
  virtual bool SetTimeouts(HttpHandle session, int resolveTimeout, int connectTimeout,
                           int sendTimeout, int receiveTimeout) = 0;
  virtual HttpHandle Connect(HttpHandle session, const char16_t* serverName, std::uint16_t port,
                             std::uint32_t reserved) = 0;
  virtual HttpHandle OpenRequest(HttpHandle connection, const char16_t* verb,
                                 const char16_t* objectName, const char16_t* version,
                                 const char16_t* referrer, const char16_t* const* acceptTypes,
                                 std::uint32_t flags) = 0;
  virtual bool SetCredentials(HttpHandle request, std::uint32_t authTargets,
                              std::uint32_t authScheme, const char16_t* userName,
                              const char16_t* password, void* params) = 0;
  virtual bool SetOption(HttpHandle handle, std::uint32_t option, const void* buffer,
                         std::uint32_t bufferLength) = 0;
  // headersLength counts UTF-16 units without the terminator.
  virtual bool AddRequestHeaders(HttpHandle request, const char16_t* headers,
                                 std::uint32_t headersLength, std::uint32_t modifiers) = 0;
  virtual bool SendRequest(HttpHandle request, const char16_t* headers, std::uint32_t headersLength,
                           const void* optional, std::uint32_t optionalLength,
                           std::uint32_t totalLength, std::uintptr_t context) = 0;
  virtual bool ReceiveResponse(HttpHandle request, void* reserved) = 0;
  virtual bool QueryDataAvailable(HttpHandle request, std::uint32_t* numberOfBytesAvailable) = 0;
  virtual bool ReadData(HttpHandle request, void* buffer, std::uint32_t numberOfBytesToRead,
                        std::uint32_t* numberOfBytesRead) = 0;
  // bufferLength is in bytes, in and out: with too small a buffer the call fails and writes
  // the length needed. The raw headers come back as UTF-16 with a terminating zero unit.
  virtual bool QueryHeaders(HttpHandle request, std::uint32_t infoLevel, const char16_t* name,
                            void* buffer, std::uint32_t* bufferLength, std::uint32_t* index) = 0;
  virtual bool CloseHandle(HttpHandle handle) = 0;
};

// The backend of this platform; one object shared by every caller and safe to call from
// several threads at once (each request owns its own handles).
HttpApi& PlatformHttpApi();

}  // namespace korvanel
