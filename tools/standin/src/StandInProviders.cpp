// Test tool: stand-ins for Windows' own credential providers, registered in the test Wine
// prefix under Windows' class identifiers (Wine has none of them). Each credential takes a
// user name and a password (a PIN for the smart card) in string fields and produces a real
// packed logon message: KerbInteractiveLogon / KerbWorkstationUnlockLogon, or for the smart
// card a certificate logon naming a Windows Hello reader. Built twice: as
// KvStandInProviders.dll for every identifier, and as credprovslegacy.dll (picture password
// only) for the system folder, where the tag-204 wrapper loads it.

#include <windows.h>
#include <objbase.h>
#include <shlwapi.h>

#include <atomic>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "Korvath/CredentialProviderInterfaces.h"
#include "KvStandIn/PackedLogon.h"
#include "KvStandIn/StandInProbe.h"

namespace {

using namespace KvStandIn;

std::atomic<long> g_objects{0};

// Every live stand-in object under the number its probe token carries (StandInProbe.h).
std::mutex g_probeMutex;
std::map<ULONG, IStandInProbe*> g_probes;
ULONG g_lastProbe = 0;

ULONG registerProbe(IStandInProbe* probe) {
  std::lock_guard<std::mutex> lock(g_probeMutex);
  g_probes[++g_lastProbe] = probe;
  return g_lastProbe;
}

void unregisterProbe(ULONG number) {
  std::lock_guard<std::mutex> lock(g_probeMutex);
  g_probes.erase(number);
}

// "KvStandInProbe <this DLL's file name> <number>".
std::wstring probeToken(ULONG number) {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&g_objects), &self);
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(self, path, MAX_PATH);
  return L"KvStandInProbe " + std::wstring(PathFindFileNameW(path)) + L" " + std::to_wstring(number);
}

struct Kind {
  const CLSID* clsid;
  const wchar_t* name;
};

const Kind kKinds[] = {
#ifndef KV_STANDIN_PICTURE_ONLY
    {&kPasswordProvider, L"password"},
    {&kPinProvider, L"PIN"},
    {&kWindows8PinProvider, L"PIN (Windows 8)"},
    {&kFingerprintProvider, L"fingerprint"},
    {&kFaceProvider, L"face"},
    {&kMicrosoftAccountProvider, L"Microsoft account"},
    {&kFidoProvider, L"FIDO security key"},
    {&kSmartCardProvider, L"smart card"},
#endif
    {&kPicturePasswordProvider, L"picture password"},
};

const Kind* findKind(REFCLSID clsid) {
  for (const Kind& kind : kKinds)
    if (IsEqualCLSID(*kind.clsid, clsid)) return &kind;
  return nullptr;
}

