// Offline OTP checks: counter, look-ahead, attempts, block and automatic unblock.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <tuple>

#include "AuthenticationSdk/AuthenticationException.h"
#include "AuthenticationSdk/OstraSdkService.h"
#include "Fixtures.h"

using namespace AuthenticationSdk;
using namespace AuthenticationSdk::Exception;
using namespace Fixtures;

namespace {

void failThreeTimes(std::string& blob, const AuthenticationSettings& s, std::int64_t now = kNow) {
  for (const char* wrong : {"000000", "111111", "222222"})
    EXPECT_EQ(AUTH_ERROR_CODE_REJECTED, Offline::checkOtp(blob, wrong, s, now));
}

}  // namespace

// syncTime 5: counters C .. C+5 are accepted; a match moves the counter past it and resets
// the attempts, so the same code fails next time and a token pressed ahead resynchronises.
TEST(OfflineOtp, CounterAndLookAheadWindow) {
  std::string blob = makeBlob(11, kSecret);  // hardware token, 152 characters
  const std::tuple<const char*, std::uint16_t, std::uint64_t, std::uint8_t> steps[] = {
      {kRfcCodes[0], AUTH_OK, 1, 0},
      {kRfcCodes[0], AUTH_ERROR_CODE_REJECTED, 1, 1},
      {kRfcCodes[7], AUTH_ERROR_CODE_REJECTED, 1, 2},
      {kRfcCodes[6], AUTH_OK, 7, 0},
      {kRfcCodes[2], AUTH_ERROR_CODE_REJECTED, 7, 1},
      {kRfcCodes[7], AUTH_OK, 8, 0},
  };
  for (const auto& [code, result, counter, attempts] : steps) {
    EXPECT_EQ(result, Offline::checkOtp(blob, code, settings(), kNow)) << code;
    EXPECT_EQ(counter, infoOf(blob).counter) << code;
    EXPECT_EQ(attempts, infoOf(blob).failedAttempts) << code;
  }
}

TEST(OfflineOtp, WrongCodesBlockAndTheBlockLiftsOnlyAfterItsTime) {
  std::string blob = makeBlob(MODEL_MOBILE_AUTHENTICATOR);
  const AuthenticationSettings s = settings();  // 3 attempts, unblock after 10 minutes
  failThreeTimes(blob, s);
  const AuthenticatorInfo blocked = infoOf(blob);
  EXPECT_EQ(1, blocked.blocked);
  EXPECT_EQ(3, blocked.failedAttempts);
  EXPECT_EQ(static_cast<std::uint64_t>(kNow), blocked.blockedAt);
  const std::string before = blob;
  EXPECT_EQ(AUTH_ERROR_AUTHENTICATOR_BLOCKED, Offline::checkOtp(blob, kRfcCodes[0], s, kNow + 10 * 60 - 1));
  EXPECT_EQ(before, blob);
  std::string released = blob;
  EXPECT_EQ(AUTH_OK, Offline::checkOtp(blob, kRfcCodes[0], s, kNow + 10 * 60));
  const AuthenticatorInfo info = infoOf(blob);
  EXPECT_EQ(0, info.blocked);
  EXPECT_EQ(0, info.failedAttempts);
  EXPECT_EQ(0u, info.blockedAt);
  EXPECT_EQ(1u, info.counter);
  // Released by a wrong code, it starts counting afresh.
  EXPECT_EQ(AUTH_ERROR_CODE_REJECTED, Offline::checkOtp(released, "333333", s, kNow + 3600));
  EXPECT_EQ(0, infoOf(released).blocked);
  EXPECT_EQ(1, infoOf(released).failedAttempts);
  // Without an automatic unblock the block stays.
  AuthenticationSettings forever = s;
  forever.autoUnblockTime = 0;
  std::string kept = makeBlob(MODEL_MOBILE_AUTHENTICATOR);
  failThreeTimes(kept, forever);
  EXPECT_EQ(AUTH_ERROR_AUTHENTICATOR_BLOCKED, Offline::checkOtp(kept, kRfcCodes[0], forever, kNow + 365 * 86400));
}

