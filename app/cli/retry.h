// When a row's request is worth another try, and how long to wait before it.
#pragma once

#include <chrono>
#include <optional>
#include <random>
#include <string_view>

#include "text/text.h"

namespace korvanel::cli {

using Milliseconds = std::chrono::milliseconds;

// What one attempt at a row came back with, as far as retrying is concerned.
struct AttemptResult {
  bool responded = false;  // a response came; statusText is its status ("503 Service ...")
  Text statusText;         // the status, or the request's failure message ("711 ...")
  Text responseHeaders;    // the raw header block when a response came
};

struct RetryPolicy {
  int retries = 0;                      // further attempts after the first
  Milliseconds baseDelay{500};          // before the first retry, before jitter
  Milliseconds maxDelay{30'000};        // the doubling stops here
  Milliseconds maxRetryAfter{120'000};  // a server's Retry-After is honoured up to this
};

// The HTTP status code at the start of a status text ("404 Not Found" gives 404); 0 when
// there is none.
int StatusCode(std::string_view statusText);

// A failed send (711), no response (712), a broken body (713), or a response with status 429
// or 5xx: the kinds of failure that a later attempt can cure. A bad address, or any other
// status, will fail the same way again.
bool IsRetryable(const AttemptResult& attempt);

// The value of the first header line named name, letter case ignored; empty when none.
Text HeaderValue(std::string_view headerBlock, std::string_view name);

// A Retry-After value, delta-seconds or an HTTP date, as a wait from now; nothing when the
// value is neither. A date in the past gives zero.
std::optional<Milliseconds> ParseRetryAfter(std::string_view value,
                                            std::chrono::system_clock::time_point now);

// The wait before retry number retry (1 for the first): the base delay doubled for each
// earlier retry, capped, then scaled by jitter (0 to 1) into its upper half, so that
// workers that failed together do not come back together.
Milliseconds BackoffDelay(int retry, const RetryPolicy& policy, double jitter);

// The wait before the next attempt after attempt: the server's Retry-After when it gave
// one (capped), otherwise the backoff above with a random jitter.
Milliseconds DelayBeforeRetry(const AttemptResult& attempt, int retry, const RetryPolicy& policy,
                              std::mt19937& random, std::chrono::system_clock::time_point now);

}  // namespace korvanel::cli
