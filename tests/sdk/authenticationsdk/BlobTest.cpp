#include <gtest/gtest.h>

#include <algorithm>

#include "AuthenticationSdk/AuthenticationException.h"
#include "AuthenticationSdk/OstraSdkService.h"
#include "Commons/Encoding.h"
#include "Fixtures.h"

using namespace AuthenticationSdk;
using namespace Fixtures;
using CryptoSdk::Bytes;

namespace {

bool contains(const Bytes& haystack, const Bytes& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

// Changes one byte of the record and repairs the checksum, as a deliberate forger would.
std::string forge(const std::string& blob, std::size_t at) {
  Bytes raw;
  EXPECT_TRUE(Commons::Base64::decode(blob, raw));
  raw[at] ^= 0x01;
  const std::uint32_t crc = Commons::Crc32::compute(raw.data(), raw.size() - 4);
  for (int i = 0; i < 4; ++i) raw[raw.size() - 1 - static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(crc >> (8 * i));
  return Commons::Base64::encode(raw);
}

}  // namespace

TEST(Blob, LengthsFollowModelAndSecretSize) {
  EXPECT_EQ(280u, makeBlob(MODEL_MOBILE_AUTHENTICATOR).size());
  EXPECT_EQ(280u, makeBlob(MODEL_MARLET_DEVICE).size());
  EXPECT_EQ(152u, makeBlob(11, Bytes(20, 1)).size());
  EXPECT_EQ(152u, makeBlob(12, Bytes(32, 1)).size());
  EXPECT_EQ(172u, makeBlob(12, Bytes(48, 1)).size());
  EXPECT_EQ(216u, makeBlob(13, Bytes(64, 1)).size());
  EXPECT_EQ(280u, makeBlob(MODEL_MOBILE_AUTHENTICATOR, Bytes(64, 1)).size());
}

TEST(Blob, CreationRefusesBadInput) {
  Blob::Definition d;
  d.secret = Bytes(15, 1);
  std::string blob = "x";
  EXPECT_EQ(Exception::AUTH_ERROR_INVALID_SECRET, Blob::create(d, kAccount, kIntegrationKey, blob));
  EXPECT_TRUE(blob.empty());
  d.secret = Bytes(65, 1);
  EXPECT_EQ(Exception::AUTH_ERROR_INVALID_SECRET, Blob::create(d, kAccount, kIntegrationKey, blob));
  d.secret = kSecret;
  d.model = 14;
  EXPECT_EQ(Exception::AUTH_ERROR_UNSUPPORTED_MODEL, Blob::create(d, kAccount, kIntegrationKey, blob));
  d.model = MODEL_MOBILE_AUTHENTICATOR;
  EXPECT_EQ(Exception::AUTH_ERROR_ACCOUNT_KEY_MISSING, Blob::create(d, kAccount, "", blob));
  d.otpDigits = 9;
  EXPECT_EQ(Exception::AUTH_ERROR_INVALID_PARAMETER, Blob::create(d, kAccount, kIntegrationKey, blob));
}

TEST(Blob, SecretIsNeverInClear) {
  const Bytes secret{0x5e, 0xc7, 0x37, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd};
  for (std::uint8_t model : {std::uint8_t{10}, std::uint8_t{11}}) {
    const std::string blob = makeBlob(model, secret);
    Bytes raw;
    ASSERT_TRUE(Commons::Base64::decode(blob, raw));
    EXPECT_FALSE(contains(raw, Bytes(secret.begin(), secret.begin() + 6)));
    // Two blobs of the same secret differ (random IV).
    EXPECT_NE(blob, makeBlob(model, secret));
    Bytes opened;
    ASSERT_EQ(0, Blob::openSecret(blob, kAccount, kIntegrationKey, opened));
    EXPECT_EQ(secret, opened);
  }
}

TEST(Blob, SecretOpensOnlyForItsAccount) {
  const std::string blob = makeBlob(MODEL_MOBILE_AUTHENTICATOR);
  Bytes secret{1};
  EXPECT_EQ(Exception::AUTH_ERROR_BLOB_AUTHENTICATION, Blob::openSecret(blob, kAccount, "ik-other", secret));
  EXPECT_TRUE(secret.empty());
  EXPECT_EQ(Exception::AUTH_ERROR_BLOB_AUTHENTICATION, Blob::openSecret(blob, "acc-101", kIntegrationKey, secret));
  EXPECT_EQ(Exception::AUTH_ERROR_ACCOUNT_KEY_MISSING, Blob::openSecret(blob, kAccount, "", secret));
}

TEST(Blob, DamageAndForgeryAreDetected) {
  const std::string blob = makeBlob(MODEL_MOBILE_AUTHENTICATOR);
  Bytes raw;
  ASSERT_TRUE(Commons::Base64::decode(blob, raw));
  // A changed byte without a repaired checksum reads as damaged.
  Bytes damaged(raw);
  damaged[5] ^= 0x10;
  AuthenticatorInfo info;
  EXPECT_EQ(Exception::AUTH_ERROR_BLOB_CHECKSUM, Blob::inspect(Commons::Base64::encode(damaged), info));
  // A forged counter with a repaired checksum still fails the tag.
  Bytes secret;
  EXPECT_EQ(Exception::AUTH_ERROR_BLOB_AUTHENTICATION, Blob::openSecret(forge(blob, 11), kAccount, kIntegrationKey, secret));
  EXPECT_EQ(Exception::AUTH_ERROR_BLOB_AUTHENTICATION, Blob::openSecret(forge(blob, 50), kAccount, kIntegrationKey, secret));
  // Bytes of the layout itself are checked before the key is needed.
  EXPECT_EQ(Exception::AUTH_ERROR_BLOB_MALFORMED, Blob::inspect(forge(blob, 0), info));   // version
  EXPECT_EQ(Exception::AUTH_ERROR_BLOB_MALFORMED, Blob::inspect(forge(blob, 1), info));   // model 11 in a 280 blob
  EXPECT_EQ(Exception::AUTH_ERROR_BLOB_MALFORMED, Blob::inspect(forge(blob, 23), info));  // reserved
  // Base64 with padding has an allowed length but holds too few bytes.
  const std::string padded = Commons::Base64::encode(Bytes(208, 0));
  ASSERT_EQ(280u, padded.size());
  EXPECT_EQ(Exception::AUTH_ERROR_BLOB_MALFORMED, Blob::inspect(padded, info));
  std::string notBase64 = blob;
  notBase64[10] = '*';
  EXPECT_EQ(Exception::AUTH_ERROR_BLOB_MALFORMED, Blob::inspect(notBase64, info));
}

TEST(Blob, ReadersReportActiveFlagAndKind) {
  MobileInfo mobile{};
  ASSERT_EQ(0, OstraSdkService::readMobileInfo(makeBlob(MODEL_MOBILE_AUTHENTICATOR), mobile));
  EXPECT_EQ(1, mobile.active);
  EXPECT_EQ(0, mobile.blocked);
  EXPECT_EQ(10, mobile.model);
  MobileInfo inactive{};
  ASSERT_EQ(0, OstraSdkService::readMobileInfo(makeBlob(MODEL_MOBILE_AUTHENTICATOR, kSecret, false), inactive));
  EXPECT_EQ(0, inactive.active);

  HardwareTokenInfo token{};
  ASSERT_EQ(0, OstraSdkService::readHardwareTokenInfo(makeBlob(12, Bytes(48, 3)), token));
  EXPECT_EQ(1, token.active);
  EXPECT_EQ(12, token.model);
  EXPECT_EQ(6, token.otpDigits);

  DeviceInfo device{};
  ASSERT_EQ(0, OstraSdkService::readDeviceInfo(makeBlob(MODEL_MARLET_DEVICE), device));
  EXPECT_EQ(1, device.active);

  // The wrong kind of blob is not read as another kind.
  EXPECT_EQ(Exception::AUTH_ERROR_UNSUPPORTED_MODEL, OstraSdkService::readDeviceInfo(makeBlob(10), device));
  EXPECT_EQ(Exception::AUTH_ERROR_UNSUPPORTED_MODEL, OstraSdkService::readMobileInfo(makeBlob(9), mobile));
  EXPECT_EQ(Exception::AUTH_ERROR_BLOB_LENGTH, OstraSdkService::readHardwareTokenInfo(makeBlob(10), token));
}

TEST(Blob, OtherLengthsGiveEight) {
  HardwareTokenInfo token{};
  for (std::size_t n : {0u, 4u, 148u, 156u, 236u, 280u, 284u})
    EXPECT_EQ(Exception::AUTH_ERROR_BLOB_LENGTH, OstraSdkService::readHardwareTokenInfo(std::string(n, 'A'), token)) << n;
  MobileInfo mobile{};
  EXPECT_EQ(Exception::AUTH_ERROR_BLOB_LENGTH, OstraSdkService::readMobileInfo(std::string(152, 'A'), mobile));
  DeviceInfo device{};
  EXPECT_EQ(Exception::AUTH_ERROR_BLOB_LENGTH, OstraSdkService::readDeviceInfo(std::string(279, 'A'), device));
  EXPECT_EQ(0, token.active);
}
