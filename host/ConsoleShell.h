// The shell call by which the console opens the user's guide and the maker's
// page, in a table of its own so that a test can see what would be opened
// without a browser starting.
#ifndef CONSOLESHELL_H
#define CONSOLESHELL_H

#include <windows.h>

struct ConsoleShell {
  HINSTANCE(WINAPI *ShellExecute)(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                                  LPCSTR directory, INT show);
};

// The real call; a test may replace the entry and must put it back.
extern ConsoleShell g_consoleShell;
extern const ConsoleShell kSystemConsoleShell;

#endif
