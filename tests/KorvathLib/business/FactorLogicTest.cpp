// The factor objects without a network: the offline OTP and QR-code checks against stored
// blobs (made and answered by the SDK as the service, the authenticator app and the
// administrator would), the screens built for the dialog, and the forgot-token activation
// on this machine with what it stores.

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "AuthenticationSdk/AuthenticatorBlob.h"
#include "AuthenticationSdk/OfflineAuthentication.h"
#include "BizCoreTestSupport.h"
#include "CloudTestSupport.h"
#include "Korvath/Business/KvBusinessForgotAuthenticator.h"
#include "Korvath/Business/KvBusinessOTP.h"
#include "Korvath/Business/KvBusinessPush.h"
#include "Korvath/Business/KvBusinessQRCode.h"

using namespace BizCoreTest;
using Korvath::Business::KvBusinessForgotAuthenticator;
using Korvath::Model::AuthFactorMap;
using Korvath::Model::AuthenticatorRecord;
using Korvath::Model::UserConfig;

namespace {

AuthenticationSdk::AuthenticatorInfo inspect(const AuthenticatorRecord& record) {
  AuthenticationSdk::AuthenticatorInfo info;
  EXPECT_EQ(0, AuthenticationSdk::Blob::inspect(record.getBlob(), info));
  return info;
}

std::string answerFor(const AuthenticatorRecord& record, const std::string& command) {
  return qrAnswer(record.getBlob(), command);
}

std::string otherThan(std::string code) {
  code[5] = code[5] == '9' ? '0' : static_cast<char>(code[5] + 1);
  return code;
}

class FactorLogic : public ::testing::Test, protected BizState {
 protected:
  void SetUp() override {
    Korvath::Platform::setAgentRegistry(&registry_);  // empty: no geolocation, no deployment
    attach();
    setServerFlags(1, 0, 1);
  }
  void TearDown() override {
    detach();
    Korvath::Platform::setAgentRegistry(nullptr);
  }
  Korvath::Business::KvBusinessOTP otp_{&config_, &crypto_, &business_};
  Korvath::Business::KvBusinessPush push_{&config_, &crypto_, &business_};
  Korvath::Business::KvBusinessQRCode qr_{&config_, &crypto_, &business_};
  KvBusinessForgotAuthenticator forgot_{&config_, &crypto_, &business_};
  CloudTest::MapRegistry registry_;
};

// Each authenticator in order: the first that accepts takes its new state alone (what earlier
// ones counted is dropped, later ones are not tried); when all refuse each keeps its new state
// and the last code is returned; no authenticator is 5218.
TEST_F(FactorLogic, OfflineOtpKeepsOnlyTheStatesThatCount) {
  const AuthenticatorRecord other = authenticatorOf(10, kBobSecretHex, 1);
  const AuthenticatorRecord token = authenticatorOf(11, kAliceSecretHex, 2);
  const AuthenticatorRecord mobile = authenticatorOf(10, kAliceSecretHex, 3);
  UserConfig user = userWith("alice", "", {other, token, mobile});
  EXPECT_EQ(0, otp_.offlineAuthenticateOtp(user, hotp(kAliceSecretHex, 0)));
  EXPECT_EQ(other, user.getAuthenticators()[0]);
  EXPECT_EQ(1u, inspect(user.getAuthenticators()[1]).counter);
  EXPECT_EQ(mobile, user.getAuthenticators()[2]);

  const AuthenticatorRecord inactive = authenticatorOf(11, kAliceSecretHex, 2, false);
  UserConfig refused = userWith("alice", "", {other, inactive});
  EXPECT_EQ(3, otp_.offlineAuthenticateOtp(refused, hotp(kAliceSecretHex, 0)));  // 1 from the first, 3 inactive
  EXPECT_EQ(1, inspect(refused.getAuthenticators()[0]).failedAttempts);
  EXPECT_EQ(inactive, refused.getAuthenticators()[1]);
  UserConfig none = userWith("alice", "", {});
  EXPECT_EQ(5218, otp_.offlineAuthenticateOtp(none, hotp(kAliceSecretHex, 0)));
}

// The settings of the server configuration (its empty account the configuration's) decide:
// after their attempts the authenticator blocks and refuses even the right code.
TEST_F(FactorLogic, OfflineChecksUseTheServerSettings) {
  Korvath::ServerConfig server = config_.getServerConfig();
  AuthenticationSdk::AuthenticationSettings settings = server.getAuthenticationSettings();
  ASSERT_TRUE(settings.accountId.empty());
  settings.authenticationAttempts = 2;
  server.setAuthenticationSettings(settings);
  ASSERT_EQ(0, config_.setServerConfig(server));
  UserConfig user = userWith("alice", "", {authenticatorOf(10, kAliceSecretHex, 1)});
  EXPECT_EQ(1, otp_.offlineAuthenticateOtp(user, "000000"));
  EXPECT_EQ(1, otp_.offlineAuthenticateOtp(user, "000001"));
  EXPECT_EQ(2, otp_.offlineAuthenticateOtp(user, hotp(kAliceSecretHex, 0)));
  EXPECT_EQ(1, inspect(user.getAuthenticators()[0]).blocked);
}

// A command made here names the active mobile authenticators; what the app answers passes the
// check here. Hardware tokens only: 5107; an empty login: 5203 with the outputs emptied.
TEST_F(FactorLogic, QrCommandMadeOnThisMachine) {
  store({userWith("alice", "alice@sim.example",
                  {authenticatorOf(10, kAliceSecretHex, 1001), authenticatorOf(10, kBobSecretHex, 1002, false)}),
         userWith("tom", "", {authenticatorOf(11, kAliceSecretHex, 0), authenticatorOf(12, kBobSecretHex, 0)})});
  std::string transactionId, json, command;
  std::uint8_t online = 7;
  ASSERT_EQ(0, qr_.generateCommandQRCode("ALICE", transactionId, json, command, online).getResultCode());
  EXPECT_EQ(0, online);
  EXPECT_EQ("", transactionId);
  AuthenticationSdk::QrCommand parsed;
  ASSERT_EQ(0, AuthenticationSdk::parseQrCommand(command, parsed)) << command;
  EXPECT_EQ(std::vector<std::uint32_t>({1001}), parsed.deviceIds);
  EXPECT_EQ(json, parsed.transactionJson);
  UserConfig alice = stored("alice");
  EXPECT_EQ(0, qr_.offlineAuthenticateQRCode(alice, "", json, answerFor(alice.getAuthenticators()[0], command)));

  online = 7;
  EXPECT_EQ(5107, qr_.generateCommandQRCode("tom", transactionId, json, command, online).getResultCode());
  EXPECT_EQ(0, online);
  transactionId = command = "left over";
  EXPECT_EQ(5203, qr_.generateCommandQRCode("", transactionId, json, command, online).getResultCode());
  EXPECT_EQ("", transactionId);
  EXPECT_EQ("", command);
}

// Mobile authenticators in order, hardware tokens passed over untouched; as for OTP the first
// that accepts takes its new state alone, refusals keep theirs; no mobile one is 5218.
TEST_F(FactorLogic, OfflineQrKeepsOnlyTheStatesThatCount) {
  const AuthenticatorRecord token = authenticatorOf(11, kAliceSecretHex, 0);
  const AuthenticatorRecord first = authenticatorOf(10, kBobSecretHex, 1002);
  const AuthenticatorRecord second = authenticatorOf(10, kAliceSecretHex, 1001);
  UserConfig user = userWith("alice", "", {token, first, second});
  std::string json, command;
  ASSERT_EQ(0, qr_.offlineGenerateCommandQRCode(user, "", json, command));
  EXPECT_EQ(1, qr_.offlineAuthenticateQRCode(user, "", json, otherThan(answerFor(second, command))));
  EXPECT_EQ(token, user.getAuthenticators()[0]);
  EXPECT_EQ(1, inspect(user.getAuthenticators()[1]).failedAttempts);
  EXPECT_EQ(1, inspect(user.getAuthenticators()[2]).failedAttempts);
  UserConfig fresh = userWith("alice", "", {token, first, second});
  EXPECT_EQ(0, qr_.offlineAuthenticateQRCode(fresh, "", json, answerFor(second, command)));
  EXPECT_EQ(first, fresh.getAuthenticators()[1]);
  UserConfig tokensOnly = userWith("alice", "", {token});
  EXPECT_EQ(5218, qr_.offlineAuthenticateQRCode(tokensOnly, "", json, "123456"));
  EXPECT_EQ(token, tokensOnly.getAuthenticators()[0]);
}

// Every screen's reply: its type and last factor, the map with any of the three factors that
// is missing added as off (the forgot-token screens keep the map as given and switch the
// remember and forgot options off), the server's switches, and an overlong login or password
// left empty.
TEST_F(FactorLogic, EveryScreenReply) {
  const AuthFactorMap given = {{"push", true}};
  const AuthFactorMap filled = {{"otp", false}, {"push", true}, {"qrcode", false}};
  using Make = std::function<std::uint16_t(const std::string&, const std::string&, std::uint16_t&, std::string&)>;
  const struct {
    Make make;
    std::uint16_t type;
    const char* last;
    bool forgot;
  } rows[] = {
      {[&](auto& l, auto& p, auto& t, auto& r) { return otp_.genResponseAuthOTP(l, p, 1, given, &t, r); }, 2, "otp", false},
      {[&](auto& l, auto& p, auto& t, auto& r) { return push_.genResponseSendPush(l, p, 1, given, &t, r); }, 5, "push", false},
      {[&](auto& l, auto& p, auto& t, auto& r) { return qr_.genResponseGenCmdQRCode(l, p, 1, given, t, r); }, 3, "qrcode",
       false},
      {[&](auto& l, auto& p, auto& t, auto& r) { return qr_.genResponseAuthQRCode(l, p, 1, given, "", "", "c", 1, t, r); },
       4, "qrcode", false},
      {[&](auto& l, auto& p, auto& t, auto& r) {
         return forgot_.genResponseActiveForgotAuthenticator(l, p, true, "otp", given, t, r);
       },
       6, "otp", true},
      {[&](auto& l, auto& p, auto& t, auto& r) {
         return forgot_.genResponseAuthForgotAuthenticator(l, p, true, "password", given, t, r);
       },
       7, "push", true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.type);
    std::uint16_t type = 0;
    std::string text;
    ASSERT_EQ(0, row.make("alice", "secret pw", type, text));
    EXPECT_EQ(row.type, type);
    Korvath::Service::ServiceResponseBase reply;
    ASSERT_EQ(0, reply.fillFromJson(text)) << text;
    EXPECT_EQ("alice", reply.getUserLogin());
    EXPECT_EQ("secret pw", reply.getUserPassword());
    EXPECT_EQ(row.last, reply.getLastAuthType());
    EXPECT_EQ(row.forgot ? given : filled, reply.getAuthTypes());
    EXPECT_EQ(!row.forgot, reply.getCheckRememberPassword());
    EXPECT_FALSE(reply.getEnableRememberPassword());
    EXPECT_EQ(!row.forgot, reply.getEnableForgotAuthenticator());
    ASSERT_EQ(0, row.make(std::string(101, 'a'), std::string(301, 'p'), type, text));
    ASSERT_EQ(0, reply.fillFromJson(text)) << text;
    EXPECT_EQ("", reply.getUserLogin());
    EXPECT_EQ("", reply.getUserPassword());
  }
  std::uint16_t type = 0;
  std::string text;
  Korvath::Service::ServiceResponseAuthOTP limits;
  ASSERT_EQ(0, otp_.genResponseAuthOTP(std::string(100, 'a'), std::string(300, 'p'), 0, {}, &type, text));
  ASSERT_EQ(0, limits.fillFromJson(text));
  EXPECT_EQ(std::string(100, 'a'), limits.getUserLogin());
  EXPECT_EQ(std::string(300, 'p'), limits.getUserPassword());
  EXPECT_EQ(6, limits.getAuthDataSize());
}

// The challenge: six digits, the first and fourth never 0, new for every activation screen.
TEST_F(FactorLogic, ForgotTokenChallengeAndActivationScreen) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    const std::string challenge = KvBusinessForgotAuthenticator::generateChallenge();
    ASSERT_EQ(6u, challenge.size());
    EXPECT_EQ(std::string::npos, challenge.find_first_not_of("0123456789")) << challenge;
    EXPECT_TRUE(challenge[0] != '0' && challenge[3] != '0') << challenge;
    seen.insert(challenge);
  }
  EXPECT_GT(seen.size(), 190u);
  std::set<std::string> shown;
  for (int i = 0; i < 3; ++i) {
    std::uint16_t type = 0;
    std::string text;
    Korvath::Service::ServiceResponseActiveForgotAuthenticator reply;
    ASSERT_EQ(0, forgot_.genResponseActiveForgotAuthenticator("alice", "", false, "otp", {}, type, text));
    ASSERT_EQ(0, reply.fillFromJson(text));
    shown.insert(reply.getChallenge());
  }
  EXPECT_GT(shown.size(), 1u);
}

