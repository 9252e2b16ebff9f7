#pragma once

// Support of the KvService tests: the agent's files at their default places (cleared before
// and after each test), a clock that moves only when told, an in-memory agent registry and
// deployment values that point the cloud client at a given loopback port.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "BizCoreTestSupport.h"
#include "CloudTestSupport.h"
#include "Korvath/Config.h"
#include "Korvath/KvCrypto.h"
#include "Korvath/Model/CloudRecords.h"
#include "Korvath/Model/User.h"
#include "Korvath/Service/KvService.h"

namespace ServicesTest {

// FILETIME of one hour.
constexpr std::uint64_t kHour = 36000000000ull;

class ServiceTestBase : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Deployment values pointing at 127.0.0.1:port ("localhost" region, no prefixes).
  void pointAt(std::uint16_t port);
  // Writes the configuration file at its default place: the simulator's account (region
  // "localhost", "prod"), resource `resourceId`, the given users; lastSync and lastRun now.
  void writeConfigFile(const std::vector<Korvath::Model::UserConfig>& users, std::int32_t resourceId = 4242,
                       const std::string& masterPassword = "sim-master-password-0001");
  // Writes the install configuration of the simulator's account at its default place.
  void writeInstallConfig();
  // The configuration file as it is on disk now.
  Korvath::Config readConfigFile();
  // A service whose configuration holds `users` and saves to the test's own file (no start-up).
  void fillService(Korvath::Service::KvService& service, const std::vector<Korvath::Model::UserConfig>& users);

  BizCoreTest::TempDir dir_;
  BizCoreTest::FakeClock clock_;
  CloudTest::MapRegistry registry_;
  Korvath::KvCrypto crypto_;
};

// The same against the simulator of the test's CTest fixture (reset before each test).
class ServiceSimTestBase : public ServiceTestBase {
 protected:
  void SetUp() override;
  void reply(const std::string& route, int status, const std::string& json, unsigned count = 1);
  std::vector<CloudTest::Recorded> recorded();
  // Recorded requests whose path contains `part` ("/config", "/policy/offline"...), in order.
  std::vector<CloudTest::Recorded> recorded(const std::string& part);
  // The opened bodies of the online policy requests (not the offline ones).
  std::vector<Korvath::Model::RequestGetUserPolicy> policyRequests();

  std::uint16_t port_ = 0;
  std::unique_ptr<CloudTest::SimControl> sim_;
};

Korvath::Model::UserConfig user(const std::string& login, bool push, bool qrcode, bool otp,
                                const std::string& lastAuthType = std::string());

}  // namespace ServicesTest
