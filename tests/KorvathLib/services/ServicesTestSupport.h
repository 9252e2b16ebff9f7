#pragma once

// Support of the services tests: the agent's files at their default places (cleared before and
// after each test), a clock that moves only when told, an in-memory agent registry, deployment
// values pointing the cloud client at a closed port or at the simulator of the test's CTest
// fixture, a dialog's service over the test's own configuration file, users with mobile
// authenticators of the simulator's default account, and the codes their tokens, their app and
// an administrator's console compute.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BizCoreTestSupport.h"
#include "CloudTestSupport.h"
#include "Korvath/Config.h"
#include "Korvath/KvCrypto.h"
#include "Korvath/Model/User.h"
#include "Korvath/Service/KvService.h"
#include "Korvath/Service/ServiceMessages.h"

namespace ServicesTest {

// FILETIME of one hour.
constexpr std::uint64_t kHour = 36000000000ull;
// Text a test leaves in a response to show that an operation did not write it.
constexpr const char* kUntouched = "untouched";

class ServiceTestBase : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Deployment values pointing at 127.0.0.1:port ("localhost" region, no prefixes).
  void pointAt(std::uint16_t port);
  // Writes the configuration file at its default place: the simulator's account (region
  // "localhost", "prod"), resource `resourceId`, the given users; lastSync and lastRun now.
  void writeConfigFile(const std::vector<Korvath::Model::UserConfig>& users, std::int32_t resourceId = 4242,
                       const std::string& masterPassword = "sim-master-password-0001",
                       std::uint8_t allowUnknownUsers = 0, std::uint64_t syncIntervalHours = 24);
  // Writes the install configuration of the simulator's account at its default place.
  void writeInstallConfig();
  // The configuration file at its default place as it is on disk now.
  Korvath::Config readConfigFile();
  // A started service over the file at its default place; fails the test unless start-up gives 0.
  void start(Korvath::Service::KvService& service);

  // The dialog's service_ (no start-up) holding `users`, saving to configPath_ (removed), with offline
  // authentication, remember-password and forgot-token mode on and lastSync now.
  void serve(const std::vector<Korvath::Model::UserConfig>& users);
  void setServerFlags(std::uint8_t offline, std::uint8_t enableRememberPassword, std::uint8_t enableForgotAuthenticator) {
    BizCoreTest::setServerFlags(service_.getConfig(), offline, enableRememberPassword, enableForgotAuthenticator);
  }
  // The user as configPath_ now holds it (empty login when the file or the user is missing).
  Korvath::Model::UserConfig saved(const std::string& login);
  bool configWritten() { return std::filesystem::exists(std::filesystem::u8path(configPath_)); }
  // A command made on this machine for `login` (the dialog offline), as the panel shows it.
  Korvath::Service::ServiceResponseAuthQRCode offlineCommand(const std::string& login);

  BizCoreTest::TempDir dir_;
  BizCoreTest::FakeClock clock_;
  CloudTest::MapRegistry registry_;
  Korvath::KvCrypto crypto_;
  Korvath::Service::KvService service_;
  std::string configPath_;
  // What a service answers the dialog.
  std::uint16_t type_ = 0;
  std::string response_ = kUntouched;
};

// The same against the simulator of the test's CTest fixture (reset before each test).
class ServiceSimTestBase : public ServiceTestBase {
 protected:
  void SetUp() override;
  void reply(const std::string& route, int status, const std::string& json, unsigned count = 1);
  void fault(const std::string& json);
  // Recorded requests whose path ends with `part` ("/config", "/policy/offline"...), in order.
  std::vector<CloudTest::Recorded> recorded(const std::string& part = std::string());

  std::uint16_t port_ = 0;
  std::unique_ptr<CloudTest::SimControl> sim_;
};

// A stored user (e-mail <login>@corp.example, policy allowing) with factors and authenticators.
Korvath::Model::UserConfig user(const std::string& login, bool push, bool qrcode, bool otp,
                                const std::string& lastAuthType = std::string(),
                                const std::vector<Korvath::Model::AuthenticatorRecord>& authenticators = {});
// A mobile authenticator (model 10) of the default account holding the simulator's alice's
// secret (the RFC 4226 test secret), and the HOTP code of that secret at `counter`.
inline Korvath::Model::AuthenticatorRecord mobile(std::uint32_t deviceId, bool active = true) {
  return BizCoreTest::authenticatorOf(10, BizCoreTest::kAliceSecretHex, deviceId, active);
}
inline std::string otpCode(std::uint64_t counter) { return BizCoreTest::hotp(BizCoreTest::kAliceSecretHex, counter); }
// What the mobile authenticator holding `blob` answers to `command` now; the verification code
// an administrator reads out for a stored login, hours and challenge.
inline std::string answerFor(const std::string& blob, const std::string& command) {
  return BizCoreTest::qrAnswer(blob, command);
}
using BizCoreTest::adminCode;

// The names of the factors that are on, in the map's order, separated by blanks.
std::string enabledFactors(const Korvath::Model::AuthFactorMap& factors);
// A six-digit code other than `right`.
std::string wrongCode(const std::string& right);

Korvath::Service::ServiceRequestBase baseRequest(const std::string& login);
Korvath::Service::ServiceRequestAuthOTP otpRequest(const std::string& login, const std::string& code);
Korvath::Service::ServiceRequestAuthQRCode qrRequest(const std::string& login, const std::string& code,
                                                     const Korvath::Service::ServiceResponseAuthQRCode& shown,
                                                     bool onLine);
Korvath::Service::ServiceRequestActiveForgotAuthenticator activationRequest(const std::string& login,
                                                                            std::uint32_t hours,
                                                                            const std::string& challenge,
                                                                            const std::string& code);

// A response text read as the message `Message`; fails the test when it is not one.
template <typename Message>
Message parsed(const std::string& json) {
  Message message;
  EXPECT_EQ(0, message.fillFromJson(json)) << json;
  return message;
}

}  // namespace ServicesTest
