#pragma once

// Test support for the cloud client against the simulator: the simulator's port and CA from
// the CTest fixture, the simulator's control API over our own HTTPS layer, sealing with the
// fixture account's request key and deployment values pointing at the simulator.

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Korvath/HttpsExchange.h"
#include "Korvath/Platform.h"

namespace CloudTest {

// The first account of the simulator's default fixture.
extern const char* const kAccountId;
extern const char* const kResourceId;
extern const char* const kIntegrationKey;

class MapRegistry : public Korvath::Platform::IRegistry {
 public:
  bool getString(const std::string& name, std::string& value) override {
    auto it = values.find(name);
    if (it == values.end()) return false;
    value = it->second;
    return true;
  }
  bool setString(const std::string& name, const std::string& value) override {
    values[name] = value;
    return true;
  }
  bool deleteValue(const std::string& name) override { return values.erase(name) > 0; }
  std::map<std::string, std::string> values;
};

// Reads a decimal port from the file named by the environment variable; 0 when it cannot.
std::uint16_t portFromFileNamedBy(const char* variable);
std::string environmentValue(const char* variable);
// A loopback port on which nothing listens (bound and released again).
std::uint16_t closedPort();

struct Recorded {
  std::string method;
  std::string path;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  std::string opened;  // the body as the simulator opened it; empty when it could not
};

class SimControl {
 public:
  explicit SimControl(std::uint16_t port) : port_(port) {}
  // Each returns false (and a reason in lastError()) unless the simulator answered 200.
  bool reset();
  bool reply(const std::string& route, int status, const std::string& json, unsigned count = 0);
  // `faultJson` is the whole control object, e.g. {"route":"config","status":500,"body":""}.
  bool fault(const std::string& faultJson);
  bool requests(std::vector<Recorded>& out);
  // A standing decision for the pushes of `login`: "approve", "deny" or "pending", given
  // after `afterPolls` polls were answered "still waiting".
  bool planPush(const std::string& login, const std::string& decision, unsigned afterPolls = 0);
  const std::string& lastError() const { return lastError_; }

 private:
  bool call(const std::string& method, const std::string& path, const std::string& body, std::string* reply = nullptr);
  std::uint16_t port_;
  std::string lastError_;
};

// A test against the simulator of the CTest fixture (KV_CLOUDSIM_PORT_FILE, KV_TEST_CA_FILE):
// trusts the run's CA, points the agent registry's deployment values at the simulator, starts
// a new sign-in attempt and resets the simulator.
class SimTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  void pointAt(std::uint16_t port, const std::string& domainSuffix = "");
  void fault(const std::string& json) { ASSERT_TRUE(sim_->fault(json)) << sim_->lastError(); }
  void reply(const std::string& route, int status, const std::string& json, unsigned count = 0) {
    ASSERT_TRUE(sim_->reply(route, status, json, count)) << sim_->lastError();
  }
  std::vector<Recorded> recorded();
  // The recorded requests to one route: the path ends with "/<route>", or for "pushresult"
  // holds "/transactions/".
  std::vector<Recorded> recordedTo(const std::string& route);

  std::uint16_t port_ = 0;
  MapRegistry registry_;
  std::unique_ptr<SimControl> sim_;
};

// Sealing and opening under the fixture account's request key.
std::string seal(const std::string& plain);
std::string open(const std::string& sealed);
// A JSON string literal of `text` (quotes and escapes), for control bodies.
std::string quote(const std::string& text);

}  // namespace CloudTest
