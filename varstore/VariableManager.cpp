#include "VariableManager.h"

#include <stdlib.h>
#include <string.h>
#include <vector>

namespace {

const REGSAM kReadWriteRights = 0x2001F; // read, create subkey, set value
const REGSAM kReadRights = 0x20019;
const REGSAM kWriteRights = 0x20006;

char *DuplicateText(const char *text, size_t length) {
  char *copy = static_cast<char *>(malloc(length + 1));
  if (copy) {
    memcpy(copy, text, length);
    copy[length] = '\0';
  }
  return copy;
}

} // namespace

CVariableManager::CVariableManager()
    : m_access(kReadWriteRights), m_root(HKEY_LOCAL_MACHINE), m_base("software") {
  m_lock = static_cast<CRITICAL_SECTION *>(calloc(1, sizeof(CRITICAL_SECTION)));
  if (m_lock)
    InitializeCriticalSection(m_lock);
}

CVariableManager::~CVariableManager() {
  if (m_lock) {
    DeleteCriticalSection(m_lock);
    free(m_lock);
  }
}

void CVariableManager::InitVariableStore(const char *maker, const char *product,
                                         const char *defaultSection, const char *lastErrorName) {
  CVariableLock hold(m_lock);
  m_maker = maker ? maker : "";
  m_product = product ? product : "";
  m_defaultSection = defaultSection ? defaultSection : "";
  m_lastErrorName = lastErrorName ? lastErrorName : "";
}

void CVariableManager::FreeText(char *text) { free(text); }

bool CVariableManager::MachineStoreWritable() {
  HKEY key = NULL;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, m_base, 0, kReadWriteRights, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

HKEY CVariableManager::ChooseRoot() {
  m_root = MachineStoreWritable() ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  return m_root;
}

// root\software\maker\product, created where missing; null on failure.
HKEY CVariableManager::OpenProductKey(HKEY root) {
  HKEY software = NULL, maker = NULL, product = NULL;
  if (RegOpenKeyExA(root, m_base, 0, m_access, &software) != ERROR_SUCCESS)
    return NULL;
  if (RegCreateKeyExA(software, m_maker.c_str(), 0, NULL, 0, m_access, NULL, &maker, NULL) ==
      ERROR_SUCCESS) {
    if (RegCreateKeyExA(maker, m_product.c_str(), 0, NULL, 0, m_access, NULL, &product, NULL) !=
        ERROR_SUCCESS)
      product = NULL;
    RegCloseKey(maker);
  }
  RegCloseKey(software);
  return product;
}

HKEY CVariableManager::OpenSectionKey(HKEY root, const char *section) {
  HKEY product = OpenProductKey(root);
  if (!product)
    return NULL;
  HKEY key = NULL;
  if (RegCreateKeyExA(product, section, 0, NULL, 0, m_access, NULL, &key, NULL) != ERROR_SUCCESS)
    key = NULL;
  RegCloseKey(product);
  return key;
}

bool CVariableManager::WriteValue(const char *section, const char *name, const char *value) {
  m_access = kWriteRights;
  HKEY key = OpenSectionKey(ChooseRoot(), section);
  if (!key)
    return false;
  LONG result;
  if (value)
    result = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value),
                            static_cast<DWORD>(strlen(value) + 1));
  else
    result = RegDeleteValueA(key, name);
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

// The text runs to its first zero byte whatever the value's type; any
// failure gives the empty text.
std::string CVariableManager::ReadValue(HKEY root, const char *section, const char *name) {
  std::string text;
  HKEY key = OpenSectionKey(root, section);
  if (!key)
    return text;
  DWORD size = 0;
  if (RegQueryValueExA(key, name, NULL, NULL, NULL, &size) == ERROR_SUCCESS && size > 0) {
    std::vector<char> buffer(size + 1, '\0');
    if (RegQueryValueExA(key, name, NULL, NULL, reinterpret_cast<BYTE *>(buffer.data()), &size) ==
        ERROR_SUCCESS)
      text.assign(buffer.data(), strnlen(buffer.data(), size));
  }
  RegCloseKey(key);
  return text;
}

// A copy of the environment variable, or null when it has no value.
// Values of any length the environment holds are read whole.
char *CVariableManager::CopyOfEnvironment(const char *name) {
  char small[2048];
  DWORD length = GetEnvironmentVariableA(name, small, sizeof small);
  if (length == 0)
    return NULL;
  if (length < sizeof small)
    return DuplicateText(small, length);
  std::vector<char> large(length);
  DWORD got = GetEnvironmentVariableA(name, large.data(), length);
  if (got == 0 || got >= length)
    return NULL;
  return DuplicateText(large.data(), got);
}

int CVariableManager::SetVariable(const char *section, const char *name, const char *value,
                                  int mode) {
  if (!name || !*name)
    return -1;
  CVariableLock hold(m_lock);
  if (!section)
    section = m_defaultSection.c_str();
  // A value the environment can't hold is refused whole rather than cut.
  if (value && strlen(value) > VAR_VALUE_MAX)
    return -1;

  SetEnvironmentVariableA(name, (value && *value) ? value : NULL);

  if (mode == VAR_MODE_STORED && !WriteValue(section, name, value))
    return -1;
  return 0;
}

char *CVariableManager::GetVariable(const char *section, const char *name, int mode) {
  if (!name || !*name)
    return NULL;
  CVariableLock hold(m_lock);
  if (!section)
    section = m_defaultSection.c_str();

  char *copy = CopyOfEnvironment(name);
  if (mode == VAR_MODE_PROCESS)
    return copy;
  if (!(mode & VAR_MODE_STORED)) {
    FreeText(copy);
    return NULL;
  }
  if (mode & VAR_MODE_REGISTRY) {
    FreeText(copy);
    copy = NULL;
  } else if (copy) {
    return copy;
  }

  m_access = kReadRights;
  bool machineWritable = MachineStoreWritable();
  m_root = machineWritable ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  std::string text = ReadValue(m_root, section, name);
  if (text.empty() && !machineWritable) {
    text = ReadValue(HKEY_LOCAL_MACHINE, section, name);
    if (text.empty())
      return NULL;
  }

  SetVariable(section, name, text.c_str(), VAR_MODE_STORED);
  return CopyOfEnvironment(name);
}

int CVariableManager::SetLastErrorText(const char *text) {
  SetVariable(NULL, m_lastErrorName.c_str(), text, VAR_MODE_PROCESS);
  return 1;
}
