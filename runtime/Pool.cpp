// The runtime's exports for workers and the pool. The pool is the set of
// worker windows of this process; there is no other list of workers.
#define _CRT_RAND_S // rand_s is declared only on request
#include "LiveContexts.h"
#include "MurrelContext.h"
#include "RunLimit.h"
#include "QuillmothRun.h"
#include "RunTracking.h"
#include "RuntimeInternal.h"
#include "ScriptLanguage.h"
#include "SystemErrorText.h"
#include "WaitAnsweringSends.h"

#include <process.h>
#include <stdlib.h>
#include <string.h>

namespace {

const DWORD kStartWait = 10000;
const DWORD kRequestWait = 10000;
const UINT kProbeOnce = 1;
const UINT kProbePatiently = 80;
const DWORD kProbeAttemptMs = 250;
// What one pool operation may spend in all, however many workers fail to
// answer: the patience of one patient probe, and the wait of one request.
// Without a shared limit, a stop among hundreds of silent workers would
// wait for each in turn.
const DWORD kPatienceMs = (kProbePatiently + 1) * kProbeAttemptMs;
const DWORD kOperationWaitMs = kRequestWait;

CRITICAL_SECTION *g_poolLock = NULL;

std::string ErrorTextOf(DWORD code) {
  return SystemErrorText(code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT));
}

// Worker windows of other processes answer with addresses that mean
// nothing here: pool operations look at our own windows only.
bool IsOwnWorker(HWND window, UINT attempts) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  return process == GetCurrentProcessId() && IsSignalWnd(window, attempts);
}

MurrelContext *AskContext(HWND window) {
  DWORD_PTR reply = 0;
  if (!SendMessageTimeoutA(window, g_qmrMsg.handle, 0, 0, SMTO_ABORTIFHUNG, 250, &reply))
    return NULL;
  MurrelContext *context = reinterpret_cast<MurrelContext *>(reply);
  return IsLiveContext(context) ? context : NULL;
}

// Enters the pool lock while keeping the caller's queue moving (on a worker
// thread, its sent messages only); WM_QUIT stays queued for the caller's own
// loop.
void EnterPoolLock() {
  while (!TryEnterCriticalSection(g_poolLock)) {
    PumpWaitingMessages();
    WaitAnsweringSends(NULL, 1);
  }
}

// A key no other program can guess from the outside; never 0, the value a
// forger is most likely to post.
LPARAM NewRequestKey(const void *context) {
  unsigned int random[2] = {0, 0};
  rand_s(&random[0]);
  rand_s(&random[1]);
  UINT_PTR key = (static_cast<UINT_PTR>(random[0]) << 16 << 16) ^ random[1] ^
                 reinterpret_cast<UINT_PTR>(context) ^ GetTickCount();
  return static_cast<LPARAM>(key ? key : 1);
}

struct ClaimSearch {
  LONG asyncBit;
  MurrelContext *claimed;
};

// Only pooled workers are claimed: an unpooled worker that ended its run is
// about to be destroyed by the host.
bool Claimable(LONG flags) { return (flags & (QMR_FLAG_BUSY | QMR_FLAG_FLUSHED | QMR_FLAG_POOLED)) == QMR_FLAG_POOLED; }

// The context a window of this process keeps in its extra word, when it is
// one of ours; read directly, as the worker's own answer to QMR_HANDLE would
// give the same word.
MurrelContext *WindowContext(HWND window) {
  MurrelContext *context = reinterpret_cast<MurrelContext *>(GetWindowLongPtrA(window, 0));
  return IsLiveContext(context) ? context : NULL;
}

