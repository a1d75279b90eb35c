// A scripted HttpApi for tests of code above the HTTP layer. It cracks addresses the way
// the real backends do, serves a scripted response (body chunks and a raw header block),
// can fail any single call, and records every call with its arguments and every handle it
// hands out, so a test can check what was asked, in which order, and that every handle
// was closed exactly once, request first, then connection, then session. A handle still
// open when the fake goes fails the test that used it, whether or not the test asked.
//
// One fake serves one test at a time; it is not meant to be shared between threads. A
// program that is not a GoogleTest test (a fuzz target) defines
// KORVANEL_FAKE_HTTP_API_WITHOUT_GTEST; there a handle left open aborts the run.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "text/code_page.h"
#include "text/text.h"
#include "web/http_api.h"
#include "web/winhttp_rules.h"

#ifndef KORVANEL_FAKE_HTTP_API_WITHOUT_GTEST
#include <gtest/gtest.h>
#endif

namespace korvanel {

enum class HttpCall {
  kCheckPlatform,
  kCrackUrl,
  kOpen,
  kSetTimeouts,
  kConnect,
  kOpenRequest,
  kSetCredentials,
  kSetOption,
  kAddRequestHeaders,
  kSendRequest,
  kReceiveResponse,
  kQueryDataAvailable,
  kReadData,
  kQueryHeaders,
  kCloseHandle,
};

inline const char* HttpCallName(HttpCall call) {
  switch (call) {
    case HttpCall::kCheckPlatform:
      return "CheckPlatform";
    case HttpCall::kCrackUrl:
      return "CrackUrl";
    case HttpCall::kOpen:
      return "Open";
    case HttpCall::kSetTimeouts:
      return "SetTimeouts";
    case HttpCall::kConnect:
      return "Connect";
    case HttpCall::kOpenRequest:
      return "OpenRequest";
    case HttpCall::kSetCredentials:
      return "SetCredentials";
    case HttpCall::kSetOption:
      return "SetOption";
    case HttpCall::kAddRequestHeaders:
      return "AddRequestHeaders";
    case HttpCall::kSendRequest:
      return "SendRequest";
    case HttpCall::kReceiveResponse:
      return "ReceiveResponse";
    case HttpCall::kQueryDataAvailable:
      return "QueryDataAvailable";
    case HttpCall::kReadData:
      return "ReadData";
    case HttpCall::kQueryHeaders:
      return "QueryHeaders";
    case HttpCall::kCloseHandle:
      return "CloseHandle";
  }
  return "?";
}

class FakeHttpApi : public HttpApi {
 public:
  enum class HandleKind { kSession, kConnection, kRequest };

  FakeHttpApi() = default;
  FakeHttpApi(const FakeHttpApi&) = delete;
  FakeHttpApi& operator=(const FakeHttpApi&) = delete;
  ~FakeHttpApi() override {
    static constexpr const char* kKindNames[] = {"session", "connection", "request"};
    std::string leaked;
    for (const auto& [handle, info] : m_handles) {
      if (info.open)
        leaked += std::string(leaked.empty() ? "" : ", ") + kKindNames[static_cast<int>(info.kind)];
    }
    if (leaked.empty()) return;
    const std::string message = "FakeHttpApi: handles never closed: " + leaked;
#ifndef KORVANEL_FAKE_HTTP_API_WITHOUT_GTEST
    ADD_FAILURE() << message;
#else
    std::fprintf(stderr, "%s\n", message.c_str());
    std::abort();
#endif
  }

