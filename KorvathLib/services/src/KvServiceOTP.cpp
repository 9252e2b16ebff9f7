// The OTP factor at the service level: which check runs (the service, or the stored blobs
// under the agent's offline setting), what is recorded afterwards and the OTP screen that
// answers a failure.
//
// Locking: the steps that only read or save the dialog's configuration run under the state
// mutex; the exchanges with the service run without it (KvService.h). No other thread
// works on the dialog's Config in memory: the push task has a copy of its own.

#include "Korvath/Service/KvServiceOTP.h"

#include <exception>

#include "Korvath/Business/OfflineAttempt.h"
#include "Korvath/Logger.h"
#include "Korvath/RequestId.h"
#include "Korvath/ResultCodes.h"
#include "ServiceLog.h"

namespace Korvath {
namespace Service {

namespace {

const char* const kClass = "Korvath::Service::KvServiceOTP";

bool factorOn(const Model::AuthFactorMap& factors, const std::string& factor) {
  auto it = factors.find(factor);
  return it != factors.end() && it->second;
}

void done(std::uint16_t& responseType, std::string& response) {
  responseType = Business::RESPONSE_TYPE_STORED;
  response.clear();
}

// What the checks need to know of the stored user, read under the state mutex.
struct StoredUser {
  int index = -1;
  Model::UserConfig record;
  bool allBlocked = false;
};

StoredUser findUser(KvService& service, const std::string& userLogin) {
  StoredUser found;
  auto lock = service.lockState();
  Config& config = service.getConfig();
  found.index = config.getUserIndex(userLogin);
  if (found.index >= 0) {
    found.record = config.getUserConfig(static_cast<std::size_t>(found.index));
    found.allBlocked = service.getKvBusiness().areAllAuthenticatorsBlocked(found.record);
  }
  return found;
}

}  // namespace

KvServiceOTP::KvServiceOTP(KvService* service) : service_(service) {
  KV_TRACE_SCOPE("Korvath::Service::KvServiceOTP::KvServiceOTP");
  logBuild(kClass);
  kvBusinessOTP_.reset(
      new Business::KvBusinessOTP(&service_->getConfig(), &service_->getKvCrypto(), &service_->getKvBusiness()));
}

KvServiceOTP::~KvServiceOTP() { kvBusinessOTP_.reset(); }

bool KvServiceOTP::openCheck(const char* function, const ServiceRequestAuthOTP& request, std::uint16_t& responseType,
                             std::string& response, Model::KvResult& result) {
  // The code itself is a secret: only its length reaches the log.
  KV_LOG_DEBUG("%s::%s - userLogin %s, checkRememberPassword %d, code of %u characters", kClass, function,
               request.getUserLogin().c_str(), request.getCheckRememberPassword() ? 1 : 0,
               static_cast<unsigned>(request.getAuthData().size()));
  responseType = Business::RESPONSE_TYPE_OTP;
  result = Model::KvResult(KV_ERROR_FAIL_SERVICE_AUTH_OTP_KORVATH, 0, std::string());

  const Model::KvResult gate = service_->checkLogonAppDisabled();
  if (gate.getResultCode() != KV_SUCCESS) {
    result = Model::KvResult(gate.getResultCode(), 0, std::string());
    return false;
  }
  if (request.getUserLogin().empty()) {
    KV_LOG_ERROR("%s::%s - getUserLogin().empty()", kClass, function);
    Model::AuthFactorMap defaults;
    {
      auto lock = service_->lockState();
      defaults = service_->getKvBusiness().getDefaultAuthFactors();
    }
    reply(request, defaults, responseType, response);
    result.setResultCode(KV_ERROR_INVALID_USER_LOGIN_LENGTH);
    return false;
  }
  return true;
}

void KvServiceOTP::closeCheck(const char* function, std::uint16_t responseType, const std::string& response,
                              const Model::KvResult& result) {
  KV_LOG_DEBUG("%s::%s - responseType %d", kClass, function, responseType);
  KV_LOG_DEBUG("%s::%s - response %s", kClass, function, response.c_str());
  KV_LOG_INFO("%s::%s - result %d - %s", kClass, function, result.getResultCode(),
              getResultName(result.getResultCode()).c_str());
}

void KvServiceOTP::updateUser(const ServiceRequestAuthOTP& request, bool success) {
  const Model::KvResult updated = service_->getKvBusiness().updateConfigUser(
      request.getUserLogin(), request.getUserPassword(), request.getCheckRememberPassword(), Business::AUTH_FACTOR_OTP,
      success, -1);
  KV_LOG_DEBUG("%s - updateConfigUser - result %d", kClass, updated.getResultCode());
}

void KvServiceOTP::reply(const ServiceRequestAuthOTP& request, const Model::AuthFactorMap& factors,
                         std::uint16_t& responseType, std::string& response) {
  auto lock = service_->lockState();
  const std::uint16_t built =
      kvBusinessOTP_->genResponseAuthOTP(request.getUserLogin(), request.getUserPassword(),
                                         request.getCheckRememberPassword(), factors, &responseType, response);
  KV_LOG_DEBUG("%s - genResponseAuthOTP - result %d", kClass, built);
}

bool KvServiceOTP::refuseCodeUsedHere(int index, const ServiceRequestAuthOTP& request, std::uint16_t& responseType,
                                      std::string& response, Model::KvResult& result) {
  Model::UserConfig record;
  std::uint16_t refusal = KV_ERROR_FAIL_AUTHENTICATION;
  {
    auto lock = service_->lockState();
    Config& config = service_->getConfig();
    // What another dialog accepted since this one read the file counts too; without it the code
    // is not sent (the answer then does not depend on it).
    const std::uint16_t reloaded = config.reloadUser(static_cast<std::size_t>(index));
    record = config.getUserConfig(static_cast<std::size_t>(index));
    if (reloaded != KV_SUCCESS) {
      refusal = KV_ERROR_WRITE_CONFIG_FILE;
    } else if (!kvBusinessOTP_->isCodeUsedHere(record, request.getAuthData())) {
      return false;
    }
  }
  result = Model::KvResult(refusal, 0, currentRequestId());
  reply(request, record.getAuthTypes(), responseType, response);
  return true;
}

void KvServiceOTP::recordServiceAcceptance(int index, const std::string& code) {
  auto lock = service_->lockState();
  Config& config = service_->getConfig();
  Config::FileHold hold;
  config.reloadUser(static_cast<std::size_t>(index));
  Model::UserConfig record = config.getUserConfig(static_cast<std::size_t>(index));
  if (!kvBusinessOTP_->moveCounterPast(record, code)) return;
  std::uint16_t saved = config.setUserConfig(static_cast<std::size_t>(index), record);
  if (saved == KV_SUCCESS) saved = config.writeFile();
  KV_LOG_DEBUG("%s - the counter past the accepted code saved: %d", kClass, saved);
}

bool KvServiceOTP::askService(int index, const std::string& askedLogin, const ServiceRequestAuthOTP& request,
                              std::uint16_t& responseType, std::string& response, Model::KvResult& result) {
  if (refuseCodeUsedHere(index, request, responseType, response, result)) return true;
  result = kvBusinessOTP_->onlineAuthenticateOtp(askedLogin, request.getAuthData());
  if (result.getResultCode() != KV_SUCCESS) return false;
  recordServiceAcceptance(index, request.getAuthData());
  updateUser(request, true);
  done(responseType, response);
  return true;
}

Model::KvResult KvServiceOTP::checkOffline(const ServiceRequestAuthOTP& request, std::uint16_t index,
                                           std::uint16_t& responseType, std::string& response) {
  Business::KvBusiness& business = service_->getKvBusiness();
  const std::string& code = request.getAuthData();
  // The blobs come back with their counters, attempts and blocks whatever the outcome, so the
  // record is saved after a refusal too; the refusal is on disk before the code is checked.
  // An accepted code's advanced counter must be kept, or the same code could pass again.
  auto save = [&](bool accepted) {
    return [&, accepted](Model::UserConfig& record) {
      return business.saveConfigUserByUserConfig(record, index, request.getUserPassword(),
                                                 request.getCheckRememberPassword(), Business::AUTH_FACTOR_OTP,
                                                 accepted);
    };
  };
  std::vector<bool> counted;
  Business::OfflineAttempt attempt(service_->getConfig(), index);
  const Business::OfflineAttempt::Outcome outcome = attempt.run(
      [&](Model::UserConfig& record) { return kvBusinessOTP_->countOfflineOtpAttempt(record, code, counted); },
      [&](Model::UserConfig& record) { return kvBusinessOTP_->offlineAuthenticateOtp(record, code, counted); },
      save(false), save(true));
  KV_LOG_DEBUG("%s::checkOTP - offline check %d, saved %d", kClass, outcome.checked, outcome.saved);
  if (outcome.accepted()) {
    done(responseType, response);
    return Model::KvResult(KV_SUCCESS, 0, std::string());
  }
  // Without a save the answer does not depend on the code typed.
  reply(request, attempt.record().getAuthTypes(), responseType, response);
  return Model::KvResult(outcome.saved != KV_SUCCESS ? outcome.saved : outcome.checked, 0, std::string());
}

Model::KvResult KvServiceOTP::checkOTPOnline(ServiceRequestAuthOTP request, std::uint16_t& responseType,
                                             std::string& response) {
  KV_TRACE_SCOPE("Korvath::Service::KvServiceOTP::checkOTPOnline");
  Model::KvResult result;
  try {
    if (openCheck("checkOTPOnline", request, responseType, response, result)) {
      Business::KvBusiness& business = service_->getKvBusiness();
      const std::string& login = request.getUserLogin();
      const std::string& code = request.getAuthData();
      const StoredUser user = findUser(*service_, login);
      KV_LOG_DEBUG("%s::checkOTPOnline - userIndex %i", kClass, user.index);

      if (user.index < 0) {
        result = kvBusinessOTP_->onlineAuthenticateOtp(login, code);
        if (result.getResultCode() == KV_SUCCESS) {
          const Model::KvResult added = business.updateConfigAddUser(
              login, request.getUserPassword(), request.getCheckRememberPassword(), Business::AUTH_FACTOR_OTP, -1);
          KV_LOG_DEBUG("%s::checkOTPOnline - updateConfigAddUser - result %d", kClass, added.getResultCode());
          done(responseType, response);
        } else {
          reply(request, business.getDefaultAuthFactors(), responseType, response);
        }
      } else if (!user.allBlocked) {
        if (!askService(user.index, user.record.getUserLogin(), request, responseType, response, result)) {
          if (result.getResultCode() != KV_ERROR_SERVER_IS_UNREACHABLE) updateUser(request, false);
          reply(request, user.record.getAuthTypes(), responseType, response);
        }
      } else if (!askService(user.index, login, request, responseType, response, result)) {
        reply(request, user.record.getAuthTypes(), responseType, response);
      }
    }
  } catch (const std::exception& e) {
    logServiceException(kClass, "checkOTPOnline", &e);
    result.setResultCode(KV_ERROR_FAIL_SERVICE_AUTH_OTP_KORVATH);
  } catch (...) {
    logServiceException(kClass, "checkOTPOnline", nullptr);
    result.setResultCode(KV_ERROR_FAIL_SERVICE_AUTH_OTP_KORVATH);
  }
  closeCheck("checkOTPOnline", responseType, response, result);
  return result;
}

Model::KvResult KvServiceOTP::checkOTP(ServiceRequestAuthOTP request, std::uint16_t& responseType,
                                       std::string& response) {
  KV_TRACE_SCOPE("Korvath::Service::KvServiceOTP::checkOTP");
  Model::KvResult result;
  try {
    if (openCheck("checkOTP", request, responseType, response, result)) {
      Business::KvBusiness& business = service_->getKvBusiness();
      const std::string& login = request.getUserLogin();
      const std::string& code = request.getAuthData();
      StoredUser user = findUser(*service_, login);
      KV_LOG_DEBUG("%s::checkOTP - userIndex %i", kClass, user.index);

      std::uint8_t offline = 0;
      {
        auto lock = service_->lockState();
        offline = service_->getConfig().getServerConfig().getOffline();
      }
      KV_LOG_DEBUG("%s::checkOTP - offline %d", kClass, offline);

      if (user.index < 0) {
        result = kvBusinessOTP_->onlineAuthenticateOtp(login, code);
        if (result.getResultCode() == KV_SUCCESS) {
          result = business.updateConfigAddUser(login, request.getUserPassword(), request.getCheckRememberPassword(),
                                                Business::AUTH_FACTOR_OTP, -1);
          done(responseType, response);
        } else {
          reply(request, business.getDefaultAuthFactors(), responseType, response);
        }
      } else if (!factorOn(user.record.getAuthTypes(), Business::AUTH_FACTOR_OTP)) {
        const std::string authType = business.getPredominantAuthFactor(user.record);
        responseType = business.genResponseType(authType);
        KV_LOG_ERROR("%s::checkOTP - the user may not use otp; predominant factor %s", kClass, authType.c_str());
        result.setResultCode(KV_ERROR_UNAUTHORIZED_AUTHENTICATION_TYPE);
      } else if (!user.allBlocked && offline == 0) {
        if (!askService(user.index, user.record.getUserLogin(), request, responseType, response, result)) {
          if (result.getResultCode() != KV_ERROR_SERVER_IS_UNREACHABLE) updateUser(request, false);
          reply(request, user.record.getAuthTypes(), responseType, response);
        }
      } else if (!user.allBlocked) {
        auto lock = service_->lockState();
        service_->syncLogonAppDisable();
        result = checkOffline(request, static_cast<std::uint16_t>(user.index), responseType, response);
      } else if (!askService(user.index, login, request, responseType, response, result)) {
        if (!isServerReachable(result.getResultCode())) {
          result.setResultCode(KV_ERROR_ALL_TOKENS_BLOCKED_AND_NO_INTERNET_ACCESS);
          done(responseType, response);
        } else {
          reply(request, user.record.getAuthTypes(), responseType, response);
        }
      }
    }
  } catch (const std::exception& e) {
    logServiceException(kClass, "checkOTP", &e);
    result.setResultCode(KV_ERROR_FAIL_SERVICE_AUTH_OTP_KORVATH);
  } catch (...) {
    logServiceException(kClass, "checkOTP", nullptr);
    result.setResultCode(KV_ERROR_FAIL_SERVICE_AUTH_OTP_KORVATH);
  }
  closeCheck("checkOTP", responseType, response, result);
  return result;
}

}  // namespace Service
}  // namespace Korvath