BOOL CALLBACK ClaimProc(HWND window, LPARAM param) {
  ClaimSearch *search = reinterpret_cast<ClaimSearch *>(param);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != GetCurrentProcessId())
    return TRUE;
  // Workers that can't be claimed are passed over before the probe: a busy
  // worker whose script does not read its messages would hold every search
  // up for the probe's whole time.
  MurrelContext *context = WindowContext(window);
  if (!context || !Claimable(context->flags) || !IsSignalWnd(window, kProbeOnce))
    return TRUE;
  for (;;) {
    LONG flags = context->flags;
    if (!Claimable(flags))
      return TRUE;
    LONG claimed = (flags & ~QMR_FLAG_ASYNC) | search->asyncBit | QMR_FLAG_BUSY;
    if (InterlockedCompareExchange(&context->flags, claimed, flags) == flags)
      break;
  }
  search->claimed = context;
  return FALSE;
}

MurrelContext *ClaimPooledWorker(DWORD flags) {
  if (!g_poolLock) {
    QMR_DebugMessage(__LINE__, "QMR_RunScript", "No pool lock (QMR_Own was not called); creating a new worker.");
    return NULL;
  }
  EnterPoolLock();
  ClaimSearch search = {static_cast<LONG>(flags & QMR_FLAG_ASYNC), NULL};
  for (int pass = 0; pass < 3; ++pass) {
    EnumWindows(ClaimProc, reinterpret_cast<LPARAM>(&search));
    if (search.claimed) {
      QMR_Message(search.claimed, g_qmrMsg.reset, 0, kRequestWait);
      break;
    }
    QMR_NotifyMessage(1, "RunScript: No thread found in the pool, retrying...");
    WaitAnsweringSends(NULL, 100);
  }
  LeaveCriticalSection(g_poolLock);
  return search.claimed;
}

// The longest text a global atom holds.
const size_t kAtomTextMax = 255;

bool SendAtom(MurrelContext *context, UINT message, const char *text, DWORD timeout) {
  ATOM atom = (text && *text) ? GlobalAddAtomA(text) : 0;
  return QMR_Message(context, message, atom, timeout) != FALSE;
}

// Milliseconds left until the deadline, 0 once it has passed.
DWORD Remaining(DWORD deadline) {
  LONG left = static_cast<LONG>(deadline - GetTickCount());
  return left > 0 ? static_cast<DWORD>(left) : 0;
}

template <typename Visit> struct WorkerVisit {
  UINT attempts;
  DWORD deadline; // of the patience shared by the whole enumeration
  Visit visit;
};

template <typename Visit> BOOL CALLBACK VisitProc(HWND window, LPARAM param) {
  WorkerVisit<Visit> *v = reinterpret_cast<WorkerVisit<Visit> *>(param);
  // Each worker gets the attempts the shared patience still allows; once it
  // is spent, one attempt only.
  UINT affordable = static_cast<UINT>(Remaining(v->deadline) / kProbeAttemptMs);
  if (!IsOwnWorker(window, affordable < v->attempts ? affordable : v->attempts))
    return TRUE;
  // Nothing thrown may cross the window manager's enumeration.
  try {
    return v->visit(window) ? TRUE : FALSE;
  } catch (...) {
    return TRUE;
  }
}

// Calls visit(window) for every responsive worker window of this process
// until it answers false.
template <typename Visit> void ForEachWorker(UINT attempts, Visit visit) {
  WorkerVisit<Visit> v = {attempts, GetTickCount() + kPatienceMs, visit};
  EnumWindows(VisitProc<Visit>, reinterpret_cast<LPARAM>(&v));
}

// Lets go of one hold; the last one frees the context and what it owns.
void ReleaseContext(MurrelContext *context) {
  if (InterlockedDecrement(&context->holds) != 0)
    return;
  CloseHandle(context->thread);
  CloseHandle(context->replyEvent);
  free(context->runArgument);
  free(context);
}

// Every worker window of this process gets the request without being asked
// anything first: a worker busy in its script answers no question, and it is
// the one that most needs the request (a stop above all); its queue keeps the
// message for the script's next look.
BOOL CALLBACK PostToWorkerProc(HWND window, LPARAM control) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  char className[16];
  if (process == GetCurrentProcessId() && GetClassNameA(window, className, sizeof className) &&
      strncmp(className, "WORKER:", 7) == 0)
    PostMessageA(window, static_cast<UINT>(control), 0, 0);
  return TRUE;
}

