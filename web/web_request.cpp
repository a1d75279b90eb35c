#include "web/web_request.h"

#include <algorithm>
#include <climits>
#include <optional>
#include <string>

#include "text/code_page.h"
#include "text/markers.h"
#include "text/regex_object.h"
#include "web/charset_decode.h"
#include "web/cookies.h"
#include "web/message_pump.h"
#include "web/request_headers.h"

namespace korvanel {

namespace {

// "700 当前系统不支持WinHttp服务!"
constexpr std::string_view kMessageNoPlatform =
    "700 \xB5\xB1\xC7\xB0\xCF\xB5\xCD\xB3\xB2\xBB\xD6\xA7\xB3\xD6WinHttp\xB7\xFE\xCE\xF1!";
// "701 解析URL地址失败!"
constexpr std::string_view kMessageBadUrl =
    "701 \xBD\xE2\xCE\xF6URL\xB5\xD8\xD6\xB7\xCA\xA7\xB0\xDC!";
// "702 创建WinHttp会话失败!"
constexpr std::string_view kMessageNoSession =
    "702 \xB4\xB4\xBD\xA8WinHttp\xBB\xE1\xBB\xB0\xCA\xA7\xB0\xDC!";
// "703 创建WinHttp连接失败!"
constexpr std::string_view kMessageNoConnection =
    "703 \xB4\xB4\xBD\xA8WinHttp\xC1\xAC\xBD\xD3\xCA\xA7\xB0\xDC!";
// "704 创建WinHttp请求失败!"
constexpr std::string_view kMessageNoRequest =
    "704 \xB4\xB4\xBD\xA8WinHttp\xC7\xEB\xC7\xF3\xCA\xA7\xB0\xDC!";
// "705 设置超时时间失败!"
constexpr std::string_view kMessageTimeouts =
    "705 \xC9\xE8\xD6\xC3\xB3\xAC\xCA\xB1\xCA\xB1\xBC\xE4\xCA\xA7\xB0\xDC!";
// "707 设置代理凭证失败!" (for server and proxy credentials alike)
constexpr std::string_view kMessageCredentials =
    "707 \xC9\xE8\xD6\xC3\xB4\xFA\xC0\xED\xC6\xBE\xD6\xA4\xCA\xA7\xB0\xDC!";
// "忽略错误/证书错误  失败！"
constexpr std::string_view kMessageCertificate =
    "\xBA\xF6\xC2\xD4\xB4\xED\xCE\xF3/\xD6\xA4\xCA\xE9\xB4\xED\xCE\xF3  \xCA\xA7\xB0\xDC\xA3\xA1";
// "708 禁止自动设置Cookies失败!"
constexpr std::string_view kMessageCookieOption =
    "708 \xBD\xFB\xD6\xB9\xD7\xD4\xB6\xAF\xC9\xE8\xD6\xC3"
    "Cookies\xCA\xA7\xB0\xDC!";
// "709 重定向设置失败!"
constexpr std::string_view kMessageRedirectOption =
    "709 \xD6\xD8\xB6\xA8\xCF\xF2\xC9\xE8\xD6\xC3\xCA\xA7\xB0\xDC!";
// "710 设置协议头失败!"
constexpr std::string_view kMessageHeaders =
    "710 \xC9\xE8\xD6\xC3\xD0\xAD\xD2\xE9\xCD\xB7\xCA\xA7\xB0\xDC!";
// "711 发送请求失败!"
constexpr std::string_view kMessageSend = "711 \xB7\xA2\xCB\xCD\xC7\xEB\xC7\xF3\xCA\xA7\xB0\xDC!";
// "712 服务器未响应!"
constexpr std::string_view kMessageNoResponse =
    "712 \xB7\xFE\xCE\xF1\xC6\xF7\xCE\xB4\xCF\xEC\xD3\xA6!";
// "713 读取数据失败!"
constexpr std::string_view kMessageRead = "713 \xB6\xC1\xC8\xA1\xCA\xFD\xBE\xDD\xCA\xA7\xB0\xDC!";

constexpr const char16_t* kVerbs[] = {u"GET",     u"POST",   u"HEAD",  u"PUT",
                                      u"OPTIONS", u"DELETE", u"TRACE", u"CONNECT"};

constexpr int kDefaultTimeoutMs = 30000;
constexpr int kMillisecondsPerSecond = 1000;

// A page that declares its character set does so in a meta tag near its start.
constexpr std::string_view kCharsetPattern = "<meta.+?charset=[^\\w]?([-\\w]+)";
constexpr int kCharsetSampleBytes = 1024;

// The three handles of one request, closed request first, then connection, then session,
// on every way out of the call.
class RequestHandles {
 public:
  explicit RequestHandles(HttpApi& api) : m_api(api) {}
  ~RequestHandles() { CloseAll(); }
  RequestHandles(const RequestHandles&) = delete;
  RequestHandles& operator=(const RequestHandles&) = delete;

