// CheckTime and DestroyCronContext: the portable cron logic with the local
// clock and the latches kept in the process environment.
#include "Core.h"
#include "CoreCron.h"

#include <stdio.h>
#include <string.h>
#include <set>
#include <string>
#include <vector>

#include "CoreModule.h"
#include "CoreText.h"
#include "CronDue.h"
#include "CronEvaluate.h"
#include "QuillmothRun.h"

CoreClock g_coreClock = SystemLocalClock;
const char kTimeErrorVariable[] = "QM.TIME_ERROR";
const char kTimeErrorText[] = "Parameter error in time function";

namespace {

// A latch as read: its text cut to kCronLatchReadMax characters, and
// whether that is the whole value, so that an unchanged latch need not be
// written again.
struct LatchText {
  std::string text;
  bool whole;
};

// False when the variable does not exist. A latch is a short text: a small
// buffer on the stack serves, and only a value made longer by someone else
// is read into one of its size.
bool ReadLatch(const char *key, LatchText &latch) {
  char small[2 * kCronLatchTextSize];
  SetLastError(ERROR_SUCCESS);
  DWORD length = GetEnvironmentVariableA(key, small, sizeof small);
  if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND)
    return false;
  const char *value = small;
  std::vector<char> large;
  if (length >= sizeof small) {
    large.assign(length + 1, '\0');
    DWORD again = GetEnvironmentVariableA(key, large.data(), length + 1);
    if (again > length)
      large[0] = '\0'; // grew meanwhile: read as empty
    value = large.data();
  }
  size_t size = strlen(value);
  latch.whole = size <= kCronLatchReadMax;
  latch.text.assign(value, latch.whole ? size : kCronLatchReadMax);
  return true;
}

// Writes the latch unless the variable already holds exactly its text:
// most checks change nothing, and the environment is rebuilt on every write.
void WriteLatch(const char *key, const CronLatch &latch, const LatchText *old) {
  char text[kCronLatchTextSize];
  if (!CronFormatLatch(latch, text, sizeof text))
    return;
  if (old && old->whole && old->text == text)
    return;
  SetEnvironmentVariableA(key, text);
}

void FormatLatchKey(char *key, size_t size, DWORD threadId, long id) {
  snprintf(key, size, "cron:%lu:%ld", static_cast<unsigned long>(threadId), id);
}

} // namespace

// The system time shifted by the zone's present bias: the local time now.
// (SystemTimeToTzSpecificLocalTime with no zone reads the zone's rules anew
// on every call, which costs more than all the rest of a check.)
bool SystemLocalClock(SYSTEMTIME *now) {
  FILETIME utc, local;
  GetSystemTimeAsFileTime(&utc);
  return FileTimeToLocalFileTime(&utc, &local) && FileTimeToSystemTime(&local, now);
}

std::string CronLatchKey(DWORD threadId, long id) {
  char key[48];
  FormatLatchKey(key, sizeof key, threadId, id);
  return key;
}

long RemoveCronLatches(DWORD threadId, long first, long last) {
  if (first > last)
    return 0;
  // The environment is walked once instead of trying every id of the range:
  // a range as wide as all 32-bit ids ends as quickly as a small one.
  char prefix[32];
  int prefixLength = snprintf(prefix, sizeof prefix, "cron:%lu:", static_cast<unsigned long>(threadId));
  std::vector<std::string> names;
  char *block = GetEnvironmentStringsA();
  if (!block)
    return 0;
  for (const char *entry = block; *entry; entry += strlen(entry) + 1) {
    const char *equals = strchr(entry + 1, '=');
    if (!equals || equals - entry <= prefixLength || _strnicmp(entry, prefix, prefixLength) != 0)
      continue;
    std::string idText(entry + prefixLength, equals);
    char *end = nullptr;
    long long id = _strtoi64(idText.c_str(), &end, 10);
    if (*end != '\0' || id < first || id > last)
      continue;
    // Only the key CheckTime would build for this id ("%d"): no sign or
    // leading zeros of another spelling.
    if (CronLatchKey(threadId, static_cast<long>(id)) != std::string(entry, equals))
      continue;
    names.emplace_back(entry, equals);
  }
  FreeEnvironmentStringsA(block);
  long removed = 0;
  for (const std::string &name : names)
    if (SetEnvironmentVariableA(name.c_str(), NULL))
      ++removed;
  return removed;
}

