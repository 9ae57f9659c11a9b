// The worker thread: a message loop that starts a script engine, loads
// scripts into it, runs their main procedure and reports to the host.
#include "MurrelContext.h"
#include "QuillmothRun.h"
#include "RunTracking.h"
#include "RuntimeInternal.h"
#include "ScriptLanguage.h"
#include "ScriptObject.h"
#include "ScriptPath.h"

#include <stdio.h>
#include <stdlib.h>
#include <memory>
#include <new>

namespace {

// Result codes of ExecuteProcedure.
enum { EXEC_OK = 0, EXEC_NO_CONTEXT = 1, EXEC_RAISED = 2, EXEC_FAILED = 3 };

const char kNoEngine[] = "Error: the script engine is not available on this worker.";

// The missing VBScript engine is told to the operator once per process;
// every worker that meets it still writes it to the log.
volatile LONG g_vbscriptMissingShown = 0;
// The host in use goes to the log when it changes, so the log says which runs.
void *volatile g_loggedHost = NULL;

void Notify(const std::string &text) {
  if (text == kVBScriptMissing && InterlockedExchange(&g_vbscriptMissingShown, 1))
    return;
  QMR_NotifyMessage(0, "%s", text.c_str());
}

// Reports a text to the operator and to the log, as data.
void Report(int line, const char *where, const std::string &text) {
  Notify(text);
  QMR_DebugMessage(line, where, "%s", text.c_str());
}

std::string TakeAtom(WPARAM atom, const char *initial) {
  std::string text = initial;
  if (atom) {
    char name[260] = "";
    if (GlobalGetAtomNameA(static_cast<ATOM>(atom), name, sizeof name))
      text = name;
    GlobalDeleteAtom(static_cast<ATOM>(atom));
  }
  return text;
}

LRESULT CALLBACK WorkerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == g_qmrMsg.relayPing && message != 0)
    return static_cast<LRESULT>(QMR_DONE);
  if (message == g_qmrMsg.handle && message != 0)
    return GetWindowLongPtrA(window, 0);
  if (message == WM_DESTROY)
    return 0;
  return DefWindowProcA(window, message, wParam, lParam);
}

void CreateWorkerWindow(MurrelContext *context) {
  snprintf(context->className, sizeof context->className, "WORKER:%lX", context->threadId);
  WNDCLASSA cls = {};
  cls.lpfnWndProc = WorkerWindowProc;
  cls.cbWndExtra = sizeof(LONG_PTR);
  cls.lpszClassName = context->className;
  context->classAtom = RegisterClassA(&cls);
  if (!context->classAtom)
    return;
  context->window = CreateWindowExA(0, context->className, "WORKER", WS_POPUP, 0, 0, 0, 0, NULL,
                                    NULL, NULL, NULL);
  if (!context->window) {
    UnregisterClassA(context->className, NULL);
    context->classAtom = 0;
    return;
  }
  SetWindowLongPtrA(context->window, 0, reinterpret_cast<LONG_PTR>(context));
  SendMessageA(context->window, g_qmrMsg.relayPing, 0, 0);
}

