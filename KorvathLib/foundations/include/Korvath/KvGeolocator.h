#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace Korvath {
namespace Geolocation {

struct Position {
  float latitude = 0.0f;
  float longitude = 0.0f;
  float accuracy = -1.0f;  // metres; below 0 when there is no position
};

// Where positions come from: the Windows Location API, natively nothing. All calls are
// made on the geolocation task's thread; none of them blocks for long.
class ILocationSource {
 public:
  virtual ~ILocationSource() = default;
  virtual bool open() = 0;
  // The latest position, false while there is none.
  virtual bool latest(Position& position) = 0;
  virtual void close() = 0;
};
using LocationSourceFactory = std::function<std::unique_ptr<ILocationSource>()>;
// The flavour's source (natively one that never has a position).
std::unique_ptr<ILocationSource> createSystemLocationSource();

// The process-wide geolocation task: it keeps the latest position. Stopping is
// cooperative: the task checks its stop flag at least every `kPollMs`; a stop waits a
// bounded time and never terminates the thread (it runs inside LogonUI).
class KvGeolocator {
 public:
  static constexpr std::uint32_t kPollMs = 1000;
  static constexpr std::uint32_t kFirstPositionWaitMs = 15000;
  static constexpr std::uint32_t kWaitStepMs = 100;
  static constexpr std::uint32_t kStopWaitMs = 3000;

  static KvGeolocator& instance();

  KvGeolocator();  // uses createSystemLocationSource
  explicit KvGeolocator(LocationSourceFactory factory);
  ~KvGeolocator();
  KvGeolocator(const KvGeolocator&) = delete;
  KvGeolocator& operator=(const KvGeolocator&) = delete;

  // Starts the background task; does nothing when it has been started before.
  void startGeolocationProcessing();
  // The task's body: keeps the latest position until it is asked to stop.
  void runGeolocationProcessing();
  // Asks the task to stop and waits at most `waitMs`. True when it has ended (or never
  // ran); false when it is still finishing, which is logged.
  bool stopGeolocationProcessing(std::uint32_t waitMs = kStopWaitMs);
  // True while the task's thread has not been joined (the library must stay loaded).
  bool isRunning() const;

  // Latitude, longitude and accuracy (defaults 0, 0, -1). Waits up to 15 s in 100 ms
  // steps of Platform::clock() for a first position; returns the defaults at once when
  // geolocation is to be ignored.
  void getGeolocation(float& latitude, float& longitude, float& accuracy);

 private:
  void publish(const Position& position);

  LocationSourceFactory factory_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::thread thread_;
  bool started_ = false;
  bool stopRequested_ = false;
  bool finished_ = false;
  bool hasPosition_ = false;
  Position position_;
};

// The geolocation rule of the agent.
class GeolocationBusiness {
 public:
  // True when the agent's registry value "Geolocation" is not "enabled" or the
  // sign-in comes over Remote Desktop.
  static bool shouldIgnoreGeolocation();
};

}  // namespace Geolocation
}  // namespace Korvath
