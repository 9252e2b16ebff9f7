// Known answers of RFC 4226 Appendix D and RFC 6287 Appendix C.
#include <gtest/gtest.h>

#include "AuthenticationSdk/AuthenticationException.h"
#include "AuthenticationSdk/Hotp.h"
#include "AuthenticationSdk/Ocra.h"
#include "Commons/Encoding.h"

using namespace AuthenticationSdk;
using CryptoSdk::Bytes;

namespace {

Bytes hex(const std::string& text) {
  Bytes out;
  EXPECT_TRUE(Commons::Hex::decode(text, out));
  return out;
}

const Bytes kSeed20 = hex("3132333435363738393031323334353637383930");
const Bytes kSeed32 = hex("3132333435363738393031323334353637383930313233343536373839303132");
const Bytes kSeed64 = hex(
    "31323334353637383930313233343536373839303132333435363738393031323334353637383930313233343536373839303132333435"
    "363738393031323334");
const Bytes kPinSha1 = hex("7110eda4d09e062aa5e4a390b0a572ac0d2c0220");  // SHA-1("1234")
const std::uint64_t kRfcTime = 0x132d0b6;

std::string ocra(const std::string& suiteText, const Bytes& key, const Ocra::Inputs& inputs) {
  Ocra::Suite suite;
  EXPECT_EQ(0, Ocra::parseSuite(suiteText, suite)) << suiteText;
  std::string response;
  EXPECT_EQ(0, Ocra::compute(suite, key, inputs, response)) << suiteText;
  return response;
}

Ocra::Inputs question(const std::string& q) {
  Ocra::Inputs in;
  in.question = q;
  return in;
}

}  // namespace

TEST(Hotp, Rfc4226AppendixD) {
  const char* expected[] = {"755224", "287082", "359152", "969429", "338314",
                            "254676", "287922", "162583", "399871", "520489"};
  for (std::uint64_t c = 0; c < 10; ++c) {
    std::string code;
    ASSERT_EQ(0, Hotp::generate(kSeed20, c, 6, CryptoSdk::HashAlgorithm::Sha1, code));
    EXPECT_EQ(expected[c], code) << "counter " << c;
  }
}

TEST(Hotp, RefusesBadDigitsAndEmptySecret) {
  std::string code = "x";
  EXPECT_EQ(Exception::AUTH_ERROR_INVALID_PARAMETER, Hotp::generate(kSeed20, 0, 5, CryptoSdk::HashAlgorithm::Sha1, code));
  EXPECT_TRUE(code.empty());
  EXPECT_EQ(Exception::AUTH_ERROR_INVALID_SECRET, Hotp::generate(Bytes(), 0, 6, CryptoSdk::HashAlgorithm::Sha1, code));
}

TEST(Ocra, OneWaySha1Qn08) {
  const char* expected[] = {"237653", "243178", "653583", "740991", "608993",
                            "388898", "816933", "224598", "750600", "294470"};
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(expected[i], ocra("OCRA-1:HOTP-SHA1-6:QN08", kSeed20, question(std::string(8, char('0' + i)))));
}

TEST(Ocra, CounterQuestionPinSha256) {
  const char* expected[] = {"65347737", "86775851", "78192410", "71565254", "10104329",
                            "65983500", "70069104", "91771096", "75011558", "08522129"};
  for (int c = 0; c < 10; ++c) {
    Ocra::Inputs in = question("12345678");
    in.counter = static_cast<std::uint64_t>(c);
    in.passwordHash = kPinSha1;
    EXPECT_EQ(expected[c], ocra("OCRA-1:HOTP-SHA256-8:C-QN08-PSHA1", kSeed32, in));
  }
}

TEST(Ocra, QuestionPinSha256) {
  const char* expected[] = {"83238735", "01501458", "17957585", "86776967", "86807031"};
  for (int i = 0; i < 5; ++i) {
    Ocra::Inputs in = question(std::string(8, char('0' + i)));
    in.passwordHash = kPinSha1;
    EXPECT_EQ(expected[i], ocra("OCRA-1:HOTP-SHA256-8:QN08-PSHA1", kSeed32, in));
  }
}

TEST(Ocra, CounterQuestionSha512) {
  const char* expected[] = {"07016083", "63947962", "70123924", "25341727", "33203315",
                            "34205738", "44343969", "51946085", "20403879", "31409299"};
  for (int c = 0; c < 10; ++c) {
    Ocra::Inputs in = question(std::string(8, char('0' + c)));
    in.counter = static_cast<std::uint64_t>(c);
    EXPECT_EQ(expected[c], ocra("OCRA-1:HOTP-SHA512-8:C-QN08", kSeed64, in));
  }
}

