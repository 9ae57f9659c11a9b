#include "WScriptObject.h"

#include "QuillmothRun.h"
#include "WshRules.h"

#include <memory>
#include <new>
#include <vector>

const wchar_t kWScriptName[] = L"WScript";

namespace {

// What Quit leaves behind in the engine: an error no script raises, so that
// the run's end can tell a Quit from a failure.
const HRESULT kQuitError = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x5157);
const HRESULT kSubscriptOutOfRange = 0x800A0009;
const HRESULT kTypeMismatch = 0x800A000D;
const HRESULT kPastEndOfFile = 0x800A003E;
// How soon Sleep sees a stop that its wait missed.
const DWORD kSleepSliceMs = 50;

// The run's arguments, shared by the collections a script took from it; a
// collection kept past its run keeps its own run's arguments.
struct ArgumentSet {
  std::vector<wsh::Argument> all, unnamed, named;
};

std::wstring Wide(const std::u16string &text) { return std::wstring(text.begin(), text.end()); }
std::u16string U16(const std::wstring &text) { return std::u16string(text.begin(), text.end()); }

HRESULT Fail(EXCEPINFO *info, HRESULT code, const wchar_t *description) {
  if (info) {
    ZeroMemory(info, sizeof *info);
    info->bstrSource = SysAllocString(kWScriptName);
    info->bstrDescription = SysAllocString(description);
    info->scode = code;
  }
  return DISP_E_EXCEPTION;
}

// The positional arguments of a call, first to last; named ones (such as a
// property put's value) are not among them.
UINT PositionalCount(const DISPPARAMS *params) {
  if (!params || params->cArgs < params->cNamedArgs)
    return 0;
  return params->cArgs - params->cNamedArgs;
}

const VARIANT *Positional(const DISPPARAMS *params, UINT index) {
  UINT count = PositionalCount(params);
  if (index >= count)
    return NULL;
  const VARIANT *value = &params->rgvarg[params->cArgs - 1 - index];
  while (V_VT(value) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(value))
    value = V_VARIANTREF(value);
  return value;
}

// Optional arguments a script leaves out arrive as VT_ERROR (missing).
bool Given(const VARIANT *value) {
  return value && V_VT(value) != VT_EMPTY && !(V_VT(value) == VT_ERROR && V_ERROR(value) == DISP_E_PARAMNOTFOUND);
}

bool TextOf(const VARIANT *value, std::wstring *text) {
  text->clear();
  if (!value || V_VT(value) == VT_EMPTY || V_VT(value) == VT_NULL)
    return true;
  VARIANT converted;
  VariantInit(&converted);
  HRESULT hr = VariantChangeType(&converted, const_cast<VARIANT *>(value), 0, VT_BSTR);
  if (FAILED(hr))
    return false;
  if (V_BSTR(&converted))
    text->assign(V_BSTR(&converted), SysStringLen(V_BSTR(&converted)));
  VariantClear(&converted);
  return true;
}

bool NumberOf(const VARIANT *value, long *number) {
  VARIANT converted;
  VariantInit(&converted);
  if (FAILED(VariantChangeType(&converted, const_cast<VARIANT *>(value), 0, VT_I4)))
    return false;
  *number = V_I4(&converted);
  return true;
}

void SetText(VARIANT *result, const std::wstring &text) {
  if (!result)
    return;
  V_VT(result) = VT_BSTR;
  V_BSTR(result) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

void SetNumber(VARIANT *result, long number) {
  if (!result)
    return;
  V_VT(result) = VT_I4;
  V_I4(result) = number;
}

void SetBool(VARIANT *result, bool value) {
  if (!result)
    return;
  V_VT(result) = VT_BOOL;
  V_BOOL(result) = value ? VARIANT_TRUE : VARIANT_FALSE;
}

struct Member {
  const wchar_t *name;
  DISPID id;
};

// IUnknown of an object with one interface, made with one reference and
// deleted at its last release.
template <typename Interface, const IID *kInterfaceId> class OneInterface : public Interface {
public:
  STDMETHODIMP QueryInterface(REFIID iid, void **out) override {
    if (!out)
      return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, *kInterfaceId)) {
      *out = static_cast<Interface *>(this);
      AddRef();
      return S_OK;
    }
    *out = NULL;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_references); }
  STDMETHODIMP_(ULONG) Release() override {
    LONG left = InterlockedDecrement(&m_references);
    if (left == 0)
      delete this;
    return left;
  }

