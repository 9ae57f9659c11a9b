// The engine hosted through the Script Control, for machines where our own
// Active Scripting host can't be created (or QM.SCRIPT_HOST asks for it).
#include "ScriptControl.h"
#include "ScriptEngine.h"

#include <new>

namespace {

class ScriptControlEngine : public ScriptEngine {
public:
  explicit ScriptControlEngine(IScriptControl *control) : m_control(control) {}
  ~ScriptControlEngine() override {
    m_control->Release();
    if (m_hostObject)
      m_hostObject->Release();
  }

  HRESULT SetHostObject(const wchar_t *name, IDispatch *object) override {
    if (object)
      object->AddRef();
    if (m_hostObject)
      m_hostObject->Release();
    m_hostObject = object;
    m_hostName = name;
    return AddHostObject();
  }

  const char *HostName() const override { return "Script Control"; }

  HRESULT SetLanguage(const std::string &language) override {
    BSTR name = BstrFromAnsi(language.c_str(), -1);
    HRESULT hr = name ? m_control->put_Language(name) : E_OUTOFMEMORY;
    SysFreeString(name);
    if (SUCCEEDED(hr))
      hr = m_control->Reset();
    if (SUCCEEDED(hr))
      m_language = language;
    m_failedCode = false;
    if (SUCCEEDED(hr))
      hr = AddHostObject();
    return hr;
  }

  HRESULT SetTimeout(long milliseconds) override { return m_control->put_Timeout(milliseconds); }

  HRESULT SetAllowUI(bool allow) override {
    return m_control->put_AllowUI(allow ? VARIANT_TRUE : VARIANT_FALSE);
  }

  HRESULT AddCode(BSTR code) override {
    HRESULT hr = m_control->AddCode(code);
    if (FAILED(hr))
      m_failedCode = true;
    return hr;
  }

  HRESULT ListProcedures(std::vector<std::string> *names) override {
    // The control lists procedures from the engine's type information, and
    // Wine's JScript engine faults reading it once global code ended in an
    // error: after a failed load of JScript no procedure is known.
    if (m_failedCode && m_language == "JScript")
      return E_FAIL;
    IScriptProcedureCollection *procedures = NULL;
    HRESULT hr = m_control->get_Procedures(&procedures);
    if (FAILED(hr) || !procedures)
      return FAILED(hr) ? hr : E_POINTER;
    long count = 0;
    hr = procedures->get_Count(&count);
    for (long i = 1; SUCCEEDED(hr) && i <= count; ++i) {
      VARIANT index;
      VariantInit(&index);
      V_VT(&index) = VT_I4;
      V_I4(&index) = i;
      IScriptProcedure *procedure = NULL;
      BSTR name = NULL;
      hr = procedures->get_Item(index, &procedure);
      if (SUCCEEDED(hr) && procedure)
        hr = procedure->get_Name(&name);
      if (SUCCEEDED(hr) && name)
        names->push_back(AnsiFromWide(name, SysStringLen(name)));
      SysFreeString(name);
      if (procedure)
        procedure->Release();
    }
    procedures->Release();
    return hr;
  }

  HRESULT Run(const std::string &procedure, SAFEARRAY *arguments, VARIANT *result) override {
    BSTR name = BstrFromAnsi(procedure.c_str(), -1);
    if (!name)
      return E_OUTOFMEMORY;
    IScriptControl *control = m_control;
    control->AddRef(); // the script may reach back into us while it runs
    HRESULT hr = control->Run(name, &arguments, result);
    control->Release();
    SysFreeString(name);
    return hr;
  }

  // Some Script Control implementations keep an engine's constants and
  // globals across Reset; choosing the language anew always starts an empty
  // engine, so the next script never meets its predecessor's names.
  HRESULT Reset() override {
    m_failedCode = false;
    HRESULT hr = m_control->Reset();
    BSTR other = SysAllocString(m_language == "JScript" ? L"VBScript" : L"JScript");
    BSTR language = BstrFromAnsi(m_language.c_str(), -1);
    if (other && language) {
      m_control->put_Language(other);
      hr = m_control->put_Language(language);
    }
    SysFreeString(other);
    SysFreeString(language);
    if (SUCCEEDED(hr))
      hr = AddHostObject();
    return hr;
  }

  bool TakeError(ScriptEngineError *out) override {
    IScriptError *error = NULL;
    if (FAILED(m_control->get_Error(&error)) || !error)
      return false;
    BSTR description = NULL, text = NULL, source = NULL;
    long number = 0, line = 0;
    error->get_Number(&number);
    error->get_Description(&description);
    error->get_Text(&text);
    error->get_Source(&source);
    error->get_Line(&line);
    bool present = number != 0 || line != 0 || (description && *description) ||
                   (source && *source) || (text && *text);
    out->description = description ? description : L"";
    out->text = text ? text : L"";
    out->source = source ? source : L"";
    out->line = line;
    SysFreeString(description);
    SysFreeString(text);
    SysFreeString(source);
    error->Clear();
    error->Release();
    return present;
  }

private:
  // The control forgets its objects with its code: added again after each
  // reset and change of language.
  HRESULT AddHostObject() {
    if (!m_hostObject)
      return S_OK;
    BSTR name = SysAllocString(m_hostName.c_str());
    HRESULT hr = name ? m_control->AddObject(name, m_hostObject, VARIANT_FALSE) : E_OUTOFMEMORY;
    SysFreeString(name);
    return hr;
  }

  IScriptControl *m_control;
  std::string m_language;
  IDispatch *m_hostObject = NULL;
  std::wstring m_hostName;
  bool m_failedCode = false; // code added since the last reset failed
};

} // namespace

ScriptEngine *CreateScriptControlEngine(const std::string &language, HRESULT *failure) {
  CLSID clsid;
  IUnknown *unknown = NULL;
  IScriptControl *control = NULL;
  HRESULT hr = CLSIDFromProgID(SCRIPT_CONTROL_PROGID, &clsid);
  if (SUCCEEDED(hr))
    hr = CoCreateInstance(clsid, NULL, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void **>(&unknown));
  if (SUCCEEDED(hr))
    hr = OleRun(unknown);
  if (SUCCEEDED(hr))
    hr = unknown->QueryInterface(IID_IScriptControl, reinterpret_cast<void **>(&control));
  if (unknown)
    unknown->Release();
  if (FAILED(hr)) {
    *failure = hr;
    return NULL;
  }
  ScriptControlEngine *engine = new (std::nothrow) ScriptControlEngine(control);
  if (!engine) {
    control->Release();
    *failure = E_OUTOFMEMORY;
    return NULL;
  }
  hr = engine->SetAllowUI(false);
  if (SUCCEEDED(hr))
    hr = engine->SetLanguage(language);
  if (FAILED(hr)) {
    delete engine;
    *failure = hr;
    return NULL;
  }
  return engine;
}
