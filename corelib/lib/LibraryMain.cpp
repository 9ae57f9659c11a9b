// The library's entry and its four exports.
#include <windows.h>
#include <olectl.h>

#include "ClassFactory.h"
#include "CoreModule.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_coreModule = instance;
    DisableThreadLibraryCalls(instance);
    CoreVariables(); // the store is configured when the library loads
    InstallRegexErrorHook();
  }
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow(void) { return CoreCanUnloadNow(); }

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID *object) {
  return CoreGetClassObject(clsid, iid, object);
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer(void) {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(g_coreModule, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return SELFREG_E_CLASS;
  return CoreRegisterServer(path);
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer(void) {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(g_coreModule, path, MAX_PATH);
  return CoreUnregisterServer(length && length < MAX_PATH ? path : nullptr);
}
