// Which user the second factor is asked of. The names come from the serialization that the
// gate will release, so the user who passes is the user who signs in; every later source only
// fills what is still missing, and only with names of that same account.
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

bool hasAt(const std::wstring& text) { return text.find(L'@') != std::wstring::npos; }

// The part of a UPN before its last "@".
std::wstring upnPrefix(const std::wstring& upn) { return upn.substr(0, upn.rfind(L'@')); }

// A SAM name from a source that may carry anything; empty when it holds a forbidden character.
std::wstring checkedSam(const std::wstring& name) {
  if (name.empty() || isValidSamAccountName(name, false)) return name;
  KV_LOG_ERROR("%s - Sam account %s has invalid chars", kName, utf8(name).c_str());
  return std::wstring();
}

struct Names {
  std::wstring sam, upn, domain;
  // The serialization named a user: a name from any other source must name that same account.
  bool named = false;
  // The SAM name and the UPN are the serialization's own (or derived from its own SAM name).
  bool samOwn = false, upnOwn = false;
  // The SID of the serialization's account, looked up at the first name of another source.
  bool accountLooked = false;
  std::vector<std::uint8_t> account;
  bool complete() const { return !sam.empty() && !upn.empty(); }
};

bool sameSid(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  return !a.empty() && !b.empty() && WindowsAuthentication::sidToText(a) == WindowsAuthentication::sidToText(b);
}

// "DOMAIN\sam", or the bare SAM name for no domain or the local machine's ".", as the account
// database is asked for it.
std::wstring accountName(const std::wstring& sam, const std::wstring& domain) {
  return domain.empty() || domain == L"." ? sam : domain + L"\\" + sam;
}

// The SID of the account the serialization names, as the account database resolves its own
// names; empty when it cannot be resolved, and then no other source can be shown to name it.
const std::vector<std::uint8_t>& serializationAccount(IdentitySeam& os, Names& n) {
  if (!n.accountLooked) {
    n.accountLooked = true;
    const std::wstring name = n.sam.empty() ? n.upn : accountName(n.sam, n.domain);
    if (!name.empty()) n.account = os.lookupAccountName(name);
  }
  return n.account;
}

// Whether the account with this SID, or this name, is the one the serialization names. Always
// when it named nobody: then nothing else can say who signs in.
bool isSerializationsAccount(IdentitySeam& os, Names& n, const std::vector<std::uint8_t>& sid) {
  return !n.named || sameSid(serializationAccount(os, n), sid);
}
bool namesSerializationsAccount(IdentitySeam& os, Names& n, const std::wstring& name, const char* source) {
  if (!n.named) return true;
  if (!serializationAccount(os, n).empty() && sameSid(n.account, os.lookupAccountName(name))) return true;
  KV_LOG_ERROR("%s - %s %s names another account than the serialization; not used", kName, source, utf8(name).c_str());
  return false;
}

void fromSerialization(const CredentialIdentity& in, IdentitySeam& os, Names& n) {
  if (in.serialization == nullptr) return;  // of size 0 too: the helpers log that it is empty
  KV_LOG_DEBUG("%s - getting domain and username from wrapper serialization", kName);
  std::wstring sam;
  WindowsAuthentication::fillUsernameDomainFromLSALogonUser(os, in.authenticationPackage, in.serialization,
                                                            in.serializationSize, 0, n.domain, sam, n.upn);
  n.sam = checkedSam(sam);
  n.samOwn = !n.sam.empty();
  n.upnOwn = !n.upn.empty();
  // A name that is no SAM name still names someone: nobody else takes its place.
  n.named = !sam.empty() || n.upnOwn;
}

// The Remote Desktop data comes from the client, not from what LogonUI submits: a user may
// arrive with one account's credentials and sign in as another.
void fromRemoteData(const CredentialIdentity& in, IdentitySeam& os, Names& n) {
  if (!in.shouldSerializeRdpData) return;
  KV_LOG_DEBUG("%s - getting domain and username from rdp serialization info", kName);
  const std::wstring remoteSam = checkedSam(in.username);
  bool used = false;
  if (n.sam.empty() && !remoteSam.empty() &&
      namesSerializationsAccount(os, n, accountName(remoteSam, in.domain), "rdp serialization info")) {
    n.sam = remoteSam;
    used = true;
  }
  if (n.upn.empty() && !in.userUpn.empty() && namesSerializationsAccount(os, n, in.userUpn, "rdp serialization info")) {
    n.upn = in.userUpn;
    used = true;
  }
  if ((used || !n.named) && n.domain.empty()) n.domain = in.domain;
}

