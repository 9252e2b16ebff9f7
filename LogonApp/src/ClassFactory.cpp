#include "ClassFactory.h"

#include <new>

#include "ComSupport.h"
#include "Korvath/CredentialProviderInterfaces.h"
#include "CredentialTypes.h"
#include "HalvaneProvider.h"
#include "HalvaneProviderFilter.h"
#include "ModuleState.h"

namespace Korvath {
namespace Provider {

namespace {
const char* const kClass = "CClassFactory";
}

CClassFactory::CClassFactory(std::uint32_t tag) : tag_(tag) { objectAdded(); }

CClassFactory::~CClassFactory() { objectRemoved(); }

IFACEMETHODIMP CClassFactory::QueryInterface(REFIID riid, void** ppv) {
  static const InterfaceEntry table[] = {{&IID_IUnknown, 0}, {&IID_IClassFactory, 0}};
  return searchInterfaces(this, table, riid, ppv);
}

IFACEMETHODIMP_(ULONG) CClassFactory::AddRef() { return static_cast<ULONG>(++refs_); }

IFACEMETHODIMP_(ULONG) CClassFactory::Release() {
  const LONG left = --refs_;
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

IFACEMETHODIMP CClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
  return guarded("CClassFactory::CreateInstance", E_UNEXPECTED, [&]() -> HRESULT {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    if (IsEqualIID(riid, IID_ICredentialProvider) || IsEqualIID(riid, IID_IUnknown)) {
      auto* provider = new (std::nothrow) HalvaneProvider(tag_);
      if (provider == nullptr) return E_OUTOFMEMORY;
      const HRESULT hr = provider->QueryInterface(riid, ppv);
      provider->Release();
      return hr;
    }
    if (IsEqualIID(riid, IID_ICredentialProviderFilter)) {
      auto* filter = new (std::nothrow) HalvaneProviderFilter();
      if (filter == nullptr) return E_OUTOFMEMORY;
      const HRESULT hr = filter->QueryInterface(riid, ppv);
      filter->Release();
      return hr;
    }
    // The answer COM callers of these factories have always seen for other interfaces.
    KV_LOG_DEBUG("%s - no object for interface %s", kClass, guidText(riid).c_str());
    return CLASS_E_NOAGGREGATION;
  });
}

IFACEMETHODIMP CClassFactory::LockServer(BOOL lock) {
  if (lock) {
    objectAdded();
  } else {
    objectRemoved();
  }
  return S_OK;
}

HRESULT getClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  return guarded("DllGetClassObject", E_UNEXPECTED, [&]() -> HRESULT {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    openLogOnFirstUse();
    const CredentialType* type = findByWrapper(clsid);
    if (type == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new (std::nothrow) CClassFactory(type->tag);
    if (factory == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
  });
}

}  // namespace Provider
}  // namespace Korvath
