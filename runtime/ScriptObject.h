// One VBScript engine on a worker thread, through the Script Control.
#ifndef SCRIPTOBJECT_H
#define SCRIPTOBJECT_H

#include <windows.h>
#include <string>
#include <vector>

#include "ScriptControl.h"

class CScriptObject {
public:
  // Creates the Script Control on the calling thread; check Failed() after.
  CScriptObject();
  ~CScriptObject();

  HRESULT CreationResult() const { return m_creation; }

  HRESULT SetLanguage(const char *language);
  HRESULT SetTimeout(long milliseconds);
  HRESULT SetAllowUI(bool allow);
  bool LoadFile(const std::string &path);
  bool RefreshProcedures();
  bool CallProcedure(const std::string &name, SAFEARRAY *arguments, VARIANT *result);
  void ResetEngine();
  // Composes the engine's last error as one line (at most 256 bytes), then
  // clears the error in the engine.
  const std::string &ErrorText();

  const std::vector<std::string> &Procedures() const { return m_procedures; }
  const std::string &Language() const { return m_language; }

  static const size_t kErrorTextMax = 256;

private:
  CScriptObject(const CScriptObject &) = delete;
  CScriptObject &operator=(const CScriptObject &) = delete;

  IScriptControl *m_control;
  std::vector<std::string> m_procedures;
  std::string m_language;
  std::string m_lastError;
  HRESULT m_creation;
};

// Text of a failed HRESULT for the diagnostic log.
std::string ComErrorText(HRESULT hr);

// Wide automation text to the system's ANSI code page.
std::string AnsiFromWide(const wchar_t *text, int length = -1);

#endif
