// Which file a command's first word names: the folders searched one by one
// in the system's order, the executable extensions tried in order within
// each folder, the word's slashes turned into backslashes, and words too
// long for a path left to the system. The file system is asked through the
// probes, so the rules run anywhere.
#ifndef EXECUTABLESEARCH_H
#define EXECUTABLESEARCH_H

#include <functional>
#include <string>
#include <vector>

// A word of this many characters or more is no path: the system then takes
// the program from the command line itself.
const size_t kExecutableWordLimit = 260;

// The extensions tried for a word without one, in this order.
extern const char *const kExecutableExtensions[4];

// A word taken apart: "C:" + "\dir\" + "run" + ".exe". The directory keeps
// its leading and trailing backslashes; "/" is already turned into "\".
struct PathParts {
  std::string drive;
  std::string directory;
  std::string name;
  std::string extension;
  std::string Joined() const { return drive + directory + name + extension; }
};

PathParts SplitPathParts(const std::string &word);

struct ExecutableProbe {
  // The folders a name without a directory is looked for in, in the
  // system's order (the program's folder, the current folder, the system
  // folders, then PATH).
  std::function<std::vector<std::string>()> folders;
  // Whether a file exists at `path`.
  std::function<bool(const std::string &path)> exists;
};

// The application name for `word`; false when the word is too long to be
// one (then no application name is given to the system).
bool SearchExecutable(const std::string &word, const ExecutableProbe &probe, std::string &application);

#endif