  struct OpenArgs {
    bool agentNull = false;
    std::uint32_t accessType = 0;
    std::optional<std::u16string> proxyName;  // nullopt: a null pointer
    bool proxyBypassNull = false;
    std::uint32_t flags = 0;
  };
  struct TimeoutArgs {
    HttpHandle session = nullptr;
    int resolve = 0, connect = 0, send = 0, receive = 0;
  };
  struct ConnectArgs {
    HttpHandle session = nullptr;
    std::u16string serverName;
    std::uint16_t port = 0;
    std::uint32_t reserved = 0;
  };
  struct OpenRequestArgs {
    HttpHandle connection = nullptr;
    std::u16string verb;
    std::u16string objectName;
    bool versionNull = false, referrerNull = false, acceptTypesNull = false;
    std::uint32_t flags = 0;
  };
  struct CredentialArgs {
    HttpHandle request = nullptr;
    std::uint32_t target = 0, scheme = 0;
    std::u16string userName, password;
    bool paramsNull = false;
  };
  struct OptionArgs {
    HttpHandle handle = nullptr;
    std::uint32_t option = 0;
    std::uint32_t value = 0;  // the 4-byte value, when the length is 4
    std::uint32_t length = 0;
  };
  struct HeaderArgs {
    HttpHandle request = nullptr;
    std::u16string headers;  // the headersLength units passed
    std::uint32_t length = 0;
    bool terminated = false;  // a zero unit follows those units
    std::uint32_t modifiers = 0;
  };
  struct SendArgs {
    HttpHandle request = nullptr;
    bool headersNull = false;
    std::uint32_t headersLength = 0;
    bool bodyNull = false;
    ByteSet body;
    std::uint32_t optionalLength = 0, totalLength = 0;
    std::uintptr_t context = 0;
  };
  struct QueryHeadersArgs {
    std::uint32_t infoLevel = 0;
    bool nameNull = false, bufferNull = false;
    std::uint32_t lengthIn = 0, index = 0;
  };

  // ---- Script ----

  // Fails the occurrence-th call (1-based) of that kind: a handle call gives null, the
  // others false.
  void FailCall(HttpCall call, int occurrence = 1) { m_failures[call] = occurrence; }
  // The response: body chunks served one by one, and the raw header block as text.
  std::vector<ByteSet> bodyChunks;
  void SetRawHeaders(std::string_view text) { rawHeaders = AnsiToUtf16(text); }
  std::u16string rawHeaders = u"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
  // The most bytes one ReadData hands back, below what QueryDataAvailable announced.
  std::uint32_t maxRead = UINT32_MAX;
  // When set, CrackUrl succeeds with these parts instead of cracking the address.
  std::optional<UrlComponents> crackedUrl;
  // Runs at the start of every call.
  std::function<void(HttpCall)> onCall;

  // ---- Record ----

  std::vector<HttpCall> calls;
  std::u16string crackedAddress;
  std::uint32_t crackLength = 0, crackFlags = 0;
  std::optional<OpenArgs> open;
  std::optional<TimeoutArgs> timeouts;
  std::optional<ConnectArgs> connect;
  std::optional<OpenRequestArgs> openRequest;
  std::vector<CredentialArgs> credentials;
  std::vector<OptionArgs> options;
  std::vector<HeaderArgs> headers;
  std::optional<SendArgs> send;
  std::vector<QueryHeadersArgs> headerQueries;
  std::vector<HandleKind> closeOrder;
  std::vector<std::string> misuse;  // handles used wrongly: should stay empty

  int OpenHandleCount() const {
    int count = 0;
    for (const auto& [handle, info] : m_handles) count += info.open ? 1 : 0;
    return count;
  }
  int HandlesCreated() const { return static_cast<int>(m_handles.size()); }
  int CallCount(HttpCall call) const {
    return static_cast<int>(std::count(calls.begin(), calls.end(), call));
  }

  // ---- HttpApi ----

  bool CheckPlatform() override { return !Begin(HttpCall::kCheckPlatform); }

  bool CrackUrl(const char16_t* url, std::uint32_t urlLength, std::uint32_t flags,
                UrlComponents* components) override {
    const bool fail = Begin(HttpCall::kCrackUrl);
    crackedAddress = urlLength > 0 ? std::u16string(url, urlLength) : std::u16string(url);
    crackLength = urlLength;
    crackFlags = flags;
    if (fail) return false;
    if (crackedUrl) {
      *components = *crackedUrl;
      return true;
    }
    return CrackHttpUrl(crackedAddress, components);
  }