// A field such as "*5" matches every value, as "*" does; it is most likely
// a step written wrong, so the script is told once (per worker thread and
// specification) which field is read so. The record of what was told is
// the process's, under a lock: a thread_local object with a destructor
// would run code of this library at a thread's end, after COM may have
// unloaded it.
namespace {

CRITICAL_SECTION g_toldLock;
INIT_ONCE g_toldLockMade = INIT_ONCE_STATIC_INIT;
std::set<std::string> *g_told = nullptr;
const size_t kToldMax = 4096; // forgotten beyond this: told again, never unbounded

BOOL CALLBACK MakeToldLock(PINIT_ONCE, PVOID, PVOID *) {
  InitializeCriticalSection(&g_toldLock);
  return TRUE;
}

bool FirstTelling(const std::string &key) {
  InitOnceExecuteOnce(&g_toldLockMade, MakeToldLock, nullptr, nullptr);
  EnterCriticalSection(&g_toldLock);
  bool first = false;
  try {
    if (!g_told)
      g_told = new std::set<std::string>();
    if (g_told->size() >= kToldMax)
      g_told->clear();
    first = g_told->insert(key).second;
  } catch (...) {
  }
  LeaveCriticalSection(&g_toldLock);
  return first;
}

void TellStarWithText(const CronFields &fields, const char *spec) {
  static const char *const kFieldNames[kCronFieldCount] = {"minute", "hour", "day", "month",
                                                           "weekday", "year", "day of year", "second"};
  for (int i = 0; i < kCronFieldCount; ++i) {
    if (!CronFieldGiven(fields, i) || !CronStarIgnoresText(fields.field[i]))
      continue;
    if (!FirstTelling(std::to_string(GetCurrentThreadId()) + ":" + std::to_string(i) + ":" + spec))
      continue;
    QMR_NotifyMessage(0, "CheckTime: the %s field \"%s\" of \"%s\" matches every value, as \"*\" does (a step is written */n)",
                      kFieldNames[i], fields.field[i], spec);
  }
}

} // namespace

HRESULT CCore::CheckTime(short id, VARIANT_BOOL bReset, BSTR cron, long *pVal) {
  return CoreGuarded("CheckTime", [&]() -> HRESULT {
    if (!pVal)
      return E_POINTER;
    *pVal = kFalse;
    if (!cron)
      return S_FALSE;
    TextArg<kShortTextBuffer> spec; // at most 255 bytes; the rest is cut off
    if (!spec.Convert(cron, kRequiredText))
      return S_FALSE;

    SYSTEMTIME local;
    if (!g_coreClock || !g_coreClock(&local)) {
      // No reading to compare: nothing matches and no latch changes.
      SetEnvironmentVariableA(kTimeErrorVariable, kTimeErrorText);
      CORE_DEBUG("CheckTime", "%s", kTimeErrorText);
      return S_FALSE;
    }
    CronTime now = CronTimeFromCalendar(local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute,
                                        local.wSecond);

    char key[48];
    FormatLatchKey(key, sizeof key, GetCurrentThreadId(), id);
    LatchText read;
    if (!ReadLatch(key, read) || bReset == VARIANT_TRUE) {
      WriteLatch(key, CronFreshLatch(now), NULL);
      if (!ReadLatch(key, read)) {
        read.text.clear();
        read.whole = false;
      }
    }
    CronLatch latch = CronParseLatch(read.text.c_str());

    CronFields fields;
    SplitCronFields(spec.text, fields);
    if (fields.count < 1 || fields.count > kCronFieldCount) {
      CORE_DEBUG("CheckTime", "Bad Cron format: (%s)", spec.text);
      return S_FALSE;
    }
    TellStarWithText(fields, spec.text);
    bool fired = CronEvaluateFields(fields, now, latch);
    WriteLatch(key, latch, &read);
    *pVal = fired ? kTrue : kFalse;
    return S_OK;
  });
}

HRESULT CCore::DestroyCronContext(long MinCronId, long MaxCronId, long *pVal) {
  return CoreGuarded("DestroyCronContext", [&]() -> HRESULT {
    if (!pVal)
      return E_POINTER;
    *pVal = RemoveCronLatches(GetCurrentThreadId(), MinCronId, MaxCronId);
    return S_OK;
  });
}

HRESULT CCore::CronLastDue(BSTR cron, BSTR after, BSTR now, BSTR *pVal) {
  return CoreGuarded("CronLastDue", [&]() -> HRESULT {
    if (!pVal)
      return E_POINTER;
    *pVal = nullptr;
    TextArg<kTextBuffer> spec;
    TextArg<32> from, to;
    CronTime first, last, due;
    char text[24] = "";
    bool taken = spec.Take("CronLastDue", "the specification", cron, kRequiredText) &&
                 from.Take("CronLastDue", "the first time", after, kRequiredText) &&
                 to.Take("CronLastDue", "the second time", now, kRequiredText);
    bool readable = taken && CronParseTime(from.text, &first) && CronParseTime(to.text, &last);
    if (taken && !readable)
      CoreNotifyText("CronLastDue", "the times are written YYYY-MM-DD HH:MM:SS");
    if (readable && ::CronLastDue(spec.text, first, last, &due))
      CronFormatTime(due, text, sizeof text);
    *pVal = NewAutomationText(text);
    return *pVal ? S_OK : E_OUTOFMEMORY;
  });
}
