// The text primitives against std::string_view on a 4 MiB tracking page that mixes ASCII
// markup with GBK text. Each routine runs beside its plain baseline in the same run, so
// their ratio is read from one run: the double-byte aware walk should cost little more
// than a plain search.
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>
#include <vector>

#include "text/markers.h"
#include "text/text.h"

namespace {

using korvanel::Text;

// "【深圳市】快件已到达 深圳转运中心"
constexpr std::string_view kArrived =
    "\xA1\xBE\xC9\xEE\xDB\xDA\xCA\xD0\xA1\xBF\xBF\xEC\xBC\xFE\xD2\xD1\xB5\xBD\xB4\xEF\x20\xC9"
    "\xEE\xDB\xDA\xD7\xAA\xD4\xCB\xD6\xD0\xD0\xC4";
// "快件已签收，签收人：本人"
constexpr std::string_view kSigned =
    "\xBF\xEC\xBC\xFE\xD2\xD1\xC7\xA9\xCA\xD5\xA3\xAC\xC7\xA9\xCA\xD5\xC8\xCB\xA3\xBA\xB1\xBE"
    "\xC8\xCB";
// "快件已退回": only in the last event of the page, while every other event starts its
// text with "快件" or holds it.
constexpr std::string_view kReturned = "\xBF\xEC\xBC\xFE\xD2\xD1\xCD\xCB\xBB\xD8";

constexpr std::string_view kLastMarker = "<div class=\"page-end\">";
constexpr std::string_view kFirstMarker = "<!DOCTYPE html>";

// One timeline event as the endpoint writes it.
std::string Event(int n, std::string_view what) {
  std::string e =
      "<li class=\"layui-timeline-item\">\r\n"
      "  <i class=\"layui-icon layui-timeline-axis\">&#xe63f;</i>\r\n"
      "  <div class=\"layui-timeline-content layui-text\">\r\n"
      "    <h3 class=\"layui-timeline-title\">2024-05-";
  e += std::to_string(10 + n % 20);
  e += "&nbsp;&nbsp;1";
  e += std::to_string(n % 10);
  e += ":2";
  e += std::to_string(n % 10);
  e += ":00</h3>\r\n      <p>\r\n\t\t";
  e += what;
  e += "</p>\r\n  </div>\r\n</li>\r\n";
  return e;
}

const std::string& Page() {
  static const std::string page = [] {
    std::string p = std::string(kFirstMarker) + "\r\n<html><body><ul class=\"layui-timeline\">\r\n";
    for (int n = 0; p.size() < (4u << 20) - 1024; ++n) {
      p += Event(n, n % 2 ? kArrived : kSigned);
    }
    p += Event(0, kReturned);
    p += "</ul>";
    p += kLastMarker;
    p += "</div></body></html>\r\n";
    return p;
  }();
  return page;
}

void SetBytes(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(Page().size()));
}

// FindText of an ASCII marker near the end: '<' starts thousands of candidates.
void BM_FindText_Ascii(benchmark::State& state) {
  const std::string& page = Page();
  for (auto _ : state) benchmark::DoNotOptimize(korvanel::FindText(page, kLastMarker));
  SetBytes(state);
}
void BM_FindText_Ascii_StringView(benchmark::State& state) {
  const std::string_view page = Page();
  for (auto _ : state) benchmark::DoNotOptimize(page.find(kLastMarker));
  SetBytes(state);
}

// FindText of a GBK text that only the last event holds.
void BM_FindText_Gbk(benchmark::State& state) {
  const std::string& page = Page();
  for (auto _ : state) benchmark::DoNotOptimize(korvanel::FindText(page, kReturned));
  SetBytes(state);
}
void BM_FindText_Gbk_StringView(benchmark::State& state) {
  const std::string_view page = Page();
  for (auto _ : state) benchmark::DoNotOptimize(page.find(kReturned));
  SetBytes(state);
}