protected:
  OneInterface() : m_references(1) {}
  virtual ~OneInterface() {}

private:
  volatile LONG m_references;
};

// IDispatch with names looked up without regard to case, as the console
// host resolves them (JScript's WScript.echo works), and no type info.
class DispatchBase : public OneInterface<IDispatch, &IID_IDispatch> {
public:
  STDMETHODIMP GetTypeInfoCount(UINT *count) override {
    if (!count)
      return E_POINTER;
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo **info) override {
    if (info)
      *info = NULL;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR *names, UINT count, LCID, DISPID *ids) override {
    if (!names || !ids || count == 0)
      return E_INVALIDARG;
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i)
      ids[i] = DISPID_UNKNOWN;
    const Member *members = Members();
    for (const Member *m = members; m->name; ++m)
      if (names[0] && lstrcmpiW(names[0], m->name) == 0)
        ids[0] = m->id;
    if (ids[0] == DISPID_UNKNOWN)
      hr = DISP_E_UNKNOWNNAME;
    if (count > 1)
      hr = DISP_E_UNKNOWNNAME; // no member takes named arguments
    return hr;
  }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS *params, VARIANT *result, EXCEPINFO *info,
                      UINT *) override {
    if (result)
      VariantInit(result);
    DISPPARAMS none = {NULL, NULL, 0, 0};
    try {
      return Call(id, flags, params ? params : &none, result, info);
    } catch (...) {
      return E_OUTOFMEMORY; // nothing thrown reaches the engine
    }
  }

protected:
  virtual const Member *Members() const = 0;
  virtual HRESULT Call(DISPID id, WORD flags, DISPPARAMS *params, VARIANT *result, EXCEPINFO *info) = 0;
};

// For Each over a collection: its texts in order.
class TextEnumerator : public OneInterface<IEnumVARIANT, &IID_IEnumVARIANT> {
public:
  explicit TextEnumerator(std::vector<std::wstring> texts) : m_texts(std::move(texts)), m_next(0) {}

  STDMETHODIMP Next(ULONG wanted, VARIANT *out, ULONG *fetched) override {
    if (!out)
      return E_POINTER;
    ULONG given = 0;
    while (given < wanted && m_next < m_texts.size()) {
      VariantInit(&out[given]);
      SetText(&out[given], m_texts[m_next]);
      ++given;
      ++m_next;
    }
    if (fetched)
      *fetched = given;
    return given == wanted ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    size_t left = m_texts.size() - m_next;
    m_next += count < left ? count : left;
    return count <= left ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    m_next = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumVARIANT **copy) override {
    if (!copy)
      return E_POINTER;
    TextEnumerator *twin = new (std::nothrow) TextEnumerator(m_texts);
    if (!twin)
      return E_OUTOFMEMORY;
    twin->m_next = m_next;
    *copy = twin;
    return S_OK;
  }

private:
  std::vector<std::wstring> m_texts;
  size_t m_next;
};

HRESULT NewEnumerator(std::vector<std::wstring> texts, VARIANT *result) {
  TextEnumerator *enumerator = new (std::nothrow) TextEnumerator(std::move(texts));
  if (!enumerator)
    return E_OUTOFMEMORY;
  if (!result) {
    enumerator->Release();
    return S_OK;
  }
  V_VT(result) = VT_UNKNOWN;
  V_UNKNOWN(result) = enumerator;
  return S_OK;
}