void OnStartup(MurrelContext *context) {
  HRESULT hr = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE |
                                        COINIT_SPEED_OVER_MEMORY);
  context->comInitialized = SUCCEEDED(hr);
  CScriptObject *script = new (std::nothrow) CScriptObject();
  if (script && SUCCEEDED(script->CreationResult())) {
    const char *host = script->HostName();
    if (InterlockedExchangePointer(&g_loggedHost, const_cast<char *>(host)) != host)
      QMR_DebugMessage(__LINE__, "ThreadProc", "Script host: %s", script->HostName());
    hr = script->SetLanguage(kVBScript);
    // Without VBScript the worker lives on for JScript scripts.
    if (FAILED(hr) && script->VBScriptMissing()) {
      QMR_DebugMessage(__LINE__, "ThreadProc", "%s", ComErrorText(hr).c_str());
      Report(__LINE__, "ThreadProc", kVBScriptMissing);
      hr = S_OK;
    }
    if (SUCCEEDED(hr))
      hr = script->SetTimeout(-1);
    if (SUCCEEDED(hr))
      hr = script->SetAllowUI(true);
  } else {
    hr = script ? script->CreationResult() : E_OUTOFMEMORY;
  }
  if (FAILED(hr)) {
    delete script;
    QMR_DebugMessage(__LINE__, "ThreadProc", "Failed to allocate CScriptObject.");
    QMR_DebugMessage(__LINE__, "ThreadProc", "%s", ComErrorText(hr).c_str());
    return;
  }
  context->script = script;
  context->returnValue = static_cast<VARIANT *>(calloc(1, sizeof(VARIANT)));
  if (!context->returnValue) {
    QMR_DebugMessage(__LINE__, "ThreadProc", "Failed to allocate CScriptObject.");
    return;
  }
  VariantInit(context->returnValue);
  CreateWorkerWindow(context);
  if (!context->window)
    QMR_DebugMessage(__LINE__, "ThreadProc", "Failed to allocate CScriptObject.");
}

// The standard library's code runs at its load; a script's waits for the
// run, where its global code may be the whole job.
bool IsStandardLibraryName(const std::string &name) {
  size_t slash = name.find_last_of("\\/");
  std::string file = slash == std::string::npos ? name : name.substr(slash + 1);
  return lstrcmpiA(file.c_str(), "StdLib.vbs") == 0 || lstrcmpiA(file.c_str(), "StdLib.js") == 0;
}

void OnLoad(MurrelContext *context, WPARAM atom) {
  const char where[] = "ThreadProc::QMR_LOAD";
  std::string name = TakeAtom(atom, "");
  ScriptLocation location = context->script ? context->script->Files().Locate(name) : LocateScript(name);
  std::string error;
  if (location.path.empty()) {
    error = "Unable to locate: \"" + location.path + "\"";
  } else if (!location.found || GetFileAttributesA(location.path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    // Not found by the search: the bare name is not tried against the
    // current folder, where anything may have been planted.
    error = "Unable to locate " + location.path;
  } else if (!context->script) {
    error = kNoEngine;
  } else if (!context->script->LoadFile(location.path, !IsStandardLibraryName(name))) {
    error = context->script->ErrorText();
  }
  if (!error.empty())
    Report(__LINE__, where, error);
  NoteLoad(name, location.path, error);
}

// Calls a procedure of the loaded code with one argument text.
int ExecuteProcedure(MurrelContext *context, const char *procedure, const std::string &argument) {
  if (!context)
    return EXEC_NO_CONTEXT;
  CScriptObject *script = context->script;
  std::string name = procedure;
  if (script)
    for (const std::string &listed : script->Procedures())
      if (lstrcmpiA(listed.c_str(), procedure) == 0) {
        name = listed;
        break;
      }

  SAFEARRAY *arguments = NULL;
  int result = EXEC_OK;
  try {
    SAFEARRAYBOUND bound = {argument.empty() ? 0u : 1u, 0};
    arguments = SafeArrayCreate(VT_VARIANT, 1, &bound);
    if (!arguments) {
      QMR_DebugMessage(__LINE__, "Execute(3):", "%s", ComErrorText(E_OUTOFMEMORY).c_str());
      return EXEC_RAISED;
    }
    if (!argument.empty()) {
      std::string text = argument == "\r" ? std::string() : argument;
      int wide = MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), NULL, 0);
      VARIANT element;
      VariantInit(&element);
      V_VT(&element) = VT_BSTR;
      V_BSTR(&element) = SysAllocStringLen(NULL, wide);
      if (!V_BSTR(&element)) {
        SafeArrayDestroy(arguments);
        QMR_DebugMessage(__LINE__, "Execute(3):", "%s", ComErrorText(E_OUTOFMEMORY).c_str());
        return EXEC_RAISED;
      }
      MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), V_BSTR(&element), wide);
      LONG index = 0;
      HRESULT hr = SafeArrayPutElement(arguments, &index, &element);
      VariantClear(&element);
      if (FAILED(hr)) {
        SafeArrayDestroy(arguments);
        QMR_DebugMessage(__LINE__, "Execute(3):", "%s", ComErrorText(hr).c_str());
        return EXEC_RAISED;
      }
    }

    if (context->returnValue)
      VariantClear(context->returnValue);
    VARIANT value;
    VariantInit(&value);
    if (!script || !script->CallProcedure(name, arguments, &value)) {
      result = EXEC_FAILED;
    } else {
      HRESULT hr = context->returnValue ? VariantCopy(context->returnValue, &value) : S_OK;
      if (FAILED(hr)) {
        QMR_DebugMessage(__LINE__, "Execute(1):", "%s", ComErrorText(hr).c_str());
        result = EXEC_RAISED;
      }
      VariantClear(&value);
    }
  } catch (...) {
    QMR_DebugMessage(__LINE__, "Execute(4):", "%s", "catch(...)");
    result = EXEC_RAISED;
  }
  SafeArrayDestroy(arguments);
  return result;
}

