#include "ScriptFileCache.h"
#include "WshRules.h"

#include "ScriptEngine.h"

#include <string.h>
#include <algorithm>

namespace {

// Large enough for any script a person writes; a bigger file is refused
// rather than read into memory whole.
const DWORD kScriptFileMax = 64 * 1024 * 1024;

std::string Folded(std::string text) {
  while (text.size() > 1 && (text.back() == '\\' || text.back() == '/'))
    text.pop_back();
  CharLowerBuffA(&text[0], static_cast<DWORD>(text.size()));
  return text;
}

std::string FolderOf(const std::string &path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string ProcessVariable(const char *name) {
  char small[1024];
  DWORD length = GetEnvironmentVariableA(name, small, sizeof small);
  if (length < sizeof small)
    return std::string(small, length);
  std::string value(length, '\0');
  length = GetEnvironmentVariableA(name, &value[0], length);
  value.resize(length < value.size() ? length : 0);
  return value;
}

std::string CurrentFolder() {
  char folder[MAX_PATH + 1];
  DWORD length = GetCurrentDirectoryA(sizeof folder, folder);
  return length && length < sizeof folder ? std::string(folder, length) : std::string();
}

// A folder's time stamp changes when an entry is added, removed or renamed,
// which is all that can change what a search finds there. A missing folder
// reads as time 0.
FILETIME FolderWritten(const std::string &folder) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(folder.c_str(), GetFileExInfoStandard, &data)) {
    FILETIME none = {0, 0};
    return none;
  }
  return data.ftLastWriteTime;
}

bool SameTime(const FILETIME &a, const FILETIME &b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

bool HasDirectory(const std::string &name) { return name.find_first_of("\\/:") != std::string::npos; }

} // namespace

BSTR ReadScriptFile(const std::string &path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE)
    return NULL;
  BSTR code = NULL;
  DWORD high = 0;
  DWORD size = GetFileSize(file, &high);
  if (size != INVALID_FILE_SIZE && high == 0 && size <= kScriptFileMax) {
    char *text = static_cast<char *>(calloc(size + 1, 1));
    DWORD read = 0;
    if (text && ReadFile(file, text, size, &read, NULL) && read == size) {
      // A file that says what it is (a byte-order mark) is read as that;
      // others in the system's code page, as they always were.
      const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text);
      size_t mark = 0;
      wsh::TextMark kind = wsh::DetectMark(bytes, size, &mark);
      if (kind == wsh::TextMark::None) {
        code = BstrFromAnsi(text, static_cast<int>(size));
      } else {
        std::u16string decoded = wsh::DecodeMarked(kind, bytes + mark, size - mark);
        code = SysAllocStringLen(reinterpret_cast<const OLECHAR *>(decoded.data()),
                                 static_cast<UINT>(decoded.size()));
      }
    }
    free(text);
  }
  CloseHandle(file);
  return code;
}

ScriptFileCache::~ScriptFileCache() {
  for (CachedText &entry : m_texts)
    SysFreeString(entry.text);
  SysFreeString(m_uncached);
}

bool ScriptFileCache::StillValid(const Location &location, const std::string &pathVariable,
                                 const std::string &currentFolder, const std::string &scriptsFolder) const {
  if (location.pathVariable != pathVariable || location.currentFolder != currentFolder ||
      location.scriptsFolder != scriptsFolder)
    return false;
  for (const Folder &folder : location.folders)
    if (!SameTime(FolderWritten(folder.path), folder.written))
      return false;
  return GetFileAttributesA(location.result.path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

ScriptLocation ScriptFileCache::Locate(const std::string &name) {
  // Only the system's search is worth keeping: a name with a directory is
  // one or four direct looks.
  if (name.empty() || HasDirectory(name))
    return LocateScript(name);
  std::string pathVariable = ProcessVariable("PATH");
  std::string currentFolder = CurrentFolder();
  std::string scriptsFolder = ScriptsFolder();
  for (Location &location : m_locations)
    if (location.name == name) {
      if (StillValid(location, pathVariable, currentFolder, scriptsFolder)) {
        location.used = ++m_clock;
        return location.result;
      }
      break;
    }
  ScriptLocation result = LocateScript(name);
  if (result.found)
    Remember(name, result, pathVariable, currentFolder, scriptsFolder);
  return result;
}

bool ScriptFileCache::Remember(const std::string &name, const ScriptLocation &result,
                               const std::string &pathVariable, const std::string &currentFolder,
                               const std::string &scriptsFolder) {
  std::string hitFolder = Folded(FolderOf(result.path));
  // The search goes folder by folder: the folders after the hit cannot
  // change its result.
  std::vector<std::string> order;
  bool hitInOrder = false;
  for (const std::string &folder : ScriptSearchFolders(name, scriptsFolder, currentFolder, pathVariable)) {
    if (hitInOrder)
      break;
    order.push_back(folder);
    hitInOrder = hitInOrder || Folded(folder) == hitFolder;
  }
  // Found where this list does not look: the search can't be checked.
  if (!hitInOrder)
    return false;

  Location location;
  location.name = name;
  location.pathVariable = pathVariable;
  location.currentFolder = currentFolder;
  location.scriptsFolder = scriptsFolder;
  for (const std::string &folder : order)
    location.folders.push_back(Folder{folder, FolderWritten(folder)});
  location.result = result;
  location.used = ++m_clock;

  for (Location &old : m_locations)
    if (old.name == name) {
      old = location;
      return true;
    }
  if (m_locations.size() < kLocationsMax) {
    m_locations.push_back(location);
  } else {
    auto oldest = std::min_element(m_locations.begin(), m_locations.end(),
                                   [](const Location &a, const Location &b) { return a.used < b.used; });
    *oldest = location;
  }
  return true;
}

BSTR ScriptFileCache::Text(const std::string &path) {
  SysFreeString(m_uncached);
  m_uncached = NULL;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
    return NULL;
  std::string key = Folded(path);
  CachedText *slot = NULL;
  for (CachedText &entry : m_texts)
    if (entry.path == key) {
      if (entry.sizeLow == data.nFileSizeLow && entry.sizeHigh == data.nFileSizeHigh &&
          SameTime(entry.written, data.ftLastWriteTime)) {
        entry.used = ++m_clock;
        return entry.text;
      }
      slot = &entry;
      break;
    }

  BSTR text = ReadScriptFile(path);
  if (!text || data.nFileSizeHigh != 0 || data.nFileSizeLow > kTextBytesMax) {
    if (slot) { // what is kept is stale now
      SysFreeString(slot->text);
      m_texts.erase(m_texts.begin() + (slot - m_texts.data()));
    }
    m_uncached = text;
    return text;
  }
  if (!slot && m_texts.size() < kTextsMax) {
    m_texts.push_back(CachedText());
    slot = &m_texts.back();
    slot->text = NULL;
  } else if (!slot) {
    slot = &*std::min_element(m_texts.begin(), m_texts.end(),
                              [](const CachedText &a, const CachedText &b) { return a.used < b.used; });
  }
  SysFreeString(slot->text);
  slot->path = key;
  slot->sizeLow = data.nFileSizeLow;
  slot->sizeHigh = data.nFileSizeHigh;
  slot->written = data.ftLastWriteTime;
  slot->text = text;
  slot->used = ++m_clock;
  return text;
}
