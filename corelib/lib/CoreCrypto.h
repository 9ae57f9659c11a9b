// Enciphered variable values: RC2 with a key derived (MD5) from the
// installation's pass phrase, written as upper-case hexadecimal text.
//
// The pass phrase is read from the machine's registry at every call, so all
// processes of the installation use the same one and a change takes effect
// at once: value PassPhrase (REG_SZ) of
// HKEY_LOCAL_MACHINE\software\Brenlow Software\Quillmoth\Security.
#ifndef CORECRYPTO_H
#define CORECRYPTO_H

#include <windows.h>
#include <string>

enum CipherStatus {
  kCipherDone,
  kCipherNoPassPhrase, // none is set for the installation
  kCipherPassPhraseUnreadable, // one is set, but this account may not read it
  kCipherTooLong,      // the value is longer than kCipherValueMax
  kCipherNoContext,    // the cryptographic provider is not available
  kCipherFailed,       // the platform refused the text (not our cipher, wrong pass phrase...)
};

// Longest value that can be enciphered: its cipher text of at most 8176
// digits fits the 8192-character result with its terminator.
const size_t kCipherValueMax = 4087;
// Longest stored text that is deciphered; a longer one is no cipher text.
const size_t kCipherTextMax = 16384;
// Longest pass phrase read from the registry.
const size_t kPassPhraseMax = 1024;

extern const char kPassPhraseKey[];
extern const char kPassPhraseValue[];
extern const char kNoPassPhraseText[];
extern const char kUnreadablePassPhraseText[];

// Where the pass phrase comes from; tests put their own here. False when no
// (non-empty) pass phrase is set or it cannot be read; a source that was
// refused access says so with SetLastError(ERROR_ACCESS_DENIED).
typedef bool (*PassPhraseSource)(std::string &phrase);
extern PassPhraseSource g_passPhraseSource;
bool RegistryPassPhrase(std::string &phrase);

// `cipher` gets the hexadecimal text on kCipherDone.
CipherStatus EncryptValue(const char *text, std::string &cipher);
// `plain` gets the deciphered text on kCipherDone and is empty otherwise: a
// stored text that cannot be deciphered is never taken for the value.
CipherStatus DecryptValue(const char *text, std::string &plain);

// The platform's error code of the last failure on this thread.
DWORD CipherLastError();

// Why a value was not stored, for the operator.
std::string CipherRefusalText(CipherStatus status);
// Why a stored value cannot be read, for the operator; empty for kCipherDone.
std::string CipherUnreadableText(CipherStatus status);

// The key material: the pass phrase reversed character by character (a
// double-byte character stays one unit, its bytes in order).
std::string ReversedPassPhrase(const std::string &phrase);

#endif
