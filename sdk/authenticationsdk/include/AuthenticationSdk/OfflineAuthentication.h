#pragma once

// The offline checks and the QR-code command, with the time given explicitly, and
// the other side of each exchange (what the service, the mobile authenticator and the
// administrator's console compute). OstraSdkService wraps the checks with the clock.
//
// Formats (docs/sdk.md):
// - QR-code command: "KVQR1;s=<suite>;q=<question>;d=<device ids>;tt=<type>;ti=<transaction id>;td=<Base64 JSON>"
//   with the suite kQrCodeSuite and the question the first 40 hex digits of
//   SHA-256([type] || [len]_32 || transaction id || [len]_32 || transaction JSON).
// - QR-code answer: OCRA of kQrCodeSuite over that question and the minute (T1M).
// - Forgot-token code: OCRA of kForgotTokenSuite with the question SHA-256 (64 hex digits)
//   of the challenge record's JSON, keyed by the account's emergency key.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "AuthenticationSdk/AuthenticationSettings.h"

namespace AuthenticationSdk {

extern const char kQrCodeSuite[];       // "OCRA-1:HOTP-SHA256-6:QH40-T1M"
extern const char kForgotTokenSuite[];  // "OCRA-1:HOTP-SHA256-6:QH64"
constexpr std::uint8_t kDesktopLogonTransaction = 3;

// A mobile authenticator as the business layer hands it over: the 280-character blob
// with a terminating NUL, and the device identifier as decimal text, NUL-padded.
struct MobileAuthenticatorEntry {
  char blob[281];
  char deviceId[10];
};
static_assert(sizeof(MobileAuthenticatorEntry) == 291, "fixed record of 291 bytes");

// The entry of one mobile-authenticator record, for whoever hands entries to
// generateQRCodeCommand. False, with an all-zero entry, for a blob longer than 280.
bool makeMobileAuthenticatorEntry(const std::string& blob, std::uint32_t deviceId, MobileAuthenticatorEntry& entry);

struct QrCommand {
  std::string suite;
  std::string question;
  std::vector<std::uint32_t> deviceIds;
  std::uint8_t transactionType = 0;
  std::string transactionId;
  std::string transactionJson;
};

// The question that binds an answer to one transaction.
std::string makeQrQuestion(std::uint8_t transactionType, const std::string& transactionId,
                           const std::string& transactionJson);
// Reads a command and checks that its question matches its transaction; 0 or 21.
std::uint16_t parseQrCommand(const std::string& text, QrCommand& command);

namespace Offline {

// `now` is Unix seconds on the service's clock (local time plus the time difference).
std::uint16_t checkOtp(std::string& blob, const std::string& otp, const AuthenticationSettings& settings,
                       std::int64_t now);
// One failed attempt counted in the blob before the code is checked: 0 when it was counted,
// and the check may then compare the code; otherwise the answer the check would give without
// comparing it (inactive, blocked, malformed code...), and the blob is left as the check would
// leave it. A refusal of the code at the same time leaves the blob in the same state as the
// count, so an attempt whose outcome is never saved stays counted as a refusal.
std::uint16_t countOtpAttempt(std::string& blob, const std::string& otp, const AuthenticationSettings& settings,
                              std::int64_t now);
// Whether `otp` is the code of a counter from `fromCounter` up to (not including) the blob's
// counter, that is a code this machine has moved past (at most the last kMaxUsedLookBack
// counters are looked at). 0 with `used` set, or the code of a blob that does not open.
constexpr std::uint64_t kMaxUsedLookBack = 1000;
std::uint16_t isOtpUsed(const std::string& blob, const std::string& otp, const AuthenticationSettings& settings,
                        std::uint64_t fromCounter, bool& used);
// A code the service accepted: when `otp` is the code of a counter from the blob's counter up
// to its look-ahead window, the counter moves past it (`moved` set, nothing else changes), so
// the code does not pass here afterwards. 0, or the code of a blob that does not open.
std::uint16_t moveCounterPast(std::string& blob, const std::string& otp, const AuthenticationSettings& settings,
                              bool& moved);
// A blob the service sent in place of `localBlob` for the same authenticator: when both open
// (the local one under `localSettings`' key, the service's under `serviceSettings`', which
// differ only when the account's key changed) with the same secret, model, digits and hash, and
// the local counter is ahead, `serviceBlob` comes back with the local counter (its other state
// kept, tagged under its own key) and `kept` set, `serviceCounter` being the counter the
// service sent. 0, or the code of a blob that does not open (nothing changed then).
std::uint16_t keepLocalCounter(const std::string& localBlob, const AuthenticationSettings& localSettings,
                               std::string& serviceBlob, const AuthenticationSettings& serviceSettings, bool& kept,
                               std::uint64_t& serviceCounter);
std::uint16_t checkQrAnswer(std::string& blob, std::uint8_t transactionType, const std::string& transactionId,
                            const std::string& transactionJson, const std::string& code,
                            const AuthenticationSettings& settings, std::int64_t now);
std::uint16_t countQrAttempt(std::string& blob, std::uint8_t transactionType, const std::string& transactionId,
                             const std::string& transactionJson, const std::string& code,
                             const AuthenticationSettings& settings, std::int64_t now);
std::uint16_t generateQrCommand(const std::vector<MobileAuthenticatorEntry>& entries, std::uint8_t transactionType,
                                const std::string& transactionId, const std::string& transactionJson,
                                std::string& command);
std::uint16_t checkForgotTokenCode(const std::string& challengeJson, const std::string& code,
                                   const AuthenticationSettings& settings);

}  // namespace Offline

namespace Issuer {

// The code a token shows at `counter`.
std::uint16_t computeOtp(const std::string& blob, const std::string& accountId, const std::string& integrationKey,
                         std::uint64_t counter, std::string& otp);
// The answer a mobile authenticator shows for a scanned command at `unixTime`.
std::uint16_t computeQrAnswer(const std::string& blob, const std::string& accountId,
                              const std::string& integrationKey, const std::string& command, std::int64_t unixTime,
                              std::string& answer);
// The verification code an administrator reads out for a forgot-token challenge.
std::uint16_t computeForgotTokenCode(const std::string& challengeJson, const std::string& accountId,
                                     const std::string& integrationKey, std::string& code);

}  // namespace Issuer

// Unix seconds of the local clock used by the OstraSdkService checks. Higher layers
// may route it to their own injectable clock; by default the system clock.
std::int64_t currentUnixTime();
void setUnixTimeSource(std::function<std::int64_t()> source);

}  // namespace AuthenticationSdk
