// KvService against the cloud simulator (its default fixture, docs/cloudsim.md): the first
// registration and the synchronization of the start-up, the online and offline policy refresh
// with its user-name and deleted-user rules, and the user marks stored after it.

#include <gtest/gtest.h>

#include "Korvath/Model/CloudRecords.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/Service/KvService.h"
#include "ServicesTestSupport.h"

using Korvath::Model::AuthFactorMap;
using Korvath::Model::UserConfig;
using Korvath::Service::KvService;
using namespace ServicesTest;

namespace {

class KvServiceSim : public ServiceSimTestBase {
 protected:
  UserConfig storedOnDisk(const std::string& login) {
    const Korvath::Config back = readConfigFile();
    const int index = back.getUserIndex(login);
    EXPECT_GE(index, 0) << login;
    return index < 0 ? UserConfig() : back.getUsersConfig().at(static_cast<std::size_t>(index));
  }
  // The logins of each configuration request, in order.
  std::vector<std::vector<std::string>> configLogins() {
    std::vector<std::vector<std::string>> all;
    for (const CloudTest::Recorded& r : recorded("/config")) {
      all.push_back(parsed<Korvath::Model::RequestConfig>(r.opened).getUserLogins());
    }
    return all;
  }
  // The opened bodies of the online policy requests (not the offline ones).
  std::vector<Korvath::Model::RequestGetUserPolicy> policyRequests() {
    std::vector<Korvath::Model::RequestGetUserPolicy> requests;
    for (const CloudTest::Recorded& r : recorded("/policy")) {
      requests.push_back(parsed<Korvath::Model::RequestGetUserPolicy>(r.opened));
    }
    return requests;
  }
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
  const Korvath::Config back = readConfigFile();
  EXPECT_EQ(4242, back.getResourceId());
  EXPECT_EQ("Simulated Desktop", back.getResourceAlias());
  EXPECT_EQ(1u, registry_.values.count("Password"));
}

TEST_F(KvServiceSim, DueSynchronizationSendsTheStoredLoginsAndMayFindTheResourceGone) {
  for (std::int32_t resource : {4242, 9999}) {
    ASSERT_TRUE(sim_->reset()) << sim_->lastError();
    writeConfigFile({user("bob", true, false, true), user("alice", true, true, true)}, resource);
    clock_.set(BizCoreTest::FakeClock::kStart + 24 * kHour + 1);
    KvService service;
    std::uint16_t type = 0;
    std::string response;
    EXPECT_EQ(resource == 4242 ? 0 : 5108, service.initialize(type, response).getResultCode());
    EXPECT_EQ(resource == 4242 ? 0 : 5108, service.checkLogonAppDisabled().getResultCode());
    EXPECT_EQ(resource == 4242 ? 0 : 5108, readConfigFile().getLogonAppDisable());
    EXPECT_EQ(1u, recorded("/config").size());
    if (resource == 4242) {
      EXPECT_EQ((std::vector<std::vector<std::string>>{{"bob", "alice"}}), configLogins());
      EXPECT_EQ(clock_.nowFileTime(), readConfigFile().getLastSync());
    }
    clock_.set(BizCoreTest::FakeClock::kStart);
  }
}

// ------------------------------------------------------------------------- policies

TEST_F(KvServiceSim, PolicyRequestsAndTheNameTheDialogGoesOnWith) {
  UserConfig bob = user("bob", true, true, true);
  bob.setEmail("bob@sim.example");
  const struct {
    const char* typed;
    int code;
    const char* name;
    std::vector<std::string> asked;  // the logins of the online policy requests, in order
    const char* loginType;           // of the first request
  } cases[] = {
      {"bob", 0, "bob", {"bob"}, "USERNAME"},
      {"BOB@sim.example", 0, "BOB@sim.example", {"BOB@sim.example"}, "EMAIL"},
      // Unknown as typed: looked for through a synchronization naming it, then by the login.
      {"alice@elsewhere.example", 0, "alice", {"alice@elsewhere.example", "alice"}, "USERNAME"},
      {"zed@elsewhere.example", 5103, "zed@elsewhere.example", {"zed@elsewhere.example", "zed"}, "USERNAME"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    ASSERT_TRUE(sim_->reset()) << sim_->lastError();
    writeConfigFile({bob, user("alice", true, true, true)});
    KvService service;
    service.setClientIpAddress("10.1.2.3");
    start(service);
    std::string name = c.typed;
    EXPECT_EQ(c.code, service.updateUserPolicies(name, true).getResultCode());
    EXPECT_EQ(c.name, name);
    const auto requests = policyRequests();
    std::vector<std::string> asked;
    for (const auto& r : requests) asked.push_back(r.getUserLogins().at(0));
    EXPECT_EQ(c.asked, asked);
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(c.loginType, requests[0].getLoginType());
    EXPECT_EQ("10.1.2.3", requests[0].getClientIp());
    EXPECT_TRUE(requests[0].getIsRdp());
    EXPECT_EQ(1u, recorded("/policy/offline").size());
    if (c.asked.size() > 1) {
      EXPECT_EQ(c.typed, configLogins().at(0).at(0));
    }
    EXPECT_TRUE(readConfigFile().getUnknownUsers().empty());
  }
}

TEST_F(KvServiceSim, KnownUserGetsThePolicyFactorsAndAUserWithoutPolicyIsStoredSo) {
  writeConfigFile({user("bob", true, true, true), user("erin", true, true, true)});
  start(service_);
  std::string name = "bob";
  EXPECT_EQ(0, service_.updateUserPolicies(name, false).getResultCode());
  // bob's policy switches QR code off.
  EXPECT_EQ((AuthFactorMap{{"otp", true}, {"push", true}, {"qrcode", false}}), service_.getAuthFactors());
  EXPECT_FALSE(storedOnDisk("bob").getAuthTypes().at("qrcode"));
  name = "erin";
  EXPECT_EQ(5127, service_.updateUserPolicies(name, false).getResultCode());
  EXPECT_EQ(5128, service_.updateOfflineUserPolicy("erin").getResultCode());
}

TEST_F(KvServiceSim, StoredUserTheServiceNoLongerKnowsIsRemoved) {
  writeConfigFile({user("alice", true, true, true), user("ghost", true, true, true)});
  start(service_);
  std::string name = "ghost";
  EXPECT_EQ(5103, service_.updateUserPolicies(name, false).getResultCode());
  EXPECT_LT(service_.getConfig().getUserIndex("ghost"), 0);
  const Korvath::Config back = readConfigFile();
  EXPECT_LT(back.getUserIndex("ghost"), 0);
  EXPECT_GE(back.getUserIndex("alice"), 0);
}

// Only a policy reply that came back with a verdict changes the marks: an outcome that says
// nothing keeps a blocked user blocked for the next offline sign-in.
TEST_F(KvServiceSim, PolicyOutcomesThatSayNothingKeepTheStoredMarks) {
  const struct {
    const char* login;
    const char* fault;
    std::uint16_t logonAppDisable;
    std::uint16_t expected;
    bool blockedBefore, blockedAfter;
  } cases[] = {
      {"dave", "", 0, 5131, false, true},  // the service's verdicts
      {"alice", "", 0, 0, true, false},
      {"alice", R"({"route":"policy","status":404,"body":""})", 0, 5114, true, true},  // an unreadable reply
      // A disabled agent learnt while nothing was reached.
      {"alice", R"({"route":"policy","status":200,"body":"{\"status\": \"error\"}"})", 5108, 5108, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.login) + " " + c.fault);
    ASSERT_TRUE(sim_->reset()) << sim_->lastError();
    UserConfig stored = user(c.login, true, true, true);
    stored.setBlocked(c.blockedBefore);
    stored.setQuarantine(c.blockedBefore);
    writeConfigFile({stored});
    Korvath::Config config = readConfigFile();
    config.setLogonAppDisable(c.logonAppDisable);
    ASSERT_EQ(0, config.writeFile());
    KvService service;
    start(service);
    if (*c.fault) fault(c.fault);
    std::string name = c.login;
    EXPECT_EQ(c.expected, service.updateUserPolicies(name, false).getResultCode());
    EXPECT_EQ(c.blockedAfter, storedOnDisk(c.login).isBlocked());
    EXPECT_EQ(c.blockedAfter && c.blockedBefore, storedOnDisk(c.login).isQuarantine());
    EXPECT_EQ(c.blockedAfter ? 5131 : 0, service.getUserStatus(name).getResultCode());
  }
}

}  // namespace