enum { ID_ITEM = DISPID_VALUE, ID_COUNT = 1, ID_LENGTH, ID_NAMED, ID_UNNAMED, ID_EXISTS, ID_SHOWUSAGE };

// WScript.Arguments, .Unnamed (a list by position) and .Named (by name).
class ArgumentsObject : public DispatchBase {
public:
  enum Kind { ALL, UNNAMED, NAMED };
  ArgumentsObject(std::shared_ptr<const ArgumentSet> set, Kind kind) : m_set(std::move(set)), m_kind(kind) {}

protected:
  const Member *Members() const override {
    static const Member all[] = {{L"Item", ID_ITEM},       {L"Count", ID_COUNT},     {L"Length", ID_LENGTH},
                                 {L"Named", ID_NAMED},     {L"Unnamed", ID_UNNAMED}, {L"ShowUsage", ID_SHOWUSAGE},
                                 {L"_NewEnum", DISPID_NEWENUM}, {NULL, 0}};
    static const Member unnamed[] = {{L"Item", ID_ITEM}, {L"Count", ID_COUNT}, {L"Length", ID_LENGTH},
                                     {L"_NewEnum", DISPID_NEWENUM}, {NULL, 0}};
    static const Member named[] = {{L"Item", ID_ITEM},     {L"Count", ID_COUNT},           {L"Length", ID_LENGTH},
                                   {L"Exists", ID_EXISTS}, {L"_NewEnum", DISPID_NEWENUM}, {NULL, 0}};
    return m_kind == ALL ? all : m_kind == UNNAMED ? unnamed : named;
  }

  HRESULT Call(DISPID id, WORD, DISPPARAMS *params, VARIANT *result, EXCEPINFO *info) override {
    const std::vector<wsh::Argument> &list = m_kind == ALL ? m_set->all : m_kind == UNNAMED ? m_set->unnamed : m_set->named;
    switch (id) {
    case ID_COUNT:
    case ID_LENGTH:
      SetNumber(result, static_cast<long>(list.size()));
      return S_OK;
    case ID_NAMED:
    case ID_UNNAMED: {
      if (m_kind != ALL)
        return DISP_E_MEMBERNOTFOUND;
      ArgumentsObject *view = new (std::nothrow) ArgumentsObject(m_set, id == ID_NAMED ? NAMED : UNNAMED);
      if (!view)
        return E_OUTOFMEMORY;
      // Unnamed(0), as JScript calls it: the index goes to the collection.
      if (PositionalCount(params) > 0) {
        HRESULT hr = view->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, params, result,
                                  info, NULL);
        view->Release();
        return hr;
      }
      if (result) {
        V_VT(result) = VT_DISPATCH;
        V_DISPATCH(result) = view;
      } else {
        view->Release();
      }
      return S_OK;
    }
    case ID_SHOWUSAGE:
      return S_OK; // a plain script file declares no usage to show
    case DISPID_NEWENUM: {
      std::vector<std::wstring> texts;
      for (const wsh::Argument &argument : list)
        texts.push_back(Wide(m_kind == NAMED ? argument.name : argument.text));
      return NewEnumerator(std::move(texts), result);
    }
    case ID_EXISTS:
    case ID_ITEM:
      break;
    default:
      return DISP_E_MEMBERNOTFOUND;
    }
    const VARIANT *key = Positional(params, 0);
    if (!key)
      return DISP_E_BADPARAMCOUNT;
    if (m_kind == NAMED) {
      std::wstring name;
      if (!TextOf(key, &name))
        return Fail(info, kTypeMismatch, L"Type mismatch");
      const wsh::Argument *found = wsh::FindNamed(list, U16(name));
      if (id == ID_EXISTS)
        SetBool(result, found != NULL);
      else if (found && found->hasValue)
        SetText(result, Wide(found->value));
      return S_OK; // a name without a value, or none, is Empty
    }
    if (id == ID_EXISTS)
      return DISP_E_MEMBERNOTFOUND;
    long index = 0;
    if (!NumberOf(key, &index))
      return Fail(info, kTypeMismatch, L"Type mismatch");
    if (index < 0 || static_cast<size_t>(index) >= list.size())
      return Fail(info, kSubscriptOutOfRange, L"Subscript out of range");
    SetText(result, Wide(list[index].text));
    return S_OK;
  }

