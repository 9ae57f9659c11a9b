#include "CoreModule.h"

#include "QuillmothRun.h"
#include "SystemErrorText.h"
#include "VariableManager.h"

HMODULE g_coreModule = NULL;

namespace {
LONG g_moduleLocks = 0;
} // namespace

void CoreLockModule() { InterlockedIncrement(&g_moduleLocks); }
void CoreUnlockModule() { InterlockedDecrement(&g_moduleLocks); }
LONG CoreModuleLocks() { return InterlockedCompareExchange(&g_moduleLocks, 0, 0); }

CVariableManager &CoreVariables() {
  static CVariableManager *store = [] {
    static CVariableManager instance;
    instance.InitVariableStore("Brenlow Software", "Quillmoth", "QM.ENVIRONMENT", "QM.LAST_ERROR");
    return &instance;
  }();
  return *store;
}

std::string CoreErrorText(DWORD code) {
  return SystemErrorText(code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT));
}

void CoreNotifyFailure(const char *method, DWORD code) {
  QMR_NotifyMessage(0, "%s: %s", method, CoreErrorText(code).c_str());
}

void CoreNotifyText(const char *method, const char *text) { QMR_NotifyMessage(0, "%s: %s", method, text); }
