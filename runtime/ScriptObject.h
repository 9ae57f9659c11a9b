// One script engine on a worker thread, behind the small engine interface
// (our own Active Scripting host, or the Script Control).
#ifndef SCRIPTOBJECT_H
#define SCRIPTOBJECT_H

#include <windows.h>
#include <string>
#include <vector>

#include "ScriptEngine.h"
#include "ScriptFileCache.h"

class CScriptObject {
public:
  // Creates the engine on the calling thread; check CreationResult() after.
  CScriptObject();
  ~CScriptObject();

  HRESULT CreationResult() const { return m_creation; }
  const char *HostName() const { return m_engine ? m_engine->HostName() : ""; }

  HRESULT SetLanguage(const char *language);
  HRESULT SetTimeout(long milliseconds);
  HRESULT SetAllowUI(bool allow);
  // Loads a file into the engine; a .vbs or .js file into an empty engine
  // first selects its language.
  bool LoadFile(const std::string &path);
  bool RefreshProcedures();
  bool CallProcedure(const std::string &name, SAFEARRAY *arguments, VARIANT *result);
  void ResetEngine();
  // Ends the running code from another thread (a run past its time limit).
  HRESULT Interrupt() { return m_engine ? m_engine->Interrupt() : E_UNEXPECTED; }
  // Makes the empty engine of the next reset now, while the worker is idle.
  void PrepareNextEngine();
  // Where scripts are found and their texts, kept between runs.
  ScriptFileCache &Files() { return m_files; }
  // Composes the engine's last error as one line (at most 256 bytes), then
  // clears the error in the engine.
  const std::string &ErrorText();

  // True while the selected language is VBScript and its engine can't be
  // created on this computer.
  bool VBScriptMissing() const { return m_vbscriptMissing; }

  const std::vector<std::string> &Procedures() const { return m_procedures; }
  const std::string &Language() const { return m_language; }

  static const size_t kErrorTextMax = 256;

private:
  CScriptObject(const CScriptObject &) = delete;
  CScriptObject &operator=(const CScriptObject &) = delete;

  ScriptEngine *m_engine;
  ScriptFileCache m_files;
  std::vector<std::string> m_procedures;
  std::string m_language;
  std::string m_lastError;
  std::string m_pendingError; // a failure of ours to report instead of the engine's
  bool m_codeLoaded;
  bool m_vbscriptMissing;
  HRESULT m_creation;
};

// Text of a failed HRESULT for the diagnostic log.
std::string ComErrorText(HRESULT hr);

#endif
