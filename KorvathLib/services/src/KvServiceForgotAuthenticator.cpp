// "Forgot token" mode at the service level: the screen decision, the activation checks and
// the sign-in while a forgot-token period is running.

#include "Korvath/Service/KvServiceForgotAuthenticator.h"

#include <exception>
#include <limits>
#include <stdexcept>
#include <vector>

#include "Korvath/Business/OfflineAttempt.h"
#include "Korvath/Logger.h"
#include "Korvath/Platform.h"
#include "Korvath/ResultCodes.h"
#include "ServiceLog.h"

namespace Korvath {
namespace Service {

namespace {

const char* const kClass = "Korvath::Service::KvServiceForgotAuthenticator";
constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
// One hour in FILETIME units (100 ns).
constexpr std::uint64_t kFileTimeHour = 36000000000ull;
// Milliseconds from 1601-01-01 to 1970-01-01, and FILETIME units per millisecond and second.
constexpr std::uint64_t kUnixEpochOffsetMs = 11644473600000ull;
constexpr std::uint64_t kFileTimePerMs = 10000ull;
constexpr std::uint64_t kFileTimePerSecond = 10000000ull;
// Keeps the configuration's own autoSendPush when a user is added.
constexpr std::int32_t kKeepAutoSendPush = -1;

void logException(const char* function, const std::exception* e) { logServiceException(kClass, function, e); }

void logOutcome(const char* function, std::uint16_t responseType, const std::string& response, std::uint16_t code) {
  // The logger masks the password members of the response text.
  KV_LOG_DEBUG("%s::%s - responseType: %d, response: %s", kClass, function, static_cast<int>(responseType),
               response.c_str());
  KV_LOG_INFO("%s::%s - result: %d - %s", kClass, function, static_cast<int>(code), getResultText(code).c_str());
}

void logRequest(const char* function, const ServiceRequestBase& request) {
  KV_LOG_DEBUG("%s::%s - userLogin: %s, checkRememberPassword: %d", kClass, function, request.getUserLogin().c_str(),
               request.getCheckRememberPassword() ? 1 : 0);
}

void logRequest(const char* function, const ServiceRequestActiveForgotAuthenticator& request) {
  logRequest(function, static_cast<const ServiceRequestBase&>(request));
  // The verification code is a secret: only its length is logged.
  KV_LOG_DEBUG("%s::%s - time: %u, challenge: %s, authData length: %u", kClass, function,
               static_cast<unsigned>(request.getTime()), request.getChallenge().c_str(),
               static_cast<unsigned>(request.getAuthData().size()));
}

// The code of a step that answered the screen: its own failure, else the operation's code.
std::uint16_t codeUnlessFailed(std::uint16_t stepCode, std::uint16_t outcome) {
  return stepCode != KV_SUCCESS ? stepCode : outcome;
}

std::uint64_t saturatingMultiply(std::uint64_t value, std::uint64_t factor) {
  return (factor != 0 && value > kMax / factor) ? kMax : value * factor;
}

std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b) { return a > kMax - b ? kMax : a + b; }

// lastSync + interval hours, held at the end of the range: an interval too large to add means
// "not due", never a wrapped sum that would make every screen synchronize.
bool isSyncDue(std::uint64_t now, std::uint64_t lastSync, std::uint64_t syncIntervalHours) {
  return now > saturatingAdd(lastSync, saturatingMultiply(syncIntervalHours, kFileTimeHour));
}

// The stored record of a login, copied under the state mutex: index -1 when not stored.
struct StoredUser {
  int index = -1;
  Model::UserConfig user;
  Model::UserConfig& record() { return user; }
};

StoredUser lookUp(KvService& service, const std::string& login) {
  auto lock = service.lockState();
  StoredUser stored;
  stored.index = service.getConfig().getUserIndex(login);
  if (stored.index >= 0) stored.user = service.getConfig().getUserConfig(static_cast<std::size_t>(stored.index));
  return stored;
}

// The stored record of a login as a pass decision needs it (the caller holds the state lock):
// read again from the file, with the latest time any process stored, then put through the
// clock guard, which ends every pass when the clock was set back. `refused` tells whether no
// pass may be honoured now: the clock was set back, or the record could not be read again.
StoredUser passRecord(KvService& service, const std::string& login, bool& refused) {
  refused = false;
  StoredUser stored = lookUp(service, login);
  if (stored.index < 0) return stored;
  Config& config = service.getConfig();
  const std::uint16_t reloaded = config.reloadUser(static_cast<std::size_t>(stored.index));
  refused = service.getKvBusiness().endPassesIfClockSetBack() || reloaded != KV_SUCCESS;
  stored.user = config.getUserConfig(static_cast<std::size_t>(stored.index));
  return stored;
}

ServerConfig serverConfigOf(KvService& service) {
  auto lock = service.lockState();
  return service.getConfig().getServerConfig();
}

}  // namespace

KvServiceForgotAuthenticator::KvServiceForgotAuthenticator(KvService* service) : service_(service) {
  KV_TRACE_SCOPE("Korvath::Service::KvServiceForgotAuthenticator::KvServiceForgotAuthenticator");
  logBuild(kClass);
  if (service_ != nullptr) {
    businessForgot_.reset(new Business::KvBusinessForgotAuthenticator(&service_->getConfig(), &service_->getKvCrypto(),
                                                                      &service_->getKvBusiness()));
  }
}

KvServiceForgotAuthenticator::~KvServiceForgotAuthenticator() = default;

std::uint64_t KvServiceForgotAuthenticator::effectiveExpiry(const Model::UserConfig& user,
                                                            std::int64_t timeDifferenceSeconds) {
  const std::uint64_t serviceExpiryMs = user.getAuthenticatorForgottenExpiryTimestamp();
  // The service's expiry wins whenever it has set one, even over a later local period.
  if (serviceExpiryMs == 0) return user.getFallbackExpiration();
  std::uint64_t expiry = saturatingMultiply(saturatingAdd(serviceExpiryMs, kUnixEpochOffsetMs), kFileTimePerMs);
  if (timeDifferenceSeconds > 0) {
    // The service's clock runs ahead: its expiry comes that much earlier on the local clock.
    const std::uint64_t ahead =
        saturatingMultiply(static_cast<std::uint64_t>(timeDifferenceSeconds), kFileTimePerSecond);
    expiry = expiry > ahead ? expiry - ahead : 0;
  } else if (timeDifferenceSeconds < 0) {
    const std::uint64_t behind =
        saturatingMultiply(static_cast<std::uint64_t>(-(timeDifferenceSeconds + 1)) + 1, kFileTimePerSecond);
    expiry = saturatingAdd(expiry, behind);
  }
  return expiry;
}

std::uint64_t KvServiceForgotAuthenticator::honouredExpiry(const Model::UserConfig& user,
                                                           std::int64_t timeDifferenceSeconds,
                                                           std::uint64_t nowFileTime) {
  // Within the guard's tolerance the clock may read a little behind the latest time stored,
  // but never earlier than the grant.
  if (nowFileTime < user.getForgotTokenGrantedAt()) return 0;
  return effectiveExpiry(user, timeDifferenceSeconds);
}

// ---------------------------------------------------------------------------- screen

std::uint16_t KvServiceForgotAuthenticator::getForgotAuthenticatorScreen(ServiceRequestBase request,
                                                                         std::uint16_t& responseType,
                                                                         std::string& response,
                                                                         std::atomic<bool>* internetStatus) {
  KV_TRACE_SCOPE("Korvath::Service::KvServiceForgotAuthenticator::getForgotAuthenticatorScreen");
  logRequest(__func__, request);
  responseType = Business::RESPONSE_TYPE_FORGOT_ACTIVATION;
  std::uint16_t result = KV_ERROR_FAIL_SERVICE_FORGOT_AUTHENTICATOR_ACTIVE_KORVATH;
  try {
    if (!businessForgot_) throw std::logic_error("no service");
    Business::KvBusiness& business = service_->getKvBusiness();
    std::string lastAuthType = Business::AUTH_FACTOR_PUSH;
    const Model::AuthFactorMap defaults = business.getDefaultAuthFactors();
    const std::string login = request.getUserLogin();
    const std::string password = request.getUserPassword();
    const bool remember = request.getCheckRememberPassword();

    const ServerConfig serverConfig = serverConfigOf(*service_);
    if (serverConfig.getEnableForgotAuthenticator() == 0) {
      // The normal screen may need a QR command from the service: no lock around it.
      const std::uint16_t code = businessForgot_->loadUser(login, responseType, response);
      result = codeUnlessFailed(code, KV_ERROR_UNAUTHORIZED_AUTHENTICATION_TYPE);
    } else if (login.empty()) {
      auto lock = service_->lockState();
      const std::uint16_t code = businessForgot_->genResponseActiveForgotAuthenticator(
          login, password, remember, lastAuthType, defaults, responseType, response);
      result = codeUnlessFailed(code, KV_ERROR_INVALID_USER_LOGIN_LENGTH);
    } else {
      StoredUser stored = lookUp(*service_, login);
      if (stored.index < 0) {
        const Model::KvResult added =
            business.updateConfigAddUser(login, password, remember, Business::AUTH_FACTOR_PUSH, kKeepAutoSendPush);
        KV_LOG_DEBUG("%s::%s - updateConfigAddUser: %d", kClass, __func__, static_cast<int>(added.getResultCode()));
      } else {
        std::uint64_t lastSync;
        {
          auto lock = service_->lockState();
          lastSync = service_->getConfig().getLastSync();
        }
        const std::uint64_t now = Platform::clock().nowFileTime();
        if (isSyncDue(now, lastSync, serverConfig.getSyncInterval()) && internetStatus != nullptr &&
            internetStatus->load()) {
          const Model::KvResult synced = business.updateConfig(std::string());
          KV_LOG_DEBUG("%s::%s - updateConfig: %d", kClass, __func__, static_cast<int>(synced.getResultCode()));
          internetStatus->store(isServerReachable(synced.getResultCode()));
        }
      }

      auto lock = service_->lockState();
      bool setBack = false;
      stored = passRecord(*service_, login, setBack);
      if (stored.index < 0) {
        // The normal screen may need a QR command from the service: no lock around it.
        lock.unlock();
        const std::uint16_t code = businessForgot_->loadUser(login, responseType, response);
        result = codeUnlessFailed(code, KV_ERROR_USER_NOT_FOUND_IN_CONFIG_FILE);
      } else {
        const Model::UserConfig& user = stored.record();
        lastAuthType = business.getInitialAuthFactor(user);
        // The synchronization may have brought a new expiry or time difference.
        const std::uint64_t now = Platform::clock().nowFileTime();
        const std::uint64_t expiry =
            setBack ? 0 : honouredExpiry(user, service_->getConfig().getServerConfig().getTimeDifference(), now);
        if (now > expiry) {
          result = businessForgot_->genResponseActiveForgotAuthenticator(login, password, remember, lastAuthType,
                                                                         defaults, responseType, response);
        } else {
          result = businessForgot_->genResponseAuthForgotAuthenticator(login, password, remember, lastAuthType,
                                                                       defaults, responseType, response);
        }
      }
    }
  } catch (const std::exception& e) {
    logException(__func__, &e);
    result = KV_ERROR_FAIL_SERVICE_FORGOT_AUTHENTICATOR_ACTIVE_KORVATH;
  } catch (...) {
    logException(__func__, nullptr);
    result = KV_ERROR_FAIL_SERVICE_FORGOT_AUTHENTICATOR_ACTIVE_KORVATH;
  }
  logOutcome(__func__, responseType, response, result);
  return result;
}

// ---------------------------------------------------------------------------- activation

Model::KvResult KvServiceForgotAuthenticator::checkActiveForgotAuthenticatorOnline(
    ServiceRequestActiveForgotAuthenticator request, std::uint16_t& responseType, std::string& response) {
  KV_TRACE_SCOPE("Korvath::Service::KvServiceForgotAuthenticator::checkActiveForgotAuthenticatorOnline");
  logRequest(__func__, request);
  responseType = Business::RESPONSE_TYPE_FORGOT_ACTIVATION;
  Model::KvResult result(KV_ERROR_FAIL_SERVICE_FORGOT_AUTHENTICATOR_ACTIVE_KORVATH, 0, std::string());
  try {
    if (!businessForgot_) throw std::logic_error("no service");
    std::string lastAuthType = Business::AUTH_FACTOR_PUSH;
    const Model::KvResult gate = service_->checkLogonAppDisabled();
    if (gate.getResultCode() != KV_SUCCESS) {
      logOutcome(__func__, responseType, response, gate.getResultCode());
      return gate;
    }
    Business::KvBusiness& business = service_->getKvBusiness();
    const Model::AuthFactorMap defaults = business.getDefaultAuthFactors();
    const std::string login = request.getUserLogin();
    const std::string password = request.getUserPassword();
    const bool remember = request.getCheckRememberPassword();

    StoredUser stored;
    if (!login.empty()) stored = lookUp(*service_, login);
    if (serverConfigOf(*service_).getEnableForgotAuthenticator() == 0) {
      const std::uint16_t code = businessForgot_->loadUser(login, responseType, response);
      KV_LOG_DEBUG("%s::%s - loadUser: %d", kClass, __func__, static_cast<int>(code));
      result = Model::KvResult(KV_ERROR_UNAUTHORIZED_AUTHENTICATION_TYPE, 0, std::string());
    } else if (login.empty()) {
      auto lock = service_->lockState();
      const std::uint16_t code = businessForgot_->genResponseActiveForgotAuthenticator(
          login, password, remember, lastAuthType, defaults, responseType, response);
      KV_LOG_DEBUG("%s::%s - activation screen: %d", kClass, __func__, static_cast<int>(code));
      result = Model::KvResult(KV_ERROR_INVALID_USER_LOGIN_LENGTH, 0, std::string());
    } else if (stored.index < 0) {
      const std::uint16_t code = businessForgot_->loadUser(login, responseType, response);
      KV_LOG_DEBUG("%s::%s - loadUser: %d", kClass, __func__, static_cast<int>(code));
      result = Model::KvResult(KV_ERROR_USER_NOT_FOUND_IN_CONFIG_FILE, 0, std::string());
    } else {
      const Model::UserConfig& user = stored.record();
      lastAuthType = business.getInitialAuthFactor(user);
      const std::int32_t hours = static_cast<std::int32_t>(request.getTime());
      result = businessForgot_->onlineAuthenticateActiveForgotAuthenticator(login, hours, request.getChallenge(),
                                                                            request.getAuthData());
      if (result.getResultCode() == KV_SUCCESS) {
        const Model::KvResult recorded =
            businessForgot_->updateConfigUserForgotAuthenticator(login, hours, lastAuthType);
        KV_LOG_DEBUG("%s::%s - updateConfigUserForgotAuthenticator: %d", kClass, __func__,
                     static_cast<int>(recorded.getResultCode()));
        responseType = Business::RESPONSE_TYPE_STORED;
        response.clear();
      } else {
        if (result.getResultCode() == KV_ERROR_SERVER_IS_UNREACHABLE) {
          KV_LOG_INFO("%s::%s ERROR_SERVER_IS_UNREACHABLE ", kClass, __func__);
        }
        auto lock = service_->lockState();
        const std::uint16_t code = businessForgot_->genResponseActiveForgotAuthenticator(
            login, password, remember, lastAuthType, user.getAuthTypes(), responseType, response);
        KV_LOG_DEBUG("%s::%s - activation screen: %d", kClass, __func__, static_cast<int>(code));
      }
    }
  } catch (const std::exception& e) {
    logException(__func__, &e);
    result = Model::KvResult(KV_ERROR_FAIL_SERVICE_FORGOT_AUTHENTICATOR_ACTIVE_KORVATH, 0, std::string());
  } catch (...) {
    logException(__func__, nullptr);
    result = Model::KvResult(KV_ERROR_FAIL_SERVICE_FORGOT_AUTHENTICATOR_ACTIVE_KORVATH, 0, std::string());
  }
  logOutcome(__func__, responseType, response, result.getResultCode());
  return result;
}

std::uint16_t KvServiceForgotAuthenticator::checkActiveForgotAuthenticatorOffline(
    ServiceRequestActiveForgotAuthenticator request, std::uint16_t& responseType, std::string& response) {
  KV_TRACE_SCOPE("Korvath::Service::KvServiceForgotAuthenticator::checkActiveForgotAuthenticatorOffline");
  logRequest(__func__, request);
  responseType = Business::RESPONSE_TYPE_FORGOT_ACTIVATION;
  std::uint16_t result = KV_ERROR_FAIL_SERVICE_FORGOT_AUTHENTICATOR_ACTIVE_KORVATH;
  try {
    if (!businessForgot_) throw std::logic_error("no service");
    std::string lastAuthType = Business::AUTH_FACTOR_PUSH;
    const Model::KvResult gate = service_->checkLogonAppDisabled();
    if (gate.getResultCode() != KV_SUCCESS) {
      logOutcome(__func__, responseType, response, gate.getResultCode());
      return gate.getResultCode();
    }
    Business::KvBusiness& business = service_->getKvBusiness();
    const Model::AuthFactorMap defaults = business.getDefaultAuthFactors();
    const std::string login = request.getUserLogin();
    const std::string password = request.getUserPassword();
    const bool remember = request.getCheckRememberPassword();

    const ServerConfig serverConfig = serverConfigOf(*service_);
    StoredUser stored;
    if (!login.empty()) stored = lookUp(*service_, login);
    if (serverConfig.getEnableForgotAuthenticator() == 0) {
      const std::uint16_t code = businessForgot_->loadUser(login, responseType, response);
      result = codeUnlessFailed(code, KV_ERROR_UNAUTHORIZED_AUTHENTICATION_TYPE);
    } else if (serverConfig.getOffline() == 0) {
      const std::uint16_t code = businessForgot_->loadUser(login, responseType, response);
      result = codeUnlessFailed(code, KV_ERROR_OFFLINE_UNAUTHORIZED);
    } else if (login.empty()) {
      auto lock = service_->lockState();
      const std::uint16_t code = businessForgot_->genResponseActiveForgotAuthenticator(
          login, password, remember, lastAuthType, defaults, responseType, response);
      result = codeUnlessFailed(code, KV_ERROR_INVALID_USER_LOGIN_LENGTH);
    } else if (stored.index < 0) {
      const std::uint16_t code = businessForgot_->loadUser(login, responseType, response);
      result = codeUnlessFailed(code, KV_ERROR_USER_NOT_FOUND_IN_CONFIG_FILE);
    } else {
      const std::uint16_t userIndex = static_cast<std::uint16_t>(stored.index);
      lastAuthType = business.getInitialAuthFactor(stored.record());
      // Everything from here is memory and the configuration file: one lock throughout.
      auto lock = service_->lockState();
      service_->syncLogonAppDisable();
      // Wrong codes are counted in the user's record, and the count is on disk before the
      // code is checked: a blocked user's code is not checked at all, not even the right one.
      // A refused activation ends any local period still running for the user.
      auto saveRefusal = [&](Model::UserConfig& record) {
        return business.saveConfigUserByUserConfig(record, userIndex, password, remember, lastAuthType, true);
      };
      auto saveActivation = [&](Model::UserConfig& record) {
        return businessForgot_->saveConfigUserForgotAuthenticatorByUserConfig(
            record, userIndex, static_cast<std::int32_t>(request.getTime()), lastAuthType, false);
      };
      Business::OfflineAttempt attempt(service_->getConfig(), userIndex);
      const Business::OfflineAttempt::Outcome outcome = attempt.run(
          [&](Model::UserConfig& record) {
            return businessForgot_->countOfflineActivationAttempt(record, request.getChallenge(), request.getAuthData(),
                                                                  Platform::clock().nowFileTime());
          },
          [&](Model::UserConfig& record) {
            return businessForgot_->offlineAuthenticateActiveForgotAuthenticator(
                record, request.getTime(), request.getChallenge(), request.getAuthData());
          },
          saveRefusal, saveActivation);
      KV_LOG_INFO("%s::%s - offline check: %d - %s, saved %d", kClass, __func__, static_cast<int>(outcome.checked),
                  getResultText(outcome.checked).c_str(), static_cast<int>(outcome.saved));
      if (outcome.accepted()) {
        result = KV_SUCCESS;
        responseType = Business::RESPONSE_TYPE_STORED;
        response.clear();
      } else {
        // Without a save the answer does not depend on the code typed: the activation screen
        // with a new activation code.
        const std::uint16_t code = businessForgot_->genResponseActiveForgotAuthenticator(
            login, password, remember, lastAuthType, attempt.record().getAuthTypes(), responseType, response);
        result = codeUnlessFailed(code, outcome.saved != KV_SUCCESS ? outcome.saved : outcome.checked);
      }
    }
  } catch (const std::exception& e) {
    logException(__func__, &e);
    result = KV_ERROR_FAIL_SERVICE_FORGOT_AUTHENTICATOR_ACTIVE_KORVATH;
  } catch (...) {
    logException(__func__, nullptr);
    result = KV_ERROR_FAIL_SERVICE_FORGOT_AUTHENTICATOR_ACTIVE_KORVATH;
  }
  logOutcome(__func__, responseType, response, result);
  return result;
}

// ---------------------------------------------------------------------------- sign-in

std::uint16_t KvServiceForgotAuthenticator::checkForgotAuthenticator(ServiceRequestBase request,
                                                                     std::uint16_t& responseType,
                                                                     std::string& response) {
  KV_TRACE_SCOPE("Korvath::Service::KvServiceForgotAuthenticator::checkForgotAuthenticator");
  logRequest(__func__, request);
  responseType = Business::RESPONSE_TYPE_FORGOT_AUTHENTICATION;
  std::uint16_t result = KV_ERROR_FAIL_SERVICE_FORGOT_AUTHENTICATOR_LOGIN_KORVATH;
  try {
    if (!businessForgot_) throw std::logic_error("no service");
    std::string lastAuthType = Business::AUTH_FACTOR_PUSH;
    const Model::KvResult gate = service_->checkLogonAppDisabled();
    if (gate.getResultCode() != KV_SUCCESS) {
      logOutcome(__func__, responseType, response, gate.getResultCode());
      return gate.getResultCode();
    }
    Business::KvBusiness& business = service_->getKvBusiness();
    const Model::AuthFactorMap defaults = business.getDefaultAuthFactors();
    const std::string login = request.getUserLogin();
    const std::string password = request.getUserPassword();
    const bool remember = request.getCheckRememberPassword();

    auto lock = service_->lockState();
    service_->syncLogonAppDisable();
    if (login.empty()) {
      const std::uint16_t code = businessForgot_->genResponseAuthForgotAuthenticator(
          login, password, remember, lastAuthType, defaults, responseType, response);
      result = codeUnlessFailed(code, KV_ERROR_INVALID_USER_LOGIN_LENGTH);
    } else {
      // Held from the guard to the sign-in's save: no other process changes the record between.
      Config::FileHold hold;
      bool setBack = false;
      StoredUser stored = passRecord(*service_, login, setBack);
      const ServerConfig serverConfig = service_->getConfig().getServerConfig();
      const std::uint64_t now = Platform::clock().nowFileTime();
      if (stored.index < 0) {
        result = KV_ERROR_USER_NOT_FOUND_IN_CONFIG_FILE;
      } else {
        Model::UserConfig& user = stored.record();
        lastAuthType = business.getInitialAuthFactor(user);
        if (serverConfig.getEnableForgotAuthenticator() == 0) {
          responseType = business.genResponseType(lastAuthType);
          result = KV_ERROR_UNAUTHORIZED_AUTHENTICATION_TYPE;
        } else if (setBack || now > honouredExpiry(user, serverConfig.getTimeDifference(), now)) {
          const std::uint16_t code = businessForgot_->genResponseActiveForgotAuthenticator(
              login, password, remember, lastAuthType, user.getAuthTypes(), responseType, response);
          result = codeUnlessFailed(code, KV_ERROR_FORGOT_TOKEN_EXPIRATED);
        } else {
          // The period is running: the first factor alone lets the user in. The record is
          // updated as after any sign-in (no remembered password kept).
          const std::uint16_t saved = business.saveConfigUserByUserConfig(
              user, static_cast<std::uint16_t>(stored.index), password, false, lastAuthType, false);
          KV_LOG_DEBUG("%s::%s - saveConfigUserByUserConfig: %d", kClass, __func__, static_cast<int>(saved));
          result = KV_SUCCESS;
        }
      }
    }
  } catch (const std::exception& e) {
    logException(__func__, &e);
    result = KV_ERROR_FAIL_SERVICE_FORGOT_AUTHENTICATOR_LOGIN_KORVATH;
  } catch (...) {
    logException(__func__, nullptr);
    result = KV_ERROR_FAIL_SERVICE_FORGOT_AUTHENTICATOR_LOGIN_KORVATH;
  }
  logOutcome(__func__, responseType, response, result);
  return result;
}

}  // namespace Service
}  // namespace Korvath
