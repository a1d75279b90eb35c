#include "app/cli/retry.h"

#include <algorithm>
#include <charconv>
#include <string>

#include "app/cli/http_date.h"

namespace korvanel::cli {
namespace {

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(text[i]) != lower(prefix[i])) return false;
  }
  return true;
}

std::string_view TrimSpaces(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The failure messages of the request routine that a later attempt can cure.
constexpr std::string_view kRetryableFailures[] = {"711 ", "712 ", "713 "};

}  // namespace

int StatusCode(std::string_view statusText) {
  if (statusText.size() < 3) return 0;
  int code = 0;
  for (int i = 0; i < 3; ++i) {
    const char c = statusText[static_cast<std::size_t>(i)];
    if (c < '0' || c > '9') return 0;
    code = code * 10 + (c - '0');
  }
  if (statusText.size() > 3 && statusText[3] != ' ') return 0;
  return code;
}

bool IsRetryable(const AttemptResult& attempt) {
  if (!attempt.responded) {
    return std::any_of(std::begin(kRetryableFailures), std::end(kRetryableFailures),
                       [&](std::string_view prefix) {
                         return attempt.statusText.compare(0, prefix.size(), prefix) == 0;
                       });
  }
  const int code = StatusCode(attempt.statusText);
  return code == 429 || (code >= 500 && code <= 599);
}

Text HeaderValue(std::string_view headerBlock, std::string_view name) {
  std::size_t start = 0;
  while (start < headerBlock.size()) {
    std::size_t end = headerBlock.find("\r\n", start);
    if (end == std::string_view::npos) end = headerBlock.size();
    const std::string_view line = headerBlock.substr(start, end - start);
    if (StartsWithIgnoringCase(line, name) && line.size() > name.size() &&
        line[name.size()] == ':') {
      return Text(TrimSpaces(line.substr(name.size() + 1)));
    }
    start = end + 2;
  }
  return {};
}

std::optional<Milliseconds> ParseRetryAfter(std::string_view value,
                                            std::chrono::system_clock::time_point now) {
  value = TrimSpaces(value);
  if (value.empty()) return std::nullopt;
  if (std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    long long seconds = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), seconds);
    if (ec == std::errc::result_out_of_range) return Milliseconds::max();
    if (ec != std::errc() || end != value.data() + value.size()) return std::nullopt;
    if (seconds > std::chrono::duration_cast<std::chrono::seconds>(Milliseconds::max()).count()) {
      return Milliseconds::max();
    }
    return std::chrono::duration_cast<Milliseconds>(std::chrono::seconds(seconds));
  }
  const auto parsed = ParseHttpDate(std::string(value));
  if (!parsed) return std::nullopt;
  const auto when = *parsed;
  if (when <= now) return Milliseconds(0);
  return std::chrono::duration_cast<Milliseconds>(when - now);
}

Milliseconds BackoffDelay(int retry, const RetryPolicy& policy, double jitter) {
  Milliseconds delay = policy.baseDelay;
  for (int i = 1; i < retry && delay < policy.maxDelay; ++i) delay *= 2;
  delay = std::min(delay, policy.maxDelay);
  jitter = std::clamp(jitter, 0.0, 1.0);
  return Milliseconds(static_cast<Milliseconds::rep>(delay.count() * (0.5 + jitter / 2)));
}

Milliseconds DelayBeforeRetry(const AttemptResult& attempt, int retry, const RetryPolicy& policy,
                              std::mt19937& random, std::chrono::system_clock::time_point now) {
  if (attempt.responded) {
    const auto retryAfter =
        ParseRetryAfter(HeaderValue(attempt.responseHeaders, "Retry-After"), now);
    if (retryAfter) return std::min(*retryAfter, policy.maxRetryAfter);
  }
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  return BackoffDelay(retry, policy, unit(random));
}

}  // namespace korvanel::cli
