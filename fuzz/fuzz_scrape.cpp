// The batch query's scraping of a tracking page. Two kinds of input: any bytes as a page,
// held to a reference built from the plain marker walk; and pages laid out as the timeline
// markers describe, built from fuzzed dates, times and event texts, where the newest entry's
// cells must come back exactly.
#include <cstdint>
#include <string>
#include <vector>

#include "app/batch_query.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/reference_text.h"

namespace {

using fuzz::Escaped;

constexpr std::string_view kTitleMarker = "\"layui-timeline-title\">";
constexpr std::string_view kEventStartSuffix = "</h3>\r\n      <p>\r\n\t\t";
const std::string kEventEndMarker =
    std::string(90, ' ') +
    "</p>\r\n"
    "    </div>\r\n"
    "  </li>\r\n"
    "    <li class=\"layui-timeline-item\">\r\n"
    "    <i class=\"layui-icon layui-timeline-axis\">&#xe63f;</i>\r\n"
    "    <div class=\"layui-timeline-content layui-text\">\r\n"
    "      <h3 class=\"layui-timeline-title\">";

// The cells by the marker rules: date and time from the first title, the event text after
// the first occurrence of time + the paragraph start (the newest entry's), up to the first
// end marker.
korvanel::LatestEvent Reference(std::string_view page) {
  const std::string date = ref::TextBetween(page, kTitleMarker, "&nbsp;", 0, false);
  const std::string time = ref::TextBetween(page, "&nbsp;&nbsp;", "</h3>", 0, false);
  const std::string tail = ref::TextRightOf(page, time + std::string(kEventStartSuffix), -1, false);
  return {date + "  " + time, ref::TextLeftOf(tail, kEventEndMarker, 0, false)};
}

// Text that holds whole double-byte characters only and none of the bytes the markers are
// made of, as a date, time or event text of a real page would.
std::string PlainField(FuzzedDataProvider& in, size_t maxLength) {
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
    } else if (c >= 0x20 && c < 0x7F && c != '&' && c != '<' && c != '>' && c != '"') {
      out += static_cast<char>(c);
    } else {
      out += 'x';
    }
  }
  return out;
}

struct Entry {
  std::string date, time, text;
  int spaces;  // before the paragraph's end; 90 in every page the endpoint writes
};

std::string Page(const std::vector<Entry>& entries, const std::string& preamble) {
  std::string page = "<html><body>" + preamble + "<ul class=\"layui-timeline\">\r\n";
  page +=
      "    <li class=\"layui-timeline-item\">\r\n"
      "    <i class=\"layui-icon layui-timeline-axis\">&#xe63f;</i>\r\n"
      "    <div class=\"layui-timeline-content layui-text\">\r\n"
      "      <h3 class=\"layui-timeline-title\">";
  for (size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    page += e.date + "&nbsp;&nbsp;" + e.time + std::string(kEventStartSuffix) + e.text;
    if (i + 1 < entries.size()) {
      page += std::string(static_cast<size_t>(e.spaces), ' ');
      page += std::string_view(kEventEndMarker).substr(90);
    } else {
      page += "\r\n      </p>\r\n    </div>\r\n  </li>\r\n</ul>";
    }
  }
  return page + "</body></html>\r\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::uint8_t mode = in.ConsumeIntegral<std::uint8_t>();
  if (mode & 1) {
    std::vector<Entry> entries;
    const std::string preamble = PlainField(in, 64);
    const int count = in.ConsumeIntegralInRange<int>(1, 5);
    for (int i = 0; i < count; ++i) {
      Entry e;
      e.date = PlainField(in, 16);
      e.time = PlainField(in, 16);
      e.text = PlainField(in, 64);
      e.spaces = in.ConsumeBool() ? 90 : in.ConsumeIntegralInRange<int>(90, 96);
      entries.push_back(e);
    }
    const std::string page = Page(entries, preamble);
    const korvanel::LatestEvent got = korvanel::ScrapeLatestEvent(page);
    const Entry& newest = entries.front();
    FUZZ_CHECK(got.time == newest.date + "  " + newest.time, "time %s from page %s\n",
               Escaped(got.time).c_str(), Escaped(page).c_str());
    // The event text is found only when another entry follows the newest; extra spaces
    // before the paragraph's end stay with the text.
    const std::string wantEvent =
        entries.size() > 1 ? newest.text + std::string(static_cast<size_t>(newest.spaces - 90), ' ')
                           : std::string();
    FUZZ_CHECK(got.event == wantEvent, "event %s, expected %s, from page %s\n",
               Escaped(got.event).c_str(), Escaped(wantEvent).c_str(), Escaped(page).c_str());
    return 0;
  }
  std::string page = fuzz::GbkText(in, 4096, (mode & 2) != 0);
  // Pieces of the real layout spliced in, so the markers occur far more often than by chance.
  if (mode & 4) page.insert(page.size() / 3, kTitleMarker);
  if (mode & 8)
    page.insert(page.size() / 2,
                std::string("&nbsp;&nbsp;12:00</h3>") + std::string(kEventStartSuffix));
  if (mode & 16) page.insert(page.size() * 2 / 3, kEventEndMarker);
  const korvanel::LatestEvent got = korvanel::ScrapeLatestEvent(page);
  const korvanel::LatestEvent want = Reference(page);
  FUZZ_CHECK(got.time == want.time && got.event == want.event,
             "ScrapeLatestEvent(%s) = {%s, %s}, expected {%s, %s}\n", Escaped(page).c_str(),
             Escaped(got.time).c_str(), Escaped(got.event).c_str(), Escaped(want.time).c_str(),
             Escaped(want.event).c_str());
  return 0;
}
