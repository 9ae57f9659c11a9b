#include "CronTime.h"

namespace {

// The years a system clock can show.
const int kFirstYear = 1;
const int kLastYear = 30827;

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

int InRange(int value, int low, int high) { return value >= low && value <= high ? value : -1; }

// 1 = Sunday. Counts days from 1 January of year 1, a Monday.
int Weekday(int year, int dayOfYear) {
  long long y = year - 1;
  long long days = y * 365 + y / 4 - y / 100 + y / 400 + (dayOfYear - 1);
  return static_cast<int>((days + 1) % 7) + 1;
}

} // namespace

CronTime CronTimeFromCalendar(int year, int month, int day, int hour, int minute, int second) {
  CronTime t;
  t.year = InRange(year, kFirstYear, kLastYear);
  t.month = InRange(month, 1, 12);
  t.day = t.year > 0 && t.month > 0 ? InRange(day, 1, DaysInMonth(t.year, t.month)) : InRange(day, 1, 31);
  t.hour = InRange(hour, 0, 23);
  t.minute = InRange(minute, 0, 59);
  t.second = InRange(second, 0, 59);
  t.dayOfYear = -1;
  t.weekday = -1;
  if (t.year > 0 && t.month > 0 && t.day > 0) {
    int dayOfYear = t.day;
    for (int m = 1; m < t.month; ++m)
      dayOfYear += DaysInMonth(t.year, m);
    t.dayOfYear = dayOfYear;
    t.weekday = Weekday(t.year, dayOfYear);
  }
  return t;
}
