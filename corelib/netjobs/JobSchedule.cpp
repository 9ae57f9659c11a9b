#include "JobSchedule.h"

namespace {

const long long kSecondsPerDay = 86400;

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

long long FloorDiv(long long a, long long b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Days from 1 March of year 0 of the proleptic Gregorian calendar, counted in
// 400-year eras so that leap days fall at the end of each counted year.
long long DaysFromCivil(long long year, int month, int day) {
  year -= month <= 2;
  long long era = FloorDiv(year, 400);
  long long yearOfEra = year - era * 400;
  long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra;
}

const long long kAutomationEpoch = DaysFromCivil(1899, 12, 30);

// Monday 0 ... Sunday 6; day 0 (30 December 1899) was a Saturday.
int MondayFirstWeekday(long long dayNumber) { return static_cast<int>(((dayNumber + 5) % 7 + 7) % 7); }

bool ValidClock(const JobClock &c) {
  return c.year >= 1 && c.year <= 9999 && c.month >= 1 && c.month <= 12 && c.day >= 1 &&
         c.day <= DaysInMonth(c.year, c.month) && c.hour >= 0 && c.hour <= 23 && c.minute >= 0 &&
         c.minute <= 59 && c.second >= 0 && c.second <= 59;
}

// The first day, from today on, whose run at the job's time is not earlier
// than now and which `wanted` accepts. Looking `span` days ahead is enough:
// every day of the month comes round within two months, a weekday within a
// week (the job time may reach past midnight, which only brings runs
// closer to now).
template <typename Wanted>
bool FirstRun(long long today, long long nowSeconds, uint32_t jobSeconds, int span, Wanted wanted,
              long long &at) {
  for (int k = 0; k <= span; ++k) {
    long long day = today + k;
    long long candidate = day * kSecondsPerDay + jobSeconds;
    if (candidate >= nowSeconds && wanted(day)) {
      at = candidate;
      return true;
    }
  }
  return false;
}

} // namespace

bool ServerWallClock(const JobClock &utc, long minutesWest, JobClock &wall) {
  // Zones run from UTC-12 to UTC+14.
  if (minutesWest == -1 || minutesWest < -14 * 60 || minutesWest > 12 * 60 || !ValidClock(utc))
    return false;
  long long day = DaysFromCivil(utc.year, utc.month, utc.day);
  long long seconds = day * kSecondsPerDay + utc.hour * 3600 + utc.minute * 60 + utc.second - minutesWest * 60LL;
  long long wallDay = FloorDiv(seconds, kSecondsPerDay);
  long long ofDay = seconds - wallDay * kSecondsPerDay;
  wall = utc;
  JobCalendarDate(wallDay - kAutomationEpoch, wall.year, wall.month, wall.day);
  wall.hour = static_cast<int>(ofDay / 3600);
  wall.minute = static_cast<int>(ofDay / 60 % 60);
  wall.second = static_cast<int>(ofDay % 60);
  return ValidClock(wall);
}

uint8_t JobFlagsFor(long scriptFlags) { return (scriptFlags & 1) ? 0 : kJobNonInteractive; }

bool IsLocalServer(const char *server) {
  return !server || server[0] == '\0' || (server[0] == '.' && server[1] == '\0');
}

bool JobDayNumber(int year, int month, int day, long long &dayNumber) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
    return false;
  dayNumber = DaysFromCivil(year, month, day) - kAutomationEpoch;
  return true;
}

void JobCalendarDate(long long dayNumber, int &year, int &month, int &day) {
  long long z = dayNumber + kAutomationEpoch;
  long long era = FloorDiv(z, 146097);
  long long dayOfEra = z - era * 146097;
  long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  long long mp = (5 * dayOfYear + 2) / 153;
  day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yearOfEra + era * 400 + (month <= 2));
}

uint32_t JobTimeOfDay(const JobClock &clock) {
  return static_cast<uint32_t>((clock.hour * 3600 + clock.minute * 60 + clock.second) * 1000);
}

uint64_t JobStepTime(uint32_t base, uint32_t step) {
  return static_cast<uint64_t>(base) + static_cast<uint64_t>(step) * kJobStepMilliseconds;
}

bool FindNextRun(uint32_t jobTime, uint32_t daysOfMonth, uint8_t daysOfWeek, const JobClock &now, NextRun &run) {
  long long today;
  if (!ValidClock(now) || !JobDayNumber(now.year, now.month, now.day, today))
    return false;
  uint32_t jobSeconds = jobTime / 1000;
  long long nowSeconds = today * kSecondsPerDay + now.hour * 3600 + now.minute * 60 + now.second;

  long long byMonth = 0, byWeek = 0;
  bool inMonth = (daysOfMonth & 0x7FFFFFFFu) != 0 &&
                 FirstRun(today, nowSeconds, jobSeconds, 62, [&](long long day) {
                   int y, m, d;
                   JobCalendarDate(day, y, m, d);
                   return (daysOfMonth >> (d - 1)) & 1u;
                 }, byMonth);
  bool inWeek = (daysOfWeek & 0x7F) != 0 &&
                FirstRun(today, nowSeconds, jobSeconds, 7, [&](long long day) {
                  return (daysOfWeek >> MondayFirstWeekday(day)) & 1u;
                }, byWeek);

  if (!inMonth && !inWeek) {
    // A job without days runs once, at the next time of day; the text names
    // today even when that time has passed.
    run.form = NextRunForm::kTodayThenTime;
    run.day = today;
    run.seconds = jobSeconds;
    return true;
  }
  long long at = inMonth && inWeek ? (byWeek <= byMonth ? byWeek : byMonth) : (inWeek ? byWeek : byMonth);
  run.day = FloorDiv(at, kSecondsPerDay);
  run.seconds = static_cast<uint32_t>(at - run.day * kSecondsPerDay);
  // A date value at midnight shows only the date: write the time out.
  run.form = run.seconds == 0 ? NextRunForm::kDateThenTime : NextRunForm::kFull;
  return true;
}
