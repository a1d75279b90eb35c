// One row's request, with what the command-line tool needs to know beyond the two cells:
// whether a response came at all, its status and headers (for Retry-After).
#pragma once

#include <string_view>

#include "app/batch_query.h"
#include "app/cli/retry.h"

namespace korvanel::cli {

struct RowAttempt : AttemptResult {
  LatestEvent cells;  // ScrapeLatestEvent of the page (of the empty page after a failure)
};

// The batch query's own request for one number: a GET of QueryAddress(prefix, number) with
// the request routine's defaults (timeoutSeconds 0 keeps its 30 seconds), then the batch
// query's scraping of the page.
RowAttempt QueryRowOnce(std::string_view prefix, std::string_view number, int timeoutSeconds);

}  // namespace korvanel::cli
