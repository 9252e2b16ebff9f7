#include "HalvaneCredential.h"

#include <shlwapi.h>

#include "CredentialTypes.h"
#include "HalvaneProvider.h"
#include "Korvath/Authentication/UserLogin.h"
#include "Korvath/Logger.h"
#include "Korvath/Utils.h"
#include "ModuleState.h"
#include "ProviderEnvironment.h"

namespace Korvath {
namespace Provider {

namespace {

const char* const kClass = "HalvaneCredential";

constexpr NTSTATUS kStatusPasswordMustChange = static_cast<NTSTATUS>(0xC0000224);
constexpr NTSTATUS kStatusAccountRestriction = static_cast<NTSTATUS>(0xC000006E);
constexpr NTSTATUS kStatusPasswordExpired = static_cast<NTSTATUS>(0xC0000071);
constexpr NTSTATUS kStatusLogonFailure = static_cast<NTSTATUS>(0xC000006D);
constexpr NTSTATUS kStatusAccountDisabled = static_cast<NTSTATUS>(0xC0000072);
constexpr DWORD kPasswordField = 2;

std::string shown(const std::wstring& text, const char* empty) {
  return text.empty() ? std::string(empty) : Utils::toUtf8(text);
}

// Takes a string LogonUI's objects hand out and frees their copy.
std::wstring adopt(LPWSTR text) {
  std::wstring out = text != nullptr ? text : L"";
  CoTaskMemFree(text);
  return out;
}

}  // namespace

HalvaneCredential::HalvaneCredential(std::uint32_t tag) : tag_(tag) { objectAdded(); }

HalvaneCredential::~HalvaneCredential() {
  if (inner_) inner_->UnAdvise();
  inner_.reset();
  objectRemoved();
}

IFACEMETHODIMP HalvaneCredential::QueryInterface(REFIID riid, void** ppv) {
  return guarded("HalvaneCredential::QueryInterface", E_NOINTERFACE, [&]() -> HRESULT {
    static const InterfaceEntry table[] = {
        {&IID_IUnknown, interfaceOffset<ICredentialProviderCredential2, HalvaneCredential>()},
        {&IID_ICredentialProviderCredential, interfaceOffset<ICredentialProviderCredential2, HalvaneCredential>()},
        {&IID_ICredentialProviderCredential2, interfaceOffset<ICredentialProviderCredential2, HalvaneCredential>()},
        {&IID_IConnectableCredentialProviderCredential,
         interfaceOffset<IConnectableCredentialProviderCredential, HalvaneCredential>()},
        {&IID_ICredentialProviderCredentialWithFieldOptions,
         interfaceOffset<ICredentialProviderCredentialWithFieldOptions, HalvaneCredential>()},
    };
    // Nothing else is answered, and nothing is passed on to Windows' credential: what came
    // back would be that credential itself, whose serialization skips the gate.
    const HRESULT hr = searchInterfaces(this, table, riid, ppv);
    if (hr == E_NOINTERFACE)
      KV_LOG_DEBUG("%s - no interface %s", "HalvaneCredential::QueryInterface", guidText(riid).c_str());
    return hr;
  });
}

IFACEMETHODIMP_(ULONG) HalvaneCredential::AddRef() { return static_cast<ULONG>(++refs_); }

IFACEMETHODIMP_(ULONG) HalvaneCredential::Release() {
  const LONG left = --refs_;
  // Destructors are noexcept: nothing can escape the interface from here.
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

HRESULT HalvaneCredential::Initialize(ICredentialProviderCredential* inner, ICredentialProviderUser* user,
                                      const HalvaneProvider* provider, const std::wstring& username,
                                      const std::wstring& domain, const std::wstring& userUpn,
                                      bool hasRemoteSessionData, bool isRdpSession,
                                      const std::string& sessionClientIpAddress) {
  return guarded("HalvaneCredential::Initialize", E_UNEXPECTED, [&]() -> HRESULT {
    KV_LOG_DEBUG("%s - type %u, remote session data %d, rdp %d, client ip %s", kClass, tag_,
                 static_cast<int>(hasRemoteSessionData), static_cast<int>(isRdpSession),
                 sessionClientIpAddress.c_str());
    KV_LOG_DEBUG("%s - username %s, domain %s, upn %s", kClass, shown(username, "null").c_str(),
                 shown(domain, "null").c_str(), shown(userUpn, "null").c_str());
    inner_.reset(inner, true);
    scenario_ = provider != nullptr ? provider->usageScenario() : CPUS_INVALID;
    if (user != nullptr) {
      GUID providerId = GUID_NULL;
      user->GetProviderID(&providerId);
      KV_LOG_DEBUG("isLocalUser = %d", IsEqualGUID(providerId, Identity_LocalUserProvider) ? 1 : 0);
      LPWSTR sid = nullptr;
      user->GetSid(&sid);
      userSid_ = adopt(sid);
    } else {
      userSid_ = innerUserSid();
    }
    username_ = username;
    domain_ = domain;
    userUpn_ = userUpn;
    shouldSerializeRdpData_ = isRdpSession && hasRemoteSessionData;
    isRdpSession_ = isRdpSession;
    sessionClientIpAddress_ = sessionClientIpAddress;
    HRESULT hr = S_OK;
    if (user != nullptr) {
      LPWSTR qualified = nullptr;
      hr = user->GetStringValue(CredentialProvider::PKEY_Identity_QualifiedUserName, &qualified);
      qualifiedUserName_ = adopt(qualified);
      KV_LOG_DEBUG("Get QualifiedUserName (0x%08lx) = %s", static_cast<unsigned long>(hr),
                   shown(qualifiedUserName_, "<NULL>").c_str());
    }
    return hr;
  });
}

std::wstring HalvaneCredential::innerUserSid() const {
  ComRef<ICredentialProviderCredential2> inner2 =
      queryAs<ICredentialProviderCredential2>(inner_.get(), IID_ICredentialProviderCredential2);
  if (!inner2) return std::wstring();
  LPWSTR sid = nullptr;
  inner2->GetUserSid(&sid);
  return adopt(sid);
}

void HalvaneCredential::setUserLoginForLocalLogin(const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* serialization) {
  Authentication::CredentialIdentity in;
  in.shouldSerializeRdpData = shouldSerializeRdpData_;
  in.username = username_;
  in.userUpn = userUpn_;
  in.domain = domain_;
  if (serialization != nullptr && serialization->rgbSerialization != nullptr && serialization->cbSerialization != 0) {
    in.authenticationPackage = serialization->ulAuthenticationPackage;
    in.serialization = serialization->rgbSerialization;
    in.serializationSize = serialization->cbSerialization;
  }
  in.userSid = userSid_;
  in.qualifiedUserName = qualifiedUserName_;
  in.credentialTag = tag_;
  ICredentialProviderCredential* inner = inner_.get();
  in.readInnerStringField = [inner](DWORD field) -> std::wstring {
    if (inner == nullptr) return std::wstring();
    LPWSTR value = nullptr;
    if (FAILED(inner->GetStringValue(field, &value))) {
      CoTaskMemFree(value);
      return std::wstring();
    }
    return adopt(value);
  };
  const Authentication::ResolvedIdentity out = Authentication::resolveUserLogin(in, identitySeam());
  username_ = out.username;
  userUpn_ = out.userUpn;
  domain_ = out.domain;
  samNameFirst_ = out.samNameFirst;
}

IFACEMETHODIMP HalvaneCredential::Advise(ICredentialProviderCredentialEvents* events) {
  return guarded("HalvaneCredential::Advise", E_UNEXPECTED,
                 [&]() -> HRESULT { return inner_ ? inner_->Advise(events) : E_UNEXPECTED; });
}

IFACEMETHODIMP HalvaneCredential::UnAdvise() {
  return guarded("HalvaneCredential::UnAdvise", E_UNEXPECTED,
                 [&]() -> HRESULT { return inner_ ? inner_->UnAdvise() : S_OK; });
}

IFACEMETHODIMP HalvaneCredential::SetSelected(BOOL* autoLogon) {
  return guarded("HalvaneCredential::SetSelected", E_UNEXPECTED, [&]() -> HRESULT {
    KV_LOG_DEBUG("%s - qualified user name %s, username %s, upn %s, sid %s", kClass,
                 shown(qualifiedUserName_, "null").c_str(), shown(username_, "null").c_str(),
                 shown(userUpn_, "null").c_str(), shown(userSid_, "null").c_str());
    KV_LOG_DEBUG(userSid_.empty() ? "%s - SetSelected for Other User" : "%s - SetSelected using cached user information",
                 kClass);
    KV_LOG_DEBUG("%s - Is RDP or password changed: rdp %d, changed %d, must change %d", kClass,
                 static_cast<int>(isRdpSession_), static_cast<int>(passwordChanged_),
                 static_cast<int>(mustChangePassword_));
    if (autoLogon == nullptr) return E_INVALIDARG;
    // The wrapper never asks for auto-logon itself; the inner credential may.
    *autoLogon = FALSE;
    return inner_ ? inner_->SetSelected(autoLogon) : E_UNEXPECTED;
  });
}

IFACEMETHODIMP HalvaneCredential::SetDeselected() {
  return guarded("HalvaneCredential::SetDeselected", E_UNEXPECTED,
                 [&]() -> HRESULT { return inner_ ? inner_->SetDeselected() : E_UNEXPECTED; });
}

IFACEMETHODIMP HalvaneCredential::GetFieldState(DWORD field, CREDENTIAL_PROVIDER_FIELD_STATE* state,
                                                CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE* interactive) {
  return guarded("HalvaneCredential::GetFieldState", E_UNEXPECTED, [&]() -> HRESULT {
    if (state == nullptr || interactive == nullptr) return E_INVALIDARG;
    return inner_ ? inner_->GetFieldState(field, state, interactive) : E_UNEXPECTED;
  });
}

IFACEMETHODIMP HalvaneCredential::GetStringValue(DWORD field, LPWSTR* value) {
  return guarded("HalvaneCredential::GetStringValue", E_UNEXPECTED,
                 [&]() -> HRESULT { return inner_ ? inner_->GetStringValue(field, value) : E_UNEXPECTED; });
}

IFACEMETHODIMP HalvaneCredential::GetBitmapValue(DWORD field, HBITMAP* bitmap) {
  return guarded("HalvaneCredential::GetBitmapValue", E_UNEXPECTED,
                 [&]() -> HRESULT { return inner_ ? inner_->GetBitmapValue(field, bitmap) : E_UNEXPECTED; });
}

IFACEMETHODIMP HalvaneCredential::GetCheckboxValue(DWORD field, BOOL* checked, LPWSTR* label) {
  return guarded("HalvaneCredential::GetCheckboxValue", E_UNEXPECTED, [&]() -> HRESULT {
    return inner_ ? inner_->GetCheckboxValue(field, checked, label) : E_UNEXPECTED;
  });
}

IFACEMETHODIMP HalvaneCredential::GetSubmitButtonValue(DWORD field, DWORD* adjacentTo) {
  return guarded("HalvaneCredential::GetSubmitButtonValue", E_UNEXPECTED, [&]() -> HRESULT {
    return inner_ ? inner_->GetSubmitButtonValue(field, adjacentTo) : E_UNEXPECTED;
  });
}

IFACEMETHODIMP HalvaneCredential::GetComboBoxValueCount(DWORD field, DWORD* items, DWORD* selected) {
  return guarded("HalvaneCredential::GetComboBoxValueCount", E_UNEXPECTED, [&]() -> HRESULT {
    return inner_ ? inner_->GetComboBoxValueCount(field, items, selected) : E_UNEXPECTED;
  });
}

IFACEMETHODIMP HalvaneCredential::GetComboBoxValueAt(DWORD field, DWORD item, LPWSTR* value) {
  return guarded("HalvaneCredential::GetComboBoxValueAt", E_UNEXPECTED, [&]() -> HRESULT {
    return inner_ ? inner_->GetComboBoxValueAt(field, item, value) : E_UNEXPECTED;
  });
}

IFACEMETHODIMP HalvaneCredential::SetStringValue(DWORD field, LPCWSTR value) {
  return guarded("HalvaneCredential::SetStringValue", E_UNEXPECTED,
                 [&]() -> HRESULT { return inner_ ? inner_->SetStringValue(field, value) : E_UNEXPECTED; });
}

IFACEMETHODIMP HalvaneCredential::SetCheckboxValue(DWORD field, BOOL checked) {
  return guarded("HalvaneCredential::SetCheckboxValue", E_UNEXPECTED,
                 [&]() -> HRESULT { return inner_ ? inner_->SetCheckboxValue(field, checked) : E_UNEXPECTED; });
}

IFACEMETHODIMP HalvaneCredential::SetComboBoxSelectedValue(DWORD field, DWORD selected) {
  return guarded("HalvaneCredential::SetComboBoxSelectedValue", E_UNEXPECTED, [&]() -> HRESULT {
    return inner_ ? inner_->SetComboBoxSelectedValue(field, selected) : E_UNEXPECTED;
  });
}

IFACEMETHODIMP HalvaneCredential::CommandLinkClicked(DWORD field) {
  return guarded("HalvaneCredential::CommandLinkClicked", E_UNEXPECTED,
                 [&]() -> HRESULT { return inner_ ? inner_->CommandLinkClicked(field) : E_UNEXPECTED; });
}

IFACEMETHODIMP HalvaneCredential::ReportResult(NTSTATUS status, NTSTATUS subStatus, LPWSTR* statusText,
                                               CREDENTIAL_PROVIDER_STATUS_ICON* statusIcon) {
  return guarded("HalvaneCredential::ReportResult", E_UNEXPECTED, [&]() -> HRESULT {
    const HRESULT hr = inner_ ? inner_->ReportResult(status, subStatus, statusText, statusIcon) : E_UNEXPECTED;
    if (status != kStatusPasswordMustChange && status != kStatusAccountRestriction && status >= 0 &&
        subStatus >= 0 && mustChangePassword_) {
      passwordChanged_ = true;
      mustChangePassword_ = false;
    } else if ((status == kStatusPasswordMustChange && subStatus == 0) ||
               (status == kStatusAccountRestriction && subStatus == kStatusPasswordExpired)) {
      mustChangePassword_ = true;
    } else if (shouldSerializeRdpData_) {
      if (status == kStatusLogonFailure && subStatus == 0) {
        shouldSerializeRdpData_ = false;
        KV_LOG_DEBUG("%s - RDP connection - wrong password - _shouldSerializeRdpData reset (%d)", kClass, 0);
      } else if (status == kStatusAccountRestriction && subStatus == kStatusAccountDisabled) {
        shouldSerializeRdpData_ = false;
        KV_LOG_DEBUG("%s - RDP connection - account disabled - _shouldSerializeRdpData reset (%d)", kClass, 0);
      }
    }
    return hr;
  });
}

IFACEMETHODIMP HalvaneCredential::GetUserSid(LPWSTR* sid) {
  return guarded("HalvaneCredential::GetUserSid", E_UNEXPECTED, [&]() -> HRESULT {
    if (sid == nullptr) return E_INVALIDARG;
    *sid = nullptr;
    if (!inner_) return S_FALSE;
    ComRef<ICredentialProviderCredential2> inner2 =
        queryAs<ICredentialProviderCredential2>(inner_.get(), IID_ICredentialProviderCredential2);
    if (inner2) return inner2->GetUserSid(sid);
    if (userSid_.empty()) return S_FALSE;
    return SHStrDupW(userSid_.c_str(), sid);
  });
}

IFACEMETHODIMP HalvaneCredential::Connect(IQueryContinueWithStatus* queryContinue) {
  return guarded("HalvaneCredential::Connect", E_UNEXPECTED, [&]() -> HRESULT {
    if (queryContinue != nullptr) {
      queryContinue->SetStatusMessage(L"Logging on...");
      if (queryContinue->QueryContinue() != S_OK) {
        KV_LOG_DEBUG("%s - User clicked cancel button during plugin processing", kClass);
      }
    }
    ComRef<IConnectableCredentialProviderCredential> connectable =
        queryAs<IConnectableCredentialProviderCredential>(inner_.get(), IID_IConnectableCredentialProviderCredential);
    return connectable ? connectable->Connect(queryContinue) : S_OK;
  });
}

IFACEMETHODIMP HalvaneCredential::Disconnect() {
  return guarded("HalvaneCredential::Disconnect", E_UNEXPECTED, [&]() -> HRESULT {
    ComRef<IConnectableCredentialProviderCredential> connectable =
        queryAs<IConnectableCredentialProviderCredential>(inner_.get(), IID_IConnectableCredentialProviderCredential);
    return connectable ? connectable->Disconnect() : S_OK;
  });
}

IFACEMETHODIMP HalvaneCredential::GetFieldOptions(DWORD field, CREDENTIAL_PROVIDER_CREDENTIAL_FIELD_OPTIONS* options) {
  return guarded("HalvaneCredential::GetFieldOptions", E_UNEXPECTED, [&]() -> HRESULT {
    if (options == nullptr) return E_INVALIDARG;
    *options = field == kPasswordField ? CPCFO_ENABLE_PASSWORD_REVEAL : CPCFO_NONE;
    ComRef<ICredentialProviderCredentialWithFieldOptions> withOptions =
        queryAs<ICredentialProviderCredentialWithFieldOptions>(inner_.get(),
                                                               IID_ICredentialProviderCredentialWithFieldOptions);
    if (withOptions) {
      CREDENTIAL_PROVIDER_CREDENTIAL_FIELD_OPTIONS innerOptions = CPCFO_NONE;
      if (SUCCEEDED(withOptions->GetFieldOptions(field, &innerOptions))) *options = innerOptions;
    }
    return S_OK;
  });
}

}  // namespace Provider
}  // namespace Korvath
