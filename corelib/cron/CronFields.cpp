#include "CronFields.h"

namespace {

// A number has at most this many digits. A longer run names no value a
// field can hold; it ends the reading with no match rather than overflow.
const int kMaxDigits = 15;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSeparator(char c) { return c == ' ' || c == '\t'; }
bool IsWhiteSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Reads the digits at `p`; false for more than kMaxDigits of them.
bool ReadNumber(const char *&p, long long &number) {
  number = 0;
  int digits = 0;
  while (IsDigit(*p)) {
    if (++digits > kMaxDigits)
      return false;
    number = number * 10 + (*p - '0');
    ++p;
  }
  return true;
}

} // namespace

void SplitCronFields(const char *text, CronFields &fields) {
  fields.count = 0;
  for (int i = 0; i < kCronFieldCount; ++i)
    fields.field[i] = nullptr;
  fields.storage[0] = '\0';
  if (!text)
    return;

  int length = 0;
  while (length < kCronTextMax && text[length] != '\0')
    ++length;
  while (length > 0 && IsWhiteSpace(text[length - 1]))
    --length;

  // Fields never grow (quotes are dropped, each separator run leaves room
  // for a terminator), so the copy fits the storage.
  char *out = fields.storage;
  int i = 0;
  while (i < length) {
    while (i < length && IsSeparator(text[i]))
      ++i;
    if (i >= length)
      break;
    char *start = out;
    bool quoted = false;
    while (i < length && (quoted || !IsSeparator(text[i]))) {
      if (text[i] == '"')
        quoted = !quoted;
      else
        *out++ = text[i];
      ++i;
    }
    *out++ = '\0';
    if (fields.count < kCronFieldCount)
      fields.field[fields.count] = start;
    ++fields.count;
  }
}

bool CronFieldGiven(const CronFields &fields, int index) {
  if (index < 0 || index >= kCronFieldCount || index >= fields.count)
    return false;
  const char *field = fields.field[index];
  return field && field[0] != '_';
}

int CronFieldMask(const CronFields &fields) {
  int mask = 0;
  for (int i = 0; i < kCronFieldCount; ++i)
    if (CronFieldGiven(fields, i))
      mask |= 0x80 >> i;
  return mask;
}

namespace {

// A step "/n" at `p` (n of 1 and more); false when there is none there.
bool ReadStep(const char *&p, long long &step) {
  if (*p != '/')
    return false;
  const char *digits = p + 1;
  if (!IsDigit(*digits) || !ReadNumber(digits, step) || step < 1)
    return false;
  p = digits;
  return true;
}

bool OnStep(long long value, long long from, long long step) { return value >= from && (value - from) % step == 0; }

} // namespace

bool CronStarIgnoresText(const char *field) {
  if (!field || field[0] != '*' || field[1] == '\0')
    return false;
  const char *p = field + 1;
  long long step;
  return !(ReadStep(p, step) && *p == '\0');
}

int CronFieldFirst(int index) {
  return index == kCronDay || index == kCronMonth || index == kCronWeekday || index == kCronDayOfYear ? 1 : 0;
}

int FieldMatches(const char *field, int value, int first) {
  if (!field)
    return 0;
  if (field[0] == '*') {
    const char *p = field + 1;
    long long step;
    if (ReadStep(p, step) && *p == '\0')
      return OnStep(value, first, step) ? 1 : 0;
    return 2;
  }
  const char *p = field;
  for (;;) {
    long long low;
    if (!IsDigit(*p) || !ReadNumber(p, low))
      return 0;
    if (*p == '\0')
      return value == low ? 1 : 0;
    if (*p == ',') {
      if (value == low)
        return 1;
      ++p;
      continue;
    }
    if (*p != '-')
      return 0;
    ++p;
    long long high;
    if (!IsDigit(*p) || !ReadNumber(p, high))
      return 0;
    long long step = 1;
    if (*p == '/' && !ReadStep(p, step))
      return 0;
    if (low <= value && value <= high && OnStep(value, low, step))
      return 1;
    if (*p != ',')
      return 0;
    ++p;
  }
}
