// Offline OTP checks: counter, look-ahead, attempts, block and automatic unblock.
#include <gtest/gtest.h>

#include <limits>

#include "AuthenticationSdk/AuthenticationException.h"
#include "AuthenticationSdk/OstraSdkService.h"
#include "Fixtures.h"

using namespace AuthenticationSdk;
using namespace AuthenticationSdk::Exception;
using namespace Fixtures;

namespace {

const std::int64_t kNow = 1767225600;  // 2026-01-01 00:00:00 UTC

AuthenticatorInfo infoOf(const std::string& blob) {
  AuthenticatorInfo info;
  EXPECT_EQ(0, Blob::inspect(blob, info));
  return info;
}

}  // namespace

TEST(OfflineOtp, AcceptedCodeAdvancesCounterAndCannotBeReplayed) {
  std::string blob = makeBlob(MODEL_MOBILE_AUTHENTICATOR);
  EXPECT_EQ(AUTH_OK, Offline::checkOtp(blob, kRfcCodes[0], settings(), kNow));
  EXPECT_EQ(1u, infoOf(blob).counter);
  EXPECT_EQ(AUTH_ERROR_CODE_REJECTED, Offline::checkOtp(blob, kRfcCodes[0], settings(), kNow));
  EXPECT_EQ(AUTH_OK, Offline::checkOtp(blob, kRfcCodes[1], settings(), kNow));
  EXPECT_EQ(2u, infoOf(blob).counter);
  EXPECT_EQ(0, infoOf(blob).failedAttempts);
}

TEST(OfflineOtp, CodeInsideLookAheadResynchronises) {
  std::string blob = makeBlob(11, kSecret);  // hardware token, 152 characters
  ASSERT_EQ(152u, blob.size());
  // syncTime 5: counters 0..5 are accepted; 4 skipped presses resynchronise.
  EXPECT_EQ(AUTH_OK, Offline::checkOtp(blob, kRfcCodes[4], settings(), kNow));
  EXPECT_EQ(5u, infoOf(blob).counter);
  EXPECT_EQ(AUTH_ERROR_CODE_REJECTED, Offline::checkOtp(blob, kRfcCodes[2], settings(), kNow));
  EXPECT_EQ(AUTH_OK, Offline::checkOtp(blob, kRfcCodes[5], settings(), kNow));
  EXPECT_EQ(6u, infoOf(blob).counter);
}

TEST(OfflineOtp, CodeBeyondLookAheadIsRefused) {
  std::string blob = makeBlob(MODEL_MOBILE_AUTHENTICATOR);
  AuthenticationSettings s = settings();
  s.syncTime = 2;
  EXPECT_EQ(AUTH_ERROR_CODE_REJECTED, Offline::checkOtp(blob, kRfcCodes[3], s, kNow));
  EXPECT_EQ(0u, infoOf(blob).counter);
  EXPECT_EQ(1, infoOf(blob).failedAttempts);
  EXPECT_EQ(AUTH_OK, Offline::checkOtp(blob, kRfcCodes[2], s, kNow));
}

TEST(OfflineOtp, WrongCodesBlockAndBlockedRefusesTheRightCode) {
  std::string blob = makeBlob(MODEL_MOBILE_AUTHENTICATOR);
  const AuthenticationSettings s = settings();  // 3 attempts
  EXPECT_EQ(AUTH_ERROR_CODE_REJECTED, Offline::checkOtp(blob, "000000", s, kNow));
  EXPECT_EQ(AUTH_ERROR_CODE_REJECTED, Offline::checkOtp(blob, "111111", s, kNow));
  EXPECT_EQ(0, infoOf(blob).blocked);
  EXPECT_EQ(AUTH_ERROR_CODE_REJECTED, Offline::checkOtp(blob, "222222", s, kNow));
  const AuthenticatorInfo blocked = infoOf(blob);
  EXPECT_EQ(1, blocked.blocked);
  EXPECT_EQ(3, blocked.failedAttempts);
  EXPECT_EQ(static_cast<std::uint64_t>(kNow), blocked.blockedAt);
  MobileInfo mobile{};
  ASSERT_EQ(0, OstraSdkService::readMobileInfo(blob, mobile));
  EXPECT_EQ(1, mobile.active);
  EXPECT_EQ(1, mobile.blocked);

  const std::string before = blob;
  EXPECT_EQ(AUTH_ERROR_AUTHENTICATOR_BLOCKED, Offline::checkOtp(blob, kRfcCodes[0], s, kNow + 60));
  EXPECT_EQ(before, blob);
}

