// Whether a cron specification fires now, given the latch of its id.
#pragma once

#include "CronFields.h"
#include "CronLatch.h"
#include "CronTime.h"

// False for a null specification or one with fewer than 1 or more than 8
// fields (malformed: nothing fires, the latch is untouched). Otherwise true,
// with *fired telling whether the specification fires at `now`: every given
// field matches, and this is the first check in the time unit of its finest
// given field since the latch last fired. A firing stores the mask of the
// given fields and `now` in the latch.
bool CronEvaluate(const char *spec, const CronTime &now, CronLatch &latch, bool *fired);

// The same for a specification already split into 1 to 8 fields.
bool CronEvaluateFields(const CronFields &fields, const CronTime &now, CronLatch &latch);
