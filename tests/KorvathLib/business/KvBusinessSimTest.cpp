// KvBusiness against the cloud simulator (its default fixture, docs/cloudsim.md): the first
// registration, the configuration synchronization and the per-user updates, the
// logon-disabled state after each kind of answer, and the online and offline policy refresh.

#include <gtest/gtest.h>

#include <rapidjson/document.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BizCoreTestSupport.h"
#include "CloudTestSupport.h"
#include "Korvath/Business/KvBusiness.h"
#include "Korvath/HttpsExchange.h"
#include "Korvath/RequestId.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/WindowsFacts.h"

using namespace BizCoreTest;
using Korvath::Business::KvBusiness;
using Korvath::Model::AuthFactorMap;
using Korvath::Model::KvResult;
using Korvath::Model::UserConfig;

namespace {

using Logins = std::vector<std::string>;

class KvBusinessSim : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = CloudTest::portFromFileNamedBy("KV_CLOUDSIM_PORT_FILE");
    ASSERT_NE(port_, 0) << "KV_CLOUDSIM_PORT_FILE does not name the simulator's port file";
    const std::string ca = CloudTest::environmentValue("KV_TEST_CA_FILE");
    ASSERT_FALSE(ca.empty()) << "KV_TEST_CA_FILE is not set";
    Korvath::Cloud::HttpsExchange::addTrustAnchorFile(ca);
    pointAt(port_);
    Korvath::Platform::setAgentRegistry(&registry_);
    Korvath::Platform::setClock(&clock_);
    Korvath::clearRequestId();
    sim_.reset(new CloudTest::SimControl(port_));
    ASSERT_TRUE(sim_->reset()) << sim_->lastError();
    configPath_ = dir_.file("kvconfig.cfg");
    fillSimConfig(config_, configPath_);
    business_ = KvBusiness(&config_, &crypto_, "10.1.2.3");
  }
  void TearDown() override {
    Korvath::Platform::setAgentRegistry(nullptr);
    Korvath::Platform::setClock(nullptr);
  }

  void pointAt(std::uint16_t port) {
    registry_.values = {
        {"DesktopLogonHostPrefix", ""}, {"PolicyHostPrefix", ""}, {"DomainSuffix", ""}, {"Port", std::to_string(port)}};
  }
  void store(const std::vector<UserConfig>& users) { ASSERT_EQ(0, config_.setUsersConfig(users)); }
  UserConfig stored(const std::string& login) {
    const int index = config_.getUserIndex(login);
    EXPECT_GE(index, 0) << login;
    return config_.getUsersConfig().at(static_cast<std::size_t>(index < 0 ? 0 : index));
  }
  void reply(const std::string& route, int status, const std::string& json, unsigned count = 1) {
    ASSERT_TRUE(sim_->reply(route, status, json, count)) << sim_->lastError();
  }
  void fault(const std::string& json) { ASSERT_TRUE(sim_->fault(json)) << sim_->lastError(); }
  std::vector<CloudTest::Recorded> recorded() {
    std::vector<CloudTest::Recorded> records;
    EXPECT_TRUE(sim_->requests(records)) << sim_->lastError();
    return records;
  }
  // The userLogins of every configuration request received so far, in order.
  std::vector<Logins> configLogins() {
    std::vector<Logins> all;
    for (const CloudTest::Recorded& r : recorded()) {
      if (r.path.find("/config") == std::string::npos) continue;
      Korvath::Model::RequestConfig request;
      EXPECT_TRUE(r.hasOpened) << r.path;
      EXPECT_EQ(0, request.fillFromJson(r.opened)) << r.opened;
      all.push_back(request.getUserLogins());
    }
    return all;
  }
  Korvath::Config readBackConfig() {
    Korvath::Config back;
    EXPECT_EQ(0, readBack(configPath_, crypto_, back));
    return back;
  }

  std::uint16_t port_ = 0;
  FakeClock clock_;
  CloudTest::MapRegistry registry_;
  std::unique_ptr<CloudTest::SimControl> sim_;
  TempDir dir_;
  std::string configPath_;
  Korvath::KvCrypto crypto_;
  Korvath::Config config_{&crypto_};
  KvBusiness business_;
};

// ------------------------------------------------------------------------- registration

