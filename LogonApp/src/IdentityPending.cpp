// TEMPORARY stand-ins for the identity helpers until their library lands (it is linked in
// place of this file then, and this file is deleted). They find nothing: no names are read
// from a serialization and the operating-system seam answers empty. Tests that need the
// real resolution skip themselves while KV_IDENTITY_PENDING is defined.

#include "Korvath/Authentication/IdentitySeam.h"
#include "Korvath/Authentication/UserLogin.h"
#include "Korvath/Authentication/WindowsAuthentication.h"

namespace Korvath {
namespace Authentication {

namespace {
class NothingFound : public IdentitySeam {
 public:
  std::vector<std::uint8_t> lookupAccountName(const std::wstring&) override { return {}; }
  bool lookupAccountSid(const std::vector<std::uint8_t>&, std::wstring&, std::wstring&) override { return false; }
  std::wstring lookupSidPreferInternetName(const std::vector<std::uint8_t>&) override { return {}; }
  std::vector<LogonSessionInfo> logonSessions() override { return {}; }
  std::wstring netUserInternetPrincipalName(const std::wstring&) override { return {}; }
  DirectoryNames queryDirectoryBySid(const std::wstring&) override { return {}; }
  LsaLogonNames lsaLogon(ULONG, const std::uint8_t*, ULONG, ULONG, bool) override { return {}; }
  std::wstring computerDnsDomain() override { return {}; }
  std::wstring identityCacheUserName(const std::wstring&) override { return {}; }
  void disconnectCurrentSession() override {}
};
}  // namespace

IdentitySeam& systemIdentity() {
  static NothingFound seam;
  return seam;
}

ResolvedIdentity resolveUserLogin(const CredentialIdentity& in, IdentitySeam&) {
  return ResolvedIdentity{in.username, in.userUpn, in.domain};
}

void WindowsAuthentication::fillUsernameDomainFromLSALogonUser(IdentitySeam&, ULONG, const BYTE*, ULONG, ULONG,
                                                               std::wstring&, std::wstring&, std::wstring&) {}

}  // namespace Authentication
}  // namespace Korvath
