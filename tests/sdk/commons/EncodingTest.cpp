#include <gtest/gtest.h>

#include "Commons/Encoding.h"

using Commons::Bytes;

// RFC 4648, section 10, and every byte value (the vectors are ASCII only) both ways.
TEST(Base64, Rfc4648VectorsAndEveryByteValue) {
  const char* const plain[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar"};
  const char* const encoded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(Commons::Base64::encode(std::string(plain[i])), encoded[i]);
  Bytes all, back;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<std::uint8_t>(i));
  for (const std::string& text : {std::string("Zm9vYmE="), Commons::Base64::encode(all)}) {
    ASSERT_TRUE(Commons::Base64::decode(text, back)) << text;
    EXPECT_EQ(text, Commons::Base64::encode(back));
  }
  EXPECT_EQ(all, back);
}

TEST(Base64, RefusesMalformedText) {
  Bytes out{1, 2, 3};
  for (const char* bad : {"Zg=", "Zg", "Z===", "Zm9v=Zm9", "Zm9vYg==Zm9v", "Zm9*", "Zm 9v", "Zh==", "Zm9=x"}) {
    EXPECT_FALSE(Commons::Base64::decode(bad, out)) << bad;
    EXPECT_TRUE(out.empty()) << bad;
  }
}

// Hex is written in lower case and read in either; the CRC-32 is the catalogue's (IEEE) check value.
TEST(Encoding, HexAndCrc32) {
  const Bytes data{0x00, 0x01, 0x7f, 0x80, 0xab, 0xff};
  EXPECT_EQ(Commons::Hex::encode(data), "00017f80abff");
  Bytes back;
  ASSERT_TRUE(Commons::Hex::decode("00017F80ABff", back));
  EXPECT_EQ(back, data);
  EXPECT_FALSE(Commons::Hex::decode("abc", back));
  EXPECT_FALSE(Commons::Hex::decode("zz", back));
  EXPECT_TRUE(back.empty());
  EXPECT_EQ(Commons::Crc32::compute(std::string("123456789")), 0xCBF43926u);
  EXPECT_EQ(Commons::Crc32::compute(std::string("The quick brown fox jumps over the lazy dog")), 0x414FA339u);
}
