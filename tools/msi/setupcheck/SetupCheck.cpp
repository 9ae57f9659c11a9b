// The package's one custom action: before installing, look for the VBScript
// engine, an optional Windows feature on newer Windows. Without it the
// administrator is warned (a message box with full UI, a log line with /qn)
// and the installation goes on: the package never changes Windows features,
// and JScript scripts run without VBScript.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

namespace {

const char kWarning[] =
    "VBScript is not installed on this computer. Quillmoth runs VBScript scripts (such as "
    "AutoRun.vbs) only once the optional Windows feature \"VBScript\" is added: Settings > "
    "System > Optional features, or as administrator run DISM /Online /Add-Capability "
    "/CapabilityName:VBSCRIPT~~~~. JScript (.js) scripts run without it. This installation "
    "does not change Windows features.";

// The default value of a key under HKEY_CLASSES_ROOT, as seen by this
// build's bitness (a 32-bit program needs the 32-bit engine).
bool ClassesValue(const char *subkey, char *value, DWORD size) {
  HKEY key = NULL;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, subkey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return false;
  DWORD type = 0, bytes = size - 1;
  LONG status = RegQueryValueExA(key, NULL, NULL, &type, reinterpret_cast<BYTE *>(value), &bytes);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || bytes == 0)
    return false;
  value[bytes] = '\0';
  return true;
}

// The engine's file when "VBScript" names a class whose server exists.
bool FindVBScriptEngine(char *file, DWORD size) {
  char clsid[64];
  if (!ClassesValue("VBScript\\CLSID", clsid, sizeof clsid) || lstrlenA(clsid) > 38)
    return false;
  char subkey[128];
  wsprintfA(subkey, "CLSID\\%s\\InprocServer32", clsid);
  char server[MAX_PATH];
  if (!ClassesValue(subkey, server, sizeof server))
    return false;
  DWORD length = ExpandEnvironmentStringsA(server, file, size);
  if (length == 0 || length > size)
    return false;
  // A bare file name is looked for where the system keeps its libraries.
  char found[MAX_PATH];
  if (SearchPathA(NULL, file, NULL, MAX_PATH, found, NULL) == 0)
    return false;
  return GetFileAttributesA(found) != INVALID_FILE_ATTRIBUTES;
}

void Tell(MSIHANDLE install, INSTALLMESSAGE kind, const char *text) {
  MSIHANDLE record = MsiCreateRecord(1);
  if (!record)
    return;
  // Field 0 is a template: brackets in the text would be read as
  // properties, so the text goes in field 1.
  MsiRecordSetStringA(record, 0, "[1]");
  MsiRecordSetStringA(record, 1, text);
  MsiProcessMessage(install, kind, record);
  MsiCloseHandle(record);
}

} // namespace

extern "C" UINT __stdcall CheckVBScript(MSIHANDLE install) {
  char engine[MAX_PATH] = "";
  if (FindVBScriptEngine(engine, sizeof engine)) {
    char line[MAX_PATH + 64];
    wsprintfA(line, "Quillmoth: VBScript engine found: %s", engine);
    Tell(install, INSTALLMESSAGE_INFO, line);
    return ERROR_SUCCESS;
  }
  MsiSetPropertyA(install, "VBSCRIPT_MISSING", "1");
  Tell(install, INSTALLMESSAGE_WARNING, kWarning);
  return ERROR_SUCCESS;
}
