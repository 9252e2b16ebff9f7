#include "ModelTestSupport.h"

#include <atomic>
#include <chrono>
#include <cstdlib>

namespace KvModelTest {

void TempRootTest::SetUp() {
  static std::atomic<unsigned> counter{0};
  std::random_device rd;
  std::error_code ec;
  do {
    dir_ = std::filesystem::temp_directory_path() / ("kvmodel-" + std::to_string(rd()) + "-" + std::to_string(counter++));
  } while (!std::filesystem::create_directory(dir_, ec));
#if !defined(_WIN32)
  ::setenv("KORVATH_ROOT", dir_.string().c_str(), 1);
#endif
}

void TempRootTest::TearDown() {
  Korvath::ConfigFile::setReplaceFunction(nullptr);
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

Korvath::Config TempRootTest::reread(const std::string& name) {
  Korvath::Config c(&crypto_);
  EXPECT_EQ(0, c.readFile(path(name)));
  return c;
}

Korvath::Model::AuthenticatorRecord sampleAuthenticator(std::uint8_t model, char fill) {
  Korvath::Model::AuthenticatorRecord a;
  EXPECT_EQ(0, a.setModel(model));
  EXPECT_EQ(0, a.setSerialNumber("SN-0001"));
  EXPECT_EQ(0, a.setBlob(std::string(model == 10 ? 280 : 172, fill)));
  a.setDeviceId(4242);
  return a;
}

Korvath::Model::UserConfig sampleUser(const std::string& login, const std::string& email) {
  Korvath::Model::UserConfig u;
  EXPECT_EQ(0, u.setUserLogin(login));
  u.setEmail(email.empty() ? login + "@example.test" : email);
  u.setHasPolicy(true);
  u.setAuthTypes({{"otp", true}, {"qrcode", false}, {"push", true}});
  EXPECT_EQ(0, u.setAuthenticators({sampleAuthenticator(10), sampleAuthenticator(11, 'B')}));
  u.setAuthenticatorForgottenExpiryTimestamp(1700000000123ull);
  EXPECT_EQ(0, u.setPassword("pw-" + login));
  u.setFallbackExpiration(133000000000000000ull);
  EXPECT_EQ(0, u.setLastAuthType("otp"));
  u.setAutoSendPush(false);
  u.setPolicyAllowsAuthentication(true);
  u.setLastAuthTime(133000000000000001ull);
  return u;
}

Korvath::ServerConfig sampleServerConfig() {
  Korvath::ServerConfig s;
  EXPECT_EQ(0, s.setPushTimeout(45));
  s.setOffline(1);
  s.setSyncInterval(12);
  s.setSupportMessage("Call the desk");
  s.setEnableRememberPassword(1);
  s.setEnableForgotAuthenticator(1);
  EXPECT_EQ(0, s.setIntegrationKey("integration-key-1"));
  s.setLatestVersionKorvath("3.0.1.700");
  s.setTimeDifference(-17);
  // Account, login and authentication attempts, unblock minutes, look-ahead, clock tolerance.
  s.setAuthenticationSettings({"acct-1", 3, 4, 30, 20, 3, ""});
  s.setAllowUnknownUsers(1);
  return s;
}

Korvath::Model::TransactionData sampleTransactionData() {
  Korvath::Model::TransactionDataData d;
  EXPECT_EQ(0, d.setPlatform(1));
  d.setLocation("Lisbon");
  d.setOsVersion("Windows 11 Pro");
  EXPECT_EQ(0, d.setComputer("DESKTOP-01"));
  d.setDomain("corp.example");
  d.setClientIp("10.1.2.3");
  EXPECT_EQ(0, d.setResourceName("Front desk"));
  Korvath::Model::TransactionData t;
  EXPECT_EQ(0, t.setData(d));
  EXPECT_EQ(0, t.setTimestamp(1700000000));
  EXPECT_EQ(0, t.setUser("alice"));
  return t;
}

Korvath::Model::ResponseConfig sampleResponseConfig() {
  Korvath::Model::ResponseConfig r;
  r.setAccountId("acct-1");
  EXPECT_EQ(0, r.setAccountAlias("ACME"));
  r.setResourceId(77);
  EXPECT_EQ(0, r.setResourceAlias("Front desk"));
  r.setMasterPassword("master");
  r.setServerTime(0);
  EXPECT_EQ(0, r.setServerConfig(sampleServerConfig()));
  EXPECT_EQ(0, r.setUsers({sampleUser("alice"), sampleUser("bob")}));
  return r;
}

}  // namespace KvModelTest
