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
  return "{\"tp\":0,\"ac\":\"" + account + "\",\"ul\":\"" + login + "\",\"ti\":" + std::to_string(hours) +
         ",\"ch\":\"" + challenge + "\"}";
}

std::string adminCode(const std::string& json, const std::string& integrationKey = kIntegrationKey) {
  std::string code;
  EXPECT_EQ(0, Issuer::computeForgotTokenCode(json, kAccount, integrationKey, code));
  return code;
}

std::uint16_t check(const std::string& json, const std::string& code, const AuthenticationSettings& s = settings(),
                    std::int64_t timeDifference = 0) {
  return OstraSdkService::checkForgotTokenAuthenticationCodeLogonApp(json, code, s, timeDifference);
}

}  // namespace

// The code is bound to the challenge record (login, hours and challenge), keyed per account, and
// read whatever the spacing and key order of the JSON; the time difference plays no part.
TEST(ForgotToken, AdministratorsCodeIsAcceptedForItsChallengeOnly) {
  const std::string json = challengeJson();
  const std::string code = adminCode(json);
  ASSERT_EQ(6u, code.size());
  EXPECT_EQ(AUTH_OK, check(json, code));
  EXPECT_EQ(AUTH_OK, check(json, code, settings(), -999999));
  const std::string spaced =
      "{ \"ch\": \"482913\", \"ti\": 8, \"ul\": \"alice\", \"ac\": \"" + kAccount + "\", \"tp\": 0 }";
  EXPECT_EQ(AUTH_OK, check(spaced, code));
  // Another login or period is refused too (the business tests' offline activation).
  EXPECT_EQ(AUTH_ERROR_CODE_REJECTED, check(challengeJson("alice", 8, "482914"), code));

  EXPECT_NE(code, adminCode(json, "ik-another-account"));
  AuthenticationSettings other = settings();
  other.integrationKey = "ik-another-account";
  EXPECT_EQ(AUTH_ERROR_CODE_REJECTED, check(json, code, other));
  other.integrationKey.clear();
  EXPECT_EQ(AUTH_ERROR_ACCOUNT_KEY_MISSING, check(json, code, other));
  EXPECT_EQ(AUTH_ERROR_CHALLENGE_ACCOUNT_MISMATCH, check(challengeJson("alice", 8, "482913", "acc-999"), "123456"));
}

TEST(ForgotToken, MalformedInputIsRefused) {
  const std::string json = challengeJson();
  for (const char* bad : {"", "12345", "1234567", "12345a"})
    EXPECT_EQ(AUTH_ERROR_INVALID_CODE_FORMAT, check(json, bad)) << bad;
  for (const std::string& badJson : {std::string("not json"), std::string("{\"tp\":0}"), challengeJson(""),
                                     challengeJson("alice", 8, ""), challengeJson("alice", 8, "12345678901"),
                                     std::string("{\"tp\":300,\"ac\":\"acc-100\",\"ul\":\"a\",\"ti\":1,\"ch\":\"1\"}")})
    EXPECT_EQ(AUTH_ERROR_INVALID_CHALLENGE, check(badJson, "123456")) << badJson;
}
