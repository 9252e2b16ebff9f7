// The push factor at the service level: the logon-disabled gate, the user lookup, the push
// itself and what is recorded afterwards.

#include "Korvath/Service/KvServicePush.h"

#include <exception>

#include "Korvath/Logger.h"
#include "Korvath/ResultCodes.h"
#include "ServiceLog.h"

namespace Korvath {
namespace Service {

namespace {

const char* const kClass = "Korvath::Service::KvServicePush";

}  // namespace

KvServicePush::KvServicePush(const KvService& service) : service_(service) {
  KV_TRACE_SCOPE("Korvath::Service::KvServicePush::KvServicePush");
  logBuild(kClass);
  // The copy's Config and business object still point at the source's objects; bind them to
  // this copy's own, so that nothing done on the push task reaches the dialog's in memory.
  Config& config = service_.getConfig();
  KvCrypto& crypto = service_.getKvCrypto();
  config.setKvCrypto(&crypto);
  const std::string clientIp = service_.getKvBusiness().getClientIp();
  service_.getKvBusiness() = Business::KvBusiness(&config, &crypto, clientIp);
  kvBusinessPush_.reset(new Business::KvBusinessPush(&config, &crypto, &service_.getKvBusiness()));
}

KvServicePush::~KvServicePush() { kvBusinessPush_.reset(); }

Model::KvResult KvServicePush::sendPush(ServiceRequestBase request, std::uint16_t* responseType, std::string& response,
                                        Utils::AutoTokenCancellationRelease* token) {
  static const char* const kName = "Korvath::Service::KvServicePush::sendPush";
  KV_TRACE_SCOPE(kName);
  std::uint16_t ignoredType = 0;
  if (responseType == nullptr) responseType = &ignoredType;

  const std::string userLogin = request.getUserLogin();
  const std::string userPassword = request.getUserPassword();
  const bool remember = request.getCheckRememberPassword();
  const std::int32_t autoSendPush = request.getAutoSendPush() ? 1 : 0;
  KV_LOG_DEBUG("%s - UserLogin %s", kName, userLogin.c_str());
  KV_LOG_DEBUG("%s - checkRememberPassword %d", kName, remember ? 1 : 0);

  *responseType = Business::RESPONSE_TYPE_PUSH;
  const std::string authType = Business::AUTH_FACTOR_PUSH;
  Model::KvResult result(KV_ERROR_FAIL_SERVICE_SEND_PUSH_KORVATH, 0, std::string());

  const Model::KvResult gate = service_.checkLogonAppDisabled();
  if (gate.getResultCode() != KV_SUCCESS) {
    return Model::KvResult(gate.getResultCode(), 0, std::string());
  }

  try {
    Business::KvBusiness& business = service_.getKvBusiness();
    Config& config = service_.getConfig();
    const Model::AuthFactorMap defaults = business.getDefaultAuthFactors();

    if (userLogin.empty()) {
      KV_LOG_ERROR("%s - getUserLogin().empty()", kName);
      const std::uint16_t built =
          kvBusinessPush_->genResponseSendPush(userLogin, userPassword, remember, defaults, responseType, response);
      KV_LOG_DEBUG("%s - genResponseSendPush - result %d", kName, built);
      result.setResultCode(KV_ERROR_INVALID_USER_LOGIN_LENGTH);
    } else {
      const int userIndex = config.getUserIndex(userLogin);
      KV_LOG_DEBUG("%s - userIndex %i", kName, userIndex);

      if (userIndex < 0) {
        result = kvBusinessPush_->authenticatePush(userLogin, token);
        if (result.getResultCode() == KV_SUCCESS) {
          const Model::KvResult added =
              business.updateConfigAddUser(userLogin, userPassword, remember, authType, autoSendPush);
          KV_LOG_DEBUG("%s - updateConfigAddUser - result %d", kName, added.getResultCode());
          *responseType = Business::RESPONSE_TYPE_STORED;
          response.clear();
        } else {
          const std::uint16_t built =
              kvBusinessPush_->genResponseSendPush(userLogin, userPassword, remember, defaults, responseType, response);
          KV_LOG_DEBUG("%s - genResponseSendPush - result %d", kName, built);
          *responseType = Business::RESPONSE_TYPE_PUSH;
        }
      } else {
        const Model::UserConfig user = config.getUserConfig(static_cast<std::size_t>(userIndex));
        const bool allBlocked = business.areAllAuthenticatorsBlocked(user);
        KV_LOG_DEBUG("%s - areAllAuthenticatorsBlocked - boolean %d", kName, allBlocked ? 1 : 0);

        result = kvBusinessPush_->authenticatePush(userLogin, token);
        if (result.getResultCode() == KV_SUCCESS) {
          const Model::KvResult updated =
              business.updateConfigUser(userLogin, userPassword, remember, authType, true, autoSendPush);
          KV_LOG_DEBUG("%s - updateConfigUser - result %d", kName, updated.getResultCode());
          // With an active authenticator the record must be kept; with all of them blocked
          // the approval stands whatever the update says.
          if (!allBlocked) result = updated;
          *responseType = Business::RESPONSE_TYPE_STORED;
          response.clear();
        } else {
          const bool cancelled = token != nullptr && token->isCancelled();
          if (!allBlocked && result.getResultCode() != KV_ERROR_SERVER_IS_UNREACHABLE && !cancelled) {
            const Model::KvResult updated =
                business.updateConfigUser(userLogin, userPassword, remember, authType, false, autoSendPush);
            KV_LOG_DEBUG("%s - updateConfigUser - result %d", kName, updated.getResultCode());
          }
          const std::uint16_t built = kvBusinessPush_->genResponseSendPush(userLogin, userPassword, remember,
                                                                           user.getAuthTypes(), responseType, response);
          KV_LOG_DEBUG("%s - genResponseSendPush - result %d", kName, built);
          *responseType = Business::RESPONSE_TYPE_PUSH;
        }
      }
    }
  } catch (const std::exception& e) {
    logServiceException(kClass, "sendPush", &e);
    result.setResultCode(KV_ERROR_FAIL_SERVICE_SEND_PUSH_KORVATH);
  } catch (...) {
    logServiceException(kClass, "sendPush", nullptr);
    result.setResultCode(KV_ERROR_FAIL_SERVICE_SEND_PUSH_KORVATH);
  }
  // This copy's exchanges may have found the resource gone (or answering again): the dialog
  // and the other copies must see it before they next check or save.
  service_.syncLogonAppDisable();

  KV_LOG_DEBUG("%s - responseType %d", kName, *responseType);
  KV_LOG_DEBUG("%s - response %s", kName, response.c_str());
  KV_LOG_INFO("%s - result %d - %s", kName, result.getResultCode(), getResultName(result.getResultCode()).c_str());
  return result;
}

}  // namespace Service
}  // namespace Korvath
