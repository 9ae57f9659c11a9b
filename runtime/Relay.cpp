// Notifications to the host's relay window and the worker-window probe.
#include "QuillmothRun.h"
#include "RuntimeInternal.h"
#include "WaitAnsweringSends.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

namespace {

const UINT kSendTimeout = 250; // milliseconds per send attempt

// Asks the window for its text; *hung tells whether a refusal came at once,
// which is the system's verdict that the thread is hung, not a time-out.
BOOL AskText(HWND window, char *text, WPARAM size, bool *hung) {
  DWORD_PTR reply = 0;
  DWORD started = GetTickCount();
  BOOL answered = SendMessageTimeoutA(window, WM_GETTEXT, size, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                                      kSendTimeout, &reply) != 0;
  *hung = !answered && GetTickCount() - started < kSendTimeout / 2;
  return answered;
}

// A thread's texts reach the console in the order it gave them. A text
// whose send timed out is posted instead, and a posted text is read only
// after every text sent later; so once a thread has had to post, it goes on
// posting until its last posted text has been read (the reader deletes the
// atom). Empty and over-long texts travel as atom 0 and are not ordered.
thread_local ATOM t_postedAtom = 0;
thread_local char t_postedText[256];

// True while the atom still stands for the text, that is, was not read yet.
bool Unread(ATOM atom, const char *text) {
  char now[256];
  return GlobalGetAtomNameA(atom, now, sizeof now) && strcmp(now, text) == 0;
}

// Waits up to one send's limit for the thread's last posted text to be
// read; the wait keeps the thread from flooding a slow console.
bool PostedTextsRead() {
  const DWORD start = GetTickCount();
  while (t_postedAtom && Unread(t_postedAtom, t_postedText)) {
    if (GetTickCount() - start >= kSendTimeout)
      return false;
    WaitAnsweringSends(NULL, 5);
  }
  t_postedAtom = 0;
  return true;
}

bool DeliverText(HWND relay, ATOM atom, const char *text, LPARAM category) {
  bool posted = false;
  if (atom && !PostedTextsRead()) {
    if (!PostMessageA(relay, g_qmrMsg.print, atom, category))
      return false;
    posted = true;
  } else if (DeliverMessage(relay, g_qmrMsg.print, atom, category, atom ? text : NULL, &posted) !=
             static_cast<LRESULT>(QMR_DONE)) {
    return false;
  }
  if (posted && atom) {
    t_postedAtom = atom;
    lstrcpynA(t_postedText, text, sizeof t_postedText);
  }
  return true;
}

} // namespace

extern "C" HWND QMR_API QMR_GetNotificationWindow(void) {
  char title[32];
  snprintf(title, sizeof title, "%lX:Relay", GetCurrentProcessId());
  return FindWindowA("STATIC", title);
}

extern "C" BOOL QMR_API QMR_NotifyMessage(DWORD category, const char *format, ...) {
  HWND relay = QMR_GetNotificationWindow();
  if (!relay) {
    QMR_DebugMessage(__LINE__, "QMR_NotifyMessage", "Unable to get notification window.");
    return FALSE;
  }
  char text[QMR_TEXT_MAX + 1] = {0};
  if (format) {
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args); // cut at the buffer's end
    va_end(args);
  }
  // An atom holds at most 255 characters; a longer or empty text gives 0,
  // which is sent all the same.
  ATOM atom = text[0] ? GlobalAddAtomA(text) : 0;
  if (!DeliverText(relay, atom, text, category)) {
    if (atom)
      GlobalDeleteAtom(atom);
    QMR_DebugMessage(__LINE__, "QMR_NotifyMessage", "Unable to send message, message lost.");
  }
  return TRUE;
}

void PostToRelay(UINT message, WPARAM wParam, LPARAM lParam) {
  HWND relay = QMR_GetNotificationWindow();
  if (relay)
    PostMessageA(relay, message, wParam, lParam);
}

LRESULT DeliverMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, const char *atomText,
                       bool *posted) {
  DWORD_PTR reply = 0;
  if (SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeout, &reply))
    return static_cast<LRESULT>(reply);
  // Read just as the send gave up: posting the atom again would hand the
  // receiver an atom that is gone, or by then another text's.
  if (atomText && !Unread(static_cast<ATOM>(wParam), atomText))
    return static_cast<LRESULT>(QMR_DONE);
  if (PostMessageA(window, message, wParam, lParam)) {
    if (posted)
      *posted = true;
    return static_cast<LRESULT>(QMR_DONE);
  }
  QMR_DebugMessage(__LINE__, "DeliverMessage", "Unable to post message, message lost.");
  return 0;
}

thread_local bool t_workerThread = false;

void MarkWorkerThread() { t_workerThread = true; }
bool OnWorkerThread() { return t_workerThread; }

void PumpWaitingMessages() {
  MSG msg;
  if (t_workerThread) {
    PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    return;
  }
  for (;;) {
    if (!PeekMessageA(&msg, NULL, 0, WM_QUIT - 1, PM_REMOVE) &&
        !PeekMessageA(&msg, NULL, WM_QUIT + 1, 0xFFFFFFFF, PM_REMOVE))
      return;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

BOOL IsSignalWnd(HWND window, UINT attempts) {
  char className[1024];
  if (!GetClassNameA(window, className, sizeof className) ||
      strncmp(className, "WORKER:", 7) != 0)
    return FALSE;

  char text[1024] = "";
  UINT retries = 0;
  bool hung = false;
  BOOL answered = AskText(window, text, sizeof text, &hung);
  while (!answered) {
    PumpWaitingMessages();
    // The system already counts the thread as hung (it has not read its
    // messages for seconds): asking again at once would only spin.
    if (retries == attempts || hung)
      break;
    ++retries;
    answered = AskText(window, text, sizeof text, &hung);
  }
  text[sizeof text - 1] = '\0';

  if (retries > 0 && (retries == attempts || hung)) {
    bool shortProbe = attempts <= 5;
    QMR_NotifyMessage(shortProbe ? 6 : 0, "Thread not responding for %u milliseconds",
                      (retries + 1) * kSendTimeout);
    if (shortProbe)
      QMR_DebugMessage(__LINE__, "IsSignalWnd", "Thread not responding...");
  }
  return lstrcmpiA(text, "WORKER") == 0;
}