std::wstring guidText(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

HRESULT dup(const std::wstring& text, LPWSTR* out) {
  if (out == nullptr) return E_POINTER;
  return SHStrDupW(text.c_str(), out);
}

std::wstring wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

class StandInCredential : public ICredentialProviderCredential2, public IStandInProbe {
 public:
  StandInCredential(const Kind& kind, CREDENTIAL_PROVIDER_USAGE_SCENARIO scenario, const std::wstring& sid,
                    const std::wstring& reader, const std::vector<std::uint8_t>& incoming, ULONG incomingPackage,
                    bool version2)
      : kind_(kind), scenario_(scenario), sid_(sid), reader_(reader), incoming_(incoming),
        incomingPackage_(incomingPackage), version2_(version2) {
    ++g_objects;
    probeNumber_ = registerProbe(this);
  }

  IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ICredentialProviderCredential) ||
        (version2_ && IsEqualIID(riid, IID_ICredentialProviderCredential2))) {
      *ppv = static_cast<ICredentialProviderCredential2*>(this);
    } else if (IsEqualIID(riid, IID_IStandInProbe)) {
      *ppv = static_cast<IStandInProbe*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  IFACEMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs_); }
  IFACEMETHODIMP_(ULONG) Release() override {
    const LONG left = --refs_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  IFACEMETHODIMP Advise(ICredentialProviderCredentialEvents* events) override {
    if (events_ != nullptr) events_->Release();
    events_ = events;
    if (events_ != nullptr) events_->AddRef();
    return S_OK;
  }
  IFACEMETHODIMP UnAdvise() override {
    if (events_ != nullptr) events_->Release();
    events_ = nullptr;
    return S_OK;
  }
  IFACEMETHODIMP SetSelected(BOOL* autoLogon) override {
    if (autoLogon == nullptr) return E_POINTER;
    *autoLogon = incoming_.empty() ? FALSE : TRUE;
    return S_OK;
  }
  IFACEMETHODIMP SetDeselected() override { return S_OK; }
  IFACEMETHODIMP GetFieldState(DWORD field, CREDENTIAL_PROVIDER_FIELD_STATE* state,
                               CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE* interactive) override {
    if (field >= kFieldCount) return E_INVALIDARG;
    *state = (field == kFieldUser || field == kFieldPassword || field == kFieldSubmit) ? CPFS_DISPLAY_IN_SELECTED_TILE
                                                                                        : CPFS_DISPLAY_IN_BOTH;
    *interactive = field == kFieldUser ? CPFIS_FOCUSED : CPFIS_NONE;
    return S_OK;
  }
  IFACEMETHODIMP GetStringValue(DWORD field, LPWSTR* value) override {
    switch (field) {
      case kFieldUser:
      case kFieldUserShown:
        return dup(user_, value);
      case kFieldPassword:
        return dup(password_, value);
      case kFieldLabel:
        return dup(std::wstring(kind_.name) + L" stand-in", value);
      case kProbeField:
        return dup(probeToken(probeNumber_), value);
      default:
        return E_INVALIDARG;
    }
  }
  IFACEMETHODIMP GetBitmapValue(DWORD, HBITMAP*) override { return E_NOTIMPL; }
  IFACEMETHODIMP GetCheckboxValue(DWORD, BOOL*, LPWSTR*) override { return E_INVALIDARG; }
  IFACEMETHODIMP GetSubmitButtonValue(DWORD field, DWORD* adjacentTo) override {
    if (field != kFieldSubmit || adjacentTo == nullptr) return E_INVALIDARG;
    *adjacentTo = kFieldPassword;
    return S_OK;
  }
  IFACEMETHODIMP GetComboBoxValueCount(DWORD, DWORD*, DWORD*) override { return E_INVALIDARG; }
  IFACEMETHODIMP GetComboBoxValueAt(DWORD, DWORD, LPWSTR*) override { return E_INVALIDARG; }
  IFACEMETHODIMP SetStringValue(DWORD field, LPCWSTR value) override {
    if (field == kFieldUser) {
      user_ = value != nullptr ? value : L"";
    } else if (field == kFieldPassword) {
      password_ = value != nullptr ? value : L"";
    } else {
      return E_INVALIDARG;
    }
    return S_OK;
  }
  IFACEMETHODIMP SetCheckboxValue(DWORD, BOOL) override { return E_INVALIDARG; }
  IFACEMETHODIMP SetComboBoxSelectedValue(DWORD, DWORD) override { return E_INVALIDARG; }
  IFACEMETHODIMP CommandLinkClicked(DWORD) override { return E_INVALIDARG; }

  IFACEMETHODIMP GetSerialization(CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE* response,
                                  CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* serialization, LPWSTR* statusText,
                                  CREDENTIAL_PROVIDER_STATUS_ICON* statusIcon) override {
    if (response == nullptr || serialization == nullptr) return E_INVALIDARG;
    *response = CPGSR_NO_CREDENTIAL_NOT_FINISHED;
    ZeroMemory(serialization, sizeof *serialization);
    if (statusText != nullptr) *statusText = nullptr;
    if (statusIcon != nullptr) *statusIcon = CPSI_NONE;
    std::vector<std::uint8_t> bytes;
    ULONG package = incomingPackage_;
    // What the user typed wins over what a Remote Desktop client sent.
    if (!incoming_.empty() && user_.empty()) {
      bytes = incoming_;
    } else {
      if (user_.empty()) {
        if (statusText != nullptr) dup(L"Type a user name.", statusText);
        if (statusIcon != nullptr) *statusIcon = CPSI_ERROR;
        return S_OK;
      }
      std::wstring domain;
      std::wstring user;
      splitUserName(user_, domain, user);
      const bool unlock = scenario_ == CPUS_UNLOCK_WORKSTATION;
      if (IsEqualCLSID(*kind_.clsid, kSmartCardProvider)) {
        bytes = packCertificateLogon(unlock ? 15 : 13, domain, user, password_, reader_);
      } else {
        bytes = packInteractiveLogon(unlock ? 7 : 2, domain, user, password_);
      }
      package = negotiatePackage();
    }
    auto* buffer = static_cast<byte*>(CoTaskMemAlloc(bytes.size()));
    if (buffer == nullptr) return E_OUTOFMEMORY;
    CopyMemory(buffer, bytes.data(), bytes.size());
    serialization->ulAuthenticationPackage = package;
    serialization->clsidCredentialProvider = *kind_.clsid;
    serialization->cbSerialization = static_cast<ULONG>(bytes.size());
    serialization->rgbSerialization = buffer;
    *response = CPGSR_RETURN_CREDENTIAL_FINISHED;
    produced_ = bytes;
    return S_OK;
  }
  IFACEMETHODIMP ReportResult(NTSTATUS status, NTSTATUS subStatus, LPWSTR* statusText,
                              CREDENTIAL_PROVIDER_STATUS_ICON* statusIcon) override {
    reported_[0] = static_cast<unsigned long>(status);
    reported_[1] = static_cast<unsigned long>(subStatus);
    if (statusText != nullptr) *statusText = nullptr;
    if (statusIcon != nullptr) *statusIcon = CPSI_NONE;
    return S_OK;
  }
  IFACEMETHODIMP GetUserSid(LPWSTR* sid) override {
    if (sid == nullptr) return E_POINTER;
    *sid = nullptr;
    if (sid_.empty()) return S_FALSE;
    return dup(sid_, sid);
  }

  IFACEMETHODIMP Ask(LPCWSTR question, LPWSTR* answer) override {
    const std::wstring q = question != nullptr ? question : L"";
    if (q == L"produced") return dup(wide(toHex(produced_.data(), produced_.size())), answer);
    if (q == L"sid") return dup(sid_, answer);
    if (q == L"user") return dup(user_, answer);
    if (q == L"reported") {
      wchar_t text[40];
      wsprintfW(text, L"%08lx %08lx", reported_[0], reported_[1]);
      return dup(text, answer);
    }
    return E_INVALIDARG;
  }
  IFACEMETHODIMP Tell(LPCWSTR, LPCWSTR) override { return E_INVALIDARG; }

 private:
  virtual ~StandInCredential() {
    unregisterProbe(probeNumber_);
    if (events_ != nullptr) events_->Release();
    --g_objects;
  }

  std::atomic<LONG> refs_{1};
  const Kind& kind_;
  CREDENTIAL_PROVIDER_USAGE_SCENARIO scenario_;
  std::wstring sid_;
  std::wstring reader_;
  std::vector<std::uint8_t> incoming_;
  ULONG incomingPackage_;
  bool version2_;
  std::wstring user_;
  std::wstring password_;
  std::vector<std::uint8_t> produced_;
  unsigned long reported_[2] = {0, 0};
  ICredentialProviderCredentialEvents* events_ = nullptr;
  ULONG probeNumber_ = 0;
};

