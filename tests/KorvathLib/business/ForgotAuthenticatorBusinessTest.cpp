// The forgot-authenticator business object without a network: the challenge, the two
// forgot-token screens, the offline activation against the account's emergency
// authenticator, what an offline activation stores, and the user's normal screen.

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <set>
#include <string>

#include "AuthenticationSdk/ChallengeData.h"
#include "AuthenticationSdk/OfflineAuthentication.h"
#include "Korvath/Business/KvBusinessForgotAuthenticator.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/Service/ServiceMessages.h"
#include "QrForgotTestSupport.h"

using Korvath::Business::KvBusinessForgotAuthenticator;
using Korvath::Model::UserConfig;
using namespace QrForgotTest;

namespace {

constexpr std::uint64_t kHour = KvBusinessForgotAuthenticator::kFileTimeHour;

// The code an administrator reads out for this challenge.
std::string adminCode(const std::string& login, std::uint32_t hours, const std::string& challenge) {
  AuthenticationSdk::ChallengeData data;
  data.setType(0);
  data.setAccountId(kAccountId);
  data.setUserLogin(login);
  data.setTime(hours);
  data.setChallenge(challenge);
  std::string code;
  EXPECT_EQ(AuthenticationSdk::Issuer::computeForgotTokenCode(data.toJson(), kAccountId, kIntegrationKey, code), 0);
  return code;
}

bool isSixDigitChallenge(const std::string& challenge) {
  if (challenge.size() != 6) return false;
  for (char c : challenge) {
    if (c < '0' || c > '9') return false;
  }
  return challenge[0] != '0' && challenge[3] != '0';
}

class ForgotAuthenticatorBusiness : public BusinessTest {
 protected:
  void SetUp() override {
    BusinessTest::SetUp();
    forgot_.reset(new KvBusinessForgotAuthenticator(config_.get(), &crypto_, business_.get()));
  }

  void storeAlice(const std::string& password = std::string()) {
    UserConfig alice = storedUser("alice", "alice@sim.example", {authenticator(10, kAliceSecretHex, 1001)});
    ASSERT_EQ(alice.setPassword(password), 0);
    ASSERT_EQ(alice.setLastAuthType("otp"), 0);
    storeUsers({alice});
  }

  std::unique_ptr<KvBusinessForgotAuthenticator> forgot_;
};

TEST(ForgotChallenge, IsSixDigitsWithoutLeadingZerosAndFreshEachTime) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    const std::string challenge = KvBusinessForgotAuthenticator::generateChallenge();
    EXPECT_TRUE(isSixDigitChallenge(challenge)) << challenge;
    seen.insert(challenge);
  }
  EXPECT_GT(seen.size(), 190u);
}

TEST_F(ForgotAuthenticatorBusiness, ActivationScreenOffersNeitherRememberedPasswordNorTheForgotLink) {
  std::uint16_t type = 0;
  std::string first;
  ASSERT_EQ(forgot_->genResponseActiveForgotAuthenticator("alice", "pw", true, "otp", {{"otp", true}}, type, first), 0);
  EXPECT_EQ(type, 6);
  Korvath::Service::ServiceResponseActiveForgotAuthenticator reply;
  ASSERT_EQ(reply.fillFromJson(first), 0) << first;
  EXPECT_EQ(reply.getUserLogin(), "alice");
  EXPECT_EQ(reply.getUserPassword(), "pw");
  EXPECT_FALSE(reply.getCheckRememberPassword());
  EXPECT_FALSE(reply.getEnableRememberPassword());
  EXPECT_FALSE(reply.getEnableForgotAuthenticator());
  EXPECT_EQ(reply.getAuthTypes(), Korvath::Model::AuthFactorMap({{"otp", true}}));
  EXPECT_EQ(reply.getLastAuthType(), "otp");
  EXPECT_EQ(reply.getTime(), 0u);
  EXPECT_FALSE(reply.getOnLine());
  EXPECT_EQ(reply.getAuthDataSize(), 6);
  EXPECT_TRUE(isSixDigitChallenge(reply.getChallenge())) << reply.getChallenge();

  // The screen shown again carries a new activation code.
  std::set<std::string> challenges = {reply.getChallenge()};
  for (int i = 0; i < 5; ++i) {
    std::string again;
    ASSERT_EQ(forgot_->genResponseActiveForgotAuthenticator("alice", "pw", true, "otp", {}, type, again), 0);
    Korvath::Service::ServiceResponseActiveForgotAuthenticator next;
    ASSERT_EQ(next.fillFromJson(again), 0);
    challenges.insert(next.getChallenge());
  }
  EXPECT_GT(challenges.size(), 1u);
}