private:
  std::shared_ptr<const ArgumentSet> m_set;
  Kind m_kind;
};

} // namespace

// The object itself, with the run's state.
class WScriptObject : public DispatchBase {
public:
  WScriptObject() {
    wchar_t system[MAX_PATH] = L"";
    UINT length = GetSystemDirectoryW(system, MAX_PATH);
    m_hostFolder.assign(system, length < MAX_PATH ? length : 0);
    m_set = std::make_shared<ArgumentSet>();
  }

  void BeginRun(const std::wstring &scriptPath, const std::wstring &arguments, long timeLimitSeconds) {
    m_scriptPath = scriptPath;
    m_timeLimitSeconds = timeLimitSeconds;
    std::shared_ptr<ArgumentSet> set = std::make_shared<ArgumentSet>();
    set->all = wsh::ParseArguments(U16(arguments));
    for (const wsh::Argument &argument : set->all)
      if (!argument.named)
        set->unnamed.push_back(argument);
    set->named = wsh::NamedArguments(set->all);
    m_set = set;
    m_quit = false;
    m_stopped = false;
    m_quitCode = 0;
    m_pending[0].clear();
    m_pending[1].clear();
  }

  void EndRun() {
    for (int stream = 0; stream < 2; ++stream)
      if (!m_pending[stream].empty()) {
        std::wstring rest;
        rest.swap(m_pending[stream]);
        PrintLine(rest, stream == 1);
      }
  }

  bool QuitRequested(long *code) const {
    if (code)
      *code = m_quitCode;
    return m_quit;
  }
  bool Stopped() const { return m_stopped; }

  // Text for the console; complete lines are printed, the rest waits for
  // its line's end (or the run's).
  void Write(const std::wstring &text, bool error) {
    std::wstring &pending = m_pending[error ? 1 : 0];
    pending += text;
    size_t start = 0;
    for (;;) {
      size_t end = pending.find_first_of(L"\r\n", start);
      if (end == std::wstring::npos)
        break;
      PrintLine(pending.substr(start, end - start), error);
      start = end + ((pending[end] == L'\r' && end + 1 < pending.size() && pending[end + 1] == L'\n') ? 2 : 1);
    }
    pending.erase(0, start);
  }

protected:
  enum {
    ID_ECHO = 1, ID_ARGUMENTS, ID_QUIT, ID_SLEEP, ID_SCRIPTNAME, ID_SCRIPTFULLNAME, ID_PATH, ID_FULLNAME, ID_NAME,
    ID_VERSION, ID_BUILDVERSION, ID_INTERACTIVE, ID_TIMEOUT, ID_CREATEOBJECT, ID_GETOBJECT, ID_CONNECTOBJECT,
    ID_DISCONNECTOBJECT, ID_STDOUT, ID_STDERR, ID_STDIN, ID_APPLICATION
  };

