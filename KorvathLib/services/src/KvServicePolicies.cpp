// User policies, status and the bypass rules of KvService: what the signing-in user may do
// before the dialog shows a panel.

#include <exception>
#include <string>
#include <vector>

#include "Korvath/KvGeolocator.h"
#include "Korvath/Logger.h"
#include "Korvath/Model/CloudRecords.h"
#include "Korvath/Platform.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/Service/KvService.h"
#include "ServiceLog.h"

namespace Korvath {
namespace Service {

namespace {

const char* const kClass = "Korvath::Service::KvService";

// Pause after a policy request that did not reach the service.
constexpr std::uint32_t kUnreachablePauseMs = 200;

bool isUnknownToService(std::uint16_t code) {
  return code == KV_ERROR_USER_NOT_FOUND || code == KV_ERROR_FIRST_LOGIN_OFFLINE;
}

// The outcomes of a policy reply that came back and said what the user's state is. Any other
// code (an unreadable reply, a failed exchange, a disabled agent learnt without the service)
// says nothing about it.
bool isPolicyVerdict(std::uint16_t code) {
  return code == KV_SUCCESS || code == KV_ERROR_USER_IS_BLOCKED || code == KV_ERROR_USER_IS_OVERALLOCATED ||
         code == KV_ERROR_USER_IS_IN_QUARANTINE;
}

const char* yesNo(bool value) { return value ? "True" : "False"; }

}  // namespace

Model::KvResult KvService::updateUserPolicies(std::string& userName, bool isRdpSession) {
  KV_TRACE_SCOPE("Korvath::Service::KvService::updateUserPolicies");
  Model::KvResult result(KV_SUCCESS);
  Model::KvResult onlineResult(KV_SUCCESS);
  Model::KvResult offlineResult(KV_SUCCESS);
  bool hasInternet = true;
  const int attempts = 1;
  for (int attempt = 1; attempt <= attempts; ++attempt) {
    KV_LOG_DEBUG("%s::%s - Attempt #%d", kClass, __func__, attempt);
    onlineResult = updateOnlineUserPolicy(userName, isRdpSession);

    std::string prefix;
    bool skipReachability = false;
    const std::size_t at = userName.find('@');
    if (isUnknownToService(onlineResult.getResultCode()) && at != std::string::npos) {
      // login@domain: the service may know the user by the login alone.
      prefix = userName.substr(0, at);
      onlineResult = updateOnlineUserPolicy(prefix, isRdpSession);
      if (isUnknownToService(onlineResult.getResultCode())) {
        prefix.clear();
        skipReachability = true;
      }
    }
    if (!skipReachability) {
      hasInternet = isServerReachable(onlineResult.getResultCode());
      if (!hasInternet) Platform::clock().sleepMs(kUnreachablePauseMs);
    }
    if (!prefix.empty()) userName = prefix;
  }

  // The service knows the name in none of its forms: only now may the unknown-user rule let
  // it through. Decided earlier, a user the service knows by another form (the login of a
  // login@domain, the stored login of a stored e-mail) would pass without a second factor.
  if (onlineResult.getResultCode() == KV_ERROR_USER_NOT_FOUND) validateBypassWithInternet(userName, onlineResult);

  offlineResult = updateOfflineUserPolicy(userName);

  if (!hasInternet && offlineResult.getResultCode() == KV_ERROR_USER_IS_NOT_ALLOWED_TO_AUTHENTICATE) {
    result = Model::KvResult(KV_ERROR_USER_IS_NOT_ALLOWED_TO_AUTHENTICATE);
  } else {
    result = onlineResult;
  }
  KV_LOG_INFO("%s::%s - hasInternet %s, online %d, offline %d, result %d", kClass, __func__, yesNo(hasInternet),
              onlineResult.getResultCode(), offlineResult.getResultCode(), result.getResultCode());
  return result;
}

Model::KvResult KvService::findOrSyncUser(const std::string& userName, bool& found) {
  {
    auto lock = lockState();
    found = config_.getUserIndex(userName) >= 0;
  }
  if (found) return Model::KvResult(KV_SUCCESS);
  const Model::KvResult result = kvBusiness_.updateConfig(userName);
  auto lock = lockState();
  syncLogonAppDisable();
  found = config_.getUserIndex(userName) >= 0;
  return result;
}

Model::KvResult KvService::askUserPolicy(Model::RequestGetUserPolicy request, const std::string& userName,
                                         bool& found, bool& answered) {
  request.setUserLogins(std::vector<std::string>{userName});  // a refused name leaves the list empty
  Model::KvResult result = findOrSyncUser(userName, found);

  answered = false;
  if (result.getResultCode() == KV_SUCCESS) {
    Model::AuthFactorMap factors;
    {
      auto lock = lockState();
      if (found) request.setLoginType(config_.getLoginType(userName));
      factors = authFactors_;
    }
    result = kvBusiness_.postUserPolicy(request, factors);
    answered = isPolicyVerdict(result.getResultCode());
    auto lock = lockState();
    authFactors_ = factors;
  }
  return result;
}

Model::KvResult KvService::updateOnlineUserPolicy(std::string& userName, bool isRdp) {
  KV_TRACE_SCOPE("Korvath::Service::KvService::updateOnlineUserPolicy");
  Model::KvResult result(KV_SUCCESS);
  try {
    Model::RequestGetUserPolicy request;
    request.setIsRdp(isRdp);
    std::string clientIp;
    {
      auto lock = lockState();
      clientIp = kvBusiness_.getClientIp();
    }
    request.setClientIp(clientIp);
    KV_LOG_DEBUG("%s::%s - IP used to authenticate = %s", kClass, __func__, clientIp.c_str());
    KV_LOG_DEBUG("%s::%s - Is an RDP authentication? = %s", kClass, __func__, yesNo(isRdp));
    Model::GeolocationData geolocation;
    float latitude = 0.0f, longitude = 0.0f, accuracy = -1.0f;
    Geolocation::KvGeolocator::instance().getGeolocation(latitude, longitude, accuracy);
    KV_LOG_DEBUG("%s::%s - Location: Lat %f, Long %f, Accuracy %f", kClass, __func__, latitude, longitude, accuracy);
    geolocation.latitude = latitude;
    geolocation.longitude = longitude;
    geolocation.accuracy = accuracy;
    request.setGeolocationData(geolocation.toJson());

    bool found = false;
    bool policyAnswered = false;
    result = askUserPolicy(request, userName, found, policyAnswered);

    if (found && result.getResultCode() == KV_ERROR_USER_NOT_FOUND) {
      // The name is a stored user's login or e-mail. The service may know that user by the
      // stored login only (an e-mail changed at the service): it is asked again under it, and
      // the user counts as gone only when it does not know the stored login either.
      std::string storedLogin;
      {
        auto lock = lockState();
        const int index = config_.getUserIndex(userName);
        if (index >= 0) storedLogin = config_.getUserConfig(static_cast<std::size_t>(index)).getUserLogin();
      }
      if (!storedLogin.empty() && storedLogin != userName) {
        KV_LOG_INFO("%s::%s - %s unknown to the service; asking for the stored login %s", kClass, __func__,
                    userName.c_str(), storedLogin.c_str());
        bool storedFound = false;
        result = askUserPolicy(request, storedLogin, storedFound, policyAnswered);
        if (result.getResultCode() != KV_ERROR_USER_NOT_FOUND) {
          userName = storedLogin;
          found = storedFound;
        }
      }
    }

    const bool reachable = isServerReachable(result.getResultCode());
    if (!reachable) {
      validateBypassWithNoInternet(found, userName, result);
    } else if (found && result.getResultCode() == KV_ERROR_USER_NOT_FOUND) {
      removeDeletedUser(userName);
    }

    // The marks follow the service's verdict, and only a verdict: a reply that said nothing
    // must not unblock a user for the next offline sign-in.
    if (isServerReachable(result.getResultCode())) {
      auto lock = lockState();
      syncLogonAppDisable();
      const int index = config_.getUserIndex(userName);
      if (index >= 0 && policyAnswered) {
        std::vector<Model::UserConfig> users = config_.getUsersConfig();
        Model::UserConfig& user = users.at(static_cast<std::size_t>(index));
        const std::uint16_t code = result.getResultCode();
        const bool blocked = code == KV_ERROR_USER_IS_BLOCKED;
        const bool overAllocated = code == KV_ERROR_USER_IS_OVERALLOCATED;
        const bool quarantine = code == KV_ERROR_USER_IS_IN_QUARANTINE;
        if (user.isBlocked() != blocked || user.isOverAllocated() != overAllocated || user.isQuarantine() != quarantine) {
          user.setBlocked(blocked);
          user.setOverAllocated(overAllocated);
          user.setQuarantine(quarantine);
          const std::uint16_t stored = config_.setUsersConfig(users);
          const std::uint16_t saved = stored == KV_SUCCESS ? config_.writeFile() : stored;
          KV_LOG_DEBUG("%s::%s - user state stored: %d", kClass, __func__, saved);
        }
      } else if (index >= 0) {
        KV_LOG_INFO("%s::%s - no verdict on the user (%d): stored state kept", kClass, __func__, result.getResultCode());
      }
    }
  } catch (const std::exception& e) {
    logServiceException(kClass, __func__, &e);
    result = Model::KvResult(KV_ERROR_FAIL_REQUEST_GET_USER_POLICY);
  }
  KV_LOG_DEBUG("%s::%s - result %d", kClass, __func__, result.getResultCode());
  return result;
}

void KvService::validateBypassWithNoInternet(bool found, const std::string& userName, Model::KvResult& result) {
  KV_TRACE_SCOPE("Korvath::Service::KvService::validateBypassWithNoInternet");
  auto lock = lockState();
  const std::uint16_t disabled = syncLogonAppDisable();
  if (disabled != 0) {
    result.setResultCode(disabled);
  } else if (!found) {
    if (config_.shouldBypassMfaForNonPelloraUser(userName, false)) {
      KV_LOG_INFO("%s::%s The user is trying to login without an Internet connection and is in the whitelist!", kClass,
                  __func__);
      result.setResultCode(KV_ERROR_BYPASS_UNKNOWN_USER);
    } else {
      KV_LOG_INFO("%s::%s The user is trying to do the first login without an Internet connection!", kClass, __func__);
      result.setResultCode(KV_ERROR_FIRST_LOGIN_OFFLINE);
    }
  }
}

void KvService::removeDeletedUser(const std::string& userName) {
  auto lock = lockState();
  if (config_.getUserIndex(userName) < 0) return;
  const std::uint16_t saved = config_.removeDeletedUserFromPellora(userName);
  KV_LOG_INFO("user %s removed from local machine", userName.c_str());
  if (saved == KV_SUCCESS) {
    KV_LOG_INFO("config file saved");
  } else {
    KV_LOG_ERROR("%s::%s - config file not saved: %d", kClass, __func__, saved);
  }
}

void KvService::validateBypassWithInternet(const std::string& userName, Model::KvResult& result) {
  KV_TRACE_SCOPE("Korvath::Service::KvService::validateBypassWithInternet");
  auto lock = lockState();
  if (config_.shouldBypassMfaForNonPelloraUser(userName, true)) {
    result.setResultCode(KV_ERROR_BYPASS_UNKNOWN_USER);
  }
}

Model::KvResult KvService::updateOfflineUserPolicy(const std::string& userName) {
  KV_TRACE_SCOPE("Korvath::Service::KvService::updateOfflineUserPolicy");
  Model::KvResult result(KV_SUCCESS);
  try {
    bool found = false;
    result = findOrSyncUser(userName, found);

    if (result.getResultCode() == KV_SUCCESS) {
      Model::RequestGetUserPolicyOffline request;
      if (found) {
        auto lock = lockState();
        request.setAccountId(config_.getAccountId());
        request.setMachineName(config_.getMachineName());
        request.setResourceId(config_.getResourceIdText());
        request.setPlatform(config_.getPlatform());
        request.setUserLogin(userName);
      }
      result = kvBusiness_.postUserPolicyOffline(request);
    }

    if (found) {
      ServiceResponseBase response;
      loadUserConfig(userName, response);
      if (!response.getPolicyAllowsAuthentication()) result.setResultCode(KV_ERROR_USER_IS_NOT_ALLOWED_TO_AUTHENTICATE);
    }
  } catch (const std::exception& e) {
    logServiceException(kClass, __func__, &e);
    result = Model::KvResult(KV_ERROR_FAIL_REQUEST_GET_USER_POLICY);
  }
  KV_LOG_DEBUG("%s::%s - result %d", kClass, __func__, result.getResultCode());
  return result;
}

Model::KvResult KvService::getUserStatus(std::string& userName) {
  KV_TRACE_SCOPE("Korvath::Service::KvService::getUserStatus");
  Model::KvResult result(KV_ERROR_USER_NOT_FOUND);
  try {
    auto lock = lockState();
    int index = config_.getUserIndex(userName);
    const std::size_t at = userName.find('@');
    if (index < 0 && at != std::string::npos) {
      KV_LOG_DEBUG("%s::%s - Updating username %s", kClass, __func__, userName.c_str());
      userName = userName.substr(0, at);
      KV_LOG_DEBUG("%s::%s - Updated username %s", kClass, __func__, userName.c_str());
      index = config_.getUserIndex(userName);
    }
    if (index >= 0) {
      const Model::UserConfig user = config_.getUserConfig(static_cast<std::size_t>(index));
      std::uint16_t code = KV_SUCCESS;
      if (user.isBlocked()) {
        code = KV_ERROR_USER_IS_BLOCKED;
      } else if (user.isOverAllocated()) {
        code = KV_ERROR_USER_IS_OVERALLOCATED;
      } else if (user.isQuarantine()) {
        code = KV_ERROR_USER_IS_IN_QUARANTINE;
      } else if (!user.getHasPolicy()) {
        code = KV_ERROR_USER_HAS_NO_POLICY;
      } else if (!user.getPolicyAllowsAuthentication()) {
        code = KV_ERROR_POLICY_DOES_NOT_ALLOW_AUTHENTICATIONS;
      }
      result = Model::KvResult(code);
    }
  } catch (const std::exception& e) {
    logServiceException(kClass, __func__, &e);
    result = Model::KvResult(KV_ERROR_FAIL_REQUEST_GET_USER_POLICY);
  }
  KV_LOG_DEBUG("%s::%s - result %d", kClass, __func__, result.getResultCode());
  return result;
}

}  // namespace Service
}  // namespace Korvath