TEST_F(ForgotAuthenticatorBusiness, AuthenticationScreenKeepsThePushDefaultForAPasswordFactor) {
  std::uint16_t type = 0;
  std::string text;
  ASSERT_EQ(forgot_->genResponseAuthForgotAuthenticator(std::string(101, 'a'), "pw", true, "password", {}, type, text),
            0);
  EXPECT_EQ(type, 7);
  Korvath::Service::ServiceResponseAuthForgotAuthenticator reply;
  ASSERT_EQ(reply.fillFromJson(text), 0) << text;
  EXPECT_EQ(reply.getUserLogin(), "");
  EXPECT_EQ(reply.getLastAuthType(), "push");
  EXPECT_FALSE(reply.getOnLine());
  EXPECT_FALSE(reply.getCheckRememberPassword());
}

TEST_F(ForgotAuthenticatorBusiness, OfflineActivationAcceptsTheAdministratorsCodeForThatUserAndPeriodOnly) {
  storeAlice();
  const UserConfig alice = stored("alice");
  const std::string code = adminCode("alice", 8, "123456");
  EXPECT_EQ(forgot_->offlineAuthenticateActiveForgotAuthenticator(alice, 8, "123456", code), 0);
  // The hours and the stored login are part of what the code was given for.
  EXPECT_EQ(forgot_->offlineAuthenticateActiveForgotAuthenticator(alice, 9, "123456", code), 1);
  EXPECT_EQ(forgot_->offlineAuthenticateActiveForgotAuthenticator(alice, 8, "123457", code), 1);
  const UserConfig bob = storedUser("bob", "", {});
  EXPECT_EQ(forgot_->offlineAuthenticateActiveForgotAuthenticator(bob, 8, "123456", code), 1);
}

TEST_F(ForgotAuthenticatorBusiness, OfflineActivationChecksLengthsBeforeTheSdk) {
  storeAlice();
  const UserConfig alice = stored("alice");
  EXPECT_EQ(forgot_->offlineAuthenticateActiveForgotAuthenticator(alice, 8, "123456", "12345"),
            Korvath::KV_ERROR_INVALID_AUTHENTICATION_DATA_LENGTH);
  EXPECT_EQ(forgot_->offlineAuthenticateActiveForgotAuthenticator(alice, 8, "123456", "1234567"),
            Korvath::KV_ERROR_INVALID_AUTHENTICATION_DATA_LENGTH);
  EXPECT_EQ(forgot_->offlineAuthenticateActiveForgotAuthenticator(alice, 8, "12345678901", "123456"),
            Korvath::KV_ERROR_INVALID_CHALLENGE_LENGTH);
  EXPECT_EQ(forgot_->offlineAuthenticateActiveForgotAuthenticator(alice, 8, "", "123456"),
            Korvath::KV_ERROR_INVALID_CHALLENGE_LENGTH);
  // A short challenge passes the length rule and goes to the SDK.
  EXPECT_EQ(forgot_->offlineAuthenticateActiveForgotAuthenticator(alice, 8, "12", adminCode("alice", 8, "12")), 0);
}

TEST_F(ForgotAuthenticatorBusiness, OfflineActivationStoresTheFallbackPeriodAndForgetsThePassword) {
  storeAlice("remembered");
  UserConfig alice = stored("alice");
  ASSERT_EQ(forgot_->saveConfigUserForgotAuthenticatorByUserConfig(alice, 0, 5, "qrcode", false), 0);

  Korvath::Config reread(&crypto_);
  ASSERT_EQ(reread.readFile(config_->getFilePath()), 0);
  const UserConfig saved = reread.getUsersConfig().at(0);
  EXPECT_EQ(saved.getFallbackExpiration(), clock_.nowFileTime() + 5 * kHour);
  EXPECT_EQ(saved.getPassword(), "");
  EXPECT_EQ(saved.getLastAuthType(), "qrcode");
  EXPECT_EQ(saved.getLastAuthTime(), clock_.nowFileTime());
}

TEST_F(ForgotAuthenticatorBusiness, OfflineActivationOfZeroHoursEndsNow) {
  storeAlice();
  UserConfig alice = stored("alice");
  ASSERT_EQ(forgot_->saveConfigUserForgotAuthenticatorByUserConfig(alice, 0, 0, "otp", false), 0);
  EXPECT_EQ(stored("alice").getFallbackExpiration(), clock_.nowFileTime());
}

TEST_F(ForgotAuthenticatorBusiness, OnlineRecordingLeavesTheFallbackExpirationAlone) {
  UserConfig alice = storedUser("alice", "", {});
  alice.setFallbackExpiration(1234);
  storeUsers({alice});
  ASSERT_EQ(forgot_->saveConfigUserForgotAuthenticatorByUserLogin("ALICE", 5, "push"), 0);
  EXPECT_EQ(stored("alice").getFallbackExpiration(), 1234u);
  EXPECT_EQ(stored("alice").getLastAuthType(), "push");
}

