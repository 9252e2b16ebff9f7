#include "GateTestSupport.h"

#include <algorithm>

#include "ClassFactory.h"
#include "CredentialTypes.h"

namespace GateTest {

void FreeSpy::watch(const std::vector<std::uint8_t>& secret) {
  std::lock_guard<std::mutex> lock(mutex_);
  secret_ = secret;
  holdingSecret_ = 0;
  zeroed_.clear();
}

int FreeSpy::freedHoldingSecret() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return holdingSecret_;
}

int FreeSpy::zeroedFreesOfSize(std::size_t size) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = zeroed_.find(size);
  return found == zeroed_.end() ? 0 : found->second;
}

IFACEMETHODIMP FreeSpy::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IMallocSpy)) return E_NOINTERFACE;
  *ppv = static_cast<IMallocSpy*>(this);
  return S_OK;
}

IFACEMETHODIMP_(SIZE_T) FreeSpy::PreAlloc(SIZE_T cb) {
  std::lock_guard<std::mutex> lock(mutex_);
  pending_ = cb;
  return cb;
}

IFACEMETHODIMP_(void*) FreeSpy::PostAlloc(void* p) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (p != nullptr) sizes_[p] = pending_;
  return p;
}

IFACEMETHODIMP_(void*) FreeSpy::PreFree(void* p, BOOL) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = sizes_.find(p);
  if (found != sizes_.end()) {
    const auto* bytes = static_cast<const std::uint8_t*>(p);
    const SIZE_T size = found->second;
    if (!secret_.empty() && std::search(bytes, bytes + size, secret_.begin(), secret_.end()) != bytes + size)
      ++holdingSecret_;
    if (size > 0 && std::all_of(bytes, bytes + size, [](std::uint8_t b) { return b == 0; })) ++zeroed_[size];
    sizes_.erase(found);
  }
  return p;
}

IFACEMETHODIMP_(SIZE_T) FreeSpy::PreRealloc(void* p, SIZE_T cb, void** out, BOOL) {
  std::lock_guard<std::mutex> lock(mutex_);
  sizes_.erase(p);
  pending_ = cb;
  *out = p;
  return cb;
}

IFACEMETHODIMP_(void*) FreeSpy::PostRealloc(void* p, BOOL) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (p != nullptr) sizes_[p] = pending_;
  return p;
}

HRESULT createObject(REFCLSID clsid, REFIID iid, void** out) {
  if (Korvath::Provider::findByWrapper(clsid) == nullptr)
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, out);
  IClassFactory* factory = nullptr;
  HRESULT hr = Korvath::Provider::getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(nullptr, iid, out);
  factory->Release();
  return hr;
}

}  // namespace GateTest
