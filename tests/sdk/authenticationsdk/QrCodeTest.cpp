// Offline QR-code command and OCRA answer, both sides.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "AuthenticationSdk/AuthenticationException.h"
#include "AuthenticationSdk/OstraSdkService.h"
#include "Fixtures.h"

using namespace AuthenticationSdk;
using namespace AuthenticationSdk::Exception;
using namespace Fixtures;

namespace {

const std::string kTransaction =
    "{\"type\":3,\"timestamp\":1767225600,\"user\":\"alice\",\"data\":{\"platform\":1,\"location\":\"\","
    "\"osVersion\":\"Windows 11 Pro\",\"computer\":\"PC-01\",\"domain\":\"CORP\",\"clientIp\":\"10.1.2.3\","
    "\"resourceName\":\"desk\"}}";

MobileAuthenticatorEntry entry(const std::string& blob, const std::string& deviceId) {
  MobileAuthenticatorEntry e{};
  std::memcpy(e.blob, blob.data(), std::min(blob.size(), sizeof(e.blob) - 1));
  std::memcpy(e.deviceId, deviceId.data(), std::min(deviceId.size(), sizeof(e.deviceId)));
  return e;
}

std::string command(const std::vector<MobileAuthenticatorEntry>& entries, const std::string& transactionId = "") {
  std::string text;
  EXPECT_EQ(0, OstraSdkService::generateQRCodeCommand(entries, 3, transactionId, kTransaction, text));
  return text;
}

std::string answer(const std::string& blob, const std::string& commandText, std::int64_t when) {
  std::string code;
  EXPECT_EQ(0, Issuer::computeQrAnswer(blob, kAccount, kIntegrationKey, commandText, when, code));
  return code;
}

}  // namespace

TEST(QrCode, CommandCarriesSuiteQuestionDevicesAndTransaction) {
  const std::string blob = makeBlob(MODEL_MOBILE_AUTHENTICATOR);
  MobileAuthenticatorEntry first, inactive, last;
  ASSERT_TRUE(makeMobileAuthenticatorEntry(blob, 4001, first));
  ASSERT_TRUE(makeMobileAuthenticatorEntry(makeBlob(10, kSecret, false), 4002, inactive));
  EXPECT_FALSE(makeMobileAuthenticatorEntry(blob + "A", 1, last));
  ASSERT_TRUE(makeMobileAuthenticatorEntry(makeBlob(10), 4294967295u, last));
  const std::string text = command({first, inactive, last});
  QrCommand parsed;
  ASSERT_EQ(0, parseQrCommand(text, parsed));
  EXPECT_EQ((std::vector<std::uint32_t>{4001, 4294967295u}), parsed.deviceIds);  // the inactive one is left out
  EXPECT_EQ("", parsed.transactionId);
  EXPECT_EQ(kTransaction, parsed.transactionJson);
  EXPECT_EQ(0u, text.find("KVQR1;s=OCRA-1:HOTP-SHA256-6:QH40-T1M;q="));
  EXPECT_EQ(std::string::npos, text.find(blob.substr(0, 40)));
}

// The answer verifies for its own transaction only; a wrong one counts, a right one
// resets the count, and a blocked authenticator refuses even the right one.
TEST(QrCode, AnswerIsCheckedAgainstItsTransaction) {
  std::string blob = makeBlob(MODEL_MOBILE_AUTHENTICATOR);
  const std::string txId = "5f0c8a7e-1b2d-4c3e-9f40-112233445566";
  const std::string code = answer(blob, command({entry(blob, "77")}, txId), kNow);
  ASSERT_EQ(6u, code.size());
  std::string other = kTransaction;
  other.replace(other.find("alice"), 5, "mallo");
  const std::string wrong = code == "000000" ? "000001" : "000000";
  EXPECT_EQ(AUTH_ERROR_CODE_REJECTED, Offline::checkQrAnswer(blob, 3, txId, other, code, settings(), kNow));
  EXPECT_EQ(AUTH_ERROR_CODE_REJECTED, Offline::checkQrAnswer(blob, 3, "", kTransaction, code, settings(), kNow));
  EXPECT_EQ(2, infoOf(blob).failedAttempts);
  EXPECT_EQ(AUTH_OK, Offline::checkQrAnswer(blob, 3, txId, kTransaction, code, settings(), kNow));
  EXPECT_EQ(0, infoOf(blob).failedAttempts);
  EXPECT_EQ(0u, infoOf(blob).counter) << "an OCRA answer does not move the counter";
  // The count made before each check leaves the blob as the refusal does, and blocks it as well.
  const ClockOverride clock(kNow);
  std::string counted = blob;
  for (int i = 0; i < 3; ++i) {
    Offline::checkQrAnswer(blob, 3, txId, kTransaction, wrong, settings(), kNow);
    EXPECT_EQ(AUTH_OK, OstraSdkService::countAdvancedAuthenticationAttemptLogonApp(counted, 3, txId, kTransaction, code,
                                                                                   settings(), 0));
    EXPECT_EQ(blob, counted);
  }
  EXPECT_EQ(AUTH_ERROR_AUTHENTICATOR_BLOCKED,
            Offline::checkQrAnswer(blob, 3, txId, kTransaction, code, settings(), kNow));
  EXPECT_EQ(AUTH_ERROR_AUTHENTICATOR_BLOCKED,
            Offline::countQrAttempt(counted, 3, txId, kTransaction, code, settings(), kNow));
  EXPECT_EQ(blob, counted);
}

