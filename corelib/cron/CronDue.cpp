#include "CronDue.h"

#include <stdio.h>

#include "CronEvaluate.h"

namespace {

// Days since 1 January of year 1 (day 0), and back.
long long DayNumber(int year, int month, int day) {
  static const int kBefore[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  long long y = year - 1;
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return y * 365 + y / 4 - y / 100 + y / 400 + kBefore[month - 1] + (month > 2 && leap ? 1 : 0) + day - 1;
}

long long Seconds(const CronTime &t) {
  return ((DayNumber(t.year, t.month, t.day) * 24 + t.hour) * 60 + t.minute) * 60 + t.second;
}

CronTime FromSeconds(long long seconds) {
  long long days = seconds / 86400;
  int rest = static_cast<int>(seconds % 86400);
  // The year by estimate, then corrected.
  int year = static_cast<int>(days / 366) + 1;
  while (DayNumber(year + 1, 1, 1) <= days)
    ++year;
  int month = 1;
  while (month < 12 && DayNumber(year, month + 1, 1) <= days)
    ++month;
  int day = static_cast<int>(days - DayNumber(year, month, 1)) + 1;
  return CronTimeFromCalendar(year, month, day, rest / 3600, rest / 60 % 60, rest % 60);
}

bool Valid(const CronTime &t) {
  return t.year > 0 && t.month > 0 && t.day > 0 && t.hour >= 0 && t.minute >= 0 && t.second >= 0;
}

// Every firing in (after, now] to `found`, in time order, until it answers
// false. A stretch past the bound loses its start, or its end when the first
// firings are wanted.
template <typename Found>
bool ScanDue(const char *spec, const CronTime &after, const CronTime &now, bool firstWanted, Found found) {
  if (!spec || !Valid(after) || !Valid(now))
    return false;
  CronFields fields;
  SplitCronFields(spec, fields);
  if (fields.count < 1 || fields.count > kCronFieldCount)
    return false;
  long long step = CronFieldGiven(fields, kCronSecond) ? 1 : 60;
  long long first = Seconds(after), last = Seconds(now);
  // Checks fall on whole steps, as a ticking schedule meets them.
  first -= first % step;
  last -= last % step;
  if (last <= first)
    return false;
  if ((last - first) / step > kCronDueScanMax) {
    if (firstWanted)
      last = first + kCronDueScanMax * step;
    else
      first = last - kCronDueScanMax * step;
  }
  CronLatch latch = {};
  CronEvaluateFields(fields, FromSeconds(first), latch);
  for (long long at = first + step; at <= last; at += step) {
    CronTime t = FromSeconds(at);
    if (CronEvaluateFields(fields, t, latch) && !found(t))
      break;
  }
  return true;
}

} // namespace

bool CronLastDue(const char *spec, const CronTime &after, const CronTime &now, CronTime *due) {
  bool any = false;
  return ScanDue(spec, after, now, false, [&](const CronTime &t) {
           *due = t;
           any = true;
           return true;
         }) &&
         any;
}

bool CronNextDue(const char *spec, const CronTime &after, const CronTime &until, CronTime *due) {
  bool any = false;
  return ScanDue(spec, after, until, true, [&](const CronTime &t) {
           *due = t;
           any = true;
           return false;
         }) &&
         any;
}

bool CronParseTime(const char *text, CronTime *time) {
  int year, month, day, hour, minute, second;
  char end;
  if (!text || sscanf(text, "%4d-%2d-%2d %2d:%2d:%2d%c", &year, &month, &day, &hour, &minute, &second, &end) != 6)
    return false;
  *time = CronTimeFromCalendar(year, month, day, hour, minute, second);
  return Valid(*time);
}

void CronFormatTime(const CronTime &time, char *text, int size) {
  snprintf(text, static_cast<size_t>(size), "%04d-%02d-%02d %02d:%02d:%02d", time.year, time.month, time.day,
           time.hour, time.minute, time.second);
}
