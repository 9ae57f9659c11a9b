#include "ScriptObject.h"

#include "ScriptLanguage.h"
#include "WScriptObject.h"

#include <stdio.h>
#include <string.h>

BSTR BstrFromAnsi(const char *text, int length) {
  int wide = MultiByteToWideChar(CP_ACP, 0, text, length, NULL, 0);
  if (wide <= 0 && length != 0)
    return NULL;
  if (length < 0 && wide > 0)
    --wide; // not the terminating zero
  BSTR out = SysAllocStringLen(NULL, wide);
  if (out && wide > 0)
    MultiByteToWideChar(CP_ACP, 0, text, length < 0 ? wide : length, out, wide);
  return out;
}

std::string AnsiFromWide(const wchar_t *text, int length) {
  if (!text || length == 0)
    return std::string();
  int bytes = WideCharToMultiByte(CP_ACP, 0, text, length, NULL, 0, NULL, NULL);
  if (bytes <= 0)
    return std::string();
  std::string out(bytes, '\0');
  WideCharToMultiByte(CP_ACP, 0, text, length, &out[0], bytes, NULL, NULL);
  if (length < 0 && !out.empty() && out.back() == '\0')
    out.pop_back();
  return out;
}

std::string ComErrorText(HRESULT hr) {
  char *buffer = NULL;
  DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                    FORMAT_MESSAGE_IGNORE_INSERTS,
                                NULL, static_cast<DWORD>(hr), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                reinterpret_cast<LPSTR>(&buffer), 0, NULL);
  if (length && buffer) {
    std::string text(buffer, length);
    LocalFree(buffer);
    if (!text.empty() && text.back() == '\n')
      text.pop_back();
    if (!text.empty() && text.back() == '\r')
      text.pop_back();
    return text;
  }
  if (buffer)
    LocalFree(buffer);
  char text[64];
  DWORD code = static_cast<DWORD>(hr);
  if (code >= 0x80040200 && code <= 0x8004FFFF)
    snprintf(text, sizeof text, "IDispatch error #%d", static_cast<int>(code - 0x80040200));
  else
    snprintf(text, sizeof text, "Unknown error 0x%0lX", static_cast<unsigned long>(code));
  return text;
}

CScriptObject::CScriptObject()
    : m_engine(NULL), m_wscript(NULL), m_codeLoaded(false), m_vbscriptMissing(false), m_creation(S_OK) {
  m_engine = CreateScriptEngine(kJScript, &m_creation);
  if (m_engine) {
    m_language = kJScript;
    m_creation = S_OK;
    m_wscript = CreateWScriptObject();
    m_creation = m_wscript ? m_engine->SetHostObject(kWScriptName, WScriptDispatch(m_wscript)) : E_OUTOFMEMORY;
  }
}

CScriptObject::~CScriptObject() {
  delete m_engine;
  ReleaseWScriptObject(m_wscript);
}

namespace {

std::wstring WideFromAnsi(const std::string &text) {
  int wide = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), NULL, 0);
  std::wstring out(wide > 0 ? wide : 0, L'\0');
  if (wide > 0)
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], wide);
  return out;
}

} // namespace

CScriptObject::RunStart CScriptObject::StartRun(const std::string &argument, long timeLimitSeconds) {
  RunStart start;
  std::vector<std::string> files;
  files.swap(m_deferred);
  BeginWScriptRun(m_wscript, WideFromAnsi(files.empty() ? std::string() : files.back()), WideFromAnsi(argument),
                  timeLimitSeconds);
  if (!m_engine || files.empty())
    return start;
  start.hadCode = true;
  for (const std::string &path : files) {
    BSTR code = m_files.Text(path);
    if (!code) {
      m_pendingError = "Error: " + path + " can't be read.";
      start.failed = true;
      break;
    }
    bool ok = SUCCEEDED(m_engine->AddCode(code));
    if (!ok) {
      start.failed = true;
      break;
    }
  }
  RefreshProcedures();
  start.quit = TakeQuit(&start.quitCode, &start.stopped);
  if (start.quit)
    start.failed = false;
  return start;
}

bool CScriptObject::TakeQuit(long *code, bool *stopped) {
  if (!WScriptQuitRequested(m_wscript, code))
    return false;
  *stopped = WScriptStopped(m_wscript);
  ScriptEngineError dropped;
  if (m_engine)
    m_engine->TakeError(&dropped);
  m_pendingError.clear();
  return true;
}

