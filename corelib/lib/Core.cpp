// The object itself: reference counting with aggregation, IDispatch from the
// type library, and the small methods Print, GetEnvironmentVariable,
// SetEnvironmentVariable and FreeHandle.
#include "Core.h"

#include <new>
#include <stdlib.h>

#include "CoreCrypto.h"
#include "CoreFtp.h"
#include "CoreModule.h"
#include "CoreNetJobs.h"
#include "CoreText.h"
#include "HandleTable.h"
#include "QuillmothRun.h"
#include "VariableManager.h"

const GUID LIBID_QuillmothLibLib = {0x5FC6C994, 0xEFAB, 0x4257, {0x88, 0xDD, 0xE0, 0x23, 0x64, 0x25, 0x01, 0xD4}};
const IID IID_ICore = {0x638065EC, 0x1781, 0x4953, {0xAB, 0x31, 0x3F, 0xBD, 0x32, 0x3E, 0xD7, 0xF7}};
const CLSID CLSID_Core = {0x0C9CAF96, 0xD5FC, 0x456B, {0xA1, 0x50, 0xA5, 0xAF, 0x36, 0x66, 0xDF, 0x30}};
const GUID APPID_QuillmothLib = {0x526441F5, 0x1EBD, 0x439E, {0x80, 0x1D, 0x68, 0x29, 0xAA, 0xC9, 0x76, 0x1B}};

namespace {
const long kEncryptedFlag = VAR_MODE_ENCRYPTED;
} // namespace

CCore::CCore(IUnknown *outer)
    : m_outer(outer ? outer : &m_inner), m_references(1), m_typeInfo(nullptr) {
  m_inner.owner = this;
  CoreLockModule();
}

CCore::~CCore() {
  if (m_typeInfo)
    m_typeInfo->Release();
  CoreUnlockModule();
}

HRESULT CCore::Create(IUnknown *outer, REFIID iid, void **object) {
  if (!object)
    return E_POINTER;
  *object = nullptr;
  if (outer && !IsEqualIID(iid, IID_IUnknown))
    return CLASS_E_NOAGGREGATION;
  CCore *core = new (std::nothrow) CCore(outer);
  if (!core)
    return E_OUTOFMEMORY;
  HRESULT hr = core->m_inner.QueryInterface(iid, object);
  core->m_inner.Release();
  return hr;
}

CCore *CCore::Inner::Owner() { return owner; }

HRESULT CCore::Inner::QueryInterface(REFIID iid, void **object) {
  if (!object)
    return E_POINTER;
  CCore *core = Owner();
  if (IsEqualIID(iid, IID_IUnknown))
    *object = static_cast<IUnknown *>(this);
  else if (IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_ICore))
    *object = static_cast<ICore *>(core);
  else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  static_cast<IUnknown *>(*object)->AddRef();
  return S_OK;
}

ULONG CCore::Inner::AddRef() { return ++Owner()->m_references; }

ULONG CCore::Inner::Release() {
  CCore *core = Owner();
  ULONG left = --core->m_references;
  if (left == 0)
    delete core;
  return left;
}

HRESULT CCore::QueryInterface(REFIID iid, void **object) { return m_outer->QueryInterface(iid, object); }
ULONG CCore::AddRef() { return m_outer->AddRef(); }
ULONG CCore::Release() { return m_outer->Release(); }

