// The real identity calls under Wine, which carries few of them out: each must answer
// "nothing" without crashing, and the resolution must still give the message's names.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Korvath/Authentication/UserLogin.h"
#include "Korvath/Authentication/WindowsAuthentication.h"
#include "Korvath/LogonMessage.h"

using namespace Korvath::Authentication;

TEST(SystemIdentity, EveryCallAnswersGracefullyUnderWine) {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  ASSERT_NE(GetProcAddress(ntdll, "wine_get_version"), nullptr) << "these are Wine's answers";

  IdentitySeam& os = systemIdentity();
  wchar_t user[256];
  DWORD length = 256;
  ASSERT_TRUE(GetUserNameW(user, &length));
  const std::vector<std::uint8_t> sid = os.lookupAccountName(user);
  const std::wstring sidText = WindowsAuthentication::sidToText(sid);
  std::wstring name, domain;
  ASSERT_TRUE(os.lookupAccountSid(sid, name, domain));
  EXPECT_EQ(name, user);
  EXPECT_TRUE(os.lookupAccountName(L"").empty());
  EXPECT_TRUE(os.lookupAccountName(L"no-such-user-kv4711").empty());
  EXPECT_FALSE(os.lookupAccountSid({1, 2, 3}, name, domain));
  // Resolves LsaLookupSids2 from advapi32 only; the process is still here to check the rest.
  EXPECT_EQ(os.lookupSidPreferInternetName(sid).find(L'@'), std::wstring::npos);
  EXPECT_TRUE(os.logonSessions().empty());
  EXPECT_TRUE(os.netUserInternetPrincipalName(user).empty());
  const DirectoryNames entry = os.queryDirectoryBySid(sidText);
  EXPECT_TRUE(FAILED(entry.result) && entry.userPrincipalName.empty() && entry.samAccountName.empty());
  EXPECT_EQ(os.queryDirectoryBySid(L"S-1-5)(objectClass=*").result, E_INVALIDARG);
  EXPECT_TRUE(os.identityCacheUserName(sidText).empty());
  std::vector<std::uint8_t> logon = packInteractiveLogon(u"CORP", u"zed", u"Pa55-w0rd!");
  const LsaLogonNames lsa = os.lsaLogon(0, logon.data(), static_cast<ULONG>(logon.size()), kLogonTypeNetwork, true);
  EXPECT_FALSE(lsa.loggedOn || !lsa.userName.empty() || !lsa.upn.empty());
  os.computerDnsDomain();
  os.disconnectCurrentSession();
}
