// The pages the endpoint answers with, all complete HTML documents in code page 936.
//
// The desktop tool cuts the latest event out of a tracking page with fixed markers, so the
// timeline is written byte for byte in the shape those markers expect: each entry's title is
// kTitleMarker, the date, two non-breaking spaces, the time and "</h3>"; then
// kEventStartSuffix, the event text, and kEventEndMarker, which closes the entry and opens
// the next one up to the next title.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korvanel::endpoint {

using Text = std::string;  // code page 936 bytes

inline constexpr std::string_view kTitleMarker = "\"layui-timeline-title\">";
inline constexpr std::string_view kDateEnd = "&nbsp;";
inline constexpr std::string_view kTimeStart = "&nbsp;&nbsp;";
inline constexpr std::string_view kTimeEnd = "</h3>";
inline constexpr std::string_view kEventStartSuffix = "</h3>\r\n      <p>\r\n\t\t";
// 307 bytes: the end of an entry's paragraph through the start of the next entry's title.
extern const std::string_view kEventEndMarker;

// "暂无物流信息": shown for a number the database does not know.
inline constexpr std::string_view kNoTrackingInfo =
    "\xD4\xDD\xCE\xDE\xCE\xEF\xC1\xF7\xD0\xC5\xCF\xA2";

struct PageEvent {
  std::string_view time;  // "YYYY-MM-DD HH:MM:SS"
  std::string_view text;  // code page 936, not yet escaped
};

// The timeline of a known number, events newest first. A closing entry that marks the start
// of the record always follows the last event, so the oldest event's text is followed by
// kEventEndMarker like every other one.
Text RenderTrackingPage(std::string_view number, const std::vector<PageEvent>& events);
// The page for a number without events: no timeline entry, only kNoTrackingInfo.
Text RenderNoTrackingPage(std::string_view number);
// A short page for an answer other than 200; message is code page 936.
Text RenderErrorPage(int status, std::string_view message);

// & < > " ' as character references. Works byte by byte: in code page 936 a trail byte is
// never one of those five.
Text EscapeHtml(std::string_view text);
// Every ASCII byte but the digits as a numeric character reference, double-byte characters
// kept. Used for the number where it is echoed before the timeline, so that no number, however
// chosen, can put a marker text ahead of the newest event's title.
Text EscapeHtmlOpaque(std::string_view text);

}  // namespace korvanel::endpoint