  const Member *Members() const override {
    static const Member members[] = {
        {L"Echo", ID_ECHO},
        {L"Arguments", ID_ARGUMENTS},
        {L"Quit", ID_QUIT},
        {L"Sleep", ID_SLEEP},
        {L"ScriptName", ID_SCRIPTNAME},
        {L"ScriptFullName", ID_SCRIPTFULLNAME},
        {L"Path", ID_PATH},
        {L"FullName", ID_FULLNAME},
        {L"Name", ID_NAME},
        {L"Version", ID_VERSION},
        {L"BuildVersion", ID_BUILDVERSION},
        {L"Interactive", ID_INTERACTIVE},
        {L"Timeout", ID_TIMEOUT},
        {L"CreateObject", ID_CREATEOBJECT},
        {L"GetObject", ID_GETOBJECT},
        {L"ConnectObject", ID_CONNECTOBJECT},
        {L"DisconnectObject", ID_DISCONNECTOBJECT},
        {L"StdOut", ID_STDOUT},
        {L"StdErr", ID_STDERR},
        {L"StdIn", ID_STDIN},
        {L"Application", ID_APPLICATION},
        {NULL, 0}};
    return members;
  }

  HRESULT Call(DISPID id, WORD flags, DISPPARAMS *params, VARIANT *result, EXCEPINFO *info) override;

private:
  void PrintLine(const std::wstring &line, bool error) {
    int bytes = WideCharToMultiByte(CP_ACP, 0, line.data(), static_cast<int>(line.size()), NULL, 0, NULL, NULL);
    std::string text(bytes > 0 ? bytes : 0, '\0');
    if (bytes > 0)
      WideCharToMultiByte(CP_ACP, 0, line.data(), static_cast<int>(line.size()), &text[0], bytes, NULL, NULL);
    // As the core's Print prints; error output is marked so the console
    // tells it apart.
    QMR_NotifyMessage(0, "%s%s", error ? "StdErr: " : "", text.c_str());
  }

  HRESULT Quit(long code, EXCEPINFO *info) {
    m_quit = true;
    m_quitCode = code;
    return Fail(info, kQuitError, L"The script ended (WScript.Quit).");
  }

  HRESULT Sleep(long milliseconds, EXCEPINFO *info);
  HRESULT Create(DISPPARAMS *params, VARIANT *result, EXCEPINFO *info);
  HRESULT Get(DISPPARAMS *params, VARIANT *result, EXCEPINFO *info);

  std::wstring m_hostFolder;
  std::wstring m_scriptPath;
  long m_timeLimitSeconds = 0;
  std::shared_ptr<const ArgumentSet> m_set;
  std::wstring m_pending[2]; // StdOut, StdErr text without its line end yet
  bool m_quit = false;
  bool m_stopped = false;
  long m_quitCode = 0;
};

namespace {

enum { ID_WRITE = 1, ID_WRITELINE, ID_WRITEBLANKLINES, ID_CLOSE, ID_ATENDOFSTREAM, ID_ATENDOFLINE, ID_READ,
       ID_READLINE, ID_READALL, ID_SKIP, ID_SKIPLINE, ID_LINE, ID_COLUMN };

// WScript.StdOut, .StdErr (printed as Echo prints) and .StdIn (a service
// has no input: always at its end).
class StreamObject : public DispatchBase {
public:
  enum Kind { STREAM_OUT, STREAM_ERR, STREAM_IN };
  StreamObject(WScriptObject *owner, Kind kind) : m_owner(owner), m_kind(kind) { m_owner->AddRef(); }

protected:
  ~StreamObject() override { m_owner->Release(); }

  const Member *Members() const override {
    static const Member members[] = {{L"Write", ID_WRITE},
                                     {L"WriteLine", ID_WRITELINE},
                                     {L"WriteBlankLines", ID_WRITEBLANKLINES},
                                     {L"Close", ID_CLOSE},
                                     {L"AtEndOfStream", ID_ATENDOFSTREAM},
                                     {L"AtEndOfLine", ID_ATENDOFLINE},
                                     {L"Read", ID_READ},
                                     {L"ReadLine", ID_READLINE},
                                     {L"ReadAll", ID_READALL},
                                     {L"Skip", ID_SKIP},
                                     {L"SkipLine", ID_SKIPLINE},
                                     {L"Line", ID_LINE},
                                     {L"Column", ID_COLUMN},
                                     {NULL, 0}};
    return members;
  }

