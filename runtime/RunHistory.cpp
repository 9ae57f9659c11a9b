#include "RunHistory.h"
#include "DataFolder.h"
#include "HistoryCsv.h"
#include "HistoryRetention.h"
#include "HistorySettings.h"
#include "QuillmothRun.h"
#include "RuntimeInternal.h"
#include "SharedAppend.h"
#include "SystemErrorText.h"
#include "TranscriptLine.h"
#include "TranscriptRotation.h"

#include <stdlib.h>
#include <vector>

namespace {

std::string ProcessVariable(const char *name) {
  char value[64];
  DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

} // namespace

HistoryTime HistoryTimeOf(const SYSTEMTIME &local, const SYSTEMTIME &utc) {
  FILETIME localFile, utcFile;
  SystemTimeToFileTime(&local, &localFile);
  SystemTimeToFileTime(&utc, &utcFile);
  ULARGE_INTEGER l, u;
  l.LowPart = localFile.dwLowDateTime;
  l.HighPart = localFile.dwHighDateTime;
  u.LowPart = utcFile.dwLowDateTime;
  u.HighPart = utcFile.dwHighDateTime;
  long long difference = static_cast<long long>(l.QuadPart) - static_cast<long long>(u.QuadPart);
  HistoryTime time = {};
  time.date = {local.wYear, local.wMonth, local.wDay};
  time.hour = local.wHour;
  time.minute = local.wMinute;
  time.second = local.wSecond;
  time.millisecond = local.wMilliseconds;
  // Whole minutes: offsets are, and the two times were taken together.
  time.offsetMinutes = static_cast<int>((difference + (difference < 0 ? -300000000LL : 300000000LL)) / 600000000LL);
  return time;
}

namespace {

volatile LONG g_told = 0;
std::string *g_sweptDay = NULL; // the day file last swept, under the sweep lock
CRITICAL_SECTION g_sweepLock;
INIT_ONCE g_sweepLockMade = INIT_ONCE_STATIC_INIT;

BOOL CALLBACK MakeSweepLock(PINIT_ONCE, PVOID, PVOID *) {
  InitializeCriticalSection(&g_sweepLock);
  return TRUE;
}

CRITICAL_SECTION *SweepLock() {
  InitOnceExecuteOnce(&g_sweepLockMade, MakeSweepLock, NULL, NULL);
  return &g_sweepLock;
}

void SweepOldDays(const std::string &folder, const HistoryDate &today) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "*.csv").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE)
    return;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      names.push_back(data.cFileName);
  } while (FindNextFileA(find, &data));
  FindClose(find);
  int keep = ParseHistoryKeepDays(ProcessVariable("QM.HISTORY_DAYS"));
  for (const std::string &name : HistoryFilesToDelete(names, today, keep))
    if (!DeleteFileA((folder + name).c_str()))
      QMR_DebugMessage(__LINE__, "RecordRun", "Can't delete old history file %s (error %lu)", name.c_str(),
                       GetLastError());
}

// Once a day per process: the first record of a new day sweeps.
void SweepWhenDayChanged(const std::string &folder, const std::string &dayFile, const HistoryDate &today) {
  CRITICAL_SECTION *lock = SweepLock();
  EnterCriticalSection(lock);
  bool sweep = false;
  try {
    if (!g_sweptDay)
      g_sweptDay = new std::string();
    sweep = *g_sweptDay != dayFile;
    if (sweep)
      *g_sweptDay = dayFile;
  } catch (...) {
  }
  LeaveCriticalSection(lock);
  if (sweep)
    SweepOldDays(folder, today);
}

void RotateTranscript(const std::string &path) {
  std::string folder = path.substr(0, path.find_last_of('\\') + 1);
  for (const RotationStep &step : TranscriptRotationPlan(kTranscriptName, kTranscriptOldFiles)) {
    std::string from = folder + step.from;
    if (GetFileAttributesA(from.c_str()) == INVALID_FILE_ATTRIBUTES)
      continue;
    if (step.to.empty())
      DeleteFileA(from.c_str());
    else
      MoveFileExA(from.c_str(), (folder + step.to).c_str(), MOVEFILE_REPLACE_EXISTING);
  }
}

} // namespace

HistoryTime HistoryNow() {
  SYSTEMTIME utc, local;
  GetSystemTime(&utc);
  if (!SystemTimeToTzSpecificLocalTime(NULL, &utc, &local))
    GetLocalTime(&local);
  return HistoryTimeOf(local, utc);
}

std::string AnsiToUtf8(const std::string &text) {
  if (text.empty())
    return text;
  int wide = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), NULL, 0);
  if (wide <= 0)
    return std::string();
  std::wstring buffer(static_cast<size_t>(wide), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &buffer[0], wide);
  int bytes = WideCharToMultiByte(CP_UTF8, 0, buffer.data(), wide, NULL, 0, NULL, NULL);
  if (bytes <= 0)
    return std::string();
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, buffer.data(), wide, &utf8[0], bytes, NULL, NULL);
  return utf8;
}

void TellHistoryFailure(HistoryEvent event, const std::string &folder, DWORD error) {
  if (InterlockedOr(&g_told, event) & event)
    return;
  const char *what = event == HISTORY_UNWRITABLE ? "run history" : "console transcript";
  std::string reason = SystemErrorText(error, LANG_USER_DEFAULT);
  QMR_NotifyMessage(0, "The %s cannot be written in %s: %s", what, folder.c_str(), reason.c_str());
  QMR_DebugMessage(__LINE__, "RunHistory", "The %s cannot be written in %s: %s", what, folder.c_str(),
                   reason.c_str());
  ReportRuntimeEvent(event == HISTORY_UNWRITABLE ? QMR_EVENT_HISTORY_UNWRITABLE : QMR_EVENT_TRANSCRIPT_UNWRITABLE,
                     folder.c_str(), reason.c_str());
}

void RecordRun(const RunRecord &record) {
  std::string folder = DataSubFolder("History");
  if (folder.empty()) {
    TellHistoryFailure(HISTORY_UNWRITABLE, DataFolder() + "History", GetLastError());
    return;
  }
  HistoryDate today = record.end.date;
  std::string dayFile = HistoryDayFileName(today);
  if (dayFile.empty())
    return;
  bool written = false;
  try {
    written = AppendShared(folder + dayFile, [&record](unsigned long long size, char last) {
      return HistoryAppendBytes(record, HistoryFileEndOf(size, last));
    });
  } catch (...) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  }
  if (!written) {
    TellHistoryFailure(HISTORY_UNWRITABLE, folder, GetLastError());
    return;
  }
  SweepWhenDayChanged(folder, dayFile, today);
}

void AppendTranscript(const std::string &text) {
  std::string folder = DataFolder();
  if (folder.empty())
    return;
  try {
    std::string line = TranscriptLine(HistoryNow(), AnsiToUtf8(text));
    unsigned long long limit =
        static_cast<unsigned long long>(ParseTranscriptLimitKiB(ProcessVariable("QM.TRANSCRIPT_KB"))) * 1024;
    if (!AppendSharedRotating(folder + kTranscriptName, line, limit, RotateTranscript))
      TellHistoryFailure(TRANSCRIPT_UNWRITABLE, folder, GetLastError());
  } catch (...) {
  }
}
