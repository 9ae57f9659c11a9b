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

// A thread's texts reach the console in the order it gave them, each once.
// The text goes to the relay as a notification: it joins the relay's queue
// of sent messages, which is read in order, and it stays there however long
// the relay is busy. (A send that times out is withdrawn only if the relay
// has not taken it yet, and the sender cannot tell which happened; posting
// the text again then delivered one atom twice, and since freed atom numbers
// are handed out again, the stale copy could print another thread's text
// ahead of its turn.) A ping sent after the text comes back once the relay
// has read that far; waiting for it, at most one send's limit, keeps a busy
// worker from flooding a slow console.
bool DeliverText(HWND relay, ATOM atom, LPARAM category) {
  if (!SendNotifyMessageA(relay, g_qmrMsg.print, atom, category))
    return false;
  const DWORD start = GetTickCount();
  DWORD_PTR reply = 0;
  if (!SendMessageTimeoutA(relay, g_qmrMsg.relayPing, 0, 0, SMTO_ABORTIFHUNG, kSendTimeout, &reply)) {
    // A hung relay refuses at once; the worker still waits its turn.
    DWORD elapsed = GetTickCount() - start;
    if (elapsed < kSendTimeout)
      WaitAnsweringSends(NULL, kSendTimeout - elapsed);
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
  if (!DeliverText(relay, atom, category)) {
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
