// OTP authentication: the online check by the cloud service, the offline check against the
// user's stored authenticator blobs, and the reply to the dialog.

#include "Korvath/Business/KvBusinessOTP.h"

#include "BusinessSupport.h"

#include <exception>
#include <string>
#include <vector>

#include "AuthenticationSdk/OstraSdkService.h"
#include "Korvath/Logger.h"
#include "Korvath/Model/CloudRecords.h"
#include "Korvath/RESTClient.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/Service/ServiceMessages.h"

namespace Korvath {
namespace Business {

KvBusinessOTP::KvBusinessOTP(Config* config, KvCrypto* kvCrypto, KvBusiness* kvBusiness)
    : config_(config), kvCrypto_(kvCrypto), kvBusiness_(kvBusiness) {}

std::uint16_t KvBusinessOTP::genResponseAuthOTP(std::string userLogin, std::string userPassword,
                                                std::uint8_t checkRememberPassword, Model::AuthFactorMap authFactors,
                                                std::uint16_t* responseType, std::string& response) {
  static const char* const kName = "Korvath::Business::KvBusinessOTP::genResponseAuthOTP";
  KV_TRACE_SCOPE(kName);
  try {
    Service::ServiceResponseAuthOTP record;
    record.setAuthDataSize(6);
    record.setPolicyAllowsAuthentication(false);
    if (userLogin.size() <= 100) record.setUserLogin(userLogin);
    if (userPassword.size() <= 300) record.setUserPassword(userPassword);
    record.setCheckRememberPassword(checkRememberPassword != 0);
    const ServerConfig serverConfig = config_->getServerConfig();
    record.setEnableRememberPassword(serverConfig.getEnableRememberPassword() != 0);
    record.setEnableForgotAuthenticator(serverConfig.getEnableForgotAuthenticator() != 0);
    // Looking the three factors up adds any that is missing, switched off.
    KV_LOG_DEBUG("%s - authFactors otp %d push %d qrcode %d", kName, authFactors[AUTH_FACTOR_OTP] ? 1 : 0,
                 authFactors[AUTH_FACTOR_PUSH] ? 1 : 0, authFactors[AUTH_FACTOR_QRCODE] ? 1 : 0);
    record.setAuthTypes(authFactors);
    record.setLastAuthType(AUTH_FACTOR_OTP);
    if (responseType != nullptr) *responseType = RESPONSE_TYPE_OTP;
    response = record.toJson();
    return KV_SUCCESS;
  } catch (...) {
    KV_LOG_ERROR("%s - exception - e.what(): %s", kName, Detail::currentExceptionText());
  }
  return KV_ERROR_FAIL_LOAD_UI_USER_LOGON;
}

std::uint16_t KvBusinessOTP::offlineAuthenticateOtp(Model::UserConfig& user, std::string otp) {
  return offlineAuthenticateOtp(user, otp, std::vector<bool>(user.getAuthenticators().size(), true));
}

std::uint16_t KvBusinessOTP::offlineAuthenticateOtp(Model::UserConfig& user, std::string otp,
                                                    const std::vector<bool>& counted) {
  static const char* const kName = "Korvath::Business::KvBusinessOTP::offlineAuthenticateOtp";
  KV_TRACE_SCOPE(kName);
  std::uint16_t result = KV_ERROR_FAIL_REQUEST_AUTHENTICATION;
  try {
    const ServerConfig serverConfig = config_->getServerConfig();
    const AuthenticationSdk::AuthenticationSettings settings = Detail::offlineSettings(*config_);
    KV_LOG_DEBUG("%s - authenticationSettings %s", kName, settings.toJson().c_str());

    const std::vector<Model::AuthenticatorRecord> original = user.getAuthenticators();
    if (original.empty()) {
      KV_LOG_ERROR("%s - the user has no authenticator", kName);
      return result;
    }
    std::vector<Model::AuthenticatorRecord> tried;
    for (std::size_t i = 0; i < original.size(); ++i) {
      Model::AuthenticatorRecord record = original[i];
      if (i >= counted.size() || !counted[i]) {
        // No failed attempt against it is on record: the code is not compared with it.
        tried.push_back(record);
        continue;
      }
      std::string blob = record.getBlob();
      const std::int64_t timeDifference = serverConfig.getTimeDifference();
      KV_LOG_DEBUG("%s - authenticator %u: model %u, blob of %u characters, timeDifference %s", kName,
                   static_cast<unsigned>(i), static_cast<unsigned>(record.getModel()),
                   static_cast<unsigned>(blob.size()), std::to_string(timeDifference).c_str());
      result = OstraSdkService::checkOtpLogonApp(blob, otp, settings, timeDifference);
      KV_LOG_DEBUG("%s - checkOtpLogonApp result %d: %s", kName, result,
                   OstraSdkService::getErrorMessage(result).c_str());
      // Anything that is not a blob of a known length is not stored.
      if (record.setBlob(blob) != KV_SUCCESS) {
        KV_LOG_ERROR("%s - the SDK returned a blob of %u characters; the stored one is kept", kName,
                     static_cast<unsigned>(blob.size()));
      }
      if (result == KV_SUCCESS) {
        // The service does not see this code: from the counter it had here on, codes were used here.
        AuthenticationSdk::AuthenticatorInfo before;
        if (!record.hasUsedHereFrom() && AuthenticationSdk::Blob::inspect(original[i].getBlob(), before) == 0) {
          record.setUsedHereFrom(before.counter);
        }
        // Only the authenticator that accepted the code keeps its new state.
        std::vector<Model::AuthenticatorRecord> list = user.getAuthenticators();
        list[i] = record;
        user.setAuthenticators(list);
        KV_LOG_INFO("%s - The OTP code was authenticated offline", kName);
        return KV_SUCCESS;
      }
      tried.push_back(record);
    }
    // Every authenticator refused: each keeps what the SDK counted against it.
    std::vector<Model::AuthenticatorRecord> list = user.getAuthenticators();
    for (std::size_t i = 0; i < list.size() && i < tried.size(); ++i) list[i] = tried[i];
    user.setAuthenticators(list);
    KV_LOG_INFO("%s - Failure to authenticate the OTP offline: %d", kName, result);
    return result;
  } catch (...) {
    KV_LOG_ERROR("%s - exception - e.what(): %s", kName, Detail::currentExceptionText());
  }
  return KV_ERROR_FAIL_REQUEST_AUTHENTICATION;
}

std::uint16_t KvBusinessOTP::countOfflineOtpAttempt(Model::UserConfig& user, const std::string& otp,
                                                    std::vector<bool>& counted) {
  static const char* const kName = "Korvath::Business::KvBusinessOTP::countOfflineOtpAttempt";
  KV_TRACE_SCOPE(kName);
  std::vector<Model::AuthenticatorRecord> list = user.getAuthenticators();
  counted.assign(list.size(), false);
  std::uint16_t result = KV_ERROR_FAIL_REQUEST_AUTHENTICATION;
  try {
    const AuthenticationSdk::AuthenticationSettings settings = Detail::offlineSettings(*config_);
    const std::int64_t timeDifference = config_->getServerConfig().getTimeDifference();
    bool any = false;
    for (std::size_t i = 0; i < list.size(); ++i) {
      std::string blob = list[i].getBlob();
      const std::uint16_t code = OstraSdkService::countOtpAttemptLogonApp(blob, otp, settings, timeDifference);
      if (list[i].setBlob(blob) != KV_SUCCESS) {
        // A state that cannot be stored is no count: the code is not compared with it.
        KV_LOG_ERROR("%s - the SDK returned a blob of %u characters", kName, static_cast<unsigned>(blob.size()));
        continue;
      }
      counted[i] = code == KV_SUCCESS;
      any = any || counted[i];
      result = code;
    }
    user.setAuthenticators(list);
    return any ? static_cast<std::uint16_t>(KV_SUCCESS) : result;
  } catch (...) {
    KV_LOG_ERROR("%s - exception - e.what(): %s", kName, Detail::currentExceptionText());
  }
  counted.assign(counted.size(), false);
  return KV_ERROR_FAIL_REQUEST_AUTHENTICATION;
}

bool KvBusinessOTP::isCodeUsedHere(const Model::UserConfig& user, const std::string& otp) {
  static const char* const kName = "Korvath::Business::KvBusinessOTP::isCodeUsedHere";
  try {
    const AuthenticationSdk::AuthenticationSettings settings = Detail::offlineSettings(*config_);
    for (const Model::AuthenticatorRecord& record : user.getAuthenticators()) {
      if (!record.hasUsedHereFrom()) continue;
      bool used = false;
      const std::uint16_t code =
          OstraSdkService::isOtpUsedLogonApp(record.getBlob(), otp, settings, record.getUsedHereFrom(), used);
      if (code != KV_SUCCESS) {
        KV_LOG_ERROR("%s - authenticator %s not readable: %d %s", kName, record.getSerialNumber().c_str(), code,
                     OstraSdkService::getErrorMessage(code).c_str());
      }
      if (used) {
        KV_LOG_INFO("%s - the code of %s was already used on this machine (authenticator %s)", kName,
                    user.getUserLogin().c_str(), record.getSerialNumber().c_str());
        return true;
      }
    }
  } catch (...) {
    KV_LOG_ERROR("%s - exception - e.what(): %s", kName, Detail::currentExceptionText());
    return true;
  }
  return false;
}

bool KvBusinessOTP::moveCounterPast(Model::UserConfig& user, const std::string& otp) {
  static const char* const kName = "Korvath::Business::KvBusinessOTP::moveCounterPast";
  try {
    const AuthenticationSdk::AuthenticationSettings settings = Detail::offlineSettings(*config_);
    // Every authenticator that shows the code moves: which one the service took is not known.
    std::vector<Model::AuthenticatorRecord> list = user.getAuthenticators();
    bool changed = false;
    for (Model::AuthenticatorRecord& record : list) {
      std::string blob = record.getBlob();
      bool moved = false;
      const std::uint16_t code = OstraSdkService::moveOtpCounterLogonApp(blob, otp, settings, moved);
      if (code != KV_SUCCESS) {
        KV_LOG_ERROR("%s - authenticator %s not readable: %d %s", kName, record.getSerialNumber().c_str(), code,
                     OstraSdkService::getErrorMessage(code).c_str());
      }
      changed = (moved && record.setBlob(blob) == KV_SUCCESS) || changed;
    }
    if (changed) user.setAuthenticators(list);
    return changed;
  } catch (...) {
    KV_LOG_ERROR("%s - exception - e.what(): %s", kName, Detail::currentExceptionText());
  }
  return false;
}

Model::KvResult KvBusinessOTP::onlineAuthenticateOtp(std::string userLogin, std::string otp) {
  static const char* const kName = "Korvath::Business::KvBusinessOTP::onlineAuthenticateOtp";
  KV_TRACE_SCOPE(kName);
  Model::KvResult result(KV_ERROR_FAIL_REQUEST_AUTHENTICATION, 0, std::string());
  try {
    kvBusiness_->setKvCryptoInputs();
    RESTClient restClient(config_->getRegion(), config_->getEnvironment());

    Model::RequestAuthentication request;
    Detail::fillSignInRequest(request, *kvBusiness_, AUTH_FACTOR_OTP);
    const std::uint16_t userCode =
        request.setUserAuthentication(Detail::userAuthenticationFor(*config_, userLogin, otp, std::string()));
    if (userCode != KV_SUCCESS) {
      KV_LOG_ERROR("%s - user authentication refused: %d", kName, userCode);
    }

    std::string sealed;
    const std::uint16_t sealCode = kvCrypto_->encryptRequest(request.toJson(), sealed);
    if (sealCode != KV_SUCCESS) {
      KV_LOG_ERROR("%s - the request could not be sealed: %d", kName, sealCode);
      result.setResultCode(sealCode);
    } else {
      std::string reply;
      result = restClient.postAuthentication(config_->getAccountId(), config_->getResourceIdText(), sealed, reply);
      // The reply carries nothing the agent needs; it stays sealed.
    }
    if (result.getResultCode() == KV_SUCCESS) {
      KV_LOG_INFO("%s - The OTP code was authenticated online", kName);
    } else {
      KV_LOG_INFO("%s - Failure to authenticate the OTP online", kName);
    }
  } catch (...) {
    KV_LOG_ERROR("%s - exception - e.what(): %s", kName, Detail::currentExceptionText());
    result.setResultCode(KV_ERROR_FAIL_REQUEST_AUTHENTICATION);
  }
  kvBusiness_->disableKorvath(result.getResultCode());
  return result;
}

}  // namespace Business
}  // namespace Korvath
