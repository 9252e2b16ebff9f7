// The simulator's business state: the default fixture's users and what a reset restores, and
// what the fixture reads and refuses. What the configuration and policy routes hand out is read
// by the business simulator tests through the agent's own client.

#include <CloudSim/Server.h>

#include "State.h"

#include <gtest/gtest.h>

namespace {
const char* const kAccount = "AC1000000001";
}  // namespace

TEST(CloudSimBusinessState, ResetRestoresTheFixtureUsers) {
  CloudSim::Fixture fixture;
  std::string error;
  ASSERT_TRUE(CloudSim::loadFixtureFile(KV_CLOUDSIM_DEFAULT_FIXTURE, fixture, error)) << error;
  CloudSim::State state;
  ASSERT_TRUE(state.load(fixture, error)) << error;
  const CloudSim::AccountState* account = state.findAccount(kAccount, "4242");
  ASSERT_NE(nullptr, account);
  CloudSim::SimUser user;
  ASSERT_TRUE(state.findUser(*account, "Alice@Sim.Example", user));
  EXPECT_EQ("alice", user.login);
  const std::string blob = user.authenticators[0].blob;
  user.blocked = true;
  user.login = "ALICE";
  ASSERT_TRUE(state.updateUser(*account, user));
  ASSERT_TRUE(state.findUser(*account, "alice", user));
  EXPECT_TRUE(user.blocked);
  user.login = "zed";
  EXPECT_FALSE(state.updateUser(*account, user));

  state.reset();
  ASSERT_TRUE(state.findUser(*account, "alice", user));
  EXPECT_FALSE(user.blocked);
  EXPECT_EQ("alice", user.login);
  EXPECT_EQ(blob, user.authenticators[0].blob);
  EXPECT_EQ(5u, state.users(*account).size());
}

TEST(CloudSimBusinessState, FixtureRefusesBadAccountsUsersAndSettings) {
  const std::string head = R"({"accounts":[{"accountId":"A","resourceId":"1","integrationKey":"abc",)";
  const std::string bad[] = {
      R"([])",
      R"({"accounts":{}})",
      R"({"accounts":[{"resourceId":"1","integrationKey":"abc"}]})",
      R"({"accounts":[{"accountId":"A","resourceId":"4294967296","integrationKey":"abc"}]})",
      R"({"accounts":[{"accountId":"A","resourceId":"-1","integrationKey":"abc"}]})",
      R"({"accounts":[{"accountId":"A","resourceId":"1","integrationKey":"ab"}]})",
      head + R"("users":[]},{"accountId":"A","resourceId":"01","integrationKey":"xyz"}]})",
      head + R"("users":{}}]})",
      head + R"("users":[{"email":"x"}]}]})",
      head + R"("users":[{"login":")" + std::string(101, 'a') + R"("}]}]})",
      head + R"("users":[{"login":"a"},{"login":"A"}]}]})",
      head + R"("users":[{"login":"a","authTypes":{"otp":1}}]}]})",
      head + R"("users":[{"login":"a","authenticators":[{"serialNumber":"S","secret":"zz"}]}]}]})",
      head + R"("users":[{"login":"a","authenticators":[{"serialNumber":"S","secret":"0011"}]}]}]})",
      head +
          R"("users":[{"login":"a","authenticators":[{"model":8,"serialNumber":"S","secret":"00112233445566778899aabbccddeeff"}]}]}]})",
      head + R"("users":[{"login":"a","authenticators":[{"secret":"00112233445566778899aabbccddeeff"}]}]}]})",
      head + R"("settings":{"pushTimeout":5}}]})",
      head + R"("settings":[]}]})",
      head + R"("accountAlias":"ab"}]})",
  };
  for (const std::string& json : bad) {
    CloudSim::Fixture fixture;
    std::string error;
    EXPECT_FALSE(CloudSim::parseFixture(json, fixture, error)) << json;
    EXPECT_FALSE(error.empty()) << json;
  }
  // Resource ids are normalised; keys the simulator does not know are left alone.
  CloudSim::Fixture fixture;
  std::string error;
  ASSERT_TRUE(CloudSim::parseFixture(
      R"({"accounts":[{"accountId":"A","resourceId":"007","integrationKey":"abc","users":[{"login":"a",
                         "authenticators":[{"serialNumber":"S","secret":"00112233445566778899aabbccddeeff"}]}]},
                      {"accountId":"A","resourceId":4294967295,"integrationKey":"abcd"}],"later":{}})",
      fixture, error))
      << error;
  ASSERT_EQ(2u, fixture.accounts.size());
  EXPECT_EQ("7", fixture.accounts[0].resourceId);
  EXPECT_EQ("4294967295", fixture.accounts[1].resourceId);
  EXPECT_EQ("abcd", fixture.accounts[1].integrationKey);
  ASSERT_EQ(1u, fixture.accounts[0].users.size());
  EXPECT_EQ(16u, fixture.accounts[0].users[0].authenticators[0].secret.size());
  EXPECT_EQ(10, fixture.accounts[0].users[0].authenticators[0].model);
  EXPECT_TRUE(fixture.accounts[0].users[0].hasPolicy);
}
