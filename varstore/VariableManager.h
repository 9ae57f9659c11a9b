// The variable store: named texts in the process environment and, when
// asked, persistently in the registry under the maker's key.
#ifndef VARIABLEMANAGER_H
#define VARIABLEMANAGER_H

#include <windows.h>
#include <string>

// Modes of SetVariable and GetVariable.
enum {
  VAR_MODE_PROCESS = 1,   // environment only
  VAR_MODE_STORED = 2,    // environment and registry
  VAR_MODE_REGISTRY = 4,  // with 2 on reads: the registry, ignoring the environment
  VAR_MODE_ENCRYPTED = 8  // the caller's own flag; removed before it reaches the store
};

// Longest value the environment can hold (its own limit, without the zero).
#define VAR_VALUE_MAX 32766

class CVariableManager {
public:
  CVariableManager();
  virtual ~CVariableManager();

  void InitVariableStore(const char *maker, const char *product,
                         const char *defaultSection, const char *lastErrorName);

  // 0, or -1 when the value could not be kept (a mode-2 registry write that
  // failed, or a value longer than the environment holds).
  int SetVariable(const char *section, const char *name, const char *value, int mode);
  // A new text that the caller releases with FreeText, or null.
  char *GetVariable(const char *section, const char *name, int mode);
  int SetLastErrorText(const char *text);

  static void FreeText(char *text);

private:
  CVariableManager(const CVariableManager &) = delete;
  CVariableManager &operator=(const CVariableManager &) = delete;

  bool MachineStoreWritable();
  HKEY ChooseRoot();
  HKEY OpenProductKey(HKEY root);
  HKEY OpenSectionKey(HKEY root, const char *section);
  bool WriteValue(const char *section, const char *name, const char *value);
  std::string ReadValue(HKEY root, const char *section, const char *name);
  char *CopyOfEnvironment(const char *name);

  REGSAM m_access;
  HKEY m_root;
  const char *m_base;
  CRITICAL_SECTION *m_lock;

  std::string m_maker;
  std::string m_product;
  std::string m_defaultSection;
  std::string m_lastErrorName;
};

// Holds the store's lock for one whole operation.
class CVariableLock {
public:
  explicit CVariableLock(CRITICAL_SECTION *lock) : m_lock(lock) { EnterCriticalSection(m_lock); }
  ~CVariableLock() { LeaveCriticalSection(m_lock); }
  CVariableLock(const CVariableLock &) = delete;
  CVariableLock &operator=(const CVariableLock &) = delete;
private:
  CRITICAL_SECTION *m_lock;
};

#endif
