// Due times of a specification between two readings of the clock, for jobs
// that catch up what passed while nothing checked.
#pragma once

#include "CronTime.h"

// The last time in (after, now] at which the specification fires when it is
// checked at every minute (every second when its second field is given),
// each check as CheckTime makes it, its latch primed by a check at `after`.
// False when none falls in that stretch, when the specification is
// malformed or when either time is not a valid calendar time. The stretch
// is cut to its last kCronDueScanMax checks.
bool CronLastDue(const char *spec, const CronTime &after, const CronTime &now, CronTime *due);

// The first such time in (after, until]: when the specification falls due
// next. The same limits, but a stretch past the bound loses its end.
bool CronNextDue(const char *spec, const CronTime &after, const CronTime &until, CronTime *due);

// The text "YYYY-MM-DD HH:MM:SS" as a time; false for any other text.
bool CronParseTime(const char *text, CronTime *time);
// The time as "YYYY-MM-DD HH:MM:SS" (20 bytes with the terminator).
void CronFormatTime(const CronTime &time, char *text, int size);

// 31 days of minutes.
const long long kCronDueScanMax = 31LL * 24 * 60;
