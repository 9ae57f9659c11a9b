#include "RunTracking.h"
#include "HistoryCsv.h"
#include "MurrelContext.h"
#include "QuillmothRun.h"
#include "RunHistory.h"
#include "RuntimeInternal.h"
#include "ScriptLanguage.h"
#include "ScriptObject.h"

#include <map>

namespace {

// Every run in progress, by worker thread, so that the program's end can
// record the runs it leaves behind.
struct Tracked {
  RunRecord record;
  std::string script, loadError; // as the system's code page has them
  ULONGLONG startTick;
  LONG stopGeneration;
  bool recorded;
  bool timedOut;
};

CRITICAL_SECTION g_lock;
INIT_ONCE g_lockMade = INIT_ONCE_STATIC_INIT;
std::map<unsigned long, Tracked> *g_runs = NULL;
// The outcome of each worker's last run, until its caller takes it.
std::map<unsigned long, std::string> *g_outcomes = NULL;
volatile LONG g_stopGeneration = 0;

BOOL CALLBACK MakeLock(PINIT_ONCE, PVOID, PVOID *) {
  InitializeCriticalSection(&g_lock);
  return TRUE;
}

class Locked {
public:
  Locked() {
    InitOnceExecuteOnce(&g_lockMade, MakeLock, NULL, NULL);
    EnterCriticalSection(&g_lock);
  }
  ~Locked() { LeaveCriticalSection(&g_lock); }
};

// Of each worker's coming run: the script's path and a load error, by
// thread, under the lock (no thread_local object with a destructor: it
// would run at every worker thread's end).
struct PendingLoads {
  std::string script;
  std::string loadError;
};
std::map<unsigned long, PendingLoads> *g_loads = NULL;

bool IsStandardLibrary(const std::string &name) {
  size_t slash = name.find_last_of("\\/");
  std::string file = slash == std::string::npos ? name : name.substr(slash + 1);
  return lstrcmpiA(file.c_str(), "StdLib.vbs") == 0 || lstrcmpiA(file.c_str(), "StdLib.js") == 0;
}

std::string WideToUtf8(const wchar_t *text, UINT length) {
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), NULL, 0, NULL, NULL);
  if (bytes <= 0)
    return std::string();
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &utf8[0], bytes, NULL, NULL);
  return utf8;
}

// The return value as its text (what VBScript's CStr gives), cut later by
// the record's rules; objects and arrays are named by their kind.
std::string ValueText(const VARIANT *value) {
  if (!value || V_VT(value) == VT_EMPTY)
    return std::string();
  if (V_VT(value) & VT_ARRAY)
    return "(array)";
  if (V_VT(value) == VT_DISPATCH || V_VT(value) == VT_UNKNOWN)
    return "(object)";
  VARIANT text;
  VariantInit(&text);
  std::string result;
  if (SUCCEEDED(VariantChangeType(&text, const_cast<VARIANT *>(value), VARIANT_ALPHABOOL, VT_BSTR)) &&
      V_BSTR(&text))
    result = WideToUtf8(V_BSTR(&text), SysStringLen(V_BSTR(&text)));
  VariantClear(&text);
  return result;
}

// Every failed run goes to the host (in the system's code page, as the
// event log takes it), which keeps the event log from flooding.
void TellFailure(const std::string &script, const std::string &error) {
  ReportRuntimeEvent(QMR_EVENT_RUN_FAILED, script.c_str(), error.c_str());
}

} // namespace

void NoteLoad(const std::string &name, const std::string &path, const std::string &error) {
  Locked lock;
  try {
    if (!g_loads)
      g_loads = new std::map<unsigned long, PendingLoads>();
    PendingLoads &loads = (*g_loads)[GetCurrentThreadId()];
    // The standard library is loaded first for every run: a new run begins.
    if (IsStandardLibrary(name))
      loads = PendingLoads();
    else
      loads.script = path.empty() ? name : path;
    if (!error.empty() && loads.loadError.empty())
      loads.loadError = error;
  } catch (...) {
  }
}

