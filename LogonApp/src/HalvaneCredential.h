#pragma once

// One credential of the inner Windows provider, wrapped. LogonUI talks to it as to any
// credential and every field operation goes to the inner credential, so the tile looks and
// behaves like Windows' own. The wrapper adds the user's names in the forms the service
// knows, the Remote Desktop facts of the attempt, and the gate in GetSerialization
// (MfaGate.cpp).

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "ComSupport.h"
#include "Korvath/CredentialProviderInterfaces.h"
#include "Korvath/Timer.h"

namespace Korvath {
namespace Provider {

class HalvaneProvider;

class HalvaneCredential : public ICredentialProviderCredential2,
                          public IConnectableCredentialProviderCredential,
                          public ICredentialProviderCredentialWithFieldOptions {
 public:
  explicit HalvaneCredential(std::uint32_t tag);

  // IUnknown
  IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  IFACEMETHODIMP_(ULONG) AddRef() override;
  IFACEMETHODIMP_(ULONG) Release() override;

  // ICredentialProviderCredential
  IFACEMETHODIMP Advise(ICredentialProviderCredentialEvents* events) override;
  IFACEMETHODIMP UnAdvise() override;
  IFACEMETHODIMP SetSelected(BOOL* autoLogon) override;
  IFACEMETHODIMP SetDeselected() override;
  IFACEMETHODIMP GetFieldState(DWORD field, CREDENTIAL_PROVIDER_FIELD_STATE* state,
                               CREDENTIAL_PROVIDER_FIELD_INTERACTIVE_STATE* interactive) override;
  IFACEMETHODIMP GetStringValue(DWORD field, LPWSTR* value) override;
  IFACEMETHODIMP GetBitmapValue(DWORD field, HBITMAP* bitmap) override;
  IFACEMETHODIMP GetCheckboxValue(DWORD field, BOOL* checked, LPWSTR* label) override;
  IFACEMETHODIMP GetSubmitButtonValue(DWORD field, DWORD* adjacentTo) override;
  IFACEMETHODIMP GetComboBoxValueCount(DWORD field, DWORD* items, DWORD* selected) override;
  IFACEMETHODIMP GetComboBoxValueAt(DWORD field, DWORD item, LPWSTR* value) override;
  IFACEMETHODIMP SetStringValue(DWORD field, LPCWSTR value) override;
  IFACEMETHODIMP SetCheckboxValue(DWORD field, BOOL checked) override;
  IFACEMETHODIMP SetComboBoxSelectedValue(DWORD field, DWORD selected) override;
  IFACEMETHODIMP CommandLinkClicked(DWORD field) override;
  IFACEMETHODIMP GetSerialization(CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE* response,
                                  CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* serialization,
                                  LPWSTR* statusText, CREDENTIAL_PROVIDER_STATUS_ICON* statusIcon) override;
  IFACEMETHODIMP ReportResult(NTSTATUS status, NTSTATUS subStatus, LPWSTR* statusText,
                              CREDENTIAL_PROVIDER_STATUS_ICON* statusIcon) override;
  // ICredentialProviderCredential2
  IFACEMETHODIMP GetUserSid(LPWSTR* sid) override;
  // IConnectableCredentialProviderCredential
  IFACEMETHODIMP Connect(IQueryContinueWithStatus* queryContinue) override;
  IFACEMETHODIMP Disconnect() override;
  // ICredentialProviderCredentialWithFieldOptions
  IFACEMETHODIMP GetFieldOptions(DWORD field, CREDENTIAL_PROVIDER_CREDENTIAL_FIELD_OPTIONS* options) override;

  // Keeps the inner credential (may be none), LogonUI's user of it (may be none) and the
  // names and Remote Desktop facts the provider knows of the attempt.
  HRESULT Initialize(ICredentialProviderCredential* inner, ICredentialProviderUser* user,
                     const HalvaneProvider* provider, const std::wstring& username, const std::wstring& domain,
                     const std::wstring& userUpn, bool hasRemoteSessionData, bool isRdpSession,
                     const std::string& sessionClientIpAddress);

  // The gate's verdict on the serialization the inner credential produced (may be null):
  // true when the user may sign in. Runs the MFA dialog unless a Windows Hello sign-in of
  // the user who passed last time is repeated. False at once, with nothing done, while
  // another attempt of the process runs. Never throws.
  bool checkMFAAuthentication(const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* serialization);

  // Resolves username, userUpn and domain for the attempt from the serialization (may be
  // null), the user's SID and properties and the Remote Desktop data.
  void setUserLoginForLocalLogin(const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* serialization);

  // What the wrapper knows, for the gate and for tests that link the library.
  const std::wstring& username() const { return username_; }
  const std::wstring& userUpn() const { return userUpn_; }
  const std::wstring& domain() const { return domain_; }
  const std::wstring& userSid() const { return userSid_; }
  const std::wstring& qualifiedUserName() const { return qualifiedUserName_; }
  bool shouldSerializeRdpData() const { return shouldSerializeRdpData_; }
  bool passwordChanged() const { return passwordChanged_; }
  bool mustChangePassword() const { return mustChangePassword_; }
  std::uint32_t tag() const { return tag_; }
  ICredentialProviderCredential* inner() const { return inner_.get(); }

 private:
  virtual ~HalvaneCredential();

  // The user names of the attempt for the dialog (UTF-8), each when known: the UPN, then the
  // SAM name; the SAM name first when only it came from the serialization.
  std::vector<std::string> setUserDataLocalLogin(const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* serialization);
  // What a refusal does beyond saying no: for fingerprint and face the user tile goes back
  // to this wrapper and the session is disconnected; a refused Remote Desktop session is
  // disconnected. False always.
  bool refuse();
  std::wstring innerUserSid() const;

  Utils::Timer debounce_;
  std::atomic<LONG> refs_{1};
  ComRef<ICredentialProviderCredential> inner_;
  bool shouldSerializeRdpData_ = false;
  bool isRdpSession_ = false;
  std::string sessionClientIpAddress_;
  bool passwordChanged_ = false;
  bool mustChangePassword_ = false;
  std::wstring userSid_;
  std::wstring qualifiedUserName_;
  std::wstring username_;
  std::wstring domain_;
  std::wstring userUpn_;
  bool samNameFirst_ = false;
  std::uint32_t tag_;
  // The owning provider's usage scenario, copied at Initialize: LogonUI may release the
  // provider before the last reference to one of its credentials.
  CREDENTIAL_PROVIDER_USAGE_SCENARIO scenario_ = CPUS_INVALID;
};

}  // namespace Provider
}  // namespace Korvath