  HttpHandle Open(const char16_t* agent, std::uint32_t accessType, const char16_t* proxyName,
                  const char16_t* proxyBypass, std::uint32_t flags) override {
    const bool fail = Begin(HttpCall::kOpen);
    open = OpenArgs{agent == nullptr, accessType,
                    proxyName ? std::optional<std::u16string>(proxyName) : std::nullopt,
                    proxyBypass == nullptr, flags};
    return fail ? nullptr : NewHandle(HandleKind::kSession);
  }

  bool SetTimeouts(HttpHandle session, int resolveTimeout, int connectTimeout, int sendTimeout,
                   int receiveTimeout) override {
    const bool fail = Begin(HttpCall::kSetTimeouts);
    Check(session, HandleKind::kSession, "SetTimeouts");
    timeouts = TimeoutArgs{session, resolveTimeout, connectTimeout, sendTimeout, receiveTimeout};
    return !fail;
  }

  HttpHandle Connect(HttpHandle session, const char16_t* serverName, std::uint16_t port,
                     std::uint32_t reserved) override {
    const bool fail = Begin(HttpCall::kConnect);
    Check(session, HandleKind::kSession, "Connect");
    connect = ConnectArgs{session, serverName ? serverName : u"", port, reserved};
    return fail ? nullptr : NewHandle(HandleKind::kConnection);
  }

  HttpHandle OpenRequest(HttpHandle connection, const char16_t* verb, const char16_t* objectName,
                         const char16_t* version, const char16_t* referrer,
                         const char16_t* const* acceptTypes, std::uint32_t flags) override {
    const bool fail = Begin(HttpCall::kOpenRequest);
    Check(connection, HandleKind::kConnection, "OpenRequest");
    openRequest = OpenRequestArgs{connection,
                                  verb ? verb : u"",
                                  objectName ? objectName : u"",
                                  version == nullptr,
                                  referrer == nullptr,
                                  acceptTypes == nullptr,
                                  flags};
    return fail ? nullptr : NewHandle(HandleKind::kRequest);
  }

  bool SetCredentials(HttpHandle request, std::uint32_t authTargets, std::uint32_t authScheme,
                      const char16_t* userName, const char16_t* password, void* params) override {
    const bool fail = Begin(HttpCall::kSetCredentials);
    Check(request, HandleKind::kRequest, "SetCredentials");
    credentials.push_back({request, authTargets, authScheme, userName ? userName : u"",
                           password ? password : u"", params == nullptr});
    return !fail;
  }

  bool SetOption(HttpHandle handle, std::uint32_t option, const void* buffer,
                 std::uint32_t bufferLength) override {
    const bool fail = Begin(HttpCall::kSetOption);
    Check(handle, HandleKind::kRequest, "SetOption");
    std::uint32_t value = 0;
    if (buffer != nullptr && bufferLength == sizeof value) std::memcpy(&value, buffer, 4);
    options.push_back({handle, option, value, bufferLength});
    return !fail;
  }

  bool AddRequestHeaders(HttpHandle request, const char16_t* text, std::uint32_t headersLength,
                         std::uint32_t modifiers) override {
    const bool fail = Begin(HttpCall::kAddRequestHeaders);
    Check(request, HandleKind::kRequest, "AddRequestHeaders");
    HeaderArgs args{request, {}, headersLength, false, modifiers};
    if (text != nullptr) {
      args.headers.assign(text, headersLength);
      args.terminated = text[headersLength] == 0;
    }
    headers.push_back(args);
    return !fail;
  }

  bool SendRequest(HttpHandle request, const char16_t* extra, std::uint32_t headersLength,
                   const void* optional, std::uint32_t optionalLength, std::uint32_t totalLength,
                   std::uintptr_t context) override {
    const bool fail = Begin(HttpCall::kSendRequest);
    Check(request, HandleKind::kRequest, "SendRequest");
    SendArgs args{request, extra == nullptr, headersLength, optional == nullptr,
                  {},      optionalLength,   totalLength,   context};
    if (optional != nullptr) {
      const auto* bytes = static_cast<const std::uint8_t*>(optional);
      args.body.assign(bytes, bytes + optionalLength);
    }
    send = args;
    return !fail;
  }

