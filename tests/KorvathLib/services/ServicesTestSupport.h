#pragma once

// Support of the services tests: the agent's files at their default places (cleared before and
// after each test), a clock that moves only when told, an in-memory agent registry, deployment
// values pointing the cloud client at a closed port or at the simulator of the test's CTest
// fixture, a dialog's service over the test's own configuration file, users with mobile
// authenticators of the simulator's default account, and the codes their tokens, their app and
// an administrator's console compute.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "AuthenticationSdk/OfflineAuthentication.h"
#include "BizCoreTestSupport.h"
#include "CloudTestSupport.h"
#include "Korvath/Config.h"
#include "Korvath/InstallConfig.h"
#include "Korvath/KvCrypto.h"
#include "Korvath/Model/User.h"
#include "Korvath/Platform.h"
#include "Korvath/RequestId.h"
#include "Korvath/Service/KvService.h"
#include "Korvath/Service/KvServiceQRCode.h"
#include "Korvath/Service/ServiceMessages.h"

namespace ServicesTest {

// FILETIME of one hour.
constexpr std::uint64_t kHour = 36000000000ull;
// Text a test leaves in a response to show that an operation did not write it.
constexpr const char* kUntouched = "untouched";

// A stored user (e-mail <login>@corp.example, policy allowing) with factors and authenticators.
inline Korvath::Model::UserConfig user(const std::string& login, bool push, bool qrcode, bool otp,
                                       const std::string& lastAuthType = std::string(),
                                       const std::vector<Korvath::Model::AuthenticatorRecord>& authenticators = {}) {
  Korvath::Model::UserConfig u = BizCoreTest::makeUser(login, push, qrcode, otp, login + "@corp.example");
  u.setLastAuthType(lastAuthType);
  u.setHasPolicy(true);
  u.setPolicyAllowsAuthentication(true);
  EXPECT_EQ(0, u.setAuthenticators(authenticators));
  return u;
}
// A mobile authenticator (model 10) of the default account holding the simulator's alice's
// secret (the RFC 4226 test secret), and the HOTP code of that secret at `counter`.
inline Korvath::Model::AuthenticatorRecord mobile(std::uint32_t deviceId, bool active = true) {
  return BizCoreTest::authenticatorOf(10, BizCoreTest::kAliceSecretHex, deviceId, active);
}
inline std::string otpCode(std::uint64_t counter) { return BizCoreTest::hotp(BizCoreTest::kAliceSecretHex, counter); }
// What the mobile authenticator holding `blob` answers to `command` now; the verification code
// an administrator reads out for a stored login, hours and challenge.
inline constexpr auto answerFor = BizCoreTest::qrAnswer;
using BizCoreTest::adminCode;
using BizCoreTest::parsed;

// The names of the factors that are on, in the map's order, separated by blanks.
inline std::string enabledFactors(const Korvath::Model::AuthFactorMap& factors) {
  std::string names;
  for (const auto& [factor, on] : factors) names += on ? (names.empty() ? "" : " ") + factor : "";
  return names;
}
// A six-digit code other than `right`.
inline std::string wrongCode(const std::string& right) { return right == "000000" ? "111111" : "000000"; }

// A request of the dialog (of any kind) for `login`, and those of the factors' checks.
template <typename Request = Korvath::Service::ServiceRequestBase>
Request baseRequest(const std::string& login) {
  Request request;
  EXPECT_EQ(0, request.setUserLogin(login));
  return request;
}
inline Korvath::Service::ServiceRequestAuthOTP otpRequest(const std::string& login, const std::string& code) {
  auto request = baseRequest<Korvath::Service::ServiceRequestAuthOTP>(login);
  request.setAuthData(code);
  return request;
}
inline Korvath::Service::ServiceRequestAuthQRCode qrRequest(const std::string& login, const std::string& code,
                                                            const Korvath::Service::ServiceResponseAuthQRCode& shown,
                                                            bool onLine) {
  auto request = baseRequest<Korvath::Service::ServiceRequestAuthQRCode>(login);
  request.setAuthData(code);
  request.setCommand(shown.getCommand());
  EXPECT_EQ(0, request.setTransactionId(shown.getTransactionId()));
  EXPECT_EQ(0, request.setTransactionData(shown.getTransactionData()));
  request.setOnLine(onLine);
  return request;
}
inline Korvath::Service::ServiceRequestActiveForgotAuthenticator activationRequest(const std::string& login,
                                                                                   std::uint32_t hours,
                                                                                   const std::string& challenge,
                                                                                   const std::string& code) {
  auto request = baseRequest<Korvath::Service::ServiceRequestActiveForgotAuthenticator>(login);
  request.setTime(hours);
  request.setChallenge(challenge);
  request.setAuthData(code);
  return request;
}

// Puts the SDK's offline checks on the test's clock for its lifetime (they read the system
// clock otherwise), then gives them the system clock back.
class SdkOnClock {
 public:
  explicit SdkOnClock(BizCoreTest::FakeClock& clock) {
    AuthenticationSdk::setUnixTimeSource([&clock] { return clock.nowUnixMs() / 1000; });
  }
  ~SdkOnClock() { AuthenticationSdk::setUnixTimeSource(nullptr); }
  SdkOnClock(const SdkOnClock&) = delete;
  SdkOnClock& operator=(const SdkOnClock&) = delete;
};

// The messages of the agent's sealed log at `path`, each opened with this machine's log key;
// fails the test on a record that does not open.
std::vector<std::string> openedLogMessages(const std::string& path);

// What every services test works on, whether the cloud is reachable or not.
class ServiceState {
 protected:
  // Installs the clock and clears the agent's files; detach() clears them again.
  void attach() {
    Korvath::Platform::setClock(&clock_);
    removeAgentFiles();
    configPath_ = dir_.file("kvconfig.cfg");
  }
  void detach() {
    removeAgentFiles();
    Korvath::Platform::setClock(nullptr);
  }
  static void removeAgentFiles() {
    for (const std::string& path : {Korvath::Platform::configFilePath(), Korvath::Platform::configBackupFilePath(),
                                    Korvath::Platform::installConfigFilePath()})
      if (!path.empty()) std::remove(path.c_str());
  }
  // Writes the configuration file at its default place: the simulator's account (region
  // "localhost", "prod"), resource `resourceId`, the given users; lastSync and lastRun now.
  void writeConfigFile(const std::vector<Korvath::Model::UserConfig>& users, std::int32_t resourceId = 4242,
                       const std::string& masterPassword = "sim-master-password-0001",
                       std::uint8_t allowUnknownUsers = 0, std::uint64_t syncIntervalHours = 24) {
    Korvath::KvCrypto crypto;
    Korvath::Config config(&crypto);
    BizCoreTest::fillSimConfig(config, Korvath::Platform::configFilePath());
    config.setResourceId(resourceId);
    config.setAccountAlias("Simulated Account");
    config.setResourceAlias("Simulated Desktop");
    config.setMasterPassword(masterPassword);
    config.setLastSync(clock_.nowFileTime());
    config.setLastRun(clock_.nowFileTime());
    Korvath::ServerConfig server = config.getServerConfig();
    server.setAllowUnknownUsers(allowUnknownUsers);
    server.setSyncInterval(syncIntervalHours);
    ASSERT_EQ(0, config.setServerConfig(server));
    ASSERT_EQ(0, config.setUsersConfig(users));
    ASSERT_EQ(0, config.writeFile());
  }
  // Turns offline authentication, remember-password and forgot-token mode on in the
  // configuration file at its default place.
  void allowOfflineAndForgotToken() {
    Korvath::KvCrypto crypto;
    Korvath::Config config(&crypto);
    ASSERT_EQ(0, BizCoreTest::readBack(Korvath::Platform::configFilePath(), crypto, config));
    BizCoreTest::setServerFlags(config, 1, 1, 1);
    ASSERT_EQ(0, config.writeFile());
  }
  // Writes the install configuration of the simulator's account at its default place.
  void writeInstallConfig() {
    Korvath::KvCrypto crypto;
    Korvath::InstallConfig install(&crypto);
    ASSERT_EQ(0, install.setRegion("localhost"));
    ASSERT_EQ(0, install.setEnvironment("prod"));
    install.setAccountId(BizCoreTest::kAccountId);
    install.setResourceId(static_cast<std::uint32_t>(BizCoreTest::kResourceId));
    ASSERT_EQ(0, install.setIntegrationKey(BizCoreTest::kIntegrationKey));
    ASSERT_EQ(0, install.writeFile());
  }
  // The configuration file at its default place as it is on disk now.
  Korvath::Config readConfigFile() {
    Korvath::Config back;
    EXPECT_EQ(0, BizCoreTest::readBack(Korvath::Platform::configFilePath(), crypto_, back));
    return back;
  }
  // A started service over the file at its default place; fails the test unless start-up gives 0.
  void start(Korvath::Service::KvService& service) {
    std::uint16_t type = 0;
    std::string response;
    ASSERT_EQ(0, service.initialize(type, response).getResultCode());
  }

