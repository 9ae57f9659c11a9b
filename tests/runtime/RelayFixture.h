// A relay window on the test thread that records what reaches the host.
#ifndef RELAYFIXTURE_H
#define RELAYFIXTURE_H

#include <windows.h>
#include <string>
#include <vector>

#include "QuillmothRun.h"
#include <functional>

namespace qmtest {

struct RelayEntry {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  std::string text; // the atom's text for QMR_PRINT
  bool sent;        // came as a send or notification from another thread (not posted)
};

class RelayWindow {
public:
  RelayWindow();
  ~RelayWindow();
  HWND Handle() const { return m_window; }
  std::vector<RelayEntry> entries;
  // Called for every registered message after it was recorded.
  std::function<void(const RelayEntry &)> onMessage;
  // Called when a QMR_PRINT arrives, before its atom is read.
  std::function<void()> onPrintArrived;

  // The registered numbers, obtained by name as every deliverable does.
  static UINT Print() { return RegisterWindowMessageA(QMR_MSG_PRINT); }
  static UINT Exit() { return RegisterWindowMessageA(QMR_MSG_EXIT); }
  static UINT Error() { return RegisterWindowMessageA(QMR_MSG_ERROR); }
  static UINT Thread() { return RegisterWindowMessageA(QMR_MSG_THREAD); }

  // The host's rule on QMR_EXIT: a worker that is not pooled, or was
  // flushed, is shut down and destroyed; any other message is left alone.
  static void DisposeLikeTheHost(const RelayEntry &entry);

  // Texts of the QMR_PRINT messages received so far.
  std::vector<std::string> Texts() const;

private:
  static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
  HWND m_window;
  WNDPROC m_staticProc;
};

// Ends every worker of this process as the host's stop sequence does (stop,
// flush, wait for the threads), then deletes the pool lock.
void StopAllWorkers();

} // namespace qmtest

#endif