TEST(OfflineOtp, AutomaticUnblockReleasesAfterItsTime) {
  std::string blob = makeBlob(MODEL_MOBILE_AUTHENTICATOR);
  const AuthenticationSettings s = settings();  // unblock after 10 minutes
  for (const char* wrong : {"000000", "111111", "222222"}) Offline::checkOtp(blob, wrong, s, kNow);
  ASSERT_EQ(1, infoOf(blob).blocked);
  EXPECT_EQ(AUTH_ERROR_AUTHENTICATOR_BLOCKED, Offline::checkOtp(blob, kRfcCodes[0], s, kNow + 10 * 60 - 1));
  EXPECT_EQ(AUTH_OK, Offline::checkOtp(blob, kRfcCodes[0], s, kNow + 10 * 60));
  const AuthenticatorInfo info = infoOf(blob);
  EXPECT_EQ(0, info.blocked);
  EXPECT_EQ(0, info.failedAttempts);
  EXPECT_EQ(0u, info.blockedAt);
  EXPECT_EQ(1u, info.counter);
}

TEST(OfflineOtp, ReleasedAuthenticatorStartsCountingAfresh) {
  std::string blob = makeBlob(MODEL_MOBILE_AUTHENTICATOR);
  const AuthenticationSettings s = settings();
  for (const char* wrong : {"000000", "111111", "222222"}) Offline::checkOtp(blob, wrong, s, kNow);
  EXPECT_EQ(AUTH_ERROR_CODE_REJECTED, Offline::checkOtp(blob, "333333", s, kNow + 3600));
  EXPECT_EQ(0, infoOf(blob).blocked);
  EXPECT_EQ(1, infoOf(blob).failedAttempts);
}

TEST(OfflineOtp, WithoutAutomaticUnblockTheBlockStays) {
  std::string blob = makeBlob(MODEL_MOBILE_AUTHENTICATOR);
  AuthenticationSettings s = settings();
  s.autoUnblockTime = 0;
  for (const char* wrong : {"000000", "111111", "222222"}) Offline::checkOtp(blob, wrong, s, kNow);
  EXPECT_EQ(AUTH_ERROR_AUTHENTICATOR_BLOCKED, Offline::checkOtp(blob, kRfcCodes[0], s, kNow + 365 * 86400));
}

TEST(OfflineOtp, ZeroAttemptsNeverBlocks) {
  std::string blob = makeBlob(MODEL_MOBILE_AUTHENTICATOR);
  AuthenticationSettings s = settings();
  s.authenticationAttempts = 0;
  for (int i = 0; i < 10; ++i) EXPECT_EQ(AUTH_ERROR_CODE_REJECTED, Offline::checkOtp(blob, "000000", s, kNow));
  EXPECT_EQ(AUTH_OK, Offline::checkOtp(blob, kRfcCodes[0], s, kNow));
}

TEST(OfflineOtp, LimitAboveWhatTheBlobCountsStillBlocks) {
  std::string blob = makeBlob(MODEL_MOBILE_AUTHENTICATOR);
  AuthenticationSettings s = settings();
  s.authenticationAttempts = 1000;
  s.syncTime = 0;
  for (int i = 0; i < 254; ++i) ASSERT_EQ(AUTH_ERROR_CODE_REJECTED, Offline::checkOtp(blob, "000000", s, kNow));
  EXPECT_EQ(0, infoOf(blob).blocked);
  EXPECT_EQ(AUTH_ERROR_CODE_REJECTED, Offline::checkOtp(blob, "000000", s, kNow));
  EXPECT_EQ(1, infoOf(blob).blocked);
  EXPECT_EQ(AUTH_ERROR_AUTHENTICATOR_BLOCKED, Offline::checkOtp(blob, kRfcCodes[0], s, kNow));
}

TEST(OfflineOtp, MalformedCodeIsRefusedWithoutCounting) {
  std::string blob = makeBlob(MODEL_MOBILE_AUTHENTICATOR);
  const std::string before = blob;
  for (const char* bad : {"", "12345", "1234567", "12a456", " 55224"})
    EXPECT_EQ(AUTH_ERROR_INVALID_CODE_FORMAT, Offline::checkOtp(blob, bad, settings(), kNow)) << bad;
  EXPECT_EQ(before, blob);
}

