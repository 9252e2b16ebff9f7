#pragma once

// The name resolution of a wrapping credential: which SAM account name, UPN and domain the
// second factor is asked for. The credential gathers its texts into a CredentialIdentity and
// keeps what resolveUserLogin returns.
//
// Order of sources: the serialization that the gate releases first; then the Remote Desktop
// data, the SID, the qualified user name and the inner credential's fields, each only filling
// what is still missing and, when the serialization named a user, only with names that the
// account database resolves to that same account; last the identity cache and the machine's
// DNS domain, which derive a UPN from the SAM name.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "Korvath/Authentication/IdentitySeam.h"

namespace Korvath {
namespace Authentication {

struct CredentialIdentity {
  bool shouldSerializeRdpData = false;
  std::wstring username, userUpn, domain;          // the credential's current texts (from RDP data / provider)
  ULONG authenticationPackage = 0;
  const std::uint8_t* serialization = nullptr;     // the inner credential's serialization, may be null
  ULONG serializationSize = 0;
  std::wstring userSid;                            // text form, empty when unknown
  std::wstring qualifiedUserName;                  // PKEY_Identity_QualifiedUserName, may be empty
  std::uint32_t credentialTag = 200;               // 200..207
  std::function<std::wstring(DWORD fieldId)> readInnerStringField;  // empty when there is no inner credential; returns "" on failure
};

struct ResolvedIdentity {
  std::wstring username, userUpn, domain;
  // The SAM name is the serialization's own and the UPN came from another source: the service
  // is asked about the SAM name first.
  bool samNameFirst = false;
};

// The names for the MFA check. Never fails: what cannot be found stays empty; the domain is
// never empty (the machine's DNS domain, else ".").
ResolvedIdentity resolveUserLogin(const CredentialIdentity& in, IdentitySeam& os);

// False when the name holds any of @ \ / " [ ] : | < > + = , ? *; with allowOneBackslash a
// single backslash (DOMAIN\user) is accepted.
bool isValidSamAccountName(const std::wstring& name, bool allowOneBackslash);

// The value "UserName" of the identity-store cache of that SID text (the UPN of a cloud
// account); empty when absent.
std::wstring getUserNameFromIdentityCache(const std::wstring& sidText, IdentitySeam& os);

}  // namespace Authentication
}  // namespace Korvath
