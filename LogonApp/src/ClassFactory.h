#pragma once

// The class factory of each of the library's eight class identifiers, and the library's
// answers to DllGetClassObject and DllCanUnloadNow (exported by DllEntry.cpp).

#include <windows.h>
#include <objbase.h>
#include <unknwn.h>

#include <atomic>
#include <cstdint>

namespace Korvath {
namespace Provider {

class CClassFactory : public IClassFactory {
 public:
  explicit CClassFactory(std::uint32_t tag);

  // IUnknown
  IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  IFACEMETHODIMP_(ULONG) AddRef() override;
  IFACEMETHODIMP_(ULONG) Release() override;
  // IClassFactory
  IFACEMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
  IFACEMETHODIMP LockServer(BOOL lock) override;

  std::uint32_t tag() const { return tag_; }

 private:
  virtual ~CClassFactory();

  std::atomic<LONG> refs_{1};
  std::uint32_t tag_;
};

// The class object of one of the eight class identifiers; CLASS_E_CLASSNOTAVAILABLE for any
// other identifier.
HRESULT getClassObject(REFCLSID clsid, REFIID riid, void** ppv);

}  // namespace Provider
}  // namespace Korvath