void SetQuitCode(MurrelContext *context, long code) {
  if (!context->returnValue)
    return;
  VariantClear(context->returnValue);
  V_VT(context->returnValue) = VT_I4;
  V_I4(context->returnValue) = code;
}

// The script's code for the run: its global code, then main when it
// defines one (its return value the result); without main the global code
// was the job, its WScript.Quit code (else 0) the result.
int RunScriptCode(MurrelContext *context, const std::string &argument) {
  CScriptObject *script = context->script;
  if (!script)
    return ExecuteProcedure(context, "main", argument);
  CScriptObject::RunStart start =
      script->StartRun(argument == "\r" ? std::string() : argument, context->runLimitSeconds);
  bool hasMain = script->HasProcedure("main");
  if (start.quit) {
    SetQuitCode(context, start.quitCode);
    return EXEC_OK;
  }
  if (!start.hadCode || hasMain) {
    // A failure of the global code beside main is a load error, as it
    // always was: told, recorded, and main still called.
    if (start.failed) {
      std::string error = script->ErrorText();
      Report(__LINE__, "ThreadProc::QMR_LOAD", error);
      NoteLateLoadError(context, error);
    }
    int result = ExecuteProcedure(context, "main", argument);
    long code = 0;
    bool stopped = false;
    if (result == EXEC_FAILED && script->TakeQuit(&code, &stopped)) {
      SetQuitCode(context, code);
      result = EXEC_OK;
    }
    return result;
  }
  if (start.failed)
    return EXEC_FAILED;
  SetQuitCode(context, 0);
  return EXEC_OK;
}

void OnRun(MurrelContext *context, WPARAM atom) {
  std::string argument = TakeAtom(atom, "\r");
  char *handedOver = static_cast<char *>(
      InterlockedExchangePointer(reinterpret_cast<void *volatile *>(&context->runArgument), NULL));
  if (handedOver) {
    std::unique_ptr<char, void (*)(void *)> owned(handedOver, free);
    argument = owned.get();
  }
  NoteRunStart(context, argument);
  int result = RunScriptCode(context, argument);
  std::string text;
  if (result != EXEC_OK)
    text = context->script ? context->script->ErrorText() : std::string(kNoEngine);
  if (context->script)
    context->script->EndRun();
  // A script that impersonated a user (Core's ImpersonateLoggedOnUser) and
  // did not revert leaves the pooled thread as that user: the next script
  // must run, and keep its variables, as the service's account.
  RevertToSelf();
  NoteRunEnd(context, result == EXEC_OK, text);
  if (result != EXEC_OK) {
    Notify(text);
    QMR_DebugMessage(__LINE__, "ThreadProc::QMR_RUN", "Exec error %d: %s", result, text.c_str());
    PostToRelay(g_qmrMsg.error, static_cast<WPARAM>(context->flags),
                reinterpret_cast<LPARAM>(context));
  }
  if (context->flags & QMR_FLAG_ASYNC)
    PostToRelay(g_qmrMsg.exit, static_cast<WPARAM>(context->flags),
                reinterpret_cast<LPARAM>(context));
  InterlockedAnd(&context->flags, ~static_cast<LONG>(QMR_FLAG_BUSY));
}

