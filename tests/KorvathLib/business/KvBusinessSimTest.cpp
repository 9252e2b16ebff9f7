// KvBusiness against the cloud simulator (its default fixture, docs/cloudsim.md): the first
// registration, the configuration synchronization and the per-user updates, the
// logon-disabled state after each kind of answer, and the online and offline policy refresh.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BizCoreTestSupport.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/WindowsFacts.h"

using namespace BizCoreTest;
using Korvath::Model::AuthFactorMap;
using Korvath::Model::UserConfig;

namespace {

using Logins = std::vector<std::string>;
using KvBusinessSim = BizSimTest;

// The userLogins of every configuration request received so far, in order.
std::vector<Logins> configLogins(const std::vector<CloudTest::Recorded>& records) {
  std::vector<Logins> all;
  for (const CloudTest::Recorded& r : records) {
    Korvath::Model::RequestConfig request;
    EXPECT_EQ(0, request.fillFromJson(r.opened)) << r.opened;
    all.push_back(request.getUserLogins());
  }
  return all;
}

TEST_F(KvBusinessSim, FirstRegistrationTakesTheServiceConfigurationAndAFailedOneLeavesNoFile) {
  Korvath::KvCrypto crypto;
  Korvath::Config fresh(&crypto);
  fresh.setFilePath(configPath_);
  Korvath::Business::KvBusiness business(&fresh, &crypto);
  // An unknown resource: the service answers 404 with its resource-not-found code.
  EXPECT_EQ(5108, business.iniConfig("localhost", "prod", kAccountId, 9999, kIntegrationKey).getResultCode());
  EXPECT_FALSE(fileExists());
  EXPECT_EQ(0, fresh.getResourceId());
  ASSERT_EQ(0, business.iniConfig("localhost", "prod", kAccountId, 4242, kIntegrationKey).getResultCode());
  EXPECT_EQ("sim-master-password-0001", fresh.getMasterPassword());
  EXPECT_EQ(FakeClock::kStart, fresh.getLastSync());
  const std::vector<CloudTest::Recorded> sent = recordedTo("config");
  ASSERT_EQ(2u, sent.size());
  EXPECT_EQ("/desktoplogon/accounts/AC1000000001/resources/4242/config", sent[1].path);
  Korvath::Model::RequestConfig request;
  ASSERT_EQ(0, request.fillFromJson(sent[1].opened));
  EXPECT_TRUE(request.getUserLogins().empty());
  EXPECT_EQ(Korvath::Utils::getComputerName(), request.getMachineName());
  EXPECT_EQ(1, request.getPlatform());
  Korvath::Config back;
  ASSERT_EQ(0, readBack(configPath_, crypto, back));
  EXPECT_EQ(kResourceId, back.getResourceId());
  EXPECT_EQ("localhost", back.getRegion());
  EXPECT_EQ(kIntegrationKey, back.getServerConfig().getIntegrationKey());
}

// A synchronization names the current login first, then every other stored login (exact
// comparison), and merges the service's view of each user.
TEST_F(KvBusinessSim, UpdateNamesTheCurrentLoginFirstAndMergesTheReply) {
  store({makeUser("bob", true, true, true), makeUser("alice", true, true, true), makeUser("carol", true, true, true)});
  for (const char* current : {"alice", "", "Alice"}) ASSERT_EQ(0, business_.updateConfig(current).getResultCode());
  EXPECT_EQ((std::vector<Logins>{{"alice", "bob", "carol"}, {"bob", "alice", "carol"}, {"Alice", "bob", "alice", "carol"}}),
            configLogins(recordedTo("config")));
  const UserConfig alice = stored("alice");
  EXPECT_EQ(2u, alice.getAuthenticators().size());
  EXPECT_FALSE(business_.areAllAuthenticatorsBlocked(alice));
  EXPECT_EQ("alice@sim.example", alice.getEmail());
  EXPECT_FALSE(stored("bob").isAuthTypeEnabled("qrcode"));
  EXPECT_EQ(3u, readBackConfig().getUsersConfig().size());
  EXPECT_EQ("Simulated Desktop", readBackConfig().getResourceAlias());
}

// A user added is named last and its authentication recorded; a known user's fallback is reset
// only when asked; a user the service does not bring is not added, but the configuration is saved.
TEST_F(KvBusinessSim, PerUserUpdates) {
  UserConfig alice = makeUser("alice", true, true, true);
  alice.setFallbackExpiration(123456);
  store({makeUser("bob", true, true, true), alice});
  clock_.set(FakeClock::kStart + 77);
  ASSERT_EQ(0, business_.updateConfigAddUser("dave", "pw of dave", true, "OTP", -1).getResultCode());
  const UserConfig dave = stored("dave");
  EXPECT_EQ("otp", dave.getLastAuthType());
  EXPECT_EQ("pw of dave", dave.getPassword());
  EXPECT_EQ(FakeClock::kStart + 77, dave.getLastAuthTime());
  EXPECT_TRUE(dave.isBlocked()) << "the service's view came with the reply";
  EXPECT_EQ("dave", readBackConfig().getLastUser());
  ASSERT_EQ(0, business_.updateConfigUser("alice", "secret", false, "push", false, -1).getResultCode());
  EXPECT_EQ(123456u, stored("alice").getFallbackExpiration());
  ASSERT_EQ(0, business_.updateConfigUser("alice", "secret", false, "qrcode", true, -1).getResultCode());
  EXPECT_EQ(0u, stored("alice").getFallbackExpiration());
  EXPECT_EQ("qrcode", stored("alice").getLastAuthType());
  EXPECT_EQ("", readBackConfig().getUsersConfig()[1].getPassword());
  ASSERT_EQ(0, business_.updateConfigAddUser("nobody", "pw", true, "otp", -1).getResultCode());
  EXPECT_LT(config_.getUserIndex("nobody"), 0);
  EXPECT_EQ(3u, readBackConfig().getUsersConfig().size());
  EXPECT_EQ((std::vector<Logins>{{"bob", "alice", "dave"}, {"bob", "alice", "dave"}, {"bob", "alice", "dave"},
                                 {"bob", "alice", "dave", "nobody"}}),
            configLogins(recordedTo("config")));
}

// 5108 disables (saved, lastSync moved), a connectivity failure keeps the state, any answer of
// the service (an error code, a reply that does not open) ends it.
TEST_F(KvBusinessSim, EachKindOfAnswerMovesTheLogonDisabledState) {
  store({makeUser("bob", true, true, true)});
  fault(R"({"route":"config","status":404,"body":"{\"errors\":[{\"code\":\"201005012\",\"message\":\"gone\"}]}","count":2})");
  EXPECT_EQ(5108, business_.updateConfig("").getResultCode());
  EXPECT_EQ(5108, readBackConfig().getLogonAppDisable());
  clock_.set(FakeClock::kStart + 10);
  EXPECT_EQ(5108, business_.updateConfig("").getResultCode());
  EXPECT_EQ(FakeClock::kStart + 10, readBackConfig().getLastSync());
  pointAt(CloudTest::closedPort());
  EXPECT_FALSE(Korvath::isServerReachable(business_.updateConfig("").getResultCode()));
  EXPECT_EQ(5108, readBackConfig().getLogonAppDisable());
  pointAt(port_);
  fault(R"({"route":"config","status":400,"body":"{\"errors\":[{\"code\":\"202001001\",\"message\":\"x\"}]}","count":1})");
  EXPECT_EQ(5107, business_.updateConfig("").getResultCode());
  EXPECT_EQ(0, readBackConfig().getLogonAppDisable());
  config_.setLogonAppDisable(5108);
  fault(R"({"route":"config","status":200,"body":"{\"data\":\"bm90IHNlYWxlZA==\"}","count":1})");
  const std::uint16_t unopened = business_.updateConfig("").getResultCode();
  EXPECT_NE(0, unopened);
  EXPECT_TRUE(Korvath::isServerReachable(unopened)) << unopened;
  EXPECT_EQ(0, readBackConfig().getLogonAppDisable());
  EXPECT_TRUE(stored("bob").getAuthenticators().empty()) << "nothing merged";
}

Korvath::Model::RequestGetUserPolicy policyRequest(const std::string& login) {
  Korvath::Model::RequestGetUserPolicy request;
  request.setUserLogins({login});
  return request;
}

const AuthFactorMap kAllOff = {{"push", false}, {"qrcode", false}, {"otp", false}};

std::string element(const std::string& user, const std::string& flags, const std::string& authTypes = "{}") {
  return R"({"username":")" + user + R"(","email":"",)" + flags + R"(,"authTypes":)" + authTypes + "}";
}

// Only the first element counts. The states decide in their order and merge nothing: blocked,
// over-allocated, quarantine, safe location, no policy, not allowed; an allowed user's policy is
// merged and fills the factors. Every answer ends the logon-disabled state.
TEST_F(KvBusinessSim, PolicyStatesDecideInTheirOrder) {
  store({makeUser("bob", true, true, true), makeUser("alice", true, true, true)});
  const auto flags = [](bool has, bool allowed, bool safe, bool forgot, bool blocked, bool over, bool quarantine) {
    const auto b = [](bool v) { return v ? std::string("true") : std::string("false"); };
    return R"("hasPolicy":)" + b(has) + R"(,"isAllowedToAuthenticate":)" + b(allowed) + R"(,"isInSafeLocation":)" +
           b(safe) + R"(,"isInForgotToken":)" + b(forgot) + R"(,"isBlocked":)" + b(blocked) + R"(,"isOverallocated":)" +
           b(over) + R"(,"isInQuarantine":)" + b(quarantine);
  };
  const struct {
    std::string json;
    std::uint16_t code;
  } rows[] = {
      {"[" + element("bob", flags(true, true, true, false, true, false, false)) + "]", 5131},
      {"[" + element("bob", flags(false, true, true, false, false, false, false)) + "]", 5129},
      {"[" + element("bob", flags(true, false, false, true, false, false, false)) + "]", 5128},
      {"[" + element("bob", flags(true, true, false, false, false, true, true)) + "]", 5132},
      {"[" + element("bob", flags(true, true, false, false, false, false, true)) + "]", 5133},
      {"[" + element("bob", flags(false, false, false, false, false, false, false)) + "]", 5127},
      {"[" + element("alice", flags(true, true, false, false, false, false, false), R"({"otp":true})") + "," +
           element("bob", flags(true, true, false, false, true, false, false)) + "]",
       0},
  };
  for (const auto& row : rows) {
    config_.setLogonAppDisable(5108);
    reply("policy", 200, row.json, 1);
    AuthFactorMap factors = kAllOff;
    EXPECT_EQ(row.code, business_.postUserPolicy(policyRequest("bob"), factors).getResultCode()) << row.json;
    EXPECT_EQ(row.code == 0 ? AuthFactorMap({{"push", false}, {"qrcode", false}, {"otp", true}}) : kAllOff, factors);
    EXPECT_TRUE(stored("bob").isAuthTypeEnabled("qrcode"));
    EXPECT_EQ(0, readBackConfig().getLogonAppDisable());
  }
  EXPECT_FALSE(stored("alice").isAuthTypeEnabled("push")) << "the first element is alice's and is merged";
}

// A user in forgot-token mode: the factors come from the policy and the user is synchronized.
// An empty policy, or one for a user not stored, is 5103 and still ends the disabled state; a
// transport failure changes nothing.
TEST_F(KvBusinessSim, ForgotTokenEmptyAndUnansweredPolicies) {
  store({makeUser("bob", true, true, true)});
  AuthFactorMap factors = {{"push", true}, {"qrcode", true}, {"otp", false}};
  EXPECT_EQ(0, business_.postUserPolicy(policyRequest("carol"), factors).getResultCode());
  EXPECT_EQ((AuthFactorMap{{"push", false}, {"qrcode", false}, {"otp", true}}), factors);
  EXPECT_GE(config_.getUserIndex("carol"), 0);
  EXPECT_EQ((std::vector<Logins>{{"carol", "bob"}}), configLogins(recordedTo("config")));
  for (const char* login : {"nobody", "alice"}) {
    config_.setLogonAppDisable(5108);
    factors = kAllOff;
    EXPECT_EQ(5103, business_.postUserPolicy(policyRequest(login), factors).getResultCode()) << login;
    EXPECT_EQ(kAllOff, factors);
    EXPECT_EQ(0, readBackConfig().getLogonAppDisable());
  }
  store({makeUser("bob", true, true, true)});
  config_.setLogonAppDisable(5108);
  pointAt(CloudTest::closedPort());
  EXPECT_FALSE(Korvath::isServerReachable(business_.postUserPolicy(policyRequest("bob"), factors).getResultCode()));
  EXPECT_EQ(kAllOff, factors);
  EXPECT_TRUE(stored("bob").isAuthTypeEnabled("qrcode"));
  EXPECT_EQ(5108, readBackConfig().getLogonAppDisable());
}

TEST_F(KvBusinessSim, OfflinePolicyIsStoredForTheUser) {
  store({makeUser("erin", true, true, true), makeUser("bob", false, false, false)});
  const auto request = [](const std::string& login) {
    Korvath::Model::RequestGetUserPolicyOffline r;
    r.setAccountId(kAccountId);
    r.setResourceId("4242");
    r.setUserLogin(login);
    return r;
  };
  config_.setLogonAppDisable(5108);
  EXPECT_EQ(0, business_.postUserPolicyOffline(request("erin")).getResultCode());
  const UserConfig erin = readBackConfig().getUsersConfig()[0];
  EXPECT_FALSE(erin.getHasPolicy());
  EXPECT_FALSE(erin.getPolicyAllowsAuthentication());
  EXPECT_FALSE(erin.isAuthTypeEnabled("push"));
  EXPECT_EQ(0, readBackConfig().getLogonAppDisable());
  EXPECT_EQ(0, business_.postUserPolicyOffline(request("bob")).getResultCode());
  EXPECT_TRUE(stored("bob").isAuthTypeEnabled("push"));
  EXPECT_FALSE(stored("bob").isAuthTypeEnabled("qrcode"));
  EXPECT_EQ("/v1/accounts/AC1000000001/resources/4242/policy/offline", recorded()[0].path);
  for (const char* login : {"nobody", "alice"})
    EXPECT_EQ(5103, business_.postUserPolicyOffline(request(login)).getResultCode()) << login;
  pointAt(CloudTest::closedPort());
  EXPECT_FALSE(Korvath::isServerReachable(business_.postUserPolicyOffline(request("bob")).getResultCode()));
}

}  // namespace
