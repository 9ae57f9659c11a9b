// The engine side of the console: starts scripts on the runtime, counts and
// disposes of its workers, shows what they print, passes clock changes on
// and stops everything in order.
#include "QuillmothDlg.h"
#include "QuillmothApp.h"
#include "ModulePath.h"
#include "QuillmothRun.h"
#include "WaitAnsweringSends.h"

#include <commdlg.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const DWORD kSettleMs = 2000;     // responsiveness wanted before anything starts
const DWORD kStaleNullMs = 500;   // a self-posted WM_NULL older than this restarts the wait
const int kStopPasses = 130;      // of 250 ms each
const DWORD kDisposeWait = 10000;

// A number from a variable (environment, then store); 0 when missing or not
// a number.
long NumberVariable(const char *name) {
  char *value = g_variables.GetVariable(NULL, name, VAR_MODE_STORED);
  long number = value ? atol(value) : 0;
  CVariableManager::FreeText(value);
  return number;
}

LRESULT CALLBACK RelayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  WNDPROC staticProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (message == g_hostMsg.relayPing)
    return static_cast<LRESULT>(QMR_DONE);
  if (message >= 0xC000 && message <= 0xFFFF)
    return SendMessageA(GetWindow(window, GW_OWNER), message, wParam, lParam);
  return CallWindowProcA(staticProc, window, message, wParam, lParam);
}

} // namespace

class CQuillmothDlg::PoolCall {
public:
  explicit PoolCall(CQuillmothDlg *console) : m_console(console) { ++m_console->m_poolCalls; }
  ~PoolCall() {
    if (--m_console->m_poolCalls == 0)
      m_console->RunDeferredWork();
  }

private:
  PoolCall(const PoolCall &) = delete;
  PoolCall &operator=(const PoolCall &) = delete;
  CQuillmothDlg *m_console;
};

void CQuillmothDlg::RunDeferredWork() {
  // Each piece may make pool calls of its own, which defer again: take one
  // at a time until nothing is left.
  for (;;) {
    if (!m_exitsDeferred.empty()) {
      std::pair<WPARAM, LPARAM> exit = m_exitsDeferred.front();
      m_exitsDeferred.erase(m_exitsDeferred.begin());
      OnQMRExit(exit.first, exit.second);
    } else if (m_stopDeferred) {
      m_stopDeferred = false;
      OnStop();
    } else if (m_shutdownDeferred) {
      m_shutdownDeferred = false;
      OnShutdownRequest(m_shutdownResult);
    } else {
      return;
    }
  }
}

std::string CQuillmothDlg::ArgumentText() const {
  BSTR text = NULL;
  std::string out;
  if (SUCCEEDED(VarBstrFromDate(m_clock(), LOCALE_USER_DEFAULT, 0, &text)) && text) {
    int bytes = WideCharToMultiByte(CP_ACP, 0, text, -1, NULL, 0, NULL, NULL);
    if (bytes > 1) {
      out.resize(bytes - 1);
      WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], bytes, NULL, NULL);
    }
  }
  SysFreeString(text);
  return out;
}

bool CQuillmothDlg::RunScript(DWORD flags, const char *script, const std::string &arguments) {
  if (m_shuttingDown)
    return false;
  if (NumberVariable("QM.POOL_SIZE") != 0)
    flags |= QMR_FLAG_POOLED;
  std::string argument = arguments.empty() ? ArgumentText() : arguments;
  PoolCall call(this);
  return QMR_RunScript(flags, script, argument.c_str(), NULL) != NULL;
}

void CQuillmothDlg::OnRunOnce() {
  DWORD deadline = GetTickCount() + kSettleMs;
  WPARAM counter = 0;
  while (static_cast<LONG>(GetTickCount() - deadline) < 0) {
    PostMessageA(m_hWnd, WM_NULL, ++counter, static_cast<LPARAM>(GetTickCount()));
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));
        return;
      }
      if (msg.message == WM_NULL) {
        if (GetTickCount() - static_cast<DWORD>(msg.lParam) > kStaleNullMs) {
          deadline = GetTickCount() + kSettleMs;
          QMR_DebugWrite("An initialization reset was required.");
        }
        continue;
      }
      if (!IsDialogMessageA(m_hWnd, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
      if (m_shuttingDown)
        return; // asked to stop while settling: start nothing
    }
    MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
  }
  EnableWindow(m_hWnd, TRUE);
  m_trayPresent = TrayAdd() ? 1 : 0;
  SetTimer(m_hWnd, TIMER_HEARTBEAT, 1000, NULL);
  SetTimer(m_hWnd, TIMER_TRAY, 2000, NULL);
  SetDlgItemTextA(m_hWnd, IDC_COUNT, "0");
  CreateRelayWindow();
  UpdateStatus();
  ConsoleLine("Ready.");
  RedrawWindow(m_hWnd, NULL, NULL, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  ShowLinkLabel();
  PostMessageA(m_hWnd, g_hostMsg.autoRun, 0, 0);
}

