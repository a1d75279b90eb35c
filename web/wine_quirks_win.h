// Where Wine's WinHttp, which runs the Windows build's tests on this project's machines,
// differs from Windows in what WebRequest can see, and the corrections that even it out, so
// that the WinHttp backend reads as Windows documents its calls. Each correction either
// applies only under Wine (wine::Running, text/wine_quirks_win.h) or leaves what Windows
// itself gives unchanged.
#pragma once

#include <map>
#include <mutex>

#include "web/http_api.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winhttp.h>

namespace korvanel::wine {

// Windows ends the host name and the path at the first "?" or "#" and hands the rest back as
// extra information. Wine keeps a query that follows the host directly inside the host name
// and a fragment inside the path; this moves them where Windows puts them, which changes
// nothing for addresses that Windows itself cracked.
void MoveExtraInfoWhereWindowsPutsIt(UrlComponents& parts);

// The corrections that need to remember something of each handle between calls.
class WinHttpCorrections {
 public:
  using QueryHeadersFunction = decltype(&::WinHttpQueryHeaders);
  using SetOptionFunction = decltype(&::WinHttpSetOption);

  WinHttpCorrections(QueryHeadersFunction queryHeaders, SetOptionFunction setOption)
      : m_queryHeaders(queryHeaders), m_setOption(setOption) {}

  // Wine's synchronous send already waits for the response headers, bounded only by the
  // response-header timeout (90 s by default), not by the receive timeout. So the
  // response-header timeout of every request is set to its session's receive timeout.
  void SessionTimeoutsSet(HINTERNET session, int receiveTimeout);
  void Connected(HINTERNET session, HINTERNET connection);
  void RequestOpened(HINTERNET connection, HINTERNET request, bool head, bool secure);
  // After a failed send: true when Wine gave up waiting for the response inside the send.
  // The send then counts as done, and ResponseNeverCame makes the wait for the response fail,
  // as it would on Windows.
  bool SendWaitedForTheResponse(HINTERNET request, DWORD lastError);
  bool ResponseNeverCame(HINTERNET request);

  // Windows does not follow a redirect from an https page to an http address by default: it
  // hands the 3xx back as the response. Wine fails the wait for the response instead and
  // leaves the response unreadable. After a failed wait (lastError): true when it was that
  // refusal and asking again with redirects off gave the response; false, with the last error
  // as it was, otherwise (too many redirects fail the same way).
  using ReceiveResponseFunction = decltype(&::WinHttpReceiveResponse);
  bool RedirectToHttpAnswered(HINTERNET request, DWORD lastError,
                              ReceiveResponseFunction receiveResponse);

  // Wine reports a connection closed in the middle of the body as the body's normal end. So
  // the bytes read are counted against the Content-Length, and a body cut short fails the
  // read that follows, the one place where WebRequest notices a lost connection.
  void ResponseReceived(HINTERNET request);
  // The bytes to announce after asking WinHttp (asked: whether the question succeeded): one
  // more than it gave when the body is cut short, so that the read reports the loss; -1 when
  // the question fails.
  long long Available(HINTERNET request, bool asked, DWORD available);
  // Whether the read must fail for a lost connection: before reading (read: nothing yet) or
  // after a read that gave nothing although bytes were asked for and are still due.
  bool ConnectionLostBeforeRead(HINTERNET request);
  bool ReadCutShort(HINTERNET request, DWORD asked, DWORD read);

  void Closed(HINTERNET handle);

 private:
  struct RequestState {
    bool head = false;               // a HEAD response has no body, whatever it announces
    bool secure = false;             // opened for https
    bool responseNeverCame = false;  // Wine's send timed out waiting for the headers
    long long expectedBytes = -1;    // Content-Length of the final response; -1 when unknown
    long long bytesRead = 0;
    bool connectionLost = false;  // asking for more of a short body failed
  };

  long long ExpectedBodyLength(HINTERNET request) const;
  bool BodyCutShort(const RequestState& state) const;

  const QueryHeadersFunction m_queryHeaders;
  const SetOptionFunction m_setOption;
  std::mutex m_mutex;
  std::map<HINTERNET, RequestState> m_requests;
  std::map<HINTERNET, HINTERNET> m_sessionOf;  // connection -> its session
  std::map<HINTERNET, int> m_receiveTimeouts;  // session -> its receive timeout
};

}  // namespace korvanel::wine
