#pragma once

// The operating-system calls behind the identity helpers that Wine does not carry out, or that
// need a domain, a directory or real logon sessions to answer. The helpers reach the system only
// through this interface, so tests can play every answer the identity algorithm branches on;
// systemIdentity() is the one that calls Windows. Every call reports "nothing found" with an
// empty result, never by throwing.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace Korvath {
namespace Authentication {

// One LSA logon session as the identity helpers read it.
struct LogonSessionInfo {
  std::vector<std::uint8_t> sid;  // binary SID, empty when the session has none
  std::wstring userName;          // SAM account name
  std::wstring logonDomain;
  std::wstring upn;
};

// What an LSA logon with a serialized credential yields.
struct LsaLogonNames {
  bool loggedOn = false;   // LsaLogonUser succeeded and gave a token
  std::wstring userName;   // of the token's user SID
  std::wstring domain;
  std::wstring upn;        // GetUserNameExW(NameUserPrincipal) under impersonation, when asked
};

// The current session as Remote Desktop Services know it.
struct SessionInfo {
  bool remote = false;         // its client protocol is not the console's
  std::wstring clientAddress;  // its client's address, empty when unknown
};

// User names of a directory entry.
struct DirectoryNames {
  HRESULT result = E_FAIL;
  std::wstring userPrincipalName;
  std::wstring samAccountName;
};

class IdentitySeam {
 public:
  virtual ~IdentitySeam() = default;

  // LookupAccountNameW on the local system: the account's binary SID, empty when not found.
  virtual std::vector<std::uint8_t> lookupAccountName(const std::wstring& name) = 0;
  // LookupAccountSidW: false when the SID does not resolve.
  virtual bool lookupAccountSid(const std::vector<std::uint8_t>& sid, std::wstring& name, std::wstring& domain) = 0;
  // LsaLookupSids2 with LSA_LOOKUP_PREFER_INTERNET_NAMES (LsaLookupSids where the former is
  // missing): the translated name, empty when none.
  virtual std::wstring lookupSidPreferInternetName(const std::vector<std::uint8_t>& sid) = 0;
  // LsaEnumerateLogonSessions + LsaGetLogonSessionData, in the order the system gives them.
  virtual std::vector<LogonSessionInfo> logonSessions() = 0;
  // NetUserGetInfo level 24 on the local server: the internet principal name, empty when none.
  virtual std::wstring netUserInternetPrincipalName(const std::wstring& userName) = 0;
  // The directory entry (LDAP through ADSI) of the user with that SID text.
  virtual DirectoryNames queryDirectoryBySid(const std::wstring& sidText) = 0;
  // LsaConnectUntrusted + LsaLogonUser (origin "Pellora", token source "Drevask") with the
  // serialized credential and the logon type (3 Network, 11 CachedInteractive); names of the
  // token's user; the UPN under impersonation only when askUpn is true and the token's domain
  // is not the local machine (a local account has no UPN to read).
  virtual LsaLogonNames lsaLogon(ULONG authenticationPackage, const std::uint8_t* serialization, ULONG size,
                                 ULONG logonType, bool askUpn) = 0;
  // GetComputerNameExW(ComputerNameDnsDomain); empty when the machine has none or on failure.
  virtual std::wstring computerDnsDomain() = 0;
  // Value "UserName" of the identity-store cache of that SID text; empty when absent.
  virtual std::wstring identityCacheUserName(const std::wstring& sidText) = 0;
  // WTSDisconnectSession of the current session (refused remote or biometric sign-in).
  virtual void disconnectCurrentSession() = 0;
  // WTSQuerySessionInformationW of the current session: WTSClientProtocolType (0 is the
  // console) and WTSClientAddress. A sign-in typed at a remote sign-in screen comes with no
  // remote credential; only the session tells it apart from the console.
  virtual SessionInfo currentSession() = 0;
};

// The implementation that calls Windows; lives for the whole process.
IdentitySeam& systemIdentity();

}  // namespace Authentication
}  // namespace Korvath