void CQuillmothDlg::CreateRelayWindow() {
  char name[32];
  snprintf(name, sizeof name, "%lX:Relay", GetCurrentProcessId());
  CreateWindowExA(0, "STATIC", name, WS_POPUP, 0, 0, 0, 0, m_hWnd, NULL, NULL, NULL);
  m_relay = FindWindowA("STATIC", name);
  if (!m_relay)
    return;
  LONG_PTR staticProc = GetWindowLongPtrA(m_relay, GWLP_WNDPROC);
  SetWindowLongPtrA(m_relay, GWLP_USERDATA, staticProc);
  SetWindowLongPtrA(m_relay, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RelayProc));
  SendMessageA(m_relay, g_hostMsg.relayPing, 0, 0);
}

// AutoRun.vbs, or AutoRun.js where there is no AutoRun.vbs (a machine
// without VBScript); found the way the runtime finds scripts.
static const char *AutoRunScript() {
  char found[MAX_PATH];
  if (SearchPathA(NULL, "AutoRun.vbs", NULL, MAX_PATH, found, NULL) == 0 &&
      SearchPathA(NULL, "AutoRun.js", NULL, MAX_PATH, found, NULL) != 0)
    return "AutoRun.js";
  return "AutoRun.vbs";
}

// -load's text is the script's name, then what the script gets as its
// arguments (WScript.Arguments, or main's argument): -load "Copy.vbs /to:D:\x".
// A text that names a file as it stands is a name alone, so a path with
// blanks needs no quotes; a quoted name may be followed by arguments.
static void SplitLoadText(const std::string &text, std::string *script, std::string *arguments) {
  char found[MAX_PATH];
  *script = text;
  arguments->clear();
  if (text.empty() || GetFileAttributesA(text.c_str()) != INVALID_FILE_ATTRIBUTES ||
      SearchPathA(NULL, text.c_str(), NULL, MAX_PATH, found, NULL) != 0)
    return;
  size_t end = text[0] == '"' ? text.find('"', 1) : text.find_first_of(" \t");
  if (end == std::string::npos)
    return;
  *script = text[0] == '"' ? text.substr(1, end - 1) : text.substr(0, end);
  size_t rest = text.find_first_not_of(" \t", end + 1);
  if (rest != std::string::npos)
    *arguments = text.substr(rest);
}

void CQuillmothDlg::OnAutoRun() {
  if (m_shuttingDown)
    return;
  RunScript(QMR_FLAG_ASYNC, AutoRunScript());
  if (!m_options.loadFile.empty()) {
    std::string script, arguments;
    SplitLoadText(m_options.loadFile, &script, &arguments);
    RunScript(QMR_FLAG_ASYNC, script.c_str(), arguments);
  }
  SetState(STATE_RUNNING, STATE_IDLE | STATE_STOPPED | STATE_SUSPENDED);
}

namespace {

// The Load button's second question: the chosen script's argument text.
struct ArgumentsAnswer {
  std::string text;
};

INT_PTR CALLBACK ArgumentsProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrA(window, DWLP_USER, lParam);
    SendDlgItemMessageA(window, IDC_ARGUMENTS, EM_LIMITTEXT, 1023, 0);
    return TRUE;
  }
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    INT_PTR result = LOWORD(wParam);
    if (result == IDOK) {
      char text[1024] = "";
      GetDlgItemTextA(window, IDC_ARGUMENTS, text, sizeof text);
      ArgumentsAnswer *answer = reinterpret_cast<ArgumentsAnswer *>(GetWindowLongPtrA(window, DWLP_USER));
      try {
        answer->text = text;
      } catch (...) {
        result = IDCANCEL; // out of memory: nothing runs
      }
    }
    EndDialog(window, result);
    return TRUE;
  }
  if (message == WM_CLOSE) {
    EndDialog(window, IDCANCEL);
    return TRUE;
  }
  return FALSE;
}

} // namespace

