// The MFA gate: where a Windows sign-in is held back. GetSerialization lets the wrapped
// Windows credential produce its logon serialization and releases it to LogonUI only when
// checkMFAAuthentication says the user passed the second factor. A refusal hands nothing of
// the serialization back: its bytes are wiped and freed.

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "ComSupport.h"
#include "CredentialTypes.h"
#include "DialogRunner.h"
#include "HalvaneCredential.h"
#include "Korvath/AttemptSlot.h"
#include "Korvath/Authentication/IdentitySeam.h"
#include "Korvath/Logger.h"
#include "Korvath/Utils.h"
#include "Korvath/WindowsFacts.h"
#include "ModuleState.h"
#include "ProviderEnvironment.h"

namespace Korvath {
namespace Provider {

namespace {

const char* const kClass = "HalvaneCredential";

// A second submission this soon after the previous one finished is refused.
constexpr std::int64_t kDebounceMs = 200;

const wchar_t* const kUserTileKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Authentication\\LogonUI\\UserTile";
const wchar_t* const kLogonUiKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Authentication\\LogonUI";

// The users whose Windows Hello certificate sign-in passed the dialog last; the same users'
// next Windows Hello sign-in passes without it. Emptied by every other attempt.
struct LastValidated {
  std::mutex mutex;
  std::vector<std::string> names;
};
LastValidated& lastValidated() {
  static LastValidated* state = new LastValidated;  // outlives every credential
  return *state;
}

// The process's one attempt at a time: the dialog's state is process-wide.
Utils::AttemptSlot& attempts() {
  static Utils::AttemptSlot* slot = new Utils::AttemptSlot;  // outlives every credential
  return *slot;
}

std::string joined(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& name : names) {
    if (!out.empty()) out += ", ";
    out += name;
  }
  return out;
}

// What LogonUI gets when no credential goes back: response "not finished" (the tile stays
// for another try), an empty serialization record, no status text, no icon.
void setNoCredential(CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE* response,
                     CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* serialization, LPWSTR* statusText,
                     CREDENTIAL_PROVIDER_STATUS_ICON* statusIcon) {
  *response = CPGSR_NO_CREDENTIAL_NOT_FINISHED;
  ZeroMemory(serialization, sizeof *serialization);
  if (statusText != nullptr) *statusText = nullptr;
  if (statusIcon != nullptr) *statusIcon = CPSI_NONE;
}

// Wipes and frees what the inner credential produced, so that no password reaches LogonUI
// or stays behind in freed memory.
void discardSerialization(CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE* response,
                          CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* serialization, LPWSTR* statusText,
                          CREDENTIAL_PROVIDER_STATUS_ICON* statusIcon) {
  if (serialization->rgbSerialization != nullptr) {
    SecureZeroMemory(serialization->rgbSerialization, serialization->cbSerialization);
    CoTaskMemFree(serialization->rgbSerialization);
  }
  if (statusText != nullptr) CoTaskMemFree(*statusText);
  setNoCredential(response, serialization, statusText, statusIcon);
}

// Gives the user tile back to this wrapper and forgets LogonUI's session data, so that the
// next sign-in screen starts at the wrapper's tile.
void resetUserTile(const CLSID& wrapper, const std::wstring& sid) {
  const std::wstring clsidText = guidWideText(wrapper);
  const DWORD bytes = static_cast<DWORD>((clsidText.size() + 1) * sizeof(wchar_t));
  HKEY tile = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kUserTileKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &tile, nullptr) ==
      ERROR_SUCCESS) {
    const auto* data = reinterpret_cast<const BYTE*>(clsidText.c_str());
    RegSetValueExW(tile, nullptr, 0, REG_SZ, data, bytes);
    RegSetValueExW(tile, sid.c_str(), 0, REG_SZ, data, bytes);
    RegFlushKey(tile);
    RegCloseKey(tile);
  }
  HKEY logonUi = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kLogonUiKey, 0, KEY_ALL_ACCESS, &logonUi) == ERROR_SUCCESS) {
    RegDeleteTreeW(logonUi, L"SessionData");
    RegFlushKey(logonUi);
    RegCloseKey(logonUi);
  }
}

void disconnectSession() {
  KV_LOG_INFO("[OUT] %s - Try disconnect session", "HalvaneCredential::checkMFAAuthentication");
  identitySeam().disconnectCurrentSession();
}

}  // namespace