TEST(Ocra, QuestionTimeSha512) {
  const char* expected[] = {"95209754", "55907591", "22048402", "24218844", "36209546"};
  for (int i = 0; i < 5; ++i) {
    Ocra::Inputs in = question(std::string(8, char('0' + i)));
    in.timeSteps = kRfcTime;
    EXPECT_EQ(expected[i], ocra("OCRA-1:HOTP-SHA512-8:QN08-T1M", kSeed64, in));
  }
}

TEST(Ocra, AlphanumericSignatureSha256) {
  const char* questions[] = {"SIG10000", "SIG11000", "SIG12000", "SIG13000", "SIG14000"};
  const char* expected[] = {"53095496", "04110475", "31331128", "76028668", "46554205"};
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(expected[i], ocra("OCRA-1:HOTP-SHA256-8:QA08", kSeed32, question(questions[i])));
}

TEST(Ocra, AlphanumericSignatureWithTimeSha512) {
  const char* questions[] = {"SIG1000000", "SIG1100000", "SIG1200000", "SIG1300000", "SIG1400000"};
  const char* expected[] = {"77537423", "31970405", "10235557", "95213541", "65360607"};
  for (int i = 0; i < 5; ++i) {
    Ocra::Inputs in = question(questions[i]);
    in.timeSteps = kRfcTime;
    EXPECT_EQ(expected[i], ocra("OCRA-1:HOTP-SHA512-8:QA10-T1M", kSeed64, in));
  }
}

TEST(Ocra, HexQuestionIsPaddedOnTheRight) {
  // A hex question fills the 128 question bytes from the left and is zero-padded, so
  // trailing zeros and letter case do not change the answer; leading zeros do.
  const std::string base = ocra("OCRA-1:HOTP-SHA1-6:QH08", kSeed20, question("BC614E"));
  EXPECT_EQ(base, ocra("OCRA-1:HOTP-SHA1-6:QH08", kSeed20, question("BC614E00")));
  EXPECT_EQ(base, ocra("OCRA-1:HOTP-SHA1-6:QH08", kSeed20, question("bc614e")));
  EXPECT_NE(base, ocra("OCRA-1:HOTP-SHA1-6:QH08", kSeed20, question("00BC614E")));
}

TEST(Ocra, SuiteParsing) {
  Ocra::Suite suite;
  ASSERT_EQ(0, Ocra::parseSuite("OCRA-1:HOTP-SHA256-6:QH40-T1M", suite));
  EXPECT_EQ(CryptoSdk::HashAlgorithm::Sha256, suite.algorithm);
  EXPECT_EQ(6u, suite.digits);
  EXPECT_EQ('H', suite.questionFormat);
  EXPECT_EQ(40u, suite.questionLength);
  EXPECT_EQ(60u, suite.timeStepSeconds);
  EXPECT_FALSE(suite.counter);
  ASSERT_EQ(0, Ocra::parseSuite("OCRA-1:HOTP-SHA1-8:C-QA10-PSHA512-S064-T30S", suite));
  EXPECT_TRUE(suite.counter);
  EXPECT_TRUE(suite.password);
  EXPECT_EQ(64u, suite.sessionLength);
  EXPECT_EQ(30u, suite.timeStepSeconds);
  for (const char* bad : {"", "OCRA-2:HOTP-SHA1-6:QN08", "OCRA-1:HOTP-MD5-6:QN08", "OCRA-1:HOTP-SHA1-3:QN08",
                          "OCRA-1:HOTP-SHA1-6:QX08", "OCRA-1:HOTP-SHA1-6:QN99", "OCRA-1:HOTP-SHA1-6:C",
                          "OCRA-1:HOTP-SHA1-6:QN08-T1X", "OCRA-1:HOTP-SHA1-6:QN08-C", "OCRA-1:HOTP-SHA1-6:QN08:x"})
    EXPECT_EQ(Exception::AUTH_ERROR_INVALID_OCRA_SUITE, Ocra::parseSuite(bad, suite)) << bad;
}

TEST(Ocra, RefusesQuestionsOutsideTheSuite) {
  Ocra::Suite suite;
  ASSERT_EQ(0, Ocra::parseSuite("OCRA-1:HOTP-SHA1-6:QN08", suite));
  std::string response;
  EXPECT_NE(0, Ocra::compute(suite, kSeed20, question("123456789"), response));  // too long
  EXPECT_NE(0, Ocra::compute(suite, kSeed20, question("12a45678"), response));   // not numeric
  EXPECT_NE(0, Ocra::compute(suite, kSeed20, question("123"), response));        // too short
  EXPECT_TRUE(response.empty());
  ASSERT_EQ(0, Ocra::parseSuite("OCRA-1:HOTP-SHA256-8:QN08-PSHA1", suite));
  EXPECT_NE(0, Ocra::compute(suite, kSeed32, question("12345678"), response));  // PIN hash missing
}
