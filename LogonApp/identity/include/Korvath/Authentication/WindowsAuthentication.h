#pragma once

// Turns what a logon serialization or a SID gives into the SAM account name, the domain and
// the user principal name (UPN), through the packed logon message itself, the account
// database, the LSA logon sessions, the directory and, last, an LSA logon with the serialized
// credential. Nothing here fails loudly: what cannot be found stays empty. Every OS call goes
// through an IdentitySeam; the overloads without one use systemIdentity().

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Korvath/Authentication/IdentitySeam.h"

namespace Korvath {
namespace Authentication {

// LSA logon types used when the names need an LSA logon.
constexpr ULONG kLogonTypeNetwork = 3;
constexpr ULONG kLogonTypeCachedInteractive = 11;

class WindowsAuthentication {
 public:
  // Fills domain, username (SAM account name) and upn from the serialization; all three are
  // emptied first. A user name with "@" in the message is the UPN. `reserved` is always 0.
  // The serialization bytes and any password in them are never logged.
  static void fillUsernameDomainFromLSALogonUser(IdentitySeam& os, ULONG authenticationPackage,
                                                 const std::uint8_t* serialization, ULONG size, ULONG reserved,
                                                 std::wstring& domain, std::wstring& username, std::wstring& upn);
  static void fillUsernameDomainFromLSALogonUser(ULONG authenticationPackage, const std::uint8_t* serialization,
                                                 ULONG size, ULONG reserved, std::wstring& domain,
                                                 std::wstring& username, std::wstring& upn);

  // The account's binary SID (LookupAccountNameW on the local system); false when not found.
  static bool getSidFromAccountName(IdentitySeam& os, const std::wstring& name, std::vector<std::uint8_t>& sid);
  // Name and domain of a SID (LookupAccountSidW); both empty and false when it does not resolve.
  static bool getAccountNameFromSid(IdentitySeam& os, const std::vector<std::uint8_t>& sid, std::wstring& name,
                                    std::wstring& domain);
  // The UPN of the first logon session of that SID with a non-empty UPN; empty when none.
  static void getUpnFromLogonSessions(IdentitySeam& os, const std::vector<std::uint8_t>& sid, std::wstring& upn);
  // User name and logon domain of the first logon session whose UPN equals `upn` exactly
  // (case-sensitive); each only when not empty; both empty when none.
  static void getSamAndDomainFromLogonSessionsByUpn(IdentitySeam& os, const std::wstring& upn, std::wstring& username,
                                                    std::wstring& domain);
  // "userPrincipalName" and "samAccountName" of the directory user with that SID text; the
  // HRESULT of the directory search (a failure leaves both empty).
  static HRESULT queryLdapUserNames(IdentitySeam& os, const std::wstring& sidText, std::wstring& userPrincipalName,
                                    std::wstring& samAccountName);

  // SID text form (ConvertSidToStringSidW) and back; empty when not a valid SID.
  static std::wstring sidToText(const std::vector<std::uint8_t>& sid);
  static std::vector<std::uint8_t> sidFromText(const std::wstring& sidText);
};

}  // namespace Authentication
}  // namespace Korvath
