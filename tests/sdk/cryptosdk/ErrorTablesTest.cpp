#include <gtest/gtest.h>

#include "Commons/CommonsException.h"
#include "CryptoSdk/CryptoException.h"

TEST(ErrorTables, CommonsTexts) {
  EXPECT_EQ("The text is not a valid JSON object.", Commons::Exception::getErrorMessage(8001));
  EXPECT_EQ("A JSON field is missing or has the wrong type.", Commons::Exception::getErrorMessage(8002));
  EXPECT_EQ("Unknown error.", Commons::Exception::getErrorMessage(8999));
  EXPECT_EQ("Unknown error.", Commons::Exception::getErrorMessage(9001));
}

TEST(ErrorTables, CryptoTexts) {
  EXPECT_EQ("The sealed text does not match the key or was altered.", CryptoSdk::Exception::getErrorMessage(9014));
  EXPECT_EQ("Unknown error.", CryptoSdk::Exception::getErrorMessage(9999));
  EXPECT_EQ("Unknown error.", CryptoSdk::Exception::getErrorMessage(8001));
  for (std::uint16_t code = 9001; code <= 9016; ++code)
    EXPECT_NE("Unknown error.", CryptoSdk::Exception::getErrorMessage(code)) << code;
}
