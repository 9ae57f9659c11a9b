// Which script language a file is written in, and what follows from it.
// Plain text logic, without Windows, so it is tested natively as well.
#ifndef SCRIPTLANGUAGE_H
#define SCRIPTLANGUAGE_H

#include <string>

extern const char kVBScript[];
extern const char kJScript[];

// "VBScript" for a .vbs file, "JScript" for a .js file (any case), "" for
// any other name: such a file is read in the language of the engine.
const char *ScriptLanguageOf(const std::string &path);

// The standard library loaded before a script: StdLib.js before a JScript
// file, StdLib.vbs before everything else.
const char *StandardLibraryFor(const char *script);

// The worker's error line when the VBScript engine can't be created: what
// an administrator can do about it. Fits the worker's 256-byte error text.
extern const char kVBScriptMissing[];

// The text an engine's failure is reported with when it says nothing itself.
std::string UnknownErrorText(const std::string &language);

#endif
