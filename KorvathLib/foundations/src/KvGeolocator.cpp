#include "Korvath/KvGeolocator.h"

#include <chrono>
#include <exception>
#include <string>

#include "Korvath/ConnectionUtils.h"
#include "Korvath/Logger.h"
#include "Korvath/Platform.h"

namespace Korvath {
namespace Geolocation {

namespace {
const char* const kClass = "Korvath::Geolocation::KvGeolocator";
}

KvGeolocator& KvGeolocator::instance() {
  // Never destroyed: a still-finishing task must not outlive its object.
  static KvGeolocator* geolocator = new KvGeolocator();
  return *geolocator;
}

KvGeolocator::KvGeolocator() : factory_(createSystemLocationSource) {}

KvGeolocator::KvGeolocator(LocationSourceFactory factory) : factory_(std::move(factory)) {}

KvGeolocator::~KvGeolocator() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopRequested_ = true;
  }
  wake_.notify_all();
  // The task checks its flag every poll: joining here is bounded by one poll.
  if (thread_.joinable()) thread_.join();
}

void KvGeolocator::startGeolocationProcessing() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (started_) return;
  started_ = true;
  try {
    thread_ = std::thread([this] { runGeolocationProcessing(); });
  } catch (const std::exception& e) {
    // No task: positions are never coming, so nobody should wait for one.
    finished_ = true;
    KV_LOG_ERROR("%s - the geolocation task could not start: %s", kClass, e.what());
  }
}

void KvGeolocator::publish(const Position& position) {
  std::lock_guard<std::mutex> lock(mutex_);
  position_ = position;
  hasPosition_ = true;
}

void KvGeolocator::runGeolocationProcessing() {
  KV_LOG_TRACE("[IN] %s::runGeolocationProcessing", kClass);
  std::unique_ptr<ILocationSource> source;
  try {
    source = factory_ ? factory_() : nullptr;
  } catch (...) {
    source.reset();
  }
  if (source && source->open()) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopRequested_) {
      lock.unlock();
      Position p;
      const bool got = source->latest(p);
      if (got && p.accuracy >= 0) publish(p);
      lock.lock();
      wake_.wait_for(lock, std::chrono::milliseconds(kPollMs), [this] { return stopRequested_; });
    }
    lock.unlock();
    source->close();
  } else {
    KV_LOG_DEBUG("%s - no location source", kClass);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
  }
  wake_.notify_all();
  KV_LOG_TRACE("[OUT] %s::runGeolocationProcessing", kClass);
}

bool KvGeolocator::stopGeolocationProcessing(std::uint32_t waitMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  stopRequested_ = true;
  wake_.notify_all();
  if (!thread_.joinable()) return true;
  if (!wake_.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return finished_; })) {
    // Terminating a thread inside LogonUI could leave a lock held forever; it is left
    // to finish, and the library reports itself busy meanwhile.
    KV_LOG_ERROR("%s -geolocation thread is taking longer than normal.", kClass);
    return false;
  }
  // The task needs the mutex no more once it is finished, so joining under it is quick;
  // a caller that waited beside another may find the thread already joined.
  if (thread_.joinable()) thread_.join();
  return true;
}

bool KvGeolocator::isRunning() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return thread_.joinable();
}

void KvGeolocator::getGeolocation(float& latitude, float& longitude, float& accuracy) {
  const Position defaults;
  latitude = defaults.latitude;
  longitude = defaults.longitude;
  accuracy = defaults.accuracy;
  if (GeolocationBusiness::shouldIgnoreGeolocation()) return;
  Platform::IClock& c = Platform::clock();
  const std::int64_t deadline = c.monotonicMs() + kFirstPositionWaitMs;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (hasPosition_) {
        latitude = position_.latitude;
        longitude = position_.longitude;
        accuracy = position_.accuracy;
        return;
      }
      // A task that has ended will never bring a first position.
      if (finished_ || !started_) return;
    }
    if (c.monotonicMs() >= deadline) return;
    c.sleepMs(kWaitStepMs);
  }
}

bool GeolocationBusiness::shouldIgnoreGeolocation() {
  std::string value;
  const bool enabled = Platform::agentRegistry().getString("Geolocation", value) && value == "enabled";
  return !enabled || Utils::isRemoteLogon();
}

#ifndef _WIN32
namespace {
class NoLocation : public ILocationSource {
 public:
  bool open() override { return false; }
  bool latest(Position&) override { return false; }
  void close() override {}
};
}  // namespace

std::unique_ptr<ILocationSource> createSystemLocationSource() { return std::unique_ptr<ILocationSource>(new NoLocation); }
#endif

}  // namespace Geolocation
}  // namespace Korvath
