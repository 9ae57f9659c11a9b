// A network job as a task of Task Scheduler 2.0, without the platform: the
// task's name and number, the command split into program and arguments, the
// task definition (XML) made from the job's fields, and the fields read back
// from a task definition.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "JobSchedule.h"

// What the old scheduler keeps of a job, plus the first start of a job
// without days (its one-time trigger names a date).
struct TaskJobFields {
  uint32_t jobTime = 0; // milliseconds after midnight
  uint32_t daysOfMonth = 0;
  uint8_t daysOfWeek = 0; // bit 0 Monday ... bit 6 Sunday
  uint8_t flags = 0;      // only the non-interactive flag is kept
  JobClock start = {0, 0, 0, 0, 0, 0};
  std::wstring command;
};

// "At<n>" names our tasks; false for any other name (also "At0", "At01").
bool ParseTaskNumber(const std::wstring &name, uint32_t &number);
std::wstring TaskName(uint32_t number);
// The lowest number from 1 up that is not taken.
uint32_t LowestFreeNumber(const std::vector<uint32_t> &taken);

// The program is the first word: up to the closing quote when it begins
// with one, else up to the first blank or tab. The arguments are the rest
// of the line without the blanks that separate them.
void SplitCommandLine(const std::wstring &line, std::wstring &program, std::wstring &arguments);
std::wstring JoinCommandLine(const std::wstring &program, const std::wstring &arguments);

// When a job without days runs first: today at its time when that has not
// passed, else tomorrow; a job with days starts today at its time. False for
// a job time of a day or more, or a bad clock.
bool FirstStart(uint32_t jobTime, bool hasDays, const JobClock &now, JobClock &start);

// Whether the job still runs later today (at or after `now`).
bool RunsToday(const TaskJobFields &job, const JobClock &now);

// The task result of the last run: 0 and the scheduler's own status codes
// (has not run, running, ready...) are no failure.
bool LastRunFailed(long result);

// Where `text` first holds a character that XML 1.0 cannot carry, not even
// as a reference (a control character other than tab, line feed and
// carriage return, U+FFFE, U+FFFF, half a surrogate pair); npos for none.
size_t FirstCharacterXmlCannotHold(const std::wstring &text);

// How long after its start the trigger of a job without days ends; the task
// has expired then and the scheduler deletes it.
const uint32_t kOneTimeRunWindowSeconds = 300;

// The task definition: one-time trigger without days (deleted once it has
// expired), a weekly trigger for
// weekdays, a monthly one for days of the month (both when both are given),
// the command as one program action, the interactive token or the system
// account, and the fields again in the description (some schedulers keep no
// trigger or action they cannot run). The command must hold no character
// that XML cannot carry.
std::wstring TaskXml(const TaskJobFields &job);

// The fields of a definition: from its triggers, action and principal where
// it has them, else from the record in its description; the command as the
// record gives it while the action is still that command. False when neither
// gives a time and a command.
bool ReadTaskXml(const std::wstring &xml, TaskJobFields &job);
