// `Quillmoth.exe -status` and `Quillmoth.exe -history [count] [filter]`:
// what ran, printed to the console they were typed in.
#ifndef HISTORYCOMMANDS_H
#define HISTORYCOMMANDS_H

#include <string>

// Both answer the process's exit code: 0 when the engine runs and the
// last run succeeded, 1 otherwise.
int ShowStatus(const char *serviceName);
// count: how many of the latest runs (text; default 20); a text that is no
// number is taken as the filter, which keeps runs whose script or command
// line holds it (case-blind).
int ShowHistory(const std::string &count, const std::string &filter);

// For the monitor: the service's state ("installed, running"), the
// engine's (true when it runs), and the latest run in one line.
std::string ServiceStateText(const char *serviceName);
bool EngineRunning(std::string *description);
std::string LastRunText();

#endif
