#include <gtest/gtest.h>

#include "Korvath/LogRedaction.h"

using Korvath::redactSecrets;

TEST(LogRedaction, SensitiveJsonMembers) {
  EXPECT_EQ(redactSecrets("{\"userLogin\":\"bob\",\"userPassword\":\"p@ss\"}"),
            "{\"userLogin\":\"bob\",\"userPassword\":\"***\"}");
  EXPECT_EQ(redactSecrets("{\"authData\": \"123456\", \"mode\": 1}"),
            "{\"authData\": \"***\", \"mode\": 1}");
  EXPECT_EQ(redactSecrets("{\"masterPassword\":\"x\",\"integrationKey\":\"abc\",\"blob\":\"AAAA\"}"),
            "{\"masterPassword\":\"***\",\"integrationKey\":\"***\",\"blob\":\"***\"}");
  EXPECT_EQ(redactSecrets("{\"authenticationCode\":123456}"), "{\"authenticationCode\":\"***\"}");
  EXPECT_EQ(redactSecrets("{\"activationData\":{\"login\":\"a\",\"authenticationCode\":\"987654\"}}"),
            "{\"activationData\":{\"login\":\"a\",\"authenticationCode\":\"***\"}}");
  EXPECT_EQ(redactSecrets("{\"password\":\"with \\\"quote\\\" inside\",\"n\":1}"),
            "{\"password\":\"***\",\"n\":1}");
}

TEST(LogRedaction, SwitchesAndOrdinaryValuesStay) {
  const std::string switches =
      "{\"authTypes\":{\"otp\":true,\"qrcode\":false,\"push\":true},\"checkRememberPassword\":true,"
      "\"enableRememberPassword\":1,\"lastAuthType\":\"otp\"}";
  EXPECT_EQ(redactSecrets(switches), switches);
  const std::string ids = "RequestId: 0f8fad5b-d9cb-469f-a165-70867728950e - ResultCode: 5113";
  EXPECT_EQ(redactSecrets(ids), ids);
  const std::string path = "C:/Windows/system32/drivers/etc/kvconfig.cfg";
  EXPECT_EQ(redactSecrets(path), path);
}

TEST(LogRedaction, DataEnvelopeAndNestedJsonText) {
  EXPECT_EQ(redactSecrets("{\"data\":\"c2VhbGVk\"}"), "{\"data\":\"***\"}");
  // A record nested as text keeps its shape and loses its secrets.
  EXPECT_EQ(redactSecrets("{\"t\":\"{\\\"user\\\":\\\"bob\\\",\\\"password\\\":\\\"pw\\\"}\"}"),
            "{\"t\":\"{\\\"user\\\":\\\"bob\\\",\\\"password\\\":\\\"***\\\"}\"}");
  // Text nested deeper than any record of ours is dropped rather than passed unscanned.
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
  // The transaction's data object is not an envelope.
  const std::string tx = "{\"data\":{\"platform\":1,\"computer\":\"PC1\"}}";
  EXPECT_EQ(redactSecrets(tx), tx);
}

TEST(LogRedaction, FreeText) {
  // The value runs to the end of the message: a password may hold anything.
  EXPECT_EQ(redactSecrets("Password: hunter2 next"), "Password: ***");
  EXPECT_EQ(redactSecrets("userPassword = pa ss,wo;rd)x \"y\" z"), "userPassword = ***");
  EXPECT_EQ(redactSecrets("OTP=123456, user=bob"), "OTP=***");
  EXPECT_EQ(redactSecrets("authData : 'a b c'"), "authData : ***");
  EXPECT_EQ(redactSecrets("password:\n hunter2"), "password:***");
  // Two-word names of a code.
  EXPECT_EQ(redactSecrets("verification code: 123456"), "verification code: ***");
  EXPECT_EQ(redactSecrets("OTP code=654321"), "OTP code=***");
  // JSON the JSON pass cannot read: escaped, or single-quoted.
  EXPECT_EQ(redactSecrets("request: {\\\"user\\\":\\\"bob\\\",\\\"password\\\":\\\"x y\\\"}"),
            "request: {\\\"user\\\":\\\"bob\\\",\\\"password\\\":***");
  EXPECT_EQ(redactSecrets("{'pin':'1234'}"), "{'pin':***");
  // Ordinary lines stay whole.
  EXPECT_EQ(redactSecrets("Was MasterPassword wrote successfully: true"),
            "Was MasterPassword wrote successfully: true");
  EXPECT_EQ(redactSecrets("Error code: 12002 - result code: 5113"), "Error code: 12002 - result code: 5113");
  EXPECT_EQ(redactSecrets("The OTP code was authenticated online"), "The OTP code was authenticated online");
}

TEST(LogRedaction, LongEncodedRuns) {
  const std::string blob(150, 'A');
  EXPECT_EQ(redactSecrets("blob " + blob + "9 end"), "blob *** end");
  EXPECT_EQ(redactSecrets("key 9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08 x"),
            "key *** x");
  EXPECT_EQ(redactSecrets("encryptedResponse AbCdEf0123456789+/AbCdEf0123456789+/AbCdEf==!"),
            "encryptedResponse ***!");
}

TEST(LogRedaction, UnterminatedAndOddInputDoNotCrash) {
  EXPECT_EQ(redactSecrets("{\"password\":\"abc"), "{\"password\":\"***\"");
  EXPECT_EQ(redactSecrets("{\"password\":"), "{\"password\":");
  EXPECT_EQ(redactSecrets("\""), "\"");
  EXPECT_EQ(redactSecrets(""), "");
  EXPECT_EQ(redactSecrets("{\"password\":[\"a\",\"b\"],\"x\":1}"), "{\"password\":\"***\",\"x\":1}");
}
