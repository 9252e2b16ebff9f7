#include "KvLogonUi/LogonUi.h"

#include <shlwapi.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <set>

#include "KvStandIn/PackedLogon.h"
#include "KvStandIn/StandInProbe.h"

namespace KvLogonUi {

namespace {

const wchar_t* const kProvidersKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Authentication\\Credential Providers";
const wchar_t* const kFiltersKey =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Authentication\\Credential Provider Filters";

std::string narrow(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
  return out;
}

std::vector<GUID> subkeyGuids(const wchar_t* path) {
  std::vector<GUID> out;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return out;
  for (DWORD i = 0;; ++i) {
    wchar_t name[64];
    DWORD length = 64;
    if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    GUID guid;
    if (SUCCEEDED(CLSIDFromString(name, &guid))) out.push_back(guid);
  }
  RegCloseKey(key);
  return out;
}

// A minimal COM object base for the sinks and the user array.
template <typename... Interfaces>
class Object : public Interfaces... {
 public:
  IFACEMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs_); }
  IFACEMETHODIMP_(ULONG) Release() override {
    const LONG left = --refs_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

 protected:
  virtual ~Object() = default;
  std::atomic<LONG> refs_{1};
};

class ProviderEvents : public Object<ICredentialProviderEvents> {
 public:
  IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_ICredentialProviderEvents)) return E_NOINTERFACE;
    *ppv = static_cast<ICredentialProviderEvents*>(this);
    AddRef();
    return S_OK;
  }
  IFACEMETHODIMP CredentialsChanged(UINT_PTR) override {
    ++changes;
    return S_OK;
  }
  int changes = 0;
};

class CredentialEvents : public Object<ICredentialProviderCredentialEvents2> {
 public:
  IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_ICredentialProviderCredentialEvents) &&
        !IsEqualIID(riid, IID_ICredentialProviderCredentialEvents2))
      return E_NOINTERFACE;
    *ppv = static_cast<ICredentialProviderCredentialEvents2*>(this);
    AddRef();
    return S_OK;
  }
  IFACEMETHODIMP SetFieldState(ICredentialProviderCredential*, DWORD, CREDENTIAL_PROVIDER_FIELD_STATE) override { return S_OK; }
  IFACEMETHODIMP SetFieldInteractiveState(ICredentialProviderCredential*, DWORD,
                                          CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE) override {
    return S_OK;
  }
  IFACEMETHODIMP SetFieldString(ICredentialProviderCredential*, DWORD, LPCWSTR) override { return S_OK; }
  IFACEMETHODIMP SetFieldCheckbox(ICredentialProviderCredential*, DWORD, BOOL, LPCWSTR) override { return S_OK; }
  IFACEMETHODIMP SetFieldBitmap(ICredentialProviderCredential*, DWORD, HBITMAP) override { return S_OK; }
  IFACEMETHODIMP SetFieldComboBoxSelectedItem(ICredentialProviderCredential*, DWORD, DWORD) override { return S_OK; }
  IFACEMETHODIMP DeleteFieldComboBoxItem(ICredentialProviderCredential*, DWORD, DWORD) override { return S_OK; }
  IFACEMETHODIMP AppendFieldComboBoxItem(ICredentialProviderCredential*, DWORD, LPCWSTR) override { return S_OK; }
  IFACEMETHODIMP SetFieldSubmitButton(ICredentialProviderCredential*, DWORD, DWORD) override { return S_OK; }
  IFACEMETHODIMP OnCreatingWindow(HWND* owner) override {
    if (owner == nullptr) return E_POINTER;
    *owner = nullptr;
    return S_OK;
  }
  IFACEMETHODIMP BeginFieldUpdates() override { return S_OK; }
  IFACEMETHODIMP EndFieldUpdates() override { return S_OK; }
  IFACEMETHODIMP SetFieldOptions(ICredentialProviderCredential*, DWORD, CREDENTIAL_PROVIDER_CREDENTIAL_FIELD_OPTIONS) override {
    return S_OK;
  }
};

