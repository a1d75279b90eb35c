#include "web/wine_quirks_win.h"

#include <string>

#include "text/wine_quirks_win.h"

namespace korvanel::wine {

void MoveExtraInfoWhereWindowsPutsIt(UrlComponents& parts) {
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

// ---- The wait for the response ----

void WinHttpCorrections::SessionTimeoutsSet(HINTERNET session, int receiveTimeout) {
  std::lock_guard lock(m_mutex);
  m_receiveTimeouts[session] = receiveTimeout;
}

void WinHttpCorrections::Connected(HINTERNET session, HINTERNET connection) {
  std::lock_guard lock(m_mutex);
  m_sessionOf[connection] = session;
}

void WinHttpCorrections::RequestOpened(HINTERNET connection, HINTERNET request, bool head,
                                       bool secure) {
  RequestState state;
  state.head = head;
  state.secure = secure;
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
  // Where the option is refused nothing is lost but the bound.
  if (receiveTimeout >= 0) {
    DWORD value = static_cast<DWORD>(receiveTimeout);
    m_setOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &value, sizeof(value));
  }
}

bool WinHttpCorrections::SendWaitedForTheResponse(HINTERNET request, DWORD lastError) {
  if (!Running() || lastError != ERROR_WINHTTP_TIMEOUT) return false;
  std::lock_guard lock(m_mutex);
  auto state = m_requests.find(request);
  if (state == m_requests.end()) return false;
  state->second.responseNeverCame = true;
  return true;
}

bool WinHttpCorrections::ResponseNeverCame(HINTERNET request) {
  std::lock_guard lock(m_mutex);
  auto state = m_requests.find(request);
  return state != m_requests.end() && state->second.responseNeverCame;
}

// ---- A redirect down from https ----

bool WinHttpCorrections::RedirectToHttpAnswered(HINTERNET request, DWORD lastError,
                                                ReceiveResponseFunction receiveResponse) {
  if (!Running() || lastError != ERROR_WINHTTP_REDIRECT_FAILED) return false;
  {
    std::lock_guard lock(m_mutex);
    auto state = m_requests.find(request);
    if (state == m_requests.end() || !state->second.secure) return false;
  }
  DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
  if (!m_setOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof(noRedirects)) ||
      !receiveResponse(request, nullptr)) {
    SetLastError(lastError);
    return false;
  }
  DWORD length = 0;
  m_queryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &length,
                 WINHTTP_NO_HEADER_INDEX);
  std::wstring location(length / sizeof(wchar_t) + 1, L'\0');
  const bool down = length > 0 &&
                    m_queryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX,
                                   location.data(), &length, WINHTTP_NO_HEADER_INDEX) &&
                    _wcsnicmp(location.c_str(), L"http:", 5) == 0;
  if (!down) SetLastError(lastError);
  return down;
}

// ---- The body ----

void WinHttpCorrections::ResponseReceived(HINTERNET request) {
  const long long expected = ExpectedBodyLength(request);
  std::lock_guard lock(m_mutex);
  auto state = m_requests.find(request);
  if (state != m_requests.end()) {
    state->second.expectedBytes = state->second.head ? 0 : expected;
    state->second.bytesRead = 0;
  }
}

long long WinHttpCorrections::Available(HINTERNET request, bool asked, DWORD available) {
  std::lock_guard lock(m_mutex);
  auto state = m_requests.find(request);
  const bool cutShort = state != m_requests.end() && BodyCutShort(state->second);
  if (!asked) {
    if (!cutShort) return -1;
    state->second.connectionLost = true;
    return 1;
  }
  return available == 0 && cutShort ? 1 : available;
}

bool WinHttpCorrections::ConnectionLostBeforeRead(HINTERNET request) {
  std::lock_guard lock(m_mutex);
  auto state = m_requests.find(request);
  return state != m_requests.end() && state->second.connectionLost;
}

bool WinHttpCorrections::ReadCutShort(HINTERNET request, DWORD asked, DWORD read) {
  std::lock_guard lock(m_mutex);
  auto state = m_requests.find(request);
  if (state == m_requests.end()) return false;
  if (read == 0 && asked > 0 && BodyCutShort(state->second)) return true;
  state->second.bytesRead += read;
  return false;
}

bool WinHttpCorrections::BodyCutShort(const RequestState& state) const {
  return state.expectedBytes >= 0 && state.bytesRead < state.expectedBytes;
}

// The body length the final response announces; -1 when it announces none (chunked, or
// until the connection closes) or has no body by its status.
long long WinHttpCorrections::ExpectedBodyLength(HINTERNET request) const {
  DWORD status = 0;
  DWORD length = sizeof(status);
  if (!m_queryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                      WINHTTP_HEADER_NAME_BY_INDEX, &status, &length, WINHTTP_NO_HEADER_INDEX))
    return -1;
  if ((status >= 100 && status < 200) || status == 204 || status == 304) return 0;
  wchar_t text[32] = {};
  length = sizeof(text) - sizeof(wchar_t);
  if (!m_queryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text,
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

void WinHttpCorrections::Closed(HINTERNET handle) {
  std::lock_guard lock(m_mutex);
  m_requests.erase(handle);
  m_sessionOf.erase(handle);
  m_receiveTimeouts.erase(handle);
}

}  // namespace korvanel::wine
