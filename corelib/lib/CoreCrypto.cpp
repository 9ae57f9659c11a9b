#include "CoreCrypto.h"

#include <wincrypt.h>
#include <stdio.h>
#include <vector>

#include "PassPhraseCreation.h"

const char kPassPhraseKey[] = "software\\Brenlow Software\\Quillmoth\\Security";
const char kPassPhraseValue[] = "PassPhrase";
const char kNoPassPhraseText[] = "No pass phrase is set for this installation.";
const char kUnreadablePassPhraseText[] =
    "The pass phrase of this installation cannot be read by this account: only administrators and the account "
    "the service runs as can read it.";

PassPhraseSource g_passPhraseSource = RegistryPassPhrase;

namespace {

const DWORD kWorkBuffer = 8192;
thread_local DWORD t_lastError = 0;

// One context, hash and key, released on every path.
class CipherKey {
public:
  CipherKey() {}
  ~CipherKey() {
    if (m_key)
      CryptDestroyKey(m_key);
    if (m_provider)
      CryptReleaseContext(m_provider, 0);
  }
  CipherKey(const CipherKey &) = delete;
  CipherKey &operator=(const CipherKey &) = delete;

  CipherStatus Derive(const std::string &material) {
    if (!CryptAcquireContextA(&m_provider, NULL, MS_DEF_PROV_A, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
      t_lastError = GetLastError();
      m_provider = 0;
      return kCipherNoContext;
    }
    HCRYPTHASH hash = 0;
    if (!CryptCreateHash(m_provider, CALG_MD5, 0, 0, &hash)) {
      t_lastError = GetLastError();
      return kCipherFailed;
    }
    bool derived = CryptHashData(hash, reinterpret_cast<const BYTE *>(material.data()),
                                 static_cast<DWORD>(material.size()), 0) &&
                   CryptDeriveKey(m_provider, CALG_RC2, hash, 0, &m_key);
    if (!derived) {
      t_lastError = GetLastError();
      m_key = 0;
    }
    CryptDestroyHash(hash);
    return derived ? kCipherDone : kCipherFailed;
  }
  HCRYPTKEY Key() const { return m_key; }

private:
  HCRYPTPROV m_provider = 0;
  HCRYPTKEY m_key = 0;
};

// Enciphering makes the installation's pass phrase when there is none yet;
// deciphering never does (no value can have been enciphered under it).
CipherStatus KeyFromPassPhrase(CipherKey &key, bool createMissing) {
  std::string phrase;
  SetLastError(ERROR_SUCCESS);
  bool found = g_passPhraseSource && g_passPhraseSource(phrase) && !phrase.empty();
  // One that exists but is closed to this account is not made again.
  if (!found && GetLastError() == ERROR_ACCESS_DENIED) {
    t_lastError = ERROR_ACCESS_DENIED;
    return kCipherPassPhraseUnreadable;
  }
  if (!found && createMissing && g_passPhraseCreator) {
    g_passPhraseCreator(); // false also when another process made it first
    SetLastError(ERROR_SUCCESS);
    found = g_passPhraseSource(phrase) && !phrase.empty();
    if (!found && GetLastError() == ERROR_ACCESS_DENIED) {
      t_lastError = ERROR_ACCESS_DENIED;
      return kCipherPassPhraseUnreadable;
    }
  }
  if (!found)
    return kCipherNoPassPhrase;
  return key.Derive(ReversedPassPhrase(phrase));
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

} // namespace

bool RegistryPassPhrase(std::string &phrase) {
  HKEY key = NULL;
  LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPassPhraseKey, 0, KEY_QUERY_VALUE, &key);
  if (opened != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(opened)); // a refusal is told apart from absence
    return false;
  }
  std::vector<char> buffer(kPassPhraseMax + 1, '\0');
  DWORD type = 0;
  DWORD size = static_cast<DWORD>(kPassPhraseMax);
  LONG status = RegQueryValueExA(key, kPassPhraseValue, NULL, &type, reinterpret_cast<BYTE *>(buffer.data()), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
    SetLastError(status != ERROR_SUCCESS ? static_cast<DWORD>(status) : ERROR_INVALID_DATA);
    return false;
  }
  phrase.assign(buffer.data()); // to the first zero byte
  return !phrase.empty();
}