class User : public Object<ICredentialProviderUser> {
 public:
  User(const UserEntry& entry, UserReads* reads) : entry_(entry), reads_(reads) {}
  IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_ICredentialProviderUser)) return E_NOINTERFACE;
    *ppv = static_cast<ICredentialProviderUser*>(this);
    AddRef();
    return S_OK;
  }
  IFACEMETHODIMP GetSid(LPWSTR* sid) override {
    ++reads_->sid;
    return SHStrDupW(entry_.sid.c_str(), sid);
  }
  IFACEMETHODIMP GetProviderID(GUID* id) override {
    if (id == nullptr) return E_POINTER;
    *id = entry_.providerId;
    return S_OK;
  }
  IFACEMETHODIMP GetStringValue(REFPROPERTYKEY key, LPWSTR* value) override {
    using namespace Korvath::CredentialProvider;
    if (value == nullptr) return E_POINTER;
    *value = nullptr;
    if (key == PKEY_Identity_UserName) {
      ++reads_->userName;
      return SHStrDupW(entry_.userName.c_str(), value);
    }
    if (key == PKEY_Identity_QualifiedUserName) {
      ++reads_->qualifiedUserName;
      return SHStrDupW(entry_.qualifiedUserName.c_str(), value);
    }
    if (key == PKEY_Identity_PrimarySid) {
      ++reads_->sid;
      return SHStrDupW(entry_.sid.c_str(), value);
    }
    return E_INVALIDARG;
  }
  IFACEMETHODIMP GetValue(REFPROPERTYKEY, PROPVARIANT*) override { return E_NOTIMPL; }

 private:
  UserEntry entry_;
  UserReads* reads_;
};

class UserArray : public Object<ICredentialProviderUserArray> {
 public:
  UserArray(const std::vector<UserEntry>& users, std::vector<UserReads>* reads) {
    for (std::size_t i = 0; i < users.size(); ++i) users_.push_back(new User(users[i], &(*reads)[i]));
  }
  IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_ICredentialProviderUserArray)) return E_NOINTERFACE;
    *ppv = static_cast<ICredentialProviderUserArray*>(this);
    AddRef();
    return S_OK;
  }
  IFACEMETHODIMP SetProviderFilter(REFGUID) override { return S_OK; }
  IFACEMETHODIMP GetAccountOptions(CREDENTIAL_PROVIDER_ACCOUNT_OPTIONS* options) override {
    if (options == nullptr) return E_POINTER;
    *options = CPAO_NONE;
    return S_OK;
  }
  IFACEMETHODIMP GetCount(DWORD* count) override {
    if (count == nullptr) return E_POINTER;
    *count = static_cast<DWORD>(users_.size());
    return S_OK;
  }
  IFACEMETHODIMP GetAt(DWORD index, ICredentialProviderUser** user) override {
    if (user == nullptr) return E_POINTER;
    *user = nullptr;
    if (index >= users_.size()) return E_INVALIDARG;
    users_[index]->AddRef();
    *user = users_[index];
    return S_OK;
  }

 private:
  ~UserArray() override {
    for (User* user : users_) user->Release();
  }
  std::vector<User*> users_;
};

struct LiveProvider {
  GUID clsid;
  ICredentialProvider* provider = nullptr;
  bool advised = false;
};

std::string responseName(int response) {
  switch (response) {
    case CPGSR_NO_CREDENTIAL_NOT_FINISHED:
      return "0";
    case CPGSR_NO_CREDENTIAL_FINISHED:
      return "1";
    case CPGSR_RETURN_CREDENTIAL_FINISHED:
      return "2";
    case CPGSR_RETURN_NO_CREDENTIAL_FINISHED:
      return "3";
    default:
      return std::to_string(response);
  }
}

// Field identifiers of the tile's first edit field and first password field.
void findFields(ICredentialProvider* provider, DWORD& userField, DWORD& passwordField) {
  userField = passwordField = CREDENTIAL_PROVIDER_NO_DEFAULT;
  DWORD count = 0;
  if (FAILED(provider->GetFieldDescriptorCount(&count))) return;
  for (DWORD i = 0; i < count; ++i) {
    CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR* descriptor = nullptr;
    if (FAILED(provider->GetFieldDescriptorAt(i, &descriptor)) || descriptor == nullptr) continue;
    if (descriptor->cpft == CPFT_EDIT_TEXT && userField == CREDENTIAL_PROVIDER_NO_DEFAULT) userField = descriptor->dwFieldID;
    if (descriptor->cpft == CPFT_PASSWORD_TEXT && passwordField == CREDENTIAL_PROVIDER_NO_DEFAULT)
      passwordField = descriptor->dwFieldID;
    CoTaskMemFree(descriptor->pszLabel);
    CoTaskMemFree(descriptor);
  }
}

