#pragma once

// TEMPORARY declaration-only copy of the identity helpers' contract, so that the provider
// builds before the identity library lands; it is dropped for the real header then.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "Korvath/Authentication/IdentitySeam.h"

namespace Korvath {
namespace Authentication {

struct CredentialIdentity {
  bool shouldSerializeRdpData = false;
  std::wstring username, userUpn, domain;
  ULONG authenticationPackage = 0;
  const std::uint8_t* serialization = nullptr;
  ULONG serializationSize = 0;
  std::wstring userSid;
  std::wstring qualifiedUserName;
  std::uint32_t credentialTag = 200;
  std::function<std::wstring(DWORD fieldId)> readInnerStringField;
};

struct ResolvedIdentity {
  std::wstring username, userUpn, domain;
};

ResolvedIdentity resolveUserLogin(const CredentialIdentity& in, IdentitySeam& os);
bool isValidSamAccountName(const std::wstring& name, bool allowOneBackslash);
std::wstring getUserNameFromIdentityCache(const std::wstring& sidText, IdentitySeam& os);

}  // namespace Authentication
}  // namespace Korvath