BOOL Broadcast(UINT control) {
  EnumWindows(PostToWorkerProc, static_cast<LPARAM>(control));
  return TRUE;
}

} // namespace

extern "C" MurrelContext *QMR_API QMR_Create(DWORD flags) {
  MurrelContext *context = static_cast<MurrelContext *>(calloc(1, sizeof(MurrelContext)));
  if (!context) {
    QMR_DebugMessage(__LINE__, "QMR_Create", "Cannot allocate context.");
    return NULL;
  }
  context->flags = static_cast<LONG>(flags);
  context->requestKey = NewRequestKey(context);
  unsigned threadId = 0;
  context->thread = reinterpret_cast<HANDLE>(
      _beginthreadex(NULL, 0, ThreadProc, context, CREATE_SUSPENDED, &threadId));
  context->threadId = threadId;
  context->replyEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
  if (!context->thread || !context->replyEvent) {
    if (context->thread) {
      TerminateThread(context->thread, 0xFFFFFFFF);
      CloseHandle(context->thread);
    }
    if (context->replyEvent)
      CloseHandle(context->replyEvent);
    QMR_DebugMessage(__LINE__, "QMR_Create", "Failed to create thread.");
    free(context);
    return NULL;
  }
  ResumeThread(context->thread);

  if (WaitAnsweringSends(context->replyEvent, kStartWait) != WAIT_OBJECT_0 &&
      InterlockedCompareExchange(&context->startState, WORKER_ABANDONED, WORKER_CREATED) ==
          WORKER_CREATED) {
    // The thread will find the context abandoned when it starts, and free it
    // and its event itself.
    QMR_DebugMessage(__LINE__, "QMR_Create", "Thread failed to start.");
    CloseHandle(context->thread);
    return NULL;
  }
  WaitAnsweringSends(context->replyEvent, INFINITE); // started just as we gave up
  context->holds = 1;
  RememberContext(context);
  PostToRelay(g_qmrMsg.thread, context->threadId, 1);
  ResetEvent(context->replyEvent);
  return context;
}

extern "C" BOOL QMR_API QMR_Destroy(MurrelContext *context) {
  // Only one caller gets past this: a second destroy finds it forgotten.
  if (!IsLiveContext(context) || !context->replyEvent || !ForgetContext(context))
    return FALSE;
  if (!PostThreadMessageA(context->threadId, WM_QUIT, 0, 0))
    QMR_DebugMessage(__LINE__, "QMR_Destroy", "PostThreadMessage failed with error \"%s\"",
                     ErrorTextOf(GetLastError()).c_str());
  if (WaitAnsweringSends(context->thread, kRequestWait) == WAIT_TIMEOUT) {
    QMR_DebugMessage(__LINE__, "QMR_Destroy", "TIMEOUT during shutdown, calling TerminateThread.");
    TerminateThread(context->thread, 0xFFFFFFFF);
    WaitAnsweringSends(context->thread, kRequestWait);
    // The thread's windows went with it; its class is ours to release.
    if (context->classAtom)
      UnregisterClassA(context->className, NULL);
  }
  PostToRelay(g_qmrMsg.thread, context->threadId, 0);
  // A wait on this worker further up the stack ends now, as failed.
  InterlockedExchange(&context->destroyed, 1);
  SetEvent(context->replyEvent);
  ReleaseContext(context);
  return TRUE;
}

