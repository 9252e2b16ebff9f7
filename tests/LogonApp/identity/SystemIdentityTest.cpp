// The real identity calls under Wine, which carries few of them out: each must answer
// "nothing" without crashing, and the resolution must still give the message's names; and
// what the helpers write to the agent's log meanwhile.
#include <windows.h>

#include <gtest/gtest.h>

#include <rapidjson/document.h>

#include <fstream>
#include <string>
#include <vector>

#include "CryptoSdk/SecurityService.h"
#include "FakeIdentity.h"
#include "Korvath/Authentication/UserLogin.h"
#include "Korvath/Logger.h"
#include "Korvath/LogonMessage.h"
#include "Korvath/Platform.h"

using namespace Korvath::Authentication;

namespace {

// The plain messages of the sealed log at `path`, joined by new lines.
std::string logText(const std::string& path) {
  std::vector<std::uint8_t> secret;
  EXPECT_TRUE(Korvath::Platform::machineSecret(secret));
  CryptoSdk::SealKey key;
  EXPECT_EQ(0, CryptoSdk::LogSecurityService::deriveLogKey(secret, key));
  std::ifstream in(path, std::ios::binary);
  std::string text;
  for (std::string record, plain; std::getline(in, record);) {
    rapidjson::Document doc;
    doc.Parse(record.c_str(), record.size());
    EXPECT_TRUE(doc.IsObject() && doc.HasMember("message") && doc["message"].IsString() &&
                CryptoSdk::LogSecurityService::open(key, doc["message"].GetString(), plain) == 0)
        << record;
    text += plain + "\n";
  }
  return text;
}

}  // namespace

TEST(SystemIdentity, EveryCallAnswersGracefullyUnderWine) {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  ASSERT_NE(GetProcAddress(ntdll, "wine_get_version"), nullptr) << "these are Wine's answers";
  const std::string logPath = Korvath::Platform::windowsDirectory() + "/kv-identity-test.log";
  DeleteFileA(logPath.c_str());
  Korvath::Logger::close();
  ASSERT_TRUE(Korvath::Logger::open(logPath));

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
  const std::wstring dnsDomain = os.computerDnsDomain();
  os.disconnectCurrentSession();

  // The resolution on the real calls: the message's names survive every empty answer.
  CredentialIdentity in;
  in.serialization = logon.data();
  in.serializationSize = static_cast<ULONG>(logon.size());
  const ResolvedIdentity out = resolveUserLogin(in, os);
  using Texts = std::vector<std::wstring>;
  const Texts expected = dnsDomain.empty() ? Texts{L"zed", L"", L"CORP"} : Texts{L"", L"zed@" + dnsDomain, L"CORP"};
  EXPECT_EQ((Texts{out.username, out.userUpn, out.domain}), expected);
  // An empty serialization and a forbidden SAM name in the Remote Desktop data are logged.
  KvTest::FakeIdentity fake;
  in.serializationSize = 0;
  resolveUserLogin(in, fake);
  CredentialIdentity remote;
  remote.shouldSerializeRdpData = true;
  remote.username = L"kim@corp.example";
  resolveUserLogin(remote, fake);
  Korvath::Logger::close();

  const std::string log = logText(logPath);
  DeleteFileA(logPath.c_str());
  EXPECT_NE(log.find("WindowsAuthentication::fillUsernameDomainFromLSALogonUser - Incorrect buffer size"),
            std::string::npos);
  EXPECT_NE(log.find("- Sam account kim@corp.example has invalid chars"), std::string::npos);
  EXPECT_NE(log.find("- username obtained by authentication message = zed"), std::string::npos);
  EXPECT_EQ(log.find("Pa55-w0rd!"), std::string::npos);
  EXPECT_EQ(log.find("50006100350035"), std::string::npos);  // nor the password's UTF-16 bytes in hex
}
