#pragma once

// Small pieces every COM class of the library shares: the table search behind
// QueryInterface, the guard that keeps C++ exceptions from crossing an interface, and
// text forms of identifiers for the log.

#include <windows.h>
#include <objbase.h>

#include <cstddef>
#include <exception>
#include <string>

#include "Korvath/Logger.h"

namespace Korvath {
namespace Provider {

// One row of a QueryInterface table: an interface and where it starts in the object.
struct InterfaceEntry {
  const IID* iid;
  std::ptrdiff_t offset;
};

// The interface pointer `object` + offset of the first row whose identifier matches,
// with one AddRef through it; E_NOINTERFACE (and a null pointer) when none does.
template <std::size_t N>
HRESULT searchInterfaces(void* object, const InterfaceEntry (&table)[N], REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  for (const InterfaceEntry& entry : table) {
    if (IsEqualIID(riid, *entry.iid)) {
      auto* unknown = reinterpret_cast<IUnknown*>(static_cast<char*>(object) + entry.offset);
      unknown->AddRef();
      *ppv = unknown;
      return S_OK;
    }
  }
  return E_NOINTERFACE;
}

// Offset of base interface `Base` inside `Derived`, for the tables above.
template <typename Base, typename Derived>
std::ptrdiff_t interfaceOffset() {
  // Any non-null address works; the cast only adjusts it by the base's position.
  alignas(Derived) static char probe[sizeof(void*)];
  auto* derived = reinterpret_cast<Derived*>(probe);
  return reinterpret_cast<char*>(static_cast<Base*>(derived)) - reinterpret_cast<char*>(derived);
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case, as StringFromGUID2 writes it.
std::string guidText(REFGUID guid);
std::wstring guidWideText(REFGUID guid);

// Runs `body` (returning an HRESULT); an exception that escapes it is logged under `where`
// and turned into `onException`. LogonUI must never see a C++ exception.
template <typename Body>
HRESULT guarded(const char* where, HRESULT onException, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::exception& e) {
    KV_LOG_ERROR("%s - exception - e.what(): %s", where, e.what());
  } catch (...) {
    KV_LOG_ERROR("%s - exception - unknown", where);
  }
  return onException;
}

// A COM reference that releases itself.
template <typename T>
class ComRef {
 public:
  ComRef() = default;
  explicit ComRef(T* adopted) : p_(adopted) {}
  ComRef(const ComRef& other) : p_(other.p_) {
    if (p_ != nullptr) p_->AddRef();
  }
  ComRef& operator=(const ComRef& other) {
    if (this != &other) reset(other.p_, true);
    return *this;
  }
  ~ComRef() { reset(); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // Releases the held reference and keeps `other` (adding a reference when asked).
  void reset(T* other = nullptr, bool addRef = false) {
    if (other != nullptr && addRef) other->AddRef();
    T* old = p_;
    p_ = other;
    if (old != nullptr) old->Release();
  }
  // For out-parameters: releases the held reference first.
  T** put() {
    reset();
    return &p_;
  }
  T* detach() {
    T* out = p_;
    p_ = nullptr;
    return out;
  }

 private:
  T* p_ = nullptr;
};

// Queries `from` for interface `T`; an empty reference when it has none.
template <typename T>
ComRef<T> queryAs(IUnknown* from, REFIID iid) {
  ComRef<T> out;
  if (from != nullptr && FAILED(from->QueryInterface(iid, reinterpret_cast<void**>(out.put())))) out.reset();
  return out;
}

}  // namespace Provider
}  // namespace Korvath
