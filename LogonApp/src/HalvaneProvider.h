#pragma once

// The credential provider LogonUI sees for each of the library's class identifiers. It
// shows no tiles of its own: it creates the Windows provider its tag stands for, passes
// fields, user array and serializations through, and wraps every credential of that inner
// provider in a HalvaneCredential, whose GetSerialization holds the sign-in back until the
// MFA gate has passed.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "ComSupport.h"
#include "Korvath/CredentialProviderInterfaces.h"

namespace Korvath {
namespace Provider {

class HalvaneCredential;

class HalvaneProvider : public ICredentialProvider, public ICredentialProviderSetUserArray {
 public:
  explicit HalvaneProvider(std::uint32_t tag);

  // IUnknown
  IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  IFACEMETHODIMP_(ULONG) AddRef() override;
  IFACEMETHODIMP_(ULONG) Release() override;

  // ICredentialProvider
  IFACEMETHODIMP SetUsageScenario(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus, DWORD flags) override;
  IFACEMETHODIMP SetSerialization(const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* pcpcs) override;
  IFACEMETHODIMP Advise(ICredentialProviderEvents* events, UINT_PTR context) override;
  IFACEMETHODIMP UnAdvise() override;
  IFACEMETHODIMP GetFieldDescriptorCount(DWORD* count) override;
  IFACEMETHODIMP GetFieldDescriptorAt(DWORD index, CREDENTIAL_PROVIDER_FIELD_DESCRIPTOR** descriptor) override;
  IFACEMETHODIMP GetCredentialCount(DWORD* count, DWORD* defaultIndex, BOOL* autoLogonWithDefault) override;
  IFACEMETHODIMP GetCredentialAt(DWORD index, ICredentialProviderCredential** credential) override;

  // ICredentialProviderSetUserArray
  IFACEMETHODIMP SetUserArray(ICredentialProviderUserArray* users) override;

  CREDENTIAL_PROVIDER_USAGE_SCENARIO usageScenario() const { return scenario_; }
  std::uint32_t tag() const { return tag_; }
  // Live providers of the process.
  static long liveProviders();

 private:
  virtual ~HalvaneProvider();

  HRESULT createProviderWrapper();
  HRESULT createPicturePasswordProvider(ICredentialProvider** out);
  HRESULT createCredentials(DWORD index, ICredentialProviderUser* user);
  ComRef<ICredentialProviderUser> userOfCredential(ICredentialProviderCredential* inner);
  void cleanUpAllCredentials();
  void startGeolocationOnce();

  std::atomic<LONG> refs_{1};
  std::vector<HalvaneCredential*> credentials_;  // one reference each
  ComRef<ICredentialProvider> inner_;
  DWORD credentialCount_ = 0;
  ComRef<ICredentialProviderUserArray> users_;
  std::wstring domain_;
  std::wstring username_;
  std::wstring userUpn_;
  CREDENTIAL_PROVIDER_USAGE_SCENARIO scenario_ = CPUS_INVALID;
  DWORD scenarioFlags_ = 0;
  std::uint32_t tag_;
};

}  // namespace Provider
}  // namespace Korvath
