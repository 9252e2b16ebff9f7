#include "BizCoreTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "AuthenticationSdk/AuthenticatorBlob.h"
#include "AuthenticationSdk/ChallengeData.h"
#include "AuthenticationSdk/Hotp.h"
#include "AuthenticationSdk/OfflineAuthentication.h"
#include "Commons/Encoding.h"

namespace BizCoreTest {

const std::int32_t kResourceId = 4242;
const char* const kAliceSecretHex = "3132333435363738393031323334353637383930";
const char* const kBobSecretHex = "0102030405060708090a0b0c0d0e0f1011121314";

void FakeClock::sleepMs(std::uint32_t ms) {
  fileTime_ += static_cast<std::uint64_t>(ms) * 10000ull;
  slept_ += ms;
}

TempDir::TempDir() {
  std::random_device rd;
  const auto base = std::filesystem::temp_directory_path();
  for (;;) {
    const auto candidate = base / ("kvbizcore-" + std::to_string(rd()));
    std::error_code ec;
    if (std::filesystem::create_directory(candidate, ec)) {
      path_ = candidate.generic_string();
      break;
    }
  }
#ifndef _WIN32
  static const std::string root = [this] {
    const std::string dir = path_ + "-root";
    std::filesystem::create_directories(dir);
    ::setenv("KORVATH_ROOT", dir.c_str(), 1);
    return dir;
  }();
  (void)root;
#endif
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void fillSimConfig(Korvath::Config& config, const std::string& configPath) {
  config.setRegion("localhost");
  config.setEnvironment("prod");
  config.setAccountId(kAccountId);
  config.setResourceId(kResourceId);
  Korvath::ServerConfig server = config.getServerConfig();
  server.setIntegrationKey(kIntegrationKey);
  config.setServerConfig(server);
  config.setFilePath(configPath);
}

Korvath::Model::UserConfig makeUser(const std::string& login, bool push, bool qrcode, bool otp,
                                    const std::string& email) {
  Korvath::Model::UserConfig user;
  user.setUserLogin(login);
  user.setEmail(email);
  user.setAuthTypes({{"push", push}, {"qrcode", qrcode}, {"otp", otp}});
  return user;
}

std::string makeSecretBlob(std::uint8_t model, const std::string& secretHex, bool active, std::uint64_t counter) {
  AuthenticationSdk::Blob::Definition definition;
  definition.model = model;
  EXPECT_TRUE(Commons::Hex::decode(secretHex, definition.secret));
  definition.counter = counter;
  definition.active = active;
  std::string blob;
  EXPECT_EQ(0, AuthenticationSdk::Blob::create(definition, kAccountId, kIntegrationKey, blob));
  return blob;
}

std::string hotp(const std::string& secretHex, std::uint64_t counter) {
  CryptoSdk::Bytes secret;
  Commons::Hex::decode(secretHex, secret);
  std::string code;
  AuthenticationSdk::Hotp::generate(secret, counter, 6, CryptoSdk::HashAlgorithm::Sha1, code);
  return code;
}

Korvath::Model::AuthenticatorRecord authenticatorOf(std::uint8_t model, const std::string& secretHex,
                                                    std::uint32_t deviceId, bool active) {
  Korvath::Model::AuthenticatorRecord record;
  EXPECT_EQ(0, record.setModel(model));
  EXPECT_EQ(0, record.setSerialNumber("SN-" + std::to_string(deviceId) + "-" + std::to_string(model)));
  EXPECT_EQ(0, record.setBlob(makeSecretBlob(model, secretHex, active)));
  record.setDeviceId(deviceId);
  return record;
}

Korvath::Model::UserConfig userWith(const std::string& login, const std::string& email,
                                    const std::vector<Korvath::Model::AuthenticatorRecord>& authenticators) {
  Korvath::Model::UserConfig user = makeUser(login, true, true, true, email);
  EXPECT_EQ(0, user.setAuthenticators(authenticators));
  return user;
}

std::string qrAnswer(const std::string& blob, const std::string& command) {
  std::string answer;
  EXPECT_EQ(0, AuthenticationSdk::Issuer::computeQrAnswer(blob, kAccountId, kIntegrationKey, command,
                                                          AuthenticationSdk::currentUnixTime(), answer));
  return answer;
}

std::string adminCode(const std::string& login, std::uint32_t hours, const std::string& challenge) {
  AuthenticationSdk::ChallengeData data;
  data.setType(0);
  data.setAccountId(kAccountId);
  data.setUserLogin(login);
  data.setTime(hours);
  data.setChallenge(challenge);
  std::string code;
  EXPECT_EQ(0, AuthenticationSdk::Issuer::computeForgotTokenCode(data.toJson(), kAccountId, kIntegrationKey, code));
  return code;
}

std::uint16_t readBack(const std::string& path, Korvath::KvCrypto& crypto, Korvath::Config& out) {
  out.setKvCrypto(&crypto);
  return out.readFile(path);
}

void BizState::attach() {
  Korvath::Platform::setClock(&clock_);
  configPath_ = dir_.file("kvconfig.cfg");
  fillSimConfig(config_, configPath_);
  business_ = Korvath::Business::KvBusiness(&config_, &crypto_, "10.1.2.3");
}

void BizState::detach() { Korvath::Platform::setClock(nullptr); }

void BizState::store(const std::vector<Korvath::Model::UserConfig>& users) {
  ASSERT_EQ(0, config_.setUsersConfig(users));
}

Korvath::Model::UserConfig BizState::stored(const std::string& login) {
  const int index = config_.getUserIndex(login);
  EXPECT_GE(index, 0) << login;
  return index < 0 ? Korvath::Model::UserConfig() : config_.getUsersConfig().at(static_cast<std::size_t>(index));
}

Korvath::Config BizState::readBackConfig() {
  Korvath::Config back;
  EXPECT_EQ(0, readBack(configPath_, crypto_, back));
  return back;
}

bool BizState::fileExists() const { return std::filesystem::exists(configPath_); }

void setServerFlags(Korvath::Config& config, std::uint8_t offline, std::uint8_t rememberPassword,
                    std::uint8_t forgotAuthenticator) {
  Korvath::ServerConfig server = config.getServerConfig();
  server.setOffline(offline);
  server.setEnableRememberPassword(rememberPassword);
  server.setEnableForgotAuthenticator(forgotAuthenticator);
  ASSERT_EQ(0, config.setServerConfig(server));
}

void BizState::setIntegrationKey(const std::string& key) {
  Korvath::ServerConfig server = config_.getServerConfig();
  ASSERT_EQ(0, server.setIntegrationKey(key));
  ASSERT_EQ(0, config_.setServerConfig(server));
}

}  // namespace BizCoreTest