// A block made while the clock ran ten years ahead (or one the clock was set back behind since,
// or one made while the time read before 1970) would hold until the clock reached its date. The first check or count that sees it dates it
// at its own time and stores that, so the block lasts its 10 minutes from there, not before;
// then three wrong codes block again. The same for the OTP and the QR-code answer.
TEST(OfflineOtp, ABlockDatedAheadOfTheClockRunsFromTheFirstCheckThatSeesIt) {
  const std::string transaction = R"({"type":3,"timestamp":1767225600,"user":"alice","data":{}})";
  const std::string txId = "5f0c8a7e-1b2d-4c3e-9f40-112233445566";
  std::string qrCommand;
  // The factor, its check and its count: blob, code (empty: the right code at `now`), time.
  using Attempt = std::function<std::uint16_t(std::string&, const std::string&, std::int64_t)>;
  const std::tuple<const char*, Attempt, Attempt> factors[] = {
      {"otp",
       [](std::string& blob, const std::string& code, std::int64_t now) {
         std::string right;
         EXPECT_EQ(0, Issuer::computeOtp(blob, kAccount, kIntegrationKey, infoOf(blob).counter, right));
         return Offline::checkOtp(blob, code.empty() ? right : code, settings(), now);
       },
       [](std::string& blob, const std::string& code, std::int64_t now) {
         return Offline::countOtpAttempt(blob, code.empty() ? "123456" : code, settings(), now);
       }},
      {"qrcode",
       [&](std::string& blob, const std::string& code, std::int64_t now) {
         std::string right;
         EXPECT_EQ(0, Issuer::computeQrAnswer(blob, kAccount, kIntegrationKey, qrCommand, now, right));
         return Offline::checkQrAnswer(blob, 3, txId, transaction, code.empty() ? right : code, settings(), now);
       },
       [&](std::string& blob, const std::string& code, std::int64_t now) {
         return Offline::countQrAttempt(blob, 3, txId, transaction, code.empty() ? "123456" : code, settings(), now);
       }},
  };
  const std::int64_t ahead = kNow + 10 * 365 * 86400, minutes10 = 10 * 60;
  for (const auto& [factor, check, count] : factors) {
    SCOPED_TRACE(factor);
    // When the block was made, and the date it got: ten years ahead; before 1970, a time held at
    // 0, which dates it at the end of the range rather than at 0 (lifted at once otherwise).
    const std::pair<std::int64_t, std::uint64_t> made[] = {
        {ahead, static_cast<std::uint64_t>(ahead)},
        {-5, static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())}};
    for (const auto& [madeAt, datedAt] : made)
      for (const bool counting : {false, true}) {
        std::string blob = makeBlob(MODEL_MOBILE_AUTHENTICATOR);
        MobileAuthenticatorEntry entry;
        ASSERT_TRUE(makeMobileAuthenticatorEntry(blob, 7, entry));
        ASSERT_EQ(0, OstraSdkService::generateQRCodeCommand({entry}, 3, txId, transaction, qrCommand));
        for (const char* wrong : {"000000", "111111", "222222"})
          ASSERT_EQ(AUTH_ERROR_CODE_REJECTED, check(blob, wrong, madeAt));
        ASSERT_EQ(datedAt, infoOf(blob).blockedAt);
        // Put right: blocked, dated now; neither the count nor the check compares the code.
        const Attempt& first = counting ? count : check;
        EXPECT_EQ(AUTH_ERROR_AUTHENTICATOR_BLOCKED, first(blob, "", kNow));
        EXPECT_EQ(1, infoOf(blob).blocked);
        EXPECT_EQ(static_cast<std::uint64_t>(kNow), infoOf(blob).blockedAt);
        EXPECT_EQ(3, infoOf(blob).failedAttempts);
        const std::string redated = blob;
        EXPECT_EQ(AUTH_ERROR_AUTHENTICATOR_BLOCKED, check(blob, "", kNow + minutes10 - 1));
        EXPECT_EQ(redated, blob);
        EXPECT_EQ(AUTH_OK, check(blob, "", kNow + minutes10));
        for (const char* wrong : {"000000", "111111", "222222"})
          EXPECT_EQ(AUTH_ERROR_CODE_REJECTED, check(blob, wrong, kNow + minutes10 + 1));
        EXPECT_EQ(AUTH_ERROR_AUTHENTICATOR_BLOCKED, check(blob, "", kNow + minutes10 + 2));
        EXPECT_EQ(static_cast<std::uint64_t>(kNow + minutes10 + 1), infoOf(blob).blockedAt);
      }
  }
}

