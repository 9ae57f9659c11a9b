// What a worker keeps between runs so that a pooled run neither searches
// for nor reads the same files again: where each name was found, and the
// text of each file. Both are checked against the file system before use,
// so a changed file or search order is seen at the next load.
#ifndef SCRIPTFILECACHE_H
#define SCRIPTFILECACHE_H

#include <windows.h>
#include <oaidl.h>
#include <string>
#include <vector>

#include "ScriptPath.h"

class ScriptFileCache {
public:
  ScriptFileCache() : m_clock(0) {}
  ~ScriptFileCache();

  // As LocateScript. A name without directory is searched for again only
  // when PATH, the current folder, the Scripts folder, or a folder the
  // search looks in (its time stamp) changed, or when the file found is
  // gone.
  ScriptLocation Locate(const std::string &name);

  // The text of the file as an automation string that stays the cache's
  // (valid until the next call); null when the file can't be read. The
  // file is read again only when its size or time stamp changed.
  BSTR Text(const std::string &path);

  // Bounds, so that a worker that loads many or large files keeps little.
  static const size_t kLocationsMax = 16;
  static const size_t kTextsMax = 8;
  static const DWORD kTextBytesMax = 1024 * 1024;

private:
  ScriptFileCache(const ScriptFileCache &) = delete;
  ScriptFileCache &operator=(const ScriptFileCache &) = delete;

  struct Folder {
    std::string path;
    FILETIME written;
  };
  struct Location {
    std::string name;
    std::string pathVariable;
    std::string currentFolder;
    std::string scriptsFolder;
    std::vector<Folder> folders; // those the search looked in before its hit
    ScriptLocation result;
    unsigned long long used;
  };
  struct CachedText {
    std::string path;
    DWORD sizeLow, sizeHigh;
    FILETIME written;
    BSTR text;
    unsigned long long used;
  };

  bool StillValid(const Location &location, const std::string &pathVariable, const std::string &currentFolder,
                  const std::string &scriptsFolder) const;
  bool Remember(const std::string &name, const ScriptLocation &result, const std::string &pathVariable,
                const std::string &currentFolder, const std::string &scriptsFolder);

  std::vector<Location> m_locations;
  std::vector<CachedText> m_texts;
  BSTR m_uncached = NULL; // a file too large to keep, until the next call
  unsigned long long m_clock;
};

// Reads a whole file as ANSI text into a new automation string; null when
// it can't be opened or read, or is larger than the runtime takes.
BSTR ReadScriptFile(const std::string &path);

#endif
