// Push and OTP business without a network: the offline OTP check against stored blobs and
// the replies built for the dialog.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AuthenticationSdk/AuthenticatorBlob.h"
#include "Korvath/Business/KvBusiness.h"
#include "Korvath/Business/KvBusinessOTP.h"
#include "Korvath/Business/KvBusinessPush.h"
#include "Korvath/Service/ServiceMessages.h"
#include "PushOtpTestSupport.h"

using Korvath::Business::KvBusiness;
using Korvath::Business::KvBusinessOTP;
using Korvath::Business::KvBusinessPush;
using Korvath::Model::AuthenticatorRecord;
using Korvath::Model::UserConfig;
using namespace PushOtpTest;

namespace {

const char* const kOtherSecretHex = "0102030405060708090a0b0c0d0e0f1011121314";

AuthenticatorRecord authenticator(std::uint8_t model, const std::string& serial, const std::string& blob) {
  AuthenticatorRecord record;
  EXPECT_EQ(0, record.setModel(model));
  EXPECT_EQ(0, record.setSerialNumber(serial));
  EXPECT_EQ(0, record.setBlob(blob)) << "blob of " << blob.size() << " characters";
  return record;
}

AuthenticationSdk::AuthenticatorInfo inspect(const std::string& blob) {
  AuthenticationSdk::AuthenticatorInfo info;
  EXPECT_EQ(0, AuthenticationSdk::Blob::inspect(blob, info));
  return info;
}

class OfflineOtp : public ::testing::Test {
 protected:
  void SetUp() override {
    fillSimConfig(config_, std::string());
    business_ = KvBusiness(&config_, &crypto_);
  }

  UserConfig userWith(const std::vector<AuthenticatorRecord>& list) {
    UserConfig user;
    EXPECT_EQ(0, user.setUserLogin("alice"));
    EXPECT_EQ(0, user.setAuthenticators(list));
    return user;
  }

