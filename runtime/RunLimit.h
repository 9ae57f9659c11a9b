// Time limits of synchronous script runs (Core's SetTimeLimit, then Run).
// A run past its limit gets the stop request (QMR_CTL_STOP, as the console's
// Stop sends it) and is recorded "timed out"; a run still going a grace
// later (as long as the limit, at most kRunLimitGraceMaxMs) is interrupted
// in its engine. The engine's interrupt can be replaced (QMR_SetRunInterrupt)
// so that tests can stand in for an engine that cannot interrupt (Wine's
// InterruptScriptThread is a stub that answers E_NOTIMPL).
#ifndef RUNLIMIT_H
#define RUNLIMIT_H

#include <windows.h>

struct MurrelContext;

const DWORD kRunLimitGraceMaxMs = 30000;

// Watches one synchronous run of the calling thread while it lasts, when the
// thread set a limit (QMR_SetRunLimit); afterwards QMR_LastRunOutcome tells
// how it ended.
class RunWatch {
public:
  RunWatch(MurrelContext *context, bool async);
  ~RunWatch();

private:
  RunWatch(const RunWatch &) = delete;
  RunWatch &operator=(const RunWatch &) = delete;
  static void CALLBACK OnLimit(PVOID watch, BOOLEAN);
  static void CALLBACK OnGrace(PVOID watch, BOOLEAN);

  MurrelContext *m_context;
  HANDLE m_limit, m_grace;
  volatile LONG m_timedOut;
};

#endif