TEST_F(KvBusinessSim, FirstRegistrationTakesTheServiceConfigurationAndSavesIt) {
  Korvath::KvCrypto crypto;
  Korvath::Config fresh(&crypto);
  fresh.setFilePath(configPath_);
  KvBusiness business(&fresh, &crypto);
  const KvResult result = business.iniConfig("localhost", "prod", kAccountId, 4242, kIntegrationKey);
  ASSERT_EQ(0, result.getResultCode());
  EXPECT_EQ(kResourceId, fresh.getResourceId());
  EXPECT_EQ(kAccountId, fresh.getAccountId());
  EXPECT_EQ("Simulated Account", fresh.getAccountAlias());
  EXPECT_EQ("Simulated Desktop", fresh.getResourceAlias());
  EXPECT_EQ("sim-master-password-0001", fresh.getMasterPassword());
  EXPECT_EQ(kIntegrationKey, fresh.getServerConfig().getIntegrationKey());
  EXPECT_EQ(FakeClock::kStart, fresh.getLastSync());
  EXPECT_TRUE(fresh.getUsersConfig().empty());

  const std::vector<CloudTest::Recorded> records = recorded();
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ("/desktoplogon/accounts/AC1000000001/resources/4242/config", records[0].path);
  Korvath::Model::RequestConfig request;
  ASSERT_EQ(0, request.fillFromJson(records[0].opened));
  EXPECT_TRUE(request.getUserLogins().empty());
  EXPECT_EQ(Korvath::Utils::getComputerName(), request.getMachineName());
  EXPECT_EQ(1, request.getPlatform());

  Korvath::Config back;
  ASSERT_EQ(0, readBack(configPath_, crypto, back));
  EXPECT_EQ(kResourceId, back.getResourceId());
  EXPECT_EQ("localhost", back.getRegion());
  EXPECT_EQ("prod", back.getEnvironment());
}

TEST_F(KvBusinessSim, RegistrationRefusedByTheServiceLeavesNoFile) {
  Korvath::KvCrypto crypto;
  Korvath::Config fresh(&crypto);
  fresh.setFilePath(configPath_);
  KvBusiness business(&fresh, &crypto);
  // Unknown resource: the service answers 404 with its resource-not-found code.
  EXPECT_EQ(5108, business.iniConfig("localhost", "prod", kAccountId, 9999, kIntegrationKey).getResultCode());
  EXPECT_FALSE(std::filesystem::exists(configPath_));
  EXPECT_EQ(0, fresh.getResourceId());
}

// ------------------------------------------------------------------------- synchronization

TEST_F(KvBusinessSim, UpdateNamesTheCurrentLoginFirstAndMergesTheReply) {
  store({makeUser("bob", true, true, true), makeUser("alice", true, true, true), makeUser("carol", true, true, true)});
  ASSERT_EQ(0, business_.updateConfig("alice").getResultCode());
  ASSERT_EQ(0, business_.updateConfig("").getResultCode());
  ASSERT_EQ(0, business_.updateConfig("Alice").getResultCode());
  const std::vector<Logins> sent = configLogins();
  ASSERT_EQ(3u, sent.size());
  EXPECT_EQ((Logins{"alice", "bob", "carol"}), sent[0]);
  EXPECT_EQ((Logins{"bob", "alice", "carol"}), sent[1]);
  EXPECT_EQ((Logins{"Alice", "bob", "alice", "carol"}), sent[2]);

  const UserConfig alice = stored("alice");
  ASSERT_EQ(2u, alice.getAuthenticators().size());
  EXPECT_FALSE(business_.areAllAuthenticatorsBlocked(alice));
  EXPECT_EQ("alice@sim.example", alice.getEmail());
  EXPECT_FALSE(stored("bob").isAuthTypeEnabled("qrcode"));
  EXPECT_TRUE(business_.areAllAuthenticatorsBlocked(UserConfig(makeUser("x", true, true, true))));
  EXPECT_EQ(3u, readBackConfig().getUsersConfig().size());
  EXPECT_EQ("Simulated Desktop", readBackConfig().getResourceAlias());
}

TEST_F(KvBusinessSim, AddingAUserNamesItLastAndRecordsItsAuthentication) {
  store({makeUser("bob", true, true, true), makeUser("alice", true, true, true), makeUser("carol", true, true, true)});
  clock_.set(FakeClock::kStart + 77);
  ASSERT_EQ(0, business_.updateConfigAddUser("dave", "pw of dave", true, "OTP", -1).getResultCode());
  ASSERT_EQ(1u, configLogins().size());
  EXPECT_EQ((Logins{"bob", "alice", "carol", "dave"}), configLogins()[0]);
  const UserConfig dave = stored("dave");
  EXPECT_EQ("otp", dave.getLastAuthType());
  EXPECT_EQ("pw of dave", dave.getPassword());
  EXPECT_EQ(FakeClock::kStart + 77, dave.getLastAuthTime());
  EXPECT_EQ(0u, dave.getFallbackExpiration());
  EXPECT_TRUE(dave.isBlocked());  // the service's view came with the reply
  const Korvath::Config back = readBackConfig();
  EXPECT_EQ("dave", back.getLastUser());
  EXPECT_EQ(FakeClock::kStart + 77, back.getLastAuth());
  EXPECT_EQ(4u, back.getUsersConfig().size());
}

