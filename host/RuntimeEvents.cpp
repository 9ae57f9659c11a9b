#include "RuntimeEvents.h"
#include "NTService.h"
#include "QuillmothRun.h"

#include "EventThrottle.h"

#include <string>

namespace {

// The last failed run, for the event of the stop that follows it; and the
// throttle of the failed-run events. Reports come from worker threads.
CRITICAL_SECTION g_lock;
INIT_ONCE g_lockMade = INIT_ONCE_STATIC_INIT;
std::string *g_lastScript = NULL, *g_lastError = NULL;
EventThrottle *g_throttle = NULL;

BOOL CALLBACK MakeLock(PINIT_ONCE, PVOID, PVOID *) {
  InitializeCriticalSection(&g_lock);
  return TRUE;
}

void Log(WORD type, DWORD id, const char *text1, const char *text2) {
  if (CNTService *service = CNTService::Instance())
    service->LogEvent(type, id, text1, text2);
}

} // namespace

void QMR_API OnRuntimeEvent(DWORD event, const char *text1, const char *text2) {
  InitOnceExecuteOnce(&g_lockMade, MakeLock, NULL, NULL);
  switch (event) {
  case QMR_EVENT_RUN_FAILED: {
    ThrottleAnswer answer = {false, 0};
    EnterCriticalSection(&g_lock);
    try {
      if (!g_lastScript) {
        g_lastScript = new std::string();
        g_lastError = new std::string();
        g_throttle = new EventThrottle();
      }
      *g_lastScript = text1;
      *g_lastError = text2;
      answer = g_throttle->Offer(text1, static_cast<long long>(GetTickCount64()));
    } catch (...) {
    }
    LeaveCriticalSection(&g_lock);
    if (!answer.send)
      break;
    std::string error = text2;
    if (answer.heldBack > 0)
      error += " (and " + std::to_string(answer.heldBack) + " more failures of this script not reported since)";
    Log(EVENTLOG_ERROR_TYPE, EVMSG_RUN_FAILED, text1, error.c_str());
    break;
  }
  case QMR_EVENT_HISTORY_UNWRITABLE:
    Log(EVENTLOG_ERROR_TYPE, EVMSG_HISTORY_UNWRITABLE, text1, text2);
    break;
  case QMR_EVENT_TRANSCRIPT_UNWRITABLE:
    Log(EVENTLOG_ERROR_TYPE, EVMSG_TRANSCRIPT_UNWRITABLE, text1, text2);
    break;
  }
}

void InstallRuntimeEventSink() {
  InitOnceExecuteOnce(&g_lockMade, MakeLock, NULL, NULL);
  QMR_SetEventSink(OnRuntimeEvent);
}

void ReportEngineStoppedByError() {
  InitOnceExecuteOnce(&g_lockMade, MakeLock, NULL, NULL);
  std::string script = "(unknown)", error = "(no error text)";
  EnterCriticalSection(&g_lock);
  if (g_lastScript) {
    script = *g_lastScript;
    error = *g_lastError;
  }
  LeaveCriticalSection(&g_lock);
  Log(EVENTLOG_ERROR_TYPE, EVMSG_ENGINE_STOPPED_BY_ERROR, script.c_str(), error.c_str());
}