extern "C" BOOL QMR_API QMR_Message(MurrelContext *context, UINT message, WPARAM wParam,
                                    DWORD timeout) {
  if (!HoldLiveContext(context))
    return FALSE;
  BOOL result = TRUE;
  if (!PostThreadMessageA(context->threadId, message, wParam, context->requestKey))
    QMR_DebugMessage(__LINE__, "QMR_Message", "PostThreadMessage failed with error \"%s\"",
                     ErrorTextOf(GetLastError()).c_str());
  if (timeout != 0 && WaitAnsweringSends(context->replyEvent, timeout) != WAIT_OBJECT_0) {
    QMR_DebugMessage(__LINE__, "QMR_Message", "Thread failed to respond to message %X", message);
    result = FALSE;
  }
  ResetEvent(context->replyEvent);
  if (context->destroyed)
    result = FALSE;
  ReleaseContext(context);
  return result;
}

extern "C" MurrelContext *QMR_API QMR_RunScript(DWORD flags, const char *script,
                                                const char *arguments, VARIANT *result) {
  bool pooled = (flags & QMR_FLAG_POOLED) != 0;
  bool async = (flags & QMR_FLAG_ASYNC) != 0;

  MurrelContext *context = pooled ? ClaimPooledWorker(flags) : NULL;
  if (!context) {
    QMR_NotifyMessage(1, "RunScript: Creating a new thread");
    context = QMR_Create(flags | QMR_FLAG_BUSY);
    if (!context)
      return NULL;
    if (!QMR_Message(context, g_qmrMsg.startup, 0, kRequestWait)) {
      QMR_Destroy(context);
      return NULL;
    }
  }
  if (!SendAtom(context, g_qmrMsg.load, StandardLibraryFor(script), kRequestWait) ||
      !SendAtom(context, g_qmrMsg.load, script, kRequestWait)) {
    QMR_Destroy(context);
    return NULL;
  }
  // An argument an atom can't hold (past 255 characters) goes along in the
  // context instead, with atom 0; an empty one is atom 0 alone.
  bool handedOver = false;
  if (arguments && strlen(arguments) > kAtomTextMax) {
    char *copy = _strdup(arguments);
    if (!copy) {
      QMR_NotifyMessage(0, "RunScript: Out of memory for the script's argument");
      QMR_Message(context, g_qmrMsg.shutdown, 0, kRequestWait);
      QMR_Destroy(context);
      return NULL;
    }
    free(InterlockedExchangePointer(reinterpret_cast<void *volatile *>(&context->runArgument), copy));
    handedOver = true;
  }
  bool sent;
  {
    RunWatch watch(context, async);
    sent = SendAtom(context, g_qmrMsg.run, handedOver ? NULL : arguments, async ? 0 : INFINITE);
  }
  if (!sent) {
    QMR_Message(context, g_qmrMsg.shutdown, 0, kRequestWait);
    QMR_Destroy(context);
    return NULL;
  }
  if (!async) {
    if (result)
      QMR_GetReturnValue(context, result);
    if (!pooled) {
      if (!QMR_Message(context, g_qmrMsg.shutdown, 0, kRequestWait)) {
        QMR_Destroy(context);
        return NULL;
      }
      QMR_Destroy(context);
      return reinterpret_cast<MurrelContext *>(static_cast<UINT_PTR>(QMR_DONE));
    }
  }
  return context;
}

extern "C" BOOL QMR_API QMR_GetReturnValue(MurrelContext *context, VARIANT *value) {
  if (!IsLiveContext(context) || !value)
    return FALSE;
  memset(value, 0, sizeof *value);
  if (context->returnValue) {
    *value = *context->returnValue; // ownership moves to the caller
    V_VT(context->returnValue) = VT_EMPTY;
    VariantClear(context->returnValue);
  }
  return TRUE;
}

extern "C" DWORD QMR_API QMR_GetFlags(MurrelContext *context) {
  return IsLiveContext(context) ? static_cast<DWORD>(context->flags) : 0;
}

extern "C" DWORD QMR_API QMR_SetFlags(MurrelContext *context, DWORD flags) {
  if (!IsLiveContext(context))
    return 0;
  InterlockedExchange(&context->flags, static_cast<LONG>(flags));
  return flags;
}

