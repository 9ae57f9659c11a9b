#include "ScriptObject.h"

#include <stdio.h>
#include <string.h>

namespace {

// Large enough for any script a person writes; a bigger file is refused
// rather than read into memory whole.
const DWORD kScriptFileMax = 64 * 1024 * 1024;

BSTR BstrFromAnsi(const char *text, int length) {
  int wide = MultiByteToWideChar(CP_ACP, 0, text, length, NULL, 0);
  if (wide <= 0 && length != 0)
    return NULL;
  BSTR out = SysAllocStringLen(NULL, wide);
  if (out && wide > 0)
    MultiByteToWideChar(CP_ACP, 0, text, length, out, wide);
  return out;
}

std::string TakeBstr(BSTR text) {
  std::string out = text ? AnsiFromWide(text, SysStringLen(text)) : std::string();
  SysFreeString(text);
  return out;
}

} // namespace

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

CScriptObject::CScriptObject() : m_control(NULL), m_creation(S_OK) {
  CLSID clsid;
  IUnknown *unknown = NULL;
  m_creation = CLSIDFromProgID(SCRIPT_CONTROL_PROGID, &clsid);
  if (SUCCEEDED(m_creation))
    m_creation = CoCreateInstance(clsid, NULL, CLSCTX_ALL, IID_IUnknown,
                                  reinterpret_cast<void **>(&unknown));
  if (SUCCEEDED(m_creation))
    m_creation = OleRun(unknown);
  if (SUCCEEDED(m_creation))
    m_creation = unknown->QueryInterface(IID_IScriptControl, reinterpret_cast<void **>(&m_control));
  if (unknown)
    unknown->Release();
  if (SUCCEEDED(m_creation))
    m_creation = m_control->put_AllowUI(VARIANT_FALSE);
  if (SUCCEEDED(m_creation)) {
    m_language = "JScript";
    BSTR language = SysAllocString(L"JScript");
    m_creation = m_control->put_Language(language);
    SysFreeString(language);
  }
}

CScriptObject::~CScriptObject() {
  if (m_control)
    m_control->Release();
}

HRESULT CScriptObject::SetLanguage(const char *language) {
  m_language.assign(language, strnlen(language, 40));
  m_procedures.clear();
  if (!m_control)
    return E_POINTER;
  BSTR name = BstrFromAnsi(m_language.c_str(), -1);
  HRESULT hr = name ? m_control->put_Language(name) : E_OUTOFMEMORY;
  SysFreeString(name);
  if (SUCCEEDED(hr))
    hr = m_control->Reset();
  return hr;
}

HRESULT CScriptObject::SetTimeout(long milliseconds) {
  return m_control ? m_control->put_Timeout(milliseconds) : E_POINTER;
}

HRESULT CScriptObject::SetAllowUI(bool allow) {
  return m_control ? m_control->put_AllowUI(allow ? VARIANT_TRUE : VARIANT_FALSE) : E_POINTER;
}

bool CScriptObject::LoadFile(const std::string &path) {
  if (!m_control)
    return false;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  bool ok = false;
  DWORD high = 0;
  DWORD size = GetFileSize(file, &high);
  if (size != INVALID_FILE_SIZE && high == 0 && size <= kScriptFileMax) {
    char *text = static_cast<char *>(calloc(size + 1, 1));
    DWORD read = 0;
    if (text && ReadFile(file, text, size, &read, NULL) && read == size) {
      BSTR code = BstrFromAnsi(text, static_cast<int>(size));
      if (code) {
        ok = SUCCEEDED(m_control->AddCode(code));
        SysFreeString(code);
      }
    }
    free(text);
  }
  CloseHandle(file);
  if (ok)
    RefreshProcedures();
  return ok;
}

bool CScriptObject::RefreshProcedures() {
  m_procedures.clear();
  if (!m_control)
    return false;
  IScriptProcedureCollection *procedures = NULL;
  if (FAILED(m_control->get_Procedures(&procedures)) || !procedures)
    return false;
  long count = 0;
  bool ok = SUCCEEDED(procedures->get_Count(&count));
  for (long i = 1; ok && i <= count; ++i) {
    VARIANT index;
    VariantInit(&index);
    V_VT(&index) = VT_I4;
    V_I4(&index) = i;
    IScriptProcedure *procedure = NULL;
    BSTR name = NULL;
    ok = SUCCEEDED(procedures->get_Item(index, &procedure)) && procedure &&
         SUCCEEDED(procedure->get_Name(&name));
    if (ok)
      m_procedures.push_back(TakeBstr(name));
    if (procedure)
      procedure->Release();
  }
  procedures->Release();
  return ok;
}

bool CScriptObject::CallProcedure(const std::string &name, SAFEARRAY *arguments, VARIANT *result) {
  if (!m_control)
    return false;
  bool listed = false;
  for (const std::string &known : m_procedures)
    if (known == name)
      listed = true;
  if (!listed)
    return false;
  BSTR procedure = BstrFromAnsi(name.c_str(), -1);
  if (!procedure)
    return false;
  IScriptControl *control = m_control;
  control->AddRef(); // the script may reach back into us while it runs
  VARIANT fresh;
  VariantInit(&fresh);
  HRESULT hr = control->Run(procedure, &arguments, &fresh);
  if (SUCCEEDED(hr)) {
    VariantInit(result);
    hr = VariantCopy(result, &fresh);
  }
  VariantClear(&fresh);
  control->Release();
  SysFreeString(procedure);
  return SUCCEEDED(hr);
}

// Some Script Control implementations keep an engine's constants and globals
// across Reset; choosing the language anew always starts an empty engine, so
// the next script never meets its predecessor's names.
void CScriptObject::ResetEngine() {
  if (m_control) {
    m_control->Reset();
    BSTR other = SysAllocString(m_language == "JScript" ? L"VBScript" : L"JScript");
    BSTR language = BstrFromAnsi(m_language.c_str(), -1);
    if (other && language) {
      m_control->put_Language(other);
      m_control->put_Language(language);
    }
    SysFreeString(other);
    SysFreeString(language);
  }
  m_procedures.clear();
}

const std::string &CScriptObject::ErrorText() {
  m_lastError.clear();
  if (!m_control)
    return m_lastError;
  IScriptError *error = NULL;
  if (FAILED(m_control->get_Error(&error)) || !error)
    return m_lastError;
  BSTR description = NULL, text = NULL, source = NULL;
  long line = 0;
  error->get_Description(&description);
  error->get_Text(&text);
  error->get_Source(&source);
  error->get_Line(&line);
  std::string out;
  if (description && SysStringLen(description))
    out = "Error: " + AnsiFromWide(description, SysStringLen(description)) + ", " +
          AnsiFromWide(text, text ? SysStringLen(text) : 0) + "; in line " + std::to_string(line);
  else if (source && SysStringLen(source))
    out = "Error: " + AnsiFromWide(source, SysStringLen(source));
  else if (text && SysStringLen(text))
    out = "Error: " + AnsiFromWide(text, SysStringLen(text));
  else
    out = "Error: Unknown VBScript error.";
  SysFreeString(description);
  SysFreeString(text);
  SysFreeString(source);
  m_lastError = out.substr(0, kErrorTextMax);
  error->Clear();
  error->Release();
  return m_lastError;
}
