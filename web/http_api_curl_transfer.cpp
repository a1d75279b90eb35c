#include "web/http_api_curl_transfer.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace korvanel::curl {
namespace {

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

std::string Origin(const Hop& hop) {
  return std::string(hop.secure ? "https://" : "http://") + HostForUrl(hop.host) + ":" +
         std::to_string(hop.port);
}

}  // namespace

class Transfer::Options {
 public:
  explicit Options(CURL* easy) : m_easy(easy) {}
  template <typename Value>
  void Set(CURLoption option, Value value) {
    m_ok = m_ok && curl_easy_setopt(m_easy, option, value) == CURLE_OK;
  }
  void Require(bool done) { m_ok = m_ok && done; }
  bool Ok() const { return m_ok; }

 private:
  CURL* m_easy;
  bool m_ok = true;
};

Transfer::~Transfer() {
  if (m_easy && m_multi && m_inMulti) curl_multi_remove_handle(m_multi.get(), m_easy.get());
}

// ---- Setting up ----

bool Transfer::Start() {
  m_easy = NewEasy();
  m_multi = NewMulti();
  if (!m_easy || !m_multi || !Create()) return false;
  m_hop = m_setup.origin;
  return StartHop();
}

// The options that stay the same for every hop.
bool Transfer::Create() {
  Options options(m_easy.get());
  options.Set(CURLOPT_NOSIGNAL, 1L);
  options.Set(CURLOPT_PROTOCOLS_STR, "http,https");
  options.Set(CURLOPT_HTTP_VERSION,
              static_cast<long>(m_setup.version == "HTTP/1.0" ? CURL_HTTP_VERSION_1_0
                                                              : CURL_HTTP_VERSION_1_1));
  options.Set(CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
  options.Set(CURLOPT_HEADERDATA, this);
  options.Set(CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
  options.Set(CURLOPT_WRITEDATA, this);
  options.Set(CURLOPT_PREREQFUNCTION, &Transfer::OnConnected);
  options.Set(CURLOPT_PREREQDATA, this);
  options.Set(CURLOPT_HTTP_CONTENT_DECODING, 0L);
  options.Set(CURLOPT_HEADEROPT, static_cast<long>(CURLHEADER_SEPARATE));
  // Nor does a proxy hear a Proxy-Connection line the caller did not write.
  options.Require(m_proxyHeaders.Append("Proxy-Connection:"));
  options.Set(CURLOPT_PROXYHEADER, m_proxyHeaders.Get());
  options.Set(CURLOPT_CONNECTTIMEOUT_MS, ConnectTimeoutMs(m_setup.timeouts));
  const std::uint32_t flags = m_setup.securityFlags;
  const bool ignoreChain =
      (flags & (kIgnoreUnknownCa | kIgnoreWrongUsage | kIgnoreDateInvalid)) != 0;
  options.Set(CURLOPT_SSL_VERIFYPEER, ignoreChain ? 0L : 1L);
  options.Set(CURLOPT_SSL_VERIFYHOST, (flags & kIgnoreCnInvalid) != 0 ? 0L : 2L);
  if ((m_setup.disabledFeatures & kDisableCookies) == 0) options.Set(CURLOPT_COOKIEFILE, "");
  if ((m_setup.disabledFeatures & kDisableKeepAlive) != 0) options.Set(CURLOPT_FORBID_REUSE, 1L);
  if (!m_setup.agent.empty() && !HasHeader(m_setup.headerLines, "user-agent")) {
    options.Set(CURLOPT_USERAGENT, m_setup.agent.c_str());
  }
  return options.Ok();
}

// Sets every option of the easy handle that depends on the hop.
bool Transfer::ConfigureHop() {
  Options options(m_easy.get());
  ConfigureAddress(options);
  ConfigureCredentials(options);
  ConfigureMethod(options);
  ConfigureHeaders(options);
  return options.Ok();
}

void Transfer::ConfigureAddress(Options& options) {
  m_url = Origin(m_hop) + "/";
  options.Set(CURLOPT_URL, m_url.c_str());

  const ProxyChoice proxy = ChooseProxy(m_setup.proxy, m_hop.host, m_hop.secure);
  m_proxyUrl = proxy.url;
  options.Set(CURLOPT_PROXY, proxy.useEnvironment ? nullptr : m_proxyUrl.c_str());
  // A named proxy is not bypassed by the environment's no_proxy either.
  options.Set(CURLOPT_NOPROXY, proxy.useEnvironment ? nullptr : "");
  m_requestTarget = m_hop.target;
  if (!m_proxyUrl.empty() && !m_hop.secure) {  // a proxy is asked for the absolute address
    m_requestTarget = "http://" + HostForUrl(m_hop.host) +
                      (m_hop.port != 80 ? ":" + std::to_string(m_hop.port) : "") + m_hop.target;
  }
  options.Set(CURLOPT_REQUEST_TARGET, m_requestTarget.c_str());
}

void Transfer::ConfigureCredentials(Options& options) const {
  constexpr const char* kNone = nullptr;
  const bool authAllowed = (m_setup.disabledFeatures & kDisableAuthentication) == 0;
  const auto& server = m_setup.serverCredentials;
  if (server && authAllowed && SameServer(m_hop, m_setup.origin)) {
    options.Set(CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    options.Set(CURLOPT_USERNAME, server->first.c_str());
    options.Set(CURLOPT_PASSWORD, server->second.c_str());
  } else {
    options.Set(CURLOPT_USERNAME, kNone);
    options.Set(CURLOPT_PASSWORD, kNone);
  }
  const auto& proxy = m_setup.proxyCredentials;
  if (proxy && authAllowed) {
    options.Set(CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
    options.Set(CURLOPT_PROXYUSERNAME, proxy->first.c_str());
    options.Set(CURLOPT_PROXYPASSWORD, proxy->second.c_str());
  } else {
    options.Set(CURLOPT_PROXYUSERNAME, kNone);
    options.Set(CURLOPT_PROXYPASSWORD, kNone);
  }
}

void Transfer::ConfigureMethod(Options& options) const {
  if (m_hop.verb == "HEAD") {
    options.Set(CURLOPT_CUSTOMREQUEST, static_cast<const char*>(nullptr));
    options.Set(CURLOPT_NOBODY, 1L);
    return;
  }
  options.Set(CURLOPT_NOBODY, 0L);
  if (m_hop.sendBody) {
    options.Set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(m_setup.body.size()));
    options.Set(CURLOPT_POSTFIELDS, m_setup.body.data());
  } else {
    options.Set(CURLOPT_HTTPGET, 1L);
  }
  const bool curlsOwnVerb = m_hop.verb == (m_hop.sendBody ? "POST" : "GET");
  options.Set(CURLOPT_CUSTOMREQUEST, curlsOwnVerb ? nullptr : m_hop.verb.c_str());
}

// Exactly the caller's lines plus what HTTP itself needs: curl's own Accept, Expect and
// form Content-Type are switched off unless the caller gives them.
void Transfer::ConfigureHeaders(Options& options) {
  const bool cookieEngine = (m_setup.disabledFeatures & kDisableCookies) == 0;
  m_curlHeaders.Reset();
  m_cookieValue.clear();
  const auto& lines = m_setup.headerLines;
  for (const std::string& line : lines) {
    const std::string_view name = HeaderName(line);
    if (EqualsIgnoreCase(name, "content-length")) continue;
    if (cookieEngine && m_redirectsFollowed > 0 && EqualsIgnoreCase(name, "cookie")) {
      // After a redirect the engine may hold cookies too; curl joins both into one line.
      if (!m_cookieValue.empty()) m_cookieValue += "; ";
      m_cookieValue += HeaderValue(line);
      continue;
    }
    // curl drops a "Name:" line; "Name;" is how it sends a header with an empty value.
    options.Require(
        m_curlHeaders.Append(HeaderValue(line).empty() ? std::string(name) + ";" : line));
  }
  if (!HasHeader(lines, "accept")) options.Require(m_curlHeaders.Append("Accept:"));
  if (!HasHeader(lines, "expect")) options.Require(m_curlHeaders.Append("Expect:"));
  if (m_hop.sendBody && !HasHeader(lines, "content-type")) {
    options.Require(m_curlHeaders.Append("Content-Type:"));
  }
  options.Set(CURLOPT_HTTPHEADER, m_curlHeaders.Get());
  options.Set(CURLOPT_COOKIE, m_cookieValue.empty() ? nullptr : m_cookieValue.c_str());
}

bool Transfer::StartHop() {
  m_state = HopState{};
  if (!ConfigureHop()) return false;
  if (curl_multi_add_handle(m_multi.get(), m_easy.get()) != CURLM_OK) return false;
  m_inMulti = true;
  return true;
}

// ---- Redirects ----

bool Transfer::FollowRedirect() {
  if (m_redirectsFollowed >= kMaxRedirects) return false;
  curl_multi_remove_handle(m_multi.get(), m_easy.get());
  m_inMulti = false;
  ++m_redirectsFollowed;
  m_hop = *m_state.nextHop;
  return StartHop();
}

// The hop a redirect leads to, when WinHttp would follow it.
std::optional<Hop> Transfer::RedirectHop(int status, const std::string& location) const {
  if ((m_setup.disabledFeatures & kDisableRedirects) != 0) return std::nullopt;
  if (!IsFollowedRedirect(status) || location.empty()) return std::nullopt;
  UrlPtr url = NewUrl();
  if (!url) return std::nullopt;
  const std::string base = Origin(m_hop) + m_hop.target;
  if (curl_url_set(url.get(), CURLUPART_URL, base.c_str(), 0) != CURLUE_OK) return std::nullopt;
  if (curl_url_set(url.get(), CURLUPART_URL, EscapeUnsafeBytes(location).c_str(),
                   CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
    return std::nullopt;
  }
  String scheme, host, port, path, query;
  if (curl_url_get(url.get(), CURLUPART_SCHEME, scheme.Out(), 0) != CURLUE_OK ||
      curl_url_get(url.get(), CURLUPART_HOST, host.Out(), 0) != CURLUE_OK ||
      curl_url_get(url.get(), CURLUPART_PORT, port.Out(), CURLU_DEFAULT_PORT) != CURLUE_OK ||
      curl_url_get(url.get(), CURLUPART_PATH, path.Out(), 0) != CURLUE_OK) {
    return std::nullopt;
  }
  Hop next;
  const std::string schemeName = scheme.Take();
  if (EqualsIgnoreCase(schemeName, "https")) {
    next.secure = true;
  } else if (!EqualsIgnoreCase(schemeName, "http")) {
    return std::nullopt;  // not a scheme WinHttp goes to: the 3xx is the answer
  }
  if (!MayRedirect(m_hop.secure, next.secure)) return std::nullopt;
  next.host = host.Take();
  if (next.host.size() > 2 && next.host.front() == '[') {
    next.host = next.host.substr(1, next.host.size() - 2);
  }
  next.port = std::atoi(port.Get());
  next.target = path.Take();
  if (curl_url_get(url.get(), CURLUPART_QUERY, query.Out(), 0) == CURLUE_OK) {
    next.target += "?" + query.Take();
  }
  next.verb = m_hop.verb;
  next.sendBody = m_hop.sendBody;
  MethodAfterRedirect(status, &next.verb, &next.sendBody);
  return next;
}

// ---- curl's callbacks ----

size_t Transfer::OnHeader(char* data, size_t size, size_t count, void* user) {
  const std::size_t length = size * count;
  std::string_view line(data, length);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  static_cast<Transfer*>(user)->OnHeaderLine(line);
  return length;
}

void Transfer::OnHeaderLine(std::string_view line) {
  HopState& hop = m_state;
  hop.idleSince = Clock::now();
  if (!hop.connected) {
    // Before the connection stands, only a proxy answering the tunnel request speaks. When it
    // refuses, its answer is the response, as WinHttp gives it (a 407 asks for credentials).
    if (!line.empty()) {
      hop.tunnelHeaders.append(line) += "\r\n";
      return;
    }
    const int status = StatusCodeOf(hop.tunnelHeaders);
    if (status < 200 || status > 299) {
      m_finalHeaders = std::move(hop.tunnelHeaders) + "\r\n";
      m_tunnelRefused = true;
      m_received = true;
      hop.headersStarted = true;
      hop.headersDone = true;
    }
    hop.tunnelHeaders.clear();
    return;
  }
  hop.headersStarted = true;
  if (hop.headersDone) return;  // trailers of a chunked body
  if (!line.empty()) {
    for (char c : line) hop.headers += c == '\0' ? ' ' : c;
    hop.headers += "\r\n";
    return;
  }
  const int status = StatusCodeOf(hop.headers);
  if (status >= 100 && status < 200) {  // an interim response; the real one follows
    hop.headers.clear();
    return;
  }
  hop.headers += "\r\n";
  hop.headersDone = true;
  hop.nextHop = RedirectHop(status, LocationOf(hop.headers));
  if (!hop.nextHop) {
    m_finalHeaders = std::move(hop.headers);
    hop.headers.clear();
    m_received = true;
  }
}

size_t Transfer::OnBody(char* data, size_t size, size_t count, void* user) {
  const std::size_t length = size * count;
  static_cast<Transfer*>(user)->OnBodyBytes(data, length);
  return length;
}

void Transfer::OnBodyBytes(const char* data, std::size_t length) {
  m_state.idleSince = Clock::now();
  if (!m_received) return;  // the body of a redirect being followed
  if (m_pendingOffset == m_pending.size()) {
    m_pending.clear();
    m_pendingOffset = 0;
  }
  m_pending.append(data, length);
}

int Transfer::OnConnected(void* user, char*, char*, int, int) {
  auto& transfer = *static_cast<Transfer*>(user);
  transfer.m_state.connected = true;
  transfer.m_state.idleSince = Clock::now();
  return CURL_PREREQFUNC_OK;
}

// ---- Running ----

bool Transfer::WaitUntilSent() {
  Drive(Goal::kSent);
  return !m_timedOut && Reached(Goal::kSent);
}

bool Transfer::WaitForResponse() {
  Drive(Goal::kHeaders);
  return m_received;
}

std::size_t Transfer::Available() {
  if (Pending() == 0 && !m_state.transferDone && !m_timedOut) Drive(Goal::kData);
  return Pending();
}

std::size_t Transfer::Read(void* buffer, std::size_t count) {
  count = std::min(Available(), count);
  std::memcpy(buffer, m_pending.data() + m_pendingOffset, count);
  m_pendingOffset += count;
  return count;
}

bool Transfer::BodyHealthy() const {
  if (m_tunnelRefused) return true;  // the proxy's answer ends with its headers
  return !m_timedOut && (!m_state.transferDone || m_state.transferResult == CURLE_OK);
}

bool Transfer::Reached(Goal goal) const {
  switch (goal) {
    case Goal::kSent:
      return m_state.sent || m_state.headersStarted;
    case Goal::kHeaders:
      return m_received;
    case Goal::kData:
      return Pending() > 0;
  }
  return false;
}

// The inactivity limit of the phase the hop is in, in ms; 0 without one. The connection phase
// is curl's to time.
int Transfer::IdleLimit() const {
  const Timeouts& timeouts = m_setup.timeouts;
  if (!m_state.connected) return 0;
  if (!m_state.sent) return std::max(timeouts.send, 0);
  return std::max(timeouts.receive, 0);
}

void Transfer::UpdateSent() {
  HopState& hop = m_state;
  if (!hop.connected || hop.sent) return;
  if (!m_hop.sendBody || m_setup.body.empty()) {
    hop.sent = true;  // the request went out in the step that made the connection
  } else {
    curl_off_t uploaded = 0;
    curl_easy_getinfo(m_easy.get(), CURLINFO_SIZE_UPLOAD_T, &uploaded);
    if (uploaded != hop.uploadedBefore) {
      hop.uploadedBefore = uploaded;
      hop.idleSince = Clock::now();
    }
    hop.sent = uploaded >= static_cast<curl_off_t>(m_setup.body.size());
  }
  if (hop.sent) hop.idleSince = Clock::now();
}

// Runs the transfer until goal is reached, the transfer ends, or a timeout or redirect failure
// stops it. Redirects are followed only when the goal is the final response or beyond.
void Transfer::Drive(Goal goal) {
  m_state.idleSince = Clock::now();
  const auto fail = [this] {
    m_state.transferDone = true;
    m_state.transferResult = CURLE_FAILED_INIT;
  };
  for (;;) {
    if (!m_inMulti) return;
    int running = 0;
    if (curl_multi_perform(m_multi.get(), &running) != CURLM_OK) return fail();
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(m_multi.get(), &queued)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == m_easy.get()) {
        m_state.transferDone = true;
        m_state.transferResult = message->data.result;
      }
    }
    UpdateSent();
    if (Reached(goal)) return;
    if (m_state.nextHop && goal != Goal::kSent) {
      if (!FollowRedirect()) return;
      continue;
    }
    if (m_state.transferDone) return;

    int waitMs = 1000;
    if (const int limit = IdleLimit(); limit > 0) {
      const auto deadline = m_state.idleSince + std::chrono::milliseconds(limit);
      const auto now = Clock::now();
      if (now >= deadline) {
        m_timedOut = true;
        return;
      }
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
      waitMs = static_cast<int>(std::min<long long>(left, waitMs));
    }
    if (curl_multi_poll(m_multi.get(), nullptr, 0, waitMs, nullptr) != CURLM_OK) return fail();
  }
}

}  // namespace korvanel::curl
