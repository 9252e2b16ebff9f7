#include "Korvath/Timer.h"

#include <algorithm>

#include "Korvath/Platform.h"

namespace Korvath {
namespace Utils {

AutoTokenCancellationRelease::AutoTokenCancellationRelease() : record_(new CancellationTokenRecord) {}

AutoTokenCancellationRelease::AutoTokenCancellationRelease(const AutoTokenCancellationRelease& other)
    : record_(other.record_) {
  record_->refCount.fetch_add(1);
}

AutoTokenCancellationRelease& AutoTokenCancellationRelease::operator=(
    const AutoTokenCancellationRelease& other) {
  if (record_ != other.record_) {
    other.record_->refCount.fetch_add(1);
    release();
    record_ = other.record_;
  }
  return *this;
}

AutoTokenCancellationRelease::~AutoTokenCancellationRelease() { release(); }

void AutoTokenCancellationRelease::release() {
  if (record_->refCount.fetch_sub(1) == 1) {
    delete record_;
  }
  record_ = nullptr;
}

void AutoTokenCancellationRelease::cancel() { record_->cancelled.store(1); }

bool AutoTokenCancellationRelease::isCancelled() const { return record_->cancelled.load() != 0; }

std::int32_t AutoTokenCancellationRelease::holders() const { return record_->refCount.load(); }

Timer::Timer(const AutoTokenCancellationRelease& token) : token_(new AutoTokenCancellationRelease(token)) {}

Timer::~Timer() { delete token_; }

void Timer::setToken(const AutoTokenCancellationRelease& token) {
  if (token_ != nullptr) {
    *token_ = token;
  } else {
    token_ = new AutoTokenCancellationRelease(token);
  }
}

void Timer::start(std::int64_t waitingTime_ms, std::int64_t stepTime_ms) {
  waitingTime_ms_ = waitingTime_ms;
  stepTime_ms_ = stepTime_ms;
  starTime_ = Platform::clock().monotonicMs();
}

bool Timer::isCancelled() const { return token_ != nullptr && token_->isCancelled(); }

bool Timer::isTimeOut() {
  Platform::IClock& c = Platform::clock();
  // Elapsed time against the waiting time: no sum that a huge waiting time could overflow.
  if (c.monotonicMs() - starTime_ >= waitingTime_ms_) {
    return true;
  }
  if (stepTime_ms_ <= 0) {
    return false;
  }
  if (token_ == nullptr) {
    c.sleepMs(static_cast<std::uint32_t>(std::min<std::int64_t>(stepTime_ms_, UINT32_MAX)));
    return false;
  }
  // Slices are measured against the monotonic clock so that a slow wake-up does not
  // add up over a long step.
  const std::int64_t stepStart = c.monotonicMs();
  while (!token_->isCancelled()) {
    const std::int64_t left = stepTime_ms_ - (c.monotonicMs() - stepStart);
    if (left <= 0) break;
    c.sleepMs(static_cast<std::uint32_t>(std::min<std::int64_t>(left, kSliceMs)));
  }
  return false;
}

}  // namespace Utils
}  // namespace Korvath
