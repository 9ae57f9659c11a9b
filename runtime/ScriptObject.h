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
  // first selects its language. A deferred file is checked and read now
  // but its code goes into the engine at the run's start (StartRun), as its
  // global code may be the job itself.
  bool LoadFile(const std::string &path, bool deferred = false);

  // How the deferred code went at the run's start.
  struct RunStart {
    bool hadCode = false; // a deferred file was loaded
    bool failed = false;  // its code failed (the error waits in ErrorText)
    bool quit = false;    // it called WScript.Quit (or was stopped while sleeping)
    bool stopped = false; // a stop request ended it
    long quitCode = 0;
  };
  // A run begins: the WScript object learns the script and the argument
  // text, and the deferred code is added (its global code runs).
  RunStart StartRun(const std::string &argument, long timeLimitSeconds);
  // Quit was called during main: the run's code; the error Quit left is
  // dropped.
  bool TakeQuit(long *code, bool *stopped);
  // The run ended: the WScript object's unfinished output lines go out.
  void EndRun();
  // True when the loaded code defines the procedure (case-blind); its name
  // as defined in *defined.
  bool HasProcedure(const char *name, std::string *defined = NULL) const;
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
  class WScriptObject *m_wscript;
  std::vector<std::string> m_deferred; // files whose code waits for the run
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
