#include "HistoryTime.h"

#include <cstdio>
#include <cstdlib>

namespace {

const int kMaxOffsetMinutes = 14 * 60;

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// `count` decimal digits at text[pos]; false unless all are digits.
bool ReadDigits(const std::string &text, size_t pos, size_t count, int &value) {
  if (pos + count > text.size())
    return false;
  value = 0;
  for (size_t i = pos; i < pos + count; ++i) {
    if (text[i] < '0' || text[i] > '9')
      return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

bool ReadDate(const std::string &text, HistoryDate &date) {
  return text.size() >= 10 && ReadDigits(text, 0, 4, date.year) && text[4] == '-' &&
         ReadDigits(text, 5, 2, date.month) && text[7] == '-' && ReadDigits(text, 8, 2, date.day) && IsValidDate(date);
}

} // namespace

bool IsValidDate(const HistoryDate &d) {
  return d.year >= 1601 && d.year <= 9999 && d.month >= 1 && d.month <= 12 && d.day >= 1 &&
         d.day <= DaysInMonth(d.year, d.month);
}

bool IsValidTime(const HistoryTime &t) {
  return IsValidDate(t.date) && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 && t.second >= 0 &&
         t.second <= 59 && t.millisecond >= 0 && t.millisecond <= 999 && t.offsetMinutes >= -kMaxOffsetMinutes &&
         t.offsetMinutes <= kMaxOffsetMinutes;
}

long long DayNumber(const HistoryDate &date) {
  // 1601 starts a 400-year cycle, so the leap years before `year` are
  // counted by whole divisions of the years since then.
  long long years = date.year - 1601;
  long long days = years * 365 + years / 4 - years / 100 + years / 400;
  for (int month = 1; month < date.month; ++month)
    days += DaysInMonth(date.year, month);
  return days + date.day - 1;
}

std::string FormatHistoryDate(const HistoryDate &date) {
  if (!IsValidDate(date))
    return std::string();
  char text[32];
  snprintf(text, sizeof text, "%04d-%02d-%02d", date.year, date.month, date.day);
  return text;
}

bool ParseHistoryDate(const std::string &text, HistoryDate &date) { return text.size() == 10 && ReadDate(text, date); }

std::string FormatHistoryTime(const HistoryTime &t) {
  if (!IsValidTime(t))
    return std::string();
  int offset = std::abs(t.offsetMinutes);
  char text[64];
  snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d %c%02d:%02d", t.date.year, t.date.month, t.date.day,
           t.hour, t.minute, t.second, t.millisecond, t.offsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
  return text;
}

bool ParseHistoryTime(const std::string &text, HistoryTime &t) {
  // "2026-12-09 20:21:05.123 +01:00"
  if (text.size() != 30 || !ReadDate(text, t.date) || text[10] != ' ' || text[13] != ':' || text[16] != ':' ||
      text[19] != '.' || text[23] != ' ' || (text[24] != '+' && text[24] != '-') || text[27] != ':')
    return false;
  int offsetHours, offsetMinutes;
  if (!ReadDigits(text, 11, 2, t.hour) || !ReadDigits(text, 14, 2, t.minute) || !ReadDigits(text, 17, 2, t.second) ||
      !ReadDigits(text, 20, 3, t.millisecond) || !ReadDigits(text, 25, 2, offsetHours) ||
      !ReadDigits(text, 28, 2, offsetMinutes) || offsetMinutes > 59)
    return false;
  t.offsetMinutes = offsetHours * 60 + offsetMinutes;
  if (text[24] == '-')
    t.offsetMinutes = -t.offsetMinutes;
  return IsValidTime(t);
}
