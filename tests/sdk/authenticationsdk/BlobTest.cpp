#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "AuthenticationSdk/AuthenticationException.h"
#include "AuthenticationSdk/OstraSdkService.h"
#include "Commons/Encoding.h"
#include "Fixtures.h"

using namespace AuthenticationSdk;
using namespace Fixtures;
using CryptoSdk::Bytes;

namespace {

// Changes one byte of the record and repairs the checksum, as a deliberate forger would.
std::string forge(const std::string& blob, std::size_t at) {
  Bytes raw;
  EXPECT_TRUE(Commons::Base64::decode(blob, raw));
  raw[at] ^= 0x01;
  const std::uint32_t crc = Commons::Crc32::compute(raw.data(), raw.size() - 4);
  for (int i = 0; i < 4; ++i)
    raw[raw.size() - 1 - static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(crc >> (8 * i));
  return Commons::Base64::encode(raw);
}

}  // namespace

// The size follows the model and, for hardware tokens, the smallest record that holds the
// secret; the secret is sealed for its account and integration key only.
TEST(Blob, SizeOfModelAndSecretAndTheSecretSealedForItsAccountOnly) {
  // Model, secret size, blob length.
  const std::tuple<std::uint8_t, std::size_t, std::size_t> rows[] = {
      {10, 20, 280}, {9, 20, 280}, {10, 64, 280}, {11, 20, 152}, {12, 32, 152}, {12, 48, 172}, {13, 64, 216}};
  for (const auto& [model, size, length] : rows)
    EXPECT_EQ(length, makeBlob(model, Bytes(size, 1)).size()) << int(model);

  const Bytes secret{0x5e, 0xc7, 0x37, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd};
  for (std::uint8_t model : {std::uint8_t{10}, std::uint8_t{11}}) {
    const std::string blob = makeBlob(model, secret);
    Bytes raw;
    ASSERT_TRUE(Commons::Base64::decode(blob, raw));
    EXPECT_EQ(raw.end(), std::search(raw.begin(), raw.end(), secret.begin(), secret.begin() + 6));
    EXPECT_NE(blob, makeBlob(model, secret)) << "random IV";
    Bytes opened;
    ASSERT_EQ(0, Blob::openSecret(blob, kAccount, kIntegrationKey, opened));
    EXPECT_EQ(secret, opened);
    EXPECT_EQ(Exception::AUTH_ERROR_BLOB_AUTHENTICATION, Blob::openSecret(blob, kAccount, "ik-other", opened));
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(Exception::AUTH_ERROR_BLOB_AUTHENTICATION, Blob::openSecret(blob, "acc-101", kIntegrationKey, opened));
    EXPECT_EQ(Exception::AUTH_ERROR_ACCOUNT_KEY_MISSING, Blob::openSecret(blob, kAccount, "", opened));
  }
}

TEST(Blob, DamageAndForgeryAreDetected) {
  const std::string blob = makeBlob(MODEL_MOBILE_AUTHENTICATOR);
  Bytes raw;
  ASSERT_TRUE(Commons::Base64::decode(blob, raw));
  // A changed byte without a repaired checksum reads as damaged.
  raw[5] ^= 0x10;
  AuthenticatorInfo info;
  EXPECT_EQ(Exception::AUTH_ERROR_BLOB_CHECKSUM, Blob::inspect(Commons::Base64::encode(raw), info));
  // A forged counter or secret with a repaired checksum still fails the tag.
  Bytes secret;
  for (std::size_t at : {11u, 50u})
    EXPECT_EQ(Exception::AUTH_ERROR_BLOB_AUTHENTICATION,
              Blob::openSecret(forge(blob, at), kAccount, kIntegrationKey, secret));
  // Bytes of the layout itself are checked before the key is needed: version, model 11 in a
  // 280 blob, reserved; Base64 with padding has an allowed length but holds too few bytes.
  std::string notBase64 = blob;
  notBase64[10] = '*';
  for (const std::string& bad :
       {forge(blob, 0), forge(blob, 1), forge(blob, 23), Commons::Base64::encode(Bytes(208, 0)), notBase64})
    EXPECT_EQ(Exception::AUTH_ERROR_BLOB_MALFORMED, Blob::inspect(bad, info));
}

// Each reader reads the active flag of its own kind, refuses another kind (5) and lengths its
// kind never has (8).
TEST(Blob, ReadersReportActiveFlagAndKind) {
  MobileInfo mobile{};
  ASSERT_EQ(0, OstraSdkService::readMobileInfo(makeBlob(MODEL_MOBILE_AUTHENTICATOR, kSecret, false), mobile));
  EXPECT_EQ(0, mobile.active);
  HardwareTokenInfo token{};
  ASSERT_EQ(0, OstraSdkService::readHardwareTokenInfo(makeBlob(12, Bytes(48, 3)), token));
  EXPECT_EQ(1, token.active);
  DeviceInfo device{};
  ASSERT_EQ(0, OstraSdkService::readDeviceInfo(makeBlob(MODEL_MARLET_DEVICE), device));
  EXPECT_EQ(1, device.active);

  EXPECT_EQ(Exception::AUTH_ERROR_UNSUPPORTED_MODEL, OstraSdkService::readDeviceInfo(makeBlob(10), device));
  EXPECT_EQ(Exception::AUTH_ERROR_UNSUPPORTED_MODEL, OstraSdkService::readMobileInfo(makeBlob(9), mobile));
  for (std::size_t n : {0u, 148u, 156u, 236u, 280u})
    EXPECT_EQ(Exception::AUTH_ERROR_BLOB_LENGTH, OstraSdkService::readHardwareTokenInfo(std::string(n, 'A'), token))
        << n;
  EXPECT_EQ(Exception::AUTH_ERROR_BLOB_LENGTH, OstraSdkService::readMobileInfo(std::string(152, 'A'), mobile));
  EXPECT_EQ(Exception::AUTH_ERROR_BLOB_LENGTH, OstraSdkService::readDeviceInfo(std::string(279, 'A'), device));
}
