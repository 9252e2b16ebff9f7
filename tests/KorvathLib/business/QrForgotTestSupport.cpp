#include "QrForgotTestSupport.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "AuthenticationSdk/AuthenticatorBlob.h"
#include "Commons/Encoding.h"

namespace QrForgotTest {

const char* const kAccountId = "AC1000000001";
const char* const kIntegrationKey = "sim-integration-key-0001";
const char* const kAliceSecretHex = "3132333435363738393031323334353637383930";
const char* const kOtherSecretHex = "0102030405060708090a0b0c0d0e0f1011121314";

std::string makeBlob(std::uint8_t model, const std::string& secretHex, bool active) {
  AuthenticationSdk::Blob::Definition definition;
  definition.model = model;
  Commons::Bytes secret;
  EXPECT_TRUE(Commons::Hex::decode(secretHex, secret));
  definition.secret = secret;
  definition.active = active;
  std::string blob;
  EXPECT_EQ(AuthenticationSdk::Blob::create(definition, kAccountId, kIntegrationKey, blob), 0);
  return blob;
}

Korvath::Model::AuthenticatorRecord authenticator(std::uint8_t model, const std::string& secretHex,
                                                  std::uint32_t deviceId, bool active) {
  Korvath::Model::AuthenticatorRecord record;
  EXPECT_EQ(record.setModel(model), 0);
  EXPECT_EQ(record.setSerialNumber("SN-" + std::to_string(deviceId) + "-" + std::to_string(model)), 0);
  EXPECT_EQ(record.setBlob(makeBlob(model, secretHex, active)), 0);
  record.setDeviceId(deviceId);
  return record;
}

Korvath::Model::UserConfig storedUser(const std::string& login, const std::string& email,
                                      const std::vector<Korvath::Model::AuthenticatorRecord>& authenticators,
                                      const Korvath::Model::AuthFactorMap& factors) {
  Korvath::Model::UserConfig user;
  EXPECT_EQ(user.setUserLogin(login), 0);
  user.setEmail(email);
  user.setAuthTypes(factors);
  EXPECT_EQ(user.setAuthenticators(authenticators), 0);
  return user;
}

namespace {

std::string makeTempDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device rd;
  const auto base = std::filesystem::temp_directory_path();
  for (;;) {
    const auto candidate = base / ("kvbizqr-" + std::to_string(rd()) + "-" + std::to_string(counter++));
    std::error_code ec;
    if (std::filesystem::create_directory(candidate, ec)) return candidate.string();
  }
}

}  // namespace

void BusinessTest::SetUp() {
  dir_ = makeTempDir();
#if !defined(_WIN32)
  ::setenv("KORVATH_ROOT", dir_.c_str(), 1);
#endif
  Korvath::Platform::setClock(&clock_);
  Korvath::Platform::setAgentRegistry(&registry_);
  config_.reset(new Korvath::Config(&crypto_));
  ASSERT_EQ(config_->setRegion("localhost"), 0);
  ASSERT_EQ(config_->setEnvironment("prod"), 0);
  config_->setAccountId(kAccountId);
  config_->setResourceId(kResourceId);
  config_->setFilePath((std::filesystem::path(dir_) / "kvconfig.cfg").string());
  Korvath::ServerConfig serverConfig = config_->getServerConfig();
  ASSERT_EQ(serverConfig.setIntegrationKey(kIntegrationKey), 0);
  AuthenticationSdk::AuthenticationSettings settings;
  settings.accountId = kAccountId;
  serverConfig.setAuthenticationSettings(settings);
  serverConfig.setOffline(1);
  ASSERT_EQ(config_->setServerConfig(serverConfig), 0);
  business_.reset(new Korvath::Business::KvBusiness(config_.get(), &crypto_));
}

void BusinessTest::TearDown() {
  Korvath::Platform::setAgentRegistry(nullptr);
  Korvath::Platform::setClock(nullptr);
  business_.reset();
  config_.reset();
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void BusinessTest::setServerFlags(std::uint8_t offline, std::uint8_t enableRememberPassword,
                                  std::uint8_t enableForgotAuthenticator) {
  Korvath::ServerConfig serverConfig = config_->getServerConfig();
  serverConfig.setOffline(offline);
  serverConfig.setEnableRememberPassword(enableRememberPassword);
  serverConfig.setEnableForgotAuthenticator(enableForgotAuthenticator);
  ASSERT_EQ(config_->setServerConfig(serverConfig), 0);
}

void BusinessTest::storeUsers(const std::vector<Korvath::Model::UserConfig>& users) {
  ASSERT_EQ(config_->setUsersConfig(users), 0);
}

Korvath::Model::UserConfig BusinessTest::stored(const std::string& login) {
  const int index = config_->getUserIndex(login);
  EXPECT_GE(index, 0) << login;
  if (index < 0) return Korvath::Model::UserConfig();
  return config_->getUsersConfig().at(static_cast<std::size_t>(index));
}

}  // namespace QrForgotTest
