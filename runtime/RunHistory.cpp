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
// The day file this process appends to, kept open while the day lasts (an
// open per record costs more than the record), under its lock.
struct DayFile {
  std::string name;
  HANDLE file = INVALID_HANDLE_VALUE;
};
DayFile *g_day = NULL;
CRITICAL_SECTION g_dayLock;
INIT_ONCE g_dayLockMade = INIT_ONCE_STATIC_INIT;

BOOL CALLBACK MakeDayLock(PINIT_ONCE, PVOID, PVOID *) {
  InitializeCriticalSection(&g_dayLock);
  return TRUE;
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

// The offset from UTC changes on the hour at most: it is asked of the system
// (a costly call under load) once a minute, not for every record.
CRITICAL_SECTION g_offsetLock;
INIT_ONCE g_offsetLockMade = INIT_ONCE_STATIC_INIT;
ULONGLONG g_offsetMinute = 0; // the UTC minute the offset below was taken in, plus one
long long g_offset = 0;       // local minus UTC, in 100 ns

BOOL CALLBACK MakeOffsetLock(PINIT_ONCE, PVOID, PVOID *) {
  InitializeCriticalSection(&g_offsetLock);
  return TRUE;
}

long long Ticks(const FILETIME &time) {
  ULARGE_INTEGER value;
  value.LowPart = time.dwLowDateTime;
  value.HighPart = time.dwHighDateTime;
  return static_cast<long long>(value.QuadPart);
}

HistoryTime HistoryNow() {
  FILETIME utcFile;
  GetSystemTimeAsFileTime(&utcFile);
  long long utc = Ticks(utcFile);
  ULONGLONG minute = static_cast<ULONGLONG>(utc / 600000000LL) + 1;
  InitOnceExecuteOnce(&g_offsetLockMade, MakeOffsetLock, NULL, NULL);
  EnterCriticalSection(&g_offsetLock);
  if (g_offsetMinute != minute) {
    SYSTEMTIME utcTime, local;
    FileTimeToSystemTime(&utcFile, &utcTime);
    FILETIME localFile;
    if (SystemTimeToTzSpecificLocalTime(NULL, &utcTime, &local) && SystemTimeToFileTime(&local, &localFile)) {
      g_offset = Ticks(localFile) - utc;
      g_offsetMinute = minute;
    }
  }
  long long offset = g_offset;
  LeaveCriticalSection(&g_offsetLock);
  ULARGE_INTEGER localValue;
  localValue.QuadPart = static_cast<ULONGLONG>(utc + offset);
  FILETIME localFile = {localValue.LowPart, localValue.HighPart};
  SYSTEMTIME local, utcTime;
  FileTimeToSystemTime(&localFile, &local);
  FileTimeToSystemTime(&utcFile, &utcTime);
  return HistoryTimeOf(local, utcTime);
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
  if (lstrcmpiA(ProcessVariable("QM.HISTORY").c_str(), "off") == 0)
    return;
  std::string dayFile = HistoryDayFileName(record.end.date);
  if (dayFile.empty())
    return;
  InitOnceExecuteOnce(&g_dayLockMade, MakeDayLock, NULL, NULL);
  EnterCriticalSection(&g_dayLock);
  std::string folder, failedIn;
  DWORD error = ERROR_SUCCESS;
  bool newDay = false;
  try {
    if (!g_day)
      g_day = new DayFile();
    if (g_day->name != dayFile || g_day->file == INVALID_HANDLE_VALUE) {
      if (g_day->file != INVALID_HANDLE_VALUE)
        CloseHandle(g_day->file);
      g_day->file = INVALID_HANDLE_VALUE;
      g_day->name.clear();
      folder = DataSubFolder("History");
      if (folder.empty()) {
        failedIn = DataFolder() + "History";
        error = GetLastError();
      } else if ((g_day->file = OpenShared(folder + dayFile)) == INVALID_HANDLE_VALUE) {
        failedIn = folder;
        error = GetLastError();
      } else {
        g_day->name = dayFile;
        newDay = true;
      }
    }
    if (g_day->file != INVALID_HANDLE_VALUE &&
        !AppendSharedOpen(g_day->file, [&record](unsigned long long size, char last) {
          return HistoryAppendBytes(record, HistoryFileEndOf(size, last));
        })) {
      failedIn = DataFolder() + "History";
      error = GetLastError();
    }
  } catch (...) {
    error = ERROR_NOT_ENOUGH_MEMORY;
  }
  LeaveCriticalSection(&g_dayLock);
  if (error != ERROR_SUCCESS) {
    TellHistoryFailure(HISTORY_UNWRITABLE, failedIn, error);
    return;
  }
  // The first record of a day (in this process) sweeps out the old days.
  if (newDay)
    SweepOldDays(folder, record.end.date);
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
