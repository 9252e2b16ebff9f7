// "Forgot token" mode: challenge, screens, online and offline activation, and what an
// accepted activation leaves in the configuration.

#include "Korvath/Business/KvBusinessForgotAuthenticator.h"

#include "BusinessSupport.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "AuthenticationSdk/OstraSdkService.h"
#include "Korvath/Business/KvBusinessOTP.h"
#include "Korvath/Business/KvBusinessPush.h"
#include "Korvath/Business/KvBusinessQRCode.h"
#include "Korvath/ConnectionUtils.h"
#include "Korvath/Logger.h"
#include "Korvath/Platform.h"
#include "Korvath/RESTClient.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/Service/ServiceMessages.h"
#include "Korvath/WindowsFacts.h"

namespace Korvath {
namespace Business {

namespace {

constexpr std::size_t kAuthenticationCodeLength = 6;
constexpr std::size_t kChallengeMaxLength = 10;
// The challenge record's type of a forgot-token activation.
constexpr std::uint8_t kChallengeType = 0;
// Wrong forgot-token codes are counted up to this, as an authenticator blob counts wrong OTPs.
constexpr std::uint8_t kMaxFailures = 0xFF;
constexpr std::uint64_t kFileTimeMinute = 600000000ull;

bool isValidChallengeLength(const std::string& challenge) {
  return !challenge.empty() && challenge.size() <= kChallengeMaxLength;
}

// The fields the two forgot-token screens share. In forgot-token mode the dialog offers
// neither a remembered password nor the forgot-token link again.
void fillForgotResponse(Service::ServiceResponseBase& response, const std::string& userLogin,
                        const std::string& userPassword, const std::string& lastAuthType,
                        const Model::AuthFactorMap& authFactors) {
  // The setters refuse a login over 100 or a password over 300 characters; the field stays empty.
  response.setUserLogin(userLogin);
  response.setUserPassword(userPassword);
  response.setCheckRememberPassword(false);
  response.setEnableRememberPassword(false);
  response.setEnableForgotAuthenticator(false);
  response.setAuthTypes(authFactors);
  response.setLastAuthType(lastAuthType);
  response.setPolicyAllowsAuthentication(false);
}

}  // namespace

KvBusinessForgotAuthenticator::KvBusinessForgotAuthenticator(Config* config, KvCrypto* kvCrypto, KvBusiness* kvBusiness)
    : config_(config), kvCrypto_(kvCrypto), kvBusiness_(kvBusiness) {}

std::string KvBusinessForgotAuthenticator::generateChallenge() {
  std::string challenge;
  while (challenge.size() < 6) {
    const std::string first = std::to_string(AuthenticationSdk::generateRandomNumber(100, 999));
    const std::string second = std::to_string(AuthenticationSdk::generateRandomNumber(100, 999));
    challenge = second + first;
  }
  return challenge;
}

std::uint64_t KvBusinessForgotAuthenticator::fallbackExpirationAfter(std::uint64_t nowFileTime, std::int32_t hours) {
  const std::int64_t signedHours = hours;
  if (signedHours >= 0) {
    const std::uint64_t h = static_cast<std::uint64_t>(signedHours);
    // A grant beyond the end of the FILETIME range lasts until its end, instead of wrapping
    // round to some arbitrary (possibly already past, possibly near) time.
    if (h > (std::numeric_limits<std::uint64_t>::max() - nowFileTime) / kFileTimeHour) {
      return std::numeric_limits<std::uint64_t>::max();
    }
    return nowFileTime + h * kFileTimeHour;
  }
  const std::uint64_t h = static_cast<std::uint64_t>(-signedHours);
  if (h > nowFileTime / kFileTimeHour) return 0;
  return nowFileTime - h * kFileTimeHour;
}

// ---------------------------------------------------------------- screens

std::uint16_t KvBusinessForgotAuthenticator::genResponseActiveForgotAuthenticator(
    std::string userLogin, std::string userPassword, bool /*checkRememberPassword*/, std::string lastAuthType,
    Model::AuthFactorMap authFactors, std::uint16_t& responseType, std::string& response) {
  static const char* const kName =
      "Korvath::Business::KvBusinessForgotAuthenticator::genResponseActiveForgotAuthenticator";
  KV_TRACE_SCOPE(kName);
  Service::ServiceResponseActiveForgotAuthenticator reply;
  fillForgotResponse(reply, userLogin, userPassword, lastAuthType, authFactors);
  reply.setTime(0);
  // Every activation screen, also the one shown again after a refused code, gets a new one.
  reply.setChallenge(generateChallenge());
  reply.setOnLine(false);
  responseType = RESPONSE_TYPE_FORGOT_ACTIVATION;
  response = reply.toJson();
  return KV_SUCCESS;
}

std::uint16_t KvBusinessForgotAuthenticator::genResponseAuthForgotAuthenticator(
    std::string userLogin, std::string userPassword, bool /*checkRememberPassword*/, std::string lastAuthType,
    Model::AuthFactorMap authFactors, std::uint16_t& responseType, std::string& response) {
  static const char* const kName =
      "Korvath::Business::KvBusinessForgotAuthenticator::genResponseAuthForgotAuthenticator";
  KV_TRACE_SCOPE(kName);
  Service::ServiceResponseAuthForgotAuthenticator reply;
  fillForgotResponse(reply, userLogin, userPassword, lastAuthType, authFactors);
  reply.setOnLine(false);
  responseType = RESPONSE_TYPE_FORGOT_AUTHENTICATION;
  response = reply.toJson();
  return KV_SUCCESS;
}

// ---------------------------------------------------------------- activation

std::uint16_t KvBusinessForgotAuthenticator::offlineAuthenticateActiveForgotAuthenticator(
    Model::UserConfig user, std::uint32_t hours, std::string challenge, std::string authenticationCode) {
  static const char* const kName =
      "Korvath::Business::KvBusinessForgotAuthenticator::offlineAuthenticateActiveForgotAuthenticator";
  KV_TRACE_SCOPE(kName);
  if (authenticationCode.size() != kAuthenticationCodeLength) return KV_ERROR_INVALID_AUTHENTICATION_DATA_LENGTH;
  if (!isValidChallengeLength(challenge)) return KV_ERROR_INVALID_CHALLENGE_LENGTH;

  // The code was computed over this record, so the stored login and the granted hours are
  // verified with it: a code given for one user or one period opens no other.
  AuthenticationSdk::ChallengeData challengeData;
  challengeData.setType(kChallengeType);
  challengeData.setAccountId(config_->getAccountId());
  challengeData.setUserLogin(user.getUserLogin());
  challengeData.setTime(hours);
  challengeData.setChallenge(challenge);
  const std::string challengeJson = challengeData.toJson();
  KV_LOG_DEBUG("%s - challenge %s", kName, challengeJson.c_str());

  const ServerConfig serverConfig = config_->getServerConfig();
  const AuthenticationSdk::AuthenticationSettings settings = Detail::offlineSettings(*config_);
  const std::int64_t timeDifference = serverConfig.getTimeDifference();
  const std::uint16_t result = OstraSdkService::checkForgotTokenAuthenticationCodeLogonApp(
      challengeJson, authenticationCode, settings, timeDifference);
  KV_LOG_INFO("%s - result %d %s", kName, result, OstraSdkService::getErrorMessage(result).c_str());
  return result;
}

bool KvBusinessForgotAuthenticator::isForgotTokenBlocked(Model::UserConfig& user, std::uint64_t nowFileTime) const {
  static const char* const kName = "Korvath::Business::KvBusinessForgotAuthenticator::isForgotTokenBlocked";
  const std::uint64_t blockedAt = user.getForgotTokenBlockedAt();
  if (blockedAt == 0) return false;
  if (blockedAt > nowFileTime) {
    // A block from the future would outlast its time by as long as the clock went back.
    user.setForgotTokenBlockedAt(nowFileTime);
    return true;
  }
  const AuthenticationSdk::AuthenticationSettings settings = Detail::offlineSettings(*config_);
  if (settings.autoUnblockTime == 0) return true;
  const std::uint64_t minutes = (nowFileTime - blockedAt) / kFileTimeMinute;
  if (minutes < settings.autoUnblockTime) return true;
  KV_LOG_INFO("%s - the block of %s is lifted", kName, user.getUserLogin().c_str());
  user.setForgotTokenBlockedAt(0);
  user.setForgotTokenFailures(0);
  return false;
}

void KvBusinessForgotAuthenticator::countForgotTokenFailure(Model::UserConfig& user, std::uint64_t nowFileTime) const {
  static const char* const kName = "Korvath::Business::KvBusinessForgotAuthenticator::countForgotTokenFailure";
  const std::uint8_t failures = user.getForgotTokenFailures();
  if (failures < kMaxFailures) user.setForgotTokenFailures(static_cast<std::uint8_t>(failures + 1));
  // As the authenticator blob: a limit above what is counted blocks there rather than never.
  const std::uint32_t limit = std::min<std::uint32_t>(Detail::offlineSettings(*config_).authenticationAttempts, kMaxFailures);
  KV_LOG_INFO("%s - %u wrong codes of %u", kName, static_cast<unsigned>(user.getForgotTokenFailures()),
              static_cast<unsigned>(limit));
  if (limit != 0 && user.getForgotTokenFailures() >= limit) {
    KV_LOG_INFO("%s - offline activation blocked for %s", kName, user.getUserLogin().c_str());
    user.setForgotTokenBlockedAt(nowFileTime == 0 ? 1 : nowFileTime);
  }
}

std::uint16_t KvBusinessForgotAuthenticator::countOfflineActivationAttempt(Model::UserConfig& user,
                                                                           const std::string& challenge,
                                                                           const std::string& authenticationCode,
                                                                           std::uint64_t nowFileTime) const {
  if (isForgotTokenBlocked(user, nowFileTime)) return KV_ERROR_USER_LOCKED;
  if (authenticationCode.size() != kAuthenticationCodeLength) return KV_ERROR_INVALID_AUTHENTICATION_DATA_LENGTH;
  if (!isValidChallengeLength(challenge)) return KV_ERROR_INVALID_CHALLENGE_LENGTH;
  countForgotTokenFailure(user, nowFileTime);
  return KV_SUCCESS;
}

Model::KvResult KvBusinessForgotAuthenticator::onlineAuthenticateActiveForgotAuthenticator(
    std::string userLogin, std::int32_t hours, std::string challenge, std::string authenticationCode) {
  static const char* const kName =
      "Korvath::Business::KvBusinessForgotAuthenticator::onlineAuthenticateActiveForgotAuthenticator";
  KV_TRACE_SCOPE(kName);
  Model::KvResult result(KV_ERROR_FAIL_REQUEST_ACTIVATION_FORGOT_TOKEN, 0, std::string());

  if (authenticationCode.size() != kAuthenticationCodeLength) {
    result.setResultCode(KV_ERROR_INVALID_AUTHENTICATION_DATA_LENGTH);
  } else if (!isValidChallengeLength(challenge)) {
    result.setResultCode(KV_ERROR_INVALID_CHALLENGE_LENGTH);
  } else {
    kvBusiness_->setKvCryptoInputs();
    RESTClient client(config_->getRegion(), config_->getEnvironment());
    const bool isRdp = Utils::getRemoteLogonFlag() == 1;

    // A field that fails its own check stays empty.
    Model::ActivationData activationData;
    activationData.setLogin(userLogin);
    activationData.setAuthenticationCode(authenticationCode);
    activationData.setChallenge(challenge);
    activationData.setPeriod(std::to_string(static_cast<std::uint32_t>(hours)));

    Model::RequestForgotTokenAuthenticationCode request;
    request.setMachineName(Utils::getComputerName());  // refused (left empty) from 256 characters
    request.setPlatform(1);
    request.setClientIp(kvBusiness_->getClientIp());
    request.setIsRdp(isRdp);
    // Throws KvException for a login outside 1 to 100 characters, a challenge of 1 to 3 or a
    // period of more than 3 digits: nothing is sent, and the service reports it.
    request.setActivationData(activationData);

    std::string sealed;
    const std::uint16_t sealCode = kvCrypto_->encryptRequest(request.toJson(), sealed);
    if (sealCode != KV_SUCCESS) {
      result.setResultCode(sealCode);
    } else {
      std::string reply;
      result = client.postForgotTokenAuthenticationCode(config_->getAccountId(), config_->getResourceIdText(), sealed,
                                                        reply);
      if (result.getResultCode() == KV_SUCCESS) {
        std::string plain;
        result.setResultCode(kvCrypto_->decryptResponse(reply, plain));
        if (result.getResultCode() == KV_SUCCESS) KV_LOG_INFO("%s - Forgot authenticator activated online", kName);
      } else {
        KV_LOG_ERROR("%s - Failure to activate the forgot authenticator online", kName);
      }
    }
  }
  kvBusiness_->disableKorvath(result.getResultCode());
  return result;
}

// ---------------------------------------------------------------- recording

Model::KvResult KvBusinessForgotAuthenticator::updateConfigUserForgotAuthenticator(std::string userLogin,
                                                                                   std::int32_t hours,
                                                                                   std::string lastAuthType) {
  static const char* const kName =
      "Korvath::Business::KvBusinessForgotAuthenticator::updateConfigUserForgotAuthenticator";
  KV_TRACE_SCOPE(kName);
  Model::KvResult result(KV_ERROR_FAIL_REQUEST_CONFIG, 0, std::string());

  Model::RequestConfig request;
  request.setPlatform(1);
  std::uint16_t code =
      kvBusiness_->mountRequestConfigBase(config_->getAccountId(), static_cast<std::uint32_t>(config_->getResourceId()),
                                          config_->getServerConfig().getIntegrationKey(), request);
  if (code != KV_SUCCESS) {
    result.setResultCode(code);
    return result;
  }
  // Every stored login; the activating user's own login is not added.
  std::vector<std::string> userLogins;
  code = kvBusiness_->mountUserLogins(userLogins, std::string());
  if (code != KV_SUCCESS) {
    result.setResultCode(code);
    return result;
  }
  code = Detail::checkLoginLengths(userLogins);
  if (code != KV_SUCCESS) {
    result.setResultCode(code);
    return result;
  }
  request.setUserLogins(userLogins);
  return postConfigSaveAddUserForgotAuthenticator(request, userLogin, hours, lastAuthType);
}

Model::KvResult KvBusinessForgotAuthenticator::postConfigSaveAddUserForgotAuthenticator(Model::RequestConfig request,
                                                                                        std::string userLogin,
                                                                                        std::int32_t hours,
                                                                                        std::string lastAuthType) {
  static const char* const kName =
      "Korvath::Business::KvBusinessForgotAuthenticator::postConfigSaveAddUserForgotAuthenticator";
  KV_TRACE_SCOPE(kName);
  Model::KvResult result(KV_ERROR_FAIL_REQUEST_CONFIG, 0, std::string());
  // The reply carries the user's forgot-token expiry as the service set it.
  result = kvBusiness_->postConfig(request);
  if (result.getResultCode() == KV_SUCCESS) {
    result.setResultCode(saveConfigUserForgotAuthenticatorByUserLogin(userLogin, hours, lastAuthType));
  }
  return result;
}

std::uint16_t KvBusinessForgotAuthenticator::saveConfigUserForgotAuthenticatorByUserLogin(std::string userLogin,
                                                                                          std::int32_t hours,
                                                                                          std::string lastAuthType) {
  static const char* const kName =
      "Korvath::Business::KvBusinessForgotAuthenticator::saveConfigUserForgotAuthenticatorByUserLogin";
  KV_TRACE_SCOPE(kName);
  const int index = config_->getUserIndex(userLogin);
  if (index < 0) {
    KV_LOG_INFO("%s - the user is not stored; saving the configuration as it is", kName);
    return config_->writeFile();
  }
  Model::UserConfig user = config_->getUserConfig(static_cast<std::size_t>(index));
  return saveConfigUserForgotAuthenticatorByUserConfig(user, static_cast<std::uint16_t>(index), hours, lastAuthType,
                                                       true);
}

std::uint16_t KvBusinessForgotAuthenticator::saveConfigUserForgotAuthenticatorByUserConfig(
    Model::UserConfig& user, std::uint16_t userIndex, std::int32_t hours, std::string lastAuthType, bool online) {
  static const char* const kName =
      "Korvath::Business::KvBusinessForgotAuthenticator::saveConfigUserForgotAuthenticatorByUserConfig";
  KV_TRACE_SCOPE(kName);
  const std::uint64_t now = Platform::clock().nowFileTime();
  if (!online) {
    user.setFallbackExpiration(fallbackExpirationAfter(now, hours));
    KV_LOG_DEBUG("%s - fallbackExpiration %llu", kName, static_cast<unsigned long long>(user.getFallbackExpiration()));
  }
  user.setForgotTokenGrantedAt(now);
  user.setForgotTokenFailures(0);
  user.setForgotTokenBlockedAt(0);
  return kvBusiness_->saveConfigUserByUserConfig(user, userIndex, std::string(), false, lastAuthType, false);
}

// ---------------------------------------------------------------- normal screen

std::uint16_t KvBusinessForgotAuthenticator::loadUser(std::string userLogin, std::uint16_t& responseType,
                                                      std::string& response) {
  static const char* const kName = "Korvath::Business::KvBusinessForgotAuthenticator::loadUser";
  KV_TRACE_SCOPE(kName);
  Model::AuthFactorMap authFactors = kvBusiness_->getDefaultAuthFactors();
  const int index = config_->getUserIndex(userLogin);
  if (index < 0) {
    return genResponse(std::string(), std::string(), false, AUTH_FACTOR_PUSH, authFactors, responseType, response);
  }
  const Model::UserConfig user = config_->getUserConfig(static_cast<std::size_t>(index));
  const std::string lastAuthType = kvBusiness_->getInitialAuthFactor(user);
  authFactors = user.getAuthTypes();
  if (config_->getServerConfig().getEnableRememberPassword() == 0 || user.getPassword().empty()) {
    return genResponse(user.getUserLogin(), std::string(), false, lastAuthType, authFactors, responseType, response);
  }
  return genResponse(user.getUserLogin(), user.getPassword(), true, lastAuthType, authFactors, responseType, response);
}

std::uint16_t KvBusinessForgotAuthenticator::genResponse(std::string userLogin, std::string userPassword,
                                                         bool checkRememberPassword, std::string lastAuthType,
                                                         Model::AuthFactorMap authFactors, std::uint16_t& responseType,
                                                         std::string& response) {
  static const char* const kName = "Korvath::Business::KvBusinessForgotAuthenticator::genResponse";
  KV_TRACE_SCOPE(kName);
  if (lastAuthType == AUTH_FACTOR_QRCODE) {
    KvBusinessQRCode qrCode(config_, kvCrypto_, kvBusiness_);
    std::string transactionId;
    std::string jsonTransactionData;
    std::string command;
    std::uint8_t online = 0;
    const Model::KvResult generated =
        qrCode.generateCommandQRCode(userLogin, transactionId, jsonTransactionData, command, online);
    if (generated.getResultCode() == KV_SUCCESS && !transactionId.empty()) {
      return qrCode.genResponseAuthQRCode(userLogin, userPassword, checkRememberPassword, authFactors, transactionId,
                                          jsonTransactionData, command, online, responseType, response);
    }
    KV_LOG_DEBUG("%s - no QR-code transaction (%d); answering the command screen", kName, generated.getResultCode());
    return qrCode.genResponseGenCmdQRCode(userLogin, userPassword, checkRememberPassword, authFactors, responseType,
                                          response);
  }
  if (lastAuthType == AUTH_FACTOR_OTP) {
    KvBusinessOTP otp(config_, kvCrypto_, kvBusiness_);
    return otp.genResponseAuthOTP(userLogin, userPassword, checkRememberPassword, authFactors, &responseType, response);
  }
  KvBusinessPush push(config_, kvCrypto_, kvBusiness_);
  return push.genResponseSendPush(userLogin, userPassword, checkRememberPassword, authFactors, &responseType, response);
}

}  // namespace Business
}  // namespace Korvath