TEST(QrCode, ClockToleranceFollowsTimeWindow) {
  std::string blob = makeBlob(MODEL_MOBILE_AUTHENTICATOR);
  const std::string text = command({entry(blob, "77")});
  const std::pair<std::int64_t, std::uint16_t> rows[] = {
      {kNow - 120, AUTH_OK}, {kNow - 180, AUTH_ERROR_CODE_REJECTED}, {kNow + 180, AUTH_ERROR_CODE_REJECTED}};
  for (const auto& [answeredAt, result] : rows)
    EXPECT_EQ(result,
              Offline::checkQrAnswer(blob, 3, "", kTransaction, answer(blob, text, answeredAt), settings(), kNow))
        << answeredAt - kNow;
  // The service-side entry point corrects the local clock by the time difference.
  const ClockOverride clock(kNow - 3600);
  EXPECT_EQ(AUTH_OK, OstraSdkService::checkAdvancedAuthenticationLogonApp(blob, 3, "", kTransaction,
                                                                          answer(blob, text, kNow), settings(), 3600));
}

TEST(QrCode, RefusesWhatCannotTakePart) {
  const std::string active = makeBlob(MODEL_MOBILE_AUTHENTICATOR);
  MobileAuthenticatorEntry unterminated = entry(active, "1");
  unterminated.blob[280] = 'A';
  const std::tuple<std::vector<MobileAuthenticatorEntry>, std::uint8_t, const char*, std::string, std::uint16_t>
      rows[] = {
          {{entry(active, "1")}, 2, "", kTransaction, AUTH_ERROR_INVALID_TRANSACTION_TYPE},
          {{entry(active, "1")}, 3, "", "", AUTH_ERROR_INVALID_TRANSACTION_DATA},
          {{entry(active, "1")}, 3, "a;b", kTransaction, AUTH_ERROR_INVALID_TRANSACTION_ID},
          {{}, 3, "", kTransaction, AUTH_ERROR_NO_ACTIVE_MOBILE_AUTHENTICATOR},
          {{entry(makeBlob(10, kSecret, false), "1")}, 3, "", kTransaction, AUTH_ERROR_NO_ACTIVE_MOBILE_AUTHENTICATOR},
          {{entry(active, "12a")}, 3, "", kTransaction, AUTH_ERROR_INVALID_AUTHENTICATOR_ENTRY},
          {{entry(active.substr(0, 279), "1")}, 3, "", kTransaction, AUTH_ERROR_INVALID_AUTHENTICATOR_ENTRY},
          {{entry(active, "4294967296")}, 3, "", kTransaction, AUTH_ERROR_INVALID_AUTHENTICATOR_ENTRY},
          {{unterminated}, 3, "", kTransaction, AUTH_ERROR_INVALID_AUTHENTICATOR_ENTRY},
      };
  for (const auto& [entries, type, id, json, result] : rows) {
    std::string text = "left over";
    EXPECT_EQ(result, OstraSdkService::generateQRCodeCommand(entries, type, id, json, text));
    EXPECT_TRUE(text.empty());
  }
  for (std::uint8_t model : {11, 9}) {  // hardware token, device
    std::string blob = makeBlob(model);
    EXPECT_EQ(AUTH_ERROR_UNSUPPORTED_MODEL,
              Offline::checkQrAnswer(blob, 3, "", kTransaction, "123456", settings(), kNow));
    EXPECT_EQ(AUTH_ERROR_UNSUPPORTED_MODEL,
              Offline::countQrAttempt(blob, 3, "", kTransaction, "123456", settings(), kNow));
  }
  // A malformed answer is neither counted nor checked.
  std::string blob = active;
  EXPECT_EQ(AUTH_ERROR_INVALID_CODE_FORMAT,
            Offline::countQrAttempt(blob, 3, "", kTransaction, "12345", settings(), kNow));
  EXPECT_EQ(active, blob);
}

TEST(QrCode, TamperedCommandIsRefusedByTheAuthenticatorSide) {
  const std::string blob = makeBlob(MODEL_MOBILE_AUTHENTICATOR);
  std::string text = command({entry(blob, "77")});
  QrCommand parsed;
  std::string changed = text;
  const std::size_t q = changed.find(";q=") + 3;
  changed[q] = changed[q] == '0' ? '1' : '0';
  EXPECT_EQ(AUTH_ERROR_INVALID_QR_COMMAND, parseQrCommand(changed, parsed));
  EXPECT_EQ(AUTH_ERROR_INVALID_QR_COMMAND, parseQrCommand(text.substr(0, text.size() - 4), parsed));
  EXPECT_EQ(AUTH_ERROR_INVALID_QR_COMMAND, parseQrCommand("KVQR1;q=00;s=x;d=1;tt=3;ti=;td=", parsed));
  std::string code = "x";
  EXPECT_EQ(AUTH_ERROR_INVALID_QR_COMMAND,
            Issuer::computeQrAnswer(blob, kAccount, kIntegrationKey, changed, kNow, code));
  EXPECT_TRUE(code.empty());
}
