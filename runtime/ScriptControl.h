// The platform's Script Control component: the interfaces of its type
// library that the worker uses (dual interfaces, called through their
// vtables).
#ifndef SCRIPTCONTROL_H
#define SCRIPTCONTROL_H

#include <windows.h>
#include <oaidl.h>

typedef enum { ScriptControlInitialized = 0, ScriptControlConnected = 1 } ScriptControlStates;

struct IScriptModuleCollection;

struct IScriptError : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE get_Number(long *number) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Source(BSTR *source) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Description(BSTR *description) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_HelpFile(BSTR *helpFile) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_HelpContext(long *helpContext) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Text(BSTR *text) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Line(long *line) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Column(long *column) = 0;
  virtual HRESULT STDMETHODCALLTYPE Clear() = 0;
};

struct IScriptProcedure : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE get_Name(BSTR *name) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_NumArgs(long *count) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_HasReturnValue(VARIANT_BOOL *hasValue) = 0;
};

struct IScriptProcedureCollection : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown **enumerator) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Item(VARIANT index, IScriptProcedure **procedure) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Count(long *count) = 0;
};

struct IScriptControl : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE get_Language(BSTR *language) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Language(BSTR language) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_State(ScriptControlStates *state) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_State(ScriptControlStates state) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_SitehWnd(long window) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_SitehWnd(long *window) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Timeout(long *milliseconds) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Timeout(long milliseconds) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_AllowUI(VARIANT_BOOL *allow) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_AllowUI(VARIANT_BOOL allow) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_UseSafeSubset(VARIANT_BOOL *safe) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_UseSafeSubset(VARIANT_BOOL safe) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Modules(IScriptModuleCollection **modules) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Error(IScriptError **error) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_CodeObject(IDispatch **object) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Procedures(IScriptProcedureCollection **procedures) = 0;
  virtual HRESULT STDMETHODCALLTYPE _AboutBox() = 0;
  virtual HRESULT STDMETHODCALLTYPE AddObject(BSTR name, IDispatch *object, VARIANT_BOOL addMembers) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE AddCode(BSTR code) = 0;
  virtual HRESULT STDMETHODCALLTYPE Eval(BSTR expression, VARIANT *result) = 0;
  virtual HRESULT STDMETHODCALLTYPE ExecuteStatement(BSTR statement) = 0;
  virtual HRESULT STDMETHODCALLTYPE Run(BSTR procedure, SAFEARRAY **parameters, VARIANT *result) = 0;
};

// {0E59F1D3-1FBE-11D0-8FF2-00A0D10038BC}
const IID IID_IScriptControl = {0x0E59F1D3, 0x1FBE, 0x11D0, {0x8F, 0xF2, 0x00, 0xA0, 0xD1, 0x00, 0x38, 0xBC}};

#define SCRIPT_CONTROL_PROGID L"MSScriptControl.ScriptControl"

#endif
