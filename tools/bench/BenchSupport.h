// Pieces the Windows benchmarks share: a relay window that swallows what
// workers report (as the host's console would show it), and small files.
#ifndef BENCHSUPPORT_H
#define BENCHSUPPORT_H

#include <windows.h>
#include <stdio.h>
#include <string>

#include "QuillmothRun.h"

namespace bench {

inline LRESULT CALLBACK SwallowingRelayProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  static UINT print = RegisterWindowMessageA(QMR_MSG_PRINT);
  if (m == print) {
    if (wp)
      GlobalDeleteAtom(static_cast<ATOM>(wp));
    return static_cast<LRESULT>(QMR_DONE);
  }
  if (m >= 0xC000)
    return static_cast<LRESULT>(QMR_DONE);
  return DefWindowProcA(w, m, wp, lp);
}

// The relay window "%X:Relay" of this process; the caller destroys it.
inline HWND CreateSwallowingRelay() {
  char title[32];
  snprintf(title, sizeof title, "%lX:Relay", GetCurrentProcessId());
  HWND relay = CreateWindowExA(0, "STATIC", title, WS_POPUP, 0, 0, 0, 0, NULL, NULL, NULL, NULL);
  SetWindowLongPtrA(relay, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SwallowingRelayProc));
  return relay;
}

// The resident size of this process in KiB as Linux sees it (read from /proc
// through drive Z:), 0 where there is none. Under Wine the Windows memory
// counters are estimates or 0.
inline unsigned long ResidentKiB() {
  FILE *status = fopen("Z:\\proc\\self\\status", "r");
  if (!status)
    return 0;
  char line[256];
  unsigned long kib = 0;
  while (fgets(line, sizeof line, status))
    if (sscanf(line, "VmRSS: %lu kB", &kib) == 1)
      break;
  fclose(status);
  return kib;
}

inline void WriteTextFile(const std::string &path, const char *text) {
  FILE *f = fopen(path.c_str(), "wb");
  if (f) {
    fputs(text, f);
    fclose(f);
  }
}

} // namespace bench

#endif
