#include "app/cli/retry.h"

#include <gtest/gtest.h>

#include <deque>

#include "app/cli/batch_run.h"

namespace korvanel::cli {
namespace {

using std::chrono::system_clock;

// The request routine's numbered failure messages, as far as their numbers go; the words
// after them play no part here.
AttemptResult Failure(const char* message) { return {false, message, ""}; }
AttemptResult Response(const char* status, const char* headers = "") {
  return {true, status, std::string("HTTP/1.1 ") + status + "\r\n" + headers};
}

TEST(StatusCode, ReadsTheLeadingThreeDigits) {
  const struct {
    const char* text;
    int code;
  } cases[] = {{"200 OK", 200}, {"404 Not Found", 404}, {"503", 503}, {"", 0},
               {"20", 0},       {"2000 x", 0},          {"OK", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(StatusCode(c.text), c.code);
  }
}

TEST(IsRetryable, TransientFailuresAndStatusesOnly) {
  const struct {
    AttemptResult attempt;
    bool retryable;
  } cases[] = {
      {Failure("711 send failed"), true},
      {Failure("712 no response"), true},
      {Failure("713 read failed"), true},
      {Failure("701 bad address"), false},
      {Failure("704 cannot open request"), false},
      {Failure(""), false},
      {Response("429 Too Many Requests"), true},
      {Response("500 Internal Server Error"), true},
      {Response("503 Service Unavailable"), true},
      {Response("599 Whatever"), true},
      {Response("200 OK"), false},
      {Response("404 Not Found"), false},
      {Response("600 Beyond"), false},
      // A response whose status happens to read like a failure number is still a response.
      {Response("711 Strange"), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.attempt.statusText);
    EXPECT_EQ(IsRetryable(c.attempt), c.retryable);
  }
}

TEST(HeaderValue, FindsTheNameInAnyLetterCase) {
  const std::string block = "HTTP/1.1 503 Busy\r\nretry-after:  7 \r\nRetry-After: 9\r\n";
  EXPECT_EQ(HeaderValue(block, "Retry-After"), "7");
  EXPECT_EQ(HeaderValue(block, "Retry"), "");  // a prefix of a name is not the name
  EXPECT_EQ(HeaderValue("", "Retry-After"), "");
}

TEST(ParseRetryAfter, SecondsOrHttpDate) {
  const auto now = system_clock::from_time_t(784111777);  // Sun, 06 Nov 1994 08:49:37 GMT
  EXPECT_EQ(ParseRetryAfter("120", now), Milliseconds(120'000));
  EXPECT_EQ(ParseRetryAfter(" 0 ", now), Milliseconds(0));
  EXPECT_EQ(ParseRetryAfter("Sun, 06 Nov 1994 08:49:40 GMT", now), Milliseconds(3'000));
  EXPECT_EQ(ParseRetryAfter("Sun, 06 Nov 1994 08:00:00 GMT", now), Milliseconds(0));
  EXPECT_EQ(ParseRetryAfter("99999999999999999999999", now), Milliseconds::max());
  for (const char* bad : {"", "-1", "1.5", "soon", "Sun, 06 Nov 1994 08:49:40"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(ParseRetryAfter(bad, now), std::nullopt);
  }
}

TEST(BackoffDelay, DoublesUpToTheCapWithJitterInTheUpperHalf) {
  RetryPolicy policy;
  policy.baseDelay = Milliseconds(100);
  policy.maxDelay = Milliseconds(1'000);
  EXPECT_EQ(BackoffDelay(1, policy, 1.0), Milliseconds(100));
  EXPECT_EQ(BackoffDelay(2, policy, 1.0), Milliseconds(200));
  EXPECT_EQ(BackoffDelay(4, policy, 1.0), Milliseconds(800));
  EXPECT_EQ(BackoffDelay(5, policy, 1.0), Milliseconds(1'000));
  EXPECT_EQ(BackoffDelay(60, policy, 1.0), Milliseconds(1'000));
  EXPECT_EQ(BackoffDelay(2, policy, 0.0), Milliseconds(100));
  EXPECT_EQ(BackoffDelay(2, policy, 0.5), Milliseconds(150));
}

TEST(DelayBeforeRetry, HonoursRetryAfterUpToItsCap) {
  RetryPolicy policy;
  policy.baseDelay = Milliseconds(100);
  policy.maxRetryAfter = Milliseconds(10'000);
  std::mt19937 random(1);
  const auto now = system_clock::now();
  EXPECT_EQ(
      DelayBeforeRetry(Response("429 Slow Down", "Retry-After: 3\r\n"), 1, policy, random, now),
      Milliseconds(3'000));
  EXPECT_EQ(DelayBeforeRetry(Response("503 Busy", "Retry-After: 3600\r\n"), 1, policy, random, now),
            Milliseconds(10'000));
  for (int i = 0; i < 20; ++i) {
    const auto wait = DelayBeforeRetry(Failure("712 no response"), 1, policy, random, now);
    EXPECT_GE(wait, Milliseconds(50));
    EXPECT_LE(wait, Milliseconds(100));
  }
}

// Attempts scripted in advance; counts the calls.
struct ScriptedAttempts {
  std::deque<RowAttempt> script;
  int calls = 0;
  RowAttempt operator()() {
    ++calls;
    RowAttempt next = script.front();
    if (script.size() > 1) script.pop_front();
    return next;
  }
};

RowAttempt Row(const AttemptResult& result) {
  RowAttempt attempt;
  static_cast<AttemptResult&>(attempt) = result;
  return attempt;
}

TEST(AttemptWithRetries, RetriesUntilAnAnswerOrTheRetriesAreSpent) {
  RetryPolicy policy;
  policy.baseDelay = Milliseconds(1);
  std::mt19937 random(1);
  const struct {
    const char* name;
    int retries;
    std::vector<AttemptResult> script;
    int calls;
    const char* finalStatus;
  } cases[] = {
      {"no retries", 0, {Failure("711 x"), Response("200 OK")}, 1, "711 x"},
      {"fails twice then answers",
       3,
       {Failure("711 x"), Response("503 Busy"), Response("200 OK")},
       3,
       "200 OK"},
      {"spent", 2, {Response("500 Oops")}, 3, "500 Oops"},
      {"not worth retrying",
       5,
       {Response("404 Not Found"), Response("200 OK")},
       1,
       "404 Not Found"},
      {"bad address", 5, {Failure("701 bad"), Response("200 OK")}, 1, "701 bad"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    policy.retries = c.retries;
    ScriptedAttempts attempts;
    for (const auto& result : c.script) attempts.script.push_back(Row(result));
    const RowAttempt last =
        AttemptWithRetries(std::ref(attempts), policy, Milliseconds(0), random, {});
    EXPECT_EQ(attempts.calls, c.calls);
    EXPECT_EQ(last.statusText, c.finalStatus);
  }
}

TEST(AttemptWithRetries, AStopCutsTheWaitShortAndKeepsTheLastAttempt) {
  RetryPolicy policy;
  policy.retries = 3;
  policy.baseDelay = Milliseconds(60'000);
  std::mt19937 random(1);
  ScriptedAttempts attempts;
  attempts.script.push_back(Row(Failure("712 no response")));
  const auto start = std::chrono::steady_clock::now();
  const RowAttempt last =
      AttemptWithRetries(std::ref(attempts), policy, Milliseconds(0), random, [] { return true; });
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(attempts.calls, 1);
  EXPECT_EQ(last.statusText, "712 no response");
}

TEST(RecordFromAttempt, TellsAnEmptyPageFromAFailure) {
  RowAttempt page = Row(Response("200 OK"));
  page.cells = {"2024-05-01  10:22:33", "delivered"};
  RowAttempt empty = Row(Response("200 OK"));
  empty.cells = {"  ", ""};  // what the scraping gives for a page without events
  RowAttempt failed = Row(Failure("711 x"));
  failed.cells = {"  ", ""};
  RowAttempt serverError = Row(Response("500 Oops"));
  serverError.cells = {"D  T", "E"};

  const Record withEvent = RecordFromAttempt("A", page);
  EXPECT_TRUE(withEvent.ok);
  EXPECT_EQ(withEvent.time, "2024-05-01  10:22:33");
  EXPECT_EQ(withEvent.event, "delivered");
  EXPECT_EQ(withEvent.status, "200 OK");

  const Record noEvents = RecordFromAttempt("B", empty);
  EXPECT_TRUE(noEvents.ok);
  EXPECT_EQ(noEvents.time, "");
  EXPECT_EQ(noEvents.event, "");

  const Record unread = RecordFromAttempt("C", failed);
  EXPECT_FALSE(unread.ok);
  EXPECT_EQ(unread.time, "");
  EXPECT_EQ(unread.error, "711 x");
  EXPECT_EQ(unread.status, "");

  const Record refused = RecordFromAttempt("D", serverError);
  EXPECT_FALSE(refused.ok);
  EXPECT_EQ(refused.time, "");
  EXPECT_EQ(refused.event, "");
  EXPECT_EQ(refused.status, "500 Oops");
}

}  // namespace
}  // namespace korvanel::cli
