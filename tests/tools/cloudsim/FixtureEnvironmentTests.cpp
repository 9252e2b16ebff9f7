// Natively: the CTest fixture's environment reaches every discovered test of a target.

#include <CloudSim/Server.h>

#include "TlsClient.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace {

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

TEST(CloudSimFixtureEnvironment, PortFileAndCaReachTheRunningSimulator) {
  const std::string portFile = env("KV_CLOUDSIM_PORT_FILE");
  const std::string ca = env("KV_TEST_CA_FILE");
  ASSERT_FALSE(portFile.empty());
  ASSERT_FALSE(ca.empty());
  std::ifstream in(portFile);
  unsigned port = 0;
  in >> port;
  ASSERT_GT(port, 0u);
  ASSERT_LT(port, 65536u);
  using namespace CloudSimTest;
  Exchange e = exchange(static_cast<std::uint16_t>(port), buildRequest("POST", "/_sim/reset", ""), 0, ca);
  EXPECT_TRUE(e.handshake);
  EXPECT_EQ(200, e.status);
  // The suite's own CA does not vouch for the fixture's simulator.
  Exchange other = exchange(static_cast<std::uint16_t>(port), buildRequest("POST", "/_sim/reset", ""), 0, caFile());
  EXPECT_FALSE(other.handshake);
}

TEST(CloudSimFixtureEnvironment, FixtureFileIsTheOneTheSimulatorLoaded) {
  CloudSim::Fixture fixture;
  std::string error;
  ASSERT_TRUE(CloudSim::loadFixtureFile(env("KV_CLOUDSIM_FIXTURE_FILE"), fixture, error)) << error;
  ASSERT_EQ(2u, fixture.accounts.size());
  EXPECT_EQ("AC1000000001", fixture.accounts[0].accountId);
  EXPECT_EQ("4242", fixture.accounts[0].resourceId);
  EXPECT_EQ("sim-integration-key-0001", fixture.accounts[0].integrationKey);
}

}  // namespace