void CQuillmothDlg::OnLoad() {
  char file[MAX_PATH] = "";
  std::string initial;
  char *stored = g_variables.GetVariable(NULL, "QM.DEFAULT_DIR", VAR_MODE_STORED);
  if (stored)
    initial = stored;
  else
    initial = ModulePath(theApp.ProgramPath().c_str()).Directory();
  CVariableManager::FreeText(stored);

  OPENFILENAMEA dialog = {};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = m_hWnd;
  dialog.lpstrFilter = "Quillmoth Files (*.vbs;*.js)\0*.vbs;*.js\0Text Files (*.txt)\0*.txt\0"
                       "All Files (*.*)\0*.*\0";
  dialog.nFilterIndex = static_cast<DWORD>(NumberVariable("QM.FILTER_INDEX"));
  dialog.lpstrFile = file;
  dialog.nMaxFile = sizeof file;
  dialog.lpstrInitialDir = initial.c_str();
  dialog.Flags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_EXPLORER | OFN_LONGNAMES |
                 OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
  if (!GetOpenFileNameA(&dialog))
    return;
  ArgumentsAnswer arguments;
  if (DialogBoxParamA(m_resources, MAKEINTRESOURCEA(IDD_ARGUMENTS), m_hWnd, ArgumentsProc,
                      reinterpret_cast<LPARAM>(&arguments)) != IDOK)
    return;

  RunScript(QMR_FLAG_ASYNC, file, arguments.text);
  SetState(STATE_RUNNING, STATE_IDLE | STATE_STOPPED | STATE_SUSPENDED);
  g_variables.SetVariable(NULL, "QM.DEFAULT_DIR", ModulePath(file).Directory().c_str(),
                          VAR_MODE_STORED);
  g_variables.SetVariable(NULL, "QM.FILTER_INDEX", std::to_string(dialog.nFilterIndex).c_str(),
                          VAR_MODE_STORED);
}

void CQuillmothDlg::ShowCount() {
  SetDlgItemTextA(m_hWnd, IDC_COUNT, std::to_string(m_liveWorkers).c_str());
  PublishStatus();
}

void CQuillmothDlg::OnThread(LPARAM started) {
  m_liveWorkers += started ? 1 : -1;
  ShowCount();
}

void CQuillmothDlg::OnPrint(WPARAM atom, LPARAM category) {
  char text[1024] = "";
  bool read = atom && GlobalGetAtomNameA(static_cast<ATOM>(atom), text, sizeof text);
  if (atom)
    GlobalDeleteAtom(static_cast<ATOM>(atom));
  // The text is ours now: the sender need not wait while the output box
  // takes it, and a send that is answered never runs into its time limit.
  if (InSendMessage())
    ReplyMessage(static_cast<LRESULT>(QMR_DONE));
  if (!read)
    return;
  if (category == 0)
    ConsoleLine(text);
  else
    PrintCategorized(text, static_cast<DWORD>(category));
}

void CQuillmothDlg::OnQMRExit(WPARAM flags, LPARAM context) {
  if ((flags & QMR_FLAG_POOLED) && !(flags & QMR_FLAG_FLUSHED)) {
    PrintCategorized("OnQMRExit: Thread returned to pool", 6);
    return;
  }
  if (m_poolCalls != 0) {
    try {
      m_exitsDeferred.push_back(std::make_pair(flags, context));
    } catch (...) {
      ConsoleLine("Failed to destroy the thread"); // out of memory: left to the stop
    }
    return;
  }
  PoolCall call(this);
  MurrelContext *worker = reinterpret_cast<MurrelContext *>(context);
  if (!QMR_Message(worker, g_hostMsg.qmrShutdown, 0, kDisposeWait))
    ConsoleLine("Failed to destroy the script environment");
  if (!QMR_Destroy(worker))
    ConsoleLine("Failed to destroy the thread");
  PrintCategorized("OnQMRExit: Thread context deleted", 6);
}

void CQuillmothDlg::OnHeartbeat() {
  m_referenceTime = m_clock();
  m_referenceValid = true;
  bool running = FirstState(m_engineState) == STATE_RUNNING;
  if (running) {
    char indicator[8] = "";
    GetDlgItemTextA(m_hWnd, IDC_INDICATOR, indicator, sizeof indicator);
    SetDlgItemTextA(m_hWnd, IDC_INDICATOR, strcmp(indicator, "X") == 0 ? "O" : "X");
    if (m_liveWorkers == 0) {
      ConsoleLine("There are no more outstanding jobs.");
      ShowWindow(m_hWnd, SW_SHOW);
      OnStop();
    }
  }
  ShowCount();
}

void CQuillmothDlg::OnSuspendResume() {
  bool running = FirstState(m_engineState) == STATE_RUNNING;
  PoolCall call(this);
  if (running) {
    SetState(STATE_SUSPENDED, STATE_IDLE | STATE_RUNNING | STATE_STOPPED);
    QMR_Suspend();
  } else {
    SetState(STATE_RUNNING, STATE_IDLE | STATE_STOPPED | STATE_SUSPENDED);
    QMR_Resume();
  }
}