std::string ReversedPassPhrase(const std::string &phrase) {
  std::vector<std::string> units;
  for (size_t i = 0; i < phrase.size();) {
    size_t step = IsDBCSLeadByte(static_cast<BYTE>(phrase[i])) && i + 1 < phrase.size() ? 2 : 1;
    units.push_back(phrase.substr(i, step));
    i += step;
  }
  std::string reversed;
  for (auto unit = units.rbegin(); unit != units.rend(); ++unit)
    reversed += *unit;
  return reversed;
}

CipherStatus EncryptValue(const char *text, std::string &cipher) {
  cipher.clear();
  size_t length = text ? strlen(text) : 0;
  if (length > kCipherValueMax)
    return kCipherTooLong;
  CipherKey key;
  CipherStatus status = KeyFromPassPhrase(key, true);
  if (status != kCipherDone)
    return status;
  std::vector<BYTE> buffer(kWorkBuffer, 0);
  memcpy(buffer.data(), text, length);
  DWORD size = static_cast<DWORD>(length);
  if (!CryptEncrypt(key.Key(), 0, TRUE, 0, buffer.data(), &size, kWorkBuffer)) {
    t_lastError = GetLastError();
    return kCipherFailed;
  }
  static const char kDigits[] = "0123456789ABCDEF";
  cipher.reserve(size * 2);
  for (DWORD i = 0; i < size; ++i) {
    cipher += kDigits[buffer[i] >> 4];
    cipher += kDigits[buffer[i] & 0x0F];
  }
  return kCipherDone;
}

CipherStatus DecryptValue(const char *text, std::string &plain) {
  plain.clear();
  size_t length = text ? strlen(text) : 0;
  t_lastError = static_cast<DWORD>(NTE_BAD_DATA); // what a text that is no cipher text fails with
  if (length > kCipherTextMax)
    return kCipherFailed;
  std::vector<BYTE> bytes;
  bytes.reserve(length / 2);
  for (size_t i = 0; i + 1 < length; i += 2) { // a trailing odd digit is ignored
    int high = HexDigit(text[i]), low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0)
      return kCipherFailed; // not a cipher text
    bytes.push_back(static_cast<BYTE>(high << 4 | low));
  }
  CipherKey key;
  CipherStatus status = KeyFromPassPhrase(key, false);
  if (status != kCipherDone)
    return status;
  DWORD size = static_cast<DWORD>(bytes.size());
  if (size == 0 || !CryptDecrypt(key.Key(), 0, TRUE, 0, bytes.data(), &size)) {
    t_lastError = size == 0 ? static_cast<DWORD>(NTE_BAD_DATA) : GetLastError();
    return kCipherFailed;
  }
  plain.assign(reinterpret_cast<const char *>(bytes.data()), size);
  plain.resize(strlen(plain.c_str())); // the text ends at its first zero byte
  return kCipherDone;
}

DWORD CipherLastError() { return t_lastError; }

std::string CipherRefusalText(CipherStatus status) {
  char text[160];
  switch (status) {
  case kCipherNoPassPhrase:
    return std::string(kNoPassPhraseText) + " The value was not stored.";
  case kCipherPassPhraseUnreadable:
    return std::string(kUnreadablePassPhraseText) + " The value was not stored.";
  case kCipherTooLong:
    snprintf(text, sizeof text, "A value to encipher may have at most %u characters. The value was not stored.",
             static_cast<unsigned>(kCipherValueMax));
    return text;
  case kCipherNoContext:
    snprintf(text, sizeof text, "CryptAcquireContext failed with error %X. The value was not stored.",
             static_cast<unsigned>(t_lastError));
    return text;
  default:
    snprintf(text, sizeof text, "The value could not be enciphered (error %X). It was not stored.",
             static_cast<unsigned>(t_lastError));
    return text;
  }
}

std::string CipherUnreadableText(CipherStatus status) {
  char text[160];
  switch (status) {
  case kCipherDone:
    return std::string();
  case kCipherNoPassPhrase:
    return std::string(kNoPassPhraseText) + " The value cannot be deciphered; empty text is returned.";
  case kCipherPassPhraseUnreadable:
    return std::string(kUnreadablePassPhraseText) + " Empty text is returned.";
  case kCipherNoContext:
    snprintf(text, sizeof text, "CryptAcquireContext failed with error %X. Empty text is returned.",
             static_cast<unsigned>(t_lastError));
    return text;
  default:
    snprintf(text, sizeof text,
             "The stored value is no cipher text of this installation's pass phrase (error %X). Empty text is "
             "returned.",
             static_cast<unsigned>(t_lastError));
    return text;
  }
}
