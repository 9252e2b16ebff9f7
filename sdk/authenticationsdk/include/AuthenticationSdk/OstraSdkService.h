#pragma once

// What the business objects and services use of the SDK: the offline checks of OTP,
// QR-code answers and forgot-token codes, the offline QR-code command and the readers
// of authenticator blobs. The checks read the local clock (AuthenticationSdk::
// currentUnixTime) and add the time difference (service clock minus local clock).

#include <cstdint>
#include <string>
#include <vector>

#include "AuthenticationSdk/AuthenticationSettings.h"
#include "AuthenticationSdk/AuthenticatorBlob.h"
#include "AuthenticationSdk/ChallengeData.h"
#include "AuthenticationSdk/OfflineAuthentication.h"
#include "AuthenticationSdk/RandomNumber.h"

namespace OstraSdkService {

using MobileAuthenticatorEntry = AuthenticationSdk::MobileAuthenticatorEntry;

// 0 when the OTP is accepted; the blob comes back with its new counter, attempts and block.
std::uint16_t checkOtpLogonApp(std::string& blob, const std::string& otp,
                               const AuthenticationSdk::AuthenticationSettings& settings, std::int64_t timeDifference);

// 0 when the code answers the QR-code challenge made from that transaction.
std::uint16_t checkAdvancedAuthenticationLogonApp(std::string& blob, std::uint8_t transactionType,
                                                  const std::string& transactionId, const std::string& transactionJson,
                                                  const std::string& authenticationCode,
                                                  const AuthenticationSdk::AuthenticationSettings& settings,
                                                  std::int64_t timeDifference);

// Before one of the two checks above: one failed attempt counted in the blob, as a refusal of
// the code would count it. 0 when it was counted and the code may be checked; otherwise the
// check's answer without comparing the code (the code must then not be checked).
std::uint16_t countOtpAttemptLogonApp(std::string& blob, const std::string& otp,
                                      const AuthenticationSdk::AuthenticationSettings& settings,
                                      std::int64_t timeDifference);
std::uint16_t countAdvancedAuthenticationAttemptLogonApp(std::string& blob, std::uint8_t transactionType,
                                                         const std::string& transactionId,
                                                         const std::string& transactionJson,
                                                         const std::string& authenticationCode,
                                                         const AuthenticationSdk::AuthenticationSettings& settings,
                                                         std::int64_t timeDifference);

// A one-time code this machine has used: whether `otp` is the code of a counter from
// `fromCounter` up to the blob's counter (0, `used` set), or the code of a blob that does not open.
std::uint16_t isOtpUsedLogonApp(const std::string& blob, const std::string& otp,
                                const AuthenticationSdk::AuthenticationSettings& settings, std::uint64_t fromCounter,
                                bool& used);
// A code the service accepted moves the blob's counter past it (Offline::moveCounterPast).
std::uint16_t moveOtpCounterLogonApp(std::string& blob, const std::string& otp,
                                     const AuthenticationSdk::AuthenticationSettings& settings, bool& moved);
// The service's blob of an authenticator whose counter this machine moved ahead keeps the local
// counter (AuthenticationSdk::Offline::keepLocalCounter).
std::uint16_t keepLocalCounterLogonApp(const std::string& localBlob,
                                       const AuthenticationSdk::AuthenticationSettings& localSettings,
                                       std::string& serviceBlob,
                                       const AuthenticationSdk::AuthenticationSettings& serviceSettings, bool& kept,
                                       std::uint64_t& serviceCounter);

// 0 when the command text was written.
std::uint16_t generateQRCodeCommand(const std::vector<MobileAuthenticatorEntry>& entries, std::uint8_t transactionType,
                                    const std::string& transactionId, const std::string& transactionJson,
                                    std::string& command);

// 0 when the code is accepted for that challenge. Checked against the account's
// emergency authenticator (keyed by settings.integrationKey); the time difference is
// not used.
std::uint16_t checkForgotTokenAuthenticationCodeLogonApp(const std::string& challengeJson,
                                                         const std::string& authenticationCode,
                                                         const AuthenticationSdk::AuthenticationSettings& settings,
                                                         std::int64_t timeDifference);

// The English text of a code of any SDK range.
std::string getErrorMessage(std::uint16_t code);

// 0 when the blob was decoded into the record; 8 for a length that kind of blob never has.
std::uint16_t readMobileInfo(const std::string& blob, AuthenticationSdk::MobileInfo& info);
std::uint16_t readHardwareTokenInfo(const std::string& blob, AuthenticationSdk::HardwareTokenInfo& info);
std::uint16_t readDeviceInfo(const std::string& blob, AuthenticationSdk::DeviceInfo& info);

}  // namespace OstraSdkService
