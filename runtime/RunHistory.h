// The run history and the console transcript, as files of the data folder:
// History\YYYY-MM-DD.csv and Console.log.
#ifndef RUNHISTORY_H
#define RUNHISTORY_H

#include <windows.h>
#include <string>

#include "RunRecord.h"

// The local wall clock now, with its offset from UTC.
HistoryTime HistoryNow();
// A local time and the UTC time it stands for, as one history time.
HistoryTime HistoryTimeOf(const SYSTEMTIME &local, const SYSTEMTIME &utc);
// Texts of the system's code page as the files keep them (UTF-8).
std::string AnsiToUtf8(const std::string &text);

// Appends one record to the day's file, and deletes day files older than
// QM.HISTORY_DAYS when the day changes; nothing while QM.HISTORY is "off". A record that cannot be written is
// lost alone: the run goes on, and the failure is said once.
void RecordRun(const RunRecord &record);

// Appends one console line to Console.log (rotated at QM.TRANSCRIPT_KB).
void AppendTranscript(const std::string &text);

// The host's hook for failures worth an event-log entry; the runtime holds
// no event source of its own. Failures are told once per process.
enum HistoryEvent { HISTORY_UNWRITABLE = 1, TRANSCRIPT_UNWRITABLE = 2 };
void TellHistoryFailure(HistoryEvent event, const std::string &folder, DWORD error);

#endif
