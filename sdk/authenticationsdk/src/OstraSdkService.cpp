#include "AuthenticationSdk/OstraSdkService.h"

#include <limits>

#include "AuthenticationSdk/AuthenticationException.h"
#include "Commons/CommonsException.h"
#include "CryptoSdk/CryptoException.h"

namespace OstraSdkService {

using namespace AuthenticationSdk;
using namespace AuthenticationSdk::Exception;

namespace {

// The service's clock. The time difference comes from the configuration; one so large
// that the sum would overflow saturates instead.
std::int64_t serviceNow(std::int64_t timeDifference) {
  const std::int64_t local = currentUnixTime();
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  if (timeDifference > 0 && local > kMax - timeDifference) return kMax;
  if (timeDifference < 0 && local < kMin - timeDifference) return kMin;
  return local + timeDifference;
}

std::uint16_t readInfo(const std::string& blob, bool lengthOk, bool (*modelOk)(std::uint8_t),
                       AuthenticatorInfo& info) {
  if (!lengthOk) return AUTH_ERROR_BLOB_LENGTH;
  AuthenticatorInfo read;
  const std::uint16_t rc = Blob::inspect(blob, read);
  if (rc != 0) return rc;
  if (!modelOk(read.model)) return AUTH_ERROR_UNSUPPORTED_MODEL;
  info = read;
  return 0;
}

}  // namespace

std::uint16_t checkOtpLogonApp(std::string& blob, const std::string& otp, const AuthenticationSettings& settings,
                               std::int64_t timeDifference) {
  return Offline::checkOtp(blob, otp, settings, serviceNow(timeDifference));
}

std::uint16_t checkAdvancedAuthenticationLogonApp(std::string& blob, std::uint8_t transactionType,
                                                  const std::string& transactionId, const std::string& transactionJson,
                                                  const std::string& authenticationCode,
                                                  const AuthenticationSettings& settings,
                                                  std::int64_t timeDifference) {
  return Offline::checkQrAnswer(blob, transactionType, transactionId, transactionJson, authenticationCode, settings,
                                serviceNow(timeDifference));
}

std::uint16_t countOtpAttemptLogonApp(std::string& blob, const std::string& otp, const AuthenticationSettings& settings,
                                      std::int64_t timeDifference) {
  return Offline::countOtpAttempt(blob, otp, settings, serviceNow(timeDifference));
}

std::uint16_t countAdvancedAuthenticationAttemptLogonApp(std::string& blob, std::uint8_t transactionType,
                                                         const std::string& transactionId,
                                                         const std::string& transactionJson,
                                                         const std::string& authenticationCode,
                                                         const AuthenticationSettings& settings,
                                                         std::int64_t timeDifference) {
  return Offline::countQrAttempt(blob, transactionType, transactionId, transactionJson, authenticationCode, settings,
                                 serviceNow(timeDifference));
}

std::uint16_t isOtpUsedLogonApp(const std::string& blob, const std::string& otp, const AuthenticationSettings& settings,
                                std::uint64_t fromCounter, bool& used) {
  return Offline::isOtpUsed(blob, otp, settings, fromCounter, used);
}

std::uint16_t moveOtpCounterLogonApp(std::string& blob, const std::string& otp, const AuthenticationSettings& settings,
                                     bool& moved) {
  return Offline::moveCounterPast(blob, otp, settings, moved);
}

std::uint16_t keepLocalCounterLogonApp(const std::string& localBlob, const AuthenticationSettings& localSettings,
                                       std::string& serviceBlob, const AuthenticationSettings& serviceSettings,
                                       bool& kept, std::uint64_t& serviceCounter) {
  return Offline::keepLocalCounter(localBlob, localSettings, serviceBlob, serviceSettings, kept, serviceCounter);
}

std::uint16_t generateQRCodeCommand(const std::vector<MobileAuthenticatorEntry>& entries, std::uint8_t transactionType,
                                    const std::string& transactionId, const std::string& transactionJson,
                                    std::string& command) {
  return Offline::generateQrCommand(entries, transactionType, transactionId, transactionJson, command);
}

std::uint16_t checkForgotTokenAuthenticationCodeLogonApp(const std::string& challengeJson,
                                                         const std::string& authenticationCode,
                                                         const AuthenticationSettings& settings,
                                                         std::int64_t /*timeDifference*/) {
  return Offline::checkForgotTokenCode(challengeJson, authenticationCode, settings);
}

std::string getErrorMessage(std::uint16_t code) {
  if (code >= 9000) return CryptoSdk::Exception::getErrorMessage(code);
  if (code >= 8000) return Commons::Exception::getErrorMessage(code);
  if (code < 1000) return AuthenticationSdk::Exception::getErrorMessage(code);
  return "Unknown error.";
}

std::uint16_t readMobileInfo(const std::string& blob, MobileInfo& info) {
  return readInfo(blob, blob.size() == Blob::kMobileLength,
                  [](std::uint8_t m) { return m == MODEL_MOBILE_AUTHENTICATOR; }, info);
}

std::uint16_t readHardwareTokenInfo(const std::string& blob, HardwareTokenInfo& info) {
  return readInfo(blob, Blob::isHardwareTokenLength(blob.size()),
                  [](std::uint8_t m) { return m >= MODEL_OATH_TOKEN_FIRST && m <= MODEL_OATH_TOKEN_LAST; }, info);
}

std::uint16_t readDeviceInfo(const std::string& blob, DeviceInfo& info) {
  return readInfo(blob, blob.size() == Blob::kDeviceLength,
                  [](std::uint8_t m) { return m == MODEL_MARLET_DEVICE; }, info);
}

}  // namespace OstraSdkService