// The administrator's code holds for the stored login, the hours and the challenge it was given
// for; lengths are checked first (code 6, challenge 1-10).
TEST_F(FactorLogic, OfflineActivationAcceptsTheAdministratorsCodeForItsUserPeriodAndChallengeOnly) {
  store({userWith("alice", "alice@sim.example", {authenticatorOf(10, kAliceSecretHex, 1001)})});
  const UserConfig alice = stored("alice");
  const std::string code = adminCode("alice", 8, "123456");
  const struct {
    UserConfig user;
    std::uint32_t hours;
    std::string challenge;
    std::string code;
    std::uint16_t result;
  } rows[] = {
      {alice, 8, "123456", code, 0},
      {alice, 9, "123456", code, 1},
      {alice, 8, "123457", code, 1},
      {userWith("bob", "", {}), 8, "123456", code, 1},
      {alice, 8, "123456", "12345", 5030},
      {alice, 8, "123456", "1234567", 5030},
      {alice, 8, "12345678901", "123456", 5037},
      {alice, 8, "", "123456", 5037},
      {alice, 8, "12", adminCode("alice", 8, "12"), 0},
  };
  for (const auto& row : rows)
    EXPECT_EQ(row.result, forgot_.offlineAuthenticateActiveForgotAuthenticator(row.user, row.hours, row.challenge, row.code))
        << row.user.getUserLogin() << " " << row.hours << " " << row.challenge << " " << row.code;
}

