#include "CronLatch.h"

#include <climits>
#include <cstdio>

namespace {

int *Slot(CronLatch &latch, int index) {
  switch (index) {
  case 0: return &latch.mask;
  case 1: return &latch.time.minute;
  case 2: return &latch.time.hour;
  case 3: return &latch.time.day;
  case 4: return &latch.time.month;
  case 5: return &latch.time.weekday;
  case 6: return &latch.time.year;
  case 7: return &latch.time.dayOfYear;
  default: return &latch.time.second;
  }
}

bool IsWhiteSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// A signed decimal number within `end`; false if there is none or it does
// not fit an int.
bool ReadInt(const char *&p, const char *end, int &value) {
  while (p < end && IsWhiteSpace(*p))
    ++p;
  bool negative = false;
  if (p < end && (*p == '-' || *p == '+')) {
    negative = *p == '-';
    ++p;
  }
  if (p >= end || *p < '0' || *p > '9')
    return false;
  long long number = 0;
  while (p < end && *p >= '0' && *p <= '9') {
    number = number * 10 + (*p - '0');
    if (number > static_cast<long long>(INT_MAX) + 1)
      return false;
    ++p;
  }
  if (negative)
    number = -number;
  if (number < INT_MIN || number > INT_MAX)
    return false;
  value = static_cast<int>(number);
  return true;
}

} // namespace

CronLatch CronFreshLatch(const CronTime &now) {
  CronLatch latch;
  latch.mask = 0;
  latch.time = now;
  return latch;
}

bool CronFormatLatch(const CronLatch &latch, char *buffer, size_t size) {
  if (!buffer || size == 0)
    return false;
  const CronTime &t = latch.time;
  int length = snprintf(buffer, size, "%d %d %d %d %d %d %d %d %d", latch.mask, t.minute, t.hour, t.day, t.month,
                        t.weekday, t.year, t.dayOfYear, t.second);
  if (length < 0 || static_cast<size_t>(length) >= size) {
    buffer[0] = '\0';
    return false;
  }
  return true;
}

CronLatch CronParseLatch(const char *text) {
  CronLatch latch;
  for (int i = 0; i < 9; ++i)
    *Slot(latch, i) = 0;
  if (!text)
    return latch;
  const char *end = text;
  while (static_cast<size_t>(end - text) < kCronLatchReadMax && *end != '\0')
    ++end;
  const char *p = text;
  for (int i = 0; i < 9; ++i) {
    int value;
    if (!ReadInt(p, end, value))
      break;
    *Slot(latch, i) = value;
  }
  return latch;
}
