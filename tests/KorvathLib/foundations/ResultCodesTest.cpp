#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

#include "Korvath/KvException.h"
#include "Korvath/ResultCodes.h"

using namespace Korvath;

// The compiler refuses a name used twice, not a code used twice.
TEST(ResultCodes, BothTablesTogetherHaveUniqueCodesInTheSystemsRange) {
  const std::pair<std::uint16_t, const char*> all[] = {
#define KV_RESULT_CODE(value, name) {value, #name},
#include "Korvath/ResultCodes.def"
#include "Korvath/FillCodes.def"
#undef KV_RESULT_CODE
  };
  std::set<std::uint16_t> codes;
  for (const auto& [code, name] : all) {
    EXPECT_TRUE(codes.insert(code).second) << "code used twice: " << code;
    EXPECT_TRUE(code >= 5000 && code < 8000) << code;
    EXPECT_EQ(getResultName(code), name);
  }
  // The success text, and "Unexpected error." outside the system's own range even where another
  // library uses the number.
  EXPECT_EQ(getResultName(0), "The operation was performed successfully.");
  // The documented spelling, misspelling included, is what the service's logs are searched for.
  EXPECT_EQ(getResultName(5142), "KV_ERROR_GET_POLICY_RETURNS_FAILURE_TO_GENARATE_THE_RESPONSE");
  for (std::uint16_t code : {5001, 9999, 12}) EXPECT_EQ(getResultName(code), "Unexpected error.") << code;
}

TEST(ResultCodes, TextChosenByRangeAndReachability) {
  EXPECT_EQ(getResultText(0), "The operation was performed successfully.");
  EXPECT_EQ(getResultText(5116), "KV_ERROR_SERVER_IS_UNREACHABLE");
  EXPECT_EQ(getResultText(3000), "");
  EXPECT_EQ(getResultText(1), "The authentication code is wrong.");
  EXPECT_EQ(getResultText(8001), "The text is not a valid JSON object.");
  EXPECT_EQ(getResultText(9014), "The sealed text does not match the key or was altered.");
  EXPECT_EQ(getResultText(9999), "Unknown error.");
  for (std::uint16_t code : {5116, 5124, 5137, 5151, 5156, 5214}) EXPECT_FALSE(isServerReachable(code)) << code;
  for (std::uint16_t code : {0, 5113, 5114, 5152, 5153, 5218, 7000, 9999}) EXPECT_TRUE(isServerReachable(code)) << code;
}

TEST(KvException, CarriesCodeAndNamedText) {
  const Exception::KvException kv(5013);
  const std::exception& e = kv;  // what callers catch
  EXPECT_STREQ(e.what(), "KV_ERROR_INVALID_USER_LOGIN_LENGTH (5013)");
  EXPECT_EQ(kv.code(), 5013);
  EXPECT_STREQ(Exception::KvException(4000).what(), "Unexpected error. (4000)");
}
