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
  // A step on a copy of the user's record: the count (the record as a refusal leaves it),
  // the check (the record as its outcome leaves it), or a save (stores the record given at the
  // user's index and saves the configuration). Each answers 0 or a code.
  using Step = std::function<std::uint16_t(Model::UserConfig&)>;

  struct Outcome {
    std::uint16_t checked = 0;  // the count's code when it stopped the check, else the check's
    std::uint16_t saved = 0;    // 0, or 5102 when the file could not be held or a save failed
    bool accepted() const { return saved == 0 && checked == 0; }
  };

  // The user at `index` of `config` (the caller holds the state mutex of its service).
  OfflineAttempt(Config& config, std::uint16_t index);

  // The user's record as the file holds it now: what the code is checked against.
  const Model::UserConfig& record() const { return record_; }

  // The attempt: `count` on the record, which `saveRefusal` saves marked pending; only when
  // that save worked and the count gave 0, `check` on the record as the file held it; then
  // the outcome, no longer pending: the checked record through `saveAcceptance` when it gave
  // 0, else the counted one through `saveRefusal`.
  Outcome run(const Step& count, const Step& check, const Step& saveRefusal, const Step& saveAcceptance);

 private:
  // Saves `record` through `store`, marked pending or not; on failure memory is put back.
  std::uint16_t saveMarked(Model::UserConfig record, bool pending, const Step& store);
  void rememberMemory();
  void restoreMemory();

  Config& config_;
  std::uint16_t index_;
  Config::FileHold hold_;
  Model::UserConfig record_;
  // What the configuration held in memory before the step being saved.
  Model::UserConfig memoryRecord_;
  std::uint64_t memoryLastAuth_ = 0;
  std::string memoryLastUser_;
};

}  // namespace Business
}  // namespace Korvath