  void CloseAll() {
    for (HttpHandle* handle : {&request, &connection, &session}) {
      if (*handle != nullptr) m_api.CloseHandle(*handle);
      *handle = nullptr;
    }
  }

  HttpHandle session = nullptr;
  HttpHandle connection = nullptr;
  HttpHandle request = nullptr;

 private:
  HttpApi& m_api;
};

// Milliseconds for every phase of the request. Seconds so large that the milliseconds no
// longer fit the 32-bit value the HTTP layer takes are clamped to the largest one (about
// 24 days) instead of wrapping round to a negative or tiny timeout.
int TimeoutMilliseconds(int timeoutSeconds) {
  if (timeoutSeconds <= 0) return kDefaultTimeoutMs;
  if (timeoutSeconds > INT_MAX / kMillisecondsPerSecond) return INT_MAX;
  return timeoutSeconds * kMillisecondsPerSecond;
}

bool EndsWithSeparator(const Text& text) {
  return text.size() >= 2 && text.compare(text.size() - 2, 2, "; ") == 0;
}

// The cookie value of one Set-Cookie line: its name=value part, without the attributes.
Text SetCookieValue(const Text& line) {
  Text value = FindText(line, ";") != -1 ? TextBetween(line, "Set-Cookie:", ";")
                                         : ReplaceText(line, "Set-Cookie:", "", false);
  return TrimBoth(value);
}

// The body as received (up to its first zero byte, as a Text ends), or the text it spells in
// the character set that the page declares near its start. Only a lower-case "gbk" or
// "gb2312" counts as the program's own code page; any other declared name goes through the
// converter, which is handed every byte of the body.
Text DecodeResponseText(RegexObject& regex, std::string body) {
  const std::string_view text(body.data(), std::min(body.find('\0'), body.size()));
  const Text sample = TextLeft(text, kCharsetSampleBytes);
  if (regex.Search(kCharsetPattern, sample)) {
    const Text charset = regex.SubMatchText(1, 1);
    if (!charset.empty() && !TextEquals(charset, "gbk") && !TextEquals(charset, "gb2312")) {
      // A name the converter does not know leaves the page as it came rather than empty.
      const ByteSet bytes(body.begin(), body.end());
      if (std::optional<Text> decoded = DecodeCharset(bytes, charset)) body = std::move(*decoded);
    }
    ProcessPendingMessages();
  }
  body.resize(std::min(body.find('\0'), body.size()));
  return body;
}

// ---- How a failed step leaves ----

// The message a failed step stores in statusText, and how the call leaves after it.
struct Failure {
  std::string_view message;
  bool processMessagesFirst;  // whether the window catches up before the handles go
};

// The ordinary way out: pending window messages are processed, then the handles are closed.
Failure LeaveAfterMessages(std::string_view message) { return {message, true}; }
// The way out of the credential and option steps: the handles are closed at once.
Failure LeaveAtOnce(std::string_view message) { return {message, false}; }

// ---- The request half ----

// Cracks the address and opens the session, the connection and the request.
std::optional<Failure> OpenHandles(HttpApi& api, RequestHandles& handles, std::string_view url,
                                   const WebRequestOptions& options) {
  const std::u16string wideUrl = AnsiToUtf16(url);
  UrlComponents components;
  if (!api.CrackUrl(wideUrl.c_str(), static_cast<std::uint32_t>(wideUrl.size()), 0, &components)) {
    return LeaveAfterMessages(kMessageBadUrl);
  }
  const bool secure = components.scheme == kSchemeHttps;
  // An address without a path asks for the root, and its query is not sent.
  const std::u16string objectName =
      components.urlPath.empty() ? std::u16string(u"/") : components.urlPath + components.extraInfo;

  // Over http the proxy list names the scheme, so the proxy serves only http requests.
  std::uint32_t accessType = kAccessTypeNoProxy;
  std::u16string proxyList;
  if (!options.proxy.empty()) {
    accessType = kAccessTypeNamedProxy;
    proxyList = AnsiToUtf16(secure ? options.proxy : ConcatText({"http=", options.proxy}));
  }
  handles.session = api.Open(nullptr, accessType, proxyList.c_str(), nullptr, 0);
  if (handles.session == nullptr) return LeaveAfterMessages(kMessageNoSession);

  const int timeout = TimeoutMilliseconds(options.timeoutSeconds);
  if (!api.SetTimeouts(handles.session, timeout, timeout, timeout, timeout)) {
    return LeaveAfterMessages(kMessageTimeouts);
  }
  handles.connection = api.Connect(handles.session, components.hostName.c_str(),
                                   static_cast<std::uint16_t>(components.port), 0);
  if (handles.connection == nullptr) return LeaveAfterMessages(kMessageNoConnection);

  const bool knownMethod = options.method >= 0 && options.method <= 7;
  const char16_t* verb = kVerbs[knownMethod ? options.method : 0];
  handles.request = api.OpenRequest(handles.connection, verb, objectName.c_str(), nullptr, nullptr,
                                    nullptr, secure ? kFlagSecure : 0);
  if (handles.request == nullptr) return LeaveAfterMessages(kMessageNoRequest);
  return std::nullopt;
}

// Basic credentials for the server or the proxy, when both name and password are given.
bool SetCredentials(HttpApi& api, HttpHandle request, std::uint32_t target, const Text& userName,
                    const Text& password) {
  if (userName.empty() || password.empty()) return true;
  const std::u16string user = AnsiToUtf16(userName);
  const std::u16string secret = AnsiToUtf16(password);
  return api.SetCredentials(request, target, kAuthSchemeBasic, user.c_str(), secret.c_str(),
                            nullptr);
}

// Credentials, certificates, cookie handling and redirects.
std::optional<Failure> SetRequestOptions(HttpApi& api, HttpHandle request,
                                         const WebRequestOptions& options,
                                         const Text& sendCookies) {
  if (!SetCredentials(api, request, kAuthTargetServer, options.userName, options.password) ||
      !SetCredentials(api, request, kAuthTargetProxy, options.proxyUserName,
                      options.proxyPassword)) {
    return LeaveAtOnce(kMessageCredentials);
  }
  const auto setOption = [&](std::uint32_t option, std::uint32_t value) {
    return api.SetOption(request, option, &value, sizeof value);
  };
  // Certificates are accepted whoever issued them, on every request.
  if (!setOption(kOptionSecurityFlags, kSecurityFlagsIgnoreAll)) {
    return LeaveAtOnce(kMessageCertificate);
  }
  // Without cookies to send, WinHttp's own cookie handling is switched off. With cookies, the
  // enable-feature option gets value 1: that value is certificate revocation checking, not
  // cookies, and WinHttp's cookie handling simply stays on, as it is by default.
  const bool cookieOptionSet = sendCookies.empty()
                                   ? setOption(kOptionDisableFeature, kDisableCookies)
                                   : setOption(kOptionEnableFeature, kEnableSslRevocation);
  if (!cookieOptionSet) return LeaveAtOnce(kMessageCookieOption);
  if (options.noRedirect && !setOption(kOptionDisableFeature, kDisableRedirects)) {
    return LeaveAtOnce(kMessageRedirectOption);
  }
  return std::nullopt;
}

// Adds the request header block and sends the request with its body.
std::optional<Failure> SendWithHeaders(HttpApi& api, HttpHandle request,
                                       const WebRequestOptions& options, const Text& sendCookies) {
  // With no defaults, no extra lines and no cookies the block is empty; there is nothing to
  // add then, so the call is skipped rather than handing the HTTP layer an empty string,
  // and the request goes out with the HTTP layer's own headers only (no 710).
  const Text headerBlock =
      BuildRequestHeaderBlock(options.extraHeaders, options.method, sendCookies,
                              options.addDefaultHeaders, options.normalizeHeaderCase);
  if (!headerBlock.empty()) {
    const std::u16string wideHeaders = AnsiToUtf16(headerBlock);
    if (!api.AddRequestHeaders(request, wideHeaders.c_str(),
                               static_cast<std::uint32_t>(wideHeaders.size()),
                               kAddRequestFlagAdd)) {
      return LeaveAfterMessages(kMessageHeaders);
    }
  }
  const ByteSet requestBody =
      !options.postBytes.empty() ? options.postBytes : TextToBytes(options.postText);
  const auto bodyLength = static_cast<std::uint32_t>(requestBody.size());
  if (!api.SendRequest(request, nullptr, 0, requestBody.empty() ? nullptr : requestBody.data(),
                       bodyLength, bodyLength, 0)) {
    return LeaveAfterMessages(kMessageSend);
  }
  return std::nullopt;
}

// Everything up to the moment the request has gone out.
std::optional<Failure> SendRequestHalf(HttpApi& api, RequestHandles& handles, std::string_view url,
                                       const WebRequestOptions& options, const Text& sendCookies) {
  if (std::optional<Failure> failure = OpenHandles(api, handles, url, options)) return failure;
  if (std::optional<Failure> failure =
          SetRequestOptions(api, handles.request, options, sendCookies)) {
    return failure;
  }
  return SendWithHeaders(api, handles.request, options, sendCookies);
}

// ---- The response half ----

// The whole body, in chunks of whatever size is available. Each chunk is read straight into
// the end of the body, which grows geometrically, so a long body costs linear time. A failed
// read keeps what came before it and stores 713; the call goes on.
std::string ReadWholeBody(HttpApi& api, HttpHandle request, Text& statusText) {
  std::string body;
  for (;;) {
    std::uint32_t available = 0;
    if (!api.QueryDataAvailable(request, &available) || available < 1) break;
    const std::size_t oldSize = body.size();
    if (body.capacity() - oldSize < available) {
      body.reserve(std::max(oldSize + available, 2 * body.capacity()));
    }
    body.resize(oldSize + available);
    std::uint32_t read = 0;
    if (!api.ReadData(request, body.data() + oldSize, available, &read)) {
      body.resize(oldSize);
      statusText = Text(kMessageRead);
      break;
    }
    body.resize(oldSize + std::min(read, available));
  }
  return body;
}

// The raw header block, asked for once to learn its size and once to fetch it; nothing when
// the second call fails.
std::optional<Text> QueryRawHeaders(HttpApi& api, HttpHandle request) {
  std::uint32_t headerBytes = 0;
  std::uint32_t index = 0;
  api.QueryHeaders(request, kQueryRawHeadersCrlf, nullptr, nullptr, &headerBytes, &index);
  headerBytes = std::min<std::uint32_t>(headerBytes, INT_MAX);
  // Zero bytes, as many as asked for, in whole units so the block can be read as UTF-16.
  std::u16string buffer((headerBytes + 1) / 2, u'\0');
  std::uint32_t length = headerBytes;
  index = 0;
  if (!api.QueryHeaders(request, kQueryRawHeadersCrlf, nullptr,
                        buffer.empty() ? nullptr : buffer.data(), &length, &index)) {
    return std::nullopt;
  }
  // A last odd byte is no unit of the block.
  return Utf16ToAnsi(std::u16string_view(buffer).substr(0, headerBytes / 2));
}

// This response's cookies added to what the caller's variable holds, and the Location line.
Text CollectCookies(const Text& rawHeaders, const WebRequestOptions& options) {
  Text returnedCookies = options.returnedCookies != nullptr ? *options.returnedCookies : Text();
  // A separator is put between the old and the new cookies where the first new cookie would
  // otherwise be glued to the last old one (an empty first value already leaves its "; ").
  bool needSeparator = !returnedCookies.empty() && !EndsWithSeparator(returnedCookies);
  for (const Text& line : SplitText(rawHeaders, "\r\n")) {
    if (TextEquals(TextLeftOf(line, ": "), "Set-Cookie")) {
      const Text value = SetCookieValue(line);
      if (needSeparator && !value.empty()) {
        returnedCookies += returnedCookies.back() == ';' ? " " : "; ";
      }
      needSeparator = false;
      returnedCookies += value;
      returnedCookies += "; ";
    }
    if (CompareText(TextLeft(line, 10), "Location: ", false) == 0 &&
        options.redirectLocation != nullptr) {
      *options.redirectLocation = TextMid(line, 11, TextLength(line) - 10);
    }
    ProcessPendingMessages();
  }
  if (EndsWithSeparator(returnedCookies)) returnedCookies.resize(returnedCookies.size() - 2);
  return returnedCookies;
}

// Everything from the moment the request has gone out: the result text, or how the call
// leaves when no response came.
std::optional<Failure> ResponseHalf(HttpApi& api, HttpHandle request, RegexObject& regex,
                                    const WebRequestOptions& options, const Text& sendCookies,
                                    Text& statusText, Text& result) {
  if (!api.ReceiveResponse(request, nullptr)) return LeaveAfterMessages(kMessageNoResponse);
  std::string body = ReadWholeBody(api, request, statusText);
  const std::optional<Text> rawHeaders = QueryRawHeaders(api, request);
  // Without the header block nothing of the response reaches the caller.
  if (!rawHeaders) return std::nullopt;
  if (options.responseHeaders != nullptr) *options.responseHeaders = *rawHeaders;

  // The status line begins with the protocol version and a space, nine bytes in all.
  const int statusEnd = FindText(*rawHeaders, "\r\n", 10);
  statusText = TextMid(*rawHeaders, 10, statusEnd - 10);

  Text returnedCookies = CollectCookies(*rawHeaders, options);
  if (options.mergeCookies && !sendCookies.empty()) {
    // Both texts end up holding the merged cookies, the caller's sendCookies included.
    Text mergedSendCookies = sendCookies;
    returnedCookies = MergeCookies(mergedSendCookies, returnedCookies);
    if (options.sendCookies != nullptr) *options.sendCookies = mergedSendCookies;
  }
  if (options.returnedCookies != nullptr) *options.returnedCookies = returnedCookies;

  // The caller sees the body bytes before the decoding lets window messages through.
  if (options.responseBytes != nullptr) options.responseBytes->assign(body.begin(), body.end());
  result = DecodeResponseText(regex, std::move(body));
  return std::nullopt;
}

}  // namespace

Text WebRequest(std::string_view url, const WebRequestOptions& options) {
  return WebRequest(PlatformHttpApi(), url, options);
}

Text WebRequest(HttpApi& api, std::string_view url, const WebRequestOptions& options) {
  // Declared first so that it outlives the handles: it goes last, as the call ends.
  RegexObject regex;
  RequestHandles handles(api);

  Text discardedStatus;
  Text& statusText = options.statusText != nullptr ? *options.statusText : discardedStatus;
  if (!api.CheckPlatform()) {
    statusText = Text(kMessageNoPlatform);  // no handle exists yet
    return Text();
  }

  const Text sendCookies = options.sendCookies != nullptr ? *options.sendCookies : Text();
  Text result;
  std::optional<Failure> failure = SendRequestHalf(api, handles, url, options, sendCookies);
  if (!failure) {
    failure = ResponseHalf(api, handles.request, regex, options, sendCookies, statusText, result);
  }
  if (failure) {
    statusText = Text(failure->message);
    if (failure->processMessagesFirst) ProcessPendingMessages();
    handles.CloseAll();
    return Text();
  }
  ProcessPendingMessages();
  handles.CloseAll();
  return result;
}

}  // namespace korvanel