TEST_F(KvBusinessSim, UpdatingAKnownUserResetsItsFallbackOnlyWhenAsked) {
  UserConfig alice = makeUser("alice", true, true, true);
  alice.setFallbackExpiration(123456);
  store({alice});
  ASSERT_EQ(0, business_.updateConfigUser("alice", "secret", false, "push", false, -1).getResultCode());
  EXPECT_EQ(123456u, stored("alice").getFallbackExpiration());
  EXPECT_EQ("push", stored("alice").getLastAuthType());
  ASSERT_EQ(0, business_.updateConfigUser("alice", "secret", false, "qrcode", true, -1).getResultCode());
  EXPECT_EQ(0u, stored("alice").getFallbackExpiration());
  EXPECT_EQ("", readBackConfig().getUsersConfig()[0].getPassword());
  EXPECT_EQ((Logins{"alice"}), configLogins()[0]);
}

TEST_F(KvBusinessSim, AUserTheServiceDoesNotBringIsNotAddedButTheConfigurationIsSaved) {
  store({makeUser("bob", true, true, true)});
  ASSERT_EQ(0, business_.updateConfigAddUser("nobody", "pw", true, "otp", -1).getResultCode());
  EXPECT_LT(config_.getUserIndex("nobody"), 0);
  EXPECT_EQ(1u, readBackConfig().getUsersConfig().size());
  EXPECT_EQ("", readBackConfig().getLastUser());
}

// ------------------------------------------------------------------------- logon-disabled state

TEST_F(KvBusinessSim, EachKindOfAnswerMovesTheLogonDisabledStateAsItShould) {
  store({makeUser("bob", true, true, true)});
  fault(
      R"({"route":"config","status":404,"body":"{\"errors\":[{\"code\":\"201005012\",\"message\":\"gone\"}]}","count":2})");
  EXPECT_EQ(5108, business_.updateConfig("").getResultCode());
  EXPECT_EQ(5108, readBackConfig().getLogonAppDisable());
  clock_.set(FakeClock::kStart + 10);
  EXPECT_EQ(5108, business_.updateConfig("").getResultCode());  // already set: set again, lastSync moved
  EXPECT_EQ(FakeClock::kStart + 10, readBackConfig().getLastSync());

  pointAt(CloudTest::closedPort());
  const std::uint16_t down = business_.updateConfig("").getResultCode();
  EXPECT_FALSE(Korvath::isServerReachable(down)) << down;
  EXPECT_EQ(5108, readBackConfig().getLogonAppDisable());

  pointAt(port_);
  fault(
      R"({"route":"config","status":400,"body":"{\"errors\":[{\"code\":\"202001001\",\"message\":\"x\"}]}","count":1})");
  EXPECT_EQ(5107, business_.updateConfig("").getResultCode());
  EXPECT_EQ(0, readBackConfig().getLogonAppDisable());
}

TEST_F(KvBusinessSim, AReplyThatDoesNotOpenIsReportedAndStillSavesTheState) {
  store({makeUser("bob", true, true, true)});
  config_.setLogonAppDisable(5108);
  fault(R"({"route":"config","status":200,"body":"{\"data\":\"bm90IHNlYWxlZA==\"}","count":1})");
  const std::uint16_t code = business_.updateConfig("").getResultCode();
  EXPECT_NE(0, code);
  EXPECT_TRUE(Korvath::isServerReachable(code)) << code;
  EXPECT_EQ(0, readBackConfig().getLogonAppDisable());
  EXPECT_TRUE(stored("bob").getAuthenticators().empty());  // nothing merged
}

// ------------------------------------------------------------------------- online policy

Korvath::Model::RequestGetUserPolicy policyRequest(const std::string& login) {
  Korvath::Model::RequestGetUserPolicy request;
  request.setUserLogins({login});
  return request;
}

const AuthFactorMap kAllOff = {{"push", false}, {"qrcode", false}, {"otp", false}};

