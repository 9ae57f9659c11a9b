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
// them makes it, the others then find it.
const char kCreationMutex[] = "Global\\QuillmothPassPhraseCreation";
const DWORD kCreationWait = 10000;

class CreationLock {
public:
  CreationLock() : m_mutex(CreateMutexA(NULL, FALSE, kCreationMutex)), m_owned(false) {
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
  }
  CreationLock(const CreationLock &) = delete;
  CreationLock &operator=(const CreationLock &) = delete;
  bool Owned() const { return m_owned; }

private:
  HANDLE m_mutex;
  bool m_owned;
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