void CScriptObject::EndRun() { EndWScriptRun(m_wscript); }

bool CScriptObject::HasProcedure(const char *name, std::string *defined) const {
  for (const std::string &listed : m_procedures)
    if (lstrcmpiA(listed.c_str(), name) == 0) {
      if (defined)
        *defined = listed;
      return true;
    }
  return false;
}

HRESULT CScriptObject::SetLanguage(const char *language) {
  m_language.assign(language, strnlen(language, 40));
  m_procedures.clear();
  m_deferred.clear();
  m_codeLoaded = false;
  m_vbscriptMissing = false;
  if (!m_engine)
    return E_POINTER;
  HRESULT hr = m_engine->SetLanguage(m_language);
  // Anything that keeps the VBScript engine from being made means, for the
  // administrator, that the Windows feature is missing.
  if (FAILED(hr) && m_language == kVBScript)
    m_vbscriptMissing = true;
  return hr;
}

HRESULT CScriptObject::SetTimeout(long milliseconds) {
  return m_engine ? m_engine->SetTimeout(milliseconds) : E_POINTER;
}

HRESULT CScriptObject::SetAllowUI(bool allow) {
  return m_engine ? m_engine->SetAllowUI(allow) : E_POINTER;
}

bool CScriptObject::LoadFile(const std::string &path, bool deferred) {
  if (!m_engine)
    return false;
  const char *language = ScriptLanguageOf(path);
  if (*language && m_language != language) {
    if (m_codeLoaded) {
      m_pendingError = "Error: " + path + " is not " + m_language + " like the code loaded before it.";
      return false;
    }
    if (FAILED(SetLanguage(language)))
      return false;
  }
  // Kept by the cache, which reads the file again only when it changed.
  BSTR code = m_files.Text(path);
  if (!code)
    return false;
  if (deferred) {
    m_deferred.push_back(path);
    m_codeLoaded = true;
    return true;
  }
  bool ok = SUCCEEDED(m_engine->AddCode(code));
  // Code that failed half-way may still have defined names.
  m_codeLoaded = true;
  RefreshProcedures();
  return ok;
}

bool CScriptObject::RefreshProcedures() {
  m_procedures.clear();
  return m_engine && SUCCEEDED(m_engine->ListProcedures(&m_procedures));
}

bool CScriptObject::CallProcedure(const std::string &name, SAFEARRAY *arguments, VARIANT *result) {
  if (!m_engine)
    return false;
  bool listed = false;
  for (const std::string &known : m_procedures)
    if (known == name)
      listed = true;
  if (!listed)
    return false;
  VARIANT fresh;
  VariantInit(&fresh);
  HRESULT hr = m_engine->Run(name, arguments, &fresh);
  if (SUCCEEDED(hr)) {
    VariantInit(result);
    hr = VariantCopy(result, &fresh);
  }
  VariantClear(&fresh);
  return SUCCEEDED(hr);
}

void CScriptObject::PrepareNextEngine() {
  if (m_engine && !m_vbscriptMissing)
    m_engine->PrepareReset();
}

void CScriptObject::ResetEngine() {
  if (m_engine && !m_vbscriptMissing)
    m_engine->Reset();
  m_procedures.clear();
  m_deferred.clear();
  m_codeLoaded = false;
  m_pendingError.clear();
}

const std::string &CScriptObject::ErrorText() {
  m_lastError.clear();
  if (!m_engine)
    return m_lastError;
  std::string out;
  ScriptEngineError error;
  bool present = m_engine->TakeError(&error);
  if (m_vbscriptMissing) {
    out = kVBScriptMissing;
  } else if (!m_pendingError.empty()) {
    out = m_pendingError;
  } else if (present && !error.description.empty()) {
    out = "Error: " + AnsiFromWide(error.description.c_str(), static_cast<int>(error.description.size())) +
          ", " + AnsiFromWide(error.text.c_str(), static_cast<int>(error.text.size())) + "; in line " +
          std::to_string(error.line);
  } else if (present && !error.source.empty()) {
    out = "Error: " + AnsiFromWide(error.source.c_str(), static_cast<int>(error.source.size()));
  } else if (present && !error.text.empty()) {
    out = "Error: " + AnsiFromWide(error.text.c_str(), static_cast<int>(error.text.size()));
  } else {
    out = UnknownErrorText(m_language);
  }
  m_pendingError.clear();
  m_lastError = out.substr(0, kErrorTextMax);
  return m_lastError;
}