// The codes this machine moved past (accepted, or skipped by a token pressed ahead) are known as
// used from a given counter on; a code the service accepted moves the stored counter past it; a
// blob the service sends in place of one whose counter this machine moved ahead keeps the local
// counter and the service's other state, unless it holds another secret (the token enrolled
// again) or the service is as far or further.
TEST(OfflineOtp, CodesBehindTheCounterAreKnownAsUsedAndTheLocalCounterOutlivesTheServicesBlob) {
  const AuthenticationSettings s = settings();
  std::string local = makeBlob(MODEL_MOBILE_AUTHENTICATOR);
  ASSERT_EQ(AUTH_OK, Offline::checkOtp(local, kRfcCodes[0], s, kNow));
  ASSERT_EQ(AUTH_OK, Offline::checkOtp(local, kRfcCodes[3], s, kNow));  // pressed ahead: 1 and 2 skipped
  ASSERT_EQ(4u, infoOf(local).counter);
  for (const std::uint64_t from : {0, 2, 4}) {
    for (int c = 0; c < 10; ++c) {
      bool used = true;
      EXPECT_EQ(0, OstraSdkService::isOtpUsedLogonApp(local, kRfcCodes[c], s, from, used));
      EXPECT_EQ(c >= static_cast<int>(from) && c < 4, used) << "from " << from << " code " << c;
    }
  }
  bool used = true;
  EXPECT_EQ(0, Offline::isOtpUsed(local, "75522", s, 0, used));
  EXPECT_FALSE(used);
  AuthenticationSettings foreign = s;
  foreign.integrationKey = "ik-other-account";
  EXPECT_EQ(AUTH_ERROR_BLOB_AUTHENTICATION, Offline::isOtpUsed(local, kRfcCodes[0], foreign, 0, used));
  EXPECT_FALSE(used);

  auto serviceBlob = [](const CryptoSdk::Bytes& secret, std::uint64_t counter) {
    Blob::Definition d;
    d.secret = secret;
    d.counter = counter;
    std::string blob;
    EXPECT_EQ(0, Blob::create(d, kAccount, kIntegrationKey, blob));
    return blob;
  };
  // The service's blob, its counter, blocked there; kept, the counter sent, the counter after.
  const CryptoSdk::Bytes otherSecret = hex("3132333435363738393031323334353637383930313233343536373839303132");
  const std::tuple<std::string, std::uint64_t, bool, bool, std::uint64_t, std::uint64_t> rows[] = {
      {"behind", 1, false, true, 1, 4},
      {"behind and blocked there", 0, true, true, 0, 4},
      {"as far", 4, false, false, 4, 4},
      {"further", 6, false, false, 6, 6},
      {"another secret", 0, false, false, 0, 0},
  };
  for (const auto& [what, counter, blocked, kept, sent, after] : rows) {
    SCOPED_TRACE(what);
    std::string service = serviceBlob(what == "another secret" ? otherSecret : kSecret, counter);
    if (blocked) failThreeTimes(service, s);
    const std::string before = service;
    bool wasKept = !kept;
    std::uint64_t serviceCounter = 99;
    EXPECT_EQ(0, OstraSdkService::keepLocalCounterLogonApp(local, s, service, s, wasKept, serviceCounter));
    EXPECT_EQ(kept, wasKept);
    EXPECT_EQ(sent, serviceCounter);
    EXPECT_EQ(after, infoOf(service).counter);
    EXPECT_EQ(blocked, infoOf(service).blocked == 1);
    if (!kept) {
      EXPECT_EQ(before, service);
    } else if (!blocked) {
      EXPECT_EQ(AUTH_ERROR_CODE_REJECTED, Offline::checkOtp(service, kRfcCodes[3], s, kNow));
      EXPECT_EQ(AUTH_OK, Offline::checkOtp(service, kRfcCodes[4], s, kNow));
    }
  }
  // A code the service accepted, here ahead of the stored counter within the look-ahead window,
  // moves the counter past it; one outside the window, a malformed one or one behind moves nothing.
  const std::tuple<const char*, bool, std::uint64_t> accepted[] = {
      {kRfcCodes[6], true, 7}, {kRfcCodes[4], true, 5}, {kRfcCodes[2], false, 4}, {"12345", false, 4}};
  for (const auto& [code, moves, after] : accepted) {
    std::string blob = local;
    bool moved = !moves;
    EXPECT_EQ(0, OstraSdkService::moveOtpCounterLogonApp(blob, code, s, moved)) << code;
    EXPECT_EQ(moves, moved) << code;
    EXPECT_EQ(after, infoOf(blob).counter) << code;
    EXPECT_EQ(0, infoOf(blob).failedAttempts);
  }
  AuthenticationSettings narrow = s;
  narrow.syncTime = 1;
  std::string outside = local;
  EXPECT_EQ(0, Offline::moveCounterPast(outside, kRfcCodes[6], narrow, used));
  EXPECT_FALSE(used);
  EXPECT_EQ(local, outside);

  std::string unreadable = local;
  std::uint64_t serviceCounter = 0;
  EXPECT_EQ(AUTH_ERROR_BLOB_AUTHENTICATION, Offline::keepLocalCounter(makeBlob(10), s, unreadable, foreign, used,
                                                                      serviceCounter));
  EXPECT_EQ(local, unreadable);
  // The account's key changed: the local blob opens under the old one, the service's under the
  // new one, which the raised blob keeps.
  Blob::Definition rekeyed;
  rekeyed.secret = kSecret;
  std::string service;
  ASSERT_EQ(0, Blob::create(rekeyed, kAccount, "ik-rotated-key", service));
  AuthenticationSettings newKey = s;
  newKey.integrationKey = "ik-rotated-key";
  EXPECT_EQ(0, Offline::keepLocalCounter(local, s, service, newKey, used, serviceCounter));
  EXPECT_TRUE(used);
  EXPECT_EQ(AUTH_ERROR_CODE_REJECTED, Offline::checkOtp(service, kRfcCodes[3], newKey, kNow));
  EXPECT_EQ(AUTH_OK, Offline::checkOtp(service, kRfcCodes[4], newKey, kNow));
}

