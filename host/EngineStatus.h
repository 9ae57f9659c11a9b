// The running engine's state as a small file of the data folder, so that
// `Quillmoth.exe -status`, typed in another session or by another user,
// can tell what the service or application is doing.
#ifndef ENGINESTATUS_H
#define ENGINESTATUS_H

#include <string>

struct EngineStatus {
  unsigned long processId = 0;
  std::string state;   // "starting", "running", "suspended", "stopped"
  std::string mode;    // "service" or "application"
  long workers = 0;
  std::string updated; // local time of the last change
};

// Replaces the status file (Engine.status) with this state.
void WriteEngineStatus(const EngineStatus &status);
// The last state written; false when there is none or its process has
// ended (the state is then that of a program no longer running).
bool ReadEngineStatus(EngineStatus &status, bool *processAlive);

#endif
