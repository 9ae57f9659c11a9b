// The latch of one cron id: the field mask of the specification that last
// fired and the time of that firing (or of the latch's creation). Stored as
// text: "%d %d %d %d %d %d %d %d %d", mask first, then the components in
// field order.
#pragma once

#include <cstddef>

#include "CronTime.h"

struct CronLatch {
  int mask;      // 0 in a fresh latch
  CronTime time;
};

// Room for the longest latch text with its terminator.
const size_t kCronLatchTextSize = 128;
// The latch text is read back with at most this many characters.
const size_t kCronLatchReadMax = 127;

// A fresh latch: no mask, the given time.
CronLatch CronFreshLatch(const CronTime &now);

// Writes the latch text. A buffer too small for it is left empty (when it
// has room for that) and the answer is false.
bool CronFormatLatch(const CronLatch &latch, char *buffer, size_t size);

// Reads the nine numbers from the first kCronLatchReadMax characters of the
// text. Reading stops at the first number that cannot be read (missing,
// malformed or out of range); it and all after it count as 0. A null text
// reads as all 0.
CronLatch CronParseLatch(const char *text);