  // The dialog's service_ (no start-up) holding `users`, saving to configPath_ (removed), with offline
  // authentication, remember-password and forgot-token mode on and lastSync now.
  void serve(const std::vector<Korvath::Model::UserConfig>& users) {
    for (const std::string& path : {configPath_, Korvath::Config::backupPathFor(configPath_)})
      std::remove(path.c_str());
    Korvath::Config& config = service_.getConfig();
    BizCoreTest::fillSimConfig(config, configPath_);
    ASSERT_EQ(0, config.setUsersConfig(users));
    config.setLastSync(clock_.nowFileTime());
    service_.getKvBusiness() = Korvath::Business::KvBusiness(&config, &service_.getKvCrypto());
    setServerFlags(1, 1, 1);
  }
  void setServerFlags(std::uint8_t offline, std::uint8_t enableRememberPassword,
                      std::uint8_t enableForgotAuthenticator) {
    BizCoreTest::setServerFlags(service_.getConfig(), offline, enableRememberPassword, enableForgotAuthenticator);
  }
  // The user as configPath_ now holds it (empty login when the file or the user is missing).
  Korvath::Model::UserConfig saved(const std::string& login) {
    Korvath::KvCrypto crypto;
    Korvath::Config back;
    if (BizCoreTest::readBack(configPath_, crypto, back) != 0) return Korvath::Model::UserConfig();
    const int index = back.getUserIndex(login);
    return index < 0 ? Korvath::Model::UserConfig() : back.getUsersConfig().at(static_cast<std::size_t>(index));
  }
  bool configWritten() { return std::filesystem::exists(std::filesystem::u8path(configPath_)); }
  // A command made on this machine for `login` (the dialog offline), as the panel shows it.
  Korvath::Service::ServiceResponseAuthQRCode offlineCommand(const std::string& login) {
    const std::atomic<bool> offline{false};
    EXPECT_EQ(0, Korvath::Service::KvServiceQRCode(&service_, &offline)
                     .genCmdQRCode(baseRequest(login), type_, response_)
                     .getResultCode());
    EXPECT_EQ(4, type_);
    return parsed<Korvath::Service::ServiceResponseAuthQRCode>(response_);
  }