extern "C" BOOL QMR_API QMR_Own(void) {
  // A second call keeps the lock that exists rather than leaking it.
  if (!g_poolLock) {
    g_poolLock = static_cast<CRITICAL_SECTION *>(calloc(1, sizeof(CRITICAL_SECTION)));
    if (!g_poolLock)
      return FALSE;
    InitializeCriticalSection(g_poolLock);
  }
  return TRUE;
}

extern "C" BOOL QMR_API QMR_Disown(void) {
  if (g_poolLock) {
    DeleteCriticalSection(g_poolLock);
    free(g_poolLock);
    g_poolLock = NULL;
  }
  return TRUE;
}

extern "C" BOOL QMR_API QMR_Suspend(void) { return Broadcast(QMR_CTL_SUSPEND); }
extern "C" BOOL QMR_API QMR_Resume(void) { return Broadcast(QMR_CTL_RESUME); }
extern "C" BOOL QMR_API QMR_Stop(void) {
  NoteStopRequest();
  return Broadcast(QMR_CTL_STOP);
}
extern "C" BOOL QMR_API QMR_TimeChange(void) { return Broadcast(QMR_CTL_TIMECHANGE); }

extern "C" BOOL QMR_API QMR_QueryStoped(void) {
  bool stopped = true;
  ForEachWorker(kProbePatiently, [&stopped](HWND window) {
    MurrelContext *context = AskContext(window);
    if (!context || (context->flags & QMR_FLAG_BUSY)) {
      stopped = false;
      return false;
    }
    return true;
  });
  return stopped ? TRUE : FALSE;
}

extern "C" BOOL QMR_API QMR_FlushPool(void) {
  const DWORD deadline = GetTickCount() + kOperationWaitMs;
  ForEachWorker(kProbePatiently, [deadline](HWND window) {
    MurrelContext *context = AskContext(window);
    DWORD wait = Remaining(deadline);
    if (context && !QMR_Message(context, g_qmrMsg.emptyPool, 0, wait ? wait : 1)) {
      QMR_NotifyMessage(0, "Thread not responding...");
      QMR_DebugMessage(__LINE__, "MurrelQMRMessageProc", "Thread not responding...");
    }
    return true;
  });
  return TRUE;
}

extern "C" BOOL QMR_API QMR_WaitExit(void) {
  // The workers end side by side: one wait for all of them, not one each.
  const DWORD deadline = GetTickCount() + kOperationWaitMs;
  ForEachWorker(kProbePatiently, [deadline](HWND window) {
    MurrelContext *context = reinterpret_cast<MurrelContext *>(GetWindowLongPtrA(window, 0));
    if (!IsLiveContext(context))
      context = NULL;
    // Our own handle: the host may destroy this very worker (and close the
    // context's handle) while we pump its messages.
    HANDLE thread = NULL;
    if (!context || !context->thread ||
        !DuplicateHandle(GetCurrentProcess(), context->thread, GetCurrentProcess(), &thread,
                         SYNCHRONIZE, FALSE, 0)) {
      QMR_DebugMessage(__LINE__, "MurrelWaitExitProc", "GetMurrelThreadHandle failed");
      return true;
    }
    DWORD threadId = context->threadId;
    // Rounds of at most a second, pumping between them, until the end or
    // the shared deadline.
    DWORD wait, left;
    do {
      PumpWaitingMessages();
      left = Remaining(deadline);
      wait = WaitAnsweringSends(thread, left < 1000 ? left : 1000);
    } while (wait == WAIT_TIMEOUT && left > 0);
    CloseHandle(thread);
    if (wait == WAIT_TIMEOUT) {
      RecordStillRunning(threadId);
      QMR_NotifyMessage(0, "Timed out while waiting for murrels to shutdown");
      QMR_DebugMessage(__LINE__, "MurrelWaitExitProc", "WaitForSingleObject == WAIT_TIMEOUT");
    }
    return true;
  });
  return TRUE;
}
