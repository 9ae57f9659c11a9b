// The worker context: one per worker thread, passed around as an opaque
// handle. Created zero-filled by QMR_Create, freed by QMR_Destroy.
#ifndef MURRELCONTEXT_H
#define MURRELCONTEXT_H

#include <windows.h>
#include <oaidl.h>

class CScriptObject;

// Start-up handshake between QMR_Create and the new thread, so that a thread
// that starts after its creator gave up frees the context itself.
enum { WORKER_CREATED = 0, WORKER_STARTED = 1, WORKER_ABANDONED = 2 };

struct MurrelContext {
  DWORD threadId;
  HANDLE thread;
  HANDLE replyEvent;
  HWND window;
  ATOM classAtom;
  char className[32];
  volatile LONG flags;
  CScriptObject *script;
  VARIANT *returnValue;
  // Kept by the worker thread alone.
  bool comInitialized;
  volatile LONG startState;
  // Carried as lParam by every request QMR_Message posts: the thread's queue
  // is open to any program on the desktop, and a request without it is not
  // ours to obey.
  LPARAM requestKey;
  // The next run's argument when an atom cannot carry it (past 255
  // characters): a copy from malloc, handed to the worker with the run
  // request (atom 0) and freed by whoever takes it.
  char *volatile runArgument;
  // Who still uses the context: 1 for the pool from QMR_Create until
  // QMR_Destroy, and 1 for each wait in QMR_Message. A host handler run
  // inside such a wait may destroy the worker; the context is then freed by
  // whoever lets go last, and the wait ends as failed.
  volatile LONG holds;
  volatile LONG destroyed;
  // The time limit of the run about to start, in seconds (0: none), set by
  // the thread that waits for it and shown as WScript.Timeout.
  volatile LONG runLimitSeconds;
};

// The worker thread procedure.
unsigned __stdcall ThreadProc(void *context);

#endif
