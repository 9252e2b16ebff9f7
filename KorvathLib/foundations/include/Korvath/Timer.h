#pragma once

#include <atomic>
#include <cstdint>

namespace Korvath {
namespace Utils {

// The shared record behind a cancellation token.
struct CancellationTokenRecord {
  std::atomic<std::uint8_t> cancelled{0};
  std::atomic<std::int32_t> refCount{1};
};

// A reference-counted cancellation token. Copies share one record; the record is
// freed when the last holder lets go. Cancelling ends the waits of every Timer that
// holds the token within one 100 ms slice.
class AutoTokenCancellationRelease {
 public:
  AutoTokenCancellationRelease();
  AutoTokenCancellationRelease(const AutoTokenCancellationRelease& other);
  AutoTokenCancellationRelease& operator=(const AutoTokenCancellationRelease& other);
  ~AutoTokenCancellationRelease();

  void cancel();
  bool isCancelled() const;
  // Holders of the shared record (for diagnostics and tests).
  std::int32_t holders() const;

 private:
  void release();
  CancellationTokenRecord* record_;
};

// A time-out: start(waiting, step) and then call isTimeOut() in a loop. Each call
// that has not yet timed out waits one step. Time is taken from the monotonic clock
// of Platform::clock(), so setting the wall clock back does not stretch a wait.
class Timer {
 public:
  // Slice in which a token-holding wait notices cancellation.
  static constexpr std::uint32_t kSliceMs = 100;

  Timer() = default;
  explicit Timer(const AutoTokenCancellationRelease& token);
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  void setToken(const AutoTokenCancellationRelease& token);
  void start(std::int64_t waitingTime_ms, std::int64_t stepTime_ms);
  // True at once when the waiting time has passed; otherwise waits one step (in
  // 100 ms slices, returning early when the token is cancelled) and returns false.
  bool isTimeOut();
  // True when the timer holds a token and it has been cancelled.
  bool isCancelled() const;

 private:
  std::int64_t starTime_ = 0;
  std::int64_t stepTime_ms_ = 0;
  std::int64_t waitingTime_ms_ = 0;
  AutoTokenCancellationRelease* token_ = nullptr;
};

}  // namespace Utils
}  // namespace Korvath
