#include "RunLimit.h"
#include "MurrelContext.h"
#include "QuillmothRun.h"
#include "RunTracking.h"
#include "ScriptObject.h"

#include <string>

namespace {

// Of the calling thread: the limit of its next synchronous runs, and the
// outcome of its last one. Plain values: nothing to destroy at a thread's
// end.
thread_local DWORD t_limitMs = 0;
thread_local char t_lastOutcome[40] = "";

QMR_RunInterrupt volatile g_interrupt = QMR_InterruptRun;

} // namespace

extern "C" HRESULT QMR_API QMR_InterruptRun(MurrelContext *context) {
  CScriptObject *script = context ? context->script : NULL;
  return script ? script->Interrupt() : E_UNEXPECTED;
}

extern "C" QMR_RunInterrupt QMR_API QMR_SetRunInterrupt(QMR_RunInterrupt interrupt) {
  QMR_RunInterrupt before = g_interrupt;
  g_interrupt = interrupt ? interrupt : QMR_InterruptRun;
  return before;
}

RunWatch::RunWatch(MurrelContext *context, bool async)
    : m_context(context), m_limit(NULL), m_grace(NULL), m_timedOut(0) {
  t_lastOutcome[0] = '\0';
  DWORD limit = t_limitMs;
  InterlockedExchange(&context->runLimitSeconds, async ? 0 : static_cast<LONG>(limit / 1000));
  if (async || limit == 0)
    return;
  DWORD grace = limit < kRunLimitGraceMaxMs ? limit : kRunLimitGraceMaxMs;
  if (!CreateTimerQueueTimer(&m_limit, NULL, OnLimit, this, limit, 0, WT_EXECUTEONLYONCE))
    m_limit = NULL;
  else if (!CreateTimerQueueTimer(&m_grace, NULL, OnGrace, this, limit + grace, 0, WT_EXECUTEONLYONCE))
    m_grace = NULL;
  if (!m_limit || !m_grace)
    QMR_NotifyMessage(0, "Run: the time limit cannot be watched (error %lu); the run has none",
                      static_cast<unsigned long>(GetLastError()));
}

RunWatch::~RunWatch() {
  // INVALID_HANDLE_VALUE: returns once a callback under way has ended, so
  // none outlives the run it watches.
  if (m_limit)
    DeleteTimerQueueTimer(NULL, m_limit, INVALID_HANDLE_VALUE);
  if (m_grace)
    DeleteTimerQueueTimer(NULL, m_grace, INVALID_HANDLE_VALUE);
  if (m_context->flags & QMR_FLAG_ASYNC)
    return;
  std::string outcome = TakeRunOutcome(m_context->threadId);
  lstrcpynA(t_lastOutcome, outcome.c_str(), sizeof t_lastOutcome);
}

void CALLBACK RunWatch::OnLimit(PVOID param, BOOLEAN) {
  RunWatch *watch = static_cast<RunWatch *>(param);
  if (!(watch->m_context->flags & QMR_FLAG_BUSY))
    return;
  InterlockedExchange(&watch->m_timedOut, 1);
  NoteTimedOut(watch->m_context->threadId);
  PostMessageA(watch->m_context->window, QMR_CTL_STOP, 0, 0);
}

void CALLBACK RunWatch::OnGrace(PVOID param, BOOLEAN) {
  RunWatch *watch = static_cast<RunWatch *>(param);
  if (!watch->m_timedOut || !(watch->m_context->flags & QMR_FLAG_BUSY))
    return;
  HRESULT hr = g_interrupt(watch->m_context);
  if (FAILED(hr))
    QMR_NotifyMessage(0, "Run: the script past its time limit cannot be interrupted (0x%08lX); it runs on",
                      static_cast<unsigned long>(hr));
}

extern "C" void QMR_API QMR_SetRunLimit(DWORD milliseconds) { t_limitMs = milliseconds; }

extern "C" BOOL QMR_API QMR_LastRunOutcome(char *text, DWORD size) {
  if (!text || size == 0)
    return FALSE;
  lstrcpynA(text, t_lastOutcome, static_cast<int>(size));
  return t_lastOutcome[0] != '\0';
}
