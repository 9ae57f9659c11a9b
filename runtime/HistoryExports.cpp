// The exports of the run history, the transcript and the event sink.
#include "DataFolder.h"
#include "QuillmothRun.h"
#include "RunHistory.h"
#include "RuntimeInternal.h"

#include <string.h>

namespace {

QMR_EventSink volatile g_sink = NULL;

HistoryTime LocalHistoryTime(const FILETIME &utc) {
  SYSTEMTIME utcTime, local;
  if (!FileTimeToSystemTime(&utc, &utcTime) || !SystemTimeToTzSpecificLocalTime(NULL, &utcTime, &local))
    return HistoryNow();
  return HistoryTimeOf(local, utcTime);
}

} // namespace

void ReportRuntimeEvent(DWORD event, const char *text1, const char *text2) {
  QMR_EventSink sink = g_sink;
  if (sink)
    sink(event, text1 ? text1 : "", text2 ? text2 : "");
}

extern "C" void QMR_API QMR_SetEventSink(QMR_EventSink sink) { g_sink = sink; }

extern "C" BOOL QMR_API QMR_GetDataFolder(char *path, DWORD size, BOOL toRead) {
  if (!path || size == 0)
    return FALSE;
  std::string folder = toRead ? DataFolderToRead() : DataFolder();
  if (folder.empty() || folder.size() >= size) {
    path[0] = '\0';
    return FALSE;
  }
  memcpy(path, folder.c_str(), folder.size() + 1);
  return TRUE;
}

extern "C" void QMR_API QMR_Transcript(const char *text) {
  if (text)
    AppendTranscript(text);
}

extern "C" void QMR_API QMR_RecordProgramRun(const char *commandLine, const FILETIME *startUtc, DWORD elapsedMs,
                                             DWORD exitCode, BOOL timedOut) {
  if (!commandLine || !startUtc)
    return;
  try {
    RunRecord record = {};
    record.start = LocalHistoryTime(*startUtc);
    record.end = HistoryNow();
    record.durationMs = elapsedMs;
    record.ran = AnsiToUtf8(commandLine);
    record.threadId = GetCurrentThreadId();
    record.outcome = timedOut ? RunOutcome::TimedOut : RunOutcome::ExitCode;
    record.exitCode = exitCode;
    RecordRun(record);
  } catch (...) {
  }
}

extern "C" void QMR_API QMR_RecordSkippedRun(const char *ran) {
  if (!ran)
    return;
  try {
    RunRecord record = {};
    record.start = HistoryNow();
    record.end = record.start;
    record.ran = AnsiToUtf8(ran);
    record.threadId = GetCurrentThreadId();
    record.outcome = RunOutcome::SkippedStillRunning;
    RecordRun(record);
  } catch (...) {
  }
}
