#include "Korvath/Service/KvService.h"

#include <exception>
#include <limits>
#include <utility>

#include "Korvath/InstallConfig.h"
#include "Korvath/Logger.h"
#include "Korvath/PasswordHash.h"
#include "Korvath/Platform.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/Timer.h"
#include "Korvath/WindowsFacts.h"
#include "ServiceLog.h"

namespace Korvath {
namespace Service {

namespace {

const char* const kClass = "Korvath::Service::KvService";

// One hour in FILETIME units (100 ns).
constexpr std::uint64_t kFileTimeHour = 36000000000ull;
// The first registration is tried again for this long after a connectivity failure.
constexpr std::int64_t kRegistrationWaitMs = 10000;
constexpr std::int64_t kRegistrationStepMs = 1000;

bool factorOn(const Model::AuthFactorMap& factors, const std::string& factor) {
  auto it = factors.find(factor);
  return it != factors.end() && it->second;
}

bool isRegistrationRetryable(std::uint16_t code) {
  return code == KV_ERROR_SERVER_IS_UNREACHABLE || code == KV_ERROR_NO_INTERNET_ACCESS;
}

// lastSync + hours, saturating: a huge interval from the service means "not yet", never a
// wrapped sum that would make every start-up synchronize.
std::uint64_t syncDueAfter(std::uint64_t lastSync, std::uint64_t hours) {
  const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  if (hours != 0 && hours > max / kFileTimeHour) return max;
  const std::uint64_t span = hours * kFileTimeHour;
  return lastSync > max - span ? max : lastSync + span;
}

}  // namespace

std::string getBuildConfiguration() { return "Release"; }

void logBuild(const char* className) {
  KV_LOG_DEBUG("%s - BuildConfiguration: %s", className, getBuildConfiguration().c_str());
  KV_LOG_DEBUG("%s - BuildPlataform: %s", className, kBuildPlatform);
}

void logServiceException(const char* className, const char* function, const std::exception* e) {
  const char* text = (e != nullptr && e->what() != nullptr && e->what()[0] != '\0') ? e->what() : "Unknown exception";
  KV_LOG_ERROR("%s::%s - exception - e.what(): %s", className, function, text);
}

// ---------------------------------------------------------------------------- construction

KvService::KvService()
    : stateMutex_(std::make_shared<StateMutex>()), logonDisable_(std::make_shared<SharedLogonDisable>()) {
  KV_TRACE_SCOPE("Korvath::Service::KvService::KvService");
  logBuild(kClass);
  kvCrypto_ = KvCrypto();
  config_ = Config(&kvCrypto_);
  authFactors_ = {
      {Business::AUTH_FACTOR_PUSH, false}, {Business::AUTH_FACTOR_QRCODE, false}, {Business::AUTH_FACTOR_OTP, false}};
}

KvService::KvService(const KvService& other) : stateMutex_(other.stateMutex_), logonDisable_(other.logonDisable_) {
  KV_TRACE_SCOPE("Korvath::Service::KvService::KvService(copy)");
  logBuild(kClass);
  if (this != &other) {
    // The source may be in use by a push task of its own; read it under the shared lock.
    auto lock = other.lockState();
    kvCrypto_ = other.kvCrypto_;
    config_ = other.config_;
    kvBusiness_ = other.kvBusiness_;
    clientIpAddress_ = other.clientIpAddress_;
    logonDisableSeen_ = other.logonDisableSeen_;
    logonDisableVersionSeen_ = other.logonDisableVersionSeen_;
  }
}

KvService::~KvService() {
  KV_TRACE_SCOPE("Korvath::Service::KvService::~KvService");
  // Copies of this service work on its Config and KvCrypto: they must all have ended
  // before the members go. Waiting without the state lock, which the tasks need.
  for (auto& future : futures_) waitForFuture(future);
}

void KvService::waitForFuture(std::shared_future<Model::KvResult>& future) {
  try {
    if (future.valid() && future.wait_for(std::chrono::seconds(0)) != std::future_status::ready) future.wait();
  } catch (const std::future_error& e) {
    KV_LOG_ERROR("%s::%s - Error when waiting for the completion of a future. Error description: %s", kClass, __func__,
                 e.what());
  }
}

// ---------------------------------------------------------------------------- start-up

Model::KvResult KvService::registerAgent(const InstallConfig& install) {
  Utils::Timer timer;
  timer.start(kRegistrationWaitMs, kRegistrationStepMs);
  Model::KvResult result(KV_ERROR_FAIL_SERVICE_INITIAL_KORVATH);
  for (int attempt = 1;; ++attempt) {
    KV_LOG_INFO("%s::%s - Attempt #%d", kClass, __func__, attempt);
    // iniConfig talks to the service: no state lock here; nothing else uses this service
    // before initialize has returned.
    result = kvBusiness_.iniConfig(install.getRegion(), install.getEnvironment(), install.getAccountId(),
                                   install.getResourceId(), install.getIntegrationKey());
    if (!isRegistrationRetryable(result.getResultCode())) break;
    if (timer.isTimeOut()) break;
  }
  return result;
}

Model::KvResult KvService::initialize(std::uint16_t& responseType, std::string& response) {
  KV_TRACE_SCOPE("Korvath::Service::KvService::initialize");
  responseType = Business::RESPONSE_TYPE_NONE;
  response.clear();
  Model::KvResult result(KV_ERROR_FAIL_SERVICE_INITIAL_KORVATH);
  try {
    std::uint16_t code;
    {
      auto lock = lockState();
      kvBusiness_ = Business::KvBusiness(&config_, &kvCrypto_, std::string());
      kvBusiness_.setClientIp(clientIpAddress_);

      code = config_.readFile(std::string());
      KV_LOG_INFO("%s::%s - config.readFile() - result %d", kClass, __func__, code);
      if (code == KV_SUCCESS && config_.wasReadFromBackup()) {
        KV_LOG_ERROR("%s::%s - the configuration file was refused and its backup was read: users saved after the "
                     "backup was made may be missing until the next synchronization",
                     kClass, __func__);
      }
      // A value read from the file is published like one an exchange decided.
      syncLogonAppDisable();
      config_.setMachineName(Utils::getComputerName());
      config_.setPlatform(1);
    }
    result.setResultCode(code);

    if (code == KV_ERROR_CONFIG_FILE_ACCESS_DENIED) {
      KV_LOG_ERROR("%s::%s - the configuration file may not be opened: %d", kClass, __func__, code);
      return result;
    }

    if (code != KV_SUCCESS) {
      InstallConfig install(&kvCrypto_);
      code = install.readFile(std::string());
      result = Model::KvResult(code);
      if (code == KV_SUCCESS) result = registerAgent(install);
      if (result.getResultCode() != KV_SUCCESS) {
        KV_LOG_ERROR("%s::%s - responseType %u, response %s, result %d (%s)", kClass, __func__,
                     static_cast<unsigned>(responseType), response.c_str(), result.getResultCode(),
                     getResultName(result.getResultCode()).c_str());
        return result;
      }
    }

    std::uint64_t now;
    std::uint64_t lastSync;
    std::uint64_t syncInterval;
    {
      auto lock = lockState();
      if (config_.getResourceId() == 0) {
        responseType = Business::RESPONSE_TYPE_NOT_REGISTERED;
        response.clear();
        KV_LOG_INFO("%s::%s - the agent is not registered", kClass, __func__);
        return Model::KvResult(KV_SUCCESS);
      }

      if (!config_.getMasterPassword().empty()) {
        // 100,000 PBKDF2 rounds on LogonUI's thread: only when the password (or the registry
        // value) is not the one the stored mark was made for.
        std::string mark = config_.getMasterPasswordMark();
        bool written = false;
        const bool stored = Utils::storePasswordHashIfChanged(config_.getMasterPassword(), mark, written);
        if (written) {
          KV_LOG_INFO("%s::%s - Was MasterPassword wrote successfully: %s", kClass, __func__, stored ? "Yes." : "No.");
          config_.setMasterPasswordMark(mark);  // saved below
        } else if (stored) {
          KV_LOG_DEBUG("%s::%s - the registry already holds the master password's digest", kClass, __func__);
        } else {
          KV_LOG_INFO("%s::%s - Was MasterPassword wrote successfully: %s", kClass, __func__, "No.");
        }
      }

      config_.removeExtraUsers();
      now = Platform::clock().nowFileTime();
      const bool isTamperDetect = kvBusiness_.timeTamperDetect();
      KV_LOG_INFO("%s::%s - isTamperDetect %s", kClass, __func__, isTamperDetect ? "True" : "False");
      // What start-up changed and the clock guard did not save (a new mark when the clock
      // was set back); nothing is written when the guard's save already holds it.
      const std::uint16_t saved = config_.writeFile();
      if (saved != KV_SUCCESS) KV_LOG_ERROR("%s::%s - configuration not saved: %d", kClass, __func__, saved);
      lastSync = config_.getLastSync();
      syncInterval = config_.getServerConfig().getSyncInterval();
    }

    result = Model::KvResult(KV_SUCCESS);
    if (now > syncDueAfter(lastSync, syncInterval)) {
      KV_LOG_INFO("%s::%s - synchronizing the configuration", kClass, __func__);
      result = kvBusiness_.updateConfig(std::string());
      syncLogonAppDisable();
    }

    responseType = Business::RESPONSE_TYPE_STORED;
    response.clear();
    if (result.getResultCode() == KV_ERROR_KV_RESOURCE_NOT_FOUND) {
      KV_LOG_ERROR("%s::%s - the service no longer knows this agent's resource: %d", kClass, __func__,
                   result.getResultCode());
    } else if (result.getResultCode() != KV_SUCCESS) {
      KV_LOG_ERROR("%s::%s Error on load config file: %d", kClass, __func__, result.getResultCode());
    }
  } catch (const std::exception& e) {
    logServiceException(kClass, __func__, &e);
    result = Model::KvResult(KV_ERROR_FAIL_SERVICE_INITIAL_KORVATH);
  }
  return result;
}

// ---------------------------------------------------------------------------- shared operations

std::uint16_t KvService::loadUserConfig(const std::string& userLogin, ServiceResponseBase& response) {
  KV_TRACE_SCOPE("Korvath::Service::KvService::loadUserConfig");
  std::uint16_t code = KV_ERROR_FAIL_SERVICE_INITIAL_KORVATH;
  try {
    auto lock = lockState();
    code = kvBusiness_.loadUserConfig(userLogin, response);
  } catch (const std::exception& e) {
    logServiceException(kClass, __func__, &e);
    code = KV_ERROR_FAIL_SERVICE_INITIAL_KORVATH;
  }
  return code;
}

void KvService::getUserAuthFactors(const std::string& userLogin, Model::AuthFactorMap& factors,
                                   std::string& lastAuthType, bool online) {
  KV_TRACE_SCOPE("Korvath::Service::KvService::getUserAuthFactors");
  try {
    auto lock = lockState();
    lastAuthType = Business::AUTH_FACTOR_PUSH;
    const int index = config_.getUserIndex(userLogin);
    Model::UserConfig user;
    if (index >= 0) {
      user = config_.getUserConfig(static_cast<std::size_t>(index));
      lastAuthType = user.getLastAuthType();
    }
    if (online) {
      factors = authFactors_;
    } else if (index >= 0) {
      factors = user.getAuthTypes();
    } else {
      factors = kvBusiness_.getDefaultAuthFactors();
    }
    if (lastAuthType.empty() || !factorOn(factors, lastAuthType)) {
      if (factorOn(factors, Business::AUTH_FACTOR_PUSH)) {
        lastAuthType = Business::AUTH_FACTOR_PUSH;
      } else if (factorOn(factors, Business::AUTH_FACTOR_QRCODE)) {
        lastAuthType = Business::AUTH_FACTOR_QRCODE;
      } else {
        lastAuthType = Business::AUTH_FACTOR_OTP;
      }
    }
    KV_LOG_DEBUG("%s::%s - lastAuthType %s", kClass, __func__, lastAuthType.c_str());
  } catch (const std::exception& e) {
    logServiceException(kClass, __func__, &e);
  }
}

Model::AuthFactorMap KvService::getAuthFactors() const {
  auto lock = lockState();
  return authFactors_;
}

int KvService::getPelloraUsernameFromConfigFile(std::string& userLogin) {
  KV_TRACE_SCOPE("Korvath::Service::KvService::getPelloraUsernameFromConfigFile");
  int found = 0;
  try {
    auto lock = lockState();
    int index = config_.getUserIndex(userLogin);
    const std::size_t at = userLogin.find('@');
    const bool mightBeDefaultUpn = at != std::string::npos;
    KV_LOG_DEBUG("%s::%s - userIndex found: %s, mightBeDefaultUpn: %s", kClass, __func__, index >= 0 ? "True" : "False",
                 mightBeDefaultUpn ? "True" : "False");
    std::string answer;
    if (index >= 0) {
      answer = config_.getUserConfig(static_cast<std::size_t>(index)).getUserLogin();
      found = 1;
    } else if (mightBeDefaultUpn) {
      const std::string prefix = userLogin.substr(0, at);
      KV_LOG_DEBUG("%s::%s - Username from UPN: %s", kClass, __func__, prefix.c_str());
      index = config_.getUserIndex(prefix);
      if (index >= 0) {
        answer = config_.getUserConfig(static_cast<std::size_t>(index)).getUserLogin();
        found = 1;
      }
    }
    // An unknown name makes no room in a full list: a stored user is evicted only when a new
    // one is stored (Config::mergeResponseConfig), never for a name the service may not know.
    if (found == 1) userLogin = answer;
  } catch (const std::exception& e) {
    logServiceException(kClass, __func__, &e);
  }
  return found;
}

void KvService::eraseFutureTaskByIndex(std::uint8_t& taskIndex) {
  KV_TRACE_SCOPE("Korvath::Service::KvService::eraseFutureTaskByIndex");
  if (taskIndex == kNoTaskIndex) return;
  if (taskIndex < futures_.size()) {
    auto it = futures_.begin() + taskIndex;
    waitForFuture(*it);
    futures_.erase(it);
  }
  taskIndex = kNoTaskIndex;
}

std::uint16_t KvService::syncLogonAppDisable() {
  auto lock = lockState();
  const std::uint16_t current = config_.getLogonAppDisable();
  if (current != logonDisableSeen_) {
    logonDisable_->value = current;
    ++logonDisable_->version;
  } else if (logonDisableVersionSeen_ != logonDisable_->version) {
    config_.setLogonAppDisable(logonDisable_->value);
  }
  logonDisableSeen_ = config_.getLogonAppDisable();
  logonDisableVersionSeen_ = logonDisable_->version;
  return logonDisableSeen_;
}

Model::KvResult KvService::checkLogonAppDisabled() {
  const std::uint16_t value = syncLogonAppDisable();
  KV_LOG_DEBUG("%s::%s - LogonAppDisable %d ", kClass, __func__, value);
  return Model::KvResult(value, 0, std::string());
}

}  // namespace Service
}  // namespace Korvath
