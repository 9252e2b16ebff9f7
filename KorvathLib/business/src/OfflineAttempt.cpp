#include "Korvath/Business/OfflineAttempt.h"

#include "Korvath/Logger.h"
#include "Korvath/ResultCodes.h"

namespace Korvath {
namespace Business {

namespace {
const char* const kClass = "Korvath::Business::OfflineAttempt";
}

OfflineAttempt::OfflineAttempt(Config& config, std::uint16_t index) : config_(config), index_(index) {
  rememberMemory();
  if (hold_.held()) {
    const std::uint16_t reloaded = config_.reloadUser(index_);
    if (reloaded != KV_SUCCESS) KV_LOG_ERROR("%s - the user's record was not read again: %d", kClass, reloaded);
  } else {
    KV_LOG_ERROR("%s - the configuration file is not held: no code is checked", kClass);
  }
  record_ = config_.getUserConfig(index_);
  if (record_.getOfflineCheckPending()) {
    KV_LOG_INFO("%s - an earlier check of a code of %s has no saved outcome: it counts as refused", kClass,
                record_.getUserLogin().c_str());
  }
}

void OfflineAttempt::rememberMemory() {
  memoryRecord_ = config_.getUserConfig(index_);
  memoryLastAuth_ = config_.getLastAuth();
  memoryLastUser_ = config_.getLastUser();
}

void OfflineAttempt::restoreMemory() {
  if (config_.setUserConfig(index_, memoryRecord_) != KV_SUCCESS) {
    KV_LOG_ERROR("%s - the user's record could not be put back", kClass);
  }
  config_.setLastAuth(memoryLastAuth_);
  config_.setLastUser(memoryLastUser_);
}

std::uint16_t OfflineAttempt::saveStep(Model::UserConfig record, const Save& save) {
  const std::uint16_t saved = save(record);
  if (saved == KV_SUCCESS) {
    rememberMemory();
    return KV_SUCCESS;
  }
  KV_LOG_ERROR("%s - the configuration could not be saved: %d", kClass, saved);
  restoreMemory();
  return KV_ERROR_WRITE_CONFIG_FILE;
}

std::uint16_t OfflineAttempt::count(Model::UserConfig refused, const Save& save) {
  if (!hold_.held()) return KV_ERROR_WRITE_CONFIG_FILE;
  refused.setOfflineCheckPending(true);
  const std::uint16_t saved = saveStep(refused, save);
  counted_ = saved == KV_SUCCESS;
  return saved;
}

std::uint16_t OfflineAttempt::conclude(Model::UserConfig outcome, const Save& save) {
  if (!counted_) return KV_ERROR_WRITE_CONFIG_FILE;
  outcome.setOfflineCheckPending(false);
  return saveStep(outcome, save);
}

}  // namespace Business
}  // namespace Korvath