// 0 attempts never blocks; a limit above 255 blocks at 255, the most the blob counts.
TEST(OfflineOtp, AttemptLimits) {
  std::string blob = makeBlob(MODEL_MOBILE_AUTHENTICATOR);
  AuthenticationSettings s = settings();
  s.authenticationAttempts = 0;
  for (int i = 0; i < 10; ++i) EXPECT_EQ(AUTH_ERROR_CODE_REJECTED, Offline::checkOtp(blob, "000000", s, kNow));
  EXPECT_EQ(AUTH_OK, Offline::checkOtp(blob, kRfcCodes[0], s, kNow));
  blob = makeBlob(MODEL_MOBILE_AUTHENTICATOR);
  s.authenticationAttempts = 1000;
  s.syncTime = 0;
  for (int i = 0; i < 254; ++i) ASSERT_EQ(AUTH_ERROR_CODE_REJECTED, Offline::checkOtp(blob, "000000", s, kNow));
  EXPECT_EQ(0, infoOf(blob).blocked);
  EXPECT_EQ(AUTH_ERROR_CODE_REJECTED, Offline::checkOtp(blob, "000000", s, kNow));
  EXPECT_EQ(1, infoOf(blob).blocked);
  EXPECT_EQ(AUTH_ERROR_AUTHENTICATOR_BLOCKED, Offline::checkOtp(blob, kRfcCodes[0], s, kNow));
}

// Refusals before any counting leave the blob as it was.
TEST(OfflineOtp, RefusedInputsLeaveTheBlobUnchanged) {
  const std::string good = makeBlob(MODEL_MOBILE_AUTHENTICATOR);
  AuthenticationSettings foreign = settings(), keyless = settings();
  foreign.integrationKey = "ik-other-account";
  keyless.integrationKey.clear();
  const std::tuple<std::string, const char*, AuthenticationSettings, std::uint16_t> rows[] = {
      {good, "", settings(), AUTH_ERROR_INVALID_CODE_FORMAT},
      {good, "12345", settings(), AUTH_ERROR_INVALID_CODE_FORMAT},
      {good, "1234567", settings(), AUTH_ERROR_INVALID_CODE_FORMAT},
      {good, "12a456", settings(), AUTH_ERROR_INVALID_CODE_FORMAT},
      {good, " 55224", settings(), AUTH_ERROR_INVALID_CODE_FORMAT},
      {makeBlob(MODEL_MOBILE_AUTHENTICATOR, kSecret, false), kRfcCodes[0], settings(),
       AUTH_ERROR_AUTHENTICATOR_INACTIVE},
      {good, kRfcCodes[0], foreign, AUTH_ERROR_BLOB_AUTHENTICATION},
      {good, kRfcCodes[0], keyless, AUTH_ERROR_ACCOUNT_KEY_MISSING},
      {good.substr(0, 236), kRfcCodes[0], settings(), AUTH_ERROR_BLOB_LENGTH},
  };
  for (const auto& [given, code, s, result] : rows) {
    std::string blob = given;
    EXPECT_EQ(result, Offline::checkOtp(blob, code, s, kNow)) << code;
    EXPECT_EQ(given, blob);
    // The count before a check answers the same, counts nothing: the code is then not checked.
    EXPECT_EQ(result, Offline::countOtpAttempt(blob, code, s, kNow)) << code;
    EXPECT_EQ(given, blob);
  }
}

