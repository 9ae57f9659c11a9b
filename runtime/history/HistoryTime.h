// Local times as the run history and the transcript write them: the
// machine's wall clock with its offset from UTC, so that a reader in another
// zone, or after a change to or from daylight saving time, still knows the
// instant a run started.
#pragma once

#include <string>

struct HistoryDate {
  int year;  // 1601-9999, the range of a Windows SYSTEMTIME
  int month; // 1-12
  int day;   // 1-31
};

struct HistoryTime {
  HistoryDate date;
  int hour;          // 0-23
  int minute;        // 0-59
  int second;        // 0-59
  int millisecond;   // 0-999
  int offsetMinutes; // local time minus UTC, -14:00 to +14:00 (+60 for 01:00 ahead of UTC)
};

bool IsValidDate(const HistoryDate &date);
bool IsValidTime(const HistoryTime &time);

// Days since 1 January 1601 of a valid date; dates are compared and counted
// with it, so month ends, year ends and leap days need no rules of their own.
long long DayNumber(const HistoryDate &date);

// "2026-12-09", or "" for an invalid date.
std::string FormatHistoryDate(const HistoryDate &date);
// Exactly that form of a valid date; false for anything else.
bool ParseHistoryDate(const std::string &text, HistoryDate &date);

// "2026-12-09 20:21:05.123 +01:00", or "" for an invalid time. Every part
// has a fixed width, so the texts of one offset sort as their times do.
std::string FormatHistoryTime(const HistoryTime &time);
// Exactly that form of a valid time; false for anything else.
bool ParseHistoryTime(const std::string &text, HistoryTime &time);
