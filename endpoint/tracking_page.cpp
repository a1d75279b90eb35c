#include "endpoint/tracking_page.h"

#include <cstdio>

namespace korvanel::endpoint {

// Lines 1 to 7, joined by CR LF: the paragraph's end after 90 spaces, the entry's end, and
// the next entry up to its title.
constexpr char kEventEndMarkerBytes[] =
    "                                             "  // 45 spaces
    "                                             "  // and 45 more
    "</p>\r\n"
    "    </div>\r\n"
    "  </li>\r\n"
    "    <li class=\"layui-timeline-item\">\r\n"
    "    <i class=\"layui-icon layui-timeline-axis\">&#xe63f;</i>\r\n"
    "    <div class=\"layui-timeline-content layui-text\">\r\n"
    "      <h3 class=\"layui-timeline-title\">";
static_assert(sizeof(kEventEndMarkerBytes) - 1 == 307);
const std::string_view kEventEndMarker(kEventEndMarkerBytes, sizeof(kEventEndMarkerBytes) - 1);

namespace {

// The first entry opens exactly as kEventEndMarker opens every later one (its lines 4 to 7).
constexpr std::string_view kFirstEntryOpening =
    "    <li class=\"layui-timeline-item\">\r\n"
    "    <i class=\"layui-icon layui-timeline-axis\">&#xe63f;</i>\r\n"
    "    <div class=\"layui-timeline-content layui-text\">\r\n"
    "      <h3 class=\"layui-timeline-title\">";

// "物流详情"
constexpr std::string_view kTrackingDetail = "\xCE\xEF\xC1\xF7\xCF\xEA\xC7\xE9";
// "单号"
constexpr std::string_view kWaybillNumber = "\xB5\xA5\xBA\xC5";
// "运单记录开始"
constexpr std::string_view kRecordStart = "\xD4\xCB\xB5\xA5\xBC\xC7\xC2\xBC\xBF\xAA\xCA\xBC";
// "以上为该单号的全部物流信息"
constexpr std::string_view kAllEventsAbove =
    "\xD2\xD4\xC9\xCF\xCE\xAA\xB8\xC3\xB5\xA5\xBA\xC5\xB5\xC4\xC8\xAB\xB2\xBF\xCE\xEF\xC1\xF7"
    "\xD0\xC5\xCF\xA2";

// The styles name the classes of the entries, the axis and the content, never the title's:
// nothing before the newest event's title may hold that class name. The axis glyph belongs
// to an icon font that is not shipped, so it is hidden and the dot is drawn instead.
constexpr std::string_view kStyle =
    "<style>\r\n"
    "body{margin:12px 16px;font:14px/1.6 \"Microsoft YaHei\",\"WenQuanYi Micro Hei\",SimSun,"
    "sans-serif;color:#333;background:#fff}\r\n"
    "h2{margin:0 0 14px;font-size:16px;font-weight:bold}\r\n"
    ".layui-timeline{list-style:none;margin:0;padding:0}\r\n"
    ".layui-timeline-item{position:relative;padding-bottom:14px}\r\n"
    ".layui-timeline-item:before{content:\"\";position:absolute;left:5px;top:6px;bottom:-6px;"
    "width:1px;background:#e2e2e2}\r\n"
    ".layui-timeline-item:last-child:before{display:none}\r\n"
    ".layui-timeline-axis{position:absolute;left:0;top:6px;width:11px;height:11px;"
    "box-sizing:border-box;border:2px solid #009688;border-radius:50%;background:#fff;"
    "font-size:0;font-style:normal;line-height:0}\r\n"
    ".layui-timeline-item:first-child .layui-timeline-axis{background:#009688}\r\n"
    ".layui-timeline-content{padding-left:26px}\r\n"
    ".layui-timeline-content h3{margin:0;font-size:14px;font-weight:bold;color:#555}\r\n"
    ".layui-timeline-item:first-child .layui-timeline-content{color:#009688}\r\n"
    ".layui-timeline-content p{margin:2px 0 0}\r\n"
    ".empty{padding:24px 0;color:#999;font-size:15px}\r\n"
    "</style>\r\n";

void AppendHead(Text& page, std::string_view title) {
  page += "<!DOCTYPE html>\r\n<html>\r\n<head>\r\n<meta charset=\"gbk\">\r\n";
  page += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\r\n";
  page += "<title>";
  page += title;
  page += "</title>\r\n";
  page += kStyle;
  page += "</head>\r\n<body>\r\n";
}

// The heading that names the number; the number is escaped opaquely, see EscapeHtmlOpaque.
Text NumberHeading(std::string_view number) {
  Text heading;
  heading += kWaybillNumber;
  heading += ' ';
  heading += EscapeHtmlOpaque(number);
  heading += ' ';
  heading += kTrackingDetail;
  return heading;
}

}  // namespace

Text EscapeHtml(std::string_view text) {
  Text out;
  out.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

Text EscapeHtmlOpaque(std::string_view text) {
  Text out;
  for (size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x81 && c <= 0xFE && i + 1 < text.size()) {
      out += text.substr(i, 2);
      ++i;
    } else if (c >= '0' && c <= '9') {
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      char reference[8];
      std::snprintf(reference, sizeof reference, "&#%d;", c);
      out += reference;
    } else {
      out += '?';  // control bytes and stray lead bytes show as a question mark
    }
  }
  return out;
}

Text RenderTrackingPage(std::string_view number, const std::vector<PageEvent>& events) {
  if (events.empty()) return RenderNoTrackingPage(number);
  const Text heading = NumberHeading(number);
  Text page;
  page.reserve(2048 + events.size() * 400);
  AppendHead(page, heading);
  page += "<h2>";
  page += heading;
  page += "</h2>\r\n";
  page += "<ul class=\"layui-timeline\">\r\n";
  page += kFirstEntryOpening;
  for (const PageEvent& event : events) {
    // The stored time is "YYYY-MM-DD HH:MM:SS": date, two non-breaking spaces, clock time.
    std::string_view time = event.time;
    size_t space = time.find(' ');
    std::string_view date = time.substr(0, space);
    std::string_view clock = space == std::string_view::npos ? "" : time.substr(space + 1);
    page += date;
    page += kTimeStart;
    page += clock;
    page += kEventStartSuffix;
    page += EscapeHtml(event.text);
    page += kEventEndMarker;
  }
  // The closing entry: it marks where the record starts and gives the oldest event its end
  // marker.
  page += kRecordStart;
  page += kEventStartSuffix;
  page += kAllEventsAbove;
  page += "\r\n      </p>\r\n    </div>\r\n  </li>\r\n</ul>\r\n</body>\r\n</html>\r\n";
  return page;
}

Text RenderNoTrackingPage(std::string_view number) {
  Text page;
  const Text heading = NumberHeading(number);
  AppendHead(page, heading);
  page += "<h2>";
  page += heading;
  page += "</h2>\r\n<p class=\"empty\">";
  page += kNoTrackingInfo;
  page += "</p>\r\n</body>\r\n</html>\r\n";
  return page;
}

Text RenderErrorPage(int status, std::string_view message) {
  Text page;
  char code[16];
  std::snprintf(code, sizeof code, "%d", status);
  AppendHead(page, code);
  page += "<h2>";
  page += code;
  page += "</h2>\r\n<p class=\"empty\">";
  page += EscapeHtml(message);
  page += "</p>\r\n</body>\r\n</html>\r\n";
  return page;
}

}  // namespace korvanel::endpoint
