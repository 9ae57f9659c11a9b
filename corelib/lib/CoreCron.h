// CheckTime's view of the clock and its latches in the process environment.
#ifndef CORECRON_H
#define CORECRON_H

#include <windows.h>
#include <string>

// One reading of the local time; false when the clock cannot be converted to
// local time. Tests put their own reading here.
typedef bool (*CoreClock)(SYSTEMTIME *now);
extern CoreClock g_coreClock;
bool SystemLocalClock(SYSTEMTIME *now);

// Where CheckTime leaves its complaint about such a clock (not the
// last-error variable).
extern const char kTimeErrorVariable[];
extern const char kTimeErrorText[];

// "cron:<thread id>:<id>"
std::string CronLatchKey(DWORD threadId, long id);

// Removes the latches of the calling thread with ids from `first` to `last`;
// the number removed.
long RemoveCronLatches(DWORD threadId, long first, long last);

#endif