HRESULT CCore::TypeInfo(ITypeInfo **info) {
  if (!m_typeInfo) {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(g_coreModule, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
      return TYPE_E_CANTLOADLIBRARY;
    ITypeLib *library = nullptr;
    HRESULT hr = LoadTypeLibEx(path, REGKIND_NONE, &library);
    if (FAILED(hr))
      return hr;
    hr = library->GetTypeInfoOfGuid(IID_ICore, &m_typeInfo);
    library->Release();
    if (FAILED(hr))
      return hr;
  }
  *info = m_typeInfo;
  return S_OK;
}

HRESULT CCore::GetTypeInfoCount(UINT *count) {
  if (!count)
    return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT CCore::GetTypeInfo(UINT index, LCID, ITypeInfo **info) {
  if (!info)
    return E_POINTER;
  *info = nullptr;
  if (index != 0)
    return DISP_E_BADINDEX;
  ITypeInfo *typeInfo = nullptr;
  HRESULT hr = TypeInfo(&typeInfo);
  if (FAILED(hr))
    return hr;
  typeInfo->AddRef();
  *info = typeInfo;
  return S_OK;
}

HRESULT CCore::GetIDsOfNames(REFIID iid, LPOLESTR *names, UINT count, LCID, DISPID *ids) {
  if (!IsEqualIID(iid, IID_NULL))
    return DISP_E_UNKNOWNINTERFACE;
  ITypeInfo *typeInfo = nullptr;
  HRESULT hr = TypeInfo(&typeInfo);
  if (FAILED(hr))
    return hr;
  return DispGetIDsOfNames(typeInfo, names, count, ids);
}

HRESULT CCore::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS *params, VARIANT *result,
                      EXCEPINFO *exception, UINT *argumentError) {
  return CoreGuarded("Invoke", [&]() -> HRESULT {
    if (!IsEqualIID(iid, IID_NULL))
      return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo *typeInfo = nullptr;
    HRESULT hr = TypeInfo(&typeInfo);
    if (FAILED(hr))
      return hr;
    return DispInvoke(static_cast<ICore *>(this), typeInfo, id, flags, params, result, exception, argumentError);
  });
}

HRESULT CCore::Print(BSTR string) {
  return CoreGuarded("Print", [&]() -> HRESULT {
    TextArg<kShortTextBuffer> text;
    if (!text.Convert(string, kRequiredText))
      return S_FALSE;
    QMR_NotifyMessage(0, "%s", text.text);
    return S_OK;
  });
}

HRESULT CCore::GetEnvironmentVariable(long flags, BSTR name, BSTR *pVal) {
  return CoreGuarded("GetEnvironmentVariable", [&]() -> HRESULT {
    if (!pVal)
      return E_POINTER;
    *pVal = nullptr;
    TextArg<kTextBuffer> variable;
    if (!variable.Convert(name, kRequiredText))
      return S_FALSE;
    char *value = CoreVariables().GetVariable(nullptr, variable.text, static_cast<int>(flags & ~kEncryptedFlag));
    std::string text = value ? value : "";
    CVariableManager::FreeText(value);
    if (value && (flags & kEncryptedFlag)) {
      // What cannot be deciphered is never handed on as the value: a script
      // would send the cipher text as a password.
      std::string plain;
      CipherStatus status = DecryptValue(text.c_str(), plain);
      if (status != kCipherDone)
        CoreNotifyText("GetEnvironmentVariable", CipherUnreadableText(status).c_str());
      text.swap(plain);
    }
    *pVal = NewAutomationText(text.c_str());
    return *pVal ? S_OK : E_OUTOFMEMORY;
  });
}

HRESULT CCore::SetEnvironmentVariable(long flags, BSTR name, BSTR value, long *pVal) {
  return CoreGuarded("SetEnvironmentVariable", [&]() -> HRESULT {
    if (!pVal)
      return E_POINTER;
    *pVal = kFalse;
    TextArg<kTextBuffer> variable;
    if (!variable.Convert(name, kRequiredText))
      return S_FALSE;
    TextArg<kValueBuffer> text;
    if (!text.Convert(value, kOptionalText))
      return S_FALSE;
    const char *stored = text.OrNull();
    std::string cipher;
    if (stored && (flags & kEncryptedFlag)) {
      // A confidential value is never stored in plain text instead: what
      // cannot be enciphered is refused and the old value stays.
      CipherStatus status = EncryptValue(stored, cipher);
      if (status != kCipherDone) {
        std::string why = CipherRefusalText(status);
        CoreNotifyText("SetEnvironmentVariable", why.c_str());
        return S_FALSE;
      }
      stored = cipher.c_str();
    }
    int result = CoreVariables().SetVariable(nullptr, variable.text, stored, static_cast<int>(flags & ~kEncryptedFlag));
    *pVal = result == 0 ? kTrue : kFalse;
    return S_OK;
  });
}

HRESULT CCore::FreeHandle(long hObject, long *pVal) {
  return CoreGuarded("FreeHandle", [&]() -> HRESULT {
    if (!pVal)
      return E_POINTER;
    *pVal = kFalse;
    if (hObject == 0)
      return S_FALSE;
    int32_t type = HandleTypeOf(hObject);
    switch (type) {
    case 0:
      CORE_DEBUG("FreeHandle", "Not a live handle: %ld", hObject);
      return S_FALSE;
    case HT_MESSAGE:
    case HT_TOKEN: {
      HandleRecord *record = HandleTake(hObject, type);
      if (!record) // freed by another thread meanwhile
        return S_FALSE;
      if (type == HT_TOKEN)
        CloseHandle(static_cast<HANDLE>(record->payload));
      else
        free(record->payload);
      HandleDeleteRecord(record);
      *pVal = kTrue;
      return S_OK;
    }
    case HT_JOB:
    case HT_JOB_LIST: {
      HandleRecord *record = HandleTake(hObject, type);
      if (!record)
        return S_FALSE;
      FreeJobPayload(type, record->payload);
      HandleDeleteRecord(record);
      *pVal = kTrue;
      return S_OK;
    }
    case HT_FTP_SESSION:
      if (!CloseFtpSession(HandleTake(hObject, type)))
        return S_FALSE;
      *pVal = kTrue;
      return S_OK;
    default:
      CORE_DEBUG("FreeHandle", "Unknown handle type %X", static_cast<unsigned>(type));
      QMR_NotifyMessage(0, "CCore::FreeHandle: Unknown handle type %X", static_cast<unsigned>(type));
      return S_FALSE;
    }
  });
}
