// CheckTime and DestroyCronContext: the portable cron logic with the local
// clock and the latches kept in the process environment.
#include "Core.h"
#include "CoreCron.h"

#include <stdio.h>
#include <string.h>
#include <vector>

#include "CoreModule.h"
#include "CoreText.h"
#include "CronEvaluate.h"
#include "QuillmothRun.h"

CoreClock g_coreClock = SystemLocalClock;
const char kTimeErrorVariable[] = "QM.TIME_ERROR";
const char kTimeErrorText[] = "Parameter error in time function";

namespace {

// The environment's own limit for one value.
const DWORD kEnvironmentValueMax = 32767;

// The latch text, at most kCronLatchReadMax characters; false when the
// variable does not exist.
bool ReadLatch(const std::string &key, std::string &text) {
  std::vector<char> buffer(kEnvironmentValueMax + 1, '\0');
  SetLastError(ERROR_SUCCESS);
  DWORD length = GetEnvironmentVariableA(key.c_str(), buffer.data(), kEnvironmentValueMax + 1);
  if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND)
    return false;
  if (length > kEnvironmentValueMax)
    buffer[0] = '\0';
  text.assign(buffer.data());
  if (text.size() > kCronLatchReadMax)
    text.resize(kCronLatchReadMax);
  return true;
}

void WriteLatch(const std::string &key, const CronLatch &latch) {
  char text[kCronLatchTextSize];
  if (CronFormatLatch(latch, text, sizeof text))
    SetEnvironmentVariableA(key.c_str(), text);
}

} // namespace

bool SystemLocalClock(SYSTEMTIME *now) {
  SYSTEMTIME utc;
  GetSystemTime(&utc);
  return SystemTimeToTzSpecificLocalTime(NULL, &utc, now) != FALSE;
}

std::string CronLatchKey(DWORD threadId, long id) {
  char key[48];
  snprintf(key, sizeof key, "cron:%lu:%ld", static_cast<unsigned long>(threadId), id);
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

    std::string key = CronLatchKey(GetCurrentThreadId(), id);
    std::string text;
    if (!ReadLatch(key, text) || bReset == VARIANT_TRUE) {
      WriteLatch(key, CronFreshLatch(now));
      if (!ReadLatch(key, text))
        text.clear();
    }
    CronLatch latch = CronParseLatch(text.c_str());

    CronFields fields;
    SplitCronFields(spec.text, fields);
    if (fields.count < 1 || fields.count > kCronFieldCount) {
      CORE_DEBUG("CheckTime", "Bad Cron format: (%s)", spec.text);
      return S_FALSE;
    }
    bool fired = CronEvaluateFields(fields, now, latch);
    WriteLatch(key, latch);
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
