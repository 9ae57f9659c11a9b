#include "ScriptPath.h"

#include <windows.h>
#include <stdlib.h>
#include <algorithm>

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

bool Search(const std::string &name, const char *extension, std::string *found) {
  char buffer[MAX_PATH];
  DWORD length = SearchPathA(NULL, name.c_str(), extension, sizeof buffer, buffer, NULL);
  if (length == 0 || length >= sizeof buffer)
    return false;
  *found = std::string(buffer, length);
  return true;
}

} // namespace

ScriptLocation LocateScript(const std::string &name) {
  ScriptLocation result = {std::string(), false};
  SplitPath split(name);
  if (!split.taken)
    return result;

  bool hasDirectory = !split.drive.empty() || !split.dir.empty();
  std::string hit;
  if (split.ext.empty() && !hasDirectory) {
    for (const char *extension : kExecutableExtensions)
      if ((result.found = Search(split.name, extension, &hit)))
        break;
  } else if (split.ext.empty()) {
    for (const char *extension : kExecutableExtensions) {
      std::string candidate = split.Join(extension);
      if ((result.found = Exists(candidate))) {
        hit = candidate;
        break;
      }
    }
  } else if (!hasDirectory) {
    result.found = Search(split.Join(std::string()) + split.ext, NULL, &hit);
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