TEST_F(ForgotAuthenticatorBusiness, RecordingForAnUnknownUserSavesTheConfigurationAsItIs) {
  storeAlice();
  ASSERT_EQ(forgot_->saveConfigUserForgotAuthenticatorByUserLogin("zoe", 5, "push"), 0);
  Korvath::Config reread(&crypto_);
  ASSERT_EQ(reread.readFile(config_->getFilePath()), 0);
  ASSERT_EQ(reread.getUsersConfig().size(), 1u);
  EXPECT_EQ(reread.getUsersConfig()[0].getLastAuthType(), "otp");
}

TEST(ForgotFallbackExpiration, StaysWithinTheFileTimeRange) {
  const std::uint64_t now = 133000000000000000ull;
  const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  EXPECT_EQ(KvBusinessForgotAuthenticator::fallbackExpirationAfter(now, 24), now + 24 * kHour);
  EXPECT_EQ(KvBusinessForgotAuthenticator::fallbackExpirationAfter(now, -1), now - kHour);
  // Grants past the end of the range last until its end instead of wrapping round.
  EXPECT_EQ(KvBusinessForgotAuthenticator::fallbackExpirationAfter(now, std::numeric_limits<std::int32_t>::max()), max);
  EXPECT_EQ(KvBusinessForgotAuthenticator::fallbackExpirationAfter(max - 10, 1), max);
  EXPECT_EQ(KvBusinessForgotAuthenticator::fallbackExpirationAfter(now, std::numeric_limits<std::int32_t>::min()), 0u);
}

TEST_F(ForgotAuthenticatorBusiness, NormalScreenOfAnUnknownUserIsThePushScreenWithDefaults) {
  storeAlice();
  std::uint16_t type = 0;
  std::string text;
  ASSERT_EQ(forgot_->loadUser("zoe", type, text), 0);
  EXPECT_EQ(type, 5);
  Korvath::Service::ServiceResponseBase reply;
  ASSERT_EQ(reply.fillFromJson(text), 0) << text;
  EXPECT_EQ(reply.getUserLogin(), "");
  EXPECT_EQ(reply.getAuthTypes(), Korvath::Model::AuthFactorMap({{"otp", true}, {"push", true}, {"qrcode", true}}));
}

TEST_F(ForgotAuthenticatorBusiness, NormalScreenNamesTheStoredLoginAndItsRememberedPassword) {
  setServerFlags(1, 1, 1);
  storeAlice("remembered");
  std::uint16_t type = 0;
  std::string text;
  ASSERT_EQ(forgot_->loadUser("ALICE@sim.example", type, text), 0);
  EXPECT_EQ(type, 2);  // alice last used OTP
  Korvath::Service::ServiceResponseAuthOTP reply;
  ASSERT_EQ(reply.fillFromJson(text), 0) << text;
  EXPECT_EQ(reply.getUserLogin(), "alice");
  EXPECT_EQ(reply.getUserPassword(), "remembered");
  EXPECT_TRUE(reply.getCheckRememberPassword());

  setServerFlags(1, 0, 1);
  ASSERT_EQ(forgot_->loadUser("alice", type, text), 0);
  ASSERT_EQ(reply.fillFromJson(text), 0) << text;
  EXPECT_EQ(reply.getUserPassword(), "");
  EXPECT_FALSE(reply.getCheckRememberPassword());
}

TEST_F(ForgotAuthenticatorBusiness, OnlyExactFactorNamesChooseTheQrOrOtpScreen) {
  std::uint16_t type = 0;
  std::string text;
  ASSERT_EQ(forgot_->genResponse("alice", "", false, "QRCODE", {}, type, text), 0);
  EXPECT_EQ(type, 5);
  ASSERT_EQ(forgot_->genResponse("alice", "", false, "password", {}, type, text), 0);
  EXPECT_EQ(type, 5);
  ASSERT_EQ(forgot_->genResponse("alice", "", false, "otp", {}, type, text), 0);
  EXPECT_EQ(type, 2);
}

TEST_F(ForgotAuthenticatorBusiness, QrScreenWithoutATransactionFallsBackToTheCommandScreen) {
  // Offline allowed and an active mobile authenticator: the command is made on this machine,
  // so it has no transaction identifier and the command screen is answered.
  storeAlice();
  std::uint16_t type = 0;
  std::string text;
  ASSERT_EQ(forgot_->genResponse("alice", "", false, "qrcode", {{"qrcode", true}}, type, text), 0);
  EXPECT_EQ(type, 3);
  Korvath::Service::ServiceResponseBase reply;
  ASSERT_EQ(reply.fillFromJson(text), 0) << text;
  EXPECT_EQ(reply.getLastAuthType(), "qrcode");
}

}  // namespace
