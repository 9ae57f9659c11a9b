// The small interface a worker needs from a script engine, whichever way the
// engine is hosted: directly through Active Scripting (our own host) or
// through the Script Control.
#ifndef SCRIPTENGINE_H
#define SCRIPTENGINE_H

#include <windows.h>
#include <oaidl.h>
#include <string>
#include <vector>

// The last error an engine reported, as the engine gave it.
struct ScriptEngineError {
  std::wstring description;
  std::wstring source;
  std::wstring text; // the source text of the failing line
  long line = 0;     // 1 for the first line of the code added
};

class ScriptEngine {
public:
  virtual ~ScriptEngine() {}
  // Which host this is, for the log and the README's question "which runs".
  virtual const char *HostName() const = 0;
  // Chooses the language; the engine is empty afterwards.
  virtual HRESULT SetLanguage(const std::string &language) = 0;
  virtual HRESULT SetTimeout(long milliseconds) = 0;
  virtual HRESULT SetAllowUI(bool allow) = 0;
  // Adds code; its global statements run at once.
  virtual HRESULT AddCode(BSTR code) = 0;
  // Names of the procedures defined so far, in the engine's order.
  virtual HRESULT ListProcedures(std::vector<std::string> *names) = 0;
  // Calls a procedure with the elements of a one-dimensional VARIANT array.
  virtual HRESULT Run(const std::string &procedure, SAFEARRAY *arguments, VARIANT *result) = 0;
  // Drops all code and state.
  virtual HRESULT Reset() = 0;
  // Gets ready for the next Reset while nothing runs (a host that can make
  // its empty engine ahead of time does it here).
  virtual void PrepareReset() {}
  // Ends the code running in the engine, from any thread; E_NOTIMPL where
  // the host has no way to.
  virtual HRESULT Interrupt() { return E_NOTIMPL; }
  // Moves the last error out of the engine; false when there is none.
  virtual bool TakeError(ScriptEngineError *error) = 0;
  // An object every script finds by the name, in this engine and in every
  // one a reset makes. The engine keeps a reference.
  virtual HRESULT SetHostObject(const wchar_t *name, IDispatch *object) = 0;
};

// Which hosts to try, in order: our own first unless the process variable
// QM.SCRIPT_HOST says "ScriptControl".
enum ScriptHostKind { HOST_ACTIVE_SCRIPT, HOST_SCRIPT_CONTROL };

// Creates an engine of the language on the calling thread (a COM apartment),
// trying the preferred host first and the other one when it can't be made.
// Null with the reason in *failure.
ScriptEngine *CreateScriptEngine(const std::string &language, HRESULT *failure);

ScriptEngine *CreateActiveScriptEngine(const std::string &language, HRESULT *failure);
ScriptEngine *CreateScriptControlEngine(const std::string &language, HRESULT *failure);

// The two hosts' constructors, as CreateScriptEngine calls them; tests put
// a failing one in place to see the other one chosen.
struct ScriptHostCalls {
  ScriptEngine *(*createActiveScript)(const std::string &language, HRESULT *failure);
  ScriptEngine *(*createScriptControl)(const std::string &language, HRESULT *failure);
};
extern ScriptHostCalls g_scriptHostCalls;

// The host chosen by QM.SCRIPT_HOST.
ScriptHostKind PreferredScriptHost();

// Text helpers shared by the hosts.
std::string AnsiFromWide(const wchar_t *text, int length = -1);
BSTR BstrFromAnsi(const char *text, int length);

#endif
