#include "Korvath/ResultCodes.h"
#include "Korvath/Service/KvService.h"

namespace Korvath {
namespace Service {

Model::KvResult KvService::updateUserPolicies(std::string&, bool) {
  return Model::KvResult(KV_ERROR_FAIL_SERVICE_INITIAL_KORVATH);
}
Model::KvResult KvService::getUserStatus(std::string&) { return Model::KvResult(KV_ERROR_FAIL_SERVICE_INITIAL_KORVATH); }
Model::KvResult KvService::updateOnlineUserPolicy(const std::string&, bool) {
  return Model::KvResult(KV_ERROR_FAIL_SERVICE_INITIAL_KORVATH);
}
Model::KvResult KvService::updateOfflineUserPolicy(const std::string&) {
  return Model::KvResult(KV_ERROR_FAIL_SERVICE_INITIAL_KORVATH);
}
void KvService::validateBypassWithNoInternet(bool, const std::string&, Model::KvResult&) {}
void KvService::validateBypassWithInternet(bool, const std::string&, bool, Model::KvResult&) {}

}  // namespace Service
}  // namespace Korvath
