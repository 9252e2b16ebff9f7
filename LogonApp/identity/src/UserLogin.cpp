// Which user the second factor is asked of. The names come from the serialization that the
// gate will release, so the user who passes is the user who signs in; every later source only
// fills what is still missing.
#include "Korvath/Authentication/UserLogin.h"

#include <exception>
#include <vector>

#include "Korvath/Authentication/WindowsAuthentication.h"
#include "Korvath/Logger.h"
#include "Korvath/Utils.h"
#include "Korvath/WindowsFacts.h"

namespace Korvath {
namespace Authentication {

namespace {

const char* const kName = "Korvath::Authentication::resolveUserLogin";

std::string utf8(const std::wstring& text) { return Utils::toUtf8(text); }

bool equalNoCase(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() && CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                                      static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool startsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
  return text.size() >= prefix.size() && equalNoCase(text.substr(0, prefix.size()), prefix);
}

bool containsNoCase(const std::wstring& text, const std::wstring& part) {
  for (std::size_t at = 0; at + part.size() <= text.size(); ++at) {
    if (equalNoCase(text.substr(at, part.size()), part)) return true;
  }
  return false;
}

bool hasAt(const std::wstring& text) { return text.find(L'@') != std::wstring::npos; }

// The part of a UPN before its last "@".
std::wstring upnPrefix(const std::wstring& upn) { return upn.substr(0, upn.rfind(L'@')); }

// A SAM name from a source that may carry anything; empty when it holds a forbidden character.
std::wstring checkedSam(const std::wstring& name) {
  if (name.empty() || isValidSamAccountName(name, false)) return name;
  KV_LOG_ERROR("%s - Sam account %s has invalid chars", kName, utf8(name).c_str());
  return std::wstring();
}

// Whether the Remote Desktop data may fill what the released serialization lacks: always when
// the serialization named nobody; otherwise only when one of its names agrees with the
// serialization's and none contradicts them. Names of another user would have the second
// factor asked of someone who does not sign in.
bool remoteDataNamesSameUser(const std::wstring& sam, const std::wstring& upn, const std::wstring& remoteSam,
                             const std::wstring& remoteUpn) {
  if (sam.empty() && upn.empty()) return true;
  bool agrees = false;
  if (!sam.empty() && !remoteSam.empty()) {
    if (!equalNoCase(sam, remoteSam)) return false;
    agrees = true;
  }
  if (!upn.empty() && !remoteUpn.empty()) {
    if (!equalNoCase(upn, remoteUpn)) return false;
    agrees = true;
  }
  // A SAM name and a UPN can differ for one user; they only count when they match.
  if (!sam.empty() && !remoteUpn.empty() && equalNoCase(sam, upnPrefix(remoteUpn))) agrees = true;
  if (!upn.empty() && !remoteSam.empty() && equalNoCase(upnPrefix(upn), remoteSam)) agrees = true;
  return agrees;
}

struct Names {
  std::wstring sam, upn, domain;
  bool complete() const { return !sam.empty() && !upn.empty(); }
};

void fromSerializationThenRemoteData(const CredentialIdentity& in, IdentitySeam& os, Names& n) {
  if (in.serialization != nullptr) {  // of size 0 too: the helpers log that it is empty
    KV_LOG_DEBUG("%s - getting domain and username from wrapper serialization", kName);
    std::wstring sam;
    WindowsAuthentication::fillUsernameDomainFromLSALogonUser(os, in.authenticationPackage, in.serialization,
                                                              in.serializationSize, 0, n.domain, sam, n.upn);
    n.sam = checkedSam(sam);
  }
  if (!in.shouldSerializeRdpData) return;
  KV_LOG_DEBUG("%s - getting domain and username from rdp serialization info", kName);
  const std::wstring remoteSam = checkedSam(in.username);
  if (!remoteDataNamesSameUser(n.sam, n.upn, remoteSam, in.userUpn)) {
    KV_LOG_ERROR("%s - rdp serialization info names another user than the serialization; not used", kName);
    return;
  }
  if (n.sam.empty()) n.sam = remoteSam;
  if (n.upn.empty()) n.upn = in.userUpn;
  if (n.domain.empty()) n.domain = in.domain;
}

void fromSid(const CredentialIdentity& in, IdentitySeam& os, Names& n) {
  if (in.userSid.empty()) return;
  KV_LOG_DEBUG("%s - getting domain and username from user sid", kName);
  const std::vector<std::uint8_t> sid = WindowsAuthentication::sidFromText(in.userSid);
  if (sid.empty()) return;
  // A temporary set-up account ("defaultuser0") is not the user: the SID names the real one.
  if (n.sam.empty() || (n.sam.size() > 10 && containsNoCase(n.sam, L"defaultuser"))) {
    std::wstring name, domain;
    if (WindowsAuthentication::getAccountNameFromSid(os, sid, name, domain)) {
      n.sam = name;
      n.domain = domain;
    }
  }
  if (!n.upn.empty()) return;
  const std::wstring internetName = os.lookupSidPreferInternetName(sid);
  if (hasAt(internetName)) {
    KV_LOG_DEBUG("%s - getting upn username from LsaLookupSid2", kName);
    n.upn = internetName;
    return;
  }
  WindowsAuthentication::getUpnFromLogonSessions(os, sid, n.upn);
  if (!n.upn.empty()) KV_LOG_DEBUG("%s - getting upn username from Lsa logon session data", kName);
}

void fromQualifiedNameAndFields(const CredentialIdentity& in, Names& n) {
  if (n.upn.empty() && hasAt(in.qualifiedUserName)) {
    KV_LOG_DEBUG("%s - getting upn username from qualified user name property", kName);
    n.upn = in.qualifiedUserName;
  }
  if (n.sam.empty() && !in.qualifiedUserName.empty() && isValidSamAccountName(in.qualifiedUserName, true)) {
    KV_LOG_DEBUG("%s - getting sam account username from qualified user name property", kName);
    n.sam = in.qualifiedUserName;
  }
  if (n.complete() || !in.readInnerStringField || !in.userSid.empty()) return;
  if (in.credentialTag != 200 && in.credentialTag != 201) return;
  KV_LOG_DEBUG("%s - getting domain and username from UI controls", kName);
  std::wstring text = in.credentialTag == 200 ? in.readInnerStringField(1) : std::wstring();
  if (text.empty()) text = in.readInnerStringField(4);
  if (hasAt(text)) {
    if (n.upn.empty()) n.upn = text;
  } else if (n.sam.empty() && !text.empty() && isValidSamAccountName(text, true)) {
    n.sam = text;
  }
}

void fromAccountDatabase(IdentitySeam& os, Names& n) {
  if (n.upn.empty() && startsWithNoCase(n.sam, L"AzureAD\\")) {
    KV_LOG_DEBUG("%s - User azure detected. Trying to get username in upn format", kName);
    std::vector<std::uint8_t> sid;
    if (WindowsAuthentication::getSidFromAccountName(os, n.sam, sid)) {
      n.upn = getUserNameFromIdentityCache(WindowsAuthentication::sidToText(sid), os);
    }
  }
  if (n.upn.empty() && !n.sam.empty() && !Utils::isLocalDomain(utf8(n.domain))) {
    KV_LOG_DEBUG("%s - Try to get from the domain name and the name of the Sam format.", kName);
    const std::wstring dnsDomain = os.computerDnsDomain();
    if (!dnsDomain.empty()) n.upn = n.sam + L"@" + dnsDomain;
  }
}

}  // namespace

bool isValidSamAccountName(const std::wstring& name, bool allowOneBackslash) {
  static const std::wstring kForbidden = L"@/\"[]:|<>+=,?*";
  int backslashes = 0;
  for (wchar_t c : name) {
    if (c == L'\\') {
      if (!allowOneBackslash || ++backslashes > 1) return false;
    } else if (kForbidden.find(c) != std::wstring::npos) {
      return false;
    }
  }
  return true;
}

std::wstring getUserNameFromIdentityCache(const std::wstring& sidText, IdentitySeam& os) {
  return sidText.empty() ? std::wstring() : os.identityCacheUserName(sidText);
}

ResolvedIdentity resolveUserLogin(const CredentialIdentity& in, IdentitySeam& os) {
  KV_TRACE_SCOPE(kName);
  Names n;
  try {
    fromSerializationThenRemoteData(in, os, n);
    if (!n.complete()) fromSid(in, os, n);
    if (!n.complete()) fromQualifiedNameAndFields(in, n);
    if (!n.complete()) fromAccountDatabase(os, n);
    if (!n.upn.empty() && equalNoCase(n.sam, upnPrefix(n.upn))) {
      KV_LOG_DEBUG("%s - Discard the sam account because it is the same as the upn prefix.", kName);
      n.sam.clear();
    }
    if (n.domain.empty()) {
      n.domain = os.computerDnsDomain();
      if (n.domain.empty()) n.domain = L".";
    }
  } catch (const std::exception& e) {
    KV_LOG_ERROR("%s - exception - e.what(): %s", kName, e.what());
    if (n.domain.empty()) n.domain = L".";
  }
  return ResolvedIdentity{n.sam, n.upn, n.domain};
}

}  // namespace Authentication
}  // namespace Korvath
