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
  a.setUsedHereFrom(17);
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
  u.setForgotTokenFailures(3);
  u.setForgotTokenBlockedAt(133000000000000002ull);
  u.setOfflineCheckPending(true);
  u.setForgotTokenGrantedAt(133000000000000003ull);
  return u;
}

Korvath::ServerConfig sampleServerConfig() {
  Korvath::ServerConfig s;
  EXPECT_EQ(0, s.fillFromJson(
                   R"({"pushTimeout":45,"offline":1,"syncInterval":12,"supportMessage":"Call the desk",)"
                   R"("enableRememberPassword":1,"enableForgotAuthenticator":1,"integrationKey":"integration-key-1",)"
                   R"("latestVersionKorvath":"3.0.1.700","timeDifference":-17,"authenticationSettings":{"accountId":)"
                   R"("acct-1","loginAttempts":3,"authenticationAttempts":4,"autoUnblockTime":30,"syncTime":20,)"
                   R"("timeWindow":3},"allowUnknownUsers":1})"));
  return s;
}

Korvath::Model::TransactionData sampleTransactionData() {
  Korvath::Model::TransactionData t;
  EXPECT_EQ(0, t.fillFromJson(
                   R"({"type":3,"timestamp":1700000000,"user":"alice","data":{"platform":1,"location":"Lisbon",)"
                   R"("osVersion":"Windows 11 Pro","computer":"DESKTOP-01","domain":"corp.example",)"
                   R"("clientIp":"10.1.2.3","resourceName":"Front desk"}})"));
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
