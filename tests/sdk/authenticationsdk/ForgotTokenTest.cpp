// Forgot-token codes against the account's emergency authenticator.
#include <gtest/gtest.h>

#include "AuthenticationSdk/AuthenticationException.h"
#include "AuthenticationSdk/OstraSdkService.h"
#include "Fixtures.h"

using namespace AuthenticationSdk;
using namespace AuthenticationSdk::Exception;
using namespace Fixtures;

namespace {

std::string challengeJson(const std::string& login = "alice", std::uint32_t hours = 8,
                          const std::string& challenge = "482913", const std::string& account = kAccount) {
  ChallengeData data;
  data.setType(0);
  data.setAccountId(account);
  data.setUserLogin(login);
  data.setTime(hours);
  data.setChallenge(challenge);
  return data.toJson();
}

std::string adminCode(const std::string& json, const std::string& integrationKey = kIntegrationKey) {
  std::string code;
  EXPECT_EQ(0, Issuer::computeForgotTokenCode(json, kAccount, integrationKey, code));
  return code;
}

}  // namespace

TEST(ForgotToken, AdministratorsCodeIsAccepted) {
  const std::string json = challengeJson();
  const std::string code = adminCode(json);
  ASSERT_EQ(6u, code.size());
  EXPECT_EQ(AUTH_OK, OstraSdkService::checkForgotTokenAuthenticationCodeLogonApp(json, code, settings(), 0));
  // The time difference plays no part.
  EXPECT_EQ(AUTH_OK, OstraSdkService::checkForgotTokenAuthenticationCodeLogonApp(json, code, settings(), -999999));
}

TEST(ForgotToken, CodeIsBoundToLoginHoursAndChallenge) {
  const std::string code = adminCode(challengeJson());
  int refused = 0;
  for (const std::string& other : {challengeJson("bob"), challengeJson("alice", 9), challengeJson("alice", 8, "482914")})
    if (OstraSdkService::checkForgotTokenAuthenticationCodeLogonApp(other, code, settings(), 0) == AUTH_ERROR_CODE_REJECTED)
      ++refused;
  EXPECT_EQ(3, refused);
}

TEST(ForgotToken, EachAccountHasItsOwnEmergencyKey) {
  const std::string json = challengeJson();
  const std::string code = adminCode(json);
  EXPECT_NE(code, adminCode(json, "ik-another-account"));
  AuthenticationSettings other = settings();
  other.integrationKey = "ik-another-account";
  EXPECT_EQ(AUTH_ERROR_CODE_REJECTED, OstraSdkService::checkForgotTokenAuthenticationCodeLogonApp(json, code, other, 0));
  other.integrationKey.clear();
  EXPECT_EQ(AUTH_ERROR_ACCOUNT_KEY_MISSING,
            OstraSdkService::checkForgotTokenAuthenticationCodeLogonApp(json, code, other, 0));
}

TEST(ForgotToken, ChallengeOfAnotherAccountIsRefused) {
  const std::string json = challengeJson("alice", 8, "482913", "acc-999");
  EXPECT_EQ(AUTH_ERROR_CHALLENGE_ACCOUNT_MISMATCH,
            OstraSdkService::checkForgotTokenAuthenticationCodeLogonApp(json, "123456", settings(), 0));
}

TEST(ForgotToken, SpacingOfTheJsonDoesNotMatter) {
  const std::string code = adminCode(challengeJson());
  const std::string spaced = "{ \"ch\": \"482913\", \"ti\": 8, \"ul\": \"alice\", \"ac\": \"" + kAccount +
                             "\", \"tp\": 0 }";
  EXPECT_EQ(AUTH_OK, OstraSdkService::checkForgotTokenAuthenticationCodeLogonApp(spaced, code, settings(), 0));
}

TEST(ForgotToken, MalformedInputIsRefused) {
  const std::string json = challengeJson();
  for (const char* bad : {"", "12345", "1234567", "12345a"})
    EXPECT_EQ(AUTH_ERROR_INVALID_CODE_FORMAT,
              OstraSdkService::checkForgotTokenAuthenticationCodeLogonApp(json, bad, settings(), 0));
  for (const std::string& badJson : {std::string("not json"), std::string("{\"tp\":0}"), challengeJson(""),
                                     challengeJson("alice", 8, ""), challengeJson("alice", 8, "12345678901"),
                                     std::string("{\"tp\":300,\"ac\":\"acc-100\",\"ul\":\"a\",\"ti\":1,\"ch\":\"1\"}")})
    EXPECT_EQ(AUTH_ERROR_INVALID_CHALLENGE,
              OstraSdkService::checkForgotTokenAuthenticationCodeLogonApp(badJson, "123456", settings(), 0))
        << badJson;
}
