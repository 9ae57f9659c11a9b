#include "FakeWorkerWindow.h"

#include <process.h>
#include <stdio.h>

namespace qmtest {

namespace {
const UINT kBusy = WM_APP + 1;
const UINT kFirstControl = WM_USER + 205, kLastControl = WM_USER + 209;
} // namespace

FakeWorkerWindow::FakeWorkerWindow(const std::string &className, const std::string &text)
    : m_className(className), m_text(text) {
  InitializeCriticalSection(&m_lock);
  m_ready = CreateEventA(NULL, TRUE, FALSE, NULL);
  m_busy = CreateEventA(NULL, FALSE, FALSE, NULL);
  m_thread = reinterpret_cast<HANDLE>(_beginthreadex(NULL, 0, Thread, this, 0, &m_threadId));
  WaitForSingleObject(m_ready, 5000);
}

FakeWorkerWindow::~FakeWorkerWindow() {
  PostThreadMessageA(m_threadId, WM_QUIT, 0, 0);
  WaitForSingleObject(m_thread, 10000);
  CloseHandle(m_thread);
  CloseHandle(m_ready);
  CloseHandle(m_busy);
  DeleteCriticalSection(&m_lock);
}

void FakeWorkerWindow::BusyFor(DWORD milliseconds) {
  PostMessageA(m_window, kBusy, milliseconds, 0);
  // Returns once the window's thread has taken the request and is busy.
  WaitForSingleObject(m_busy, 10000);
}

std::vector<UINT> FakeWorkerWindow::Received() {
  EnterCriticalSection(&m_lock);
  std::vector<UINT> copy = m_received;
  LeaveCriticalSection(&m_lock);
  return copy;
}

LRESULT CALLBACK FakeWorkerWindow::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  FakeWorkerWindow *self = reinterpret_cast<FakeWorkerWindow *>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (message == kBusy) {
    if (self)
      SetEvent(self->m_busy);
    Sleep(static_cast<DWORD>(wParam));
    return 0;
  }
  if (self && message >= kFirstControl && message <= kLastControl) {
    EnterCriticalSection(&self->m_lock);
    self->m_received.push_back(message);
    LeaveCriticalSection(&self->m_lock);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

unsigned __stdcall FakeWorkerWindow::Thread(void *param) {
  FakeWorkerWindow *self = static_cast<FakeWorkerWindow *>(param);
  if (self->m_className.empty()) {
    char name[32];
    snprintf(name, sizeof name, "WORKER:%lX", GetCurrentThreadId());
    self->m_className = name;
  }
  WNDCLASSA cls = {};
  cls.lpfnWndProc = Proc;
  cls.lpszClassName = self->m_className.c_str();
  RegisterClassA(&cls);
  self->m_window = CreateWindowExA(0, self->m_className.c_str(), self->m_text.c_str(), WS_POPUP, 0,
                                   0, 0, 0, NULL, NULL, NULL, NULL);
  SetWindowLongPtrA(self->m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  SetEvent(self->m_ready);
  MSG msg;
  while (GetMessageA(&msg, NULL, 0, 0) > 0)
    DispatchMessageA(&msg);
  DestroyWindow(self->m_window);
  UnregisterClassA(self->m_className.c_str(), NULL);
  return 0;
}

} // namespace qmtest
