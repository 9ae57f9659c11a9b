// Pieces of the runtime shared between its units but not exported.
#ifndef RUNTIMEINTERNAL_H
#define RUNTIMEINTERNAL_H

#include <windows.h>

// Registered message numbers, obtained by name when the library loads.
struct QmrMessageIds {
  UINT startup, load, run, shutdown, reset, emptyPool, handle;
  UINT exit, error, thread, print, relayPing;
};
extern QmrMessageIds g_qmrMsg;
void RegisterRuntimeMessages();

// Posts a report to the host's relay window; dropped when there is none.
void PostToRelay(UINT message, WPARAM wParam, LPARAM lParam);

// True when the window is a responsive worker window; see the probe rules.
BOOL IsSignalWnd(HWND window, UINT attempts);

// Removes and dispatches every waiting message of the calling thread except
// WM_QUIT, which stays queued for the thread's own loop. On a worker thread
// it answers sent messages only: what is posted there (a stop request, a
// timer tick, a clock change) is the script's to read.
void PumpWaitingMessages();

// Marks the calling thread as a worker of the pool, for the waits above.
void MarkWorkerThread();
bool OnWorkerThread();

// Hands an event to the host's sink (QMR_SetEventSink); nothing without one.
void ReportRuntimeEvent(DWORD event, const char *text1, const char *text2);

#endif
