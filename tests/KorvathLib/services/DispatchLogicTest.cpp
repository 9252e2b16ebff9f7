// The dispatcher and the push, OTP and password services without a reachable service (the
// deployment values point at a closed loopback port): the length checks, the modes, the
// logon-disabled gate, the offline OTP rules and what they save, the password-only sign-in
// and the push task queue.

#include <gtest/gtest.h>

#include <future>
#include <string>
#include <thread>

#include "DispatchTestSupport.h"
#include "Korvath/Config.h"
#include "Korvath/Platform.h"
#include "Korvath/Model/TransactionData.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/Service/KvService.h"
#include "Korvath/Service/KvServiceOTP.h"
#include "Korvath/Service/KvServicePassword.h"
#include "Korvath/Service/KvServicePush.h"
#include "Korvath/Service/MfaAuthentication.h"
#include "Korvath/Service/ServiceMessages.h"
#include "ServicesTestSupport.h"

using Korvath::Model::AuthFactorMap;
using Korvath::Model::KvResult;
using Korvath::Model::UserConfig;
using Korvath::Service::KvService;
using Korvath::Service::KvServiceOTP;
using Korvath::Service::KvServicePassword;
using Korvath::Service::MfaAuthentication;
using Korvath::Service::MfaAuthenticationRequest;
using namespace DispatchTest;
using namespace Korvath;
using namespace ServicesTest;

namespace {

const AuthFactorMap kAllOn{{"otp", true}, {"push", true}, {"qrcode", true}};

class DispatchLogic : public ServiceTestBase {
 protected:
  void SetUp() override {
    ServiceTestBase::SetUp();
    configPath_ = dir_.file("kvconfig.cfg");
  }
  void serve(const std::vector<UserConfig>& users) { fillService(service_, users); }
  MfaAuthenticationRequest request(std::uint8_t mode) {
    MfaAuthenticationRequest r;
    r.mode = mode;
    r.userLogin = "alice";
    r.authData = "123456";
    r.challenge = "123456";
    r.time = 4;
    return r;
  }
  std::string transactionJson() {
    Korvath::Model::TransactionData data;
    EXPECT_EQ(0, data.setTimestamp(1760000000));
    EXPECT_EQ(0, data.setUser("alice"));
    return data.toJson();
  }
  bool fileExists() {
    Korvath::KvCrypto crypto;
    Korvath::Config back;
    return BizCoreTest::readBack(configPath_, crypto, back) == 0;
  }

