#pragma once

// One sign-in attempt at a time. The dialog's state is the process's, and LogonUI's thread
// goes on dispatching messages while it waits for a dialog, so a second attempt can start on
// that very thread (or on another one) while the first runs. Such an attempt must not run at
// all: it gets no turn, and the first attempt keeps its own.

#include <atomic>

namespace Korvath {
namespace Utils {

class AttemptSlot {
 public:
  // Held for the whole of an attempt; an empty turn means another attempt was running.
  class Turn {
   public:
    Turn(Turn&& other) noexcept : slot_(other.slot_) { other.slot_ = nullptr; }
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;
    Turn& operator=(Turn&&) = delete;
    ~Turn() {
      if (slot_ != nullptr) slot_->running_.store(false);
    }
    explicit operator bool() const { return slot_ != nullptr; }

   private:
    friend class AttemptSlot;
    explicit Turn(AttemptSlot* slot) : slot_(slot) {}
    AttemptSlot* slot_;
  };

  // The turn of a new attempt, or an empty one while another attempt holds its turn.
  Turn tryBegin() { return Turn(running_.exchange(true) ? nullptr : this); }
  bool running() const { return running_.load(); }

 private:
  std::atomic<bool> running_{false};
};

}  // namespace Utils
}  // namespace Korvath
