#include "app/batch_query.h"

#include "text/markers.h"
#include "web/web_request.h"

#ifndef TRACKING_ENDPOINT_HOST
#define TRACKING_ENDPOINT_HOST "127.0.0.1:8580"
#endif

namespace korvanel {

namespace {

constexpr std::string_view kAddressPath = "/korvanelapi.php?yundanhao=";
constexpr std::string_view kAddressEnd = "&type=html";

// Markers of the timeline layout of a tracking page.
constexpr std::string_view kTitleMarker = "\"layui-timeline-title\">";
constexpr std::string_view kDateEnd = "&nbsp;";
constexpr std::string_view kTimeStart = "&nbsp;&nbsp;";
constexpr std::string_view kTimeEnd = "</h3>";
constexpr std::string_view kEventStartSuffix = "</h3>\r\n      <p>\r\n\t\t";
// The end of one entry's paragraph together with the start of the next entry.
constexpr std::string_view kEventEndMarker =
    "                                                                                          "
    "</p>\r\n"
    "    </div>\r\n"
    "  </li>\r\n"
    "    <li class=\"layui-timeline-item\">\r\n"
    "    <i class=\"layui-icon layui-timeline-axis\">&#xe63f;</i>\r\n"
    "    <div class=\"layui-timeline-content layui-text\">\r\n"
    "      <h3 class=\"layui-timeline-title\">";
static_assert(kEventEndMarker.size() == 307);

constexpr std::string_view kTimeSeparator = "  ";

}  // namespace

std::string_view DefaultEndpointHost() { return TRACKING_ENDPOINT_HOST; }

Text QueryAddressPrefixForHost(std::string_view host) {
  return ConcatText({"http://", host, kAddressPath});
}

Text QueryAddressPrefix() { return QueryAddressPrefixForHost(DefaultEndpointHost()); }

Text QueryAddress(std::string_view prefix, std::string_view number) {
  return ConcatText({prefix, number, kAddressEnd});
}

LatestEvent ScrapeLatestEvent(std::string_view page) {
  const Text date = TextBetween(page, kTitleMarker, kDateEnd);
  const Text time = TextBetween(page, kTimeStart, kTimeEnd);
  // The page lists events newest first, so the first occurrence of the time and the
  // paragraph start belongs to the first title. Searching from the end would pick an older
  // entry whenever it shares the newest one's clock time.
  const Text tail = TextRightOf(page, ConcatText({time, kEventStartSuffix}), -1);
  LatestEvent latest;
  latest.time = ConcatText({date, kTimeSeparator, time});
  latest.event = TextLeftOf(tail, kEventEndMarker);
  return latest;
}

LatestEvent QueryWaybill(std::string_view prefix, std::string_view number, Text* statusText,
                         int timeoutSeconds) {
  Text status;
  WebRequestOptions options;
  options.timeoutSeconds = timeoutSeconds;
  options.statusText = &status;
  const Text page = WebRequest(QueryAddress(prefix, number), options);
  if (statusText != nullptr) *statusText = status;
  return ScrapeLatestEvent(page);
}

void QueryAllWaybills(ReportList& list, std::string_view prefix,
                      const std::function<bool()>& listAlive) {
  // Rows added while the pass runs (an import nested in a request) wait for the next pass.
  const int rowCount = list.RowCount();
  for (int row = 0; row < rowCount; ++row) {
    const Text number = list.GetCellText(row, kNumberColumn);
    const LatestEvent latest = QueryWaybill(prefix, number);
    if (listAlive && !listAlive()) return;
    list.SetCellText(row, kTimeColumn, latest.time);
    list.SetCellText(row, kEventColumn, latest.event);
    list.EnsureVisible(row);
  }
}

}  // namespace korvanel