// LogonUI's user of the tile (its SID, or the inner credential's), which need not be the user
// whose name was typed into it.
void fromSid(const CredentialIdentity& in, IdentitySeam& os, Names& n) {
  if (in.userSid.empty()) return;
  KV_LOG_DEBUG("%s - getting domain and username from user sid", kName);
  const std::vector<std::uint8_t> sid = WindowsAuthentication::sidFromText(in.userSid);
  if (sid.empty()) return;
  if (!isSerializationsAccount(os, n, sid)) {
    KV_LOG_ERROR("%s - user sid %s names another account than the serialization; not used", kName,
                 utf8(in.userSid).c_str());
    return;
  }
  if (n.sam.empty()) {
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

void fromQualifiedNameAndFields(const CredentialIdentity& in, IdentitySeam& os, Names& n) {
  const std::wstring& qualified = in.qualifiedUserName;
  if (n.upn.empty() && hasAt(qualified) && namesSerializationsAccount(os, n, qualified, "qualified user name")) {
    KV_LOG_DEBUG("%s - getting upn username from qualified user name property", kName);
    n.upn = qualified;
  }
  if (n.sam.empty() && !qualified.empty() && isValidSamAccountName(qualified, true) &&
      namesSerializationsAccount(os, n, qualified, "qualified user name")) {
    KV_LOG_DEBUG("%s - getting sam account username from qualified user name property", kName);
    n.sam = qualified;
  }
  if (n.complete() || !in.readInnerStringField || !in.userSid.empty()) return;
  if (in.credentialTag != 200 && in.credentialTag != 201) return;
  KV_LOG_DEBUG("%s - getting domain and username from UI controls", kName);
  std::wstring text = in.credentialTag == 200 ? in.readInnerStringField(1) : std::wstring();
  if (text.empty()) text = in.readInnerStringField(4);
  if (hasAt(text)) {
    if (n.upn.empty() && namesSerializationsAccount(os, n, text, "user name field")) n.upn = text;
  } else if (n.sam.empty() && !text.empty() && isValidSamAccountName(text, true) &&
             namesSerializationsAccount(os, n, text, "user name field")) {
    n.sam = text;
  }
}

// UPNs derived from the SAM name: they are the serialization's own when the SAM name is.
void fromAccountDatabase(IdentitySeam& os, Names& n) {
  if (n.upn.empty() && startsWithNoCase(n.sam, L"AzureAD\\")) {
    KV_LOG_DEBUG("%s - User azure detected. Trying to get username in upn format", kName);
    std::vector<std::uint8_t> sid;
    if (WindowsAuthentication::getSidFromAccountName(os, n.sam, sid)) {
      n.upn = getUserNameFromIdentityCache(WindowsAuthentication::sidToText(sid), os);
      n.upnOwn = n.samOwn && !n.upn.empty();
    }
  }
  if (n.upn.empty() && !n.sam.empty() && !Utils::isLocalDomain(utf8(n.domain))) {
    KV_LOG_DEBUG("%s - Try to get from the domain name and the name of the Sam format.", kName);
    const std::wstring dnsDomain = os.computerDnsDomain();
    if (!dnsDomain.empty()) {
      n.upn = n.sam + L"@" + dnsDomain;
      n.upnOwn = n.samOwn;
    }
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
  bool samFirst = false;
  try {
    fromSerialization(in, os, n);
    if (!n.complete()) fromRemoteData(in, os, n);
    if (!n.complete()) fromSid(in, os, n);
    if (!n.complete()) fromQualifiedNameAndFields(in, os, n);
    if (!n.complete()) fromAccountDatabase(os, n);
    // The serialization's own SAM name is never given up for a UPN of another source; it
    // stays, and comes first.
    samFirst = n.samOwn && !n.upnOwn && !n.upn.empty();
    if (!samFirst && !n.upn.empty() && equalNoCase(n.sam, upnPrefix(n.upn))) {
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
  return ResolvedIdentity{n.sam, n.upn, n.domain, samFirst};
}

}  // namespace Authentication
}  // namespace Korvath
