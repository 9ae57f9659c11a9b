#include "CronSchedule.h"

#include "CronFields.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool NotGiven(const CronFields &fields, int index) { return !CronFieldGiven(fields, index); }

const int kMaxDigits = 15;

// The field as a plain decimal number from 0 to `highest`, of at most
// kMaxDigits digits like any number of a specification.
bool PlainNumber(const char *field, int highest, int &value) {
  if (!field || !IsDigit(field[0]))
    return false;
  long long number = 0;
  for (const char *p = field; *p != '\0'; ++p) {
    if (!IsDigit(*p) || p - field >= kMaxDigits)
      return false;
    number = number * 10 + (*p - '0');
    if (number > highest)
      return false;
  }
  value = static_cast<int>(number);
  return true;
}

} // namespace

bool CompileCronSpec(const char *spec, CronSchedule &schedule, bool *badFieldCount) {
  schedule.JobTime = 0;
  schedule.DaysOfMonth = 0;
  schedule.DaysOfWeek = 0;
  if (badFieldCount)
    *badFieldCount = false;
  if (!spec || spec[0] == '\0')
    return false;

  CronFields fields;
  SplitCronFields(spec, fields);
  if (fields.count < 5 || fields.count > kCronFieldCount) {
    if (badFieldCount)
      *badFieldCount = true;
    return false;
  }
  if (fields.field[kCronMonth][0] != '_' || !NotGiven(fields, kCronYear) || !NotGiven(fields, kCronDayOfYear))
    return false;

  int hour, minute, second = 0;
  if (!PlainNumber(fields.field[kCronMinute], 59, minute) || !PlainNumber(fields.field[kCronHour], 23, hour))
    return false;
  if (fields.count > kCronSecond && !PlainNumber(fields.field[kCronSecond], 59, second))
    return false;

  uint32_t daysOfMonth = 0;
  for (int day = 1; day <= 31; ++day)
    if (FieldMatches(fields.field[kCronDay], day, 1))
      daysOfMonth |= 1u << (day - 1);
  // Sunday is weekday 1 in a specification and the last bit of the schedule.
  uint32_t daysOfWeek = 0;
  for (int weekday = 1; weekday <= 7; ++weekday)
    if (FieldMatches(fields.field[kCronWeekday], weekday, 1))
      daysOfWeek |= weekday == 1 ? 0x40u : 1u << (weekday - 2);

  schedule.JobTime = static_cast<uint32_t>((hour * 3600 + minute * 60 + second) * 1000);
  schedule.DaysOfMonth = daysOfMonth;
  schedule.DaysOfWeek = static_cast<uint8_t>(daysOfWeek);
  return true;
}
