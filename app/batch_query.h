// The batch query: asks the tracking endpoint for every listed waybill's page and writes the
// latest event beside the number.
#pragma once

#include <functional>
#include <string_view>

#include "app/report_list.h"
#include "text/text.h"

namespace korvanel {

// The host (host[:port]) the tools query when told nothing else, fixed at build time.
std::string_view DefaultEndpointHost();
// "http://" + host + "/korvanelapi.php?yundanhao=".
Text QueryAddressPrefixForHost(std::string_view host);
// The beginning of every query address, for the default host.
Text QueryAddressPrefix();
// prefix + number + "&type=html"; the number goes in unchanged (no trimming, no escaping).
Text QueryAddress(std::string_view prefix, std::string_view number);

// The two cells a tracking page gives for its latest event.
struct LatestEvent {
  Text time;   // column 1: date + two spaces + time
  Text event;  // column 2: the event text
};

// Cuts the latest event out of a tracking page. The page lists events newest first in a
// timeline; a part whose markers are missing is empty, so the empty page gives a time of two
// spaces and an empty event. The event text is only found when another timeline entry
// follows the newest one.
LatestEvent ScrapeLatestEvent(std::string_view page);

// One row's work: a GET of QueryAddress(prefix, number) with the request routine's defaults,
// then ScrapeLatestEvent of the page. A failed request gives the empty page's cells. When
// given, *statusText receives the response's status ("200 OK", "404 Not Found") or, for a
// failed request, the request routine's numbered message.
// timeoutSeconds 0 keeps the routine's own timeouts.
LatestEvent QueryWaybill(std::string_view prefix, std::string_view number,
                         Text* statusText = nullptr, int timeoutSeconds = 0);

// Queries every row present at the start, top to bottom, one request at a time, writing
// columns 1 and 2 and scrolling each row into view. The request routine lets pending window
// messages run, so the list may change or go away meanwhile: listAlive, when given, is asked
// after every request and a false answer ends the pass before the list is touched again.
void QueryAllWaybills(ReportList& list, std::string_view prefix,
                      const std::function<bool()>& listAlive = {});

}  // namespace korvanel
