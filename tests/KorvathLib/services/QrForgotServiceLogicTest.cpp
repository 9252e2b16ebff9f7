// The QR-code and forgot-token services where no answer of the cloud is needed (the
// deployment values point at a closed loopback port): offline commands and checks, the
// fall-back of command generation, the logon-disabled gate, the screen decision, offline
// activation and the sign-in in forgot-token mode.

#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <string>

#include "AuthenticationSdk/OfflineAuthentication.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/Service/KvServiceForgotAuthenticator.h"
#include "Korvath/Service/KvServiceQRCode.h"
#include "QrForgotServiceTestSupport.h"

using Korvath::Model::KvResult;
using Korvath::Model::UserConfig;
using Korvath::Service::KvService;
using Korvath::Service::KvServiceForgotAuthenticator;
using Korvath::Service::KvServiceQRCode;
using namespace Korvath::Service;
using namespace Korvath;
using namespace QrForgotServiceTest;
using ServicesTest::kHour;

namespace {

class QrForgotLogic : public ServicesTest::ServiceTestBase {
 protected:
  void makeService(const std::vector<UserConfig>& users) {
    service_.reset(new KvService());
    fillQrForgotService(*service_, configPath(), users);
  }
  std::string configPath() const { return dir_.file("kvconfig.cfg"); }
  std::uint64_t now() { return clock_.nowFileTime(); }

  // A command made on this machine for `login`, as the panel would show it.
  ServiceResponseAuthQRCode offlineCommand(const std::string& login) {
    KvServiceQRCode qr(service_.get(), &internet_);
    const KvResult result = qr.genCmdQRCode(baseRequest(login), responseType_, response_);
    EXPECT_EQ(0, result.getResultCode());
    EXPECT_EQ(4, responseType_);
    return qrResponse(response_);
  }

