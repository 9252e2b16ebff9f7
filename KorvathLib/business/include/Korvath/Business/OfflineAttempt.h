#pragma once

// One code checked on this machine (an offline OTP, QR-code answer or forgot-token
// verification code) as the configuration file records it. The file is held from start to
// end, so no other thread or process counts or checks a code against the same record
// meanwhile, and the record is read from the file, so the count builds on what every
// process saved. The attempt is saved as a refusal before its code is checked, and where
// that save fails the code must not be checked at all; its outcome is saved after. When
// either save fails, the configuration in memory goes back to what the file holds, so
// nothing that was not saved (an advanced counter, a forgot-token period) outlives the
// attempt, and the person gets the same answer whatever code was typed.

#include <cstdint>
#include <functional>
#include <string>

#include "Korvath/Config.h"
#include "Korvath/Model/User.h"

namespace Korvath {
namespace Business {

class OfflineAttempt {
 public:
  // Stores the record given at the user's index and saves the configuration: 0 or a code.
  using Save = std::function<std::uint16_t(Model::UserConfig&)>;

  // The user at `index` of `config` (the caller holds the state mutex of its service).
  OfflineAttempt(Config& config, std::uint16_t index);

  // The user's record as the file holds it now: what the code is checked against.
  const Model::UserConfig& record() const { return record_; }

  // Saves `refused` (the record as a refusal of the code leaves it) through `save`, marked
  // pending. 0, or 5102 when the file could not be held or written: the code must then not
  // be checked.
  std::uint16_t count(Model::UserConfig refused, const Save& save);
  // After count gave 0: saves the outcome through `save`, no longer pending. 0 or 5102.
  std::uint16_t conclude(Model::UserConfig outcome, const Save& save);

 private:
  std::uint16_t saveStep(Model::UserConfig record, const Save& save);
  void rememberMemory();
  void restoreMemory();

  Config& config_;
  std::uint16_t index_;
  Config::FileHold hold_;
  Model::UserConfig record_;
  bool counted_ = false;
  // What the configuration held in memory before the step being saved.
  Model::UserConfig memoryRecord_;
  std::uint64_t memoryLastAuth_ = 0;
  std::string memoryLastUser_;
};

}  // namespace Business
}  // namespace Korvath
