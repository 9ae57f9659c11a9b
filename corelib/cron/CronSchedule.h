// A cron specification as the schedule of a network job: one time of day on
// chosen days of the month and of the week.
#pragma once

#include <cstdint>

struct CronSchedule {
  uint32_t JobTime;      // milliseconds after midnight
  uint32_t DaysOfMonth;  // bit d-1 for day d, 1-31
  uint8_t DaysOfWeek;    // Monday 0x01 ... Saturday 0x20, Sunday 0x40
};

// Converts a specification "minute hour day _ weekday [_ [_ [second]]]".
// The month must be "_", year and day of year missing or "_", and minute,
// hour and second (if present) each a plain number in range: the job runs at
// one time of day, so a list or range there is refused rather than cut to its
// first number. On failure `schedule` is zeroed; *badFieldCount (if given)
// tells whether it was for fewer than 5 or more than 8 fields.
bool CompileCronSpec(const char *spec, CronSchedule &schedule, bool *badFieldCount = nullptr);
