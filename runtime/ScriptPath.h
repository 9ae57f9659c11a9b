// Where a script named to QMR_LOAD is found.
#ifndef SCRIPTPATH_H
#define SCRIPTPATH_H

#include <string>
#include <vector>

struct ScriptLocation {
  std::string path; // empty when the name could not be taken
  bool found;
};

// Searches as the worker does: a name without extension is tried with
// ".com", ".exe", ".bat" and ".cmd"; a name without directory is looked for
// folder by folder in ScriptSearchFolders' order, every extension within a
// folder before the next.
ScriptLocation LocateScript(const std::string &name);

// The Scripts folder as the host publishes it (QM.DEFAULT_DIR); empty when
// unknown.
std::string ScriptsFolder();

// StdLib.vbs or StdLib.js, in any case.
bool IsStandardLibraryName(const std::string &name);

// Where a name without a directory is looked for, in order: the Scripts
// folder, the program's folder, then - except for the standard library,
// which comes from these two alone - the current folder, the system folders
// and PATH.
std::vector<std::string> ScriptSearchFolders(const std::string &name, const std::string &scriptsFolder,
                                             const std::string &currentFolder, const std::string &pathVariable);

#endif