void CQuillmothDlg::OnStop() {
  if (m_poolCalls != 0) {
    m_stopDeferred = true;
    return;
  }
  // Its own loop below handles workers' exits as they come; a second stop
  // asked meanwhile has nothing to add.
  if (m_stopping)
    return;
  m_stopping = true;
  MSG msg;
  bool startPending = PeekMessageA(&msg, m_hWnd, g_hostMsg.runOnce, g_hostMsg.runOnce, PM_NOREMOVE) ||
                      PeekMessageA(&msg, m_hWnd, g_hostMsg.autoRun, g_hostMsg.autoRun, PM_NOREMOVE);
  if (m_liveWorkers != 0 && !startPending) {
    QMR_Stop();
    // At most the time of kStopPasses passes of 250 ms, however long each
    // poll takes: a poll that waits for silent workers must not multiply it.
    const DWORD deadline = GetTickCount() + kStopPasses * 250;
    if (!QMR_QueryStoped()) {
      for (;;) {
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
          if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
          }
          TranslateMessage(&msg);
          DispatchMessageA(&msg);
        }
        WaitAnsweringSends(NULL, 250);
        PrintCategorized("OnStop: Trying to shutdown threads...", 16);
        if (static_cast<LONG>(GetTickCount() - deadline) >= 0) {
          QMR_DebugMessage(650, "OnStop", "Unable to shutdown one or more threads");
          break;
        }
        if (QMR_QueryStoped())
          break;
      }
    }
    QMR_FlushPool();
    QMR_WaitExit();
  }
  m_stopping = false;
  SetState(STATE_STOPPED, STATE_IDLE | STATE_RUNNING);
}

void CQuillmothDlg::OnTimeChange() {
  DefWindowProcA(m_hWnd, WM_TIMECHANGE, 0, 0);
  TIME_ZONE_INFORMATION zone;
  DWORD zoneResult = GetTimeZoneInformation(&zone);
  double seconds = (m_clock() - m_referenceTime) * 86400.0;
  seconds = seconds < 0 ? -floor(-seconds + 0.5) : floor(seconds + 0.5);
  // Clamped to the signed 32-bit range rather than overflowing.
  if (seconds > 2147483647.0)
    seconds = 2147483647.0;
  if (seconds < -2147483648.0)
    seconds = -2147483648.0;
  long long change = static_cast<long long>(seconds);
  unsigned long magnitude = static_cast<unsigned long>(change < 0 ? -change : change);
  unsigned long threshold = static_cast<unsigned long>(NumberVariable("QM.TCHANGE_THRESHOLD"));
  bool synchronize = magnitude > threshold;

  std::string line;
  switch (zoneResult) {
  case TIME_ZONE_ID_UNKNOWN:
    line = "System time changed";
    break;
  case TIME_ZONE_ID_STANDARD:
    line = "System time changed (Standard time)";
    break;
  case TIME_ZONE_ID_DAYLIGHT:
    line = "System time changed (Daylight saving time)";
    break;
  }
  if (synchronize)
    line += " - Synchronizing";
  ConsoleLine(line);
  if (synchronize) {
    PoolCall call(this);
    QMR_TimeChange();
  }
}

namespace {

// A dialog the console opened (About, Load) would keep a service from
// stopping until someone closed it: cancel it.
BOOL CALLBACK CancelOwnedDialog(HWND window, LPARAM console) {
  char cls[16];
  if (GetWindow(window, GW_OWNER) == reinterpret_cast<HWND>(console) &&
      GetClassNameA(window, cls, sizeof cls) && strcmp(cls, "#32770") == 0)
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  return TRUE;
}

} // namespace

LRESULT CQuillmothDlg::OnShutdownRequest(WPARAM result) {
  m_shuttingDown = true; // and no script starts from here on
  if (m_poolCalls != 0) {
    m_shutdownDeferred = true;
    m_shutdownResult = result;
    return static_cast<LRESULT>(result);
  }
  EnumThreadWindows(GetCurrentThreadId(), CancelOwnedDialog, reinterpret_cast<LPARAM>(m_hWnd));
  ConsoleLine("Quillmoth service asked to stop.");
  OnStop();
  KillTimer(m_hWnd, TIMER_HEARTBEAT);
  KillTimer(m_hWnd, TIMER_TRAY);
  TrayRemove();
  EndModalLoop(static_cast<INT_PTR>(result));
  return static_cast<LRESULT>(result);
}