  BizCoreTest::TempDir dir_;
  BizCoreTest::FakeClock clock_;
  Korvath::KvCrypto crypto_;
  Korvath::Service::KvService service_;
  std::string configPath_;
  // What a service answers the dialog.
  std::uint16_t type_ = 0;
  std::string response_ = kUntouched;
};

// Without a reachable service: the deployment values point at a closed loopback port.
class ServiceTestBase : public ::testing::Test, protected ServiceState {
 protected:
  void SetUp() override {
    BizCoreTest::pointAtClosedPort(registry_);
    Korvath::clearRequestId();
    attach();
  }
  void TearDown() override {
    detach();
    Korvath::Platform::setAgentRegistry(nullptr);
  }

  CloudTest::MapRegistry registry_;
};

// The same against the simulator of the test's CTest fixture (reset before each test).
class ServiceSimTestBase : public CloudTest::SimTest, protected ServiceState {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    attach();
  }
  void TearDown() override {
    detach();
    SimTest::TearDown();
  }
  // Deployment values pointing at 127.0.0.1:port, the agent's other values (its digest) kept.
  void pointAt(std::uint16_t port) {
    for (const char* name : {"DesktopLogonHostPrefix", "PolicyHostPrefix", "DomainSuffix"}) registry_.values[name] = "";
    registry_.values["Port"] = std::to_string(port);
  }
  // A reply for the next `count` requests to `route`.
  void reply(const std::string& route, int status, const std::string& json, unsigned count = 1) {
    SimTest::reply(route, status, json, count);
  }
  // Recorded requests whose path ends with `part` ("/config", "/policy/offline"...), in order.
  std::vector<CloudTest::Recorded> recorded(const std::string& part = std::string()) {
    return part.empty() ? SimTest::recorded() : recordedTo(part.substr(1));
  }
};

}  // namespace ServicesTest
