#pragma once

// The library's ICredentialProviderFilter: before LogonUI shows tiles it hides Windows' own
// providers for the sign-in kinds the library wraps, so that every sign-in goes through a
// HalvaneProvider and its gate. A Remote Desktop serialization is re-addressed to the
// matching wrapper and the session is recorded as remote.

#include <windows.h>

#include <atomic>
#include <string>

#include "Korvath/CredentialProviderInterfaces.h"

namespace Korvath {
namespace Provider {

class HalvaneProviderFilter : public ICredentialProviderFilter {
 public:
  HalvaneProviderFilter();

  IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  IFACEMETHODIMP_(ULONG) AddRef() override;
  IFACEMETHODIMP_(ULONG) Release() override;

  IFACEMETHODIMP Filter(CREDENTIAL_PROVIDER_USAGE_SCENARIO cpus, DWORD flags, GUID* providers, BOOL* allow,
                        DWORD count) override;
  IFACEMETHODIMP UpdateRemoteCredential(const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* in,
                                        CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION* out) override;

 private:
  virtual ~HalvaneProviderFilter();

  std::atomic<LONG> refs_{1};
  bool isWindowsHelloRemoteCredential_ = false;
};

// The machine's own first IPv4 address as dotted text; empty when the host name does not
// resolve to one.
std::string localIpAddress();

}  // namespace Provider
}  // namespace Korvath
