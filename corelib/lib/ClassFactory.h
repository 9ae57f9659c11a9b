#ifndef CLASSFACTORY_H
#define CLASSFACTORY_H

#include <windows.h>

HRESULT CoreGetClassObject(REFCLSID clsid, REFIID iid, void **object);
HRESULT CoreCanUnloadNow();

// Self-registration of the library file at `path` (full path).
HRESULT CoreRegisterServer(const wchar_t *path);
HRESULT CoreUnregisterServer(const wchar_t *path);

// Routes the regex engine's error texts to the diagnostic log.
void InstallRegexErrorHook();

#endif
