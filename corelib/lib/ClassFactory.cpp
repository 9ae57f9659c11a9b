// The class factory of Core (one object, cached for the life of the
// library) and the library's DllGetClassObject and DllCanUnloadNow.
#include "ClassFactory.h"

#include "Core.h"
#include "CoreModule.h"

namespace {

class CCoreFactory : public IClassFactory {
public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override {
    if (!object)
      return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *object = static_cast<IClassFactory *>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  // The factory lives as long as the library. References to it do not
  // keep the library (COM holds one while the library is loaded); only
  // LockServer does.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID iid, void **object) override {
    return CCore::Create(outer, iid, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock)
      CoreLockModule();
    else
      CoreUnlockModule();
    return S_OK;
  }
};

CCoreFactory g_factory;

} // namespace

HRESULT CoreGetClassObject(REFCLSID clsid, REFIID iid, void **object) {
  if (!object)
    return E_POINTER;
  *object = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_Core))
    return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(iid, object);
}

HRESULT CoreCanUnloadNow() { return CoreModuleLocks() == 0 ? S_OK : S_FALSE; }
