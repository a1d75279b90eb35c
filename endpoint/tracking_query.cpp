#include "endpoint/tracking_query.h"

#include "endpoint/event_store.h"
#include "endpoint/gbk.h"

namespace korvanel::endpoint {
namespace {

// "缺少单号 (yundanhao)"
constexpr std::string_view kMissingNumber = "\xC8\xB1\xC9\xD9\xB5\xA5\xBA\xC5 (yundanhao)";
// "单号超过64字节"
constexpr std::string_view kNumberTooLong =
    "\xB5\xA5\xBA\xC5\xB3\xAC\xB9\xFD"
    "64"
    "\xD7\xD6\xBD\xDA";
// "单号含有控制字符"
constexpr std::string_view kNumberHasControl =
    "\xB5\xA5\xBA\xC5\xBA\xAC\xD3\xD0\xBF\xD8\xD6\xC6\xD7\xD6\xB7\xFB";
// "type 只能是 html"
constexpr std::string_view kTypeMustBeHtml = "type \xD6\xBB\xC4\xDC\xCA\xC7 html";
// "参数重复"
constexpr std::string_view kRepeatedKey = "\xB2\xCE\xCA\xFD\xD6\xD8\xB8\xB4";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool HasNonAscii(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  return false;
}

TrackingQuery Invalid(std::string_view problem) {
  TrackingQuery query;
  query.problem = std::string(problem);
  return query;
}

}  // namespace

std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      int high = HexValue(text[i + 1]);
      int low = HexValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out += static_cast<char>(high * 16 + low);
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

TrackingQuery ParseTrackingQuery(std::string_view queryString) {
  std::string number;
  std::string type;
  int numberCount = 0;
  int typeCount = 0;
  size_t at = 0;
  while (at <= queryString.size()) {
    size_t end = queryString.find('&', at);
    if (end == std::string_view::npos) end = queryString.size();
    std::string_view pair = queryString.substr(at, end - at);
    at = end + 1;
    size_t equals = pair.find('=');
    std::string key = PercentDecode(pair.substr(0, equals));
    std::string_view value =
        equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1);
    if (key == "yundanhao") {
      ++numberCount;
      number = PercentDecode(value);
    } else if (key == "type") {
      ++typeCount;
      type = PercentDecode(value);
    }
  }
  if (numberCount > 1 || typeCount > 1) return Invalid(kRepeatedKey);
  if (number.empty()) return Invalid(kMissingNumber);
  // No form of a number of 64 bytes in code page 936 is longer than 96 bytes in UTF-8.
  if (number.size() > kMaxNumberBytes * 3 / 2) return Invalid(kNumberTooLong);
  for (char c : number) {
    auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) return Invalid(kNumberHasControl);
  }
  if (typeCount == 0 || type != "html") return Invalid(kTypeMustBeHtml);

  TrackingQuery query;
  query.valid = true;
  if (IsValidUtf8(number)) {
    if (auto gbk = Utf8ToGbk(number)) query.forms.push_back({number, *std::move(gbk)});
    // A few GBK byte pairs are also valid UTF-8; such a number may still be GBK.
    if (HasNonAscii(number))
      if (auto fromGbk = GbkToUtf8(number); fromGbk && *fromGbk != number)
        query.forms.push_back({*std::move(fromGbk), number});
  } else if (auto fromGbk = GbkToUtf8(number)) {
    query.forms.push_back({*std::move(fromGbk), number});
  }
  size_t length = query.forms.empty() ? number.size() : query.forms.front().gbk.size();
  if (length > kMaxNumberBytes) return Invalid(kNumberTooLong);
  return query;
}

}  // namespace korvanel::endpoint
