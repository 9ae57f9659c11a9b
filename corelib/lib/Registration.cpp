// Self-registration: the application entry, the class entries with both
// ProgIDs, and the type library.
#include "ClassFactory.h"

#include <olectl.h>
#include <oleauto.h>
#include <string>

#include "CoreInterface.h"

namespace {

const char kClassName[] = "Core Class";
const char kProgId[] = "QuillmothLib.Core.1";
const char kIndependentProgId[] = "QuillmothLib.Core";
const char kClassKey[] = "CLSID\\" QMLIB_CLSID_TEXT;
const char kAppIdKey[] = "AppID\\" QMLIB_APPID_TEXT;
const char kAppIdDllKey[] = "AppID\\QuillmothLib.DLL";

// Creates (or opens) root\key and sets its default value and, if given, one
// named value. False on the first failure.
bool SetKey(HKEY root, const std::string &key, const char *defaultValue, const char *valueName = nullptr,
            const std::string &value = std::string()) {
  HKEY handle = NULL;
  if (RegCreateKeyExA(root, key.c_str(), 0, NULL, REG_OPTION_NON_VOLATILE, KEY_WRITE, NULL, &handle, NULL) !=
      ERROR_SUCCESS)
    return false;
  bool ok = true;
  if (defaultValue)
    ok = RegSetValueExA(handle, NULL, 0, REG_SZ, reinterpret_cast<const BYTE *>(defaultValue),
                        static_cast<DWORD>(strlen(defaultValue) + 1)) == ERROR_SUCCESS;
  if (ok && valueName)
    ok = RegSetValueExA(handle, valueName, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                        static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
  RegCloseKey(handle);
  return ok;
}

std::string Narrow(const wchar_t *text) {
  int bytes = WideCharToMultiByte(CP_ACP, 0, text, -1, NULL, 0, NULL, NULL);
  std::string out(bytes > 0 ? static_cast<size_t>(bytes) : 1u, '\0');
  if (bytes > 0)
    WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], bytes, NULL, NULL);
  out.resize(strlen(out.c_str()));
  return out;
}

void DeleteTree(const char *key) { RegDeleteTreeA(HKEY_CLASSES_ROOT, key); }

} // namespace

HRESULT CoreRegisterServer(const wchar_t *path) {
  if (!path || !*path)
    return E_INVALIDARG;
  std::string file = Narrow(path);
  const HKEY root = HKEY_CLASSES_ROOT;
  const std::string classKey = kClassKey;
  bool ok = SetKey(root, kAppIdKey, "QuillmothLib") &&
            SetKey(root, kAppIdDllKey, nullptr, "AppID", QMLIB_APPID_TEXT) &&
            SetKey(root, kProgId, kClassName) && SetKey(root, std::string(kProgId) + "\\CLSID", QMLIB_CLSID_TEXT) &&
            SetKey(root, kIndependentProgId, kClassName) &&
            SetKey(root, std::string(kIndependentProgId) + "\\CLSID", QMLIB_CLSID_TEXT) &&
            SetKey(root, std::string(kIndependentProgId) + "\\CurVer", kProgId);
  if (ok) {
    DeleteTree(kClassKey); // the class entry is replaced whole
    ok = SetKey(root, classKey, kClassName, "AppID", QMLIB_APPID_TEXT) &&
         SetKey(root, classKey + "\\ProgID", kProgId) &&
         SetKey(root, classKey + "\\VersionIndependentProgID", kIndependentProgId) &&
         SetKey(root, classKey + "\\Programmable", nullptr) &&
         SetKey(root, classKey + "\\InprocServer32", file.c_str(), "ThreadingModel", "Apartment") &&
         SetKey(root, classKey + "\\TypeLib", QMLIB_LIBID_TEXT);
  }
  if (!ok)
    return SELFREG_E_CLASS;
  ITypeLib *library = nullptr;
  HRESULT hr = LoadTypeLibEx(path, REGKIND_NONE, &library);
  if (SUCCEEDED(hr)) {
    hr = RegisterTypeLib(library, const_cast<LPOLESTR>(path), NULL);
    library->Release();
  }
  return SUCCEEDED(hr) ? S_OK : SELFREG_E_TYPELIB;
}

HRESULT CoreUnregisterServer(const wchar_t *path) {
  DeleteTree(kProgId);
  DeleteTree(kIndependentProgId);
  DeleteTree(kClassKey);
  // The registration of the type library, by the attributes it was
  // registered with.
  HRESULT result = S_OK;
  ITypeLib *library = nullptr;
  if (path && SUCCEEDED(LoadTypeLibEx(path, REGKIND_NONE, &library))) {
    TLIBATTR *attributes = nullptr;
    if (SUCCEEDED(library->GetLibAttr(&attributes))) {
      HRESULT hr = UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                                     attributes->lcid, attributes->syskind);
      if (FAILED(hr) && hr != TYPE_E_REGISTRYACCESS)
        result = S_FALSE;
      library->ReleaseTLibAttr(attributes);
    }
    library->Release();
  }
  DeleteTree(kAppIdKey);
  DeleteTree(kAppIdDllKey);
  return result;
}
