#include "CronEvaluate.h"

namespace {

enum Component : unsigned {
  kMinute = 1u << kCronMinute,
  kHour = 1u << kCronHour,
  kDay = 1u << kCronDay,
  kMonth = 1u << kCronMonth,
  kWeekday = 1u << kCronWeekday,
  kYear = 1u << kCronYear,
  kDayOfYear = 1u << kCronDayOfYear,
  kSecond = 1u << kCronSecond,
};

// The components that tell one time unit of a given field from another: a
// given minute fires again only in another minute of another hour, day...
const unsigned kComparisonGroup[kCronFieldCount] = {
    kMinute | kHour | kDay | kMonth | kYear,
    kHour | kDay | kMonth | kYear,
    kDay | kMonth | kYear,
    kMonth | kYear,
    kWeekday | kDayOfYear | kYear,
    kYear,
    kDayOfYear | kYear,
    kSecond | kMinute | kHour | kDay | kMonth | kYear,
};

int ComponentOf(const CronTime &t, int index) {
  switch (index) {
  case kCronMinute: return t.minute;
  case kCronHour: return t.hour;
  case kCronDay: return t.day;
  case kCronMonth: return t.month;
  case kCronWeekday: return t.weekday;
  case kCronYear: return t.year;
  case kCronDayOfYear: return t.dayOfYear;
  default: return t.second;
  }
}

} // namespace

bool CronEvaluateFields(const CronFields &fields, const CronTime &now, CronLatch &latch) {
  for (int i = 0; i < kCronFieldCount; ++i)
    if (CronFieldGiven(fields, i) && FieldMatches(fields.field[i], ComponentOf(now, i), CronFieldFirst(i)) == 0)
      return false;
  int mask = CronFieldMask(fields);
  if (mask == 0)
    return false;

  bool fires = mask != latch.mask;
  unsigned compared = 0;
  for (int i = 0; i < kCronFieldCount; ++i)
    if (CronFieldGiven(fields, i))
      compared |= kComparisonGroup[i];
  for (int i = 0; i < kCronFieldCount && !fires; ++i)
    if ((compared & (1u << i)) && ComponentOf(now, i) != ComponentOf(latch.time, i))
      fires = true;
  if (fires) {
    latch.mask = mask;
    latch.time = now;
  }
  return fires;
}

bool CronEvaluate(const char *spec, const CronTime &now, CronLatch &latch, bool *fired) {
  if (fired)
    *fired = false;
  if (!spec)
    return false;
  CronFields fields;
  SplitCronFields(spec, fields);
  if (fields.count < 1 || fields.count > kCronFieldCount)
    return false;
  bool fires = CronEvaluateFields(fields, now, latch);
  if (fired)
    *fired = fires;
  return true;
}
