#pragma once

// Support of the push and OTP business tests: a clock that moves only when told (a sleep
// advances it), an agent registry in memory, a configuration bound to the simulator's
// default account, blobs and codes of test authenticators, and the simulator's control API.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "CloudTestSupport.h"
#include "Korvath/Config.h"
#include "Korvath/KvCrypto.h"
#include "Korvath/Platform.h"

namespace PushOtpTest {

// The first account of the simulator's default fixture and its user alice.
extern const char* const kAccountId;
extern const char* const kResourceId;
extern const char* const kIntegrationKey;
// Secret of both of alice's tokens (RFC 4226's test secret), counter 0 at the start.
extern const char* const kAliceSecretHex;

class FakeClock : public Korvath::Platform::IClock {
 public:
  std::uint64_t nowFileTime() override {
    return static_cast<std::uint64_t>(unixMs_.load() + 11644473600000LL) * 10000ULL;
  }
  std::int64_t nowUnixMs() override { return unixMs_.load(); }
  std::int64_t monotonicMs() override { return monotonicMs_.load(); }
  void sleepMs(std::uint32_t ms) override;
  std::int64_t sleptMs() const { return slept_.load(); }
  // Called after every sleep with the total slept so far.
  void onSleep(std::function<void(std::int64_t)> hook);

 private:
  std::atomic<std::int64_t> unixMs_{1760000000000LL};
  std::atomic<std::int64_t> monotonicMs_{1000};
  std::atomic<std::int64_t> slept_{0};
  std::mutex hookMutex_;
  std::function<void(std::int64_t)> hook_;
};

class ScopedClock {
 public:
  explicit ScopedClock(Korvath::Platform::IClock& c) { Korvath::Platform::setClock(&c); }
  ~ScopedClock() { Korvath::Platform::setClock(nullptr); }
};

using MapRegistry = CloudTest::MapRegistry;

// A temporary directory; natively also the process's KORVATH_ROOT (machine key, locks).
std::string makeTempDir();
void removeTree(const std::string& path);

// A configuration of the simulator's default account, not registered in any file yet:
// region "localhost", environment "prod", its identifiers and integration key, and the
// configuration file at `configPath`.
void fillSimConfig(Korvath::Config& config, const std::string& configPath, std::uint16_t pushTimeout = 60);

// A blob of a test authenticator of the default account (model 10: mobile; 11: OATH token).
std::string makeBlob(std::uint8_t model, const std::string& secretHex, std::uint64_t counter = 0, bool active = true);
// The code a token with this secret shows at `counter` (6 digits, SHA-1).
std::string hotp(const std::string& secretHex, std::uint64_t counter);

using Recorded = CloudTest::Recorded;

struct PushEntry {
  std::string transactionId;
  std::string login;
  std::string status;
  unsigned polls = 0;
};

// The simulator of the CTest fixture (KV_CLOUDSIM_PORT_FILE, KV_TEST_CA_FILE).
class Sim {
 public:
  // Reads the port and trusts the CA; false with a reason when the fixture is missing.
  bool attach(std::string& why);
  std::uint16_t port() const { return port_; }
  bool reset() { return delegated(control_.reset()); }
  bool reply(const std::string& route, int status, const std::string& json, unsigned count = 0) {
    return delegated(control_.reply(route, status, json, count));
  }
  bool fault(const std::string& faultJson) { return delegated(control_.fault(faultJson)); }
  // A standing decision for the pushes of `login`: "approve", "deny" or "pending", given
  // after `afterPolls` polls were answered "still waiting".
  bool planPush(const std::string& login, const std::string& decision, unsigned afterPolls = 0);
  bool pushes(std::vector<PushEntry>& out);
  // Any control order; false unless the simulator answered 200.
  bool control(const std::string& path, const std::string& body);
  bool requests(std::vector<Recorded>& out) { return delegated(control_.requests(out)); }
  // The recorded requests whose path ends with `suffix` (or contains "/transactions/" for
  // "pushresult").
  std::vector<Recorded> requestsTo(const std::string& route);
  const std::string& lastError() const { return lastError_; }

 private:
  bool delegated(bool answered);
  bool call(const std::string& method, const std::string& path, const std::string& body, std::string& reply);
  std::uint16_t port_ = 0;
  CloudTest::SimControl control_{0};
  std::string lastError_;
};

}  // namespace PushOtpTest
