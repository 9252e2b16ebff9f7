#include "Korvath/Business/KvBusiness.h"

#include "BusinessSupport.h"

#include <exception>
#include <optional>
#include <stdexcept>
#include <utility>

#include "AuthenticationSdk/OstraSdkService.h"
#include "Korvath/Logger.h"
#include "Korvath/Platform.h"
#include "Korvath/RESTClient.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/TimeUtils.h"
#include "Korvath/WindowsFacts.h"

namespace Korvath {
namespace Business {

namespace {

const char* const kClass = "Korvath::Business::KvBusiness";

// Only inside a handler: logs the exception being handled.
void logCurrentException(const char* function) {
  KV_LOG_ERROR("%s::%s - exception - e.what(): %s", kClass, function, Detail::currentExceptionText());
}

bool factorOf(const Model::AuthFactorMap& factors, const char* factor) {
  auto it = factors.find(factor);
  return it != factors.end() && it->second;
}

std::uint64_t nowFileTime() { return Platform::clock().nowFileTime(); }

// One sealed exchange on a client that lives for it alone: seal `requestJson`, send it with
// `post` (client, sealed request, out sealed reply), open the reply into `plain`. The result
// is the first failure, or the post's result with code 0; `reply` keeps the sealed reply.
template <typename Post>
Model::KvResult sealedExchange(Config& config, KvCrypto& crypto, const std::string& requestJson, Post post,
                               std::string& reply, std::string& plain) {
  RESTClient client(config.getRegion(), config.getEnvironment());
  std::string sealed;
  const std::uint16_t sealCode = crypto.encryptRequest(requestJson, sealed);
  if (sealCode != KV_SUCCESS) return Model::KvResult(sealCode);
  Model::KvResult result = post(client, sealed, reply);
  if (result.isSuccess()) result.setResultCode(crypto.decryptResponse(reply, plain));
  return result;
}

}  // namespace

// Every operation that reaches the configuration or the crypto object goes through these, so
// an object used before it was bound fails with its operation's code instead of crashing.
#define KV_BUSINESS_CONFIG() requireBound(config_, "configuration")
#define KV_BUSINESS_CRYPTO() requireBound(kvCrypto_, "crypto object")

template <typename T>
static T& requireBound(T* p, const char* what) {
  if (p == nullptr) throw std::logic_error(std::string("business object not bound to a ") + what);
  return *p;
}

KvBusiness::KvBusiness(Config* config, KvCrypto* kvCrypto, std::string clientIp)
    : config_(config), kvCrypto_(kvCrypto), clientIp_(std::move(clientIp)) {}

// ---------------------------------------------------------------------------- user view

std::uint16_t KvBusiness::loadUserConfig(std::string userLogin, Service::ServiceResponseBase& response) {
  try {
    Config& config = KV_BUSINESS_CONFIG();
    Model::AuthFactorMap authFactors = getDefaultAuthFactors();
    const int index = config.getUserIndex(userLogin);
    if (index < 0) {
      KV_LOG_INFO("%s::%s - user %s not found", kClass, __func__, userLogin.c_str());
      return KV_ERROR_USER_NOT_FOUND;
    }
    const Model::UserConfig user(config.getUserConfig(static_cast<std::size_t>(index)));
    const std::string authFactor = getInitialAuthFactor(user);
    authFactors = user.getAuthTypes();
    std::uint16_t result;
    if (config.getServerConfig().getEnableRememberPassword() != 0 && !user.getPassword().empty()) {
      result = genResponseBase(userLogin, user.getPassword(), true, authFactor, authFactors, user.getAutoSendPush(),
                               response);
    } else {
      result =
          genResponseBase(userLogin, std::string(), false, authFactor, authFactors, user.getAutoSendPush(), response);
    }
    response.setPolicyAllowsAuthentication(user.getPolicyAllowsAuthentication());
    return result;
  } catch (...) {
    logCurrentException(__func__);
  }
  return KV_ERROR_FAIL_LOAD_UI_USER_LOGON;
}

std::uint16_t KvBusiness::genResponseBase(std::string userLogin, std::string userPassword, bool checkRememberPassword,
                                          std::string authFactorPredominant, Model::AuthFactorMap authFactors,
                                          bool autoSendPush, Service::ServiceResponseBase& response) {
  try {
    const ServerConfig server = KV_BUSINESS_CONFIG().getServerConfig();
    // Refusals leave the response's own defaults in place: "password" is not a screen, so the
    // last factor stays the response's default "push".
    response.setUserLogin(userLogin);
    response.setUserPassword(userPassword);
    response.setCheckRememberPassword(checkRememberPassword);
    response.setEnableRememberPassword(server.getEnableRememberPassword() != 0);
    response.setEnableForgotAuthenticator(server.getEnableForgotAuthenticator() != 0);
    response.setAuthTypes(authFactors);
    response.setLastAuthType(authFactorPredominant);
    response.setAutoSendPush(autoSendPush);
    return KV_SUCCESS;
  } catch (...) {
    logCurrentException(__func__);
  }
  return KV_ERROR_FAIL_LOAD_UI_USER_LOGON;
}

std::uint16_t KvBusiness::genResponseType(std::string authFactor) {
  std::uint16_t type = RESPONSE_TYPE_PUSH;
  if (authFactor == AUTH_FACTOR_QRCODE) {
    type = RESPONSE_TYPE_QRCODE;
  } else if (authFactor == AUTH_FACTOR_OTP) {
    type = RESPONSE_TYPE_OTP;
  }
  KV_LOG_DEBUG("%s::%s - responseType: %d", kClass, __func__, static_cast<int>(type));
  return type;
}

std::string KvBusiness::getInitialAuthFactor(Model::UserConfig user) {
  const std::string authFactor =
      user.getLastAuthType().empty() ? getPredominantAuthFactor(user) : getAuthFactor(user.getLastAuthType(), user);
  KV_LOG_DEBUG("%s::%s - authFactor %s", kClass, __func__, authFactor.c_str());
  return authFactor;
}

std::string KvBusiness::getAuthFactor(std::string authType, Model::UserConfig user) {
  // Only what decides the factor: the record also holds the remembered password and blobs.
  std::string factors;
  for (const auto& entry : user.getAuthTypes()) {
    factors += (factors.empty() ? "" : ",") + entry.first + "=" + (entry.second ? "1" : "0");
  }
  KV_LOG_DEBUG("%s::%s - authType %s, user %s, authTypes {%s}", kClass, __func__, authType.c_str(),
               user.getUserLogin().c_str(), factors.c_str());
  if (isAuthFactorPush(authType, user)) return AUTH_FACTOR_PUSH;
  if (isAuthFactorQRCode(authType, user)) return AUTH_FACTOR_QRCODE;
  if (isAuthFactorOTP(authType, user)) return AUTH_FACTOR_OTP;
  return AUTH_FACTOR_PASSWORD;
}

bool KvBusiness::isAuthFactorPush(std::string authType, Model::UserConfig user) {
  return user.isAuthTypeEnabled(AUTH_FACTOR_PUSH) && authType == AUTH_FACTOR_PUSH;
}

bool KvBusiness::isAuthFactorQRCode(std::string authType, Model::UserConfig user) {
  return user.isAuthTypeEnabled(AUTH_FACTOR_QRCODE) && authType == AUTH_FACTOR_QRCODE;
}

bool KvBusiness::isAuthFactorOTP(std::string authType, Model::UserConfig user) {
  return user.isAuthTypeEnabled(AUTH_FACTOR_OTP) && authType == AUTH_FACTOR_OTP;
}

std::string KvBusiness::getPredominantAuthFactor(Model::UserConfig user) {
  for (const char* factor : {AUTH_FACTOR_PUSH, AUTH_FACTOR_QRCODE, AUTH_FACTOR_OTP}) {
    if (user.isAuthTypeEnabled(factor)) return factor;
  }
  return AUTH_FACTOR_PASSWORD;
}

Model::AuthFactorMap KvBusiness::getDefaultAuthFactors() {
  return {{AUTH_FACTOR_OTP, true}, {AUTH_FACTOR_QRCODE, true}, {AUTH_FACTOR_PUSH, true}};
}

bool KvBusiness::areAllAuthenticatorsBlocked(Model::UserConfig user) {
  bool allBlocked = true;
  for (const Model::AuthenticatorRecord& authenticator : user.getAuthenticators()) {
    if (hasMobileAuthenticatorActive(authenticator) || hasOathHardwareTokenActive(authenticator) ||
        hasMarletAuthenticatorActive(authenticator)) {
      allBlocked = false;
      break;
    }
  }
  KV_LOG_DEBUG("%s::%s - result %d", kClass, __func__, allBlocked ? 1 : 0);
  return allBlocked;
}

namespace {

// The SDK reads the blob's clear header; an unreadable blob counts as not active.
template <typename Info, typename Reader>
bool isActive(const Model::AuthenticatorRecord& authenticator, Reader reader, const char* function) {
  Info info{};
  const std::uint16_t code = reader(authenticator.getBlob(), info);
  if (code != 0) {
    KV_LOG_ERROR("%s::%s - authenticator %s not readable: %d %s", kClass, function,
                 authenticator.getSerialNumber().c_str(), static_cast<int>(code),
                 OstraSdkService::getErrorMessage(code).c_str());
    return false;
  }
  return info.active == 1;
}

}  // namespace

bool KvBusiness::hasMobileAuthenticatorActive(Model::AuthenticatorRecord authenticator) {
  if (authenticator.getModel() != Model::AuthenticatorRecord::kModelMobile) return false;
  return isActive<AuthenticationSdk::MobileInfo>(authenticator, OstraSdkService::readMobileInfo, __func__);
}

bool KvBusiness::hasOathHardwareTokenActive(Model::AuthenticatorRecord authenticator) {
  if (authenticator.getModel() < Model::AuthenticatorRecord::kModelOathFirst ||
      authenticator.getModel() > Model::AuthenticatorRecord::kModelOathLast) {
    return false;
  }
  return isActive<AuthenticationSdk::HardwareTokenInfo>(authenticator, OstraSdkService::readHardwareTokenInfo,
                                                        __func__);
}

bool KvBusiness::hasMarletAuthenticatorActive(Model::AuthenticatorRecord authenticator) {
  if (authenticator.getModel() != Model::AuthenticatorRecord::kModelMarletDevice) return false;
  return isActive<AuthenticationSdk::DeviceInfo>(authenticator, OstraSdkService::readDeviceInfo, __func__);
}

Model::KvResult KvBusiness::updateAutoSendPushOptionByUserName(std::string userLogin, const bool& autoSendPush) {
  Model::KvResult result(KV_SUCCESS);
  bool stored = false;
  try {
    Config& config = KV_BUSINESS_CONFIG();
    const int index = config.getUserIndex(userLogin);
    if (index >= 0) {
      const std::size_t at = static_cast<std::size_t>(index);
      const Model::UserConfig before = config.getUserConfig(at);
      Model::UserConfig user = before;
      user.setAutoSendPush(autoSendPush);
      if (config.setUserConfig(at, user) == KV_SUCCESS) {
        const std::uint16_t saved = config.writeFile();
        KV_LOG_DEBUG("%s::%s - user %s autoSendPush %d, saved %d", kClass, __func__, userLogin.c_str(),
                     autoSendPush ? 1 : 0, static_cast<int>(saved));
        stored = saved == KV_SUCCESS;
        // The user sees the option the file holds: a later save must not write this one.
        if (!stored) config.setUserConfig(at, before);
      }
    }
  } catch (...) {
    logCurrentException(__func__);
  }
  if (!stored) {
    KV_LOG_ERROR("%s::%s - Error on update AutoSendPush option.", kClass, __func__);
    result.setResultCode(KV_ERROR_UPDATE_AUTO_SEND_PUSH_OPTION);
  }
  return result;
}

bool KvBusiness::getAutoSendPushStatusByUsername(std::string userLogin) {
  try {
    Config& config = KV_BUSINESS_CONFIG();
    const int index = config.getUserIndex(userLogin);
    if (index < 0) return false;
    const std::vector<Model::UserConfig> users = config.getUsersConfig();
    return users.at(static_cast<std::size_t>(index)).getAutoSendPush();
  } catch (...) {
    logCurrentException(__func__);
  }
  return false;
}

void KvBusiness::setKvCryptoInputs() {
  Config& config = KV_BUSINESS_CONFIG();
  KvCrypto& crypto = KV_BUSINESS_CRYPTO();
  crypto.setAccountId(config.getAccountId());
  crypto.setResourceId(config.getResourceIdText());
  crypto.setIntegrationKey(config.getServerConfig().getIntegrationKey());
}

Model::TransactionData KvBusiness::getTransactionData(std::string userLogin) {
  Model::TransactionData transactionData;
  try {
    Model::TransactionDataData data;
    data.setClientIp(clientIp_);
    const std::string computer = Utils::getComputerName();
    if (!computer.empty() && computer.size() <= 255) data.setComputer(computer);
    const std::string domain = Utils::getDnsDomainName();
    if (domain.empty() || (domain.size() >= 3 && domain.size() <= 128)) data.setDomain(domain);
    data.setLocation(std::string());
    data.setOsVersion(Utils::getWindowsVersionName());
    data.setPlatform(1);
    if (config_ != nullptr) data.setResourceName(config_->getResourceAlias());
    transactionData.setData(data);
    const std::int64_t unixSeconds = Platform::clock().nowUnixMs() / 1000;
    if (unixSeconds > 0 && unixSeconds <= 0xFFFFFFFFll) {
      transactionData.setTimestamp(static_cast<std::uint32_t>(unixSeconds));
    }
    transactionData.setType(Model::TransactionData::kTypeDesktopLogon);
    transactionData.setUser(userLogin);
    KV_LOG_DEBUG("%s::%s - transactionData %s", kClass, __func__, transactionData.toJson().c_str());
  } catch (...) {
    logCurrentException(__func__);
  }
  return transactionData;
}

// ---------------------------------------------------------------------------- registration and sync

std::uint16_t KvBusiness::mountRequestConfigBase(std::string accountId, std::uint32_t resourceId,
                                                 std::string integrationKey, Model::RequestConfig& request) {
  KvCrypto& crypto = KV_BUSINESS_CRYPTO();
  crypto.setAccountId(accountId);
  crypto.setResourceId(std::to_string(resourceId));
  const std::uint16_t keyCode = crypto.setIntegrationKey(integrationKey);
  if (keyCode != KV_SUCCESS) {
    KV_LOG_ERROR("%s::%s - integration key refused: %d", kClass, __func__, static_cast<int>(keyCode));
    return keyCode;
  }
  request.setAccountId(accountId);
  request.setResourceId(resourceId);
  const std::string machineName = Utils::getComputerName();
  if (machineName.size() >= 256) {
    KV_LOG_ERROR("%s::%s - machine name too long: %u", kClass, __func__, static_cast<unsigned>(machineName.size()));
    return KV_ERROR_INVALID_MACHINE_NAME_LENGTH;
  }
  request.setMachineName(machineName);
  request.setPlatform(1);
  return KV_SUCCESS;
}

std::uint16_t KvBusiness::mountUserLogins(std::vector<std::string>& userLogins, const std::string& currentLogin) {
  try {
    if (!currentLogin.empty()) {
      userLogins.push_back(currentLogin);
      KV_LOG_DEBUG("%s::%s - userLogins[current] %s", kClass, __func__, currentLogin.c_str());
    }
    const std::vector<Model::UserConfig> users = KV_BUSINESS_CONFIG().getUsersConfig();
    for (std::size_t i = 0; i < users.size(); ++i) {
      const std::string& login = users[i].getUserLogin();
      if (login == currentLogin) continue;
      userLogins.push_back(login);
      KV_LOG_DEBUG("%s::%s - userLogins[%u] %s", kClass, __func__, static_cast<unsigned>(i), login.c_str());
    }
    KV_LOG_DEBUG("%s::%s - userLogins count %u", kClass, __func__, static_cast<unsigned>(userLogins.size()));
    return KV_SUCCESS;
  } catch (...) {
    logCurrentException(__func__);
  }
  KV_LOG_ERROR("%s::%s - ERROR_FAIL_REQUEST_CONFIG!\r\n", kClass, __func__);
  return KV_ERROR_FAIL_REQUEST_CONFIG;
}

Model::KvResult KvBusiness::iniConfig(std::string region, std::string environment, std::string accountId,
                                      std::uint32_t resourceId, std::string integrationKey) {
  // The integration key is a secret: only whether one was given is logged.
  KV_LOG_INFO("%s::%s - region %s, environment %s, accountId %s, resourceId %u, integrationKey %s", kClass, __func__,
              region.c_str(), environment.c_str(), accountId.c_str(), static_cast<unsigned>(resourceId),
              integrationKey.empty() ? "(empty)" : "(given)");
  Model::KvResult result(KV_ERROR_FAIL_REQUEST_CONFIG);
  try {
    Config& config = KV_BUSINESS_CONFIG();
    std::uint16_t code = config.setRegion(region);
    if (code != KV_SUCCESS) return Model::KvResult(code);
    code = config.setEnvironment(environment);
    if (code != KV_SUCCESS) return Model::KvResult(code);
    Model::RequestConfig request;
    code = mountRequestConfigBase(accountId, resourceId, integrationKey, request);
    if (code != KV_SUCCESS) return Model::KvResult(code);
    // The first registration names no user.
    result = postConfigSave(request);
  } catch (...) {
    logCurrentException(__func__);
  }
  return result;
}

Model::KvResult KvBusiness::updateConfig(std::string currentLogin) {
  Model::KvResult result(KV_ERROR_FAIL_REQUEST_CONFIG);
  try {
    std::vector<std::string> userLogins;
    mountUserLogins(userLogins, currentLogin);
    result = updateConfigListUser(userLogins);
  } catch (...) {
    logCurrentException(__func__);
  }
  return result;
}

Model::KvResult KvBusiness::updateConfigListUser(std::vector<std::string> userLogins) {
  Model::KvResult result(KV_ERROR_FAIL_REQUEST_CONFIG);
  try {
    Config& config = KV_BUSINESS_CONFIG();
    Model::RequestConfig request;
    std::uint16_t code =
        mountRequestConfigBase(config.getAccountId(), static_cast<std::uint32_t>(config.getResourceId()),
                               config.getServerConfig().getIntegrationKey(), request);
    if (code != KV_SUCCESS) return Model::KvResult(code);
    code = Detail::checkLoginLengths(userLogins);
    if (code != KV_SUCCESS) return Model::KvResult(code);
    request.setUserLogins(userLogins);
    result = postConfigSave(request);
  } catch (...) {
    logCurrentException(__func__);
  }
  return result;
}

Model::KvResult KvBusiness::updateConfigUser(std::string userLogin, std::string userPassword,
                                             bool checkRememberPassword, std::string authType,
                                             bool resetForgotTokenExpiration, std::int32_t autoSendPush) {
  KV_LOG_INFO(
      "%s::%s - userLogin %s, password %s, checkRememberPassword %d, authType %s, "
      "resetForgotTokenExpiration %d, autoSendPush %d",
      kClass, __func__, userLogin.c_str(), userPassword.empty() ? "(empty)" : "(given)", checkRememberPassword ? 1 : 0,
      authType.c_str(), resetForgotTokenExpiration ? 1 : 0, static_cast<int>(autoSendPush));
  Model::KvResult result(KV_ERROR_FAIL_REQUEST_CONFIG);
  try {
    Config& config = KV_BUSINESS_CONFIG();
    Model::RequestConfig request;
    std::uint16_t code =
        mountRequestConfigBase(config.getAccountId(), static_cast<std::uint32_t>(config.getResourceId()),
                               config.getServerConfig().getIntegrationKey(), request);
    if (code != KV_SUCCESS) return Model::KvResult(code);
    std::vector<std::string> userLogins;
    mountUserLogins(userLogins, std::string());
    code = Detail::checkLoginLengths(userLogins);
    if (code != KV_SUCCESS) return Model::KvResult(code);
    request.setUserLogins(userLogins);
    result = postConfigSaveAddUser(request, userLogin, userPassword, checkRememberPassword, authType,
                                   resetForgotTokenExpiration, autoSendPush);
  } catch (...) {
    logCurrentException(__func__);
  }
  return result;
}

Model::KvResult KvBusiness::updateConfigAddUser(std::string userLogin, std::string userPassword,
                                                bool checkRememberPassword, std::string authType,
                                                std::int32_t autoSendPush) {
  KV_LOG_INFO("%s::%s - userLogin %s, password %s, checkRememberPassword %d, authType %s, autoSendPush %d", kClass,
              __func__, userLogin.c_str(), userPassword.empty() ? "(empty)" : "(given)", checkRememberPassword ? 1 : 0,
              authType.c_str(), static_cast<int>(autoSendPush));
  Model::KvResult result(KV_ERROR_FAIL_REQUEST_CONFIG);
  try {
    Config& config = KV_BUSINESS_CONFIG();
    Model::RequestConfig request;
    std::uint16_t code =
        mountRequestConfigBase(config.getAccountId(), static_cast<std::uint32_t>(config.getResourceId()),
                               config.getServerConfig().getIntegrationKey(), request);
    if (code != KV_SUCCESS) return Model::KvResult(code);
    std::vector<std::string> userLogins;
    mountUserLogins(userLogins, std::string());
    userLogins.push_back(userLogin);
    code = Detail::checkLoginLengths(userLogins);
    if (code != KV_SUCCESS) return Model::KvResult(code);
    request.setUserLogins(userLogins);
    result =
        postConfigSaveAddUser(request, userLogin, userPassword, checkRememberPassword, authType, true, autoSendPush);
  } catch (...) {
    logCurrentException(__func__);
  }
  return result;
}

Model::KvResult KvBusiness::postConfig(Model::RequestConfig request) { return exchangeConfig(std::move(request), false); }

Model::KvResult KvBusiness::exchangeConfig(Model::RequestConfig request, bool callerSavesOnSuccess) {
  Model::KvResult result(KV_ERROR_FAIL_REQUEST_CONFIG);
  try {
    Config& config = KV_BUSINESS_CONFIG();
    KvCrypto& crypto = KV_BUSINESS_CRYPTO();
    const std::string requestJson = request.toJson();
    KV_LOG_DEBUG("%s::%s - requestConfig: %s", kClass, "postConfig", requestJson.c_str());
    std::string reply;
    std::string plain;
    result = sealedExchange(
        config, crypto, requestJson,
        [&](RESTClient& client, const std::string& sealed, std::string& out) {
          return client.postConfig(request.getAccountId(), std::to_string(request.getResourceId()), sealed, out);
        },
        reply, plain);
    KV_LOG_DEBUG("%s::%s - result %d, encryptedResponseConfig %s", kClass, "postConfig",
                 static_cast<int>(result.getResultCode()), reply.c_str());
    Model::ResponseConfig response;
    if (result.isSuccess()) result.setResultCode(response.fillFromJson(plain));
    if (result.isSuccess()) {
      const std::uint64_t now = nowFileTime();
      trustServiceTime(response.getServerTime(), now);
      if (now > config.getLastSync()) config.setLastSync(now);
      result.setResultCode(config.mergeResponseConfig(response, request.getResourceId()));
    }
  } catch (...) {
    logCurrentException("postConfig");
    result.setResultCode(KV_ERROR_FAIL_REQUEST_CONFIG);
  }
  // A caller that saves after a success writes the state once, with its own change in it.
  updateLogonDisabled(result.getResultCode(), !(callerSavesOnSuccess && result.isSuccess()));
  return result;
}

Model::KvResult KvBusiness::postConfigSave(Model::RequestConfig request) {
  Model::KvResult result = exchangeConfig(std::move(request), true);
  if (result.isSuccess()) {
    try {
      result.setResultCode(KV_BUSINESS_CONFIG().writeFile());
    } catch (const std::exception&) {
      logCurrentException(__func__);
      result.setResultCode(KV_ERROR_FAIL_REQUEST_CONFIG);
    }
  }
  return result;
}

Model::KvResult KvBusiness::postConfigSaveAddUser(Model::RequestConfig request, std::string userLogin,
                                                  std::string userPassword, bool checkRememberPassword,
                                                  std::string authType, bool resetForgotTokenExpiration,
                                                  std::int32_t autoSendPush) {
  Model::KvResult result = exchangeConfig(std::move(request), true);
  if (result.isSuccess()) {
    const std::uint16_t saved = saveConfigUserByUserLogin(userLogin, userPassword, checkRememberPassword, authType,
                                                          resetForgotTokenExpiration, autoSendPush);
    result.setResultCode(saved);
    if (saved != KV_SUCCESS && saved != KV_ERROR_WRITE_CONFIG_FILE && saved != KV_ERROR_ENCRYPT_CONFIG_FILE) {
      // The user's record was refused before anything was written: the exchange's merge is
      // still kept, as the exchange itself would have kept it.
      try {
        const std::uint16_t kept = KV_BUSINESS_CONFIG().writeFile();
        KV_LOG_DEBUG("%s::%s - updated config file = %d", kClass, __func__, static_cast<int>(kept));
      } catch (...) {
        logCurrentException(__func__);
      }
    }
  }
  return result;
}

std::uint16_t KvBusiness::saveConfigUserByUserLogin(std::string userLogin, std::string userPassword,
                                                    bool checkRememberPassword, std::string authType,
                                                    bool resetFallbackExpiration, std::int32_t autoSendPush) {
  try {
    Config& config = KV_BUSINESS_CONFIG();
    // The stored option changes only through updateAutoSendPushOptionByUserName.
    KV_LOG_DEBUG("%s::%s - userLogin %s, autoSendPush %d", kClass, __func__, userLogin.c_str(),
                 static_cast<int>(autoSendPush));
    const int index = config.getUserIndex(userLogin);
    if (index < 0) {
      KV_LOG_INFO("%s::%s - user %s not in the configuration; saving it as it is", kClass, __func__, userLogin.c_str());
      return config.writeFile();
    }
    Model::UserConfig user(config.getUserConfig(static_cast<std::size_t>(index)));
    return saveConfigUserByUserConfig(user, static_cast<std::uint16_t>(index), userPassword, checkRememberPassword,
                                      authType, resetFallbackExpiration);
  } catch (...) {
    logCurrentException(__func__);
  }
  return KV_ERROR_FAIL_REQUEST_CONFIG;
}

std::uint16_t KvBusiness::saveConfigUserByUserConfig(Model::UserConfig& user, std::uint16_t userIndex,
                                                     std::string userPassword, bool checkRememberPassword,
                                                     std::string authType, bool resetFallbackExpiration) {
  try {
    Config& config = KV_BUSINESS_CONFIG();
    if (userIndex >= config.getUserCount()) {
      KV_LOG_ERROR("%s::%s - user index %u outside the %u stored users", kClass, __func__,
                   static_cast<unsigned>(userIndex), static_cast<unsigned>(config.getUserCount()));
      return KV_ERROR_FAIL_REQUEST_CONFIG;
    }
    const std::uint64_t now = nowFileTime();
    if (resetFallbackExpiration) user.setFallbackExpiration(0);
    user.setLastAuthType(authType);
    user.setLastAuthTime(now);
    user.setPassword(checkRememberPassword ? userPassword : std::string());
    // Only this record is replaced (validated); the others stay as they are.
    const std::uint16_t stored = config.setUserConfig(userIndex, user);
    if (stored != KV_SUCCESS) {
      KV_LOG_ERROR("%s::%s - user list refused: %d", kClass, __func__, static_cast<int>(stored));
      return stored;
    }
    config.setLastAuth(now);
    config.setLastUser(user.getUserLogin());
    return config.writeFile();
  } catch (...) {
    logCurrentException(__func__);
  }
  return KV_ERROR_FAIL_REQUEST_CONFIG;
}

void KvBusiness::disableKorvath(std::uint16_t result) { updateLogonDisabled(result, true); }

void KvBusiness::updateLogonDisabled(std::uint16_t result, bool save) {
  try {
    Config& config = KV_BUSINESS_CONFIG();
    KV_LOG_DEBUG("%s::%s result = %d", kClass, "disableKorvath", static_cast<int>(result));
    if (result == KV_ERROR_KV_RESOURCE_NOT_FOUND) {
      KV_LOG_ERROR("%s::%s - result == ERROR_KV_RESOURCE_NOT_FOUND \r\n", kClass, "disableKorvath");
      const std::uint64_t now = nowFileTime();
      if (now > config.getLastSync()) config.setLastSync(now);
      config.setLogonAppDisable(KV_ERROR_KV_RESOURCE_NOT_FOUND);
    } else if (isServerReachable(result)) {
      config.setLogonAppDisable(0);
    }
    // A configuration without a resource is a first registration that has not succeeded:
    // writing it would leave a file that the next start-up reads as "registered nowhere"
    // instead of registering again.
    if (config.getResourceId() == 0) {
      KV_LOG_INFO("%s::%s - not registered; configuration file not written", kClass, "disableKorvath");
      return;
    }
    if (!save) return;
    const std::uint16_t saved = config.writeFile();
    KV_LOG_DEBUG("%s::%s - updated config file = %d \r\n", kClass, "disableKorvath", static_cast<int>(saved));
  } catch (...) {
    logCurrentException("disableKorvath");
  }
}

bool KvBusiness::isClockSetBack(std::uint64_t now) const {
  const Config& config = KV_BUSINESS_CONFIG();
  const std::uint64_t lastRun = config.getLastRun();
  return now < kTimeTamperFloorFileTime || (lastRun > kClockSetBackTolerance && now < lastRun - kClockSetBackTolerance);
}

bool KvBusiness::timeTamperDetect() {
  try {
    Config& config = KV_BUSINESS_CONFIG();
    if (config.getResourceId() == 0) return false;
    const std::uint64_t now = nowFileTime();
    const std::uint64_t lastRun = config.getLastRun();
    const std::uint64_t floor = kTimeTamperFloorFileTime;
    KV_LOG_DEBUG("%s::%s - initialLimit: %lld %s", kClass, __func__, static_cast<long long>(floor),
                 Utils::TimeUtils::fileTimeToString(floor).c_str());
    KV_LOG_DEBUG("%s::%s - lastRun: %lld %s", kClass, __func__, static_cast<long long>(lastRun),
                 Utils::TimeUtils::fileTimeToString(lastRun).c_str());
    KV_LOG_DEBUG("%s::%s - currentTime: %lld %s", kClass, __func__, static_cast<long long>(now),
                 Utils::TimeUtils::fileTimeToString(now).c_str());
    if (!isClockSetBack(now)) {
      endPasses(now, false);
      // Within the tolerance behind it, the latest time stays.
      if (now > lastRun) config.setLastRun(now);
      const std::uint16_t saved = config.writeFile();
      KV_LOG_DEBUG("%s::%s - lastRun saved = %d", kClass, __func__, static_cast<int>(saved));
      return false;
    }
    KV_LOG_INFO("%s::%s - isDetect %d", kClass, __func__, 1);
    endPasses(now, true);
    return true;
  } catch (...) {
    logCurrentException(__func__);
  }
  return false;
}

bool KvBusiness::endPassesIfClockSetBack() {
  try {
    const std::uint64_t now = nowFileTime();
    if (KV_BUSINESS_CONFIG().getResourceId() == 0) return false;
    const bool setBack = isClockSetBack(now);
    endPasses(now, setBack);
    return setBack;
  } catch (...) {
    logCurrentException(__func__);
  }
  return true;
}

void KvBusiness::trustServiceTime(std::int64_t serverTimeSeconds, std::uint64_t now) {
  constexpr std::int64_t kMaxSeconds = 1700000000000ll;  // far beyond any date, far below overflow
  if (serverTimeSeconds <= 0 || serverTimeSeconds > kMaxSeconds) return;
  Config& config = KV_BUSINESS_CONFIG();
  const std::uint64_t service = (static_cast<std::uint64_t>(serverTimeSeconds) + 11644473600ull) * 10000000ull;
  const std::uint64_t apart = service > now ? service - now : now - service;
  const bool runAhead = config.getLastRun() > now + kClockSetBackTolerance;
  const bool syncAhead = config.getLastSync() > now + kClockSetBackTolerance;
  if (apart > kClockSetBackTolerance || (!runAhead && !syncAhead)) return;
  KV_LOG_INFO("%s::%s - the latest times stored (%s, synchronized %s) are ahead of the service's clock, which this "
              "clock agrees with (%s): they were read from a clock that ran ahead",
              kClass, __func__, Utils::TimeUtils::fileTimeToString(config.getLastRun()).c_str(),
              Utils::TimeUtils::fileTimeToString(config.getLastSync()).c_str(),
              Utils::TimeUtils::fileTimeToString(now).c_str());
  if (runAhead) {
    endPasses(now, true);
    config.bringLastRunBack(now);
  }
  if (syncAhead) config.setLastSync(now);
}

void KvBusiness::endPasses(std::uint64_t now, bool every) {
  Config& config = KV_BUSINESS_CONFIG();
  const std::string clock = Utils::TimeUtils::fileTimeToString(now);
  // Each record that may change is read again under one hold of the file (taken only then), so
  // that what another process saved in it since (a count of attempts) stays.
  std::optional<Config::FileHold> hold;
  bool changed = false;
  for (std::size_t i = 0; i < config.getUserCount(); ++i) {
    // A clock that reads earlier than a pass's grant was set back since, however little: that
    // pass ends even within the tolerance.
    auto ends = [&] {
      const Model::UserConfig& user = config.userConfigAt(i);
      const bool hasPass = user.getFallbackExpiration() != 0 || user.getAuthenticatorForgottenExpiryTimestamp() != 0;
      return hasPass && (every || now < user.getForgotTokenGrantedAt());
    };
    if (!ends()) continue;
    if (!hold) hold.emplace();
    if (hold->held()) config.reloadUser(i);
    if (!ends()) continue;
    Model::UserConfig user = config.getUserConfig(i);
    const std::uint64_t grantedAt = user.getForgotTokenGrantedAt();
    user.setFallbackExpiration(0);
    user.setAuthenticatorForgottenExpiryTimestamp(0);
    user.setForgotTokenGrantedAt(0);
    if (config.setUserConfig(i, user) != KV_SUCCESS) {
      KV_LOG_ERROR("%s::%s - the record of %s was refused", kClass, __func__, user.getUserLogin().c_str());
      continue;
    }
    changed = true;
    KV_LOG_INFO("%s::%s - the forgot-token pass of %s ended: the clock was set back (it reads %s; latest time "
                "stored %s, granted %s)",
                kClass, "endPasses", user.getUserLogin().c_str(), clock.c_str(),
                Utils::TimeUtils::fileTimeToString(config.getLastRun()).c_str(),
                Utils::TimeUtils::fileTimeToString(grantedAt).c_str());
  }
  if (!changed) return;
  const std::uint16_t saved = config.writeFile();
  if (saved != KV_SUCCESS) KV_LOG_ERROR("%s::%s - configuration not saved: %d", kClass, __func__, saved);
}

// ---------------------------------------------------------------------------- policies

Model::KvResult KvBusiness::postUserPolicy(Model::RequestGetUserPolicy request, Model::AuthFactorMap& authFactors) {
  Model::KvResult result(KV_ERROR_FAIL_REQUEST_CONFIG);
  try {
    Config& config = KV_BUSINESS_CONFIG();
    KvCrypto& crypto = KV_BUSINESS_CRYPTO();
    const std::string requestJson = request.toJson();
    KV_LOG_DEBUG("%s::%s - requestGetUserPolicy: %s", kClass, __func__, requestJson.c_str());
    setKvCryptoInputs();
    std::string reply;
    std::string plain;
    result = sealedExchange(
        config, crypto, requestJson,
        [&](RESTClient& client, const std::string& sealed, std::string& out) {
          return client.postGetUserPolicy(config.getAccountId(), config.getResourceIdText(), sealed, out);
        },
        reply, plain);
    KV_LOG_DEBUG("%s::%s - encryptedResponseGetUserPolicy %s", kClass, __func__, reply.c_str());
    Model::ResponseGetUserPolicy response;
    if (result.isSuccess()) result.setResultCode(response.fillFromJson(plain));
    if (result.isSuccess()) {
      const std::vector<Model::UserPolicy>& policies = response.getUserPolicies();
      if (policies.empty()) {
        result.setResultCode(KV_ERROR_USER_NOT_FOUND);
      } else {
        const Model::UserPolicy& policy = policies.front();
        KV_LOG_DEBUG("%s::%s - policy of %s: %s", kClass, __func__, policy.username.c_str(), policy.toJson().c_str());
        if (policy.isBlocked) {
          result.setResultCode(KV_ERROR_USER_IS_BLOCKED);
        } else if (policy.isOverallocated) {
          result.setResultCode(KV_ERROR_USER_IS_OVERALLOCATED);
        } else if (policy.isInQuarantine) {
          result.setResultCode(KV_ERROR_USER_IS_IN_QUARANTINE);
        } else if (policy.isInSafeLocation) {
          result.setResultCode(KV_ERROR_USER_IS_IN_SAFE_NETWORK);
        } else if (!policy.hasPolicy) {
          result.setResultCode(KV_ERROR_USER_HAS_NO_POLICY);
        } else if (!policy.isAllowedToAuthenticate) {
          result.setResultCode(KV_ERROR_USER_IS_NOT_ALLOWED_TO_AUTHENTICATE);
        } else if (policy.isInForgotToken) {
          result.setResultCode(KV_ERROR_USER_IS_IN_FORGOT_TOKEN);
          for (const char* factor : {AUTH_FACTOR_PUSH, AUTH_FACTOR_QRCODE, AUTH_FACTOR_OTP}) {
            authFactors[factor] = factorOf(policy.authTypes, factor);
          }
          // Brings the user's forgot-token data into the configuration.
          result = updateConfig(policy.username);
        } else {
          result.setResultCode(config.mergeUserPolicy(policy, authFactors));
        }
      }
    }
  } catch (...) {
    logCurrentException(__func__);
    result.setResultCode(KV_ERROR_FAIL_REQUEST_CONFIG);
  }
  disableKorvath(result.getResultCode());
  return result;
}

Model::KvResult KvBusiness::postUserPolicyOffline(Model::RequestGetUserPolicyOffline request) {
  Model::KvResult result(KV_ERROR_FAIL_REQUEST_CONFIG);
  try {
    Config& config = KV_BUSINESS_CONFIG();
    KvCrypto& crypto = KV_BUSINESS_CRYPTO();
    const std::string requestJson = request.toJson();
    KV_LOG_DEBUG("%s::%s - requestGetUserPolicyOffline: %s", kClass, __func__, requestJson.c_str());
    setKvCryptoInputs();
    std::string reply;
    std::string plain;
    result = sealedExchange(
        config, crypto, requestJson,
        [&](RESTClient& client, const std::string& sealed, std::string& out) {
          return client.postGetUserPolicyOffline(config.getAccountId(), config.getResourceIdText(), sealed, out);
        },
        reply, plain);
    KV_LOG_DEBUG("%s::%s - encryptedResponseGetUserPolicyOffline - %s", kClass, __func__, reply.c_str());
    Model::ResponseGetUserPolicyOffline response;
    if (result.isSuccess()) result.setResultCode(response.fillFromJson(plain));
    if (result.isSuccess()) {
      if (response.getPolicies().empty()) {
        result.setResultCode(KV_ERROR_USER_NOT_FOUND);
      } else {
        result.setResultCode(config.mergeUserPolicyOffline(response.getPolicies().front(), request.getUserLogin()));
      }
    }
  } catch (...) {
    logCurrentException(__func__);
    result.setResultCode(KV_ERROR_FAIL_REQUEST_CONFIG);
  }
  disableKorvath(result.getResultCode());
  return result;
}

}  // namespace Business
}  // namespace Korvath
