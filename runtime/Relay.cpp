// Notifications to the host's relay window and the worker-window probe.
#include "QuillmothRun.h"
#include "RuntimeInternal.h"

#include <stdarg.h>
#include <stdio.h>

namespace {

const UINT kSendTimeout = 250; // milliseconds per send attempt

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
  if (DeliverMessage(relay, g_qmrMsg.print, atom, category) != static_cast<LRESULT>(QMR_DONE)) {
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

LRESULT DeliverMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR reply = 0;
  if (SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeout, &reply))
    return static_cast<LRESULT>(reply);
  if (PostMessageA(window, message, wParam, lParam))
    return static_cast<LRESULT>(QMR_DONE);
  QMR_DebugMessage(__LINE__, "DeliverMessage", "Unable to post message, message lost.");
  return 0;
}

void PumpWaitingMessages() {
  MSG msg;
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
  DWORD_PTR reply = 0;
  UINT retries = 0;
  BOOL answered = SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                                      SMTO_ABORTIFHUNG, kSendTimeout, &reply) != 0;
  while (!answered) {
    PumpWaitingMessages();
    if (retries == attempts)
      break;
    ++retries;
    answered = SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                                   SMTO_ABORTIFHUNG, kSendTimeout, &reply) != 0;
  }
  text[sizeof text - 1] = '\0';

  if (retries > 0 && retries == attempts) {
    bool shortProbe = attempts <= 5;
    QMR_NotifyMessage(shortProbe ? 6 : 0, "Thread not responding for %u milliseconds",
                      (attempts + 1) * kSendTimeout);
    if (shortProbe)
      QMR_DebugMessage(__LINE__, "IsSignalWnd", "Thread not responding...");
  }
  return lstrcmpiA(text, "WORKER") == 0;
}
