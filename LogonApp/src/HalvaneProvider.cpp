#include "HalvaneProvider.h"

#include <new>

#include "CredentialTypes.h"
#include "HalvaneCredential.h"
#include "Korvath/Authentication/WindowsAuthentication.h"
#include "Korvath/ConnectionUtils.h"
#include "Korvath/KvGeolocator.h"
#include "Korvath/Logger.h"
#include "Korvath/Utils.h"
#include "Korvath/WindowsFacts.h"
#include "ModuleState.h"
#include "ProviderEnvironment.h"

namespace Korvath {
namespace Provider {

namespace {

const char* const kClass = "HalvaneProvider";

std::atomic<long> g_providers{0};
// Set when the geolocation task is started (not by the task itself), so that two providers
// getting their usage scenario one after the other cannot both start it.
std::atomic<bool> g_geolocationStarted{false};

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

}  // namespace

long HalvaneProvider::liveProviders() { return g_providers.load(); }

HalvaneProvider::HalvaneProvider(std::uint32_t tag) : tag_(tag) {
  KV_LOG_DEBUG("%s - credential type %u (%s)", kClass, tag_, typeOfTag(tag_).kind);
  objectAdded();
  ++g_providers;
}

HalvaneProvider::~HalvaneProvider() {
  cleanUpAllCredentials();
  if (--g_providers == 0 && g_geolocationStarted.exchange(false)) geolocator().stopGeolocationProcessing();
  users_.reset();
  inner_.reset();
  // Last: the library must stay loaded until the inner provider is gone.
  objectRemoved();
}

IFACEMETHODIMP HalvaneProvider::QueryInterface(REFIID riid, void** ppv) {
  return guarded("HalvaneProvider::QueryInterface", E_NOINTERFACE, [&]() -> HRESULT {
    static const InterfaceEntry table[] = {
        {&IID_IUnknown, interfaceOffset<ICredentialProvider, HalvaneProvider>()},
        {&IID_ICredentialProvider, interfaceOffset<ICredentialProvider, HalvaneProvider>()},
        {&IID_ICredentialProviderSetUserArray, interfaceOffset<ICredentialProviderSetUserArray, HalvaneProvider>()},
    };
    // Nothing else is answered, and nothing is passed on to Windows' provider: its
    // credentials would reach LogonUI unwrapped.
    const HRESULT hr = searchInterfaces(this, table, riid, ppv);
    if (hr == E_NOINTERFACE)
      KV_LOG_DEBUG("%s - no interface %s", "HalvaneProvider::QueryInterface", guidText(riid).c_str());
    return hr;
  });
}

IFACEMETHODIMP_(ULONG) HalvaneProvider::AddRef() { return static_cast<ULONG>(++refs_); }

IFACEMETHODIMP_(ULONG) HalvaneProvider::Release() {
  const LONG left = --refs_;
  // Destructors are noexcept: nothing can escape the interface from here.
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

IFACEMETHODIMP HalvaneProvider::SetUsageScenario(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus, DWORD flags) {
  return guarded("HalvaneProvider::SetUsageScenario", E_UNEXPECTED, [&]() -> HRESULT {
    KV_TRACE_SCOPE("HalvaneProvider::SetUsageScenario");
    if (cpus != CPUS_LOGON && cpus != CPUS_UNLOCK_WORKSTATION && cpus != CPUS_CHANGE_PASSWORD) {
      KV_LOG_DEBUG("%s - usage scenario %d not served", kClass, static_cast<int>(cpus));
      return E_NOTIMPL;
    }
    scenario_ = cpus;
    scenarioFlags_ = flags;
    if (!inner_) {
      const HRESULT created = createProviderWrapper();
      if (FAILED(created)) return created;
    }
    const HRESULT hr = inner_->SetUsageScenario(cpus, flags);
    if (FAILED(hr)) {
      KV_LOG_ERROR("%s - inner SetUsageScenario failed 0x%08lx", kClass, static_cast<unsigned long>(hr));
      inner_.reset();
      return hr;
    }
    startGeolocationOnce();
    return hr;
  });
}

void HalvaneProvider::startGeolocationOnce() {
  if (g_geolocationStarted.load() || !isRunningAsLocalSystem() || isRemoteSignIn()) return;
  if (Geolocation::GeolocationBusiness::shouldIgnoreGeolocation()) return;
  if (g_geolocationStarted.exchange(true)) return;
  KV_LOG_DEBUG("%s - starting the geolocation task", kClass);
  geolocator().startGeolocationProcessing();
}

IFACEMETHODIMP HalvaneProvider::SetSerialization(const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* pcpcs) {
  return guarded("HalvaneProvider::SetSerialization", E_UNEXPECTED, [&]() -> HRESULT {
    KV_TRACE_SCOPE("HalvaneProvider::SetSerialization");
    if (pcpcs == nullptr) return E_INVALIDARG;
    if (pcpcs->cbSerialization != 0 && pcpcs->rgbSerialization != nullptr) {
      Authentication::WindowsAuthentication::fillUsernameDomainFromLSALogonUser(
          identitySeam(), pcpcs->ulAuthenticationPackage, pcpcs->rgbSerialization, pcpcs->cbSerialization, 0,
          domain_, username_, userUpn_);
      KV_LOG_DEBUG("%s - username = %s", kClass, Utils::toUtf8(username_).c_str());
      KV_LOG_DEBUG("%s - domain = %s", kClass, Utils::toUtf8(domain_).c_str());
      KV_LOG_DEBUG("%s - upn = %s", kClass, Utils::toUtf8(userUpn_).c_str());
    }
    if (tag_ == kTagSmartCard && (!domain_.empty() || !userUpn_.empty())) {
      KV_LOG_DEBUG("%s - Try to show mfa before calling wrapper\xB4s setserialization", kClass);
      auto* temporary = new (std::nothrow) HalvaneCredential(kTagSmartCard);
      if (temporary != nullptr) {
        temporary->Initialize(nullptr, nullptr, this, username_, domain_, userUpn_, hasRemoteCredential(),
                              isRemoteSignIn(), remoteClientAddress());
        // Its verdict is not used here: what counts is the dialog and the list of users
        // who last passed a Windows Hello sign-in, which the real credential finds.
        temporary->checkMFAAuthentication(pcpcs);
        temporary->Release();
      }
    }
    if (!inner_) return S_OK;
    CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION forwarded = *pcpcs;
    forwarded.clsidCredentialProvider = innerSerializationTarget(tag_);
    return inner_->SetSerialization(&forwarded);
  });
}

IFACEMETHODIMP HalvaneProvider::Advise(ICredentialProviderEvents* events, UINT_PTR context) {
  return guarded("HalvaneProvider::Advise", E_UNEXPECTED,
                 [&]() -> HRESULT { return inner_ ? inner_->Advise(events, context) : E_UNEXPECTED; });
}

IFACEMETHODIMP HalvaneProvider::UnAdvise() {
  return guarded("HalvaneProvider::UnAdvise", E_UNEXPECTED,
                 [&]() -> HRESULT { return inner_ ? inner_->UnAdvise() : S_OK; });
}

IFACEMETHODIMP HalvaneProvider::GetFieldDescriptorCount(DWORD* count) {
  return guarded("HalvaneProvider::GetFieldDescriptorCount", E_UNEXPECTED,
                 [&]() -> HRESULT { return inner_ ? inner_->GetFieldDescriptorCount(count) : E_UNEXPECTED; });
}

IFACEMETHODIMP HalvaneProvider::GetFieldDescriptorAt(DWORD index, CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR** descriptor) {
  return guarded("HalvaneProvider::GetFieldDescriptorAt", E_UNEXPECTED, [&]() -> HRESULT {
    return inner_ ? inner_->GetFieldDescriptorAt(index, descriptor) : E_UNEXPECTED;
  });
}

IFACEMETHODIMP HalvaneProvider::GetCredentialCount(DWORD* count, DWORD* defaultIndex, BOOL* autoLogonWithDefault) {
  return guarded("HalvaneProvider::GetCredentialCount", E_UNEXPECTED, [&]() -> HRESULT {
    KV_TRACE_SCOPE("HalvaneProvider::GetCredentialCount");
    if (count == nullptr || defaultIndex == nullptr || autoLogonWithDefault == nullptr) return E_INVALIDARG;
    *count = 0;
    if (!inner_) return E_UNEXPECTED;
    cleanUpAllCredentials();
    DWORD fields = 0;
    HRESULT hr = GetFieldDescriptorCount(&fields);
    KV_LOG_DEBUG("How many fields each credential has (count): %lu", static_cast<unsigned long>(fields));
    if (FAILED(hr)) {
      cleanUpAllCredentials();
      return hr;
    }
    credentialCount_ = 0;
    hr = inner_->GetCredentialCount(&credentialCount_, defaultIndex, autoLogonWithDefault);
    KV_LOG_DEBUG("%s - credential count %lu, default %lu, auto logon %d", kClass,
                 static_cast<unsigned long>(credentialCount_), static_cast<unsigned long>(*defaultIndex),
                 static_cast<int>(*autoLogonWithDefault));
    for (DWORD i = 0; SUCCEEDED(hr) && i < credentialCount_; ++i) {
      ComRef<ICredentialProviderCredential> inner;
      hr = inner_->GetCredentialAt(i, inner.put());
      if (FAILED(hr)) break;
      if (!inner) {
        hr = E_POINTER;
        break;
      }
      ComRef<ICredentialProviderUser> user = userOfCredential(inner.get());
      hr = createCredentials(i, user.get());
    }
    credentialCount_ = static_cast<DWORD>(credentials_.size());
    *count = credentialCount_;
    return hr;
  });
}

ComRef<ICredentialProviderUser> HalvaneProvider::userOfCredential(ICredentialProviderCredential* inner) {
  ComRef<ICredentialProviderUser> match;
  DWORD users = 0;
  if (!users_ || FAILED(users_->GetCount(&users)) || users == 0) return match;
  ComRef<ICredentialProviderCredential2> inner2 =
      queryAs<ICredentialProviderCredential2>(inner, IID_ICredentialProviderCredential2);
  if (!inner2) return match;
  LPWSTR sid = nullptr;
  inner2->GetUserSid(&sid);
  const std::wstring credentialSid = sid != nullptr ? sid : L"";
  CoTaskMemFree(sid);
  if (credentialSid.empty()) return match;
  for (DWORD u = 0; u < users; ++u) {
    ComRef<ICredentialProviderUser> user;
    if (FAILED(users_->GetAt(u, user.put())) || !user) continue;
    LPWSTR name = nullptr;
    if (SUCCEEDED(user->GetStringValue(CredentialProvider::PKEY_Identity_UserName, &name)) && name != nullptr) {
      KV_LOG_DEBUG("%s - user %lu: %s", kClass, static_cast<unsigned long>(u), Utils::toUtf8(name).c_str());
    }
    CoTaskMemFree(name);
    LPWSTR userSid = nullptr;
    const bool equal = SUCCEEDED(user->GetSid(&userSid)) && userSid != nullptr && credentialSid == userSid;
    CoTaskMemFree(userSid);
    if (equal) {
      match = user;
      break;
    }
  }
  return match;
}

HRESULT HalvaneProvider::createCredentials(DWORD index, ICredentialProviderUser* user) {
  ComRef<ICredentialProviderCredential> inner;
  HRESULT hr = inner_->GetCredentialAt(index, inner.put());
  if (FAILED(hr)) return hr;
  if (!inner) return E_POINTER;
  auto* credential = new (std::nothrow) HalvaneCredential(tag_);
  if (credential == nullptr) return E_OUTOFMEMORY;
  hr = credential->Initialize(inner.get(), user, this, username_, domain_, userUpn_, hasRemoteCredential(),
                              isRemoteSignIn(), remoteClientAddress());
  if (FAILED(hr)) {
    credential->Release();
    return hr;
  }
  try {
    credentials_.push_back(credential);
  } catch (...) {
    credential->Release();
    return E_OUTOFMEMORY;
  }
  return hr;
}

IFACEMETHODIMP HalvaneProvider::GetCredentialAt(DWORD index, ICredentialProviderCredential** credential) {
  return guarded("HalvaneProvider::GetCredentialAt", E_UNEXPECTED, [&]() -> HRESULT {
    if (credential == nullptr) return E_INVALIDARG;
    *credential = nullptr;
    if (index >= credentials_.size()) return E_INVALIDARG;
    return credentials_[index]->QueryInterface(IID_ICredentialProviderCredential,
                                               reinterpret_cast<void**>(credential));
  });
}

IFACEMETHODIMP HalvaneProvider::SetUserArray(ICredentialProviderUserArray* users) {
  return guarded("HalvaneProvider::SetUserArray", S_OK, [&]() -> HRESULT {
    if (users != users_.get()) users_.reset(users, true);
    ComRef<ICredentialProviderSetUserArray> innerSetter =
        queryAs<ICredentialProviderSetUserArray>(inner_.get(), IID_ICredentialProviderSetUserArray);
    if (innerSetter) innerSetter->SetUserArray(users);
    return S_OK;
  });
}

HRESULT HalvaneProvider::createProviderWrapper() {
  KV_LOG_TRACE("[IN] %s, m_type %u", "HalvaneProvider::createProviderWrapper", tag_);
  if (inner_) {
    inner_->UnAdvise();
    inner_.reset();
  }
  HRESULT hr;
  ComRef<ICredentialProvider> created;
  if (tag_ == kTagPicturePassword) {
    hr = createPicturePasswordProvider(created.put());
  } else {
    const CLSID inner = innerProviderToCreate(tag_, Utils::isWindows8OrServer2012());
    hr = CoCreateInstance(inner, nullptr, CLSCTX_ALL, IID_ICredentialProvider, reinterpret_cast<void**>(created.put()));
    if (FAILED(hr)) created.reset();
  }
  if (SUCCEEDED(hr) && !created) hr = E_POINTER;
  if (SUCCEEDED(hr)) inner_ = created;
  KV_LOG_TRACE("[OUT] %s, return %ld", "HalvaneProvider::createProviderWrapper", static_cast<long>(hr));
  return hr;
}

// Windows' picture-password provider has the same class identifier as this wrapper, so it
// is made through its own library's class factory instead of the COM registry. The library
// stays loaded for the life of the process.
HRESULT HalvaneProvider::createPicturePasswordProvider(ICredentialProvider** out) {
  *out = nullptr;
  const wchar_t* pattern = Utils::isWindows8OrServer2012() ? L"%systemroot%\\System32\\authui.dll"
                                                           : L"%systemroot%\\System32\\credprovslegacy.dll";
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ExpandEnvironmentStringsW(pattern, path, MAX_PATH);
  if (length == 0 || length > MAX_PATH) return CLASS_E_CLASSNOTAVAILABLE;
  HMODULE library = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (library == nullptr) {
    KV_LOG_ERROR("%s - cannot load %s: %lu", kClass, Utils::toUtf8(path).c_str(), GetLastError());
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  auto getClassObject = reinterpret_cast<GetClassObjectFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(library, "DllGetClassObject")));
  if (getClassObject == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
  ComRef<IClassFactory> factory;
  if (FAILED(getClassObject(typeOfTag(kTagPicturePassword).inner, IID_IClassFactory,
                            reinterpret_cast<void**>(factory.put()))) ||
      !factory) {
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  return factory->CreateInstance(nullptr, IID_ICredentialProvider, reinterpret_cast<void**>(out));
}

void HalvaneProvider::cleanUpAllCredentials() {
  std::vector<HalvaneCredential*> old;
  old.swap(credentials_);
  for (HalvaneCredential* credential : old) credential->UnAdvise();
  for (HalvaneCredential* credential : old) credential->Release();
}

}  // namespace Provider
}  // namespace Korvath