void NoteRunStart(MurrelContext *context, const std::string &argument) {
  PendingLoads loads;
  {
    Locked lock;
    if (g_loads) {
      auto found = g_loads->find(context->threadId);
      if (found != g_loads->end()) {
        loads = found->second;
        g_loads->erase(found);
      }
    }
  }
  try {
    Tracked run = {};
    run.record.start = HistoryNow();
    run.startTick = GetTickCount64();
    run.stopGeneration = g_stopGeneration;
    run.record.ran = AnsiToUtf8(loads.script);
    run.record.argument = argument == "\r" ? std::string() : AnsiToUtf8(argument);
    if (context->script) {
      run.record.language = context->script->Language();
      run.record.host = context->script->HostName();
    }
    if (run.record.language.empty())
      run.record.language = ScriptLanguageOf(loads.script);
    run.record.threadId = context->threadId;
    run.record.pooled = (context->flags & QMR_FLAG_POOLED) != 0;
    run.record.error = AnsiToUtf8(loads.loadError);
    run.script = loads.script;
    run.loadError = loads.loadError;
    run.record.outcome = loads.loadError.empty() ? RunOutcome::Returned : RunOutcome::LoadError;
    Locked lock;
    if (!g_runs)
      g_runs = new std::map<unsigned long, Tracked>();
    (*g_runs)[context->threadId] = run;
  } catch (...) {
  }
}

void NoteLateLoadError(MurrelContext *context, const std::string &error) {
  Locked lock;
  if (!g_runs)
    return;
  auto found = g_runs->find(context->threadId);
  if (found == g_runs->end() || !found->second.loadError.empty())
    return;
  try {
    found->second.loadError = error;
    found->second.record.error = AnsiToUtf8(error);
    found->second.record.outcome = RunOutcome::LoadError;
  } catch (...) {
  }
}

void NoteRunEnd(MurrelContext *context, bool succeeded, const std::string &errorText) {
  RunRecord record;
  std::string script, failure;
  {
    Locked lock;
    if (!g_runs)
      return;
    auto found = g_runs->find(context->threadId);
    if (found == g_runs->end())
      return;
    Tracked run = found->second;
    g_runs->erase(found);
    if (run.recorded)
      return;
    record = run.record;
    script = run.script;
    failure = run.loadError;
    record.durationMs = static_cast<long long>(GetTickCount64() - run.startTick);
    if (record.outcome != RunOutcome::LoadError) {
      if (run.timedOut) {
        record.outcome = RunOutcome::TimedOut;
        if (!succeeded)
          record.error = AnsiToUtf8(errorText);
      } else if (!succeeded) {
        record.outcome = RunOutcome::ScriptError;
        record.error = AnsiToUtf8(errorText);
        failure = errorText;
      } else if (g_stopGeneration != run.stopGeneration) {
        record.outcome = RunOutcome::Stopped;
      }
    }
  }
  record.end = HistoryNow();
  if (succeeded)
    record.returnValue = ValueText(context->returnValue);
  try {
    Locked lock;
    if (!g_outcomes)
      g_outcomes = new std::map<unsigned long, std::string>();
    (*g_outcomes)[context->threadId] = OutcomeText(record.outcome, record.exitCode);
  } catch (...) {
  }
  RecordRun(record);
  if (record.outcome == RunOutcome::ScriptError || record.outcome == RunOutcome::LoadError)
    TellFailure(script, failure);
}

void NoteStopRequest() { InterlockedIncrement(&g_stopGeneration); }

std::string TakeRunOutcome(unsigned long threadId) {
  Locked lock;
  std::string text;
  if (!g_outcomes)
    return text;
  auto found = g_outcomes->find(threadId);
  if (found != g_outcomes->end()) {
    text.swap(found->second);
    g_outcomes->erase(found);
  }
  return text;
}

void NoteTimedOut(unsigned long threadId) {
  Locked lock;
  if (!g_runs)
    return;
  auto found = g_runs->find(threadId);
  if (found != g_runs->end())
    found->second.timedOut = true;
}

void RecordStillRunning(unsigned long threadId) {
  RunRecord record;
  {
    Locked lock;
    if (!g_runs)
      return;
    auto found = g_runs->find(threadId);
    if (found == g_runs->end() || found->second.recorded)
      return;
    found->second.recorded = true;
    record = found->second.record;
    record.durationMs = static_cast<long long>(GetTickCount64() - found->second.startTick);
  }
  record.end = HistoryNow();
  record.outcome = RunOutcome::StillRunningAtShutdown;
  record.error.clear();
  RecordRun(record);
}