TEST_F(KvBusinessSim, PolicyOfAnAllowedUserIsMergedAndFillsTheFactors) {
  store({makeUser("bob", true, true, true)});
  config_.setLogonAppDisable(5108);
  AuthFactorMap factors = kAllOff;
  const KvResult result = business_.postUserPolicy(policyRequest("bob"), factors);
  EXPECT_EQ(0, result.getResultCode());
  EXPECT_EQ((AuthFactorMap{{"push", true}, {"qrcode", false}, {"otp", true}}), factors);
  EXPECT_FALSE(stored("bob").isAuthTypeEnabled("qrcode"));
  EXPECT_EQ(0, readBackConfig().getLogonAppDisable());
  const std::vector<CloudTest::Recorded> records = recorded();
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ("/v1/accounts/AC1000000001/resources/4242/policy", records[0].path);
  EXPECT_EQ(policyRequest("bob").toJson(), records[0].opened);
}

TEST_F(KvBusinessSim, PolicyStatesDecideInTheirOrderAndNothingIsMerged) {
  store({makeUser("bob", true, true, true)});
  struct Case {
    const char* json;
    std::uint16_t code;
  } cases[] = {
      {R"([{"username":"bob","email":"","hasPolicy":true,"isAllowedToAuthenticate":true,"isInSafeLocation":true,
            "isInForgotToken":false,"isBlocked":true,"isOverallocated":false,"isInQuarantine":false,"authTypes":{}}])",
       5131},
      {R"([{"username":"bob","email":"","hasPolicy":false,"isAllowedToAuthenticate":true,"isInSafeLocation":true,
            "isInForgotToken":false,"isBlocked":false,"isOverallocated":false,"isInQuarantine":false,"authTypes":{}}])",
       5129},
      {R"([{"username":"bob","email":"","hasPolicy":true,"isAllowedToAuthenticate":false,"isInSafeLocation":false,
            "isInForgotToken":true,"isBlocked":false,"isOverallocated":false,"isInQuarantine":false,"authTypes":{}}])",
       5128},
      {R"([{"username":"bob","email":"","hasPolicy":true,"isAllowedToAuthenticate":true,"isInSafeLocation":false,
            "isInForgotToken":false,"isBlocked":false,"isOverallocated":true,"isInQuarantine":true,"authTypes":{}}])",
       5132},
      {R"([{"username":"bob","email":"","hasPolicy":true,"isAllowedToAuthenticate":true,"isInSafeLocation":false,
            "isInForgotToken":false,"isBlocked":false,"isOverallocated":false,"isInQuarantine":true,"authTypes":{}}])",
       5133},
      {R"([{"username":"bob","email":"","hasPolicy":false,"isAllowedToAuthenticate":false,"isInSafeLocation":false,
            "isInForgotToken":false,"isBlocked":false,"isOverallocated":false,"isInQuarantine":false,"authTypes":{}}])",
       5127},
  };
  for (const Case& c : cases) {
    config_.setLogonAppDisable(5108);
    reply("policy", 200, c.json);
    AuthFactorMap factors = kAllOff;
    EXPECT_EQ(c.code, business_.postUserPolicy(policyRequest("bob"), factors).getResultCode()) << c.json;
    EXPECT_EQ(kAllOff, factors);
    EXPECT_TRUE(stored("bob").isAuthTypeEnabled("qrcode"));
    EXPECT_EQ(0, readBackConfig().getLogonAppDisable());  // the service answered
  }
}

TEST_F(KvBusinessSim, ForgotTokenPolicySetsTheFactorsAndSynchronizesTheUser) {
  store({makeUser("bob", true, true, true)});
  AuthFactorMap factors = {{"push", true}, {"qrcode", true}, {"otp", false}};
  // carol: push off, otp on, qrcode absent; not yet in the configuration.
  const KvResult result = business_.postUserPolicy(policyRequest("carol"), factors);
  EXPECT_EQ(0, result.getResultCode());
  EXPECT_EQ((AuthFactorMap{{"push", false}, {"qrcode", false}, {"otp", true}}), factors);
  EXPECT_GE(config_.getUserIndex("carol"), 0);
  ASSERT_EQ(1u, configLogins().size());
  EXPECT_EQ((Logins{"carol", "bob"}), configLogins()[0]);
}

