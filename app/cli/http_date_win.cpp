// Windows has no strptime: the date is read here as strptime reads "%a, %d %b %Y %H:%M:%S GMT".
#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

#include "app/cli/http_date.h"

namespace korvanel::cli {
namespace {

constexpr std::array<std::string_view, 7> kDays = {"sunday",   "monday", "tuesday", "wednesday",
                                                   "thursday", "friday", "saturday"};
constexpr std::array<std::string_view, 12> kMonths = {
    "january", "february", "march",     "april",   "may",      "june",
    "july",    "august",   "september", "october", "november", "december"};

class Reader {
 public:
  explicit Reader(std::string_view text) : m_text(text) {}

  void SkipSpaces() {
    while (!m_text.empty() && std::isspace(static_cast<unsigned char>(m_text.front()))) {
      m_text.remove_prefix(1);
    }
  }
  bool Literal(char c) {
    if (m_text.empty() || m_text.front() != c) return false;
    m_text.remove_prefix(1);
    return true;
  }
  // A full name or its first three letters, letter case ignored; its index, or -1.
  template <std::size_t N>
  int Name(const std::array<std::string_view, N>& names) {
    SkipSpaces();
    for (std::size_t i = 0; i < N; ++i) {
      for (const std::size_t length : {names[i].size(), std::size_t{3}}) {
        if (Matches(names[i].substr(0, length))) {
          m_text.remove_prefix(length);
          return static_cast<int>(i);
        }
      }
    }
    return -1;
  }
  // Up to digits digits, within [low, high]; -1 otherwise.
  long long Number(int digits, long long low, long long high) {
    SkipSpaces();
    long long value = 0;
    int count = 0;
    while (count < digits && !m_text.empty() && m_text.front() >= '0' && m_text.front() <= '9') {
      value = value * 10 + (m_text.front() - '0');
      m_text.remove_prefix(1);
      ++count;
    }
    return count > 0 && value >= low && value <= high ? value : -1;
  }
  bool AtEnd() const { return m_text.empty(); }

 private:
  bool Matches(std::string_view name) const {
    if (m_text.size() < name.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
      if (std::tolower(static_cast<unsigned char>(m_text[i])) != name[i]) return false;
    }
    return true;
  }
  std::string_view m_text;
};

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
long long DaysFromCivil(long long year, int month, int day) {
  year -= month <= 2;
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const long long yearOfEra = year - era * 400;
  const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

}  // namespace

std::optional<std::chrono::system_clock::time_point> ParseHttpDate(const std::string& text) {
  Reader reader(text);
  if (reader.Name(kDays) < 0 || !reader.Literal(',')) return std::nullopt;
  const long long day = reader.Number(2, 1, 31);
  const int month = reader.Name(kMonths);
  const long long year = reader.Number(4, 0, 9999);
  if (day < 0 || month < 0 || year < 0) return std::nullopt;
  const long long hour = reader.Number(2, 0, 23);
  if (hour < 0 || !reader.Literal(':')) return std::nullopt;
  const long long minute = reader.Number(2, 0, 59);
  if (minute < 0 || !reader.Literal(':')) return std::nullopt;
  const long long second = reader.Number(2, 0, 61);
  if (second < 0) return std::nullopt;
  reader.SkipSpaces();
  if (!reader.Literal('G') || !reader.Literal('M') || !reader.Literal('T')) return std::nullopt;
  if (!reader.AtEnd()) return std::nullopt;
  // Far dates are held short of where the clock's count would overflow; any wait that long
  // is cut to the longest Retry-After honoured anyway.
  constexpr long long kLatest = 7'000'000'000;
  const long long seconds =
      std::min(kLatest, DaysFromCivil(year, month + 1, static_cast<int>(day)) * 86400 +
                            hour * 3600 + minute * 60 + second);
  return std::chrono::system_clock::time_point(std::chrono::seconds(seconds));
}

}  // namespace korvanel::cli