std::string probeAnswer(IUnknown* object, const wchar_t* question) {
  IStandInProbe* probe = KvStandIn::reachProbe(object);
  if (probe == nullptr) return std::string();
  LPWSTR answer = nullptr;
  std::string out;
  if (SUCCEEDED(probe->Ask(question, &answer)) && answer != nullptr) out = narrow(answer);
  CoTaskMemFree(answer);
  probe->Release();
  return out;
}

}  // namespace

ICredentialProviderUserArray* createUserArray(const std::vector<UserEntry>& users, std::vector<UserReads>* reads) {
  reads->assign(users.size(), UserReads());
  return new UserArray(users, reads);
}

std::string guidText(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return narrow(text);
}

bool parseGuid(const std::string& text, GUID& out) {
  std::wstring wide(text.begin(), text.end());
  return SUCCEEDED(CLSIDFromString(wide.c_str(), &out));
}

std::string hr(HRESULT value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(value));
  return text;
}

LogonUi::LogonUi(std::function<void(const std::string&)> print, ObjectFactory create)
    : print_(std::move(print)), create_(std::move(create)) {
  if (!create_) {
    create_ = [](REFCLSID clsid, REFIID iid, void** out) {
      return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, out);
    };
  }
}

std::vector<GUID> LogonUi::registeredProviders() { return subkeyGuids(kProvidersKey); }
std::vector<GUID> LogonUi::registeredFilters() { return subkeyGuids(kFiltersKey); }

void LogonUi::say(Outcome& outcome, const std::string& line) {
  outcome.lines.push_back(line);
  if (print_) print_(line);
}

