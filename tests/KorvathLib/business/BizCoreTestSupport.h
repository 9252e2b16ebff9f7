#pragma once

// Support of the business tests (the services tests use it too): a clock that moves only when
// told, a temporary root with the configuration file of one test, a configuration of the
// simulator's default account, blobs and codes of test authenticators of that account, and
// the state every business test works on.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "AuthenticationSdk/AuthenticatorBlob.h"
#include "AuthenticationSdk/ChallengeData.h"
#include "AuthenticationSdk/Hotp.h"
#include "AuthenticationSdk/OfflineAuthentication.h"
#include "CloudTestSupport.h"
#include "Commons/Encoding.h"
#include "Korvath/Business/KvBusiness.h"
#include "Korvath/Business/KvBusinessForgotAuthenticator.h"
#include "Korvath/Business/KvBusinessOTP.h"
#include "Korvath/Business/KvBusinessPush.h"
#include "Korvath/Business/KvBusinessQRCode.h"
#include "Korvath/Config.h"
#include "Korvath/KvCrypto.h"
#include "Korvath/Model/CloudRecords.h"
#include "Korvath/Platform.h"

namespace BizCoreTest {

using CloudTest::kAccountId;
using CloudTest::kIntegrationKey;
inline constexpr std::int32_t kResourceId = 4242;
// Secrets of the default fixture's tokens: alice's (RFC 4226's test secret) and bob's.
inline constexpr const char* kAliceSecretHex = "3132333435363738393031323334353637383930";
inline constexpr const char* kBobSecretHex = "0102030405060708090a0b0c0d0e0f1011121314";

// 2025-10-09 09:33:20 UTC as a FILETIME; tests move it with set(), and a sleep advances it.
class FakeClock : public Korvath::Platform::IClock {
 public:
  static constexpr std::uint64_t kStart = 134044736000000000ull;
  std::uint64_t nowFileTime() override { return fileTime_.load(); }
  std::int64_t nowUnixMs() override {
    return static_cast<std::int64_t>(fileTime_.load() / 10000ull) - 11644473600000LL;
  }
  std::int64_t monotonicMs() override { return static_cast<std::int64_t>(fileTime_.load() / 10000ull); }
  void sleepMs(std::uint32_t ms) override {
    fileTime_ += static_cast<std::uint64_t>(ms) * 10000ull;
    slept_ += ms;
  }
  void set(std::uint64_t fileTime) { fileTime_ = fileTime; }
  std::int64_t sleptMs() const { return slept_.load(); }

