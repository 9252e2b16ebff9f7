#pragma once

// TEMPORARY declaration-only copy of the identity helpers' contract, so that the provider
// builds before the identity library lands; it is dropped for the real header then.

#include <windows.h>

#include <string>

#include "Korvath/Authentication/IdentitySeam.h"

namespace Korvath {
namespace Authentication {

class WindowsAuthentication {
 public:
  static void fillUsernameDomainFromLSALogonUser(IdentitySeam& os, ULONG authenticationPackage, const BYTE* data,
                                                 ULONG size, ULONG reserved, std::wstring& domain,
                                                 std::wstring& username, std::wstring& upn);
};

}  // namespace Authentication
}  // namespace Korvath