TEST(OfflineOtp, InactiveForeignOrKeylessBlobsAreRefusedUnchanged) {
  std::string inactive = makeBlob(MODEL_MOBILE_AUTHENTICATOR, kSecret, false);
  EXPECT_EQ(AUTH_ERROR_AUTHENTICATOR_INACTIVE, Offline::checkOtp(inactive, kRfcCodes[0], settings(), kNow));

  std::string blob = makeBlob(MODEL_MOBILE_AUTHENTICATOR);
  const std::string before = blob;
  AuthenticationSettings other = settings();
  other.integrationKey = "ik-other-account";
  EXPECT_EQ(AUTH_ERROR_BLOB_AUTHENTICATION, Offline::checkOtp(blob, kRfcCodes[0], other, kNow));
  other = settings();
  other.integrationKey.clear();
  EXPECT_EQ(AUTH_ERROR_ACCOUNT_KEY_MISSING, Offline::checkOtp(blob, kRfcCodes[0], other, kNow));
  EXPECT_EQ(before, blob);

  std::string wrongLength = blob.substr(0, 236);
  EXPECT_EQ(AUTH_ERROR_BLOB_LENGTH, Offline::checkOtp(wrongLength, kRfcCodes[0], settings(), kNow));
  EXPECT_EQ(236u, wrongLength.size());
}

TEST(OfflineOtp, ServiceEntryUsesClockPlusTimeDifference) {
  std::int64_t clock = kNow;
  const ClockOverride source([&clock] { return clock; });
  std::string blob = makeBlob(MODEL_MOBILE_AUTHENTICATOR);
  const AuthenticationSettings s = settings();
  for (const char* wrong : {"000000", "111111", "222222"})
    EXPECT_EQ(AUTH_ERROR_CODE_REJECTED, OstraSdkService::checkOtpLogonApp(blob, wrong, s, 0));
  // The block was recorded at service time kNow. The local clock 9 minutes later but the
  // service clock one minute further ahead: 10 minutes have passed for the service.
  clock = kNow + 9 * 60;
  EXPECT_EQ(AUTH_ERROR_AUTHENTICATOR_BLOCKED, OstraSdkService::checkOtpLogonApp(blob, kRfcCodes[0], s, 0));
  EXPECT_EQ(AUTH_OK, OstraSdkService::checkOtpLogonApp(blob, kRfcCodes[0], s, 60));
}

TEST(OfflineOtp, ExtremeTimeDifferenceSaturatesTheClock) {
  const ClockOverride clock(kNow);
  std::string blob = makeBlob(MODEL_MOBILE_AUTHENTICATOR);
  const AuthenticationSettings s = settings();
  const std::int64_t far = std::numeric_limits<std::int64_t>::max();
  EXPECT_EQ(AUTH_OK, OstraSdkService::checkOtpLogonApp(blob, kRfcCodes[0], s, far));
  EXPECT_EQ(AUTH_OK, OstraSdkService::checkOtpLogonApp(blob, kRfcCodes[1], s, std::numeric_limits<std::int64_t>::min()));
  for (const char* wrong : {"000000", "111111", "222222"})
    EXPECT_EQ(AUTH_ERROR_CODE_REJECTED, OstraSdkService::checkOtpLogonApp(blob, wrong, s, far));
  EXPECT_EQ(static_cast<std::uint64_t>(far), infoOf(blob).blockedAt);
  EXPECT_EQ(AUTH_ERROR_AUTHENTICATOR_BLOCKED, OstraSdkService::checkOtpLogonApp(blob, kRfcCodes[2], s, far));
}

TEST(OfflineOtp, IssuerComputesTheTokenCodes) {
  const std::string blob = makeBlob(12, kSecret);
  for (std::uint64_t c = 0; c < 10; ++c) {
    std::string otp;
    ASSERT_EQ(0, Issuer::computeOtp(blob, kAccount, kIntegrationKey, c, otp));
    EXPECT_EQ(kRfcCodes[c], otp);
  }
  std::string otp;
  EXPECT_EQ(AUTH_ERROR_BLOB_AUTHENTICATION, Issuer::computeOtp(blob, kAccount, "ik-wrong", 0, otp));
  EXPECT_TRUE(otp.empty());
}

TEST(OfflineOtp, Sha256EightDigitToken) {
  Blob::Definition d;
  d.model = 13;
  d.secret = CryptoSdk::Bytes(32, 0x42);
  d.otpAlgorithm = CryptoSdk::HashAlgorithm::Sha256;
  d.otpDigits = 8;
  std::string blob;
  ASSERT_EQ(0, Blob::create(d, kAccount, kIntegrationKey, blob));
  std::string otp;
  ASSERT_EQ(0, Issuer::computeOtp(blob, kAccount, kIntegrationKey, 0, otp));
  EXPECT_EQ(8u, otp.size());
  EXPECT_EQ(AUTH_ERROR_INVALID_CODE_FORMAT, Offline::checkOtp(blob, otp.substr(0, 6), settings(), kNow));
  EXPECT_EQ(AUTH_OK, Offline::checkOtp(blob, otp, settings(), kNow));
}
