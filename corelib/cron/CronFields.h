// The fields of a cron specification and how one field matches a value.
//
// Up to eight fields, in this order: minute, hour, day, month, weekday
// (1 = Sunday), year, day of year, second. A field beginning with "_" and a
// field missing at the end are not given and take no part.
#pragma once

const int kCronFieldCount = 8;
// The longest text any caller converts a specification into; more is cut off.
const int kCronTextMax = 1023;

enum CronField {
  kCronMinute,
  kCronHour,
  kCronDay,
  kCronMonth,
  kCronWeekday,
  kCronYear,
  kCronDayOfYear,
  kCronSecond,
};

struct CronFields {
  int count;                         // fields found; may exceed 8 (malformed)
  const char *field[kCronFieldCount]; // the first eight, null where missing
  char storage[kCronTextMax + 1];
};

// Splits at runs of blanks and tabs after removing trailing white space; a
// double-quoted stretch stays within one field, without its quotes. Only the
// first kCronTextMax bytes of the text are read. A null text gives no field.
void SplitCronFields(const char *text, CronFields &fields);

// Present and not beginning with "_".
bool CronFieldGiven(const CronFields &fields, int index);

// The set of given fields: minute 0x80, hour 0x40 ... second 0x01.
int CronFieldMask(const CronFields &fields);

// 0: no match; 1: matched by a number, a range or a step; 2: matched by "*".
// A field is "*", a step "*/n", or a comma-separated list of decimal numbers,
// ranges "a-b" and stepped ranges "a-b/n", as cron users write them. A step
// counts from the field's first value (`first`: 0 for minutes, 1 for days):
// "*/15" of minutes is 0, 15, 30 and 45, "1-10/3" is 1, 4, 7 and 10. Any
// other text after "*" still matches every value (CronStarIgnoresText tells
// of it); anything else odd simply does not match.
int FieldMatches(const char *field, int value, int first = 0);

// True for a field that begins with "*" but is neither "*" nor a step
// "*/n": it matches every value and its caller should say so.
bool CronStarIgnoresText(const char *field);

// The first value of a field, where its steps count from.
int CronFieldFirst(int index);
