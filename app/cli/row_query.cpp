#include "app/cli/row_query.h"

#include "web/web_request.h"

namespace korvanel::cli {

RowAttempt QueryRowOnce(std::string_view prefix, std::string_view number, int timeoutSeconds) {
  // QueryWaybill's request, plus the header block: only a response that came writes it,
  // which tells a page from a failure whatever the status text says.
  RowAttempt attempt;
  WebRequestOptions options;
  options.timeoutSeconds = timeoutSeconds;
  options.statusText = &attempt.statusText;
  options.responseHeaders = &attempt.responseHeaders;
  const Text page = WebRequest(QueryAddress(prefix, number), options);
  attempt.responded = !attempt.responseHeaders.empty();
  attempt.cells = ScrapeLatestEvent(page);
  return attempt;
}

}  // namespace korvanel::cli
