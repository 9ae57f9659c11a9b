// Our own script host: the language engine (VBScript, JScript) driven
// directly through the Active Scripting interfaces, with our site. It needs
// nothing that 64-bit Windows lacks.
#include "ScriptEngine.h"

#include <activscp.h>
#include <dispex.h>
#include <new>

namespace {

// Our own copies of the interface ids: the import library of some
// toolchains lacks the 64-bit parse interface's.
#ifdef _WIN64
const IID kIidActiveScriptParse = {0xc7ef7658, 0xe1ee, 0x480e, {0x97, 0xea, 0xd5, 0x2c, 0xb4, 0xd7, 0x6d, 0x17}};
#else
const IID kIidActiveScriptParse = {0xbb1a2ae2, 0xa4f9, 0x11cf, {0x8f, 0x20, 0x00, 0x80, 0x5f, 0x2c, 0xd0, 0x64}};
#endif
const IID kIidActiveScript = {0xbb1a2ae1, 0xa4f9, 0x11cf, {0x8f, 0x20, 0x00, 0x80, 0x5f, 0x2c, 0xd0, 0x64}};
const IID kIidActiveScriptSite = {0xdb01a1e3, 0xa42b, 0x11cf, {0x8f, 0x20, 0x00, 0x80, 0x5f, 0x2c, 0xd0, 0x64}};
const IID kIidActiveScriptSiteWindow = {0xd10f6761, 0x83e9, 0x11cf, {0x8f, 0x20, 0x00, 0x80, 0x5f, 0x2c, 0xd0, 0x64}};
const IID kIidDispatchEx = {0xa6ef9860, 0xc720, 0x11d0, {0x93, 0x37, 0x00, 0xa0, 0xc9, 0x0d, 0xca, 0xa9}};

void TakeExcepInfo(EXCEPINFO *info, ScriptEngineError *error) {
  if (info->pfnDeferredFillIn)
    info->pfnDeferredFillIn(info);
  if (info->bstrDescription)
    error->description = info->bstrDescription;
  if (info->bstrSource)
    error->source = info->bstrSource;
  SysFreeString(info->bstrDescription);
  SysFreeString(info->bstrSource);
  SysFreeString(info->bstrHelpFile);
  ZeroMemory(info, sizeof *info);
}

// The engine's view of its host: where errors are reported and where its
// dialog boxes find their owner. One named item, the host's object
// (WScript), which scripts reach by its name.
class ScriptSite : public IActiveScriptSite, public IActiveScriptSiteWindow {
public:
  ScriptSite() : m_references(1), m_allowUI(false), m_hasError(false), m_hostObject(NULL) {}

  void SetHostObject(const wchar_t *name, IDispatch *object) {
    if (object)
      object->AddRef();
    if (m_hostObject)
      m_hostObject->Release();
    m_hostObject = object;
    m_hostName = name ? name : L"";
  }
  const wchar_t *HostObjectName() const { return m_hostObject ? m_hostName.c_str() : NULL; }

  void AllowUI(bool allow) { m_allowUI = allow; }

  bool TakeError(ScriptEngineError *error) {
    if (!m_hasError)
      return false;
    *error = m_error;
    m_error = ScriptEngineError();
    m_hasError = false;
    return true;
  }

  bool HasError() const { return m_hasError; }

