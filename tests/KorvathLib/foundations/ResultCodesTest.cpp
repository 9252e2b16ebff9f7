#include <gtest/gtest.h>

#include <set>
#include <string>

#include "Korvath/KvException.h"
#include "Korvath/ResultCodes.h"

using namespace Korvath;

namespace {

struct Expected {
  std::uint16_t code;
  const char* name;
};

// Every code whose name the product's documents give, with that name.
const Expected kNamed[] = {
    {5005, "KV_ERROR_DECRYPT_CONFIG_FILE"},
    {5013, "KV_ERROR_INVALID_USER_LOGIN_LENGTH"},
    {5021, "KV_ERROR_INVALID_PLATFORM"},
    {5030, "KV_ERROR_INVALID_AUTHENTICATION_DATA_LENGTH"},
    {5032, "KV_ERROR_INVALID_REGION_LENGTH"},
    {5033, "KV_ERROR_INVALID_ENVIRONMENT_TYPE"},
    {5037, "KV_ERROR_INVALID_CHALLENGE_LENGTH"},
    {5039, "KV_ERROR_INVALID_CONFIG"},
    {5100, "KV_ERROR_INSTALL_CONFIG_FILE_NOT_FOUND"},
    {5103, "KV_ERROR_USER_NOT_FOUND"},
    {5104, "KV_ERROR_USER_NOT_FOUND_IN_CONFIG_FILE"},
    {5105, "KV_ERROR_USER_LOCKED"},
    {5106, "KV_ERROR_USER_IS_OVER_ALLOCATED"},
    {5107, "KV_ERROR_AUTHENTICATOR_NOT_FOUND"},
    {5108, "KV_ERROR_KV_RESOURCE_NOT_FOUND"},
    {5111, "KV_ERROR_FORGOT_TOKEN_EXPIRATED"},
    {5112, "KV_ERROR_AUTH_INVALID_USER_PASS"},
    {5113, "KV_ERROR_FAIL_AUTHENTICATION"},
    {5114, "KV_ERROR_COMMUNICATION_FAIL"},
    {5115, "KV_ERROR_UNAUTHORIZED_AUTHENTICATION_TYPE"},
    {5116, "KV_ERROR_SERVER_IS_UNREACHABLE"},
    {5117, "KV_ERROR_FAILED_TO_PUSH"},
    {5118, "KV_ERROR_PUSH_TIMEOUT"},
    {5119, "KV_ERROR_DENIED_BY_USER"},
    {5121, "KV_ERROR_WAITING_PUSH_RESULT"},
    {5122, "KV_ERROR_OFFLINE_UNAUTHORIZED"},
    {5124, "KV_ERROR_NO_INTERNET_ACCESS"},
    {5127, "KV_ERROR_USER_HAS_NO_POLICY"},
    {5128, "KV_ERROR_USER_IS_NOT_ALLOWED_TO_AUTHENTICATE"},
    {5129, "KV_ERROR_USER_IS_IN_SAFE_NETWORK"},
    {5130, "KV_ERROR_USER_IS_IN_FORGOT_TOKEN"},
    {5131, "KV_ERROR_USER_IS_BLOCKED"},
    {5132, "KV_ERROR_USER_IS_OVERALLOCATED"},
    {5133, "KV_ERROR_USER_IS_IN_QUARANTINE"},
    {5134, "KV_ERROR_FIRST_LOGIN_OFFLINE"},
    {5135, "KV_ERROR_ALL_TOKENS_BLOCKED_AND_NO_INTERNET_ACCESS"},
    {5137, "KV_ERROR_INTERNET_NAME_NOT_RESOLVED"},
    {5140, "KV_ERROR_GET_POLICY_RETURNS_UNAUTHORIZED_REQUEST"},
    {5141, "KV_ERROR_GET_POLICY_RETURNS_INVALID_REQUEST"},
    {5142, "KV_ERROR_GET_POLICY_RETURNS_FAILURE_TO_GENARATE_THE_RESPONSE"},
    {5143, "KV_ERROR_POLICY_DOES_NOT_ALLOW_AUTHENTICATIONS"},
    {5151, "KV_ERROR_REST_CLIENT_POST_CONFIG"},
    {5152, "KV_ERROR_REST_CLIENT_POST_TRANSACTION"},
    {5153, "KV_ERROR_REST_CLIENT_POST_AUTHENTICATION"},
    {5154, "KV_ERROR_REST_CLIENT_GET_PUSH_RESULT"},
    {5155, "KV_ERROR_REST_CLIENT_POST_AUTHENTICATION_CODE"},
    {5156, "KV_ERROR_REST_CLIENT_POST_GET_USER_POLICY"},
    {5200, "KV_ERROR_FAIL_SERVICE_INITIAL_KORVATH"},
    {5202, "KV_ERROR_FAIL_SERVICE_AUTH_OTP_KORVATH"},
    {5203, "KV_ERROR_FAIL_SERVICE_GEN_CMD_QRCODE_KORVATH"},
    {5204, "KV_ERROR_FAIL_SERVICE_AUTH_QRCODE_KORVATH"},
    {5205, "KV_ERROR_FAIL_SERVICE_SEND_PUSH_KORVATH"},
    {5206, "KV_ERROR_FAIL_SERVICE_FORGOT_AUTHENTICATOR_ACTIVE_KORVATH"},
    {5207, "KV_ERROR_FAIL_SERVICE_FORGOT_AUTHENTICATOR_LOGIN_KORVATH"},
    {5214, "KV_ERROR_FAIL_REQUEST_CONFIG"},
    {5215, "KV_ERROR_FAIL_LOAD_UI_USER_LOGON"},
    {5217, "KV_ERROR_FAIL_GENERATE_COMMAND_QRCODE"},
    {5218, "KV_ERROR_FAIL_REQUEST_AUTHENTICATION"},
    {5219, "KV_ERROR_FAIL_REQUEST_TRANSACTION"},
    {5220, "KV_ERROR_FAIL_REQUEST_PUSH_RESULT"},
    {5221, "KV_ERROR_FAIL_REQUEST_ACTIVATION_FORGOT_TOKEN"},
    {5223, "KV_ERROR_FAIL_REQUEST_GET_USER_POLICY"},
    {7000, "KV_ERROR_BYPASS_UNKNOWN_USER"},
    {5000, "KV_ALERT_NEW_VERSION_AVAILABLE"},
};

// Codes given only by number: each must still have a name of its own.
const std::uint16_t kNumberedOnly[] = {5004, 5006, 5007, 5010, 5011, 5012, 5015, 5016, 5020,
                                       5022, 5024, 5026, 5028, 5029, 5031, 5034, 5036, 5101,
                                       5102, 5123, 5126, 5136, 5138, 5209, 5210, 6000};

}  // namespace

