// One request of the libcurl backend on the wire: its easy handle driven through a multi
// handle of its own, hop by hop, so that the backend's calls return at the points where
// WinHttp's synchronous ones do.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "web/http_api_curl_holders.h"
#include "web/winhttp_rules.h"

namespace korvanel::curl {

using Clock = std::chrono::steady_clock;

// WinHttp's timeouts in milliseconds; 0 or -1 waits without limit.
struct Timeouts {
  int resolve = 0;
  int connect = 60000;
  int send = 30000;
  int receive = 30000;
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

using Credentials = std::pair<std::string, std::string>;  // user name and password

// What the caller set up for a request before sending it.
struct RequestSetup {
  ProxySettings proxy;
  Timeouts timeouts;
  std::string agent;  // code page 936 bytes for the User-Agent line; empty: none
  Hop origin;         // the first hop, whose server the credentials belong to
  std::string version = "HTTP/1.1";
  std::vector<std::string> headerLines;  // the caller's lines, code page 936
  std::optional<Credentials> serverCredentials;
  std::optional<Credentials> proxyCredentials;
  std::uint32_t securityFlags = 0;
  std::uint32_t disabledFeatures = 0;
  std::string body;  // kept: a 307 or 308 redirect sends it again
};

class Transfer {
 public:
  // The setup must outlive the transfer: every hop reads it again.
  explicit Transfer(const RequestSetup& setup) : m_setup(setup) {}
  ~Transfer();
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  // Sets curl up and starts the first hop; false when curl refuses.
  bool Start();
  // Runs until the request has gone out; false when it could not go, or timed out.
  bool WaitUntilSent();
  // Runs, following redirects as WinHttp does, until the final response's header block is
  // in; false when no response came.
  bool WaitForResponse();
  // The final response's header block: CR LF ended lines and an empty line.
  const std::string& ResponseHeaders() const { return m_finalHeaders; }
  // Body bytes received and not yet read; waits for some when there are none yet.
  std::size_t Available();
  // Takes up to count of the bytes Available gives.
  std::size_t Read(void* buffer, std::size_t count);
  // True while the body can still give bytes or has ended cleanly.
  bool BodyHealthy() const;

 private:
  enum class Goal { kSent, kHeaders, kData };

  // What one hop has come to; each hop starts from a fresh one.
  struct HopState {
    bool connected = false;  // the connection of this hop stands
    bool sent = false;       // the request of this hop went out
    bool headersStarted = false;
    bool headersDone = false;
    std::string headers;        // normalised to CR LF line ends
    std::string tunnelHeaders;  // a proxy's answer to the tunnel request of an https hop
    bool transferDone = false;
    CURLcode transferResult = CURLE_OK;
    std::optional<Hop> nextHop;  // a redirect that will be followed
    curl_off_t uploadedBefore = 0;
    Clock::time_point idleSince = Clock::now();
  };

  class Options;  // sets options of the easy handle, remembering a refusal

  bool Create();
  bool ConfigureHop();
  void ConfigureAddress(Options& options);
  void ConfigureCredentials(Options& options) const;
  void ConfigureMethod(Options& options) const;
  void ConfigureHeaders(Options& options);
  bool StartHop();
  bool FollowRedirect();
  std::optional<Hop> RedirectHop(int status, const std::string& location) const;
  void Drive(Goal goal);
  bool Reached(Goal goal) const;
  int IdleLimit() const;
  void UpdateSent();
  std::size_t Pending() const { return m_pending.size() - m_pendingOffset; }

  void OnHeaderLine(std::string_view line);
  void OnBodyBytes(const char* data, std::size_t length);
  static size_t OnHeader(char* data, size_t size, size_t count, void* user);
  static size_t OnBody(char* data, size_t size, size_t count, void* user);
  static int OnConnected(void* user, char*, char*, int, int);

  const RequestSetup& m_setup;
  EasyPtr m_easy;
  MultiPtr m_multi;
  bool m_inMulti = false;
  HeaderList m_curlHeaders;
  HeaderList m_proxyHeaders;
  // Strings curl reads while the hop runs.
  std::string m_url;
  std::string m_proxyUrl;
  std::string m_requestTarget;
  std::string m_cookieValue;  // the caller's cookies when curl's own cookie line carries them

  Hop m_hop;  // the hop under way
  HopState m_state;
  int m_redirectsFollowed = 0;
  bool m_timedOut = false;

  // The final response.
  bool m_received = false;
  bool m_tunnelRefused = false;  // a proxy's refusal of the tunnel is the response
  std::string m_finalHeaders;
  std::string m_pending;  // body bytes received and not yet read
  std::size_t m_pendingOffset = 0;
};

}  // namespace korvanel::curl