  // An error the engine answered without telling the site.
  void NoteFailure(EXCEPINFO *info) {
    ScriptEngineError answered;
    TakeExcepInfo(info, &answered);
    if (!m_hasError) {
      m_error = answered;
      m_hasError = true;
    }
  }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void **out) override {
    if (!out)
      return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, kIidActiveScriptSite))
      *out = static_cast<IActiveScriptSite *>(this);
    else if (IsEqualIID(iid, kIidActiveScriptSiteWindow))
      *out = static_cast<IActiveScriptSiteWindow *>(this);
    else {
      *out = NULL;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_references); }
  STDMETHODIMP_(ULONG) Release() override {
    LONG left = InterlockedDecrement(&m_references);
    if (left == 0)
      delete this;
    return left;
  }

  // IActiveScriptSite
  STDMETHODIMP GetLCID(LCID *) override { return E_NOTIMPL; }
  STDMETHODIMP GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown **unknown, ITypeInfo **info) override {
    if (unknown)
      *unknown = NULL;
    if (info)
      *info = NULL;
    if (!m_hostObject || !name || lstrcmpiW(name, m_hostName.c_str()) != 0)
      return TYPE_E_ELEMENTNOTFOUND;
    if (mask & SCRIPTINFO_ITYPEINFO)
      return TYPE_E_ELEMENTNOTFOUND; // the object describes itself by its names alone
    if ((mask & SCRIPTINFO_IUNKNOWN) && unknown) {
      m_hostObject->AddRef();
      *unknown = m_hostObject;
    }
    return S_OK;
  }
  STDMETHODIMP GetDocVersionString(BSTR *) override { return E_NOTIMPL; }
  STDMETHODIMP OnScriptTerminate(const VARIANT *, const EXCEPINFO *) override { return S_OK; }
  STDMETHODIMP OnStateChange(SCRIPTSTATE) override { return S_OK; }
  STDMETHODIMP OnScriptError(IActiveScriptError *error) override {
    if (!error)
      return E_POINTER;
    m_error = ScriptEngineError();
    EXCEPINFO info = {};
    if (SUCCEEDED(error->GetExceptionInfo(&info)))
      TakeExcepInfo(&info, &m_error);
    DWORD context = 0;
    ULONG line = 0;
    LONG column = 0;
    if (SUCCEEDED(error->GetSourcePosition(&context, &line, &column)))
      m_error.line = static_cast<long>(line) + 1; // the engine counts from 0
    BSTR text = NULL;
    if (SUCCEEDED(error->GetSourceLineText(&text)) && text)
      m_error.text = text;
    SysFreeString(text);
    m_hasError = true;
    return S_OK;
  }
  STDMETHODIMP OnEnterScript() override { return S_OK; }
  STDMETHODIMP OnLeaveScript() override { return S_OK; }

  // IActiveScriptSiteWindow: with UI allowed the engine's boxes belong to
  // the desktop, otherwise the engine is refused a window.
  STDMETHODIMP GetWindow(HWND *window) override {
    if (!window)
      return E_POINTER;
    *window = NULL;
    return m_allowUI ? S_OK : E_FAIL;
  }
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }

private:
  virtual ~ScriptSite() {
    if (m_hostObject)
      m_hostObject->Release();
  }
  volatile LONG m_references;
  bool m_allowUI;
  bool m_hasError;
  ScriptEngineError m_error;
  IDispatch *m_hostObject; // the one named item
  std::wstring m_hostName;
};

class ActiveScriptEngine : public ScriptEngine {
public:
  ActiveScriptEngine()
      : m_site(new (std::nothrow) ScriptSite), m_script(NULL), m_parse(NULL), m_spare(NULL), m_spareParse(NULL),
        m_clsid(CLSID_NULL) {}
  ~ActiveScriptEngine() override {
    Close();
    CloseSpare();
    if (m_site)
      m_site->Release();
  }

  const char *HostName() const override { return "Active Scripting"; }

  HRESULT SetLanguage(const std::string &language) override {
    Close();
    if (!m_site)
      return E_OUTOFMEMORY;
    HRESULT hr = TakeSpare(language) ? S_OK : Open(language);
    if (SUCCEEDED(hr))
      m_language = language;
    return hr;
  }

  // No limit is all the worker ever asks for, and the engine has none.
  HRESULT SetTimeout(long) override { return S_OK; }

  HRESULT SetAllowUI(bool allow) override {
    m_site->AllowUI(allow);
    return S_OK;
  }

  HRESULT AddCode(BSTR code) override {
    if (!m_parse)
      return E_UNEXPECTED;
    EXCEPINFO info = {};
    HRESULT hr = m_parse->ParseScriptText(code, NULL, NULL, NULL, 0, 0, SCRIPTTEXT_ISVISIBLE, NULL, &info);
    if (FAILED(hr)) {
      m_site->NoteFailure(&info);
      m_failedCode = true;
    } else
      TakeExcepInfo(&info, &m_discarded);
    return hr;
  }

  HRESULT ListProcedures(std::vector<std::string> *names) override {
    IDispatch *global = NULL;
    HRESULT hr = m_script ? m_script->GetScriptDispatch(NULL, &global) : E_UNEXPECTED;
    if (FAILED(hr) || !global)
      return FAILED(hr) ? hr : E_POINTER;
    // The JScript engine of Wine faults reading its own type information
    // once global code of it ended in a run-time error (the code's record
    // is half gone): after a failed load the members are listed instead,
    // which reads no code.
    hr = m_failedCode ? E_NOTIMPL : ListFromTypeInfo(global, names);
    if (FAILED(hr)) {
      names->clear();
      hr = ListFromMembers(global, names, m_language != "VBScript");
    }
    global->Release();
    return hr;
  }

