#include "ScriptLanguage.h"

#include <string.h>

const char kVBScript[] = "VBScript";
const char kJScript[] = "JScript";

const char kVBScriptMissing[] =
    "Error: VBScript is not installed on this computer. Add the optional Windows feature "
    "\"VBScript\" (Settings > System > Optional features), or as administrator run "
    "DISM /Online /Add-Capability /CapabilityName:VBSCRIPT~~~~. JScript (.js) scripts still run.";

namespace {

bool EndsWithNoCase(const std::string &text, const char *suffix) {
  size_t n = strlen(suffix);
  if (text.size() < n)
    return false;
  for (size_t i = 0; i < n; ++i) {
    char c = text[text.size() - n + i];
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
    if (c != suffix[i])
      return false;
  }
  return true;
}

} // namespace

const char *ScriptLanguageOf(const std::string &path) {
  if (EndsWithNoCase(path, ".vbs"))
    return kVBScript;
  if (EndsWithNoCase(path, ".js"))
    return kJScript;
  return "";
}

const char *StandardLibraryFor(const char *script) {
  return script && ScriptLanguageOf(script) == kJScript ? "StdLib.js" : "StdLib.vbs";
}

std::string UnknownErrorText(const std::string &language) {
  return "Error: Unknown " + (language == kJScript ? std::string(kJScript) : std::string(kVBScript)) +
         " error.";
}
