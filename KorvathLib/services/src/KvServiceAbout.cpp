#include "Korvath/Service/KvServiceAbout.h"

#include <exception>
#include <mutex>
#include <stdexcept>

#include "Korvath/Logger.h"
#include "Korvath/ResultCodes.h"
#include "ServiceLog.h"

namespace Korvath {
namespace Service {

namespace {
const char* const kClass = "Korvath::Service::KvServiceAbout";
}  // namespace

KvServiceAbout::KvServiceAbout(KvService* service)
    : config_(service != nullptr ? &service->getConfig() : nullptr),
      stateMutex_(service != nullptr ? service->stateMutex() : nullptr) {
  KV_TRACE_SCOPE("Korvath::Service::KvServiceAbout::KvServiceAbout");
  logBuild(kClass);
}

std::uint16_t KvServiceAbout::about(ServiceResponseAbout& response) {
  KV_TRACE_SCOPE("Korvath::Service::KvServiceAbout::about");
  std::uint16_t code = KV_ERROR_FAIL_SERVICE_ABOUT_KORVATH;
  try {
    if (config_ == nullptr || !stateMutex_) throw std::logic_error("no service state");
    std::lock_guard<KvService::StateMutex> lock(*stateMutex_);
    response.region = config_->getRegion();
    response.environment = config_->getEnvironment();
    response.accountAlias = config_->getAccountAlias();
    response.resourceAlias = config_->getResourceAlias();
    response.machineName = config_->getMachineName();

    std::string version = kClientVersion;
    if (response.environment != "prod") {
      version += " - " + getBuildConfiguration() + " - " + kBuildPlatform;
    }
    response.latestVersionKorvath = version;

    const ServerConfig server = config_->getServerConfig();
    response.supportMessage = server.getSupportMessage();
    response.pushTimeout = server.getPushTimeout();
    response.syncInterval = static_cast<std::int64_t>(server.getSyncInterval());
    response.offlineAuthentication = server.getOffline() != 0;
    response.enableRememberPassword = server.getEnableRememberPassword() != 0;
    response.enableForgotAuthenticator = server.getEnableForgotAuthenticator() != 0;
    response.timeDifference = server.getTimeDifference();
    code = KV_SUCCESS;
  } catch (const std::exception& e) {
    logServiceException(kClass, __func__, &e);
    code = KV_ERROR_FAIL_SERVICE_ABOUT_KORVATH;
  } catch (...) {
    logServiceException(kClass, __func__, nullptr);
    code = KV_ERROR_FAIL_SERVICE_ABOUT_KORVATH;
  }
  return code;
}

}  // namespace Service
}  // namespace Korvath