  bool ReceiveResponse(HttpHandle request, void* reserved) override {
    const bool fail = Begin(HttpCall::kReceiveResponse);
    Check(request, HandleKind::kRequest, "ReceiveResponse");
    if (reserved != nullptr) misuse.push_back("ReceiveResponse: reserved not null");
    return !fail;
  }

  bool QueryDataAvailable(HttpHandle request, std::uint32_t* numberOfBytesAvailable) override {
    const bool fail = Begin(HttpCall::kQueryDataAvailable);
    Check(request, HandleKind::kRequest, "QueryDataAvailable");
    if (fail) return false;
    *numberOfBytesAvailable =
        m_chunk < bodyChunks.size()
            ? static_cast<std::uint32_t>(bodyChunks[m_chunk].size() - m_offset)
            : 0;
    return true;
  }

  bool ReadData(HttpHandle request, void* buffer, std::uint32_t numberOfBytesToRead,
                std::uint32_t* numberOfBytesRead) override {
    const bool fail = Begin(HttpCall::kReadData);
    Check(request, HandleKind::kRequest, "ReadData");
    if (fail) return false;
    std::uint32_t count = 0;
    if (m_chunk < bodyChunks.size()) {
      const ByteSet& chunk = bodyChunks[m_chunk];
      count = std::min<std::uint32_t>(
          {numberOfBytesToRead, static_cast<std::uint32_t>(chunk.size() - m_offset), maxRead});
      if (count > 0) std::memcpy(buffer, chunk.data() + m_offset, count);
      m_offset += count;
      if (m_offset == chunk.size()) {
        ++m_chunk;
        m_offset = 0;
      }
    }
    *numberOfBytesRead = count;
    return true;
  }

  bool QueryHeaders(HttpHandle request, std::uint32_t infoLevel, const char16_t* name, void* buffer,
                    std::uint32_t* bufferLength, std::uint32_t* index) override {
    const bool fail = Begin(HttpCall::kQueryHeaders);
    Check(request, HandleKind::kRequest, "QueryHeaders");
    headerQueries.push_back(
        {infoLevel, name == nullptr, buffer == nullptr, *bufferLength, index ? *index : 0});
    if (fail) return false;
    const auto needed = static_cast<std::uint32_t>((rawHeaders.size() + 1) * 2);
    if (buffer == nullptr || *bufferLength < needed) {
      *bufferLength = needed;
      return false;
    }
    std::memcpy(buffer, rawHeaders.c_str(), needed);
    *bufferLength = needed - 2;
    return true;
  }

  bool CloseHandle(HttpHandle handle) override {
    Begin(HttpCall::kCloseHandle);
    auto it = m_handles.find(handle);
    if (it == m_handles.end() || !it->second.open) {
      misuse.push_back("CloseHandle: not an open handle");
      return false;
    }
    it->second.open = false;
    closeOrder.push_back(it->second.kind);
    return true;
  }

 private:
  struct HandleInfo {
    HandleKind kind;
    bool open;
  };

  // Records the call and tells whether it is the one to fail.
  bool Begin(HttpCall call) {
    if (onCall) onCall(call);
    calls.push_back(call);
    const auto it = m_failures.find(call);
    return it != m_failures.end() && CallCount(call) == it->second;
  }

  HttpHandle NewHandle(HandleKind kind) {
    m_nextHandle += 0x10;
    const auto handle = reinterpret_cast<HttpHandle>(m_nextHandle);
    m_handles[handle] = {kind, true};
    return handle;
  }

  void Check(HttpHandle handle, HandleKind kind, const char* call) {
    const auto it = m_handles.find(handle);
    if (it == m_handles.end() || !it->second.open || it->second.kind != kind) {
      misuse.push_back(std::string(call) + ": wrong or closed handle");
    }
  }

  std::map<HttpCall, int> m_failures;
  std::map<HttpHandle, HandleInfo> m_handles;
  std::uintptr_t m_nextHandle = 0x1000;
  std::size_t m_chunk = 0;
  std::size_t m_offset = 0;
};

}  // namespace korvanel
