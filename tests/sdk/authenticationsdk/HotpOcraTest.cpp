// Known answers of RFC 4226 Appendix D and RFC 6287 Appendix C.
#include <gtest/gtest.h>

#include <functional>

#include "AuthenticationSdk/Hotp.h"
#include "AuthenticationSdk/Ocra.h"
#include "Commons/Encoding.h"
#include "Fixtures.h"

using namespace AuthenticationSdk;
using CryptoSdk::Bytes;

namespace {

using Fixtures::hex;

const Bytes kSeed32 = hex("3132333435363738393031323334353637383930313233343536373839303132");
const Bytes kSeed64 =
    hex("31323334353637383930313233343536373839303132333435363738393031323334353637383930313233343536373839303132333435"
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

Ocra::Inputs question(const std::string& q, std::uint64_t counter = 0, const Bytes& pin = Bytes(),
                      std::uint64_t time = 0) {
  return {counter, q, pin, Bytes(), time};
}

std::string digits8(int i) { return std::string(8, char('0' + i)); }

}  // namespace

TEST(Hotp, Rfc4226AppendixD) {
  for (std::uint64_t c = 0; c < 10; ++c) {
    std::string code;
    ASSERT_EQ(0, Hotp::generate(Fixtures::kSecret, c, 6, CryptoSdk::HashAlgorithm::Sha1, code));
    EXPECT_EQ(Fixtures::kRfcCodes[c], code) << "counter " << c;
  }
}

TEST(Ocra, Rfc6287AppendixC) {
  const char* sig[] = {"SIG10000", "SIG11000", "SIG12000", "SIG13000", "SIG14000"};
  const std::tuple<const char*, const Bytes&, std::function<Ocra::Inputs(int)>, std::vector<const char*>> rows[] = {
      {"OCRA-1:HOTP-SHA1-6:QN08",
       Fixtures::kSecret,
       [](int i) { return question(digits8(i)); },
       {"237653", "243178", "653583", "740991", "608993", "388898", "816933", "224598", "750600", "294470"}},
      {"OCRA-1:HOTP-SHA256-8:C-QN08-PSHA1",
       kSeed32,
       [](int c) { return question("12345678", c, kPinSha1); },
       {"65347737", "86775851", "78192410", "71565254", "10104329", "65983500", "70069104", "91771096", "75011558",
        "08522129"}},
      {"OCRA-1:HOTP-SHA256-8:QN08-PSHA1",
       kSeed32,
       [](int i) { return question(digits8(i), 0, kPinSha1); },
       {"83238735", "01501458", "17957585", "86776967", "86807031"}},
      {"OCRA-1:HOTP-SHA512-8:C-QN08",
       kSeed64,
       [](int c) { return question(digits8(c), c); },
       {"07016083", "63947962", "70123924", "25341727", "33203315", "34205738", "44343969", "51946085", "20403879",
        "31409299"}},
      {"OCRA-1:HOTP-SHA512-8:QN08-T1M",
       kSeed64,
       [](int i) { return question(digits8(i), 0, Bytes(), kRfcTime); },
       {"95209754", "55907591", "22048402", "24218844", "36209546"}},
      {"OCRA-1:HOTP-SHA256-8:QA08",
       kSeed32,
       [&sig](int i) { return question(sig[i]); },
       {"53095496", "04110475", "31331128", "76028668", "46554205"}},
      {"OCRA-1:HOTP-SHA512-8:QA10-T1M",
       kSeed64,
       [&sig](int i) { return question(std::string(sig[i]) + "00", 0, Bytes(), kRfcTime); },
       {"77537423", "31970405", "10235557", "95213541", "65360607"}},
  };
  for (const auto& [suite, key, inputs, expected] : rows)
    for (std::size_t i = 0; i < expected.size(); ++i)
      EXPECT_EQ(expected[i], ocra(suite, key, inputs(static_cast<int>(i)))) << suite << " " << i;
}

TEST(Ocra, HexQuestionIsPaddedOnTheRight) {
  // A hex question fills the 128 question bytes from the left and is zero-padded, so
  // trailing zeros and letter case do not change the answer; leading zeros do.
  const std::string base = ocra("OCRA-1:HOTP-SHA1-6:QH08", Fixtures::kSecret, question("BC614E"));
  EXPECT_EQ(base, ocra("OCRA-1:HOTP-SHA1-6:QH08", Fixtures::kSecret, question("BC614E00")));
  EXPECT_EQ(base, ocra("OCRA-1:HOTP-SHA1-6:QH08", Fixtures::kSecret, question("bc614e")));
  EXPECT_NE(base, ocra("OCRA-1:HOTP-SHA1-6:QH08", Fixtures::kSecret, question("00BC614E")));
}
