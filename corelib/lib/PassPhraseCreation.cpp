#include "PassPhraseCreation.h"

#include <windows.h>
#include <wincrypt.h>
#include <sddl.h>
#include <vector>

#include "CoreCrypto.h"

const char kPassPhraseKeyAccess[] = "D:P(A;OICI;KA;;;SY)(A;OICI;KA;;;BA)";

PassPhraseCreator g_passPhraseCreator = CreateRegistryPassPhrase;

namespace {

// Every process of the installation may want one at the same moment: one of
// them makes it, the others then find it. The lock is a mutex in a private
// namespace whose boundary is the Administrators group: only a process that
// holds that group (an elevated administrator, LocalSystem) may create or
// open the namespace, so no other user can take the lock's name first and
// stall or refuse the creation. Only where the system has no private
// namespaces is the lock a global mutex, closed to everyone but
// Administrators and SYSTEM.
const char kCreationNamespace[] = "QuillmothPassPhrase";
const char kCreationMutexInNamespace[] = "QuillmothPassPhrase\\Creation";
const char kCreationMutex[] = "Global\\QuillmothPassPhraseCreation";
const char kCreationAccess[] = "D:P(A;;GA;;;SY)(A;;GA;;;BA)";
const DWORD kCreationWait = 10000;

typedef HANDLE(WINAPI *CreateBoundaryDescriptorCall)(LPCSTR, ULONG);
typedef BOOL(WINAPI *AddSidCall)(HANDLE *, PSID);
typedef VOID(WINAPI *DeleteBoundaryDescriptorCall)(HANDLE);
typedef HANDLE(WINAPI *CreateNamespaceCall)(LPSECURITY_ATTRIBUTES, LPVOID, LPCSTR);
typedef HANDLE(WINAPI *OpenNamespaceCall)(LPVOID, LPCSTR);
typedef BOOLEAN(WINAPI *CloseNamespaceCall)(HANDLE, ULONG);

// The private-namespace calls, looked up: a system without them (Wine) still
// loads the library.
struct NamespaceCalls {
  CreateBoundaryDescriptorCall createBoundary = nullptr;
  AddSidCall addSid = nullptr;
  DeleteBoundaryDescriptorCall deleteBoundary = nullptr;
  CreateNamespaceCall createNamespace = nullptr;
  OpenNamespaceCall openNamespace = nullptr;
  CloseNamespaceCall closeNamespace = nullptr;
  NamespaceCalls() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (!kernel)
      return;
    createBoundary = reinterpret_cast<CreateBoundaryDescriptorCall>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "CreateBoundaryDescriptorA")));
    addSid = reinterpret_cast<AddSidCall>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "AddSIDToBoundaryDescriptor")));
    deleteBoundary = reinterpret_cast<DeleteBoundaryDescriptorCall>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "DeleteBoundaryDescriptor")));
    createNamespace = reinterpret_cast<CreateNamespaceCall>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "CreatePrivateNamespaceA")));
    openNamespace = reinterpret_cast<OpenNamespaceCall>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "OpenPrivateNamespaceA")));
    closeNamespace = reinterpret_cast<CloseNamespaceCall>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "ClosePrivateNamespace")));
  }
  bool Available() const {
    return createBoundary && addSid && deleteBoundary && createNamespace && openNamespace && closeNamespace;
  }
};

class CreationLock {
public:
  CreationLock() {
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kCreationAccess, SDDL_REVISION_1, &m_descriptor,
                                                              NULL))
      return;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, m_descriptor, FALSE};
    const char *name = kCreationMutex;
    if (m_calls.Available()) {
      // Without the namespace (no Administrators group here) there is no
      // lock, and the machine's key could not be written anyway.
      if (!OpenNamespace(attributes))
        return;
      name = kCreationMutexInNamespace;
    }
    m_mutex = CreateMutexA(&attributes, FALSE, name);
    if (m_mutex) {
      DWORD wait = WaitForSingleObject(m_mutex, kCreationWait);
      m_owned = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    }
  }
  ~CreationLock() {
    if (m_owned)
      ReleaseMutex(m_mutex);
    if (m_mutex)
      CloseHandle(m_mutex);
    if (m_namespace)
      m_calls.closeNamespace(m_namespace, 0);
    if (m_boundary)
      m_calls.deleteBoundary(m_boundary);
    if (m_descriptor)
      LocalFree(m_descriptor);
  }
  CreationLock(const CreationLock &) = delete;
  CreationLock &operator=(const CreationLock &) = delete;
  bool Owned() const { return m_owned; }

private:
  bool OpenNamespace(SECURITY_ATTRIBUTES &attributes) {
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof sid;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, NULL, sid, &sidSize))
      return false;
    m_boundary = m_calls.createBoundary(kCreationNamespace, 0);
    if (!m_boundary || !m_calls.addSid(&m_boundary, sid))
      return false;
    m_namespace = m_calls.createNamespace(&attributes, m_boundary, kCreationNamespace);
    if (!m_namespace && GetLastError() == ERROR_ALREADY_EXISTS)
      m_namespace = m_calls.openNamespace(m_boundary, kCreationNamespace);
    return m_namespace != NULL;
  }

  NamespaceCalls m_calls;
  PSECURITY_DESCRIPTOR m_descriptor = NULL;
  HANDLE m_boundary = NULL;
  HANDLE m_namespace = NULL;
  HANDLE m_mutex = NULL;
  bool m_owned = false;
};

} // namespace

bool RandomHexText(unsigned count, std::string &text) {
  text.clear();
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextA(&provider, NULL, NULL, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT | CRYPT_SILENT))
    return false;
  std::vector<BYTE> bytes(count, 0);
  bool made = CryptGenRandom(provider, count, bytes.data()) != FALSE;
  CryptReleaseContext(provider, 0);
  if (!made)
    return false;
  static const char kDigits[] = "0123456789ABCDEF";
  for (BYTE byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  SecureZeroMemory(bytes.data(), bytes.size());
  return true;
}

bool CreateRegistryPassPhrase() {
  CreationLock lock;
  if (!lock.Owned())
    return false;
  PSECURITY_DESCRIPTOR descriptor = NULL;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kPassPhraseKeyAccess, SDDL_REVISION_1, &descriptor,
                                                            NULL))
    return false;
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
  HKEY key = NULL;
  LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPassPhraseKey, 0, NULL, REG_OPTION_NON_VOLATILE,
                                KEY_QUERY_VALUE | KEY_SET_VALUE | WRITE_DAC, &attributes, &key, NULL);
  bool created = false;
  if (status == ERROR_SUCCESS) {
    // Any value of that name, even one we can't read, stays as it is.
    bool missing = RegQueryValueExA(key, kPassPhraseValue, NULL, NULL, NULL, NULL) == ERROR_FILE_NOT_FOUND;
    std::string phrase;
    // The key may have been made before with wider access: the phrase goes
    // in only once the key is closed to everyone else.
    if (missing && RandomHexText(kCreatedPassPhraseBytes, phrase) &&
        RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS)
      created = RegSetValueExA(key, kPassPhraseValue, 0, REG_SZ, reinterpret_cast<const BYTE *>(phrase.c_str()),
                               static_cast<DWORD>(phrase.size() + 1)) == ERROR_SUCCESS;
    SecureZeroMemory(&phrase[0], phrase.size());
    RegCloseKey(key);
  }
  LocalFree(descriptor);
  return created;
}