TEST_F(KvBusinessSim, OnlyTheFirstPolicyElementCounts) {
  store({makeUser("bob", true, true, true), makeUser("alice", true, true, true)});
  reply("policy", 200,
        R"([{"username":"alice","email":"","hasPolicy":true,"isAllowedToAuthenticate":true,"isInSafeLocation":false,
             "isInForgotToken":false,"isBlocked":false,"isOverallocated":false,"isInQuarantine":false,
             "authTypes":{"otp":true}},
            {"username":"bob","email":"","hasPolicy":true,"isAllowedToAuthenticate":true,"isInSafeLocation":false,
             "isInForgotToken":false,"isBlocked":true,"isOverallocated":false,"isInQuarantine":false,"authTypes":{}}])");
  AuthFactorMap factors = kAllOff;
  EXPECT_EQ(0, business_.postUserPolicy(policyRequest("bob"), factors).getResultCode());
  EXPECT_EQ((AuthFactorMap{{"push", false}, {"qrcode", false}, {"otp", true}}), factors);
  EXPECT_FALSE(stored("alice").isAuthTypeEnabled("push"));
  EXPECT_TRUE(stored("bob").isAuthTypeEnabled("push"));
}

TEST_F(KvBusinessSim, AnEmptyPolicyIsAnUnknownUserAndStillEndsTheDisabledState) {
  config_.setLogonAppDisable(5108);
  AuthFactorMap factors = kAllOff;
  EXPECT_EQ(5103, business_.postUserPolicy(policyRequest("nobody"), factors).getResultCode());
  EXPECT_EQ(kAllOff, factors);
  EXPECT_EQ(0, readBackConfig().getLogonAppDisable());
  // A policy for a user the configuration does not hold cannot be merged.
  EXPECT_EQ(5103, business_.postUserPolicy(policyRequest("alice"), factors).getResultCode());
}

TEST_F(KvBusinessSim, ATransportFailureLeavesConfigurationAndFactorsAlone) {
  store({makeUser("bob", true, true, true)});
  config_.setLogonAppDisable(5108);
  pointAt(CloudTest::closedPort());
  AuthFactorMap factors = kAllOff;
  const std::uint16_t code = business_.postUserPolicy(policyRequest("bob"), factors).getResultCode();
  EXPECT_FALSE(Korvath::isServerReachable(code)) << code;
  EXPECT_EQ(kAllOff, factors);
  EXPECT_TRUE(stored("bob").isAuthTypeEnabled("qrcode"));
  EXPECT_EQ(5108, readBackConfig().getLogonAppDisable());
}

// ------------------------------------------------------------------------- offline policy

Korvath::Model::RequestGetUserPolicyOffline offlineRequest(const std::string& login) {
  Korvath::Model::RequestGetUserPolicyOffline request;
  request.setAccountId(kAccountId);
  request.setResourceId("4242");
  request.setUserLogin(login);
  return request;
}

TEST_F(KvBusinessSim, OfflinePolicyIsStoredForTheUser) {
  store({makeUser("erin", true, true, true), makeUser("bob", false, false, false)});
  config_.setLogonAppDisable(5108);
  EXPECT_EQ(0, business_.postUserPolicyOffline(offlineRequest("erin")).getResultCode());
  const UserConfig erin = readBackConfig().getUsersConfig()[0];
  EXPECT_FALSE(erin.getHasPolicy());
  EXPECT_FALSE(erin.getPolicyAllowsAuthentication());
  EXPECT_FALSE(erin.isAuthTypeEnabled("push"));
  EXPECT_EQ(0, readBackConfig().getLogonAppDisable());
  EXPECT_EQ(0, business_.postUserPolicyOffline(offlineRequest("bob")).getResultCode());
  EXPECT_TRUE(stored("bob").isAuthTypeEnabled("push"));
  EXPECT_FALSE(stored("bob").isAuthTypeEnabled("qrcode"));
  const std::vector<CloudTest::Recorded> records = recorded();
  ASSERT_EQ(2u, records.size());
  EXPECT_EQ("/v1/accounts/AC1000000001/resources/4242/policy/offline", records[0].path);
}

TEST_F(KvBusinessSim, OfflinePolicyOfAnUnknownOrUnstoredUserIs5103) {
  store({makeUser("bob", true, true, true)});
  EXPECT_EQ(5103, business_.postUserPolicyOffline(offlineRequest("nobody")).getResultCode());
  EXPECT_EQ(5103, business_.postUserPolicyOffline(offlineRequest("alice")).getResultCode());
  pointAt(CloudTest::closedPort());
  EXPECT_FALSE(Korvath::isServerReachable(business_.postUserPolicyOffline(offlineRequest("bob")).getResultCode()));
}

}  // namespace
