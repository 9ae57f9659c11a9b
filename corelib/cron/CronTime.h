// One reading of the local time, as the cron fields see it.
#pragma once

// A component that cannot be computed is -1.
struct CronTime {
  int minute;     // 0-59
  int hour;       // 0-23
  int day;        // day of the month, 1-31
  int month;      // 1-12
  int weekday;    // 1 = Sunday ... 7 = Saturday
  int year;
  int dayOfYear;  // 1 = 1 January ... 366
  int second;     // 0-59
};

// The components of a calendar date and time (Gregorian calendar), with the
// weekday and the day of the year worked out. Out-of-range values come back
// as -1, and so do the weekday and day of year of a date that does not exist.
CronTime CronTimeFromCalendar(int year, int month, int day, int hour, int minute, int second);
