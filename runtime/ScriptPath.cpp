#include "ScriptPath.h"

#include <windows.h>
#include <stdlib.h>
#include <algorithm>
#include <iterator>

namespace {

const size_t kPathMax = 259;
const char *const kExecutableExtensions[] = {".com", ".exe", ".bat", ".cmd"};

struct SplitPath {
  std::string drive, dir, name, ext;
  bool taken = false;

  explicit SplitPath(const std::string &path) {
    if (path.empty() || path.size() > kPathMax)
      return;
    char d[_MAX_DRIVE], p[_MAX_DIR], n[_MAX_FNAME], e[_MAX_EXT];
    _splitpath(path.c_str(), d, p, n, e);
    drive = d;
    dir = p;
    name = n;
    ext = e;
    std::replace(dir.begin(), dir.end(), '/', '\\');
    taken = true;
  }

  std::string Join(const std::string &extension) const {
    std::string out = drive + dir;
    if (!dir.empty() && dir.back() != '\\')
      out += '\\';
    return out + name + extension;
  }
};

bool Exists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string InFolder(const std::string &folder, const std::string &file) {
  if (folder.empty() || folder.back() == '\\' || folder.back() == '/')
    return folder + file;
  return folder + "\\" + file;
}

std::string FolderOf(const std::string &path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string Variable(const char *name) {
  DWORD length = GetEnvironmentVariableA(name, NULL, 0);
  if (length == 0)
    return std::string();
  std::string value(length, '\0');
  DWORD got = GetEnvironmentVariableA(name, &value[0], length);
  value.resize(got < length ? got : 0);
  return value;
}

std::string CurrentFolder() {
  char folder[MAX_PATH + 1];
  DWORD length = GetCurrentDirectoryA(sizeof folder, folder);
  return length && length < sizeof folder ? std::string(folder, length) : std::string();
}

} // namespace

std::string ScriptsFolder() { return Variable("QM.DEFAULT_DIR"); }

bool IsStandardLibraryName(const std::string &name) {
  return lstrcmpiA(name.c_str(), "StdLib.vbs") == 0 || lstrcmpiA(name.c_str(), "StdLib.js") == 0;
}

std::vector<std::string> ScriptSearchFolders(const std::string &name, const std::string &scriptsFolder,
                                             const std::string &currentFolder, const std::string &pathVariable) {
  std::vector<std::string> folders;
  if (!scriptsFolder.empty())
    folders.push_back(scriptsFolder);
  char buffer[MAX_PATH + 1];
  DWORD length = GetModuleFileNameA(NULL, buffer, sizeof buffer);
  if (length && length < sizeof buffer)
    folders.push_back(FolderOf(std::string(buffer, length)));
  // The standard library is code every script runs: it comes from where
  // Quillmoth was installed, never from a folder a script may write to.
  if (IsStandardLibraryName(name))
    return folders;
  if (!currentFolder.empty())
    folders.push_back(currentFolder);
  length = GetSystemDirectoryA(buffer, sizeof buffer);
  if (length && length < sizeof buffer)
    folders.push_back(std::string(buffer, length));
  length = GetWindowsDirectoryA(buffer, sizeof buffer);
  if (length && length < sizeof buffer) {
    folders.push_back(std::string(buffer, length) + "\\system");
    folders.push_back(std::string(buffer, length));
  }
  size_t start = 0;
  while (start <= pathVariable.size()) {
    size_t end = pathVariable.find(';', start);
    if (end == std::string::npos)
      end = pathVariable.size();
    std::string folder = pathVariable.substr(start, end - start);
    folder.erase(std::remove(folder.begin(), folder.end(), '"'), folder.end());
    if (!folder.empty())
      folders.push_back(folder);
    start = end + 1;
  }
  return folders;
}

ScriptLocation LocateScript(const std::string &name) {
  ScriptLocation result = {std::string(), false};
  SplitPath split(name);
  if (!split.taken)
    return result;

  bool hasDirectory = !split.drive.empty() || !split.dir.empty();
  std::string hit;
  if (!hasDirectory) {
    // Folder by folder, every extension within a folder before the next.
    std::vector<std::string> extensions;
    if (split.ext.empty())
      extensions.assign(std::begin(kExecutableExtensions), std::end(kExecutableExtensions));
    else
      extensions.push_back(split.ext);
    for (const std::string &folder :
         ScriptSearchFolders(name, ScriptsFolder(), CurrentFolder(), Variable("PATH"))) {
      for (const std::string &extension : extensions) {
        std::string candidate = InFolder(folder, split.name + extension);
        if (candidate.size() <= kPathMax && Exists(candidate)) {
          hit = candidate;
          break;
        }
      }
      if ((result.found = !hit.empty()))
        break;
    }
  } else if (split.ext.empty()) {
    for (const char *extension : kExecutableExtensions) {
      std::string candidate = split.Join(extension);
      if ((result.found = Exists(candidate))) {
        hit = candidate;
        break;
      }
    }
  } else {
    result.found = true;
  }

  if (result.found && !hit.empty()) {
    SplitPath full(hit);
    result.path = full.taken ? full.Join(full.ext) : std::string();
  } else {
    result.path = split.Join(split.ext);
  }
  return result;
}
