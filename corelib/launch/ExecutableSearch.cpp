#include "ExecutableSearch.h"

#include <iterator>

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

namespace {

std::string InFolder(const std::string &folder, const std::string &file) {
  if (folder.empty() || folder.back() == '\\' || folder.back() == '/')
    return folder + file;
  return folder + "\\" + file;
}

} // namespace

bool SearchExecutable(const std::string &word, const ExecutableProbe &probe, std::string &application) {
  application.clear();
  if (word.size() >= kExecutableWordLimit)
    return false;
  PathParts parts = SplitPathParts(word);
  // "C:run" names the drive's current folder: no search either.
  bool hasDirectory = !parts.directory.empty() || !parts.drive.empty();
  std::vector<std::string> extensions;
  if (parts.extension.empty())
    extensions.assign(std::begin(kExecutableExtensions), std::end(kExecutableExtensions));
  else
    extensions.push_back(parts.extension);
  if (hasDirectory) {
    if (parts.extension.empty() && probe.exists)
      for (const std::string &extension : extensions) {
        std::string candidate = parts.drive + parts.directory + parts.name + extension;
        if (probe.exists(candidate)) {
          application = candidate;
          return true;
        }
      }
  } else if (probe.folders && probe.exists) {
    // Folder by folder, every extension within a folder before the next
    // one: a .com further down the PATH never wins over an .exe before it.
    for (const std::string &folder : probe.folders())
      for (const std::string &extension : extensions) {
        std::string candidate = InFolder(folder, parts.name + extension);
        if (probe.exists(candidate)) {
          application = candidate;
          return true;
        }
      }
  }
  // Found nowhere (or a full name already): the word itself, which fails
  // the creation later when no such file exists.
  application = parts.Joined();
  return true;
}
