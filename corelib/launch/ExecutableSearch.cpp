#include "ExecutableSearch.h"

const char *const kExecutableExtensions[4] = {".com", ".exe", ".bat", ".cmd"};

PathParts SplitPathParts(const std::string &word) {
  PathParts parts;
  std::string rest = word;
  if (rest.size() >= 2 && rest[1] == ':') {
    parts.drive = rest.substr(0, 2);
    rest.erase(0, 2);
  }
  size_t slash = rest.find_last_of("\\/");
  if (slash != std::string::npos) {
    parts.directory = rest.substr(0, slash + 1);
    rest.erase(0, slash + 1);
    for (char &c : parts.directory)
      if (c == '/')
        c = '\\';
  }
  size_t dot = rest.rfind('.');
  if (dot != std::string::npos) {
    parts.extension = rest.substr(dot);
    rest.erase(dot);
  }
  parts.name = rest;
  return parts;
}

bool SearchExecutable(const std::string &word, const ExecutableProbe &probe, std::string &application) {
  application.clear();
  if (word.size() >= kExecutableWordLimit)
    return false;
  PathParts parts = SplitPathParts(word);
  bool hasDirectory = !parts.directory.empty();
  if (parts.extension.empty()) {
    for (const char *extension : kExecutableExtensions) {
      std::string candidate = parts.drive + parts.directory + parts.name + extension;
      if (!hasDirectory) {
        if (probe.search && probe.search(candidate, application))
          return true;
      } else if (probe.exists && probe.exists(candidate)) {
        application = candidate;
        return true;
      }
    }
  } else if (!hasDirectory) {
    if (probe.search && probe.search(word, application))
      return true;
  }
  // Found nowhere (or a full name already): the word itself, which fails
  // the creation later when no such file exists.
  application = parts.Joined();
  return true;
}
