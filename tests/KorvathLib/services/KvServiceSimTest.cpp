// KvService against the cloud simulator (its default fixture, docs/cloudsim.md): the first
// registration and the synchronization of the start-up, the online and offline policy refresh
// with its user-name and deleted-user rules, and the user states stored after it.

#include <gtest/gtest.h>

#include "Korvath/Model/CloudRecords.h"
#include "Korvath/Platform.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/Service/KvService.h"
#include "ServicesTestSupport.h"

using Korvath::Model::AuthFactorMap;
using Korvath::Model::KvResult;
using Korvath::Model::UserConfig;
using Korvath::Service::KvService;
using namespace ServicesTest;

namespace {

class KvServiceSim : public ServiceSimTestBase {
 protected:
  // A started service over a configuration file holding `users`; nothing sent by the start.
  void start(const std::vector<UserConfig>& users, std::int32_t resourceId = 4242) {
    writeConfigFile(users, resourceId);
    service_.setClientIpAddress("10.1.2.3");
    std::uint16_t type = 0;
    std::string response;
    ASSERT_EQ(0, service_.initialize(type, response).getResultCode());
    ASSERT_EQ(10, type);
    ASSERT_TRUE(recorded().empty());
  }
  UserConfig storedOnDisk(const std::string& login) {
    const Korvath::Config back = readConfigFile();
    const int index = back.getUserIndex(login);
    EXPECT_GE(index, 0) << login;
    return back.getUsersConfig().at(static_cast<std::size_t>(index < 0 ? 0 : index));
  }
  std::vector<std::vector<std::string>> configLogins() {
    std::vector<std::vector<std::string>> all;
    for (const CloudTest::Recorded& r : recorded("/config")) {
      Korvath::Model::RequestConfig request;
      EXPECT_EQ(0, request.fillFromJson(r.opened)) << r.opened;
      all.push_back(request.getUserLogins());
    }
    return all;
  }

