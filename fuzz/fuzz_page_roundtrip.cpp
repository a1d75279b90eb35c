// The endpoint's pages read back by the batch query's scraper: whatever the events and the
// number hold, the cells scraped from a tracking page are the newest event's date, time and
// (HTML-escaped) text, and a page without a timeline (unknown number, error) scrapes to the
// empty cells, so no number or message can smuggle a fake event in.
#include <cstdint>
#include <string>
#include <vector>

#include "app/batch_query.h"
#include "endpoint/tracking_page.h"
#include "fuzz/fuzz_support.h"

namespace {

using fuzz::Escaped;

// Valid code page 936 text of one line, as the store lets an event text be.
std::string EventText(FuzzedDataProvider& in, size_t maxLength) {
  const std::string raw = in.ConsumeRandomLengthString(maxLength);
  std::string out;
  for (size_t i = 0; i < raw.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(raw[i]);
    if (c >= 0x81 && c <= 0xFE && i + 1 < raw.size()) {
      unsigned char trail = static_cast<unsigned char>(raw[i + 1]);
      if (trail < 0x40 || trail == 0x7F || trail == 0xFF) trail = 0xA1;
      out += static_cast<char>(c);
      out += static_cast<char>(trail);
      ++i;
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      out += ' ';
    }
  }
  if (out.empty()) out = "x";
  return out;
}

std::string Digits(FuzzedDataProvider& in, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += static_cast<char>('0' + in.ConsumeIntegralInRange<int>(0, 9));
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  namespace ep = korvanel::endpoint;
  FuzzedDataProvider in(data, size);
  // Any bytes at all as the number: the page escapes it, it never reaches the timeline.
  std::string number = in.ConsumeRandomLengthString(64);
  for (char& c : number) {
    if (c == 0) c = '0';
  }
  const int count = in.ConsumeIntegralInRange<int>(0, 4);
  std::vector<std::string> times, texts;
  for (int i = 0; i < count; ++i) {
    times.push_back(Digits(in, 4) + "-" + Digits(in, 2) + "-" + Digits(in, 2) + " " +
                    Digits(in, 2) + ":" + Digits(in, 2) + ":" + Digits(in, 2));
    texts.push_back(EventText(in, 200));
  }
  std::vector<ep::PageEvent> events;
  for (int i = 0; i < count; ++i) events.push_back({times[i], texts[i]});

  const std::string page = ep::RenderTrackingPage(number, events);
  const korvanel::LatestEvent got = korvanel::ScrapeLatestEvent(page);
  if (count == 0) {
    FUZZ_CHECK(got.time == "  " && got.event.empty(),
               "no-tracking page for %s scraped to {%s, %s}\n", Escaped(number).c_str(),
               Escaped(got.time).c_str(), Escaped(got.event).c_str());
  } else {
    const std::string wantTime = times[0].substr(0, 10) + "  " + times[0].substr(11);
    const std::string wantEvent = ep::EscapeHtml(texts[0]);
    FUZZ_CHECK(got.time == wantTime && got.event == wantEvent,
               "page for %s with newest event %s %s scraped to {%s, %s}\n", Escaped(number).c_str(),
               times[0].c_str(), Escaped(texts[0]).c_str(), Escaped(got.time).c_str(),
               Escaped(got.event).c_str());
  }
  const std::string message = EventText(in, 200);
  const korvanel::LatestEvent error = korvanel::ScrapeLatestEvent(
      ep::RenderErrorPage(in.ConsumeIntegralInRange(100, 599), message));
  FUZZ_CHECK(error.time == "  " && error.event.empty(), "error page with %s scraped to {%s, %s}\n",
             Escaped(message).c_str(), Escaped(error.time).c_str(), Escaped(error.event).c_str());
  return 0;
}