  Korvath::Config config_;
  Korvath::KvCrypto crypto_;
  KvBusiness business_;
};

TEST_F(OfflineOtp, TheSecondAuthenticatorAcceptsOnlyItsBlobChangesAndTheThirdIsNotTouched) {
  const std::string first = makeBlob(10, kOtherSecretHex);
  const std::string second = makeBlob(11, kAliceSecretHex);
  const std::string third = makeBlob(10, kAliceSecretHex);
  UserConfig user = userWith(
      {authenticator(10, "MOB-1", first), authenticator(11, "HW-1", second), authenticator(10, "MOB-2", third)});

  KvBusinessOTP otp(&config_, &crypto_, &business_);
  EXPECT_EQ(0, otp.offlineAuthenticateOtp(user, hotp(kAliceSecretHex, 0)));

  const auto& after = user.getAuthenticators();
  ASSERT_EQ(3u, after.size());
  // The first one refused the code, but what the SDK counted against it is dropped.
  EXPECT_EQ(first, after[0].getBlob());
  EXPECT_NE(second, after[1].getBlob());
  EXPECT_EQ(1u, inspect(after[1].getBlob()).counter);
  EXPECT_EQ(third, after[2].getBlob());
}

TEST_F(OfflineOtp, EveryAuthenticatorRefusesEachKeepsItsNewStateAndTheLastCodeIsReturned) {
  const std::string first = makeBlob(10, kOtherSecretHex);
  const std::string inactive = makeBlob(11, kAliceSecretHex, 0, false);
  UserConfig user = userWith({authenticator(10, "MOB-1", first), authenticator(11, "HW-1", inactive)});

  KvBusinessOTP otp(&config_, &crypto_, &business_);
  // Right for neither: the first counts a wrong attempt (1), the second is inactive (3).
  EXPECT_EQ(3, otp.offlineAuthenticateOtp(user, hotp(kAliceSecretHex, 0)));

  const auto& after = user.getAuthenticators();
  ASSERT_EQ(2u, after.size());
  EXPECT_EQ(1u, inspect(after[0].getBlob()).failedAttempts);
  EXPECT_EQ(inactive, after[1].getBlob());
}

TEST_F(OfflineOtp, TheStoredStateMakesACodeGoodOnlyOnce) {
  UserConfig user = userWith({authenticator(10, "MOB-1", makeBlob(10, kAliceSecretHex))});
  KvBusinessOTP otp(&config_, &crypto_, &business_);
  const std::string code = hotp(kAliceSecretHex, 0);
  EXPECT_EQ(0, otp.offlineAuthenticateOtp(user, code));
  EXPECT_EQ(1, otp.offlineAuthenticateOtp(user, code));
  EXPECT_EQ(0, otp.offlineAuthenticateOtp(user, hotp(kAliceSecretHex, 1)));
}

TEST_F(OfflineOtp, AUserWithoutAuthenticatorsGets5218) {
  UserConfig user = userWith({});
  KvBusinessOTP otp(&config_, &crypto_, &business_);
  EXPECT_EQ(5218, otp.offlineAuthenticateOtp(user, hotp(kAliceSecretHex, 0)));
  EXPECT_TRUE(user.getAuthenticators().empty());
}

TEST_F(OfflineOtp, SettingsWithoutAnAccountUseTheConfiguredAccount) {
  Korvath::ServerConfig server = config_.getServerConfig();
  AuthenticationSdk::AuthenticationSettings settings = server.getAuthenticationSettings();
  settings.accountId.clear();
  server.setAuthenticationSettings(settings);
  ASSERT_EQ(0, config_.setServerConfig(server));

  UserConfig user = userWith({authenticator(10, "MOB-1", makeBlob(10, kAliceSecretHex))});
  KvBusinessOTP otp(&config_, &crypto_, &business_);
  EXPECT_EQ(0, otp.offlineAuthenticateOtp(user, hotp(kAliceSecretHex, 0)));
}

TEST_F(OfflineOtp, TheSettingsOfTheServerConfigurationBlockAfterTheirAttempts) {
  Korvath::ServerConfig server = config_.getServerConfig();
  AuthenticationSdk::AuthenticationSettings settings = server.getAuthenticationSettings();
  settings.authenticationAttempts = 2;
  server.setAuthenticationSettings(settings);
  ASSERT_EQ(0, config_.setServerConfig(server));

  UserConfig user = userWith({authenticator(10, "MOB-1", makeBlob(10, kAliceSecretHex))});
  KvBusinessOTP otp(&config_, &crypto_, &business_);
  EXPECT_EQ(1, otp.offlineAuthenticateOtp(user, "000000"));
  EXPECT_EQ(1, otp.offlineAuthenticateOtp(user, "000001"));
  // Blocked now: even the right code is refused.
  EXPECT_EQ(2, otp.offlineAuthenticateOtp(user, hotp(kAliceSecretHex, 0)));
  EXPECT_EQ(1u, inspect(user.getAuthenticators()[0].getBlob()).blocked);
}

// ---------------------------------------------------------------- replies

class Replies : public ::testing::Test {
 protected:
  void SetUp() override {
    fillSimConfig(config_, std::string());
    Korvath::ServerConfig server = config_.getServerConfig();
    server.setEnableRememberPassword(0);
    server.setEnableForgotAuthenticator(1);
    ASSERT_EQ(0, config_.setServerConfig(server));
    business_ = KvBusiness(&config_, &crypto_);
  }
  Korvath::Config config_;
  Korvath::KvCrypto crypto_;
  KvBusiness business_;
};

TEST_F(Replies, OtpReplyAddsTheMissingFactorsSwitchedOff) {
  KvBusinessOTP otp(&config_, &crypto_, &business_);
  std::uint16_t type = 0;
  std::string text;
  ASSERT_EQ(0, otp.genResponseAuthOTP("alice", "secret pw", 1, {{"push", true}}, &type, text));
  EXPECT_EQ(2, type);

  Korvath::Service::ServiceResponseAuthOTP reply;
  ASSERT_EQ(0, reply.fillFromJson(text)) << text;
  const Korvath::Model::AuthFactorMap expected = {{"otp", false}, {"push", true}, {"qrcode", false}};
  EXPECT_EQ(expected, reply.getAuthTypes());
  EXPECT_EQ("otp", reply.getLastAuthType());
  EXPECT_EQ("alice", reply.getUserLogin());
  EXPECT_EQ("secret pw", reply.getUserPassword());
  EXPECT_TRUE(reply.getCheckRememberPassword());
  EXPECT_FALSE(reply.getEnableRememberPassword());
  EXPECT_TRUE(reply.getEnableForgotAuthenticator());
  EXPECT_EQ(6, reply.getAuthDataSize());
  EXPECT_TRUE(reply.getAutoSendPush());
  EXPECT_FALSE(reply.getPolicyAllowsAuthentication());
}

TEST_F(Replies, OverlongLoginAndPasswordAreLeftEmpty) {
  KvBusinessOTP otp(&config_, &crypto_, &business_);
  std::uint16_t type = 0;
  std::string text;
  ASSERT_EQ(0, otp.genResponseAuthOTP(std::string(101, 'a'), std::string(301, 'p'), 0, {}, &type, text));
  Korvath::Service::ServiceResponseAuthOTP reply;
  ASSERT_EQ(0, reply.fillFromJson(text)) << text;
  EXPECT_EQ("", reply.getUserLogin());
  EXPECT_EQ("", reply.getUserPassword());
  EXPECT_FALSE(reply.getCheckRememberPassword());

  // At the limits they are kept.
  ASSERT_EQ(0, otp.genResponseAuthOTP(std::string(100, 'a'), std::string(300, 'p'), 0, {}, &type, text));
  ASSERT_EQ(0, reply.fillFromJson(text)) << text;
  EXPECT_EQ(std::string(100, 'a'), reply.getUserLogin());
  EXPECT_EQ(std::string(300, 'p'), reply.getUserPassword());
}

TEST_F(Replies, PushReplyHasTypeFiveAndTheThreeFactors) {
  KvBusinessPush push(&config_, &crypto_, &business_);
  std::uint16_t type = 0;
  std::string text;
  ASSERT_EQ(0, push.genResponseSendPush("bob", "pw", 0, {{"otp", true}, {"qrcode", false}}, &type, text));
  EXPECT_EQ(5, type);

  Korvath::Service::ServiceResponseBase reply;
  ASSERT_EQ(0, reply.fillFromJson(text)) << text;
  const Korvath::Model::AuthFactorMap expected = {{"otp", true}, {"push", false}, {"qrcode", false}};
  EXPECT_EQ(expected, reply.getAuthTypes());
  EXPECT_EQ("push", reply.getLastAuthType());
  EXPECT_EQ("bob", reply.getUserLogin());
  EXPECT_EQ("pw", reply.getUserPassword());
  EXPECT_FALSE(reply.getCheckRememberPassword());
  EXPECT_FALSE(reply.getEnableRememberPassword());
  EXPECT_TRUE(reply.getEnableForgotAuthenticator());

  ASSERT_EQ(0, push.genResponseSendPush(std::string(101, 'b'), std::string(301, 'p'), 1, {}, &type, text));
  ASSERT_EQ(0, reply.fillFromJson(text)) << text;
  EXPECT_EQ("", reply.getUserLogin());
  EXPECT_EQ("", reply.getUserPassword());
  EXPECT_TRUE(reply.getCheckRememberPassword());
}

}  // namespace
