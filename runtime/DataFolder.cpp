#include "DataFolder.h"
#include "QuillmothRun.h"

#include <shlobj.h>
#include <sddl.h>

namespace {

// SYSTEM and Administrators may change everything; Users may read, so
// that -status and -history need no elevation. Not inherited from above:
// a folder outside ProgramData's usual rights gets the same.
const char kFolderSecurity[] = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

bool IsDirectory(const std::string &path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool MakeFolder(const std::string &path, bool secured) {
  if (IsDirectory(path))
    return true;
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, NULL, FALSE};
  PSECURITY_DESCRIPTOR descriptor = NULL;
  if (secured && ConvertStringSecurityDescriptorToSecurityDescriptorA(kFolderSecurity, SDDL_REVISION_1,
                                                                      &descriptor, NULL))
    attributes.lpSecurityDescriptor = descriptor;
  BOOL made = CreateDirectoryA(path.c_str(), &attributes);
  if (descriptor)
    LocalFree(descriptor);
  return made || IsDirectory(path);
}

// Whether this process may create files in the folder: a probe file made
// and removed, since rights alone say little with UAC and inheritance.
bool CanWrite(const std::string &folder) {
  std::string probe = folder + "write-probe-" + std::to_string(GetCurrentProcessId()) + ".tmp";
  HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, NULL);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  CloseHandle(file);
  return true;
}

std::string WithSlash(std::string path) {
  if (!path.empty() && path.back() != '\\' && path.back() != '/')
    path += '\\';
  return path;
}

std::string KnownFolder(int csidl) {
  char path[MAX_PATH];
  if (FAILED(SHGetFolderPathA(NULL, csidl | CSIDL_FLAG_CREATE, NULL, SHGFP_TYPE_CURRENT, path)))
    return std::string();
  return WithSlash(path) + "Quillmoth\\";
}

std::string ResolveFolder() {
  char given[MAX_PATH];
  DWORD length = GetEnvironmentVariableA("QM.DATA_DIR", given, sizeof given);
  if (length > 0 && length < sizeof given) {
    std::string folder = WithSlash(given);
    if (MakeFolder(folder, false) && CanWrite(folder))
      return folder;
    QMR_NotifyMessage(0, "The data folder %s (QM.DATA_DIR) cannot be written; using the default", folder.c_str());
  }
  std::string common = KnownFolder(CSIDL_COMMON_APPDATA);
  if (!common.empty() && MakeFolder(common, true) && CanWrite(common))
    return common;
  std::string own = KnownFolder(CSIDL_LOCAL_APPDATA);
  if (!own.empty() && MakeFolder(own, false) && CanWrite(own)) {
    QMR_NotifyMessage(0, "Run history and transcript go to %s: this account cannot write to %s", own.c_str(),
                      common.c_str());
    QMR_DebugMessage(__LINE__, "DataFolder", "Using %s: %s is not writable", own.c_str(), common.c_str());
    return own;
  }
  QMR_DebugMessage(__LINE__, "DataFolder", "No writable data folder: nothing is recorded");
  return std::string();
}

INIT_ONCE g_resolved = INIT_ONCE_STATIC_INIT;
std::string *g_folder = NULL;

BOOL CALLBACK Resolve(PINIT_ONCE, PVOID, PVOID *) {
  try {
    g_folder = new std::string(ResolveFolder());
  } catch (...) {
    g_folder = NULL;
  }
  return TRUE;
}

} // namespace

std::string DataFolder() {
  InitOnceExecuteOnce(&g_resolved, Resolve, NULL, NULL);
  return g_folder ? *g_folder : std::string();
}

std::string DataFolderToRead() {
  char given[MAX_PATH];
  DWORD length = GetEnvironmentVariableA("QM.DATA_DIR", given, sizeof given);
  if (length > 0 && length < sizeof given && IsDirectory(given))
    return WithSlash(given);
  for (int csidl : {CSIDL_COMMON_APPDATA, CSIDL_LOCAL_APPDATA}) {
    char path[MAX_PATH];
    if (SUCCEEDED(SHGetFolderPathA(NULL, csidl, NULL, SHGFP_TYPE_CURRENT, path))) {
      std::string folder = WithSlash(path) + "Quillmoth\\";
      if (IsDirectory(folder))
        return folder;
    }
  }
  return std::string();
}

std::string DataSubFolder(const char *name) {
  std::string root = DataFolder();
  if (root.empty())
    return root;
  std::string folder = root + name + "\\";
  return MakeFolder(folder, false) ? folder : std::string();
}
