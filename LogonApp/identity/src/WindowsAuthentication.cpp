// The name resolution of a serialized logon, step by step from the cheapest source to an LSA
// logon. Only the seam touches the system, so every branch can be played by a test.
#include "Korvath/Authentication/WindowsAuthentication.h"

#include <sddl.h>

#include <exception>

#include "Korvath/Logger.h"
#include "Korvath/LogonMessage.h"
#include "Korvath/Utils.h"
#include "Korvath/WindowsFacts.h"

namespace Korvath {
namespace Authentication {

namespace {

std::string utf8(const std::wstring& text) { return Utils::toUtf8(text); }

std::wstring wide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

bool isLocal(const std::wstring& domain) { return Utils::isLocalDomain(utf8(domain)); }

// The names without logging anybody on: the message itself, the account database, the logon
// sessions and the directory. Returns the LSA logon type that must still be tried, or 0 when
// the names are settled.
ULONG namesWithoutAuthentication(IdentitySeam& os, const std::uint8_t* serialization, ULONG size, std::wstring& domain,
                                 std::wstring& username, std::wstring& upn) {
  static const char* const kName = "Korvath::Authentication::WindowsAuthentication::fillUsernameDomainFromLSALogonUser";
  KV_LOG_DEBUG("%s - Trying to get username and domain without authentication", kName);
  const LogonMessageNames message = readLogonMessageNames(serialization, size);
  KV_LOG_DEBUG("%s - MessageType type %d", kName, static_cast<int>(message.messageType));
  if (message.messageType != 0 && !message.readable) {
    KV_LOG_ERROR("%s - the logon message of type %u is malformed", kName, message.messageType);
  }
  domain = wide(message.domain);
  const std::wstring user = wide(message.userName);
  if (user.find(L'@') != std::wstring::npos)
    upn = user;
  else
    username = user;
  KV_LOG_DEBUG("%s - domain obtained by authentication message = %s", kName, utf8(domain).c_str());
  KV_LOG_DEBUG("%s - username obtained by authentication message = %s", kName, utf8(username).c_str());
  KV_LOG_DEBUG("%s - upn obtained by authentication message = %s", kName, utf8(upn).c_str());

  if (username.empty() && upn.empty()) return kLogonTypeNetwork;

  if (isLocal(domain)) {
    if (!upn.empty()) {
      std::vector<std::uint8_t> sid;
      std::wstring name, nameDomain;
      if (username.empty() && WindowsAuthentication::getSidFromAccountName(os, upn, sid) &&
          WindowsAuthentication::getAccountNameFromSid(os, sid, name, nameDomain)) {
        username = name;
        domain = nameDomain;
      }
    } else {
      const std::wstring principal = os.netUserInternetPrincipalName(username);
      if (!principal.empty()) {
        KV_LOG_DEBUG("%s - Getting upn format using NetUserGetInfo", kName);
        upn = principal;
      }
    }
    return 0;
  }

  const std::wstring& account = upn.empty() ? username : upn;
  const std::wstring lookupName = domain.empty() ? account : domain + L"\\" + account;
  std::vector<std::uint8_t> sid;
  if (!WindowsAuthentication::getSidFromAccountName(os, lookupName, sid)) {
    if (!upn.empty()) {
      // Only what a session gives replaces the message's names; nothing found keeps them.
      std::wstring sessionUser, sessionDomain;
      WindowsAuthentication::getSamAndDomainFromLogonSessionsByUpn(os, upn, sessionUser, sessionDomain);
      if (!sessionUser.empty()) {
        KV_LOG_DEBUG("%s - getting sam username from Lsa logon session data", kName);
        username = sessionUser;
        if (!sessionDomain.empty()) domain = sessionDomain;
      }
    }
  } else {
    if (upn.empty()) {
      WindowsAuthentication::getUpnFromLogonSessions(os, sid, upn);
      if (!upn.empty()) KV_LOG_DEBUG("%s - getting upn username from Lsa logon session data", kName);
    }
    if (upn.empty() || username.empty()) {
      std::wstring directoryUpn, directorySam;
      const HRESULT hr = WindowsAuthentication::queryLdapUserNames(os, WindowsAuthentication::sidToText(sid),
                                                                   directoryUpn, directorySam);
      if (FAILED(hr)) KV_LOG_ERROR("%s - queryLdapUserNames hr = 0x%08lX", kName, static_cast<unsigned long>(hr));
      if (upn.empty() && !directoryUpn.empty()) {
        KV_LOG_DEBUG("%s - Getting upn format using ldap", kName);
        upn = directoryUpn;
      }
      if (username.empty() && !directorySam.empty()) {
        KV_LOG_DEBUG("%s - Getting sam format using ldap", kName);
        username = directorySam;
      }
    }
  }
  if (!username.empty() && !upn.empty()) return 0;
  KV_LOG_DEBUG("%s - try to login with cached credentials", kName);
  return kLogonTypeCachedInteractive;
}

}  // namespace

void WindowsAuthentication::fillUsernameDomainFromLSALogonUser(IdentitySeam& os, ULONG authenticationPackage,
                                                               const std::uint8_t* serialization, ULONG size,
                                                               ULONG /*reserved*/, std::wstring& domain,
                                                               std::wstring& username, std::wstring& upn) {
  static const char* const kName = "Korvath::Authentication::WindowsAuthentication::fillUsernameDomainFromLSALogonUser";
  KV_TRACE_SCOPE(kName);
  domain.clear();
  username.clear();
  upn.clear();
  if (size == 0 || serialization == nullptr) {
    KV_LOG_ERROR("%s - Incorrect buffer size", kName);
    return;
  }
  try {
    const ULONG logonType = namesWithoutAuthentication(os, serialization, size, domain, username, upn);
    if (logonType == 0) return;
    KV_LOG_DEBUG("%s - Trying to get username and domain with lsa authentication", kName);
    const LsaLogonNames lsa = os.lsaLogon(authenticationPackage, serialization, size, logonType, upn.empty());
    if (!lsa.loggedOn) return;
    if (!lsa.userName.empty()) {
      username = lsa.userName;
      domain = lsa.domain;
    }
    if (upn.empty() && !lsa.upn.empty()) {
      KV_LOG_DEBUG("%s - Getting upn format using GetUserNameEx", kName);
      upn = lsa.upn;
    }
  } catch (const std::exception& e) {
    KV_LOG_ERROR("%s - exception - e.what(): %s", kName, e.what());
  }
}

void WindowsAuthentication::fillUsernameDomainFromLSALogonUser(ULONG authenticationPackage,
                                                               const std::uint8_t* serialization, ULONG size,
                                                               ULONG reserved, std::wstring& domain,
                                                               std::wstring& username, std::wstring& upn) {
  fillUsernameDomainFromLSALogonUser(systemIdentity(), authenticationPackage, serialization, size, reserved, domain,
                                     username, upn);
}

bool WindowsAuthentication::getSidFromAccountName(IdentitySeam& os, const std::wstring& name,
                                                  std::vector<std::uint8_t>& sid) {
  sid = name.empty() ? std::vector<std::uint8_t>() : os.lookupAccountName(name);
  return !sid.empty();
}

bool WindowsAuthentication::getAccountNameFromSid(IdentitySeam& os, const std::vector<std::uint8_t>& sid,
                                                  std::wstring& name, std::wstring& domain) {
  name.clear();
  domain.clear();
  if (sid.empty() || !os.lookupAccountSid(sid, name, domain)) {
    name.clear();
    domain.clear();
    return false;
  }
  return true;
}

void WindowsAuthentication::getUpnFromLogonSessions(IdentitySeam& os, const std::vector<std::uint8_t>& sid,
                                                    std::wstring& upn) {
  upn.clear();
  if (sid.empty()) return;
  for (const LogonSessionInfo& session : os.logonSessions()) {
    if (session.sid == sid && !session.upn.empty()) {
      upn = session.upn;
      return;
    }
  }
}

void WindowsAuthentication::getSamAndDomainFromLogonSessionsByUpn(IdentitySeam& os, const std::wstring& upn,
                                                                  std::wstring& username, std::wstring& domain) {
  username.clear();
  domain.clear();
  if (upn.empty()) return;
  for (const LogonSessionInfo& session : os.logonSessions()) {
    if (session.upn != upn) continue;
    if (!session.userName.empty()) username = session.userName;
    if (!session.logonDomain.empty()) domain = session.logonDomain;
    if (!username.empty()) return;
  }
}

HRESULT WindowsAuthentication::queryLdapUserNames(IdentitySeam& os, const std::wstring& sidText,
                                                  std::wstring& userPrincipalName, std::wstring& samAccountName) {
  userPrincipalName.clear();
  samAccountName.clear();
  if (sidText.empty()) return E_INVALIDARG;
  const DirectoryNames names = os.queryDirectoryBySid(sidText);
  if (SUCCEEDED(names.result)) {
    userPrincipalName = names.userPrincipalName;
    samAccountName = names.samAccountName;
  }
  return names.result;
}

std::wstring WindowsAuthentication::sidToText(const std::vector<std::uint8_t>& sid) {
  if (sid.size() < 8) return std::wstring();
  PSID binary = const_cast<std::uint8_t*>(sid.data());
  if (!IsValidSid(binary) || GetLengthSid(binary) > sid.size()) return std::wstring();
  LPWSTR text = nullptr;
  if (!ConvertSidToStringSidW(binary, &text)) return std::wstring();
  std::wstring out(text);
  LocalFree(text);
  return out;
}

std::vector<std::uint8_t> WindowsAuthentication::sidFromText(const std::wstring& sidText) {
  PSID binary = nullptr;
  if (sidText.empty() || !ConvertStringSidToSidW(sidText.c_str(), &binary)) return {};
  const auto* bytes = static_cast<const std::uint8_t*>(binary);
  std::vector<std::uint8_t> out(bytes, bytes + GetLengthSid(binary));
  LocalFree(binary);
  return out;
}

}  // namespace Authentication
}  // namespace Korvath
