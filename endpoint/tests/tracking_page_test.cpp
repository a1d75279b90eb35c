#include "endpoint/tracking_page.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/markers.h"

namespace korvanel::endpoint {
namespace {

// The latest event as the desktop tool's batch query cuts it out of a page.
struct Cut {
  std::string date;
  std::string time;
  std::string event;
};

Cut CutLatest(const std::string& page) {
  Cut cut;
  cut.date = TextBetween(page, kTitleMarker, "&nbsp;");
  cut.time = TextBetween(page, "&nbsp;&nbsp;", "</h3>");
  std::string tail = TextRightOf(page, cut.time + "</h3>\r\n      <p>\r\n\t\t", -1);
  cut.event = TextLeftOf(tail, kEventEndMarker);
  return cut;
}

// "快件已签收" and "【北京市】"
const std::string kSigned = "\xBF\xEC\xBC\xFE\xD2\xD1\xC7\xA9\xCA\xD5";
const std::string kBeijing = "\xA1\xBE\xB1\xB1\xBE\xA9\xCA\xD0\xA1\xBF";

TEST(TrackingPage, MarkersHaveTheirExactBytes) {
  EXPECT_EQ(kTitleMarker.size(), 23u);
  EXPECT_EQ(kEventStartSuffix.size(), 20u);
  ASSERT_EQ(kEventEndMarker.size(), 307u);
  EXPECT_EQ(kEventEndMarker.substr(0, 96), std::string(90, ' ') + "</p>\r\n");
  EXPECT_EQ(std::string(kEventEndMarker.substr(96)),
            "    </div>\r\n"
            "  </li>\r\n"
            "    <li class=\"layui-timeline-item\">\r\n"
            "    <i class=\"layui-icon layui-timeline-axis\">&#xe63f;</i>\r\n"
            "    <div class=\"layui-timeline-content layui-text\">\r\n"
            "      <h3 class=\"layui-timeline-title\">");
  EXPECT_EQ(kNoTrackingInfo, "\xD4\xDD\xCE\xDE\xCE\xEF\xC1\xF7\xD0\xC5\xCF\xA2");  // "暂无物流信息"
}

TEST(TrackingPage, BatchQueryCutsTheNewestEvent) {
  struct Case {
    const char* name;
    std::vector<PageEvent> events;
    Cut expected;
  };
  const std::string chinese = kBeijing + kSigned;
  const Case cases[] = {
      {"one event",
       {{"2025-03-10 08:15:00", "Picked up"}},
       {"2025-03-10", "08:15:00", "Picked up"}},
      {"three events",
       {{"2025-03-12 16:42:10", "Delivered"},
        {"2025-03-12 09:05:33", "Out for delivery"},
        {"2025-03-10 09:12:44", "Picked up"}},
       {"2025-03-12", "16:42:10", "Delivered"}},
      {"an older event at the same clock time, last on the page",
       {{"2025-03-15 10:00:00", "Arrived"}, {"2025-03-14 10:00:00", "Picked up"}},
       {"2025-03-15", "10:00:00", "Arrived"}},
      {"an older event at the same clock time, in the middle",
       {{"2025-03-14 09:30:00", "Arrived"},
        {"2025-03-13 18:02:11", "Departed"},
        {"2025-03-13 09:30:00", "Picked up"}},
       {"2025-03-14", "09:30:00", "Arrived"}},
      {"Chinese text", {{"2025-03-12 16:42:10", chinese}}, {"2025-03-12", "16:42:10", chinese}},
      {"text that needs escaping",
       {{"2025-03-19 10:10:10", "<b>held</b> & \"kept\""}},
       {"2025-03-19", "10:10:10", "&lt;b&gt;held&lt;/b&gt; &amp; &quot;kept&quot;"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Cut cut = CutLatest(RenderTrackingPage("SF1", c.events));
    EXPECT_EQ(cut.date, c.expected.date);
    EXPECT_EQ(cut.time, c.expected.time);
    EXPECT_EQ(cut.event, c.expected.event);
  }
}

TEST(TrackingPage, EveryEntryHasTheLayoutTheMarkersDescribe) {
  const std::vector<PageEvent> events = {{"2025-03-12 16:42:10", kSigned},
                                         {"2025-03-11 01:02:17", "Arrived at hub"},
                                         {"2025-03-10 09:12:44", "Picked up"}};
  const std::string page = RenderTrackingPage("SF1", events);
  size_t at = 0;
  for (const PageEvent& event : events) {
    SCOPED_TRACE(std::string(event.time));
    std::string entry = "<h3 class=\"layui-timeline-title\">" +
                        std::string(event.time.substr(0, 10)) + "&nbsp;&nbsp;" +
                        std::string(event.time.substr(11)) + "</h3>\r\n      <p>\r\n\t\t" +
                        std::string(event.text) + std::string(kEventEndMarker);
    size_t found = page.find(entry, at);
    ASSERT_NE(found, std::string::npos);
    // The next entry's title starts inside this entry's end marker.
    at = found + entry.size() - std::string_view("<h3 class=\"layui-timeline-title\">").size();
  }
  // Newest first, and exactly one timeline entry per event plus the closing one.
  size_t titles = 0;
  for (size_t p = page.find(kTitleMarker); p != std::string::npos;
       p = page.find(kTitleMarker, p + 1))
    ++titles;
  EXPECT_EQ(titles, events.size() + 1);
}

TEST(TrackingPage, IsACompleteGbkDocument) {
  const std::string page = RenderTrackingPage("SF1", {{"2025-03-12 16:42:10", kSigned}});
  EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_NE(page.find("<meta charset=\"gbk\">"), std::string::npos);
  EXPECT_LT(page.find("<meta charset=\"gbk\">"), 1024u);  // where a client looks for it
  EXPECT_NE(page.find("<ul class=\"layui-timeline\">"), std::string::npos);
  EXPECT_NE(page.find("<style>"), std::string::npos);
  EXPECT_EQ(page.find("<link"), std::string::npos);
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_NE(page.find("</html>"), std::string::npos);
}

TEST(TrackingPage, NothingBeforeTheNewestTitleLooksLikeAMarker) {
  const char* numbers[] = {"SF1",
                           "layui-timeline-title",
                           "\"layui-timeline-title\">",
                           "&nbsp;&nbsp;",
                           "a&nbsp;&nbsp;b</h3>",
                           "<script>alert(1)</script>",
                           "\xB2\xE2\xCA\xD4" /* "测试" */};
  for (const char* number : numbers) {
    SCOPED_TRACE(number);
    const std::string page = RenderTrackingPage(number, {{"2025-03-10 08:15:00", "Picked up"}});
    const std::string firstTitle = "<h3 class=\"layui-timeline-title\">2025-03-10&nbsp;";
    size_t title = page.find(firstTitle);
    ASSERT_NE(title, std::string::npos);
    const std::string before = page.substr(0, title);
    EXPECT_EQ(before.find("&nbsp;&nbsp;"), std::string::npos);
    EXPECT_EQ(before.find("layui-timeline-title"), std::string::npos);
    EXPECT_EQ(before.find("<script>"), std::string::npos);
    Cut cut = CutLatest(page);
    EXPECT_EQ(cut.date, "2025-03-10");
    EXPECT_EQ(cut.time, "08:15:00");
    EXPECT_EQ(cut.event, "Picked up");
  }
}

TEST(TrackingPage, EscapesEventTextAndNumber) {
  const std::string page =
      RenderTrackingPage("<i>\"1\"</i>", {{"2025-03-10 08:15:00", "<script>x('&')</script>"}});
  EXPECT_EQ(page.find("<script>"), std::string::npos);
  EXPECT_EQ(page.find("<i>\""), std::string::npos);
  EXPECT_NE(page.find("&lt;script&gt;x(&#39;&amp;&#39;)&lt;/script&gt;"), std::string::npos);

  EXPECT_EQ(EscapeHtml("a<b>&\"c'"), "a&lt;b&gt;&amp;&quot;c&#39;");
  // A trail byte in the ASCII range (0x5C here) stays with its lead byte.
  EXPECT_EQ(EscapeHtmlOpaque("\xD5\x5C"
                             "1a<"),
            "\xD5\x5C"
            "1&#97;&#60;");
}

TEST(TrackingPage, UnknownNumberPageHasNoEntry) {
  const std::string page = RenderNoTrackingPage("NOPE");
  EXPECT_NE(page.find(std::string(kNoTrackingInfo)), std::string::npos);
  EXPECT_EQ(page.find("class=\"layui-timeline"), std::string::npos);
  EXPECT_EQ(page.find("layui-timeline-title"), std::string::npos);
  EXPECT_EQ(page.find("&nbsp;"), std::string::npos);
  EXPECT_NE(page.find("<meta charset=\"gbk\">"), std::string::npos);
  Cut cut = CutLatest(page);
  EXPECT_EQ(cut.date + "  " + cut.time, "  ");
  EXPECT_EQ(cut.event, "");
  EXPECT_EQ(RenderTrackingPage("NOPE", {}), page);
}

TEST(TrackingPage, ErrorPageIsShortAndEscaped) {
  const std::string page = RenderErrorPage(400, "<bad>");
  EXPECT_LT(page.size(), 2048u);
  EXPECT_NE(page.find("400"), std::string::npos);
  EXPECT_NE(page.find("&lt;bad&gt;"), std::string::npos);
  EXPECT_EQ(page.find("layui-timeline-title"), std::string::npos);
}

}  // namespace
}  // namespace korvanel::endpoint
