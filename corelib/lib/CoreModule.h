// What the library shares between its units: the module handle and lock
// count, the variable store, and the reporting helpers of every method.
#ifndef COREMODULE_H
#define COREMODULE_H

#include <windows.h>
#include <new>
#include <string>

#include "QuillmothRun.h"

class CVariableManager;

// The library's own module (null when the code is linked into a program).
extern HMODULE g_coreModule;

void CoreLockModule();
void CoreUnlockModule();
LONG CoreModuleLocks();

// The library's variable store, configured on first use (the library does
// that when it is loaded).
CVariableManager &CoreVariables();

// The system's text for an error code (neutral language, default
// sublanguage), trailing white space removed.
std::string CoreErrorText(DWORD code);

// The failure notice of a method: "<method>: <system text of code>".
void CoreNotifyFailure(const char *method, DWORD code);
// A notice "<method>: <text>", the text taken as data.
void CoreNotifyText(const char *method, const char *text);

// A diagnostic line at "CCore::<method>".
#define CORE_DEBUG(method, ...) QMR_DebugMessage(__LINE__, "CCore::" method, __VA_ARGS__)

// Runs a method's body so that no C++ exception leaves a COM method (on
// 32-bit Windows one would end the process): running out of memory answers
// E_OUTOFMEMORY, the one automation error a method raises; anything else is
// logged and answers E_UNEXPECTED.
template <typename Body> HRESULT CoreGuarded(const char *method, Body &&body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc &) {
    return E_OUTOFMEMORY;
  } catch (...) {
    QMR_DebugMessage(__LINE__, "CCore", "%s: unexpected exception", method);
    return E_UNEXPECTED;
  }
}

// Automation booleans.
const long kTrue = -1;
const long kFalse = 0;

#endif