void OnShutdown(MurrelContext *context) {
  if (context->returnValue) {
    VariantClear(context->returnValue);
    free(context->returnValue);
    context->returnValue = NULL;
  }
  if (context->script) {
    context->script->ResetEngine();
    delete context->script;
    context->script = NULL;
  }
  if (context->window) {
    DestroyWindow(context->window);
    UnregisterClassA(context->className, NULL);
    context->window = NULL;
    context->classAtom = 0;
  }
  if (context->comInitialized) {
    CoUninitialize();
    context->comInitialized = false;
  }
}

void OnEmptyPool(MurrelContext *context) {
  LONG flags = InterlockedOr(&context->flags, QMR_FLAG_FLUSHED) | QMR_FLAG_FLUSHED;
  if (flags & QMR_FLAG_POOLED)
    PostToRelay(g_qmrMsg.exit, static_cast<WPARAM>(flags), reinterpret_cast<LPARAM>(context));
}

// Carries out one request of the runtime; false for a request it does not
// know, which ends the thread's loop. Nothing thrown leaves the thread: a
// failed request is logged and answered like a finished one.
bool HandleRequest(MurrelContext *context, const MSG &msg) {
  UINT m = msg.message;
  try {
    if (m == g_qmrMsg.startup)
      OnStartup(context);
    else if (m == g_qmrMsg.load)
      OnLoad(context, msg.wParam);
    else if (m == g_qmrMsg.run)
      OnRun(context, msg.wParam);
    else if (m == g_qmrMsg.shutdown)
      OnShutdown(context);
    else if (m == g_qmrMsg.reset) {
      RevertToSelf();
      if (context->script)
        context->script->ResetEngine();
    } else if (m == g_qmrMsg.emptyPool)
      OnEmptyPool(context);
    else
      return false;
  } catch (...) {
    QMR_DebugMessage(__LINE__, "ThreadProc", "Request %X failed: out of memory", m);
    InterlockedAnd(&context->flags, ~static_cast<LONG>(QMR_FLAG_BUSY));
  }
  return true;
}

} // namespace

unsigned __stdcall ThreadProc(void *param) {
  MurrelContext *context = static_cast<MurrelContext *>(param);
  MSG msg;
  PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE);
  MarkWorkerThread();
  // A creator that stopped waiting has left the context to us.
  if (InterlockedCompareExchange(&context->startState, WORKER_STARTED, WORKER_CREATED) ==
      WORKER_ABANDONED) {
    CloseHandle(context->replyEvent);
    free(context);
    return 1;
  }
  SetEvent(context->replyEvent);

  bool ignoredLogged = false;
  for (;;) {
    BOOL got = GetMessageA(&msg, NULL, 0, 0);
    if (got == 0 || got == -1)
      break;
    if (msg.hwnd) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
      continue;
    }
    UINT m = msg.message;
    if (m < WM_USER)
      continue; // a system message such as a stray timer tick is no request
    if (msg.lParam != context->requestKey) {
      // Logged once per worker: a flood must not flood the log too.
      if (!ignoredLogged)
        QMR_DebugMessage(__LINE__, "ThreadProc", "Ignored message %X not sent by the runtime", m);
      ignoredLogged = true;
      continue;
    }
    if (!HandleRequest(context, msg))
      break;
    SetEvent(context->replyEvent);
    // Idle between runs, a pooled worker makes the empty engine that the
    // next claim's reset hands out, so the claimed run need not wait for it.
    if (m == g_qmrMsg.run && context->script &&
        (context->flags & (QMR_FLAG_POOLED | QMR_FLAG_FLUSHED)) == QMR_FLAG_POOLED) {
      try {
        context->script->PrepareNextEngine();
      } catch (...) {
        // Out of memory: the reset makes the engine when it comes.
      }
    }
  }
  return 1;
}
