// Stands in for the shell's notification area: the shell library hands each
// tray request to the window of class "Shell_TrayWnd" as WM_COPYDATA. This
// one keeps the tips it was sent, found as text in the copied data. Shared
// by the console's tests and its benchmark rows.
#ifndef FAKENOTIFICATIONAREA_H
#define FAKENOTIFICATIONAREA_H

#include <windows.h>
#include <string>
#include <vector>

namespace qmtest {

class FakeNotificationArea {
public:
  FakeNotificationArea() {
    WNDCLASSA cls = {};
    cls.lpfnWndProc = Proc;
    cls.lpszClassName = "Shell_TrayWnd";
    RegisterClassA(&cls);
    m_window = CreateWindowExA(0, "Shell_TrayWnd", "", WS_POPUP, 0, 0, 0, 0, NULL, NULL, NULL, NULL);
    SetWindowLongPtrA(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~FakeNotificationArea() {
    DestroyWindow(m_window);
    UnregisterClassA("Shell_TrayWnd", NULL);
  }
  bool Exists() const { return m_window != NULL; }
  // The tips seen so far, in order, among the ones the console uses.
  std::vector<std::string> tips;

private:
  FakeNotificationArea(const FakeNotificationArea &) = delete;
  FakeNotificationArea &operator=(const FakeNotificationArea &) = delete;

  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COPYDATA) {
      FakeNotificationArea *self =
          reinterpret_cast<FakeNotificationArea *>(GetWindowLongPtrA(window, GWLP_USERDATA));
      const COPYDATASTRUCT *data = reinterpret_cast<const COPYDATASTRUCT *>(lParam);
      std::string bytes(static_cast<const char *>(data->lpData), data->cbData);
      for (const char *tip : {"Quillmoth - nothing to do", "Quillmoth - running", "Quillmoth - stopped"}) {
        std::string wide;
        for (const char *c = tip; *c; ++c)
          wide += std::string(1, *c) + std::string(1, '\0');
        if (self && (bytes.find(tip) != std::string::npos || bytes.find(wide) != std::string::npos))
          self->tips.push_back(tip);
      }
      return TRUE;
    }
    return DefWindowProcA(window, message, wParam, lParam);
  }
  HWND m_window = NULL;
};

} // namespace qmtest

#endif