class StandInProvider : public ICredentialProvider, public ICredentialProviderSetUserArray, public IStandInProbe {
 public:
  explicit StandInProvider(const Kind& kind) : kind_(kind) {
    ++g_objects;
    probeNumber_ = registerProbe(this);
  }

  IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ICredentialProvider)) {
      *ppv = static_cast<ICredentialProvider*>(this);
    } else if (IsEqualIID(riid, IID_ICredentialProviderSetUserArray)) {
      *ppv = static_cast<ICredentialProviderSetUserArray*>(this);
    } else if (IsEqualIID(riid, IID_IStandInProbe)) {
      *ppv = static_cast<IStandInProbe*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  IFACEMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs_); }
  IFACEMETHODIMP_(ULONG) Release() override {
    const LONG left = --refs_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  IFACEMETHODIMP SetUsageScenario(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus, DWORD) override {
    if (cpus < CPUS_LOGON || cpus > CPUS_CREDUI) return E_NOTIMPL;
    scenario_ = cpus;
    return S_OK;
  }
  IFACEMETHODIMP SetSerialization(const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* cs) override {
    if (cs == nullptr) return E_INVALIDARG;
    const std::uint8_t* bytes = cs->rgbSerialization;
    lastSerialization_ = guidText(cs->clsidCredentialProvider) + L" " + std::to_wstring(cs->ulAuthenticationPackage) +
                         L" " + std::to_wstring(cs->cbSerialization) + L" " +
                         wide(toHex(bytes, bytes != nullptr ? cs->cbSerialization : 0));
    // A serialization for this provider signs in by itself, as Windows' providers do with
    // the credentials a Remote Desktop client sends.
    if (IsEqualCLSID(cs->clsidCredentialProvider, *kind_.clsid) && bytes != nullptr && cs->cbSerialization != 0) {
      incoming_.assign(bytes, bytes + cs->cbSerialization);
      incomingPackage_ = cs->ulAuthenticationPackage;
    }
    return S_OK;
  }
  IFACEMETHODIMP Advise(ICredentialProviderEvents*, UINT_PTR) override { return S_OK; }
  IFACEMETHODIMP UnAdvise() override { return S_OK; }
  IFACEMETHODIMP GetFieldDescriptorCount(DWORD* count) override {
    if (count == nullptr) return E_POINTER;
    *count = kFieldCount;
    return S_OK;
  }
  IFACEMETHODIMP GetFieldDescriptorAt(DWORD index, CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR** out) override {
    static const struct {
      CREDENTIAL_PROVIDER_FIELD_TYPE type;
      const wchar_t* label;
    } fields[kFieldCount] = {{CPFT_TILE_IMAGE, L"Image"},      {CPFT_EDIT_TEXT, L"User name"},
                             {CPFT_PASSWORD_TEXT, L"Password"}, {CPFT_SUBMIT_BUTTON, L"Submit"},
                             {CPFT_SMALL_TEXT, L"User"},        {CPFT_LARGE_TEXT, L"Provider"}};
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (index >= kFieldCount && index != kProbeField) return E_INVALIDARG;
    auto* descriptor =
        static_cast<CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR*>(CoTaskMemAlloc(sizeof(CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR)));
    if (descriptor == nullptr) return E_OUTOFMEMORY;
    ZeroMemory(descriptor, sizeof *descriptor);
    descriptor->dwFieldID = index;
    const bool probe = index == kProbeField;
    descriptor->cpft = probe ? CPFT_INVALID : fields[index].type;
    if (FAILED(SHStrDupW(probe ? probeToken(probeNumber_).c_str() : fields[index].label, &descriptor->pszLabel))) {
      CoTaskMemFree(descriptor);
      return E_OUTOFMEMORY;
    }
    *out = descriptor;
    return S_OK;
  }
  IFACEMETHODIMP GetCredentialCount(DWORD* count, DWORD* defaultIndex, BOOL* autoLogon) override {
    if (count == nullptr || defaultIndex == nullptr || autoLogon == nullptr) return E_POINTER;
    clear();
    std::vector<std::wstring> sids = configuredSids_;
    if (!configured_) {
      DWORD users = 0;
      if (users_ != nullptr && SUCCEEDED(users_->GetCount(&users)) && users > 0) {
        for (DWORD u = 0; u < users; ++u) {
          ICredentialProviderUser* user = nullptr;
          LPWSTR sid = nullptr;
          if (SUCCEEDED(users_->GetAt(u, &user)) && user != nullptr && SUCCEEDED(user->GetSid(&sid)) && sid != nullptr)
            sids.push_back(sid);
          CoTaskMemFree(sid);
          if (user != nullptr) user->Release();
        }
      } else {
        sids.push_back(L"");
      }
    }
    for (const std::wstring& sid : sids) {
      auto* credential = new (std::nothrow) StandInCredential(kind_, scenario_, sid, reader_, incoming_, incomingPackage_, version2_);
      if (credential == nullptr) return E_OUTOFMEMORY;
      credentials_.push_back(credential);
    }
    *count = static_cast<DWORD>(credentials_.size());
    *defaultIndex = incoming_.empty() ? CREDENTIAL_PROVIDER_NO_DEFAULT : 0;
    *autoLogon = incoming_.empty() ? FALSE : TRUE;
    return S_OK;
  }
  IFACEMETHODIMP GetCredentialAt(DWORD index, ICredentialProviderCredential** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (index >= credentials_.size()) return E_INVALIDARG;
    return credentials_[index]->QueryInterface(IID_ICredentialProviderCredential, reinterpret_cast<void**>(out));
  }
  IFACEMETHODIMP SetUserArray(ICredentialProviderUserArray* users) override {
    if (users_ != nullptr) users_->Release();
    users_ = users;
    if (users_ != nullptr) users_->AddRef();
    return S_OK;
  }

  IFACEMETHODIMP Ask(LPCWSTR question, LPWSTR* answer) override {
    const std::wstring q = question != nullptr ? question : L"";
    if (q == L"kind") return dup(kind_.name, answer);
    if (q == L"clsid") return dup(guidText(*kind_.clsid), answer);
    if (q == L"scenario") return dup(std::to_wstring(static_cast<int>(scenario_)), answer);
    if (q == L"serialization") return dup(lastSerialization_, answer);
    if (q == L"users") {
      DWORD users = 0;
      if (users_ != nullptr) users_->GetCount(&users);
      return dup(std::to_wstring(users), answer);
    }
    return E_INVALIDARG;
  }
  IFACEMETHODIMP Tell(LPCWSTR key, LPCWSTR value) override {
    const std::wstring k = key != nullptr ? key : L"";
    const std::wstring v = value != nullptr ? value : L"";
    if (k == L"reader") {
      reader_ = v;
      return S_OK;
    }
    if (k == L"credential2") {
      version2_ = v != L"0";
      return S_OK;
    }
    if (k == L"credentials") {
      configured_ = true;
      configuredSids_.clear();
      std::size_t start = 0;
      for (;;) {
        const std::size_t end = v.find(L';', start);
        configuredSids_.push_back(v.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
        if (end == std::wstring::npos) break;
        start = end + 1;
      }
      return S_OK;
    }
    return E_INVALIDARG;
  }

 private:
  virtual ~StandInProvider() {
    unregisterProbe(probeNumber_);
    clear();
    if (users_ != nullptr) users_->Release();
    --g_objects;
  }
  void clear() {
    for (StandInCredential* credential : credentials_) credential->Release();
    credentials_.clear();
  }

  std::atomic<LONG> refs_{1};
  const Kind& kind_;
  CREDENTIAL_PROVIDER_USAGE_SCENARIO scenario_ = CPUS_INVALID;
  std::vector<StandInCredential*> credentials_;
  ICredentialProviderUserArray* users_ = nullptr;
  std::wstring lastSerialization_;
  std::vector<std::uint8_t> incoming_;
  ULONG incomingPackage_ = 0;
  std::wstring reader_ = L"Windows Hello for Business 1";
  bool version2_ = true;
  bool configured_ = false;
  std::vector<std::wstring> configuredSids_;
  ULONG probeNumber_ = 0;
};

class StandInFactory : public IClassFactory {
 public:
  explicit StandInFactory(const Kind& kind) : kind_(kind) { ++g_objects; }
  IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  IFACEMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs_); }
  IFACEMETHODIMP_(ULONG) Release() override {
    const LONG left = --refs_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  IFACEMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* provider = new (std::nothrow) StandInProvider(kind_);
    if (provider == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = provider->QueryInterface(riid, ppv);
    provider->Release();
    return hr;
  }
  IFACEMETHODIMP LockServer(BOOL lock) override {
    if (lock) {
      ++g_objects;
    } else {
      --g_objects;
    }
    return S_OK;
  }

 private:
  virtual ~StandInFactory() { --g_objects; }
  std::atomic<LONG> refs_{1};
  const Kind& kind_;
};

}  // namespace

extern "C" HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  const Kind* kind = findKind(clsid);
  if (kind == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new (std::nothrow) StandInFactory(*kind);
  if (factory == nullptr) return E_OUTOFMEMORY;
  const HRESULT hr = factory->QueryInterface(riid, ppv);
  factory->Release();
  return hr;
}

extern "C" HRESULT __stdcall DllCanUnloadNow() { return g_objects.load() > 0 ? S_FALSE : S_OK; }

// The probe of the live stand-in object whose token carries `number` (StandInProbe.h).
extern "C" HRESULT __stdcall KvStandInProbe(ULONG number, IStandInProbe** probe) {
  if (probe == nullptr) return E_POINTER;
  std::lock_guard<std::mutex> lock(g_probeMutex);
  const auto found = g_probes.find(number);
  *probe = found == g_probes.end() ? nullptr : found->second;
  if (*probe == nullptr) return E_INVALIDARG;
  (*probe)->AddRef();
  return S_OK;
}
