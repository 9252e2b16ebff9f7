// QR-code factor: the command (from the service or made here), its check (at the service
// or against the stored blobs) and the replies to the dialog.

#include "Korvath/Business/KvBusinessQRCode.h"

#include "BusinessSupport.h"

#include <exception>
#include <type_traits>
#include <vector>

#include "AuthenticationSdk/OstraSdkService.h"
#include "Korvath/ConnectionUtils.h"
#include "Korvath/Logger.h"
#include "Korvath/Model/CloudRecords.h"
#include "Korvath/RESTClient.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/Service/ServiceMessages.h"

namespace Korvath {
namespace Business {

namespace {

Model::KvResult preset(std::uint16_t code) { return Model::KvResult(code, 0, std::string()); }

// Runs `body`; an exception it throws is logged under `name` and answers `failed`.
template <typename Body, typename Result = std::invoke_result_t<Body&>>
Result guarded(const char* name, typename std::common_type<Result>::type failed, Body body) {
  try {
    return body();
  } catch (...) {
    KV_LOG_ERROR("%s - exception - e.what(): %s", name, Detail::currentExceptionText());
  }
  return failed;
}

// The factor map of a reply: the map given, with any of the three factors it lacks as off.
Model::AuthFactorMap completeFactors(Model::AuthFactorMap factors) {
  for (const char* factor : {AUTH_FACTOR_OTP, AUTH_FACTOR_PUSH, AUTH_FACTOR_QRCODE}) {
    if (factors.find(factor) == factors.end()) factors[factor] = false;
  }
  return factors;
}

void fillResponseBase(Service::ServiceResponseBase& response, const Config& config, const std::string& userLogin,
                      const std::string& userPassword, std::uint8_t checkRememberPassword,
                      const Model::AuthFactorMap& authFactors) {
  // Setters refuse a login over 100 or a password over 300 characters; the field stays empty.
  response.setUserLogin(userLogin);
  response.setUserPassword(userPassword);
  response.setCheckRememberPassword(checkRememberPassword != 0);
  const ServerConfig serverConfig = config.getServerConfig();
  response.setEnableRememberPassword(serverConfig.getEnableRememberPassword() != 0);
  response.setEnableForgotAuthenticator(serverConfig.getEnableForgotAuthenticator() != 0);
  response.setAuthTypes(completeFactors(authFactors));
  response.setLastAuthType(AUTH_FACTOR_QRCODE);
  response.setPolicyAllowsAuthentication(false);
}

}  // namespace

KvBusinessQRCode::KvBusinessQRCode(Config* config, KvCrypto* kvCrypto, KvBusiness* kvBusiness)
    : config_(config), kvCrypto_(kvCrypto), kvBusiness_(kvBusiness) {}

// ---------------------------------------------------------------- command

Model::KvResult KvBusinessQRCode::generateCommandQRCode(std::string userLogin, std::string& transactionId,
                                                        std::string& jsonTransactionData, std::string& commandQRcode,
                                                        std::uint8_t& online) {
  static const char* const kName = "Korvath::Business::KvBusinessQRCode::generateCommandQRCode";
  KV_TRACE_SCOPE(kName);
  return guarded(kName, preset(KV_ERROR_FAIL_SERVICE_GEN_CMD_QRCODE_KORVATH), [&] {
    Model::KvResult result = preset(KV_ERROR_FAIL_SERVICE_GEN_CMD_QRCODE_KORVATH);
    if (userLogin.empty()) {
      transactionId.clear();
      commandQRcode.clear();
      online = 0;
      return result;
    }
    const int index = config_->getUserIndex(userLogin);
    if (index < 0) {
      online = 1;
      result = onlineGenerateCommandQRCode(userLogin, transactionId, jsonTransactionData, commandQRcode);
    } else {
      const Model::UserConfig user = config_->getUserConfig(static_cast<std::size_t>(index));
      result = generateCommandQRCode(user, transactionId, jsonTransactionData, commandQRcode, online);
    }
    return result;
  });
}

Model::KvResult KvBusinessQRCode::generateCommandQRCode(Model::UserConfig user, std::string& transactionId,
                                                        std::string& jsonTransactionData, std::string& commandQRcode,
                                                        std::uint8_t& online) {
  static const char* const kName = "Korvath::Business::KvBusinessQRCode::generateCommandQRCode";
  KV_TRACE_SCOPE(kName);
  return guarded(kName, preset(KV_ERROR_FAIL_SERVICE_GEN_CMD_QRCODE_KORVATH), [&] {
    Model::KvResult result = preset(KV_ERROR_FAIL_SERVICE_GEN_CMD_QRCODE_KORVATH);
    if (kvBusiness_->areAllAuthenticatorsBlocked(user)) {
      online = 1;
      result = onlineGenerateCommandQRCode(user.getUserLogin(), transactionId, jsonTransactionData, commandQRcode);
      if (!isServerReachable(result.getResultCode())) {
        result.setResultCode(KV_ERROR_ALL_TOKENS_BLOCKED_AND_NO_INTERNET_ACCESS);
      }
      return result;
    }
    if (config_->getServerConfig().getOffline() == 0) {
      online = 1;
      return onlineGenerateCommandQRCode(user.getUserLogin(), transactionId, jsonTransactionData, commandQRcode);
    }
    online = 0;
    for (const Model::AuthenticatorRecord& authenticator : user.getAuthenticators()) {
      if (kvBusiness_->hasMobileAuthenticatorActive(authenticator)) {
        result = preset(offlineGenerateCommandQRCode(user, transactionId, jsonTransactionData, commandQRcode));
        return result;
      }
    }
    KV_LOG_INFO("%s - User has no one active mobile token. QR Code couldn't be generated.", kName);
    result = preset(KV_ERROR_AUTHENTICATOR_NOT_FOUND);
    return result;
  });
}

Model::KvResult KvBusinessQRCode::generateCommandQRCodeOnline(std::string userLogin, std::string& transactionId,
                                                              std::string& jsonTransactionData,
                                                              std::string& commandQRcode, std::uint8_t& online) {
  static const char* const kName = "Korvath::Business::KvBusinessQRCode::generateCommandQRCodeOnline";
  KV_TRACE_SCOPE(kName);
  return guarded(kName, preset(KV_ERROR_FAIL_SERVICE_GEN_CMD_QRCODE_KORVATH), [&] {
    Model::KvResult result = preset(KV_ERROR_FAIL_SERVICE_GEN_CMD_QRCODE_KORVATH);
    if (userLogin.empty()) {
      transactionId.clear();
      commandQRcode.clear();
      online = 0;
      return result;
    }
    const int index = config_->getUserIndex(userLogin);
    if (index < 0) {
      online = 1;
      result = onlineGenerateCommandQRCode(userLogin, transactionId, jsonTransactionData, commandQRcode);
    } else {
      const Model::UserConfig user = config_->getUserConfig(static_cast<std::size_t>(index));
      result = generateCommandQRCodeOnline(user, transactionId, jsonTransactionData, commandQRcode, online);
    }
    return result;
  });
}

Model::KvResult KvBusinessQRCode::generateCommandQRCodeOnline(Model::UserConfig user, std::string& transactionId,
                                                              std::string& jsonTransactionData,
                                                              std::string& commandQRcode, std::uint8_t& online) {
  static const char* const kName = "Korvath::Business::KvBusinessQRCode::generateCommandQRCodeOnline";
  KV_TRACE_SCOPE(kName);
  return guarded(kName, preset(KV_ERROR_FAIL_SERVICE_GEN_CMD_QRCODE_KORVATH), [&] {
    Model::KvResult result = preset(KV_ERROR_FAIL_SERVICE_GEN_CMD_QRCODE_KORVATH);
    online = 1;
    result = onlineGenerateCommandQRCode(user.getUserLogin(), transactionId, jsonTransactionData, commandQRcode);
    return result;
  });
}

Model::KvResult KvBusinessQRCode::onlineGenerateCommandQRCode(std::string userLogin, std::string& transactionId,
                                                              std::string& jsonTransactionData,
                                                              std::string& commandQRcode) {
  static const char* const kName = "Korvath::Business::KvBusinessQRCode::onlineGenerateCommandQRCode";
  KV_TRACE_SCOPE(kName);
  const Model::KvResult outcome = guarded(kName, preset(KV_ERROR_FAIL_REQUEST_TRANSACTION), [&] {
    Model::KvResult result = preset(KV_ERROR_FAIL_REQUEST_TRANSACTION);
    kvBusiness_->setKvCryptoInputs();
    RESTClient client(config_->getRegion(), config_->getEnvironment());

    Model::RequestTransaction request;
    Detail::fillSignInRequest(request, *kvBusiness_, AUTH_FACTOR_QRCODE);
    Model::TransactionData transactionData;
    request.setUserTransaction(Detail::userTransactionFor(*config_, *kvBusiness_, userLogin, transactionData, kName));
    jsonTransactionData = transactionData.toJson();

    std::string sealed;
    const std::uint16_t sealCode = kvCrypto_->encryptRequest(request.toJson(), sealed);
    if (sealCode != KV_SUCCESS) {
      result.setResultCode(sealCode);
    } else {
      std::string reply;
      result = client.postTransaction(config_->getAccountId(), config_->getResourceIdText(), sealed, reply);
      if (result.getResultCode() == KV_SUCCESS) {
        // A reply that cannot be opened or read is a failure of the exchange: answering 0
        // here would hand the panel an empty command as if it were one.
        std::string plain;
        std::uint16_t code = kvCrypto_->decryptResponse(reply, plain);
        Model::ResponseTransaction response;
        if (code == KV_SUCCESS) code = response.fillFromJson(plain);
        if (code == KV_SUCCESS) {
          transactionId = response.getTransactionId();
          commandQRcode = response.getCommand();
          KV_LOG_DEBUG("%s - transactionId %s", kName, transactionId.c_str());
        } else {
          KV_LOG_ERROR("%s - the transaction reply could not be read: %d", kName, code);
          result.setResultCode(code);
        }
      }
    }
    if (result.getResultCode() != KV_SUCCESS) KV_LOG_TRACE("%s Fail to generate QR code command online", kName);
    return result;
  });
  kvBusiness_->disableKorvath(outcome.getResultCode());
  return outcome;
}

std::uint16_t KvBusinessQRCode::offlineGenerateCommandQRCode(Model::UserConfig user, std::string transactionId,
                                                             std::string& jsonTransactionData,
                                                             std::string& commandQRcode) {
  static const char* const kName = "Korvath::Business::KvBusinessQRCode::offlineGenerateCommandQRCode";
  KV_TRACE_SCOPE(kName);
  return guarded(kName, KV_ERROR_FAIL_GENERATE_COMMAND_QRCODE, [&]() -> std::uint16_t {
    std::uint16_t result = KV_ERROR_FAIL_GENERATE_COMMAND_QRCODE;
    jsonTransactionData = kvBusiness_->getTransactionData(user.getUserLogin()).toJson();
    // Blocked authenticators are listed too: the SDK leaves out those that cannot answer.
    std::vector<OstraSdkService::MobileAuthenticatorEntry> entries;
    for (const Model::AuthenticatorRecord& authenticator : user.getAuthenticators()) {
      if (authenticator.getModel() != Model::AuthenticatorRecord::kModelMobile) continue;
      OstraSdkService::MobileAuthenticatorEntry entry{};
      if (!AuthenticationSdk::makeMobileAuthenticatorEntry(authenticator.getBlob(), authenticator.getDeviceId(),
                                                           entry)) {
        KV_LOG_ERROR("%s - a mobile authenticator's blob does not fit an entry", kName);
      }
      entries.push_back(entry);
    }
    result = OstraSdkService::generateQRCodeCommand(entries, Model::TransactionData::kTypeDesktopLogon, transactionId,
                                                    jsonTransactionData, commandQRcode);
    if (result != KV_SUCCESS) {
      KV_LOG_ERROR("%s - %d %s", kName, result, OstraSdkService::getErrorMessage(result).c_str());
    }
    return result;
  });
}

// ---------------------------------------------------------------- check

Model::KvResult KvBusinessQRCode::onlineAuthenticateQRCode(std::string userLogin, std::string transactionId,
                                                           std::string authenticationCode) {
  static const char* const kName = "Korvath::Business::KvBusinessQRCode::onlineAuthenticateQRCode";
  KV_TRACE_SCOPE(kName);
  const Model::KvResult outcome = guarded(kName, preset(KV_ERROR_FAIL_REQUEST_AUTHENTICATION), [&] {
    Model::KvResult result = preset(KV_ERROR_FAIL_REQUEST_AUTHENTICATION);
    kvBusiness_->setKvCryptoInputs();
    RESTClient client(config_->getRegion(), config_->getEnvironment());

    Model::RequestAuthentication request;
    Detail::fillSignInRequest(request, *kvBusiness_, AUTH_FACTOR_QRCODE);
    // The record keeps the fields it accepted before a refusal; the request goes out anyway.
    request.setUserAuthentication(
        Detail::userAuthenticationFor(*config_, userLogin, authenticationCode, transactionId));

    std::string sealed;
    const std::uint16_t sealCode = kvCrypto_->encryptRequest(request.toJson(), sealed);
    if (sealCode != KV_SUCCESS) {
      result.setResultCode(sealCode);
    } else {
      std::string reply;
      result = client.postAuthentication(config_->getAccountId(), config_->getResourceIdText(), sealed, reply);
      // The reply carries nothing the agent needs; it stays sealed and only its size is logged.
      KV_LOG_DEBUG("%s - reply of %u characters", kName, static_cast<unsigned>(reply.size()));
    }
    if (result.getResultCode() == KV_SUCCESS) {
      KV_LOG_INFO("%s - QR code authenticated online", kName);
    } else {
      KV_LOG_INFO("%s - Failure to authenticate the QR code online", kName);
    }
    return result;
  });
  kvBusiness_->disableKorvath(outcome.getResultCode());
  return outcome;
}

std::uint16_t KvBusinessQRCode::offlineAuthenticateQRCode(Model::UserConfig& user, std::string transactionId,
                                                          std::string jsonTransactionData,
                                                          std::string authenticationCode) {
  static const char* const kName = "Korvath::Business::KvBusinessQRCode::offlineAuthenticateQRCode";
  KV_TRACE_SCOPE(kName);
  return guarded(kName, KV_ERROR_FAIL_REQUEST_AUTHENTICATION, [&]() -> std::uint16_t {
    if (kvBusiness_->areAllAuthenticatorsBlocked(user)) {
      KV_LOG_DEBUG("%s - All authenticators are blocked offline, trying online", kName);
      return onlineAuthenticateQRCode(user.getUserLogin(), transactionId, authenticationCode).getResultCode();
    }
    return offlineAuthenticateQRCode(user, transactionId, jsonTransactionData, authenticationCode,
                                     std::vector<bool>(user.getAuthenticators().size(), true));
  });
}

std::uint16_t KvBusinessQRCode::offlineAuthenticateQRCode(Model::UserConfig& user, std::string transactionId,
                                                          std::string jsonTransactionData,
                                                          std::string authenticationCode,
                                                          const std::vector<bool>& counted) {
  static const char* const kName = "Korvath::Business::KvBusinessQRCode::offlineAuthenticateQRCode";
  KV_TRACE_SCOPE(kName);
  return guarded(kName, KV_ERROR_FAIL_REQUEST_AUTHENTICATION, [&]() -> std::uint16_t {
    std::uint16_t result = KV_ERROR_FAIL_REQUEST_AUTHENTICATION;
    const AuthenticationSdk::AuthenticationSettings settings = Detail::offlineSettings(*config_);
    const std::vector<Model::AuthenticatorRecord> authenticators = user.getAuthenticators();
    // What each record becomes when no authenticator accepts the code.
    std::vector<Model::AuthenticatorRecord> setAside = authenticators;

    for (std::size_t i = 0; i < authenticators.size(); ++i) {
      if (authenticators[i].getModel() != Model::AuthenticatorRecord::kModelMobile) continue;
      // No failed attempt against it is on record: the code is not compared with it.
      if (i >= counted.size() || !counted[i]) continue;
      Model::AuthenticatorRecord updated = authenticators[i];
      std::string blob = updated.getBlob();
      const std::int64_t timeDifference = config_->getServerConfig().getTimeDifference();
      result = OstraSdkService::checkAdvancedAuthenticationLogonApp(blob, Model::TransactionData::kTypeDesktopLogon,
                                                                    transactionId, jsonTransactionData,
                                                                    authenticationCode, settings, timeDifference);
      KV_LOG_DEBUG("%s - authenticator %u: %d %s", kName, static_cast<unsigned>(i), result,
                   OstraSdkService::getErrorMessage(result).c_str());
      if (Model::AuthenticatorRecord::isValidBlobLength(blob.size())) updated.setBlob(blob);
      if (result == KV_SUCCESS) {
        std::vector<Model::AuthenticatorRecord> fresh = user.getAuthenticators();
        fresh[i] = updated;
        const std::uint16_t storeCode = user.setAuthenticators(fresh);
        if (storeCode != KV_SUCCESS) KV_LOG_ERROR("%s - the updated authenticator was refused: %d", kName, storeCode);
        return KV_SUCCESS;
      }
      setAside[i] = updated;
    }

    std::vector<Model::AuthenticatorRecord> fresh = user.getAuthenticators();
    for (std::size_t i = 0; i < fresh.size() && i < setAside.size(); ++i) fresh[i] = setAside[i];
    const std::uint16_t storeCode = user.setAuthenticators(fresh);
    if (storeCode != KV_SUCCESS) KV_LOG_ERROR("%s - the updated authenticators were refused: %d", kName, storeCode);
    return result;
  });
}

std::uint16_t KvBusinessQRCode::countOfflineQRCodeAttempt(Model::UserConfig& user, const std::string& transactionId,
                                                          const std::string& jsonTransactionData,
                                                          const std::string& authenticationCode,
                                                          std::vector<bool>& counted) {
  static const char* const kName = "Korvath::Business::KvBusinessQRCode::countOfflineQRCodeAttempt";
  KV_TRACE_SCOPE(kName);
  std::vector<Model::AuthenticatorRecord> list = user.getAuthenticators();
  counted.assign(list.size(), false);
  const std::uint16_t result = guarded(kName, KV_ERROR_FAIL_REQUEST_AUTHENTICATION, [&]() -> std::uint16_t {
    std::uint16_t last = KV_ERROR_FAIL_REQUEST_AUTHENTICATION;
    const AuthenticationSdk::AuthenticationSettings settings = Detail::offlineSettings(*config_);
    const std::int64_t timeDifference = config_->getServerConfig().getTimeDifference();
    bool any = false;
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (list[i].getModel() != Model::AuthenticatorRecord::kModelMobile) continue;
      std::string blob = list[i].getBlob();
      const std::uint16_t code = OstraSdkService::countAdvancedAuthenticationAttemptLogonApp(
          blob, Model::TransactionData::kTypeDesktopLogon, transactionId, jsonTransactionData, authenticationCode,
          settings, timeDifference);
      // A state that cannot be stored is no count: the code is not compared with it.
      if (!Model::AuthenticatorRecord::isValidBlobLength(blob.size()) || list[i].setBlob(blob) != KV_SUCCESS) continue;
      counted[i] = code == KV_SUCCESS;
      any = any || counted[i];
      last = code;
    }
    user.setAuthenticators(list);
    return any ? static_cast<std::uint16_t>(KV_SUCCESS) : last;
  });
  if (result != KV_SUCCESS) counted.assign(counted.size(), false);
  return result;
}

// ---------------------------------------------------------------- replies

std::uint16_t KvBusinessQRCode::genResponseGenCmdQRCode(std::string userLogin, std::string userPassword,
                                                        std::uint8_t checkRememberPassword,
                                                        Model::AuthFactorMap authFactors, std::uint16_t& responseType,
                                                        std::string& response) {
  static const char* const kName = "Korvath::Business::KvBusinessQRCode::genResponseGenCmdQRCode";
  KV_TRACE_SCOPE(kName);
  return guarded(kName, KV_ERROR_FAIL_LOAD_UI_USER_LOGON, [&]() -> std::uint16_t {
    Service::ServiceResponseBase reply;
    fillResponseBase(reply, *config_, userLogin, userPassword, checkRememberPassword, authFactors);
    responseType = RESPONSE_TYPE_QRCODE_COMMAND;
    response = reply.toJson();
    return KV_SUCCESS;
  });
}

std::uint16_t KvBusinessQRCode::genResponseAuthQRCode(std::string userLogin, std::string userPassword,
                                                      std::uint8_t checkRememberPassword,
                                                      Model::AuthFactorMap authFactors, std::string transactionId,
                                                      std::string jsonTransactionData, std::string command,
                                                      std::uint8_t onLine, std::uint16_t& responseType,
                                                      std::string& response) {
  static const char* const kName = "Korvath::Business::KvBusinessQRCode::genResponseAuthQRCode";
  KV_TRACE_SCOPE(kName);
  return guarded(kName, KV_ERROR_FAIL_LOAD_UI_USER_LOGON, [&]() -> std::uint16_t {
    Service::ServiceResponseAuthQRCode reply;
    fillResponseBase(reply, *config_, userLogin, userPassword, checkRememberPassword, authFactors);
    reply.setAuthDataSize(6);
    reply.setCommand(command);
    Model::TransactionData transactionData;
    if (transactionData.fillFromJson(jsonTransactionData) == KV_SUCCESS) {
      // A record the setter refuses leaves the reply's default record.
      reply.setTransactionData(transactionData);
    }
    reply.setTransactionId(transactionId);  // kept only when empty or 36 characters
    reply.setOnLine(onLine != 0);
    responseType = RESPONSE_TYPE_QRCODE;
    response = reply.toJson();
    return KV_SUCCESS;
  });
}

}  // namespace Business
}  // namespace Korvath
