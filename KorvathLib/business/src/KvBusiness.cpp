#include "Korvath/Business/KvBusiness.h"

#include "Korvath/ResultCodes.h"

namespace Korvath {
namespace Business {

KvBusiness::KvBusiness(Config* config, KvCrypto* kvCrypto, std::string clientIp)
    : config_(config), kvCrypto_(kvCrypto), clientIp_(std::move(clientIp)) {}

std::uint16_t KvBusiness::loadUserConfig(std::string, Service::ServiceResponseBase&) { return KV_ERROR_FAIL_LOAD_UI_USER_LOGON; }
std::uint16_t KvBusiness::genResponseBase(std::string, std::string, bool, std::string, Model::AuthFactorMap, bool,
                                          Service::ServiceResponseBase&) {
  return KV_ERROR_FAIL_LOAD_UI_USER_LOGON;
}
std::uint16_t KvBusiness::genResponseType(std::string) { return RESPONSE_TYPE_PUSH; }
std::string KvBusiness::getInitialAuthFactor(Model::UserConfig) { return AUTH_FACTOR_PASSWORD; }
std::string KvBusiness::getAuthFactor(std::string, Model::UserConfig) { return AUTH_FACTOR_PASSWORD; }
bool KvBusiness::isAuthFactorPush(std::string, Model::UserConfig) { return false; }
bool KvBusiness::isAuthFactorQRCode(std::string, Model::UserConfig) { return false; }
bool KvBusiness::isAuthFactorOTP(std::string, Model::UserConfig) { return false; }
std::string KvBusiness::getPredominantAuthFactor(Model::UserConfig) { return AUTH_FACTOR_PASSWORD; }
Model::AuthFactorMap KvBusiness::getDefaultAuthFactors() { return {}; }
bool KvBusiness::areAllAuthenticatorsBlocked(Model::UserConfig) { return true; }
bool KvBusiness::hasMobileAuthenticatorActive(Model::AuthenticatorRecord) { return false; }
bool KvBusiness::hasOathHardwareTokenActive(Model::AuthenticatorRecord) { return false; }
bool KvBusiness::hasMarletAuthenticatorActive(Model::AuthenticatorRecord) { return false; }
Model::KvResult KvBusiness::updateAutoSendPushOptionByUserName(std::string, const bool&) {
  return Model::KvResult(KV_ERROR_UPDATE_AUTO_SEND_PUSH_OPTION);
}
bool KvBusiness::getAutoSendPushStatusByUsername(std::string) { return false; }
void KvBusiness::setKvCryptoInputs() {}
Model::TransactionData KvBusiness::getTransactionData(std::string) { return Model::TransactionData(); }

std::uint16_t KvBusiness::mountRequestConfigBase(std::string, std::uint32_t, std::string, Model::RequestConfig&) {
  return KV_ERROR_FAIL_REQUEST_CONFIG;
}
std::uint16_t KvBusiness::mountUserLogins(std::vector<std::string>&, const std::string&) { return KV_ERROR_FAIL_REQUEST_CONFIG; }
Model::KvResult KvBusiness::iniConfig(std::string, std::string, std::string, std::uint32_t, std::string) {
  return Model::KvResult(KV_ERROR_FAIL_REQUEST_CONFIG);
}
Model::KvResult KvBusiness::updateConfig(std::string) { return Model::KvResult(KV_ERROR_FAIL_REQUEST_CONFIG); }
Model::KvResult KvBusiness::updateConfigListUser(std::vector<std::string>) { return Model::KvResult(KV_ERROR_FAIL_REQUEST_CONFIG); }
Model::KvResult KvBusiness::updateConfigUser(std::string, std::string, bool, std::string, bool, std::int32_t) {
  return Model::KvResult(KV_ERROR_FAIL_REQUEST_CONFIG);
}
Model::KvResult KvBusiness::updateConfigAddUser(std::string, std::string, bool, std::string, std::int32_t) {
  return Model::KvResult(KV_ERROR_FAIL_REQUEST_CONFIG);
}
Model::KvResult KvBusiness::postConfig(Model::RequestConfig) { return Model::KvResult(KV_ERROR_FAIL_REQUEST_CONFIG); }
Model::KvResult KvBusiness::postConfigSave(Model::RequestConfig) { return Model::KvResult(KV_ERROR_FAIL_REQUEST_CONFIG); }
Model::KvResult KvBusiness::postConfigSaveAddUser(Model::RequestConfig, std::string, std::string, bool, std::string, bool,
                                                  std::int32_t) {
  return Model::KvResult(KV_ERROR_FAIL_REQUEST_CONFIG);
}
std::uint16_t KvBusiness::saveConfigUserByUserLogin(std::string, std::string, bool, std::string, bool, std::int32_t) {
  return KV_ERROR_FAIL_REQUEST_CONFIG;
}
std::uint16_t KvBusiness::saveConfigUserByUserConfig(Model::UserConfig&, std::uint16_t, std::string, bool, std::string, bool) {
  return KV_ERROR_FAIL_REQUEST_CONFIG;
}
void KvBusiness::disableKorvath(std::uint16_t) {}
bool KvBusiness::timeTamperDetect() { return false; }

Model::KvResult KvBusiness::postUserPolicy(Model::RequestGetUserPolicy, Model::AuthFactorMap&) {
  return Model::KvResult(KV_ERROR_FAIL_REQUEST_CONFIG);
}
Model::KvResult KvBusiness::postUserPolicyOffline(Model::RequestGetUserPolicyOffline) {
  return Model::KvResult(KV_ERROR_FAIL_REQUEST_CONFIG);
}

}  // namespace Business
}  // namespace Korvath
