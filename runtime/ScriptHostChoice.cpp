// Which host a worker's engine runs in: our own Active Scripting host, or
// the Script Control when ours can't be created or the administrator asks
// for it with the process variable QM.SCRIPT_HOST=ScriptControl.
#include "ScriptEngine.h"

ScriptHostCalls g_scriptHostCalls = {CreateActiveScriptEngine, CreateScriptControlEngine};

ScriptHostKind PreferredScriptHost() {
  char value[32] = "";
  DWORD length = GetEnvironmentVariableA("QM.SCRIPT_HOST", value, sizeof value);
  if (length > 0 && length < sizeof value && lstrcmpiA(value, "ScriptControl") == 0)
    return HOST_SCRIPT_CONTROL;
  return HOST_ACTIVE_SCRIPT;
}

ScriptEngine *CreateScriptEngine(const std::string &language, HRESULT *failure) {
  typedef ScriptEngine *(*Create)(const std::string &, HRESULT *);
  Create order[2] = {g_scriptHostCalls.createActiveScript, g_scriptHostCalls.createScriptControl};
  if (PreferredScriptHost() == HOST_SCRIPT_CONTROL) {
    order[0] = g_scriptHostCalls.createScriptControl;
    order[1] = g_scriptHostCalls.createActiveScript;
  }
  HRESULT first = S_OK;
  ScriptEngine *engine = order[0](language, &first);
  if (!engine)
    engine = order[1](language, failure);
  if (!engine)
    *failure = first; // the preferred host's reason is the one worth logging
  return engine;
}