  KvService service_;
  std::string configPath_;
};

// ------------------------------------------------------------------------- dispatcher checks

TEST_F(DispatchLogic, LoginOf101BytesGives5103ForEveryModeBeforeAnyService) {
  serve({user("alice", true, true, true)});
  service_.getConfig().setLogonAppDisable(KV_ERROR_KV_RESOURCE_NOT_FOUND);  // a service would answer 5108
  MfaAuthentication dispatcher(&service_);
  for (std::uint8_t mode : {1, 2, 4, 5, 8}) {
    MfaAuthenticationRequest r = request(mode);
    r.transactionData = transactionJson();
    r.userLogin.assign(101, 'a');
    EXPECT_EQ(KV_ERROR_USER_NOT_FOUND, dispatcher.authenticate(r).getResultCode()) << int(mode);
    r.userLogin.assign(100, 'a');
    EXPECT_EQ(KV_ERROR_KV_RESOURCE_NOT_FOUND, dispatcher.authenticate(r).getResultCode()) << int(mode);
  }
  Korvath::Utils::AutoTokenCancellationRelease token;
  EXPECT_EQ(KV_ERROR_USER_NOT_FOUND,
            MfaAuthentication::checkPush(std::string(101, 'a'), "", false, true, service_, token).getResultCode());
}

TEST_F(DispatchLogic, PasswordOf301BytesGives5112) {
  serve({user("alice", true, true, true)});
  service_.getConfig().setLogonAppDisable(KV_ERROR_KV_RESOURCE_NOT_FOUND);
  MfaAuthentication dispatcher(&service_);
  for (std::uint8_t mode : {1, 2, 4, 5, 8}) {
    MfaAuthenticationRequest r = request(mode);
    r.transactionData = transactionJson();
    r.userPassword.assign(301, 'p');
    EXPECT_EQ(KV_ERROR_AUTH_INVALID_USER_PASS, dispatcher.authenticate(r).getResultCode()) << int(mode);
    r.userPassword.assign(300, 'p');
    EXPECT_EQ(KV_ERROR_KV_RESOURCE_NOT_FOUND, dispatcher.authenticate(r).getResultCode()) << int(mode);
  }
}

TEST_F(DispatchLogic, EmptyCodeOrChallengeGives5113WithoutAService) {
  serve({user("alice", true, true, true)});
  service_.getConfig().setLogonAppDisable(KV_ERROR_KV_RESOURCE_NOT_FOUND);
  MfaAuthentication dispatcher(&service_);
  for (std::uint8_t mode : {1, 2, 4}) {
    MfaAuthenticationRequest r = request(mode);
    r.transactionData = transactionJson();
    r.authData.clear();
    EXPECT_EQ(KV_ERROR_FAIL_AUTHENTICATION, dispatcher.authenticate(r).getResultCode()) << int(mode);
  }
  MfaAuthenticationRequest r = request(4);
  r.challenge.clear();
  EXPECT_EQ(KV_ERROR_FAIL_AUTHENTICATION, dispatcher.authenticate(r).getResultCode());
}

TEST_F(DispatchLogic, QrTransactionIdMustBeEmptyOr36Characters) {
  serve({user("alice", true, true, true)});
  service_.getConfig().setLogonAppDisable(KV_ERROR_KV_RESOURCE_NOT_FOUND);
  MfaAuthentication dispatcher(&service_);
  MfaAuthenticationRequest r = request(2);
  r.transactionData = transactionJson();
  r.transactionId.assign(35, 'x');
  EXPECT_EQ(KV_ERROR_FAIL_AUTHENTICATION, dispatcher.authenticate(r).getResultCode());
  r.transactionId.clear();
  EXPECT_EQ(KV_ERROR_KV_RESOURCE_NOT_FOUND, dispatcher.authenticate(r).getResultCode());
  r.transactionId = "123e4567-e89b-12d3-a456-426614174000";
  EXPECT_EQ(KV_ERROR_KV_RESOURCE_NOT_FOUND, dispatcher.authenticate(r).getResultCode());
}

TEST_F(DispatchLogic, UnreadableQrTransactionDataGivesItsFillCode) {
  serve({user("alice", true, true, true)});
  service_.getConfig().setLogonAppDisable(KV_ERROR_KV_RESOURCE_NOT_FOUND);
  MfaAuthentication dispatcher(&service_);
  MfaAuthenticationRequest r = request(2);
  r.transactionData = "{not json";
  Korvath::Model::TransactionData probe;
  const std::uint16_t fillCode = probe.fillFromJson(r.transactionData);
  ASSERT_NE(0, fillCode);
  EXPECT_EQ(fillCode, dispatcher.authenticate(r).getResultCode());
}

TEST_F(DispatchLogic, ModesWithoutASynchronousOperationGive5113AndMode9Succeeds) {
  serve({user("alice", true, true, true)});
  MfaAuthentication dispatcher(&service_);
  for (std::uint8_t mode : {0, 3, 6, 7, 10, 255}) {
    const KvResult result = dispatcher.authenticate(request(mode));
    EXPECT_EQ(KV_ERROR_FAIL_AUTHENTICATION, result.getResultCode()) << int(mode);
  }
  EXPECT_EQ(0, dispatcher.authenticate(request(9)).getResultCode());
  EXPECT_TRUE(service_.getFutures().empty());
  EXPECT_FALSE(fileExists());
}

TEST_F(DispatchLogic, DispatcherWithoutAServiceStateAnswers5113InsteadOfCrashing) {
  MfaAuthentication dispatcher(nullptr);
  for (std::uint8_t mode : {1, 2, 4, 5, 8}) {
    EXPECT_EQ(KV_ERROR_FAIL_AUTHENTICATION, dispatcher.authenticate(request(mode)).getResultCode()) << int(mode);
  }
  EXPECT_EQ(0, dispatcher.authenticate(request(9)).getResultCode());
  Korvath::Utils::AutoTokenCancellationRelease token;
  EXPECT_EQ(255u, dispatcher.authenticateAsync(request(3), token));
}

TEST_F(DispatchLogic, LogonDisabledGateAnswers5108ThroughTheDispatcherForEveryFactor) {
  serve({userWithToken("alice", true, true, true)});
  service_.getConfig().setLogonAppDisable(KV_ERROR_KV_RESOURCE_NOT_FOUND);
  MfaAuthentication dispatcher(&service_);
  MfaAuthenticationRequest otp = request(1);
  EXPECT_EQ(KV_ERROR_KV_RESOURCE_NOT_FOUND, dispatcher.authenticate(otp).getResultCode());
  otp.onLine = false;
  EXPECT_EQ(KV_ERROR_KV_RESOURCE_NOT_FOUND, dispatcher.authenticate(otp).getResultCode());
  EXPECT_EQ(KV_ERROR_KV_RESOURCE_NOT_FOUND, dispatcher.authenticate(request(8)).getResultCode());

  Korvath::Utils::AutoTokenCancellationRelease token;
  const std::uint32_t index = dispatcher.authenticateAsync(request(3), token);
  ASSERT_EQ(0u, index);
  EXPECT_EQ(KV_ERROR_KV_RESOURCE_NOT_FOUND, service_.getFutures().at(0).get().getResultCode());
  EXPECT_FALSE(fileExists());
}

TEST_F(DispatchLogic, AuthenticateAsyncQueuesPushTasksInOrderAndIgnoresOtherModes) {
  serve({user("alice", true, true, true)});
  service_.getConfig().setLogonAppDisable(KV_ERROR_KV_RESOURCE_NOT_FOUND);
  MfaAuthentication dispatcher(&service_);
  Korvath::Utils::AutoTokenCancellationRelease token;
  EXPECT_EQ(255u, dispatcher.authenticateAsync(request(1), token));
  EXPECT_TRUE(service_.getFutures().empty());
  EXPECT_EQ(0u, dispatcher.authenticateAsync(request(3), token));
  EXPECT_EQ(1u, dispatcher.authenticateAsync(request(3), token));
  ASSERT_EQ(2u, service_.getFutures().size());

  std::uint8_t index = 0;
  service_.eraseFutureTaskByIndex(index);
  EXPECT_EQ(255, index);
  ASSERT_EQ(1u, service_.getFutures().size());
  EXPECT_EQ(KV_ERROR_KV_RESOURCE_NOT_FOUND, service_.getFutures().front().get().getResultCode());
  // Each task let go of its token reference when it ended.
  service_.getFutures().clear();
  EXPECT_EQ(1, token.holders());
}

TEST_F(DispatchLogic, PushTaskOutlivesItsDispatcher) {
  serve({user("alice", true, true, true)});
  service_.getConfig().setLogonAppDisable(KV_ERROR_KV_RESOURCE_NOT_FOUND);
  {
    MfaAuthentication dispatcher(&service_);
    ASSERT_EQ(0u, dispatcher.authenticateAsync(request(3), Korvath::Utils::AutoTokenCancellationRelease()));
  }
  EXPECT_EQ(KV_ERROR_KV_RESOURCE_NOT_FOUND, service_.getFutures().at(0).get().getResultCode());
}

// ------------------------------------------------------------------------- push service

TEST_F(DispatchLogic, PushWithAnEmptyLoginGives5013AndAScreenWithEveryFactor) {
  serve({user("alice", true, false, false)});
  Korvath::Service::KvServicePush push(service_);
  Korvath::Service::ServiceRequestBase message;
  std::uint16_t type = 0;
  std::string response;
  const KvResult result = push.sendPush(message, &type, response, nullptr);
  EXPECT_EQ(KV_ERROR_INVALID_USER_LOGIN_LENGTH, result.getResultCode());
  EXPECT_EQ(5, type);
  Korvath::Service::ServiceResponseBase screen;
  ASSERT_EQ(0, screen.fillFromJson(response)) << response;
  EXPECT_EQ(kAllOn, screen.getAuthTypes());
  EXPECT_EQ("push", screen.getLastAuthType());
}

TEST_F(DispatchLogic, PushServiceWorksOnItsOwnCopyOfTheState) {
  serve({user("alice", true, true, true)});
  KvService copy(service_);  // as the push task receives it: pointing at the dialog's objects
  Korvath::Service::KvServicePush push(copy);
  KvService& own = push.getService();
  EXPECT_EQ(&own.getConfig(), own.getKvBusiness().getConfig());
  EXPECT_EQ(&own.getKvCrypto(), own.getKvBusiness().getKvCrypto());
  EXPECT_EQ(&own.getKvCrypto(), own.getConfig().getKvCrypto());
  EXPECT_NE(&service_.getConfig(), own.getKvBusiness().getConfig());
  EXPECT_GE(own.getConfig().getUserIndex("alice"), 0);
}

TEST_F(DispatchLogic, PushThatCannotReachTheServiceAnswersThePushScreenOfTheStoredUser) {
  serve({userWithToken("alice", true, false, true)});
  Korvath::Service::KvServicePush push(service_);
  Korvath::Service::ServiceRequestBase message;
  message.setUserLogin("alice");
  std::uint16_t type = 0;
  std::string response;
  const KvResult result = push.sendPush(message, &type, response, nullptr);
  EXPECT_FALSE(Korvath::isServerReachable(result.getResultCode())) << result.getResultCode();
  EXPECT_EQ(5, type);
  Korvath::Service::ServiceResponseBase screen;
  ASSERT_EQ(0, screen.fillFromJson(response)) << response;
  EXPECT_EQ((AuthFactorMap{{"otp", true}, {"push", true}, {"qrcode", false}}), screen.getAuthTypes());
}

// ------------------------------------------------------------------------- OTP service

TEST_F(DispatchLogic, OtpWithAnEmptyLoginGives5013AndTheOtpScreenWithEveryFactor) {
  serve({userWithToken("alice", true, true, true)});
  KvServiceOTP otp(&service_);
  Korvath::Service::ServiceRequestAuthOTP message;
  message.setAuthData("123456");
  for (int online = 0; online < 2; ++online) {
    std::uint16_t type = 0;
    std::string response;
    const KvResult result =
        online ? otp.checkOTPOnline(message, type, response) : otp.checkOTP(message, type, response);
    EXPECT_EQ(KV_ERROR_INVALID_USER_LOGIN_LENGTH, result.getResultCode());
    EXPECT_EQ(2, type);
    Korvath::Service::ServiceResponseAuthOTP screen;
    ASSERT_EQ(0, screen.fillFromJson(response)) << response;
    EXPECT_EQ(kAllOn, screen.getAuthTypes());
    EXPECT_EQ("otp", screen.getLastAuthType());
  }
  // Through the dispatcher the empty login reaches the service, whose answer is kept.
  MfaAuthentication dispatcher(&service_);
  MfaAuthenticationRequest r = request(1);
  r.userLogin.clear();
  EXPECT_EQ(KV_ERROR_INVALID_USER_LOGIN_LENGTH, dispatcher.authenticate(r).getResultCode());
}

TEST_F(DispatchLogic, OfflineCheckOfAUserWithoutOtpAnswersTheTypeOfTheirFactor) {
  serve({userWithToken("qruser", false, true, false), userWithToken("pushuser", true, false, false)});
  KvServiceOTP otp(&service_);
  Korvath::Service::ServiceRequestAuthOTP message;
  message.setAuthData(codeOfTestBlob(0));
  message.setUserLogin("qruser");
  std::uint16_t type = 0;
  std::string response = "untouched";
  EXPECT_EQ(KV_ERROR_UNAUTHORIZED_AUTHENTICATION_TYPE, otp.checkOTP(message, type, response).getResultCode());
  EXPECT_EQ(4, type);
  EXPECT_EQ("untouched", response);
  message.setUserLogin("pushuser");
  EXPECT_EQ(KV_ERROR_UNAUTHORIZED_AUTHENTICATION_TYPE, otp.checkOTP(message, type, response).getResultCode());
  EXPECT_EQ(5, type);
  EXPECT_FALSE(fileExists());
}

TEST_F(DispatchLogic, OfflineSettingOnAcceptsTheRightCodeAndSavesTheRecord) {
  UserConfig alice = userWithToken("alice", true, true, true);
  alice.setFallbackExpiration(BizCoreTest::FakeClock::kStart + kHour);
  serve({alice});
  setOffline(service_, 1);
  KvServiceOTP otp(&service_);
  Korvath::Service::ServiceRequestAuthOTP message;
  message.setUserLogin("ALICE");
  message.setAuthData(codeOfTestBlob(0));
  std::uint16_t type = 0;
  std::string response = "old";
  const KvResult result = otp.checkOTP(message, type, response);
  EXPECT_EQ(0, result.getResultCode());
  EXPECT_EQ(10, type);
  EXPECT_EQ("", response);
  const UserConfig saved = storedUser(configPath_, "alice");
  EXPECT_EQ("otp", saved.getLastAuthType());
  EXPECT_EQ(0u, saved.getFallbackExpiration());
  ASSERT_EQ(1u, saved.getAuthenticators().size());
  EXPECT_NE(alice.getAuthenticators()[0].getBlob(), saved.getAuthenticators()[0].getBlob());
  // The same code again is a replay, refused by the saved counter.
  EXPECT_NE(0, otp.checkOTP(message, type, response).getResultCode());
}

TEST_F(DispatchLogic, OfflineCodeWhoseAdvancedCounterCannotBeSavedFailsAndStaysUsed) {
  serve({userWithToken("alice", true, true, true)});
  setOffline(service_, 1);
  KvServiceOTP otp(&service_);
  Korvath::Service::ServiceRequestAuthOTP message;
  message.setUserLogin("alice");
  message.setAuthData(codeOfTestBlob(0));
  std::uint16_t type = 0;
  std::string response;
  {
    // Another process holds the configuration lock for longer than a save waits for it.
    std::promise<void> held, release;
    std::thread holder([&] {
      Korvath::Platform::NamedMutexLock lock(Korvath::Config::kMutexName, 1000);
      held.set_value();
      release.get_future().wait();
    });
    held.get_future().wait();
    EXPECT_EQ(KV_ERROR_WRITE_CONFIG_FILE, otp.checkOTP(message, type, response).getResultCode());
    release.set_value();
    holder.join();
  }
  EXPECT_NE(0, otp.checkOTP(message, type, response).getResultCode());
  // The refusal saved the counter: the code is used up on this machine.
  KvService fresh;
  fillService(fresh, {storedUser(configPath_, "alice")});
  setOffline(fresh, 1);
  KvServiceOTP again(&fresh);
  EXPECT_NE(0, again.checkOTP(message, type, response).getResultCode());
}

TEST_F(DispatchLogic, OfflineSettingOnSavesTheCountersOfARefusedCodeAndAnswersTheOtpScreen) {
  UserConfig alice = userWithToken("alice", true, false, true);
  alice.setFallbackExpiration(BizCoreTest::FakeClock::kStart + kHour);
  serve({alice});
  setOffline(service_, 1);
  KvServiceOTP otp(&service_);
  Korvath::Service::ServiceRequestAuthOTP message;
  message.setUserLogin("alice");
  message.setAuthData("000000" == codeOfTestBlob(0) ? "111111" : "000000");
  std::uint16_t type = 0;
  std::string response;
  const KvResult result = otp.checkOTP(message, type, response);
  EXPECT_NE(0, result.getResultCode());
  EXPECT_EQ(0, result.getCloudErrorCode());
  EXPECT_EQ(2, type);
  Korvath::Service::ServiceResponseAuthOTP screen;
  ASSERT_EQ(0, screen.fillFromJson(response)) << response;
  EXPECT_EQ((AuthFactorMap{{"otp", true}, {"push", true}, {"qrcode", false}}), screen.getAuthTypes());
  const UserConfig saved = storedUser(configPath_, "alice");
  ASSERT_EQ(1u, saved.getAuthenticators().size());
  EXPECT_NE(alice.getAuthenticators()[0].getBlob(), saved.getAuthenticators()[0].getBlob());
  EXPECT_EQ(alice.getFallbackExpiration(), saved.getFallbackExpiration());
}

TEST_F(DispatchLogic, AllAuthenticatorsBlockedWithoutTheServiceGives5135AndNothingToShow) {
  serve({userWithToken("alice", true, true, true, false)});
  setOffline(service_, 1);
  KvServiceOTP otp(&service_);
  Korvath::Service::ServiceRequestAuthOTP message;
  message.setUserLogin("alice");
  message.setAuthData(codeOfTestBlob(0));
  std::uint16_t type = 0;
  std::string response = "old";
  EXPECT_EQ(KV_ERROR_ALL_TOKENS_BLOCKED_AND_NO_INTERNET_ACCESS, otp.checkOTP(message, type, response).getResultCode());
  EXPECT_EQ(10, type);
  EXPECT_EQ("", response);
}

TEST_F(DispatchLogic, OnlineOtpThatCannotReachTheServiceFallsBackToTheOfflineCheck) {
  serve({userWithToken("alice", true, true, true)});
  setOffline(service_, 1);
  MfaAuthentication dispatcher(&service_);
  MfaAuthenticationRequest r = request(1);
  r.authData = codeOfTestBlob(0);
  r.onLine = true;
  EXPECT_EQ(0, dispatcher.authenticate(r).getResultCode());
  EXPECT_EQ("otp", storedUser(configPath_, "alice").getLastAuthType());
  // Offline with the offline setting off asks the service again, which cannot be reached.
  setOffline(service_, 0);
  r.onLine = false;
  r.authData = codeOfTestBlob(1);
  EXPECT_FALSE(Korvath::isServerReachable(dispatcher.authenticate(r).getResultCode()));
}

// ------------------------------------------------------------------------- password service

TEST_F(DispatchLogic, PasswordAloneIsAcceptedOnlyForAStoredUserWithoutFactors) {
  UserConfig plain = user("plain", false, false, false);
  plain.setPassword("remembered");
  serve({plain, user("alice", false, false, true)});
  KvServicePassword password(&service_);
  Korvath::Service::ServiceRequestBase message;
  EXPECT_EQ(KV_ERROR_INVALID_USER_LOGIN_LENGTH, password.checkPassword(message));
  message.setUserLogin("nobody");
  EXPECT_EQ(KV_ERROR_USER_NOT_FOUND_IN_CONFIG_FILE, password.checkPassword(message));
  message.setUserLogin("alice");
  EXPECT_EQ(KV_ERROR_UNAUTHORIZED_AUTHENTICATION_TYPE, password.checkPassword(message));
  EXPECT_FALSE(fileExists());

  message.setUserLogin("plain@corp.example");
  message.setUserPassword("typed");
  message.setCheckRememberPassword(true);
  EXPECT_EQ(0, password.checkPassword(message));
  const UserConfig saved = storedUser(configPath_, "plain");
  EXPECT_EQ("password", saved.getLastAuthType());
  EXPECT_EQ("", saved.getPassword());
  EXPECT_EQ(BizCoreTest::FakeClock::kStart, saved.getLastAuthTime());

  // The dispatcher gives it the dialog's state, so mode 8 finds the stored user.
  MfaAuthentication dispatcher(&service_);
  MfaAuthenticationRequest r = request(8);
  r.userLogin = "plain";
  EXPECT_EQ(0, dispatcher.authenticate(r).getResultCode());
}

}  // namespace