Outcome LogonUi::signIn(const SignIn& request) {
  Outcome outcome;
  std::vector<GUID> providers = registeredProviders();
  const std::vector<GUID> filters = registeredFilters();
  say(outcome, "registry providers=" + std::to_string(providers.size()) + " filters=" + std::to_string(filters.size()));

  // Filters: the remote serialization first, then which providers may take part.
  RemoteCredential remote = request.remote;
  bool hasRemote = request.hasRemote;
  std::vector<BOOL> allow(providers.size(), TRUE);
  for (const GUID& clsid : filters) {
    ICredentialProviderFilter* filter = nullptr;
    HRESULT h = create_(clsid, IID_ICredentialProviderFilter, reinterpret_cast<void**>(&filter));
    say(outcome, "filter clsid=" + guidText(clsid) + " create hr=" + hr(h));
    if (FAILED(h) || filter == nullptr) continue;
    if (hasRemote) {
      CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION in = {};
      in.clsidCredentialProvider = remote.provider;
      in.ulAuthenticationPackage = remote.package;
      in.cbSerialization = static_cast<ULONG>(remote.bytes.size());
      in.rgbSerialization = remote.bytes.empty() ? nullptr : remote.bytes.data();
      CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION out = {};
      h = filter->UpdateRemoteCredential(&in, &out);
      outcome.updateRemote = h;
      say(outcome, "filter clsid=" + guidText(clsid) + " UpdateRemoteCredential hr=" + hr(h) +
                       " provider=" + guidText(out.clsidCredentialProvider) + " size=" + std::to_string(out.cbSerialization));
      if (h == S_OK && out.rgbSerialization != nullptr) {
        remote.provider = out.clsidCredentialProvider;
        remote.package = out.ulAuthenticationPackage;
        remote.bytes.assign(out.rgbSerialization, out.rgbSerialization + out.cbSerialization);
        outcome.updatedRemote = remote;
      }
      if (out.rgbSerialization != nullptr) {
        SecureZeroMemory(out.rgbSerialization, out.cbSerialization);
        CoTaskMemFree(out.rgbSerialization);
      }
    }
    h = filter->Filter(request.scenario, request.scenarioFlags, providers.data(), allow.data(),
                       static_cast<DWORD>(providers.size()));
    say(outcome, "filter clsid=" + guidText(clsid) + " Filter hr=" + hr(h));
    filter->Release();
  }
  for (std::size_t i = 0; i < providers.size(); ++i) {
    outcome.verdicts.push_back({providers[i], allow[i] != FALSE});
    say(outcome, "allow clsid=" + guidText(providers[i]) + " allowed=" + (allow[i] ? "1" : "0"));
  }

  ICredentialProviderUserArray* users = request.users.empty() ? nullptr : createUserArray(request.users, &outcome.userReads);
  ProviderEvents* providerEvents = new ProviderEvents();
  std::vector<LiveProvider> live;
  for (std::size_t i = 0; i < providers.size(); ++i) {
    if (!allow[i]) continue;
    const std::string name = "provider clsid=" + guidText(providers[i]);
    LiveProvider p{providers[i]};
    HRESULT h = create_(providers[i], IID_ICredentialProvider, reinterpret_cast<void**>(&p.provider));
    say(outcome, name + " create hr=" + hr(h));
    if (FAILED(h) || p.provider == nullptr) continue;
    h = p.provider->SetUsageScenario(request.scenario, request.scenarioFlags);
    say(outcome, name + " SetUsageScenario hr=" + hr(h));
    if (FAILED(h)) {
      p.provider->Release();
      continue;
    }
    if (hasRemote && IsEqualGUID(remote.provider, providers[i])) {
      CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION cs = {};
      cs.clsidCredentialProvider = remote.provider;
      cs.ulAuthenticationPackage = remote.package;
      cs.cbSerialization = static_cast<ULONG>(remote.bytes.size());
      cs.rgbSerialization = remote.bytes.empty() ? nullptr : remote.bytes.data();
      say(outcome, name + " SetSerialization hr=" + hr(p.provider->SetSerialization(&cs)));
    }
    if (users != nullptr) {
      ICredentialProviderSetUserArray* setter = nullptr;
      if (SUCCEEDED(p.provider->QueryInterface(IID_ICredentialProviderSetUserArray, reinterpret_cast<void**>(&setter))) &&
          setter != nullptr) {
        say(outcome, name + " SetUserArray hr=" + hr(setter->SetUserArray(users)));
        setter->Release();
      }
    }
    h = p.provider->Advise(providerEvents, static_cast<UINT_PTR>(live.size() + 1));
    p.advised = SUCCEEDED(h);
    say(outcome, name + " Advise hr=" + hr(h));
    DWORD count = 0;
    DWORD defaultIndex = 0;
    BOOL autoLogon = FALSE;
    h = p.provider->GetCredentialCount(&count, &defaultIndex, &autoLogon);
    say(outcome, name + " GetCredentialCount hr=" + hr(h) + " count=" + std::to_string(count) +
                     " default=" + std::to_string(static_cast<long>(defaultIndex)) + " autologon=" + std::to_string(autoLogon));
    if (IsEqualGUID(p.clsid, request.tile)) outcome.credentialCount = SUCCEEDED(h) ? count : 0;
    live.push_back(p);
    outcome.providers.push_back(p.clsid);
  }

  LiveProvider* tile = nullptr;
  for (LiveProvider& p : live)
    if (IsEqualGUID(p.clsid, request.tile)) tile = &p;
  if (tile == nullptr) {
    outcome.hr = CLASS_E_CLASSNOTAVAILABLE;
    say(outcome, "tile clsid=" + guidText(request.tile) + " not available hr=" + hr(outcome.hr));
  } else {
    const std::string name = "credential clsid=" + guidText(tile->clsid) + " index=" + std::to_string(request.credentialIndex);
    ICredentialProviderCredential* credential = nullptr;
    HRESULT h = tile->provider->GetCredentialAt(request.credentialIndex, &credential);
    say(outcome, name + " GetCredentialAt hr=" + hr(h));
    if (FAILED(h) || credential == nullptr) {
      outcome.hr = FAILED(h) ? h : E_POINTER;
    } else {
      CredentialEvents* events = new CredentialEvents();
      say(outcome, name + " Advise hr=" + hr(credential->Advise(events)));
      BOOL autoLogon = FALSE;
      h = credential->SetSelected(&autoLogon);
      say(outcome, name + " SetSelected hr=" + hr(h) + " autologon=" + std::to_string(autoLogon));
      if (request.typeFields) {
        DWORD userField = 0;
        DWORD passwordField = 0;
        findFields(tile->provider, userField, passwordField);
        if (userField != CREDENTIAL_PROVIDER_NO_DEFAULT)
          say(outcome, name + " SetStringValue field=" + std::to_string(userField) +
                           " hr=" + hr(credential->SetStringValue(userField, request.user.c_str())));
        if (passwordField != CREDENTIAL_PROVIDER_NO_DEFAULT)
          say(outcome, name + " SetStringValue field=" + std::to_string(passwordField) +
                           " hr=" + hr(credential->SetStringValue(passwordField, request.password.c_str())));
      }
      if (beforeSubmit) beforeSubmit(credential);
      for (int n = 0; n < request.submissions; ++n) {
        if (n > 0 && request.submitDelayMs > 0) Sleep(request.submitDelayMs);
        CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE response = CPGSR_NO_CREDENTIAL_NOT_FINISHED;
        CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION cs = {};
        LPWSTR statusText = nullptr;
        CREDENTIAL_PROVIDER_STATUS_ICON icon = CPSI_NONE;
        Submission s;
        s.hr = credential->GetSerialization(&response, &cs, &statusText, &icon);
        s.response = static_cast<int>(response);
        if (SUCCEEDED(s.hr)) {
          s.package = cs.ulAuthenticationPackage;
          s.provider = cs.clsidCredentialProvider;
          if (cs.rgbSerialization != nullptr) s.bytes.assign(cs.rgbSerialization, cs.rgbSerialization + cs.cbSerialization);
          if (statusText != nullptr) s.statusText = statusText;
        }
        // LogonUI owns what it was given: wipe and free it.
        if (cs.rgbSerialization != nullptr) {
          SecureZeroMemory(cs.rgbSerialization, cs.cbSerialization);
          CoTaskMemFree(cs.rgbSerialization);
        }
        CoTaskMemFree(statusText);
        s.innerProduced = probeAnswer(credential, L"produced");
        say(outcome, name + " GetSerialization hr=" + hr(s.hr) + " response=" + responseName(s.response) +
                         " size=" + std::to_string(s.bytes.size()) + " package=" + std::to_string(s.package) +
                         " provider=" + guidText(s.provider));
        if (request.reportResult && SUCCEEDED(s.hr) && response == CPGSR_RETURN_CREDENTIAL_FINISHED) {
          LPWSTR text = nullptr;
          CREDENTIAL_PROVIDER_STATUS_ICON reportIcon = CPSI_NONE;
          h = credential->ReportResult(request.reportStatus, request.reportSubStatus, &text, &reportIcon);
          CoTaskMemFree(text);
          say(outcome, name + " ReportResult hr=" + hr(h) + " status=" + hr(request.reportStatus));
        }
        outcome.submissions.push_back(std::move(s));
      }
      say(outcome, name + " UnAdvise hr=" + hr(credential->UnAdvise()));
      credential->Release();
      events->Release();
    }
  }

  for (LiveProvider& p : live) {
    if (p.advised) p.provider->UnAdvise();
    p.provider->Release();
  }
  providerEvents->Release();
  if (users != nullptr) users->Release();
  say(outcome, "released providers=" + std::to_string(live.size()) + " filters=" + std::to_string(filters.size()));
  return outcome;
}