// FindTextReverse of the marker that opens the page: the whole page is walked backwards.
void BM_FindTextReverse(benchmark::State& state) {
  const std::string& page = Page();
  for (auto _ : state) benchmark::DoNotOptimize(korvanel::FindTextReverse(page, kFirstMarker));
  SetBytes(state);
}
void BM_FindTextReverse_StringView(benchmark::State& state) {
  const std::string_view page = Page();
  for (auto _ : state) benchmark::DoNotOptimize(page.rfind(kFirstMarker));
  SetBytes(state);
}

// ReplaceText of every "&nbsp;", baseline a find loop that builds the same output.
void BM_ReplaceText(benchmark::State& state) {
  const std::string& page = Page();
  for (auto _ : state) benchmark::DoNotOptimize(korvanel::ReplaceText(page, "&nbsp;", " ", true));
  SetBytes(state);
}
void BM_ReplaceText_StringView(benchmark::State& state) {
  const std::string_view page = Page();
  constexpr std::string_view sought = "&nbsp;";
  for (auto _ : state) {
    std::string out;
    out.reserve(page.size());
    std::size_t pos = 0;
    for (std::size_t c; (c = page.find(sought, pos)) != std::string_view::npos;
         pos = c + sought.size()) {
      out.append(page.substr(pos, c - pos));
      out += ' ';
    }
    out.append(page.substr(pos));
    benchmark::DoNotOptimize(out);
  }
  SetBytes(state);
}

// SplitText into lines, baseline a find loop that collects the same pieces.
void BM_SplitText(benchmark::State& state) {
  const std::string& page = Page();
  for (auto _ : state) benchmark::DoNotOptimize(korvanel::SplitText(page, "\r\n"));
  SetBytes(state);
}
void BM_SplitText_StringView(benchmark::State& state) {
  const std::string_view page = Page();
  constexpr std::string_view separator = "\r\n";
  for (auto _ : state) {
    std::vector<std::string> pieces;
    std::size_t pos = 0;
    for (std::size_t c; (c = page.find(separator, pos)) != std::string_view::npos;
         pos = c + separator.size()) {
      pieces.emplace_back(page.substr(pos, c - pos));
    }
    if (pos < page.size()) pieces.emplace_back(page.substr(pos));
    benchmark::DoNotOptimize(pieces);
  }
  SetBytes(state);
}

// TextBetween of the last event's text, as the batch query cuts an event out of a page.
void BM_TextBetween(benchmark::State& state) {
  const std::string& page = Page();
  for (auto _ : state) benchmark::DoNotOptimize(korvanel::TextBetween(page, kReturned, "</li>"));
  SetBytes(state);
}
void BM_TextBetween_StringView(benchmark::State& state) {
  const std::string_view page = Page();
  for (auto _ : state) {
    std::string piece;
    const std::size_t p1 = page.find(kReturned);
    if (p1 != std::string_view::npos) {
      const std::size_t from = p1 + kReturned.size();
      const std::size_t p2 = page.find("</li>", from);
      if (p2 != std::string_view::npos) piece = std::string(page.substr(from, p2 - from));
    }
    benchmark::DoNotOptimize(piece);
  }
  SetBytes(state);
}

BENCHMARK(BM_FindText_Ascii);
BENCHMARK(BM_FindText_Ascii_StringView);
BENCHMARK(BM_FindText_Gbk);
BENCHMARK(BM_FindText_Gbk_StringView);
BENCHMARK(BM_FindTextReverse);
BENCHMARK(BM_FindTextReverse_StringView);
BENCHMARK(BM_ReplaceText);
BENCHMARK(BM_ReplaceText_StringView);
BENCHMARK(BM_SplitText);
BENCHMARK(BM_SplitText_StringView);
BENCHMARK(BM_TextBetween);
BENCHMARK(BM_TextBetween_StringView);

}  // namespace

BENCHMARK_MAIN();