 private:
  std::atomic<std::uint64_t> fileTime_{kStart};
  std::atomic<std::int64_t> slept_{0};
};

// A temporary directory that is removed again; natively the process's KORVATH_ROOT points at
// the first one made (machine key and locks), since the platform layer reads it once.
class TempDir {
 public:
  TempDir() {
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
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Region "localhost", environment "prod", the default account's identifiers and integration
// key, the file at `configPath` (not written).
inline void fillSimConfig(Korvath::Config& config, const std::string& configPath) {
  config.setRegion("localhost");
  config.setEnvironment("prod");
  config.setAccountId(kAccountId);
  config.setResourceId(kResourceId);
  Korvath::ServerConfig server = config.getServerConfig();
  server.setIntegrationKey(kIntegrationKey);
  config.setServerConfig(server);
  config.setFilePath(configPath);
}

// A user record with the given factors; no authenticators.
inline Korvath::Model::UserConfig makeUser(const std::string& login, bool push, bool qrcode, bool otp,
                                           const std::string& email = std::string()) {
  Korvath::Model::UserConfig user;
  user.setUserLogin(login);
  user.setEmail(email);
  user.setAuthTypes({{"push", push}, {"qrcode", qrcode}, {"otp", otp}});
  return user;
}
// A blob of the default account for a secret given in hex (model 10 mobile, 11-13 OATH token),
// the code such a token shows at `counter`, and a record of such a blob with a device id.
inline std::string makeSecretBlob(std::uint8_t model, const std::string& secretHex, bool active = true,
                                  std::uint64_t counter = 0) {
  AuthenticationSdk::Blob::Definition definition;
  definition.model = model;
  EXPECT_TRUE(Commons::Hex::decode(secretHex, definition.secret));
  definition.counter = counter;
  definition.active = active;
  std::string blob;
  EXPECT_EQ(0, AuthenticationSdk::Blob::create(definition, kAccountId, kIntegrationKey, blob));
  return blob;
}
inline std::string hotp(const std::string& secretHex, std::uint64_t counter) {
  CryptoSdk::Bytes secret;
  Commons::Hex::decode(secretHex, secret);
  std::string code;
  AuthenticationSdk::Hotp::generate(secret, counter, 6, CryptoSdk::HashAlgorithm::Sha1, code);
  return code;
}
inline Korvath::Model::AuthenticatorRecord authenticatorOf(std::uint8_t model, const std::string& secretHex,
                                                           std::uint32_t deviceId, bool active = true) {
  Korvath::Model::AuthenticatorRecord record;
  EXPECT_EQ(0, record.setModel(model));
  EXPECT_EQ(0, record.setSerialNumber("SN-" + std::to_string(deviceId) + "-" + std::to_string(model)));
  EXPECT_EQ(0, record.setBlob(makeSecretBlob(model, secretHex, active)));
  record.setDeviceId(deviceId);
  return record;
}
// A user with every factor on and the given authenticators.
inline Korvath::Model::UserConfig userWith(const std::string& login, const std::string& email,
                                           const std::vector<Korvath::Model::AuthenticatorRecord>& authenticators) {
  Korvath::Model::UserConfig user = makeUser(login, true, true, true, email);
  EXPECT_EQ(0, user.setAuthenticators(authenticators));
  return user;
}

// What the mobile authenticator holding `blob` answers to `command` now, and the code an
// administrator reads out for that stored login, hours and challenge.
inline std::string qrAnswer(const std::string& blob, const std::string& command) {
  std::string answer;
  EXPECT_EQ(0, AuthenticationSdk::Issuer::computeQrAnswer(blob, kAccountId, kIntegrationKey, command,
                                                          AuthenticationSdk::currentUnixTime(), answer));
  return answer;
}
inline std::string adminCode(const std::string& login, std::uint32_t hours, const std::string& challenge) {
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

// The server switches of `config`: offline checks allowed, remember password, forgot authenticator.
inline void setServerFlags(Korvath::Config& config, std::uint8_t offline, std::uint8_t rememberPassword,
                           std::uint8_t forgotAuthenticator) {
  Korvath::ServerConfig server = config.getServerConfig();
  server.setOffline(offline);
  server.setEnableRememberPassword(rememberPassword);
  server.setEnableForgotAuthenticator(forgotAuthenticator);
  ASSERT_EQ(0, config.setServerConfig(server));
}

// A JSON text read as the record `Record`; fails the test when it is not one.
template <typename Record>
Record parsed(const std::string& json) {
  Record record;
  EXPECT_EQ(0, record.fillFromJson(json)) << json;
  return record;
}

// The userLogins of each configuration request among `records`, in order.
inline std::vector<std::vector<std::string>> configLogins(const std::vector<CloudTest::Recorded>& records) {
  std::vector<std::vector<std::string>> all;
  for (const CloudTest::Recorded& r : records)
    all.push_back(parsed<Korvath::Model::RequestConfig>(r.opened).getUserLogins());
  return all;
}

// Reads the configuration file at `path` into a fresh configuration; its code.
inline std::uint16_t readBack(const std::string& path, Korvath::KvCrypto& crypto, Korvath::Config& out) {
  out.setKvCrypto(&crypto);
  return out.readFile(path);
}

// What a business test works on: the clock, a configuration of the default account in a file
// of its own (not written until something saves) and the business object bound to both.
class BizState {
 protected:
  // Installs the clock and binds the business object; the agent registry is the caller's.
  void attach() {
    Korvath::Platform::setClock(&clock_);
    configPath_ = dir_.file("kvconfig.cfg");
    fillSimConfig(config_, configPath_);
    fresh_.setFilePath(configPath_);
    business_ = Korvath::Business::KvBusiness(&config_, &crypto_, "10.1.2.3");
  }
  void detach() { Korvath::Platform::setClock(nullptr); }
  void store(const std::vector<Korvath::Model::UserConfig>& users) { ASSERT_EQ(0, config_.setUsersConfig(users)); }
  Korvath::Model::UserConfig stored(const std::string& login) {
    const int index = config_.getUserIndex(login);
    EXPECT_GE(index, 0) << login;
    return index < 0 ? Korvath::Model::UserConfig() : config_.getUsersConfig().at(static_cast<std::size_t>(index));
  }
  Korvath::Config readBackConfig() {
    Korvath::Config back;
    EXPECT_EQ(0, readBack(configPath_, crypto_, back));
    return back;
  }
  bool fileExists() const { return std::filesystem::exists(configPath_); }
  void setServerFlags(std::uint8_t offline, std::uint8_t rememberPassword, std::uint8_t forgotAuthenticator) {
    BizCoreTest::setServerFlags(config_, offline, rememberPassword, forgotAuthenticator);
  }
  void setIntegrationKey(const std::string& key) {
    Korvath::ServerConfig server = config_.getServerConfig();
    ASSERT_EQ(0, server.setIntegrationKey(key));
    ASSERT_EQ(0, config_.setServerConfig(server));
  }

  FakeClock clock_;
  TempDir dir_;
  std::string configPath_;
  Korvath::KvCrypto crypto_;
  Korvath::Config config_{&crypto_};
  Korvath::Business::KvBusiness business_;
  // The factors' business objects over the same state.
  Korvath::Business::KvBusinessOTP otp_{&config_, &crypto_, &business_};
  Korvath::Business::KvBusinessPush push_{&config_, &crypto_, &business_};
  Korvath::Business::KvBusinessQRCode qr_{&config_, &crypto_, &business_};
  Korvath::Business::KvBusinessForgotAuthenticator forgot_{&config_, &crypto_, &business_};
  // A configuration not registered yet, saving to the same file, and a business object bound to it.
  Korvath::Config fresh_{&crypto_};
  Korvath::Business::KvBusiness registering_{&fresh_, &crypto_};
};

// The agent's deployment values for a service that cannot be reached: a closed loopback port.
inline void pointAtClosedPort(CloudTest::MapRegistry& registry) {
  registry.values = {{"DesktopLogonHostPrefix", ""}, {"PolicyHostPrefix", ""}, {"DomainSuffix", ""},
                     {"Port", std::to_string(CloudTest::closedPort())}};
  Korvath::Platform::setAgentRegistry(&registry);
}

}  // namespace BizCoreTest
