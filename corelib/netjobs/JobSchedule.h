// What a network job's schedule means, without the platform: the flags of a
// new job, the server argument, the start time of a job placed "now", and
// the next time a job will run.
#pragma once

#include <cstdint>

// Scheduler flags of a job entry.
const uint8_t kJobRunPeriodically = 0x01;
const uint8_t kJobExecError = 0x02;
const uint8_t kJobRunsToday = 0x04;
const uint8_t kJobNonInteractive = 0x10;

// A script's flags: only bit 0 (interactive) is read.
uint8_t JobFlagsFor(long scriptFlags);

// "." and the empty (or missing) text name the local computer.
bool IsLocalServer(const char *server);

// A calendar reading, as a clock shows it.
struct JobClock {
  int year, month, day, hour, minute, second;
};

// Days since 30 December 1899 (day 0 of the automation date), for a valid
// Gregorian date; false for a date that does not exist.
bool JobDayNumber(int year, int month, int day, long long &dayNumber);
void JobCalendarDate(long long dayNumber, int &year, int &month, int &day);

// A server's wall clock from its UTC reading and the offset its time-of-day
// answer gives (minutes west of UTC, so UTC+5:30 is -330). False for the
// answer's "undefined" (-1), an offset no zone has, or an invalid reading:
// the caller then has no offset of the server's own.
bool ServerWallClock(const JobClock &utc, long minutesWest, JobClock &wall);

// Milliseconds after midnight of a clock reading: the start of the first
// step of a job placed "now".
uint32_t JobTimeOfDay(const JobClock &clock);

// Job time of step k of the walk that places a job a little ahead of now.
const uint32_t kJobStepMilliseconds = 15000;
const uint32_t kJobMaxSteps = 120000;
uint64_t JobStepTime(uint32_t base, uint32_t step);

// How the next-run text is written.
enum class NextRunForm {
  kTodayThenTime, // no day found: today's date, a blank, the time of day
  kFull,          // the date and time of `day` + `seconds` as one value
  kDateThenTime,  // a run at midnight: the date, a blank, the time 00:00:00
};

struct NextRun {
  NextRunForm form;
  long long day;     // day number of the date shown
  uint32_t seconds;  // kFull/kDateThenTime: time of day; kTodayThenTime: JobTime / 1000
};

// The next run of a job with these fields at or after `now`. Each mask is
// searched on its own from today on, and the earlier hit wins. False when
// `now` is not a valid reading.
bool FindNextRun(uint32_t jobTime, uint32_t daysOfMonth, uint8_t daysOfWeek, const JobClock &now, NextRun &run);
