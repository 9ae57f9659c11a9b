// A wait that still answers messages sent to the waiting thread.
//
// A worker reports to the relay window with a send that gives up after
// 250 ms; when the relay's thread is the one waiting for that worker, a
// plain wait would let every report run into that limit. Sent messages are
// answered as they come; posted messages stay queued for the caller's own
// loop. Shared by the runtime and the host, so it is inline and not an
// export.
#ifndef WAITANSWERINGSENDS_H
#define WAITANSWERINGSENDS_H

#include <windows.h>

// Waits for the object to be signalled, or, with no object, for the whole
// time. The time-out counts from the start of the wait, however many
// messages arrive. Answers WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED.
inline DWORD WaitAnsweringSends(HANDLE object, DWORD timeout) {
  const DWORD start = GetTickCount();
  const DWORD count = object ? 1 : 0;
  DWORD remaining = timeout;
  for (;;) {
    DWORD result = MsgWaitForMultipleObjectsEx(count, object ? &object : NULL, remaining, QS_SENDMESSAGE,
                                               MWMO_INPUTAVAILABLE);
    if (result != WAIT_OBJECT_0 + count)
      return result; // signalled, timed out or failed
    // Delivers the sent messages only; no posted message is removed.
    MSG msg;
    PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    if (timeout != INFINITE) {
      DWORD elapsed = GetTickCount() - start;
      if (elapsed >= timeout)
        return object && WaitForSingleObject(object, 0) == WAIT_OBJECT_0 ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
      remaining = timeout - elapsed;
    }
  }
}

#endif
