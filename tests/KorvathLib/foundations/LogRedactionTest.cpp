#include <gtest/gtest.h>

#include "Korvath/LogRedaction.h"

using Korvath::redactSecrets;

// Each row: what a caller logs, and what reaches the record (nullptr: the same text).
TEST(LogRedaction, SecretsGoAndEverythingElseStays) {
  const std::pair<std::string, const char*> rows[] = {
      // Sensitive JSON members keep their key; switches stay.
      {"{\"userLogin\":\"bob\",\"userPassword\":\"p@ss\"}", "{\"userLogin\":\"bob\",\"userPassword\":\"***\"}"},
      {"{\"authData\": \"123456\", \"mode\": 1}", "{\"authData\": \"***\", \"mode\": 1}"},
      {"{\"masterPassword\":\"x\",\"integrationKey\":\"abc\",\"blob\":\"AAAA\"}",
       "{\"masterPassword\":\"***\",\"integrationKey\":\"***\",\"blob\":\"***\"}"},
      {"{\"authenticationCode\":123456}", "{\"authenticationCode\":\"***\"}"},
      {"{\"activationData\":{\"login\":\"a\",\"authenticationCode\":\"987654\"}}",
       "{\"activationData\":{\"login\":\"a\",\"authenticationCode\":\"***\"}}"},
      {"{\"password\":\"with \\\"quote\\\" inside\",\"n\":1}", "{\"password\":\"***\",\"n\":1}"},
      {"{\"password\":[\"a\",\"b\"],\"x\":1}", "{\"password\":\"***\",\"x\":1}"},
      {"{\"authTypes\":{\"otp\":true,\"qrcode\":false,\"push\":true},\"checkRememberPassword\":true,"
       "\"enableRememberPassword\":1,\"lastAuthType\":\"otp\"}",
       nullptr},
      // The sealed envelope goes; a record nested as text keeps its shape and loses its secrets;
      // the transaction's data object is not an envelope.
      {"{\"data\":\"c2VhbGVk\"}", "{\"data\":\"***\"}"},
      {"{\"t\":\"{\\\"user\\\":\\\"bob\\\",\\\"password\\\":\\\"pw\\\"}\"}",
       "{\"t\":\"{\\\"user\\\":\\\"bob\\\",\\\"password\\\":\\\"***\\\"}\"}"},
      {"{\"data\":{\"platform\":1,\"computer\":\"PC1\"}}", nullptr},
      // Free text: the value runs to the end of the message, as a password may hold anything.
      {"Password: hunter2 next", "Password: ***"},
      {"userPassword = pa ss,wo;rd)x \"y\" z", "userPassword = ***"},
      {"OTP=123456, user=bob", "OTP=***"},
      {"authData : 'a b c'", "authData : ***"},
      {"password:\n hunter2", "password:***"},
      {"verification code: 123456", "verification code: ***"},
      {"OTP code=654321", "OTP code=***"},
      // JSON the JSON pass cannot read: escaped, single-quoted, unterminated.
      {"request: {\\\"user\\\":\\\"bob\\\",\\\"password\\\":\\\"x y\\\"}",
       "request: {\\\"user\\\":\\\"bob\\\",\\\"password\\\":***"},
      {"{'pin':'1234'}", "{'pin':***"},
      {"{\"password\":\"abc", "{\"password\":\"***\""},
      {"{\"password\":", nullptr},
      {"\"", nullptr},
      {"", nullptr},
      // Long encoded runs (sealed text, blobs, keys, digests) go; identifiers, codes and paths stay.
      {"blob " + std::string(150, 'A') + "9 end", "blob *** end"},
      {"key 9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08 x", "key *** x"},
      {"encryptedResponse AbCdEf0123456789+/AbCdEf0123456789+/AbCdEf==!", "encryptedResponse ***!"},
      {"RequestId: 0f8fad5b-d9cb-469f-a165-70867728950e - ResultCode: 5113", nullptr},
      {"C:/Windows/system32/drivers/etc/kvconfig.cfg", nullptr},
      {"Was MasterPassword wrote successfully: true", nullptr},
      {"Error code: 12002 - result code: 5113", nullptr},
      {"The OTP code was authenticated online", nullptr},
  };
  for (const auto& row : rows) EXPECT_EQ(row.second ? row.second : row.first, redactSecrets(row.first)) << row.first;
}

// Text nested deeper than any record of ours is dropped rather than passed unscanned.
TEST(LogRedaction, DeeplyNestedTextIsDropped) {
  std::string deep = "{\"password\":\"pw\"}";
  for (int level = 0; level < 6; ++level) {
    std::string escaped;
    for (char c : deep) {
      if (c == '"' || c == '\\') escaped.push_back('\\');
      escaped.push_back(c);
    }
    deep = "{\"t\":\"" + escaped + "\"}";
  }
  EXPECT_EQ(redactSecrets(deep).find("pw"), std::string::npos);
}