  HRESULT Call(DISPID id, WORD, DISPPARAMS *params, VARIANT *result, EXCEPINFO *info) override {
    const bool output = m_kind != STREAM_IN;
    switch (id) {
    case ID_CLOSE:
      return S_OK;
    case ID_LINE:
    case ID_COLUMN:
      SetNumber(result, 1);
      return S_OK;
    case ID_WRITE:
    case ID_WRITELINE:
    case ID_WRITEBLANKLINES: {
      if (!output)
        return Fail(info, 0x800A0036, L"Bad file mode");
      std::wstring text;
      if (id == ID_WRITEBLANKLINES) {
        long lines = 0;
        const VARIANT *count = Positional(params, 0);
        if (!count || !NumberOf(count, &lines))
          return Fail(info, kTypeMismatch, L"Type mismatch");
        for (long i = 0; i < lines; ++i)
          text += L"\r\n";
      } else if (!TextOf(Positional(params, 0), &text)) {
        return Fail(info, kTypeMismatch, L"Type mismatch");
      }
      if (id == ID_WRITELINE)
        text += L"\r\n";
      m_owner->Write(text, m_kind == STREAM_ERR);
      return S_OK;
    }
    case ID_ATENDOFSTREAM:
    case ID_ATENDOFLINE:
      if (output)
        return Fail(info, 0x800A0036, L"Bad file mode");
      SetBool(result, true);
      return S_OK;
    case ID_READ:
    case ID_READLINE:
    case ID_READALL:
    case ID_SKIP:
    case ID_SKIPLINE:
      return Fail(info, output ? 0x800A0036 : kPastEndOfFile, output ? L"Bad file mode" : L"Input past end of file");
    default:
      return DISP_E_MEMBERNOTFOUND;
    }
  }

private:
  WScriptObject *m_owner;
  Kind m_kind;
};

} // namespace