  KvService service_;
};

// ------------------------------------------------------------------------- start-up

TEST_F(KvServiceSim, FirstRunRegistersExactlyOnceWhenTheServiceAnswers) {
  writeInstallConfig();
  KvService service;
  std::uint16_t type = 0;
  std::string response;
  EXPECT_EQ(0, service.initialize(type, response).getResultCode());
  EXPECT_EQ(10, type);
  EXPECT_EQ((std::vector<std::vector<std::string>>{{}}), configLogins());
  EXPECT_EQ(1u, recorded().size());
  EXPECT_EQ(4242, service.getConfig().getResourceId());
  const Korvath::Config back = readConfigFile();
  EXPECT_EQ(4242, back.getResourceId());
  EXPECT_EQ("Simulated Desktop", back.getResourceAlias());
  ASSERT_EQ(1u, registry_.values.count("Password"));
}

TEST_F(KvServiceSim, DueSynchronizationSendsTheStoredLogins) {
  writeConfigFile({user("bob", true, false, true), user("alice", true, true, true)});
  clock_.set(BizCoreTest::FakeClock::kStart + 24 * kHour + 1);
  KvService service;
  std::uint16_t type = 0;
  std::string response;
  EXPECT_EQ(0, service.initialize(type, response).getResultCode());
  EXPECT_EQ(10, type);
  EXPECT_EQ((std::vector<std::vector<std::string>>{{"bob", "alice"}}), configLogins());
  EXPECT_EQ(clock_.nowFileTime(), readConfigFile().getLastSync());
}

TEST_F(KvServiceSim, SynchronizationOfAResourceTheServiceNoLongerKnowsDisablesTheAgent) {
  writeConfigFile({user("alice", true, true, true)}, 9999);
  clock_.set(BizCoreTest::FakeClock::kStart + 25 * kHour);
  KvService service;
  std::uint16_t type = 0;
  std::string response;
  EXPECT_EQ(5108, service.initialize(type, response).getResultCode());
  EXPECT_EQ(5108, service.checkLogonAppDisabled().getResultCode());
  EXPECT_EQ(5108, readConfigFile().getLogonAppDisable());
}

// ------------------------------------------------------------------------- policies

TEST_F(KvServiceSim, KnownUserGetsThePolicyFactorsAndTheRequestCarriesTheSession) {
  start({user("bob", true, true, true)});
  std::string name = "bob";
  const KvResult result = service_.updateUserPolicies(name, true);
  EXPECT_EQ(0, result.getResultCode());
  EXPECT_EQ("bob", name);
  // bob's policy switches QR code off.
  EXPECT_EQ((AuthFactorMap{{"otp", true}, {"push", true}, {"qrcode", false}}), service_.getAuthFactors());
  const auto requests = policyRequests();
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ((std::vector<std::string>{"bob"}), requests[0].getUserLogins());
  EXPECT_EQ("USERNAME", requests[0].getLoginType());
  EXPECT_EQ("10.1.2.3", requests[0].getClientIp());
  EXPECT_TRUE(requests[0].getIsRdp());
  EXPECT_EQ(1u, recorded("/policy/offline").size());
  EXPECT_TRUE(recorded("/config").empty());
  EXPECT_FALSE(storedOnDisk("bob").getAuthTypes().at("qrcode"));
}

TEST_F(KvServiceSim, UserTypedByEmailIsAskedForWithLoginTypeEmail) {
  UserConfig bob = user("bob", true, true, true);
  bob.setEmail("bob@sim.example");
  start({bob});
  std::string name = "BOB@sim.example";
  EXPECT_EQ(0, service_.updateUserPolicies(name, false).getResultCode());
  const auto requests = policyRequests();
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ("EMAIL", requests[0].getLoginType());
}

TEST_F(KvServiceSim, UserPrincipalNameKnownByItsLoginIsRetriedAndRewritten) {
  start({user("alice", true, true, true)});
  std::string name = "alice@elsewhere.example";
  EXPECT_EQ(0, service_.updateUserPolicies(name, false).getResultCode());
  EXPECT_EQ("alice", name);
  const auto requests = policyRequests();
  ASSERT_EQ(2u, requests.size());
  EXPECT_EQ((std::vector<std::string>{"alice@elsewhere.example"}), requests[0].getUserLogins());
  EXPECT_EQ((std::vector<std::string>{"alice"}), requests[1].getUserLogins());
  // The unknown form was first looked for through a synchronization naming it first.
  const auto logins = configLogins();
  ASSERT_FALSE(logins.empty());
  EXPECT_EQ("alice@elsewhere.example", logins[0].at(0));
}

TEST_F(KvServiceSim, UnknownUnderBothFormsKeepsTheTypedNameAnd5103) {
  start({user("alice", true, true, true)});
  std::string name = "zed@elsewhere.example";
  EXPECT_EQ(5103, service_.updateUserPolicies(name, false).getResultCode());
  EXPECT_EQ("zed@elsewhere.example", name);
  EXPECT_EQ(2u, policyRequests().size());
}

TEST_F(KvServiceSim, StoredUserTheServiceNoLongerKnowsIsRemoved) {
  start({user("alice", true, true, true), user("ghost", true, true, true)});
  std::string name = "ghost";
  EXPECT_EQ(5103, service_.updateUserPolicies(name, false).getResultCode());
  EXPECT_LT(service_.getConfig().getUserIndex("ghost"), 0);
  const Korvath::Config back = readConfigFile();
  EXPECT_LT(back.getUserIndex("ghost"), 0);
  EXPECT_GE(back.getUserIndex("alice"), 0);
}

TEST_F(KvServiceSim, BlockedUserIsMarkedAndALaterAnswerClearsTheMark) {
  UserConfig alice = user("alice", true, true, true);
  alice.setBlocked(true);
  alice.setQuarantine(true);
  start({user("dave", true, true, true), alice});
  std::string name = "dave";
  EXPECT_EQ(5131, service_.updateUserPolicies(name, false).getResultCode());
  EXPECT_TRUE(storedOnDisk("dave").isBlocked());
  std::string status = "dave";
  EXPECT_EQ(5131, service_.getUserStatus(status).getResultCode());

  name = "alice";
  EXPECT_EQ(0, service_.updateUserPolicies(name, false).getResultCode());
  const UserConfig back = storedOnDisk("alice");
  EXPECT_FALSE(back.isBlocked());
  EXPECT_FALSE(back.isQuarantine());
}

TEST_F(KvServiceSim, PolicyOutcomesThatSayNothingKeepTheStoredMarks) {
  struct Case {
    const char* what;
    const char* fault;
    std::uint16_t logonAppDisable;
    std::uint16_t expected;
  };
  const Case cases[] = {
      {"an unreadable policy reply", R"({"route":"policy","status":404,"body":""})", 0, 5114},
      {"a disabled agent learnt while nothing was reached",
       R"({"route":"policy","status":200,"body":"{\"status\": \"error\"}"})", 5108, 5108},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(sim_->reset()) << sim_->lastError();
    UserConfig alice = user("alice", true, true, true);
    alice.setBlocked(true);
    writeConfigFile({alice});
    Korvath::Config config = readConfigFile();
    config.setLogonAppDisable(c.logonAppDisable);
    ASSERT_EQ(0, config.writeFile());
    KvService service;
    std::uint16_t type = 0;
    std::string response;
    ASSERT_EQ(0, service.initialize(type, response).getResultCode());
    ASSERT_TRUE(sim_->fault(c.fault)) << sim_->lastError();
    std::string name = "alice";
    EXPECT_EQ(c.expected, service.updateUserPolicies(name, false).getResultCode());
    EXPECT_TRUE(storedOnDisk("alice").isBlocked());
    EXPECT_EQ(5131, service.getUserStatus(name).getResultCode());
  }
}

TEST_F(KvServiceSim, UserWithoutPolicyGetsTheOnlineDecisionAndTheOfflinePolicyIsStored) {
  start({user("erin", true, true, true)});
  std::string name = "erin";
  EXPECT_EQ(5127, service_.updateUserPolicies(name, false).getResultCode());
  EXPECT_FALSE(storedOnDisk("erin").getPolicyAllowsAuthentication());
  EXPECT_EQ(5128, service_.updateOfflineUserPolicy("erin").getResultCode());
}

TEST_F(KvServiceSim, UnknownUserIsNotLetThroughWhenTheServiceForbidsUnknownUsers) {
  start({user("alice", true, true, true)});
  std::string name = "zed";
  EXPECT_EQ(5103, service_.updateUserPolicies(name, false).getResultCode());
  EXPECT_TRUE(readConfigFile().getUnknownUsers().empty());
}

TEST_F(KvServiceSim, DisabledAgentIsEnabledAgainByAnAnsweredPolicyRequest) {
  start({user("alice", true, true, true)});
  service_.getConfig().setLogonAppDisable(5108);
  std::string name = "alice";
  EXPECT_EQ(0, service_.updateUserPolicies(name, false).getResultCode());
  EXPECT_EQ(0, service_.checkLogonAppDisabled().getResultCode());
}

}  // namespace