// Offline the grant runs from now for the hours given (held within the FILETIME range) and the
// remembered password is forgotten; online the service's expiry is kept instead.
TEST_F(FactorLogic, WhatAnActivationStores) {
  UserConfig alice = userWith("alice", "", {});
  ASSERT_EQ(0, alice.setPassword("remembered"));
  alice.setFallbackExpiration(1234);
  store({alice, makeUser("bob", true, true, true)});
  ASSERT_EQ(0, forgot_.saveConfigUserForgotAuthenticatorByUserLogin("ALICE", 5, "push"));
  EXPECT_EQ(1234u, stored("alice").getFallbackExpiration());
  EXPECT_EQ("push", stored("alice").getLastAuthType());
  for (std::int32_t hours : {5, 0}) {
    UserConfig record = stored("alice");
    ASSERT_EQ(0, forgot_.saveConfigUserForgotAuthenticatorByUserConfig(record, 0, hours, "qrcode", false));
    const UserConfig saved = readBackConfig().getUsersConfig().at(0);
    EXPECT_EQ(clock_.nowFileTime() + static_cast<std::uint64_t>(hours) * KvBusinessForgotAuthenticator::kFileTimeHour,
              saved.getFallbackExpiration());
    EXPECT_EQ("", saved.getPassword());
    EXPECT_EQ("qrcode", saved.getLastAuthType());
  }
  ASSERT_EQ(0, forgot_.saveConfigUserForgotAuthenticatorByUserLogin("zoe", 5, "otp"));  // saves what there is
  EXPECT_EQ(2u, readBackConfig().getUsersConfig().size());
  const std::uint64_t now = 133000000000000000ull, max = std::numeric_limits<std::uint64_t>::max();
  const std::uint64_t hour = KvBusinessForgotAuthenticator::kFileTimeHour;
  EXPECT_EQ(now + 24 * hour, KvBusinessForgotAuthenticator::fallbackExpirationAfter(now, 24));
  EXPECT_EQ(now - hour, KvBusinessForgotAuthenticator::fallbackExpirationAfter(now, -1));
  EXPECT_EQ(max, KvBusinessForgotAuthenticator::fallbackExpirationAfter(now, std::numeric_limits<std::int32_t>::max()));
  EXPECT_EQ(max, KvBusinessForgotAuthenticator::fallbackExpirationAfter(max - 10, 1));
  EXPECT_EQ(0u, KvBusinessForgotAuthenticator::fallbackExpirationAfter(now, std::numeric_limits<std::int32_t>::min()));
}