HRESULT WScriptObject::Call(DISPID id, WORD flags, DISPPARAMS *params, VARIANT *result, EXCEPINFO *info) {
  // After Quit nothing more of the script is carried out through us: a
  // script that goes on after an error (On Error Resume Next) meets the
  // end again at its next call.
  if (m_quit)
    return Fail(info, kQuitError, L"The script ended (WScript.Quit).");
  const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
  switch (id) {
  case ID_ECHO: {
    std::wstring line;
    UINT count = PositionalCount(params);
    for (UINT i = 0; i < count; ++i) {
      std::wstring text;
      if (!TextOf(Positional(params, i), &text))
        return Fail(info, kTypeMismatch, L"Type mismatch");
      if (i)
        line += L' ';
      line += text;
    }
    Write(line + L"\r\n", false); // after what StdOut.Write left on its line
    return S_OK;
  }
  case ID_ARGUMENTS: {
    ArgumentsObject *arguments = new (std::nothrow) ArgumentsObject(m_set, ArgumentsObject::ALL);
    if (!arguments)
      return E_OUTOFMEMORY;
    if (!result) {
      arguments->Release();
      return S_OK;
    }
    // WScript.Arguments(0): the call's argument goes to the collection.
    if (PositionalCount(params) > 0) {
      HRESULT hr = arguments->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, params, result,
                                     info, NULL);
      arguments->Release();
      return hr;
    }
    V_VT(result) = VT_DISPATCH;
    V_DISPATCH(result) = arguments;
    return S_OK;
  }
  case ID_QUIT: {
    long code = 0;
    const VARIANT *given = Positional(params, 0);
    if (Given(given) && !NumberOf(given, &code))
      return Fail(info, kTypeMismatch, L"Type mismatch");
    return Quit(code, info);
  }
  case ID_SLEEP: {
    long milliseconds = 0;
    const VARIANT *given = Positional(params, 0);
    if (!given || !NumberOf(given, &milliseconds))
      return Fail(info, kTypeMismatch, L"Type mismatch");
    return Sleep(milliseconds, info);
  }
  case ID_SCRIPTNAME:
  case ID_SCRIPTFULLNAME: {
    size_t slash = m_scriptPath.find_last_of(L"\\/");
    SetText(result, id == ID_SCRIPTFULLNAME || slash == std::wstring::npos ? m_scriptPath : m_scriptPath.substr(slash + 1));
    return S_OK;
  }
  // The console host's own file: scripts that make sure they run on the
  // console host (and otherwise start themselves again there) find it is
  // so, and their output goes to lines as on that host.
  case ID_FULLNAME:
    SetText(result, m_hostFolder + L"\\cscript.exe");
    return S_OK;
  case ID_PATH:
    SetText(result, m_hostFolder);
    return S_OK;
  case ID_NAME:
    SetText(result, L"Quillmoth Script Host");
    return S_OK;
  case ID_VERSION:
    SetText(result, L"5.812");
    return S_OK;
  case ID_BUILDVERSION:
    SetNumber(result, 10240);
    return S_OK;
  // Never interactive (a service answers no box), and no time limit of its
  // own (0): setting either changes nothing.
  case ID_INTERACTIVE:
    if (!put)
      SetBool(result, false);
    return S_OK;
  case ID_TIMEOUT:
    // The run's limit; setting it has no effect (the limit is the caller's).
    if (!put)
      SetNumber(result, m_timeLimitSeconds);
    return S_OK;
  case ID_CREATEOBJECT:
    return Create(params, result, info);
  case ID_GETOBJECT:
    return Get(params, result, info);
  case ID_CONNECTOBJECT:
  case ID_DISCONNECTOBJECT:
    return Fail(info, E_NOTIMPL, L"Event sinks are not available to pooled scripts (ConnectObject, "
                                 L"CreateObject with a prefix).");
  case ID_APPLICATION:
    if (result) {
      AddRef();
      V_VT(result) = VT_DISPATCH;
      V_DISPATCH(result) = this;
    }
    return S_OK;
  case ID_STDOUT:
  case ID_STDERR:
  case ID_STDIN: {
    StreamObject *stream = new (std::nothrow)
        StreamObject(this, id == ID_STDOUT ? StreamObject::STREAM_OUT : id == ID_STDERR ? StreamObject::STREAM_ERR : StreamObject::STREAM_IN);
    if (!stream)
      return E_OUTOFMEMORY;
    if (result) {
      V_VT(result) = VT_DISPATCH;
      V_DISPATCH(result) = stream;
    } else {
      stream->Release();
    }
    return S_OK;
  }
  default:
    return DISP_E_MEMBERNOTFOUND;
  }
}