  HRESULT Run(const std::string &procedure, SAFEARRAY *arguments, VARIANT *result) override {
    IDispatch *global = NULL;
    HRESULT hr = m_script ? m_script->GetScriptDispatch(NULL, &global) : E_UNEXPECTED;
    if (FAILED(hr) || !global)
      return FAILED(hr) ? hr : E_POINTER;
    BSTR name = BstrFromAnsi(procedure.c_str(), -1);
    DISPID id = DISPID_UNKNOWN;
    if (!name)
      hr = E_OUTOFMEMORY;
    else
      hr = global->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
    SysFreeString(name);

    VARIANT *elements = NULL;
    if (SUCCEEDED(hr) && arguments)
      hr = SafeArrayAccessData(arguments, reinterpret_cast<void **>(&elements));
    if (SUCCEEDED(hr)) {
      UINT count = arguments ? static_cast<UINT>(arguments->rgsabound[0].cElements) : 0;
      // The call takes its arguments last to first.
      std::vector<VARIANT> reversed(count);
      for (UINT i = 0; i < count; ++i)
        reversed[i] = elements[count - 1 - i];
      DISPPARAMS params = {count ? reversed.data() : NULL, NULL, count, 0};
      EXCEPINFO info = {};
      UINT badArgument = 0;
      // The script may reach back into us while it runs.
      IActiveScript *script = m_script;
      script->AddRef();
      hr = global->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, &info,
                          &badArgument);
      script->Release();
      if (FAILED(hr))
        m_site->NoteFailure(&info);
      else
        TakeExcepInfo(&info, &m_discarded);
      if (arguments)
        SafeArrayUnaccessData(arguments);
    }
    global->Release();
    return hr;
  }

  // A new engine is the only reset that surely forgets every name. The one
  // made ahead by PrepareReset is as new: no code has ever reached it.
  HRESULT Reset() override {
    Close();
    if (m_language.empty() || !m_site)
      return S_OK;
    return TakeSpare(m_language) ? S_OK : Open(m_language);
  }

  void PrepareReset() override {
    if (m_spare || m_language.empty() || !m_site)
      return;
    if (SUCCEEDED(Make(m_language, &m_spare, &m_spareParse)))
      m_spareLanguage = m_language;
  }

  bool TakeError(ScriptEngineError *error) override { return m_site->TakeError(error); }

  // Callable from any thread while the base thread runs code.
  HRESULT Interrupt() override {
    IActiveScript *script = m_script;
    EXCEPINFO info = {};
    return script ? script->InterruptScriptThread(SCRIPTTHREADID_ALL, &info, 0) : E_UNEXPECTED;
  }

  HRESULT SetHostObject(const wchar_t *name, IDispatch *object) override {
    m_site->SetHostObject(name, object);
    HRESULT hr = S_OK;
    if (m_script)
      hr = m_script->AddNamedItem(name, SCRIPTITEM_ISVISIBLE | SCRIPTITEM_NOCODE);
    CloseSpare(); // made without it
    return hr;
  }

  HRESULT Open(const std::string &language) { return Make(language, &m_script, &m_parse); }

  // A started engine of the language with our site, connected from the
  // start, so code added later runs at once, as the worker expects of every
  // load.
  HRESULT Make(const std::string &language, IActiveScript **script, IActiveScriptParse **parse) {
    HRESULT hr = S_OK;
    if (language != m_clsidLanguage) {
      std::wstring progId(language.begin(), language.end());
      hr = CLSIDFromProgID(progId.c_str(), &m_clsid);
      m_clsidLanguage = SUCCEEDED(hr) ? language : std::string();
    }
    if (SUCCEEDED(hr))
      hr = CoCreateInstance(m_clsid, NULL, CLSCTX_INPROC_SERVER, kIidActiveScript,
                            reinterpret_cast<void **>(script));
    if (SUCCEEDED(hr))
      hr = (*script)->QueryInterface(kIidActiveScriptParse, reinterpret_cast<void **>(parse));
    if (SUCCEEDED(hr))
      hr = (*parse)->InitNew();
    if (SUCCEEDED(hr))
      hr = (*script)->SetScriptSite(m_site);
    if (SUCCEEDED(hr) && m_site->HostObjectName())
      hr = (*script)->AddNamedItem(m_site->HostObjectName(), SCRIPTITEM_ISVISIBLE | SCRIPTITEM_NOCODE);
    if (SUCCEEDED(hr))
      hr = (*script)->SetScriptState(SCRIPTSTATE_CONNECTED);
    if (FAILED(hr))
      CloseEngine(script, parse);
    return hr;
  }

