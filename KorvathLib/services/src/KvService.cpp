#include "Korvath/Service/KvService.h"

#include "Korvath/ResultCodes.h"

namespace Korvath {
namespace Service {

std::string getBuildConfiguration() { return "Release"; }

KvService::KvService()
    : kvCrypto_(), config_(&kvCrypto_), kvBusiness_(), stateMutex_(std::make_shared<StateMutex>()) {
  authFactors_ = {{"push", false}, {"qrcode", false}, {"otp", false}};
}

KvService::KvService(const KvService& other) : stateMutex_(other.stateMutex_) {
  if (this != &other) {
    kvCrypto_ = other.kvCrypto_;
    config_ = other.config_;
    kvBusiness_ = other.kvBusiness_;
    clientIpAddress_ = other.clientIpAddress_;
  }
}

KvService::~KvService() {}

void KvService::waitForFuture(std::future<Model::KvResult>&) {}

Model::KvResult KvService::registerAgent() { return Model::KvResult(KV_ERROR_FAIL_SERVICE_INITIAL_KORVATH); }

Model::KvResult KvService::initialize(std::uint16_t& responseType, std::string& response) {
  responseType = 0;
  response.clear();
  return Model::KvResult(KV_ERROR_FAIL_SERVICE_INITIAL_KORVATH);
}

std::uint16_t KvService::loadUserConfig(const std::string&, ServiceResponseBase&) {
  return KV_ERROR_FAIL_SERVICE_INITIAL_KORVATH;
}

void KvService::getUserAuthFactors(const std::string&, Model::AuthFactorMap&, std::string&, bool) {}

Model::AuthFactorMap KvService::getAuthFactors() const {
  auto lock = lockState();
  return authFactors_;
}

int KvService::getPelloraUsernameFromConfigFile(std::string&) { return 0; }

void KvService::eraseFutureTaskByIndex(std::uint8_t& taskIndex) { taskIndex = kNoTaskIndex; }

Model::KvResult KvService::checkLogonAppDisabled() { return Model::KvResult(KV_ERROR_FAIL_SERVICE_INITIAL_KORVATH); }

}  // namespace Service
}  // namespace Korvath