// Waits while answering sent messages; a stop request for the workers ends
// the script as Quit would.
HRESULT WScriptObject::Sleep(long milliseconds, EXCEPINFO *info) {
  const DWORD start = GetTickCount();
  const DWORD total = milliseconds > 0 ? static_cast<DWORD>(milliseconds) : 0;
  for (;;) {
    MSG msg;
    if (PeekMessageW(&msg, NULL, QMR_CTL_STOP, QMR_CTL_STOP, PM_REMOVE) ||
        PeekMessageW(&msg, NULL, QMR_CTL_QUIT, QMR_CTL_QUIT, PM_NOREMOVE) ||
        PeekMessageW(&msg, NULL, WM_QUIT, WM_QUIT, PM_NOREMOVE)) {
      m_stopped = true;
      return Quit(0, info);
    }
    DWORD elapsed = GetTickCount() - start;
    if (elapsed >= total)
      return S_OK;
    // Wakes for messages that arrive after this point; those already queued
    // stay for the worker's own loop. A post that came between the looks
    // above and the wait does not wake it, so it waits in short slices.
    DWORD slice = total - elapsed < kSleepSliceMs ? total - elapsed : kSleepSliceMs;
    MsgWaitForMultipleObjectsEx(0, NULL, slice, QS_SENDMESSAGE | QS_POSTMESSAGE, 0);
    PeekMessageW(&msg, NULL, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

HRESULT WScriptObject::Create(DISPPARAMS *params, VARIANT *result, EXCEPINFO *info) {
  std::wstring progId, prefix;
  if (!TextOf(Positional(params, 0), &progId) || progId.empty())
    return Fail(info, kTypeMismatch, L"Type mismatch");
  const VARIANT *givenPrefix = Positional(params, 1);
  if (Given(givenPrefix) && TextOf(givenPrefix, &prefix) && !prefix.empty())
    return Fail(info, E_NOTIMPL, L"Event sinks are not available to pooled scripts (ConnectObject, "
                                 L"CreateObject with a prefix).");
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(progId.c_str(), &clsid);
  if (FAILED(hr)) {
    std::wstring text = L"Could not locate automation class named \"" + progId + L"\".";
    return Fail(info, hr, text.c_str());
  }
  IDispatch *object = NULL;
  hr = CoCreateInstance(clsid, NULL, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                        reinterpret_cast<void **>(&object));
  if (FAILED(hr)) {
    std::wstring text = L"Could not create object named \"" + progId + L"\".";
    return Fail(info, hr, text.c_str());
  }
  if (result) {
    V_VT(result) = VT_DISPATCH;
    V_DISPATCH(result) = object;
  } else {
    object->Release();
  }
  return S_OK;
}

HRESULT WScriptObject::Get(DISPPARAMS *params, VARIANT *result, EXCEPINFO *info) {
  std::wstring path, progId;
  const VARIANT *givenPath = Positional(params, 0), *givenProgId = Positional(params, 1);
  if ((Given(givenPath) && !TextOf(givenPath, &path)) || (Given(givenProgId) && !TextOf(givenProgId, &progId)))
    return Fail(info, kTypeMismatch, L"Type mismatch");
  IDispatch *object = NULL;
  HRESULT hr = E_INVALIDARG;
  if (!path.empty()) {
    hr = CoGetObject(path.c_str(), NULL, IID_IDispatch, reinterpret_cast<void **>(&object));
  } else if (!progId.empty()) {
    CLSID clsid;
    IUnknown *running = NULL;
    hr = CLSIDFromProgID(progId.c_str(), &clsid);
    if (SUCCEEDED(hr))
      hr = GetActiveObject(clsid, NULL, &running);
    if (SUCCEEDED(hr)) {
      hr = running->QueryInterface(IID_IDispatch, reinterpret_cast<void **>(&object));
      running->Release();
    }
  }
  if (FAILED(hr) || !object) {
    std::wstring text = L"Could not get object \"" + (path.empty() ? progId : path) + L"\".";
    return Fail(info, FAILED(hr) ? hr : E_FAIL, text.c_str());
  }
  if (result) {
    V_VT(result) = VT_DISPATCH;
    V_DISPATCH(result) = object;
  } else {
    object->Release();
  }
  return S_OK;
}

WScriptObject *CreateWScriptObject() {
  try {
    return new WScriptObject();
  } catch (...) {
    return NULL;
  }
}

IDispatch *WScriptDispatch(WScriptObject *object) { return object; }

void ReleaseWScriptObject(WScriptObject *object) {
  if (object)
    object->Release();
}

void BeginWScriptRun(WScriptObject *object, const std::wstring &scriptPath, const std::wstring &arguments,
                     long timeLimitSeconds) {
  if (object)
    object->BeginRun(scriptPath, arguments, timeLimitSeconds);
}

void EndWScriptRun(WScriptObject *object) {
  if (object)
    object->EndRun();
}

bool WScriptQuitRequested(WScriptObject *object, long *code) { return object && object->QuitRequested(code); }

bool WScriptStopped(WScriptObject *object) { return object && object->Stopped(); }
