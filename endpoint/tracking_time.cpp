#include "endpoint/tracking_time.h"

namespace korvanel::endpoint {
namespace {

// The value of count digits at text[at], or -1 when one of them is not a digit.
int Digits(std::string_view text, size_t at, size_t count) {
  int value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

bool IsValidEventTime(std::string_view time) {
  if (time.size() != 19 || time[4] != '-' || time[7] != '-' || time[10] != ' ' || time[13] != ':' ||
      time[16] != ':')
    return false;
  int year = Digits(time, 0, 4);
  int month = Digits(time, 5, 2);
  int day = Digits(time, 8, 2);
  int hour = Digits(time, 11, 2);
  int minute = Digits(time, 14, 2);
  int second = Digits(time, 17, 2);
  if (year < 1 || month < 1 || month > 12 || day < 1 || hour < 0 || minute < 0 || second < 0)
    return false;
  return day <= DaysInMonth(year, month) && hour <= 23 && minute <= 59 && second <= 59;
}

}  // namespace korvanel::endpoint
