#pragma once

// An IdentitySeam that plays what a domain, a directory, the logon sessions and the LSA would
// answer. Every call is recorded in a short text form, and the answer is looked up under that
// same text; several fields of one answer are joined with '|':
//   "name CORP\alice" -> SID text          "sid S-1-..." -> "name|domain"
//   "inet S-1-..." -> internet name        "netuser carol" -> internet principal name
//   "ldap S-1-..." -> "upn|sam" (S_OK)     "lsa 11 upn" / "lsa 3" -> "name|domain|upn" (logged on)
//   "dns" -> DNS domain                    "cache S-1-..." -> identity-cache user name
//   "session" -> "protocol|client address" (protocol 0 is the console)
// "sessions" answers `sessions`; "disconnect" answers nothing. No answer means "not found".

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "Korvath/Authentication/IdentitySeam.h"
#include "Korvath/Authentication/WindowsAuthentication.h"

namespace KvTest {

class FakeIdentity : public Korvath::Authentication::IdentitySeam {
 public:
  using Auth = Korvath::Authentication::WindowsAuthentication;

  std::map<std::wstring, std::wstring> answers;
  std::vector<Korvath::Authentication::LogonSessionInfo> sessions;
  std::vector<std::wstring> calls;

  static Korvath::Authentication::LogonSessionInfo session(const std::wstring& sidText, const std::wstring& user,
                                                           const std::wstring& domain, const std::wstring& upn) {
    return {Auth::sidFromText(sidText), user, domain, upn};
  }

  // Records the call and gives its answer.
  std::wstring ask(const std::wstring& call) {
    calls.push_back(call);
    const auto it = answers.find(call);
    return it == answers.end() ? std::wstring() : it->second;
  }

  std::vector<std::uint8_t> lookupAccountName(const std::wstring& name) override {
    return Auth::sidFromText(ask(L"name " + name));
  }
  bool lookupAccountSid(const std::vector<std::uint8_t>& sid, std::wstring& name, std::wstring& domain) override {
    const std::vector<std::wstring> f = fields(ask(L"sid " + Auth::sidToText(sid)));
    name = f[0];
    domain = f[1];
    return !name.empty();
  }
  std::wstring lookupSidPreferInternetName(const std::vector<std::uint8_t>& sid) override {
    return ask(L"inet " + Auth::sidToText(sid));
  }
  std::vector<Korvath::Authentication::LogonSessionInfo> logonSessions() override {
    calls.push_back(L"sessions");
    return sessions;
  }
  std::wstring netUserInternetPrincipalName(const std::wstring& userName) override {
    return ask(L"netuser " + userName);
  }
  Korvath::Authentication::DirectoryNames queryDirectoryBySid(const std::wstring& sidText) override {
    const std::vector<std::wstring> f = fields(ask(L"ldap " + sidText));
    return {f[0].empty() && f[1].empty() ? E_FAIL : S_OK, f[0], f[1]};
  }
  Korvath::Authentication::LsaLogonNames lsaLogon(ULONG, const std::uint8_t*, ULONG, ULONG logonType,
                                                  bool askUpn) override {
    const std::vector<std::wstring> f = fields(ask(L"lsa " + std::to_wstring(logonType) + (askUpn ? L" upn" : L"")));
    return {!f[0].empty(), f[0], f[1], f[2]};
  }
  std::wstring computerDnsDomain() override { return ask(L"dns"); }
  std::wstring identityCacheUserName(const std::wstring& sidText) override { return ask(L"cache " + sidText); }
  void disconnectCurrentSession() override { calls.push_back(L"disconnect"); }
  Korvath::Authentication::SessionInfo currentSession() override {
    const std::vector<std::wstring> f = fields(ask(L"session"));
    return {!f[0].empty() && f[0] != L"0", f[1]};
  }

 private:
  // The '|'-separated fields of an answer, at least three.
  static std::vector<std::wstring> fields(const std::wstring& answer) {
    std::vector<std::wstring> out;
    std::wistringstream in(answer);
    for (std::wstring field; std::getline(in, field, L'|');) out.push_back(field);
    out.resize(std::max<std::size_t>(out.size(), 3));
    return out;
  }
};

}  // namespace KvTest
