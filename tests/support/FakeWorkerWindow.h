// A window that passes for (or, with another class or text, fails to pass
// for) a worker window of this process, on a thread of its own. It records
// the control messages posted to workers and can be told to stop answering
// for a while.
#ifndef FAKEWORKERWINDOW_H
#define FAKEWORKERWINDOW_H

#include <windows.h>
#include <string>
#include <vector>

namespace qmtest {

class FakeWorkerWindow {
public:
  // An empty class name means "WORKER:" and the thread id, as real workers use.
  explicit FakeWorkerWindow(const std::string &className = std::string(),
                            const std::string &text = "WORKER");
  ~FakeWorkerWindow();
  HWND Handle() const { return m_window; }
  // The window's thread is busy this long from the moment this returns, so
  // the next message to the window meets a thread that does not answer.
  void BusyFor(DWORD milliseconds);
  // Returns once the window's thread has handled every message posted to
  // the window before the call.
  void WaitIdle() { BusyFor(0); }
  // Control messages (1229 to 1233) received so far, in order.
  std::vector<UINT> Received();

private:
  FakeWorkerWindow(const FakeWorkerWindow &) = delete;
  FakeWorkerWindow &operator=(const FakeWorkerWindow &) = delete;
  static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
  static unsigned __stdcall Thread(void *);

  std::string m_className;
  std::string m_text;
  HANDLE m_ready;
  HANDLE m_busy; // set when the thread begins a busy spell
  HANDLE m_thread;
  unsigned m_threadId = 0;
  HWND m_window = NULL;
  CRITICAL_SECTION m_lock;
  std::vector<UINT> m_received;
};

} // namespace qmtest

#endif