std::vector<std::string> LogonUi::unloadReport() {
  std::vector<std::string> lines;
  std::set<std::wstring> seen;
  std::vector<GUID> classes = registeredProviders();
  for (const GUID& filter : registeredFilters()) classes.push_back(filter);
  for (const GUID& clsid : classes) {
    const std::string text = guidText(clsid);
    const std::wstring key = L"SOFTWARE\\Classes\\CLSID\\" + std::wstring(text.begin(), text.end()) + L"\\InprocServer32";
    wchar_t path[MAX_PATH] = {};
    DWORD size = sizeof path;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, path, &size) != ERROR_SUCCESS) continue;
    if (!seen.insert(path).second) continue;
    HMODULE module = GetModuleHandleW(path);
    if (module == nullptr) continue;
    using CanUnloadFn = HRESULT(STDAPICALLTYPE*)();
    auto canUnload = reinterpret_cast<CanUnloadFn>(reinterpret_cast<void (*)()>(GetProcAddress(module, "DllCanUnloadNow")));
    if (canUnload == nullptr) continue;
    wchar_t* file = PathFindFileNameW(path);
    lines.push_back("unload module=" + narrow(file) + " DllCanUnloadNow=" + hr(canUnload()));
  }
  if (print_)
    for (const std::string& line : lines) print_(line);
  return lines;
}

}  // namespace KvLogonUi
