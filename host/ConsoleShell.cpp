#include "ConsoleShell.h"

#include <shellapi.h>

const ConsoleShell kSystemConsoleShell = {ShellExecuteA};

ConsoleShell g_consoleShell = kSystemConsoleShell;
