// Where a script named to QMR_LOAD is found.
#ifndef SCRIPTPATH_H
#define SCRIPTPATH_H

#include <string>

struct ScriptLocation {
  std::string path; // empty when the name could not be taken
  bool found;
};

// Searches as the worker does: a name without extension is tried with
// ".com", ".exe", ".bat" and ".cmd"; a name without directory goes through
// the system's search order (the program's directory first, PATH last).
ScriptLocation LocateScript(const std::string &name);

#endif