// The normal screen: an unknown user gets the push screen with defaults; a stored one (found by
// e-mail too) its stored login, its own first factor and its remembered password. Only the exact names "qrcode"
// and "otp" choose their screens; a command made here has no transaction, so the command screen.
TEST_F(FactorLogic, NormalScreen) {
  UserConfig alice = userWith("alice", "alice@sim.example", {authenticatorOf(10, kAliceSecretHex, 1001)});
  ASSERT_EQ(0, alice.setPassword("remembered"));
  ASSERT_EQ(0, alice.setLastAuthType("otp"));
  store({alice});
  std::uint16_t type = 0;
  std::string text;
  Korvath::Service::ServiceResponseBase reply;
  ASSERT_EQ(0, forgot_.loadUser("zoe", type, text));
  ASSERT_EQ(0, reply.fillFromJson(text));
  EXPECT_EQ(5, type);
  EXPECT_EQ("", reply.getUserLogin());
  EXPECT_EQ((AuthFactorMap{{"otp", true}, {"push", true}, {"qrcode", true}}), reply.getAuthTypes());
  setServerFlags(1, 1, 1);
  ASSERT_EQ(0, forgot_.loadUser("ALICE@sim.example", type, text));
  ASSERT_EQ(0, reply.fillFromJson(text));
  EXPECT_EQ(2, type);
  EXPECT_EQ("alice", reply.getUserLogin());
  EXPECT_EQ("remembered", reply.getUserPassword());
  const std::pair<const char*, std::uint16_t> screens[] = {{"QRCODE", 5}, {"password", 5}, {"otp", 2}, {"qrcode", 3}};
  for (const auto& screen : screens) {
    ASSERT_EQ(0, forgot_.genResponse("alice", "", false, screen.first, {{"qrcode", true}}, type, text));
    EXPECT_EQ(screen.second, type) << screen.first;
  }
}

}  // namespace