IFACEMETHODIMP HalvaneCredential::GetSerialization(CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE* response,
                                                   CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* serialization,
                                                   LPWSTR* statusText, CREDENTIAL_PROVIDER_STATUS_ICON* statusIcon) {
  if (response == nullptr || serialization == nullptr) return E_INVALIDARG;
  KV_LOG_DEBUG("%s - GetSerialization, type %u, _shouldSerializeRdpData %d", kClass, tag_,
               static_cast<int>(shouldSerializeRdpData_));
  HRESULT hr = S_OK;
  try {
    if (!debounce_.isTimeOut()) {
      KV_LOG_DEBUG("%s - Triggered debounce mechanism. Aborting this authentication attempt!", kClass);
      setNoCredential(response, serialization, statusText, statusIcon);
      return E_ABORT;
    }
    setNoCredential(response, serialization, statusText, statusIcon);
    if (inner_) {
      hr = inner_->GetSerialization(response, serialization, statusText, statusIcon);
      KV_LOG_DEBUG("%s - wrapper getserialization return 0x%08lx. Status %d", kClass, static_cast<unsigned long>(hr),
                   static_cast<int>(*response));
    }
    if (SUCCEEDED(hr) && *response != CPGSR_NO_CREDENTIAL_NOT_FINISHED && !checkMFAAuthentication(serialization)) {
      discardSerialization(response, serialization, statusText, statusIcon);
      // Windows 8 and Server 2012 are told "no credential" with the inner credential's own
      // result; later systems get an access-denied failure.
      if (!Utils::isWindows8OrServer2012()) hr = E_ACCESSDENIED;
    }
  } catch (...) {
    // Whatever went wrong, nothing of this attempt is released.
    KV_LOG_ERROR("%s - exception in the gate; the sign-in is refused", kClass);
    discardSerialization(response, serialization, statusText, statusIcon);
    hr = E_ACCESSDENIED;
  }
  debounce_.start(kDebounceMs, 0);
  KV_LOG_TRACE("[OUT] %s - return 0x%08lx", "HalvaneCredential::GetSerialization", static_cast<unsigned long>(hr));
  return hr;
}

std::vector<std::string> HalvaneCredential::setUserDataLocalLogin(
    const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* serialization) {
  setUserLoginForLocalLogin(serialization);
  KV_LOG_DEBUG("%s - domain %s, username %s, upn %s", kClass, Utils::toUtf8(domain_).c_str(),
               Utils::toUtf8(username_).c_str(), Utils::toUtf8(userUpn_).c_str());
  // The dialog asks the service about the first name it knows.
  std::vector<std::string> names;
  if (!userUpn_.empty()) names.push_back(Utils::toUtf8(userUpn_));
  if (!username_.empty()) names.insert(samNameFirst_ ? names.begin() : names.end(), Utils::toUtf8(username_));
  return names;
}

bool HalvaneCredential::checkMFAAuthentication(const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* serialization) {
  LastValidated& last = lastValidated();
  // A second attempt while one runs (started from a message that LogonUI's thread dispatches
  // while it waits for the dialog, or from another thread) would rebuild the service that the
  // first dialog is using. It is refused at once and touches nothing of the first: no dialog,
  // no names, no user tile, no disconnect, the Windows Hello list as it was.
  const Utils::AttemptSlot::Turn turn = attempts().tryBegin();
  if (!turn) {
    KV_LOG_ERROR("%s - another sign-in attempt is running; this one is refused", kClass);
    return false;
  }
  try {
    const bool hello = serialization != nullptr && serialization->rgbSerialization != nullptr &&
                       Utils::isWindowsHelloCertificateLogon(serialization->rgbSerialization,
                                                             serialization->cbSerialization);
    std::vector<std::string> lastNames;
    {
      std::lock_guard<std::mutex> lock(last.mutex);
      if (!hello) last.names.clear();
      lastNames = last.names;
    }
    KV_LOG_DEBUG("%s - Windows Hello Cert %d, last user validated size %u ", kClass, static_cast<int>(hello),
                 static_cast<unsigned>(lastNames.size()));
    // Always this attempt's own user: a Windows Hello sign-in passes without the dialog only
    // when it is the same user who passed last time.
    const std::vector<std::string> names = setUserDataLocalLogin(serialization);
    if (hello && !names.empty() && names == lastNames) {
      KV_LOG_DEBUG("%s - user %s validated before with Windows Hello", kClass, joined(names).c_str());
      return true;
    }
    KV_LOG_DEBUG("%s - rdp %d, client ip %s, users %s", kClass, static_cast<int>(isRdpSession_),
                 sessionClientIpAddress_.c_str(), joined(names).c_str());
    bool passed = false;
    try {
      passed = runMfaDialog(MfaDialogRequest{&isRdpSession_, &names, moduleHandle(), &sessionClientIpAddress_});
    } catch (...) {
      KV_LOG_ERROR("%s - the MFA dialog failed; the sign-in is refused", kClass);
      passed = false;
    }
    shouldSerializeRdpData_ = false;
    if (passed) {
      KV_LOG_DEBUG("%s - user %s validated with mfa", kClass, joined(names).c_str());
      std::lock_guard<std::mutex> lock(last.mutex);
      if (hello) last.names = names;
      return true;
    }
    {
      std::lock_guard<std::mutex> lock(last.mutex);
      last.names.clear();
    }
    return refuse();
  } catch (...) {
    KV_LOG_ERROR("%s - exception while checking the second factor; the sign-in is refused", kClass);
    try {
      std::lock_guard<std::mutex> lock(last.mutex);
      last.names.clear();
    } catch (...) {
    }
    return false;
  }
}

bool HalvaneCredential::refuse() {
  if (tag_ == kTagFingerprint || tag_ == kTagFace) {
    const std::wstring sid = innerUserSid();
    if (!sid.empty()) resetUserTile(typeOfTag(tag_).wrapper, sid);
    disconnectSession();
    return false;
  }
  if (isRdpSession_) disconnectSession();
  return false;
}

}  // namespace Provider
}  // namespace Korvath
