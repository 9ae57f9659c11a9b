// The installation's pass phrase, made at first need: random, from the
// system's cryptographic source, in a registry key that only administrators
// and the local system account may open. An existing pass phrase is never
// replaced: values enciphered under it would be lost.
#ifndef PASSPHRASECREATION_H
#define PASSPHRASECREATION_H

#include <string>

// Random bytes of a new pass phrase (written as 64 hexadecimal digits).
const unsigned kCreatedPassPhraseBytes = 32;
// Access given to the key that holds a created pass phrase: full control for
// the local system account and the administrators, nothing inherited.
extern const char kPassPhraseKeyAccess[];

// Makes the pass phrase when the installation has none. True when one was
// written; false when one already exists or it could not be made (no right
// to the machine's key, no random source).
typedef bool (*PassPhraseCreator)();
extern PassPhraseCreator g_passPhraseCreator;
bool CreateRegistryPassPhrase();

// `count` random bytes from the system's source as upper-case hexadecimal.
bool RandomHexText(unsigned count, std::string &text);

#endif
