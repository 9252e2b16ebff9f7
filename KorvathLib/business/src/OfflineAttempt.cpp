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

std::uint16_t OfflineAttempt::saveMarked(Model::UserConfig record, bool pending, const Step& store) {
  record.setOfflineCheckPending(pending);
  const std::uint16_t saved = store(record);
  if (saved == KV_SUCCESS) {
    rememberMemory();
    return KV_SUCCESS;
  }
  KV_LOG_ERROR("%s - the configuration could not be saved: %d", kClass, saved);
  restoreMemory();
  return KV_ERROR_WRITE_CONFIG_FILE;
}

OfflineAttempt::Outcome OfflineAttempt::run(const Step& count, const Step& check, const Step& saveRefusal,
                                            const Step& saveAcceptance) {
  Outcome outcome;
  Model::UserConfig counted = record_;
  outcome.checked = count(counted);
  outcome.saved = KV_ERROR_WRITE_CONFIG_FILE;
  if (hold_.held()) outcome.saved = saveMarked(counted, true, saveRefusal);
  if (outcome.saved != KV_SUCCESS) return outcome;
  Model::UserConfig checked = record_;
  if (outcome.checked == KV_SUCCESS) outcome.checked = check(checked);
  outcome.saved = outcome.checked == KV_SUCCESS ? saveMarked(checked, false, saveAcceptance)
                                                : saveMarked(counted, false, saveRefusal);
  return outcome;
}

}  // namespace Business
}  // namespace Korvath