private:
  static void CloseEngine(IActiveScript **script, IActiveScriptParse **parse) {
    if (*parse) {
      (*parse)->Release();
      *parse = NULL;
    }
    if (*script) {
      (*script)->Close();
      (*script)->Release();
      *script = NULL;
    }
  }

  void Close() {
    CloseEngine(&m_script, &m_parse);
    m_failedCode = false;
  }
  void CloseSpare() {
    CloseEngine(&m_spare, &m_spareParse);
    m_spareLanguage.clear();
  }

  // Moves the engine made ahead into place when it is of the language.
  bool TakeSpare(const std::string &language) {
    if (!m_spare || m_spareLanguage != language) {
      CloseSpare();
      return false;
    }
    m_script = m_spare;
    m_parse = m_spareParse;
    m_spare = NULL;
    m_spareParse = NULL;
    m_spareLanguage.clear();
    return true;
  }

  static HRESULT ListFromTypeInfo(IDispatch *global, std::vector<std::string> *names) {
    ITypeInfo *info = NULL;
    HRESULT hr = global->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info);
    if (FAILED(hr) || !info)
      return FAILED(hr) ? hr : E_NOTIMPL;
    TYPEATTR *attributes = NULL;
    hr = info->GetTypeAttr(&attributes);
    if (SUCCEEDED(hr)) {
      for (WORD i = 0; SUCCEEDED(hr) && i < attributes->cFuncs; ++i) {
        FUNCDESC *function = NULL;
        hr = info->GetFuncDesc(i, &function);
        if (FAILED(hr))
          break;
        BSTR name = NULL;
        if (SUCCEEDED(info->GetDocumentation(function->memid, &name, NULL, NULL, NULL)) && name)
          names->push_back(AnsiFromWide(name, SysStringLen(name)));
        SysFreeString(name);
        info->ReleaseFuncDesc(function);
      }
      info->ReleaseTypeAttr(attributes);
    }
    info->Release();
    return hr;
  }

  // Engines without type information list their members; of those, the
  // procedures are the ones whose value is a callable object. Reading a
  // VBScript member would call it, so there every member is listed.
  static HRESULT ListFromMembers(IDispatch *global, std::vector<std::string> *names, bool onlyCallable) {
    IDispatchEx *members = NULL;
    HRESULT hr = global->QueryInterface(kIidDispatchEx, reinterpret_cast<void **>(&members));
    if (FAILED(hr))
      return hr;
    DISPID id = DISPID_STARTENUM;
    while (members->GetNextDispID(fdexEnumAll, id, &id) == S_OK) {
      if (!onlyCallable) {
        BSTR name = NULL;
        if (SUCCEEDED(members->GetMemberName(id, &name)) && name)
          names->push_back(AnsiFromWide(name, SysStringLen(name)));
        SysFreeString(name);
        continue;
      }
      VARIANT value;
      VariantInit(&value);
      DISPPARAMS none = {NULL, NULL, 0, 0};
      if (FAILED(members->InvokeEx(id, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &value, NULL, NULL)) ||
          V_VT(&value) != VT_DISPATCH) {
        VariantClear(&value);
        continue;
      }
      VariantClear(&value);
      BSTR name = NULL;
      if (SUCCEEDED(members->GetMemberName(id, &name)) && name)
        names->push_back(AnsiFromWide(name, SysStringLen(name)));
      SysFreeString(name);
    }
    members->Release();
    return S_OK;
  }

  ScriptSite *m_site;
  IActiveScript *m_script;
  IActiveScriptParse *m_parse;
  std::string m_language;
  IActiveScript *m_spare; // an empty engine for the next reset
  IActiveScriptParse *m_spareParse;
  std::string m_spareLanguage;
  std::string m_clsidLanguage; // the language whose class m_clsid is
  CLSID m_clsid;
  ScriptEngineError m_discarded;
  bool m_failedCode = false; // code added to this engine failed
};

} // namespace

ScriptEngine *CreateActiveScriptEngine(const std::string &language, HRESULT *failure) {
  ActiveScriptEngine *engine = new (std::nothrow) ActiveScriptEngine();
  if (!engine) {
    *failure = E_OUTOFMEMORY;
    return NULL;
  }
  HRESULT hr = engine->SetLanguage(language);
  if (FAILED(hr)) {
    delete engine;
    *failure = hr;
    return NULL;
  }
  return engine;
}
