// Push authentication: the transaction, the polling of its result and the service response
// after a push that did not simply succeed.

#include "Korvath/Business/KvBusinessPush.h"

#include "BusinessSupport.h"

#include <exception>
#include <memory>

#include "Korvath/ConnectionUtils.h"
#include "Korvath/Logger.h"
#include "Korvath/Model/CloudRecords.h"
#include "Korvath/Platform.h"
#include "Korvath/RESTClient.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/Service/ServiceMessages.h"
#include "Korvath/TimeUtils.h"

namespace Korvath {
namespace Business {

namespace {

bool tokenCancelled(const Utils::AutoTokenCancellationRelease* token) {
  return token != nullptr && token->isCancelled();
}

// The transaction request of a push for `userLogin`.
Model::RequestTransaction buildPushRequest(const Config& config, KvBusiness& business, const std::string& userLogin) {
  static const char* const kName = "Korvath::Business::KvBusinessPush::authenticatePush";
  Model::RequestTransaction request;
  Detail::fillSignInRequest(request, business, AUTH_FACTOR_PUSH);
  Model::TransactionData transactionData;
  const std::uint16_t userCode =
      request.setUserTransaction(Detail::userTransactionFor(config, business, userLogin, transactionData, kName));
  if (userCode != KV_SUCCESS) {
    KV_LOG_ERROR("%s - user transaction refused: %d", kName, userCode);
  }
  return request;
}

}  // namespace

KvBusinessPush::KvBusinessPush(Config* config, KvCrypto* kvCrypto, KvBusiness* kvBusiness)
    : config_(config), kvCrypto_(kvCrypto), kvBusiness_(kvBusiness) {}

Model::KvResult KvBusinessPush::authenticatePush(std::string userLogin, Utils::AutoTokenCancellationRelease* token) {
  static const char* const kName = "Korvath::Business::KvBusinessPush::authenticatePush";
  KV_TRACE_SCOPE(kName);
  Model::KvResult result(KV_ERROR_FAIL_REQUEST_AUTHENTICATION, 0, std::string());
  try {
    kvBusiness_->setKvCryptoInputs();
    RESTClient restClient(config_->getRegion(), config_->getEnvironment());

    const Model::RequestTransaction request = buildPushRequest(*config_, *kvBusiness_, userLogin);
    const std::string requestJson = request.toJson();
    KV_LOG_DEBUG("%s - request %s", kName, requestJson.c_str());

    std::string sealed;
    KV_LOG_DEBUG("%s - >>encryptRequest", kName);
    const std::uint16_t sealCode = kvCrypto_->encryptRequest(requestJson, sealed);
    KV_LOG_DEBUG("%s - <<encryptRequest - result %d", kName, sealCode);
    if (sealCode != KV_SUCCESS) {
      result.setResultCode(sealCode);
      return result;
    }

    std::string reply;
    result = restClient.postTransaction(config_->getAccountId(), config_->getResourceIdText(), sealed, reply);
    if (result.getResultCode() != KV_SUCCESS) {
      KV_LOG_ERROR("%s - the transaction was not accepted: %d", kName, result.getResultCode());
      return result;
    }

    std::string opened;
    const std::uint16_t openCode = kvCrypto_->decryptResponse(reply, opened);
    if (openCode != KV_SUCCESS) {
      KV_LOG_ERROR("%s - the reply could not be opened: %d", kName, openCode);
      result.setResultCode(openCode);
      return result;
    }
    Model::ResponseTransaction response;
    const std::uint16_t fillCode = response.fillFromJson(opened);
    if (fillCode != KV_SUCCESS) {
      KV_LOG_ERROR("%s - the reply is not a transaction response: %d", kName, fillCode);
      result.setResultCode(fillCode);
      return result;
    }
    const std::string transactionId = response.getTransactionId();
    KV_LOG_INFO("%s - transactionId %s", kName, transactionId.c_str());
    if (transactionId.empty()) {
      KV_LOG_ERROR("%s - the service gave no transaction identifier", kName);
      result.setResultCode(KV_ERROR_FAILED_TO_PUSH);
      return result;
    }

    for (int attempt = 1; attempt <= kMaxAttempts; ++attempt) {
      KV_LOG_INFO("%s - Attempt #%d", kName, attempt);
      result = getPushResult(restClient, transactionId, token);
      if (isServerReachable(result.getResultCode())) break;
      KV_LOG_ERROR("%s - the service could not be reached while polling: %d", kName, result.getResultCode());
      if (attempt < kMaxAttempts) Platform::clock().sleepMs(kRetryPauseMs);
    }
    return result;
  } catch (...) {
    KV_LOG_ERROR("%s - exception - e.what(): %s", kName, Detail::currentExceptionText());
  }
  result.setResultCode(KV_ERROR_FAIL_REQUEST_AUTHENTICATION);
  kvBusiness_->disableKorvath(KV_ERROR_FAIL_REQUEST_AUTHENTICATION);
  return result;
}

Model::KvResult KvBusinessPush::getPushResult(RESTClient& restClient, std::string transactionId,
                                              Utils::AutoTokenCancellationRelease* token) {
  static const char* const kName = "Korvath::Business::KvBusinessPush::getPushResult";
  KV_TRACE_SCOPE(kName);
  const std::uint16_t pushTimeout = config_->getServerConfig().getPushTimeout();
  Model::KvResult result(KV_SUCCESS, 0, std::string());

  Utils::Timer timer;
  if (token != nullptr) timer.setToken(*token);
  timer.start(static_cast<std::int64_t>(pushTimeout) * 1000, kPollStepMs);
  KV_LOG_DEBUG("%s - pushTimeout %u s", kName, static_cast<unsigned>(pushTimeout));

  const std::string accountId = config_->getAccountId();
  const std::string resourceId = config_->getResourceIdText();
  for (;;) {
    bool stopAfterThisPoll = false;
    if (tokenCancelled(token)) {
      KV_LOG_INFO("%s - cancelled operation", kName);
      stopAfterThisPoll = true;
    }
    KV_LOG_DEBUG("%s - >>restClient.getPushResult | called at <%s>", kName,
                 Utils::TimeUtils::getCurrentTimeString().c_str());
    std::string reply;
    result = restClient.getPushResult(accountId, resourceId, transactionId, reply);
    const std::uint16_t code = result.getResultCode();
    if (code == KV_SUCCESS) {
      KV_LOG_INFO("%s - Push authenticated with success", kName);
      break;
    }
    if (tokenCancelled(token)) {
      KV_LOG_INFO("%s - cancelled operation", kName);
      break;
    }
    if (code != KV_ERROR_WAITING_PUSH_RESULT) {
      KV_LOG_ERROR("%s - Failure to authenticate using push", kName);
      break;
    }
    KV_LOG_DEBUG("%s - Waiting for the push response", kName);
    if (stopAfterThisPoll) break;
    if (timer.isTimeOut()) {
      KV_LOG_ERROR("%s - no answer within %u s", kName, static_cast<unsigned>(pushTimeout));
      result.setResultCode(KV_ERROR_PUSH_TIMEOUT);
      break;
    }
  }
  return result;
}

std::uint16_t KvBusinessPush::genResponseSendPush(std::string userLogin, std::string userPassword,
                                                  std::uint8_t checkRememberPassword, Model::AuthFactorMap authFactors,
                                                  std::uint16_t* responseType, std::string& response) {
  static const char* const kName = "Korvath::Business::KvBusinessPush::genResponseSendPush";
  KV_TRACE_SCOPE(kName);
  try {
    Service::ServiceResponseBase record;
    if (userLogin.size() <= 100) record.setUserLogin(userLogin);
    if (userPassword.size() <= 300) record.setUserPassword(userPassword);
    record.setCheckRememberPassword(checkRememberPassword != 0);
    const ServerConfig serverConfig = config_->getServerConfig();
    record.setEnableRememberPassword(serverConfig.getEnableRememberPassword() != 0);
    record.setEnableForgotAuthenticator(serverConfig.getEnableForgotAuthenticator() != 0);
    Model::AuthFactorMap factors;
    for (const char* factor : {AUTH_FACTOR_OTP, AUTH_FACTOR_PUSH, AUTH_FACTOR_QRCODE}) {
      factors[factor] = authFactors[factor];
    }
    record.setAuthTypes(factors);
    record.setLastAuthType(AUTH_FACTOR_PUSH);
    if (responseType != nullptr) *responseType = RESPONSE_TYPE_PUSH;
    response = record.toJson();
    return KV_SUCCESS;
  } catch (...) {
    KV_LOG_ERROR("%s - exception - e.what(): %s", kName, Detail::currentExceptionText());
  }
  return KV_ERROR_FAIL_LOAD_UI_USER_LOGON;
}

}  // namespace Business
}  // namespace Korvath
