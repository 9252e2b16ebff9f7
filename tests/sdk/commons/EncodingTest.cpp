#include <gtest/gtest.h>

#include "Commons/Encoding.h"

using Commons::Bytes;

namespace {

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

}  // namespace

// RFC 4648, section 10.
TEST(Base64, Rfc4648Vectors) {
  const std::pair<const char*, const char*> vectors[] = {
      {"", ""},         {"f", "Zg=="},        {"fo", "Zm8="},         {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
  };
  for (const auto& v : vectors) {
    EXPECT_EQ(Commons::Base64::encode(std::string(v.first)), v.second);
    Bytes decoded;
    ASSERT_TRUE(Commons::Base64::decode(v.second, decoded)) << v.second;
    EXPECT_EQ(decoded, bytesOf(v.first));
  }
}

TEST(Base64, AllByteValuesRoundTrip) {
  Bytes all;
  for (int i = 0; i < 256; ++i) all.push_back(std::uint8_t(i));
  for (std::size_t n = 0; n <= all.size(); n += 37) {
    Bytes part(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(n));
    Bytes back;
    ASSERT_TRUE(Commons::Base64::decode(Commons::Base64::encode(part), back));
    EXPECT_EQ(back, part);
  }
}

TEST(Base64, RefusesMalformedText) {
  Bytes out{1, 2, 3};
  for (const char* bad : {"Zg=", "Zg", "Z===", "Zm9v=Zm9", "Zm9vYg==Zm9v", "Zm9*", "Zm 9v", "Zh==", "Zm9=x"}) {
    EXPECT_FALSE(Commons::Base64::decode(bad, out)) << bad;
    EXPECT_TRUE(out.empty()) << bad;
  }
}

TEST(Hex, EncodesLowerCaseAndDecodesEitherCase) {
  const Bytes data{0x00, 0x01, 0x7f, 0x80, 0xab, 0xff};
  EXPECT_EQ(Commons::Hex::encode(data), "00017f80abff");
  Bytes back;
  ASSERT_TRUE(Commons::Hex::decode("00017F80ABff", back));
  EXPECT_EQ(back, data);
  EXPECT_FALSE(Commons::Hex::decode("abc", back));
  EXPECT_FALSE(Commons::Hex::decode("zz", back));
  EXPECT_TRUE(back.empty());
}

// Check values of the CRC-32 catalogue ("123456789") and common references.
TEST(Crc32, KnownValues) {
  EXPECT_EQ(Commons::Crc32::compute(std::string("123456789")), 0xCBF43926u);
  EXPECT_EQ(Commons::Crc32::compute(std::string("")), 0x00000000u);
  EXPECT_EQ(Commons::Crc32::compute(std::string("The quick brown fox jumps over the lazy dog")), 0x414FA339u);
  // Incremental computation equals the one-shot value.
  const std::string s = "123456789";
  const auto* p = reinterpret_cast<const std::uint8_t*>(s.data());
  EXPECT_EQ(Commons::Crc32::compute(p + 4, 5, Commons::Crc32::compute(p, 4)), 0xCBF43926u);
}