// An attempt is counted before its code is checked: the count leaves the blob just as the
// refusal of a wrong code does, so an outcome that is never saved stays a refusal; once the
// counts block the authenticator the count says so and nothing more is checked.
TEST(OfflineOtp, CountedAttemptLeavesTheBlobAsItsRefusal) {
  const ClockOverride clock(kNow);
  const AuthenticationSettings s = settings();  // 3 attempts, unblock after 10 minutes
  std::string counted = makeBlob(MODEL_MOBILE_AUTHENTICATOR), refused = counted;
  for (int i = 1; i <= 3; ++i) {
    const std::string before = counted;
    ASSERT_EQ(AUTH_OK, OstraSdkService::countOtpAttemptLogonApp(counted, kRfcCodes[0], s, 0)) << i;
    EXPECT_EQ(AUTH_ERROR_CODE_REJECTED, Offline::checkOtp(refused, "000000", s, kNow)) << i;
    EXPECT_EQ(refused, counted) << i;
    // The check runs on the blob as it was before its count: the third code is still checked.
    std::string checked = before;
    EXPECT_EQ(AUTH_OK, Offline::checkOtp(checked, kRfcCodes[0], s, kNow)) << i;
  }
  EXPECT_EQ(1, infoOf(counted).blocked);
  const std::string blocked = counted;
  EXPECT_EQ(AUTH_ERROR_AUTHENTICATOR_BLOCKED, Offline::countOtpAttempt(counted, kRfcCodes[0], s, kNow + 10 * 60 - 1));
  EXPECT_EQ(blocked, counted);
  // The unblock time lifts the block and the attempt counts afresh.
  EXPECT_EQ(AUTH_OK, Offline::countOtpAttempt(counted, kRfcCodes[0], s, kNow + 10 * 60));
  EXPECT_EQ(0, infoOf(counted).blocked);
  EXPECT_EQ(1, infoOf(counted).failedAttempts);
  EXPECT_EQ(0u, infoOf(counted).counter);
}

TEST(OfflineOtp, ServiceEntryUsesClockPlusTimeDifferenceAndSaturates) {
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

  // A difference beyond the clock's range gives the range's end, not a wrapped time.
  const std::int64_t far = std::numeric_limits<std::int64_t>::max();
  std::string other = makeBlob(MODEL_MOBILE_AUTHENTICATOR);
  EXPECT_EQ(AUTH_OK, OstraSdkService::checkOtpLogonApp(other, kRfcCodes[0], s, far));
  EXPECT_EQ(AUTH_OK,
            OstraSdkService::checkOtpLogonApp(other, kRfcCodes[1], s, std::numeric_limits<std::int64_t>::min()));
  for (const char* wrong : {"000000", "111111", "222222"})
    EXPECT_EQ(AUTH_ERROR_CODE_REJECTED, OstraSdkService::checkOtpLogonApp(other, wrong, s, far));
  EXPECT_EQ(static_cast<std::uint64_t>(far), infoOf(other).blockedAt);
  EXPECT_EQ(AUTH_ERROR_AUTHENTICATOR_BLOCKED, OstraSdkService::checkOtpLogonApp(other, kRfcCodes[2], s, far));
}

// The service side computes a token's codes with the hash and digits its blob names, and only
// with the account's integration key.
TEST(OfflineOtp, IssuerComputesTheTokenCodesOfEveryHash) {
  std::string otp;
  ASSERT_EQ(0, Issuer::computeOtp(makeBlob(12, kSecret), kAccount, kIntegrationKey, 9, otp));
  EXPECT_EQ(kRfcCodes[9], otp);
  EXPECT_EQ(AUTH_ERROR_BLOB_AUTHENTICATION, Issuer::computeOtp(makeBlob(12), kAccount, "ik-wrong", 0, otp));
  EXPECT_TRUE(otp.empty());
  Blob::Definition d;
  d.model = 13;
  d.secret = CryptoSdk::Bytes(32, 0x42);
  d.otpAlgorithm = CryptoSdk::HashAlgorithm::Sha256;
  d.otpDigits = 8;
  std::string sha256;
  ASSERT_EQ(0, Blob::create(d, kAccount, kIntegrationKey, sha256));
  ASSERT_EQ(0, Issuer::computeOtp(sha256, kAccount, kIntegrationKey, 0, otp));
  EXPECT_EQ(8u, otp.size());
  EXPECT_EQ(AUTH_ERROR_INVALID_CODE_FORMAT, Offline::checkOtp(sha256, otp.substr(0, 6), settings(), kNow));
  EXPECT_EQ(AUTH_OK, Offline::checkOtp(sha256, otp, settings(), kNow));
}