  std::unique_ptr<KvService> service_;
  std::atomic<bool> internet_{false};
  std::uint16_t responseType_ = 0;
  std::string response_ = kUntouched;
};

// ================================================================== QR code: commands

TEST_F(QrForgotLogic, OfflineCommandIsMadeFromTheStoredMobileAuthenticators) {
  makeService({qrUser("alice", true, true, true, {hardwareToken(), mobile(1001), mobile(1002, false)})});
  const ServiceResponseAuthQRCode shown = offlineCommand("alice");
  EXPECT_FALSE(shown.getOnLine());
  EXPECT_TRUE(shown.getTransactionId().empty());
  EXPECT_EQ("qrcode", shown.getLastAuthType());
  EXPECT_EQ("alice", shown.getTransactionData().getUser());
  AuthenticationSdk::QrCommand parsed;
  ASSERT_EQ(0, AuthenticationSdk::parseQrCommand(shown.getCommand(), parsed)) << shown.getCommand();
  EXPECT_EQ(shown.getTransactionData().toJson(), parsed.transactionJson);
  // Only the active mobile authenticator is offered to the app.
  EXPECT_EQ(std::vector<std::uint32_t>({1001}), parsed.deviceIds);
}

TEST_F(QrForgotLogic, EmptyLoginGivesTheBaseResponseWithTheDefaultFactors) {
  makeService({});
  for (bool online : {false, true}) {
    internet_ = online;
    response_ = kUntouched;
    KvServiceQRCode qr(service_.get(), &internet_);
    EXPECT_EQ(KV_ERROR_INVALID_USER_LOGIN_LENGTH,
              qr.genCmdQRCode(baseRequest(""), responseType_, response_).getResultCode());
    EXPECT_EQ(3, responseType_);
    const ServiceResponseBase reply = baseResponse(response_);
    EXPECT_EQ((Korvath::Model::AuthFactorMap{{"otp", true}, {"push", true}, {"qrcode", true}}), reply.getAuthTypes());
    EXPECT_EQ("qrcode", reply.getLastAuthType());
  }
}

TEST_F(QrForgotLogic, OfflineCommandForAUserWithoutQrCodeAnswersThePredominantFactorsType) {
  makeService(
      {qrUser("olive", false, false, true, {mobile(1001)}), qrUser("nobody", false, false, false, {mobile(1002)})});
  KvServiceQRCode qr(service_.get(), &internet_);
  EXPECT_EQ(KV_ERROR_UNAUTHORIZED_AUTHENTICATION_TYPE,
            qr.genCmdQRCode(baseRequest("olive"), responseType_, response_).getResultCode());
  EXPECT_EQ(2, responseType_);  // the OTP screen
  EXPECT_EQ(kUntouched, response_);
  EXPECT_EQ(KV_ERROR_UNAUTHORIZED_AUTHENTICATION_TYPE,
            qr.genCmdQRCode(baseRequest("nobody"), responseType_, response_).getResultCode());
  EXPECT_EQ(5, responseType_);  // "password": the push screen
  EXPECT_EQ(kUntouched, response_);
}

TEST_F(QrForgotLogic, UnreachableServiceFallsBackToOfflineGeneration) {
  makeService({qrUser("alice", true, true, true, {mobile(1001)})});
  internet_ = true;
  KvServiceQRCode qr(service_.get(), &internet_);
  const KvResult result = qr.genCmdQRCode(baseRequest("alice"), responseType_, response_);
  EXPECT_EQ(0, result.getResultCode());
  EXPECT_EQ(4, responseType_);
  const ServiceResponseAuthQRCode shown = qrResponse(response_);
  EXPECT_FALSE(shown.getOnLine());
  EXPECT_FALSE(shown.getCommand().empty());
}

TEST_F(QrForgotLogic, FallBackForAUserWithoutQrCodeKeepsTheOnlineAttemptsText) {
  makeService({qrUser("olive", false, false, true, {mobile(1001)})});
  internet_ = true;
  KvServiceQRCode qr(service_.get(), &internet_);
  const KvResult result = qr.genCmdQRCode(baseRequest("olive"), responseType_, response_);
  EXPECT_EQ(KV_ERROR_UNAUTHORIZED_AUTHENTICATION_TYPE, result.getResultCode());
  EXPECT_EQ(2, responseType_);
  // The online generator asked the service regardless of the switch and answered the base
  // response; the offline generator wrote only the type.
  const ServiceResponseBase reply = baseResponse(response_);
  EXPECT_EQ("olive", reply.getUserLogin());
  EXPECT_EQ("qrcode", reply.getLastAuthType());
}

// ================================================================== QR code: checks

TEST_F(QrForgotLogic, DisabledAgentStopsTheCheckBeforeAnythingElse) {
  makeService({qrUser("alice", true, true, true, {mobile(1001)})});
  const ServiceResponseAuthQRCode shown = offlineCommand("alice");
  service_->getConfig().setLogonAppDisable(KV_ERROR_KV_RESOURCE_NOT_FOUND);
  KvServiceQRCode qr(service_.get());
  response_ = kUntouched;
  const std::string answer = answerFor(mobile(1001).getBlob(), shown.getCommand());
  const KvResult result = qr.checkQRCode(qrRequest("alice", answer, shown, false), responseType_, response_);
  EXPECT_EQ(KV_ERROR_KV_RESOURCE_NOT_FOUND, result.getResultCode());
  EXPECT_EQ(4, responseType_);
  EXPECT_EQ(kUntouched, response_);
  EXPECT_FALSE(fileExists(configPath()));
}

TEST_F(QrForgotLogic, OfflineCheckOfTheRightAnswerSavesTheUserAndAnswersStored) {
  UserConfig alice = qrUser("alice", true, true, true, {mobile(1001)}, "push");
  alice.setFallbackExpiration(now() + kHour);
  makeService({alice});
  const ServiceResponseAuthQRCode shown = offlineCommand("alice");
  const std::string answer = answerFor(mobile(1001).getBlob(), shown.getCommand());

  KvServiceQRCode qr(service_.get());
  // A wrong answer first, so that the authenticator holds a failed attempt.
  EXPECT_EQ(KV_ERROR_FAIL_SERVICE_AUTH_QRCODE_KORVATH,
            qr.checkQRCode(qrRequest("alice", "000000", shown, false), responseType_, response_).getResultCode());
  const std::string blobAfterFailure = savedUser(configPath(), "alice").getAuthenticators()[0].getBlob();

  const KvResult result = qr.checkQRCode(qrRequest("ALICE", answer, shown, false), responseType_, response_);
  EXPECT_EQ(0, result.getResultCode());
  EXPECT_EQ(10, responseType_);
  EXPECT_TRUE(response_.empty());
  const UserConfig saved = savedUser(configPath(), "alice");
  EXPECT_EQ("qrcode", saved.getLastAuthType());
  EXPECT_EQ(now(), saved.getLastAuthTime());
  EXPECT_EQ(0u, saved.getFallbackExpiration());
  // The success cleared the failed attempt, and that state was saved.
  EXPECT_NE(blobAfterFailure, saved.getAuthenticators()[0].getBlob());
}

TEST_F(QrForgotLogic, OfflineCheckOfAWrongAnswerAnswers5204AndTheCommandAgainAndSavesTheBlobs) {
  UserConfig alice = qrUser("alice", true, true, true, {mobile(1001)});
  alice.setFallbackExpiration(now() + kHour);
  makeService({alice});
  const std::string blobBefore = alice.getAuthenticators()[0].getBlob();
  const ServiceResponseAuthQRCode shown = offlineCommand("alice");

  KvServiceQRCode qr(service_.get());
  const KvResult result = qr.checkQRCode(qrRequest("alice", "000000", shown, false), responseType_, response_);
  EXPECT_EQ(KV_ERROR_FAIL_SERVICE_AUTH_QRCODE_KORVATH, result.getResultCode());
  EXPECT_EQ(4, responseType_);
  const ServiceResponseAuthQRCode again = qrResponse(response_);
  EXPECT_EQ(shown.getCommand(), again.getCommand());
  EXPECT_EQ(shown.getTransactionData().toJson(), again.getTransactionData().toJson());
  EXPECT_FALSE(again.getOnLine());
  const UserConfig saved = savedUser(configPath(), "alice");
  EXPECT_NE(blobBefore, saved.getAuthenticators()[0].getBlob());  // the failed attempt is counted
  EXPECT_EQ(now() + kHour, saved.getFallbackExpiration());        // not reset by a refusal
}

TEST_F(QrForgotLogic, OfflineCheckForUnknownOrEmptyLoginAnswers5013WithTheBaseResponse) {
  makeService({qrUser("alice", true, true, true, {mobile(1001)})});
  const ServiceResponseAuthQRCode shown = offlineCommand("alice");
  KvServiceQRCode qr(service_.get());
  for (const std::string login : {"mallory", ""}) {
    response_ = kUntouched;
    EXPECT_EQ(KV_ERROR_INVALID_USER_LOGIN_LENGTH,
              qr.checkQRCode(qrRequest(login, "123456", shown, false), responseType_, response_).getResultCode());
    EXPECT_EQ(3, responseType_);
    EXPECT_EQ(login, baseResponse(response_).getUserLogin());
  }
  EXPECT_FALSE(fileExists(configPath()));
}

TEST_F(QrForgotLogic, OfflineCheckForAUserWithoutQrCodeIsRefusedWithoutSaving) {
  makeService({qrUser("alice", true, true, true, {mobile(1001)}), qrUser("olive", false, false, true, {mobile(1002)})});
  const ServiceResponseAuthQRCode shown = offlineCommand("alice");
  KvServiceQRCode qr(service_.get());
  response_ = kUntouched;
  EXPECT_EQ(KV_ERROR_UNAUTHORIZED_AUTHENTICATION_TYPE,
            qr.checkQRCode(qrRequest("olive", "123456", shown, false), responseType_, response_).getResultCode());
  EXPECT_EQ(2, responseType_);
  EXPECT_EQ(kUntouched, response_);
  EXPECT_FALSE(fileExists(configPath()));
}

TEST_F(QrForgotLogic, RightAnswerWhoseRecordCannotBeSavedFailsWithTheSavesCode) {
  makeService({qrUser("alice", true, true, true, {mobile(1001)})});
  service_->getConfig().setFilePath(dir_.file("missing/dir/kvconfig.cfg"));
  const ServiceResponseAuthQRCode shown = offlineCommand("alice");
  KvServiceQRCode qr(service_.get());
  const std::string answer = answerFor(mobile(1001).getBlob(), shown.getCommand());
  const KvResult result = qr.checkQRCode(qrRequest("alice", answer, shown, false), responseType_, response_);
  EXPECT_EQ(KV_ERROR_WRITE_CONFIG_FILE, result.getResultCode());
  EXPECT_EQ(10, responseType_);
}

// ================================================================== forgot token: expiry

TEST(ForgotTokenExpiry, TheServicesExpiryWinsAndIsMovedToTheLocalClock) {
  UserConfig user;
  user.setFallbackExpiration(500);
  EXPECT_EQ(500u, KvServiceForgotAuthenticator::effectiveExpiry(user, 3600));
  const std::uint64_t ms = 1760000000000ull;
  user.setAuthenticatorForgottenExpiryTimestamp(ms);
  user.setFallbackExpiration(std::numeric_limits<std::uint64_t>::max());
  const std::uint64_t asFileTime = (ms + 11644473600000ull) * 10000ull;
  EXPECT_EQ(asFileTime, KvServiceForgotAuthenticator::effectiveExpiry(user, 0));
  // The service's clock one hour ahead: its expiry is one hour earlier here.
  EXPECT_EQ(asFileTime - kHour, KvServiceForgotAuthenticator::effectiveExpiry(user, 3600));
  EXPECT_EQ(asFileTime + kHour, KvServiceForgotAuthenticator::effectiveExpiry(user, -3600));
}

TEST(ForgotTokenExpiry, ValuesBeyondTheRangeAreHeldAtItsEnds) {
  const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  UserConfig user;
  user.setAuthenticatorForgottenExpiryTimestamp(max - 5);
  EXPECT_EQ(max, KvServiceForgotAuthenticator::effectiveExpiry(user, 0));
  EXPECT_EQ(max, KvServiceForgotAuthenticator::effectiveExpiry(user, std::numeric_limits<std::int64_t>::min()));
  user.setAuthenticatorForgottenExpiryTimestamp(1);
  EXPECT_EQ(0u, KvServiceForgotAuthenticator::effectiveExpiry(user, std::numeric_limits<std::int64_t>::max()));
}

// ================================================================== forgot token: screen

TEST_F(QrForgotLogic, ScreenIsTheActivationScreenUntilAPeriodRunsAndTheAuthenticationScreenUpToItsEnd) {
  UserConfig frank = qrUser("frank", true, true, true, {mobile(1001)}, "otp");
  makeService({frank});
  KvServiceForgotAuthenticator forgot(service_.get());
  EXPECT_EQ(0, forgot.getForgotAuthenticatorScreen(baseRequest("Frank"), responseType_, response_, &internet_));
  EXPECT_EQ(6, responseType_);
  const ServiceResponseActiveForgotAuthenticator activation = activationResponse(response_);
  EXPECT_EQ(6u, activation.getChallenge().size());
  EXPECT_EQ("Frank", activation.getUserLogin());
  EXPECT_EQ("otp", activation.getLastAuthType());

  frank.setFallbackExpiration(now());
  ASSERT_EQ(0, service_->getConfig().setUsersConfig({frank}));
  EXPECT_EQ(0, forgot.getForgotAuthenticatorScreen(baseRequest("frank"), responseType_, response_, &internet_));
  EXPECT_EQ(7, responseType_);  // an expiry equal to now is still running
  clock_.set(now() + 1);
  EXPECT_EQ(0, forgot.getForgotAuthenticatorScreen(baseRequest("frank"), responseType_, response_, &internet_));
  EXPECT_EQ(6, responseType_);
}

TEST_F(QrForgotLogic, ScreenTakesTheServicesPastExpiryOverALaterLocalPeriod) {
  UserConfig frank = qrUser("frank", true, true, true, {mobile(1001)});
  frank.setFallbackExpiration(now() + 10 * kHour);
  frank.setAuthenticatorForgottenExpiryTimestamp(static_cast<std::uint64_t>(clock_.nowUnixMs()) - 1000);
  makeService({frank});
  KvServiceForgotAuthenticator forgot(service_.get());
  EXPECT_EQ(0, forgot.getForgotAuthenticatorScreen(baseRequest("frank"), responseType_, response_, &internet_));
  EXPECT_EQ(6, responseType_);

  // With the service's clock one hour ahead, an expiry 30 minutes ahead on its clock has passed here.
  frank.setAuthenticatorForgottenExpiryTimestamp(static_cast<std::uint64_t>(clock_.nowUnixMs()) + 1800 * 1000);
  ASSERT_EQ(0, service_->getConfig().setUsersConfig({frank}));
  EXPECT_EQ(0, forgot.getForgotAuthenticatorScreen(baseRequest("frank"), responseType_, response_, &internet_));
  EXPECT_EQ(7, responseType_);
  Korvath::ServerConfig server = service_->getConfig().getServerConfig();
  server.setTimeDifference(3600);
  ASSERT_EQ(0, service_->getConfig().setServerConfig(server));
  EXPECT_EQ(0, forgot.getForgotAuthenticatorScreen(baseRequest("frank"), responseType_, response_, &internet_));
  EXPECT_EQ(6, responseType_);
}

TEST_F(QrForgotLogic, ScreenWithForgotTokenModeOffIsTheNormalScreenWith5115) {
  makeService({qrUser("frank", true, true, true, {mobile(1001)}, "otp")});
  setServerFlags(*service_, 1, 1, 0);
  KvServiceForgotAuthenticator forgot(service_.get());
  EXPECT_EQ(KV_ERROR_UNAUTHORIZED_AUTHENTICATION_TYPE,
            forgot.getForgotAuthenticatorScreen(baseRequest("frank"), responseType_, response_, &internet_));
  EXPECT_EQ(2, responseType_);  // the OTP screen of the user's last factor
  EXPECT_EQ("frank", baseResponse(response_).getUserLogin());
}

TEST_F(QrForgotLogic, ScreenForAnEmptyLoginIsTheActivationScreenWith5013) {
  makeService({});
  KvServiceForgotAuthenticator forgot(service_.get());
  EXPECT_EQ(KV_ERROR_INVALID_USER_LOGIN_LENGTH,
            forgot.getForgotAuthenticatorScreen(baseRequest(""), responseType_, response_, &internet_));
  EXPECT_EQ(6, responseType_);
  EXPECT_EQ(6u, activationResponse(response_).getChallenge().size());
}

TEST_F(QrForgotLogic, ScreenForAUserThatCannotBeAddedIsTheNormalScreenWith5104) {
  makeService({});
  KvServiceForgotAuthenticator forgot(service_.get());
  EXPECT_EQ(KV_ERROR_USER_NOT_FOUND_IN_CONFIG_FILE,
            forgot.getForgotAuthenticatorScreen(baseRequest("mallory"), responseType_, response_, &internet_));
  EXPECT_EQ(5, responseType_);
  EXPECT_EQ("", baseResponse(response_).getUserLogin());
}

TEST_F(QrForgotLogic, ScreenSynchronizesOnlyWhenDueAndOnlineAndThenRecordsReachability) {
  makeService({qrUser("frank", true, true, true, {mobile(1001)})});
  Korvath::ServerConfig server = service_->getConfig().getServerConfig();
  server.setSyncInterval(24);
  ASSERT_EQ(0, service_->getConfig().setServerConfig(server));
  service_->getConfig().setLastSync(now() - 24 * kHour);
  KvServiceForgotAuthenticator forgot(service_.get());

  internet_ = true;  // exactly 24 hours: not due
  EXPECT_EQ(0, forgot.getForgotAuthenticatorScreen(baseRequest("frank"), responseType_, response_, &internet_));
  EXPECT_TRUE(internet_.load());

  service_->getConfig().setLastSync(now() - 24 * kHour - 1);
  internet_ = false;  // due, but the dialog is offline: nothing is tried
  EXPECT_EQ(0, forgot.getForgotAuthenticatorScreen(baseRequest("frank"), responseType_, response_, &internet_));
  EXPECT_FALSE(internet_.load());

  internet_ = true;  // due and online: the closed port shows that the service cannot be reached
  EXPECT_EQ(0, forgot.getForgotAuthenticatorScreen(baseRequest("frank"), responseType_, response_, &internet_));
  EXPECT_FALSE(internet_.load());
  EXPECT_EQ(6, responseType_);
}

// ================================================================== forgot token: activation

TEST_F(QrForgotLogic, OfflineActivationWithTheAdministratorsCodeStartsALocalPeriod) {
  UserConfig frank = qrUser("frank", true, true, true, {mobile(1001)}, "qrcode");
  ASSERT_EQ(0, frank.setPassword("remembered"));
  makeService({frank});
  KvServiceForgotAuthenticator forgot(service_.get());
  const std::string code = adminCode("frank", 8, "123456");
  EXPECT_EQ(0, forgot.checkActiveForgotAuthenticatorOffline(activationRequest("FRANK@corp.example", 8, "123456", code),
                                                            responseType_, response_));
  EXPECT_EQ(10, responseType_);
  EXPECT_TRUE(response_.empty());
  const UserConfig saved = savedUser(configPath(), "frank");
  EXPECT_EQ(now() + 8 * kHour, saved.getFallbackExpiration());
  EXPECT_EQ("qrcode", saved.getLastAuthType());
  EXPECT_TRUE(saved.getPassword().empty());

  EXPECT_EQ(0, forgot.getForgotAuthenticatorScreen(baseRequest("frank"), responseType_, response_, &internet_));
  EXPECT_EQ(7, responseType_);
}

TEST_F(QrForgotLogic, RefusedOfflineActivationEndsTheLocalPeriodAndShowsANewCode) {
  UserConfig frank = qrUser("frank", true, true, true, {mobile(1001)});
  frank.setFallbackExpiration(now() + 5 * kHour);
  makeService({frank});
  KvServiceForgotAuthenticator forgot(service_.get());
  const std::string codeForOtherHours = adminCode("frank", 9, "123456");
  const std::uint16_t result = forgot.checkActiveForgotAuthenticatorOffline(
      activationRequest("frank", 8, "123456", codeForOtherHours), responseType_, response_);
  EXPECT_NE(0, result);
  EXPECT_LT(result, 1000);  // the SDK's own refusal
  EXPECT_EQ(6, responseType_);
  const ServiceResponseActiveForgotAuthenticator again = activationResponse(response_);
  EXPECT_EQ(6u, again.getChallenge().size());
  EXPECT_EQ(0u, savedUser(configPath(), "frank").getFallbackExpiration());
}

TEST_F(QrForgotLogic, OfflineActivationRefusals) {
  makeService({qrUser("frank", true, true, true, {mobile(1001)})});
  KvServiceForgotAuthenticator forgot(service_.get());
  const std::string code = adminCode("frank", 8, "123456");

  // Not stored: the normal screen (here of an unknown user) and 5104.
  EXPECT_EQ(KV_ERROR_USER_NOT_FOUND_IN_CONFIG_FILE,
            forgot.checkActiveForgotAuthenticatorOffline(activationRequest("mallory", 8, "123456", code), responseType_,
                                                         response_));
  EXPECT_EQ(5, responseType_);
  // Empty login: the activation screen and 5013.
  EXPECT_EQ(
      KV_ERROR_INVALID_USER_LOGIN_LENGTH,
      forgot.checkActiveForgotAuthenticatorOffline(activationRequest("", 8, "123456", code), responseType_, response_));
  EXPECT_EQ(6, responseType_);
  // Offline authentication not allowed: 5122.
  setServerFlags(*service_, 0, 1, 1);
  EXPECT_EQ(KV_ERROR_OFFLINE_UNAUTHORIZED,
            forgot.checkActiveForgotAuthenticatorOffline(activationRequest("frank", 8, "123456", code), responseType_,
                                                         response_));
  EXPECT_EQ(5, responseType_);
  // Forgot-token mode off: 5115.
  setServerFlags(*service_, 1, 1, 0);
  EXPECT_EQ(KV_ERROR_UNAUTHORIZED_AUTHENTICATION_TYPE,
            forgot.checkActiveForgotAuthenticatorOffline(activationRequest("frank", 8, "123456", code), responseType_,
                                                         response_));
  EXPECT_FALSE(fileExists(configPath()));
}

TEST_F(QrForgotLogic, DisabledAgentStopsTheActivationsAndTheSignIn) {
  makeService({qrUser("frank", true, true, true, {mobile(1001)})});
  service_->getConfig().setLogonAppDisable(KV_ERROR_KV_RESOURCE_NOT_FOUND);
  KvServiceForgotAuthenticator forgot(service_.get());
  const auto request = activationRequest("frank", 8, "123456", adminCode("frank", 8, "123456"));
  EXPECT_EQ(KV_ERROR_KV_RESOURCE_NOT_FOUND,
            forgot.checkActiveForgotAuthenticatorOffline(request, responseType_, response_));
  EXPECT_EQ(6, responseType_);
  const KvResult online = forgot.checkActiveForgotAuthenticatorOnline(request, responseType_, response_);
  EXPECT_EQ(KV_ERROR_KV_RESOURCE_NOT_FOUND, online.getResultCode());
  EXPECT_EQ(KV_ERROR_KV_RESOURCE_NOT_FOUND,
            forgot.checkForgotAuthenticator(baseRequest("frank"), responseType_, response_));
  EXPECT_EQ(7, responseType_);
  EXPECT_EQ(kUntouched, response_);
  EXPECT_FALSE(fileExists(configPath()));
}

TEST_F(QrForgotLogic, OnlineActivationWithAShortChallengeIsRefusedBeforeAnythingIsSent) {
  makeService({qrUser("frank", true, true, true, {mobile(1001)})});
  KvServiceForgotAuthenticator forgot(service_.get());
  const KvResult result = forgot.checkActiveForgotAuthenticatorOnline(activationRequest("frank", 8, "123", "654321"),
                                                                      responseType_, response_);
  EXPECT_EQ(KV_ERROR_FAIL_SERVICE_FORGOT_AUTHENTICATOR_ACTIVE_KORVATH, result.getResultCode());
  EXPECT_EQ(6, responseType_);
  EXPECT_EQ(kUntouched, response_);
}

TEST_F(QrForgotLogic, OnlineActivationForAUserNotStoredIs5104WhateverTheScreen) {
  makeService({});
  KvServiceForgotAuthenticator forgot(service_.get());
  const KvResult result = forgot.checkActiveForgotAuthenticatorOnline(
      activationRequest("mallory", 8, "123456", "654321"), responseType_, response_);
  EXPECT_EQ(KV_ERROR_USER_NOT_FOUND_IN_CONFIG_FILE, result.getResultCode());
  EXPECT_EQ(5, responseType_);
}

// ================================================================== forgot token: sign-in

TEST_F(QrForgotLogic, SignInPassesWhileThePeriodRunsAndRecordsIt) {
  UserConfig frank = qrUser("frank", true, true, true, {mobile(1001)}, "otp");
  ASSERT_EQ(0, frank.setPassword("remembered"));
  frank.setFallbackExpiration(now() + kHour);
  makeService({frank});
  KvServiceForgotAuthenticator forgot(service_.get());
  EXPECT_EQ(0, forgot.checkForgotAuthenticator(baseRequest("frank"), responseType_, response_));
  EXPECT_EQ(7, responseType_);
  EXPECT_EQ(kUntouched, response_);
  const UserConfig saved = savedUser(configPath(), "frank");
  EXPECT_EQ(now(), saved.getLastAuthTime());
  EXPECT_TRUE(saved.getPassword().empty());
  EXPECT_EQ(now() + kHour, saved.getFallbackExpiration());

  clock_.set(now() + kHour + 1);
  EXPECT_EQ(KV_ERROR_FORGOT_TOKEN_EXPIRATED,
            forgot.checkForgotAuthenticator(baseRequest("frank"), responseType_, response_));
  EXPECT_EQ(6, responseType_);
  EXPECT_EQ("otp", activationResponse(response_).getLastAuthType());
}

TEST_F(QrForgotLogic, SignInRefusals) {
  UserConfig frank = qrUser("frank", false, true, true, {mobile(1001)}, "qrcode");
  frank.setFallbackExpiration(now() + kHour);
  makeService({frank});
  KvServiceForgotAuthenticator forgot(service_.get());
  EXPECT_EQ(KV_ERROR_USER_NOT_FOUND_IN_CONFIG_FILE,
            forgot.checkForgotAuthenticator(baseRequest("mallory"), responseType_, response_));
  EXPECT_EQ(7, responseType_);
  EXPECT_EQ(kUntouched, response_);
  setServerFlags(*service_, 1, 1, 0);
  EXPECT_EQ(KV_ERROR_UNAUTHORIZED_AUTHENTICATION_TYPE,
            forgot.checkForgotAuthenticator(baseRequest("frank"), responseType_, response_));
  EXPECT_EQ(4, responseType_);  // the QR-code screen of the user's last factor
  EXPECT_EQ(kUntouched, response_);
  EXPECT_EQ(KV_ERROR_INVALID_USER_LOGIN_LENGTH,
            forgot.checkForgotAuthenticator(baseRequest(""), responseType_, response_));
  EXPECT_EQ(7, responseType_);
  EXPECT_EQ("", baseResponse(response_).getUserLogin());
  EXPECT_FALSE(fileExists(configPath()));
}

}  // namespace
