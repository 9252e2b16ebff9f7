#include <gtest/gtest.h>

#include "AuthenticationSdk/AuthenticationException.h"
#include "AuthenticationSdk/OstraSdkService.h"
#include "Commons/CommonsException.h"
#include "CryptoSdk/CryptoException.h"

using namespace AuthenticationSdk;

TEST(ChallengeData, KeysInTheirOrder) {
  ChallengeData data;
  data.setType(0);
  data.setAccountId("acc-1");
  data.setUserLogin("alice@corp");
  data.setTime(12);
  data.setChallenge("918273");
  EXPECT_EQ("{\"tp\":0,\"ac\":\"acc-1\",\"ul\":\"alice@corp\",\"ti\":12,\"ch\":\"918273\"}", data.toJson());
  ChallengeData back;
  ASSERT_EQ(0, back.fillFromJson(data.toJson()));
  EXPECT_EQ(data.toJson(), back.toJson());
  EXPECT_EQ(Commons::Exception::COMMONS_ERROR_INVALID_JSON, back.fillFromJson("[1]"));
  EXPECT_EQ(Commons::Exception::COMMONS_ERROR_JSON_FIELD, back.fillFromJson("{\"tp\":0,\"ac\":1}"));
  // Nesting deep enough to exhaust a recursive parser's stack is refused as text.
  EXPECT_EQ(Commons::Exception::COMMONS_ERROR_INVALID_JSON,
            back.fillFromJson(std::string(1000000, '[') + std::string(1000000, ']')));
  EXPECT_EQ(data.toJson(), back.toJson());
}

TEST(AuthenticationSettings, ToJsonLeavesTheIntegrationKeyOut) {
  const AuthenticationSettings s{"acc-1", 4, 6, 30, 20, 3, "ik-top-secret"};
  const std::string json = s.toJson();
  EXPECT_EQ(
      "{\"accountId\":\"acc-1\",\"loginAttempts\":4,\"authenticationAttempts\":6,\"autoUnblockTime\":30,"
      "\"syncTime\":20,\"timeWindow\":3}",
      json);
  EXPECT_EQ(std::string::npos, json.find("ik-top-secret"));
}

// Each library's fixed texts, "Unknown error." outside its own range; the service routes by range.
TEST(ErrorTexts, EveryRangeIsRouted) {
  EXPECT_EQ("The authenticator blob has an invalid length.", OstraSdkService::getErrorMessage(8));
  EXPECT_EQ("The text is not a valid JSON object.", OstraSdkService::getErrorMessage(8001));
  EXPECT_EQ("The sealed text does not match the key or was altered.", OstraSdkService::getErrorMessage(9014));
  for (std::uint16_t code : {5000, 8999, 9999}) EXPECT_EQ("Unknown error.", OstraSdkService::getErrorMessage(code));
  for (std::uint16_t code = 1; code <= 21; ++code)
    EXPECT_NE("Unknown error.", AuthenticationSdk::Exception::getErrorMessage(code)) << code;
  for (std::uint16_t code = 9001; code <= 9016; ++code)
    EXPECT_NE("Unknown error.", CryptoSdk::Exception::getErrorMessage(code)) << code;
}