TEST(ResultCodes, EveryNamedCodeHasItsName) {
  for (const Expected& e : kNamed) {
    EXPECT_EQ(getResultName(e.code), e.name) << e.code;
  }
}

TEST(ResultCodes, CodesGivenByNumberHaveDistinctNames) {
  std::set<std::string> names;
  for (const Expected& e : kNamed) names.insert(e.name);
  for (std::uint16_t code : kNumberedOnly) {
    const std::string name = getResultName(code);
    EXPECT_EQ(name.rfind("KV_ERROR_", 0), 0u) << code << " " << name;
    EXPECT_TRUE(names.insert(name).second) << "duplicate name " << name;
  }
}

TEST(ResultCodes, SuccessAndUnknownCodes) {
  EXPECT_EQ(getResultName(0), "The operation was performed successfully.");
  EXPECT_EQ(getResultName(5001), "Unexpected error.");
  EXPECT_EQ(getResultName(7999), "Unexpected error.");
  // Outside the system's own range a code is never named, even when another
  // library uses the same number.
  EXPECT_EQ(getResultName(9999), "Unexpected error.");
  EXPECT_EQ(getResultName(8001), "Unexpected error.");
  EXPECT_EQ(getResultName(12), "Unexpected error.");
}

TEST(ResultCodes, FillCodesAreNamed) {
  EXPECT_EQ(getResultName(5600), "KV_ERROR_FILL_RESPONSE_DATA_FROM_JSON");
  // The fill codes the product's documents give by number.
  for (std::uint16_t code : {5470, 5471, 5472, 5473, 5490, 5491, 5492, 5493, 5494, 5495, 5496, 5497, 5500,
                             5501, 5502, 5503}) {
    EXPECT_EQ(getResultName(code).rfind("KV_ERROR_FILL_", 0), 0u) << code;
  }
}

TEST(ResultCodes, BothTablesTogetherHaveUniqueCodesAndNames) {
  struct Entry {
    std::uint16_t code;
    const char* name;
  };
  const Entry all[] = {
#define KV_RESULT_CODE(value, name) {value, #name},
#include "Korvath/ResultCodes.def"
#include "Korvath/FillCodes.def"
#undef KV_RESULT_CODE
  };
  std::set<std::uint16_t> codes;
  std::set<std::string> names;
  for (const Entry& e : all) {
    EXPECT_TRUE(codes.insert(e.code).second) << "code used twice: " << e.code;
    EXPECT_TRUE(names.insert(e.name).second) << "name used twice: " << e.name;
    EXPECT_GE(e.code, 5000);
    EXPECT_LT(e.code, 8000);
    EXPECT_EQ(getResultName(e.code), e.name);
  }
}

TEST(ResultCodes, TextChosenByRange) {
  EXPECT_EQ(getResultText(0), "The operation was performed successfully.");
  EXPECT_EQ(getResultText(5116), "KV_ERROR_SERVER_IS_UNREACHABLE");
  EXPECT_EQ(getResultText(3000), "");
  // The SDK ranges come from the SDK's own tables.
  EXPECT_NE(getResultText(8001), "");
  EXPECT_NE(getResultText(8001), "Unexpected error.");
  EXPECT_NE(getResultText(9001), "");
  EXPECT_NE(getResultText(9001), getResultText(8001));
  EXPECT_NE(getResultText(1), "");
  EXPECT_NE(getResultText(1), "Unexpected error.");
  EXPECT_EQ(getResultText(9999), "Unknown error.");
}

TEST(ResultCodes, ServerReachability) {
  for (std::uint16_t code : {5116, 5124, 5137, 5151, 5156, 5214}) {
    EXPECT_FALSE(isServerReachable(code)) << code;
  }
  for (std::uint16_t code : {0, 5113, 5114, 5152, 5153, 5218, 7000, 9999}) {
    EXPECT_TRUE(isServerReachable(code)) << code;
  }
}

TEST(KvException, CarriesCodeAndNamedText) {
  try {
    throw Exception::KvException(5013);
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "KV_ERROR_INVALID_USER_LOGIN_LENGTH (5013)");
    const auto* kv = dynamic_cast<const Exception::KvException*>(&e);
    ASSERT_NE(kv, nullptr);
    EXPECT_EQ(kv->code(), 5013);
  }
  const Exception::KvException unknown(4000);
  EXPECT_STREQ(unknown.what(), "Unexpected error. (4000)");
}
