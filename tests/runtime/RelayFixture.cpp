#include "RelayFixture.h"
#include "WineTestSupport.h"

#include <stdio.h>

namespace qmtest {

RelayWindow::RelayWindow() {
  char title[32];
  snprintf(title, sizeof title, "%lX:Relay", GetCurrentProcessId());
  m_window = CreateWindowExA(0, "STATIC", title, WS_POPUP, 0, 0, 0, 0, NULL, NULL, NULL, NULL);
  SetWindowLongPtrA(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  m_staticProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(m_window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Proc)));
}

RelayWindow::~RelayWindow() {
  if (m_window)
    DestroyWindow(m_window);
}

LRESULT CALLBACK RelayWindow::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  RelayWindow *self = reinterpret_cast<RelayWindow *>(GetWindowLongPtrA(window, GWLP_USERDATA));
  // A sender's ping asks only whether what it gave before was read.
  if (message == RegisterWindowMessageA(QMR_MSG_RELAY_PING))
    return static_cast<LRESULT>(QMR_DONE);
  if (message >= 0xC000 && message <= 0xFFFF) {
    RelayEntry entry = {message, wParam, lParam, std::string(), InSendMessageEx(NULL) != ISMEX_NOSEND};
    if (message == Print()) {
      if (self->onPrintArrived)
        self->onPrintArrived();
      char text[1024] = "";
      if (wParam) {
        GlobalGetAtomNameA(static_cast<ATOM>(wParam), text, sizeof text);
        GlobalDeleteAtom(static_cast<ATOM>(wParam));
      }
      entry.text = text;
      self->entries.push_back(entry);
      if (self->onMessage)
        self->onMessage(entry);
      return static_cast<LRESULT>(QMR_DONE);
    }
    self->entries.push_back(entry);
    if (self->onMessage)
      self->onMessage(entry);
    return static_cast<LRESULT>(QMR_DONE);
  }
  return CallWindowProcA(self->m_staticProc, window, message, wParam, lParam);
}

} // namespace qmtest

namespace qmtest {

void RelayWindow::DisposeLikeTheHost(const RelayEntry &entry) {
  if (entry.message != Exit() || ((entry.wParam & QMR_FLAG_POOLED) && !(entry.wParam & QMR_FLAG_FLUSHED)))
    return;
  MurrelContext *context = reinterpret_cast<MurrelContext *>(entry.lParam);
  QMR_Message(context, RegisterWindowMessageA(QMR_MSG_SHUTDOWN), 0, 10000);
  QMR_Destroy(context);
}

std::vector<std::string> RelayWindow::Texts() const {
  std::vector<std::string> texts;
  for (const RelayEntry &entry : entries)
    if (entry.message == Print())
      texts.push_back(entry.text);
  return texts;
}

void StopAllWorkers() {
  QMR_Stop();
  QMR_FlushPool();
  QMR_WaitExit();
  PumpFor(100);
  QMR_Disown();
}

} // namespace qmtest
