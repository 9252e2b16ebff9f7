// KvService without a reachable service: construction and copies, the shared small operations,
// the push-task queue, the start-up paths that need no answer from the cloud (the deployment
// values point at a closed loopback port), the stored-status and offline bypass decisions,
// and the About service.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <thread>

#include "Korvath/PasswordHash.h"
#include "Korvath/Platform.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/Service/KvService.h"
#include "Korvath/Service/KvServiceAbout.h"
#include "Korvath/WindowsFacts.h"
#include "ServicesTestSupport.h"

using Korvath::Model::AuthFactorMap;
using Korvath::Model::KvResult;
using Korvath::Model::UserConfig;
using Korvath::KV_ERROR_KV_RESOURCE_NOT_FOUND;
using Korvath::Service::KvService;
using namespace ServicesTest;

namespace {

class KvServiceLogic : public ServiceTestBase {};

// ------------------------------------------------------------------------- construction

TEST_F(KvServiceLogic, DefaultServiceHasAllFactorsOffAndAConfigBoundToItsCrypto) {
  KvService service;
  EXPECT_EQ((AuthFactorMap{{"otp", false}, {"push", false}, {"qrcode", false}}), service.getAuthFactors());
  EXPECT_EQ(&service.getKvCrypto(), service.getConfig().getKvCrypto());
  EXPECT_EQ(nullptr, service.getKvBusiness().getConfig());
  EXPECT_TRUE(service.getFutures().empty());
  EXPECT_EQ(0, service.getKvResult().getResultCode());
}

TEST_F(KvServiceLogic, CopySharesTheSourceStateThroughItsBusinessObjectAndTheStateMutex) {
  KvService source;
  fillService(source, {user("alice", true, true, true)});
  source.setClientIpAddress("10.0.0.7");
  source.getKvBusiness().setClientIp("10.0.0.7");
  source.getFutures().push_back(std::async(std::launch::deferred, [] { return KvResult(0); }));

  KvService copy(source);
  EXPECT_EQ(&source.getConfig(), copy.getKvBusiness().getConfig());
  EXPECT_EQ(&source.getKvCrypto(), copy.getKvBusiness().getKvCrypto());
  EXPECT_EQ(&source.getKvCrypto(), copy.getConfig().getKvCrypto());
  EXPECT_EQ(source.stateMutex().get(), copy.stateMutex().get());
  EXPECT_EQ("10.0.0.7", copy.getClientIpAddress());
  EXPECT_EQ("10.0.0.7", copy.getKvBusiness().getClientIp());
  EXPECT_GE(copy.getConfig().getUserIndex("alice"), 0);
  EXPECT_TRUE(copy.getFutures().empty());
  EXPECT_TRUE(copy.getAuthFactors().empty());
  EXPECT_EQ(1u, source.getFutures().size());
}

TEST_F(KvServiceLogic, LogonDisabledValueLearntByOneCopyReachesTheSourceAndTheOtherCopies) {
  KvService source;
  fillService(source, {user("alice", true, true, true)});
  KvService first(source);
  KvService second(source);

  // An exchange of the first copy finds the resource gone.
  first.getConfig().setLogonAppDisable(KV_ERROR_KV_RESOURCE_NOT_FOUND);
  EXPECT_EQ(0, source.getConfig().getLogonAppDisable());
  EXPECT_EQ(KV_ERROR_KV_RESOURCE_NOT_FOUND, first.syncLogonAppDisable());
  EXPECT_EQ(KV_ERROR_KV_RESOURCE_NOT_FOUND, source.checkLogonAppDisabled().getResultCode());
  EXPECT_EQ(KV_ERROR_KV_RESOURCE_NOT_FOUND, source.getConfig().getLogonAppDisable());
  EXPECT_EQ(KV_ERROR_KV_RESOURCE_NOT_FOUND, second.checkLogonAppDisabled().getResultCode());
  // A copy made afterwards starts from it.
  KvService third(source);
  EXPECT_EQ(KV_ERROR_KV_RESOURCE_NOT_FOUND, third.checkLogonAppDisabled().getResultCode());

  // A later answered exchange of the source enables every copy again.
  source.getConfig().setLogonAppDisable(0);
  EXPECT_EQ(0, source.checkLogonAppDisabled().getResultCode());
  EXPECT_EQ(0, first.checkLogonAppDisabled().getResultCode());
  EXPECT_EQ(0, first.getConfig().getLogonAppDisable());
  EXPECT_EQ(0, second.checkLogonAppDisabled().getResultCode());
  EXPECT_EQ(0, third.checkLogonAppDisabled().getResultCode());
}

TEST_F(KvServiceLogic, CopyTakesTheCryptoInputsOfItsSource) {
  KvService source;
  ASSERT_EQ(0, source.getKvCrypto().setIntegrationKey(BizCoreTest::kIntegrationKey));
  source.getKvCrypto().setAccountId(BizCoreTest::kAccountId);
  source.getKvCrypto().setResourceId("4242");
  source.getConfig().setRegion("localhost");
  KvService copy(source);
  EXPECT_EQ("localhost", copy.getConfig().getRegion());
  EXPECT_EQ(BizCoreTest::kIntegrationKey, copy.getKvCrypto().getIntegrationKey());
  EXPECT_EQ(BizCoreTest::kAccountId, copy.getKvCrypto().getAccountId());
  EXPECT_EQ("4242", copy.getKvCrypto().getResourceId());
}

// ------------------------------------------------------------------------- factors

TEST_F(KvServiceLogic, OfflineUnknownUserGetsAllFactorsAndPush) {
  KvService service;
  fillService(service, {user("alice", false, false, true)});
  AuthFactorMap factors;
  std::string last = "unset";
  service.getUserAuthFactors("nobody", factors, last, false);
  EXPECT_EQ((AuthFactorMap{{"otp", true}, {"push", true}, {"qrcode", true}}), factors);
  EXPECT_EQ("push", last);
}

TEST_F(KvServiceLogic, OfflineKnownUserKeepsAnEnabledLastFactor) {
  KvService service;
  fillService(service, {user("alice", true, true, true, "qrcode")});
  AuthFactorMap factors;
  std::string last;
  service.getUserAuthFactors("ALICE", factors, last, false);
  EXPECT_EQ("qrcode", last);
  EXPECT_TRUE(factors.at("otp"));
}

TEST_F(KvServiceLogic, OfflineKnownUserWithLastFactorPasswordGetsTheFirstEnabledFactor) {
  KvService service;
  fillService(service, {user("alice", false, true, true, "password"), user("bob", false, false, true, "password"),
                        user("carol", false, false, false, "password"), user("dan", false, false, true, "push")});
  AuthFactorMap factors;
  std::string last;
  service.getUserAuthFactors("alice", factors, last, false);
  EXPECT_EQ("qrcode", last);
  service.getUserAuthFactors("bob", factors, last, false);
  EXPECT_EQ("otp", last);
  service.getUserAuthFactors("carol", factors, last, false);
  EXPECT_EQ("otp", last);  // nothing enabled still names otp
  service.getUserAuthFactors("dan", factors, last, false);
  EXPECT_EQ("otp", last);  // last factor switched off by the policy
  EXPECT_FALSE(factors.at("push"));
}

TEST_F(KvServiceLogic, OnlineFactorsComeFromThePolicyMapForKnownAndUnknownUsers) {
  KvService service;
  fillService(service, {user("alice", true, true, true, "push")});
  // The default map (nothing refreshed yet) has every factor off.
  AuthFactorMap factors;
  std::string last;
  service.getUserAuthFactors("alice", factors, last, true);
  EXPECT_EQ((AuthFactorMap{{"otp", false}, {"push", false}, {"qrcode", false}}), factors);
  EXPECT_EQ("otp", last);
  service.getUserAuthFactors("nobody", factors, last, true);
  EXPECT_FALSE(factors.at("push"));
  EXPECT_EQ("otp", last);
}

// ------------------------------------------------------------------------- user name lookup

TEST_F(KvServiceLogic, StoredLoginReplacesTheTypedFormOrEmail) {
  KvService service;
  fillService(service, {user("Alice", true, true, true)});
  std::string name = "alice";
  EXPECT_EQ(1, service.getPelloraUsernameFromConfigFile(name));
  EXPECT_EQ("Alice", name);
  name = "alice@corp.example";  // the stored e-mail
  EXPECT_EQ(1, service.getPelloraUsernameFromConfigFile(name));
  EXPECT_EQ("Alice", name);
}

TEST_F(KvServiceLogic, UserPrincipalNameWhosePrefixIsAStoredLoginIsRewritten) {
  KvService service;
  fillService(service, {user("alice", true, true, true)});
  std::string name = "ALICE@other.example";
  EXPECT_EQ(1, service.getPelloraUsernameFromConfigFile(name));
  EXPECT_EQ("alice", name);
}

TEST_F(KvServiceLogic, UnknownUserLeavesTheNameAndASmallListAlone) {
  KvService service;
  fillService(service, {user("alice", true, true, true)});
  std::string name = "zed@corp.example";
  EXPECT_EQ(0, service.getPelloraUsernameFromConfigFile(name));
  EXPECT_EQ("zed@corp.example", name);
  EXPECT_EQ(1u, service.getConfig().getUsersConfig().size());
}

TEST_F(KvServiceLogic, UnknownUserWithAFullListRemovesTheLeastRecentlyAuthenticatedAndSaves) {
  KvService service;
  std::vector<UserConfig> users;
  for (int i = 0; i < 30; ++i) {
    UserConfig u = user("user" + std::to_string(i), true, true, true);
    u.setLastAuthTime(BizCoreTest::FakeClock::kStart + static_cast<std::uint64_t>(i == 17 ? 1 : 100 + i));
    users.push_back(u);
  }
  fillService(service, users);
  std::string name = "newcomer";
  EXPECT_EQ(0, service.getPelloraUsernameFromConfigFile(name));
  EXPECT_EQ(29u, service.getConfig().getUsersConfig().size());
  EXPECT_LT(service.getConfig().getUserIndex("user17"), 0);
  Korvath::Config back;
  ASSERT_EQ(0, BizCoreTest::readBack(dir_.file("kvconfig.cfg"), crypto_, back));
  EXPECT_EQ(29u, back.getUsersConfig().size());
  EXPECT_LT(back.getUserIndex("user17"), 0);
}

// ------------------------------------------------------------------------- push tasks

TEST_F(KvServiceLogic, EraseWithNoTaskIndexChangesNothing) {
  KvService service;
  service.getFutures().push_back(std::async(std::launch::deferred, [] { return KvResult(1); }));
  std::uint8_t index = Korvath::Service::kNoTaskIndex;
  service.eraseFutureTaskByIndex(index);
  EXPECT_EQ(1u, service.getFutures().size());
  EXPECT_EQ(255, index);
}

TEST_F(KvServiceLogic, EraseRemovesAFinishedTaskAndMovesTheOthersForward) {
  KvService service;
  std::promise<KvResult> first, second;
  first.set_value(KvResult(11));
  second.set_value(KvResult(22));
  service.getFutures().push_back(first.get_future());
  service.getFutures().push_back(second.get_future());
  std::uint8_t index = 0;
  service.eraseFutureTaskByIndex(index);
  EXPECT_EQ(255, index);
  ASSERT_EQ(1u, service.getFutures().size());
  EXPECT_EQ(22, service.getFutures().front().get().getResultCode());
}

TEST_F(KvServiceLogic, EraseOfAnIndexBehindTheQueueOnlyResetsTheIndex) {
  KvService service;
  std::promise<KvResult> done;
  done.set_value(KvResult(0));
  service.getFutures().push_back(done.get_future());
  std::uint8_t index = 3;
  service.eraseFutureTaskByIndex(index);
  EXPECT_EQ(255, index);
  EXPECT_EQ(1u, service.getFutures().size());
}

// Deferred tasks run only when waited for, so these fail when the wait is left out (the
// future of a started task would wait by itself when destroyed).
TEST_F(KvServiceLogic, EraseWaitsForATaskNotFinished) {
  KvService service;
  bool finished = false;
  service.getFutures().push_back(std::async(std::launch::deferred, [&finished] {
    finished = true;
    return KvResult(0);
  }));
  std::uint8_t index = 0;
  service.eraseFutureTaskByIndex(index);
  EXPECT_TRUE(finished);
  EXPECT_TRUE(service.getFutures().empty());
}

TEST_F(KvServiceLogic, DestructionWaitsForEveryTaskAndSurvivesAnInvalidFuture) {
  int finished = 0;
  {
    KvService service;
    service.getFutures().emplace_back();  // not valid: skipped
    for (int i = 0; i < 2; ++i) {
      service.getFutures().push_back(std::async(std::launch::deferred, [&finished] {
        ++finished;
        return KvResult(0);
      }));
    }
  }
  EXPECT_EQ(2, finished);
}

TEST_F(KvServiceLogic, CopiesMadeWhileTheDialogThreadChangesTheUserListSeeWholeStates) {
  KvService service;
  std::vector<UserConfig> users;
  for (int i = 0; i < 30; ++i) users.push_back(user("user" + std::to_string(i), true, true, true));
  fillService(service, users);
  std::atomic<bool> stop{false};
  std::thread dialog([&] {
    for (int round = 0; round < 20; ++round) {
      std::string name = "newcomer";
      service.getPelloraUsernameFromConfigFile(name);  // a full list loses a user and is saved
      auto lock = service.lockState();
      // EXPECT, not ASSERT: an early return would leave the copying loop below running forever.
      EXPECT_EQ(0, service.getConfig().setUsersConfig(users));
    }
    stop = true;
  });
  int copies = 0;
  while (!stop.load() || copies == 0) {
    KvService copy(service);
    const std::size_t size = copy.getConfig().getUsersConfig().size();
    EXPECT_TRUE(size == 29 || size == 30) << size;
    ++copies;
  }
  dialog.join();
}

// ------------------------------------------------------------------------- logon-disabled gate

TEST_F(KvServiceLogic, LogonDisabledGateAnswersTheStoredValue) {
  KvService service;
  EXPECT_EQ(0, service.checkLogonAppDisabled().getResultCode());
  service.getConfig().setLogonAppDisable(5108);
  const KvResult result = service.checkLogonAppDisabled();
  EXPECT_EQ(5108, result.getResultCode());
  EXPECT_EQ(0, result.getCloudErrorCode());
  EXPECT_TRUE(result.getRequestId().empty());
}

// ------------------------------------------------------------------------- start-up without a service

TEST_F(KvServiceLogic, NoConfigurationAndNoInstallConfigurationGives5100) {
  KvService service;
  std::uint16_t type = 99;
  std::string response = "x";
  EXPECT_EQ(5100, service.initialize(type, response).getResultCode());
  EXPECT_EQ(0, type);
  EXPECT_TRUE(response.empty());
  // Bound to its own state even when it fails.
  EXPECT_EQ(&service.getConfig(), service.getKvBusiness().getConfig());
}

TEST_F(KvServiceLogic, AConfigurationThatMayNotBeOpenedGives5138) {
  // A directory where the file should be cannot be read as one.
  std::filesystem::create_directory(std::filesystem::u8path(Korvath::Platform::configFilePath()));
  KvService service;
  std::uint16_t type = 0;
  std::string response;
  EXPECT_EQ(5138, service.initialize(type, response).getResultCode());
  EXPECT_EQ(0, type);
  std::filesystem::remove(std::filesystem::u8path(Korvath::Platform::configFilePath()));
}

TEST_F(KvServiceLogic, UnregisteredConfigurationAnswersType1WithoutDigestOrSync) {
  writeConfigFile({}, 0);
  clock_.set(BizCoreTest::FakeClock::kStart + 1000 * kHour);
  KvService service;
  std::uint16_t type = 0;
  std::string response;
  EXPECT_EQ(0, service.initialize(type, response).getResultCode());
  EXPECT_EQ(1, type);
  EXPECT_EQ(0u, registry_.values.count("Password"));
}

TEST_F(KvServiceLogic, RegisteredConfigurationWithSyncNotDueSendsNothing) {
  writeConfigFile({user("alice", true, true, true)});
  clock_.set(BizCoreTest::FakeClock::kStart + 24 * kHour);  // exactly lastSync + 24 h
  KvService service;
  service.setClientIpAddress("10.9.8.7");
  std::uint16_t type = 0;
  std::string response = "x";
  // The service is unreachable: a synchronization would have failed with a connectivity code.
  EXPECT_EQ(0, service.initialize(type, response).getResultCode());
  EXPECT_EQ(10, type);
  EXPECT_TRUE(response.empty());
  EXPECT_EQ("10.9.8.7", service.getKvBusiness().getClientIp());
  EXPECT_EQ(Korvath::Utils::getComputerName(), service.getConfig().getMachineName());
  ASSERT_EQ(1u, registry_.values.count("Password"));
  EXPECT_TRUE(Korvath::Utils::verifyPasswordHash("sim-master-password-0001", registry_.values["Password"]));
  // The clock guard stored this run.
  EXPECT_EQ(clock_.nowFileTime(), readConfigFile().getLastRun());
}

TEST_F(KvServiceLogic, SyncIsDueOneTickAfterTheInterval) {
  writeConfigFile({user("alice", true, true, true)});
  clock_.set(BizCoreTest::FakeClock::kStart + 24 * kHour + 1);
  KvService service;
  std::uint16_t type = 0;
  std::string response;
  const std::uint16_t code = service.initialize(type, response).getResultCode();
  EXPECT_NE(0, code);
  EXPECT_FALSE(Korvath::isServerReachable(code)) << code;
  EXPECT_EQ(10, type);
  // The configuration read from the file stays in force.
  EXPECT_GE(service.getConfig().getUserIndex("alice"), 0);
}

TEST_F(KvServiceLogic, AHugeSyncIntervalNeverWrapsIntoASync) {
  writeConfigFile({});
  {
    Korvath::Config config = readConfigFile();
    Korvath::ServerConfig server = config.getServerConfig();
    server.setSyncInterval(0xFFFFFFFFFFFFFFFFull / 1000);
    ASSERT_EQ(0, config.setServerConfig(server));
    ASSERT_EQ(0, config.writeFile());
  }
  clock_.set(BizCoreTest::FakeClock::kStart + 10000 * kHour);
  KvService service;
  std::uint16_t type = 0;
  std::string response;
  EXPECT_EQ(0, service.initialize(type, response).getResultCode());
  EXPECT_EQ(10, type);
}

TEST_F(KvServiceLogic, MasterPasswordDigestIsMadeAgainOnlyWhenThePasswordOrTheValueChanged) {
  writeConfigFile({});
  auto startUp = [&] {
    KvService service;
    std::uint16_t type = 0;
    std::string response;
    EXPECT_EQ(0, service.initialize(type, response).getResultCode());
    return registry_.values["Password"];
  };
  // A file without a mark (as earlier agents wrote it): the digest is made and marked.
  const std::string first = startUp();
  EXPECT_TRUE(Korvath::Utils::verifyPasswordHash("sim-master-password-0001", first));
  // Each digest has a fresh salt, so an unchanged value was not made again.
  EXPECT_EQ(first, startUp());
  registry_.values["Password"] = "pbkdf2-sha256$1$AAAAAAAAAAAAAAAAAAAAAA==$AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";
  const std::string replaced = startUp();
  EXPECT_TRUE(Korvath::Utils::verifyPasswordHash("sim-master-password-0001", replaced));
  Korvath::Config config = readConfigFile();
  config.setMasterPassword("a-new-master-password");
  ASSERT_EQ(0, config.writeFile());
  EXPECT_TRUE(Korvath::Utils::verifyPasswordHash("a-new-master-password", startUp()));
}

TEST_F(KvServiceLogic, EmptyMasterPasswordWritesNoDigest) {
  writeConfigFile({}, 4242, "");
  KvService service;
  std::uint16_t type = 0;
  std::string response;
  EXPECT_EQ(0, service.initialize(type, response).getResultCode());
  EXPECT_EQ(0u, registry_.values.count("Password"));
}

TEST_F(KvServiceLogic, StartUpTrimsTheUserListTo30) {
  std::vector<UserConfig> users;
  for (int i = 0; i < 32; ++i) {
    UserConfig u = user("user" + std::to_string(i), true, true, true);
    u.setLastAuthTime(BizCoreTest::FakeClock::kStart + static_cast<std::uint64_t>(i));
    users.push_back(u);
  }
  writeConfigFile(users);
  KvService service;
  std::uint16_t type = 0;
  std::string response;
  EXPECT_EQ(0, service.initialize(type, response).getResultCode());
  EXPECT_EQ(30u, service.getConfig().getUsersConfig().size());
  EXPECT_LT(service.getConfig().getUserIndex("user0"), 0);
  EXPECT_LT(service.getConfig().getUserIndex("user1"), 0);
  EXPECT_EQ(30u, readConfigFile().getUsersConfig().size());
}

TEST_F(KvServiceLogic, ClockSetBackClearsForgotTokenGrantsAndKeepsLastRun) {
  UserConfig granted = user("alice", true, true, true);
  granted.setFallbackExpiration(BizCoreTest::FakeClock::kStart + 5 * kHour);
  writeConfigFile({granted});
  clock_.set(BizCoreTest::FakeClock::kStart - 1);
  KvService service;
  std::uint16_t type = 0;
  std::string response;
  EXPECT_EQ(0, service.initialize(type, response).getResultCode());
  const Korvath::Config back = readConfigFile();
  EXPECT_EQ(0u, back.getUsersConfig().at(0).getFallbackExpiration());
  EXPECT_EQ(BizCoreTest::FakeClock::kStart, back.getLastRun());
}

TEST_F(KvServiceLogic, FirstRegistrationWithTheNetworkDownIsRetriedForTenSeconds) {
  writeInstallConfig();
  KvService service;
  std::uint16_t type = 0;
  std::string response;
  const std::int64_t before = clock_.monotonicMs();
  const std::uint16_t code = service.initialize(type, response).getResultCode();
  const std::int64_t waited = clock_.monotonicMs() - before;
  EXPECT_TRUE(code == 5116 || code == 5124) << code;
  EXPECT_GE(waited, 9000);
  EXPECT_LE(waited, 11000);
  EXPECT_EQ(0, type);
  // A failed registration leaves no configuration behind.
  Korvath::Config back;
  EXPECT_EQ(5101, BizCoreTest::readBack(Korvath::Platform::configFilePath(), crypto_, back));
}

// ------------------------------------------------------------------------- stored status

TEST_F(KvServiceLogic, UserStatusFollowsTheStoredRecordInOrder) {
  UserConfig blockedAndOver = user("b", true, true, true);
  blockedAndOver.setBlocked(true);
  blockedAndOver.setOverAllocated(true);
  UserConfig over = user("o", true, true, true);
  over.setOverAllocated(true);
  over.setQuarantine(true);
  UserConfig quarantine = user("q", true, true, true);
  quarantine.setQuarantine(true);
  quarantine.setHasPolicy(false);
  UserConfig noPolicy = user("n", true, true, true);
  noPolicy.setHasPolicy(false);
  noPolicy.setPolicyAllowsAuthentication(false);
  UserConfig notAllowed = user("x", true, true, true);
  notAllowed.setPolicyAllowsAuthentication(false);
  KvService service;
  fillService(service, {blockedAndOver, over, quarantine, noPolicy, notAllowed, user("ok", true, true, true)});
  const std::vector<std::pair<std::string, int>> expected = {{"b", 5131}, {"o", 5132}, {"q", 5133},   {"n", 5127},
                                                             {"x", 5143}, {"ok", 0},   {"none", 5103}};
  for (const auto& e : expected) {
    std::string name = e.first;
    const KvResult result = service.getUserStatus(name);
    EXPECT_EQ(e.second, result.getResultCode()) << e.first;
    EXPECT_EQ(0, result.getCloudErrorCode());
  }
}

TEST_F(KvServiceLogic, UserStatusRewritesAUserPrincipalNameOnlyWhenNeeded) {
  KvService service;
  fillService(service, {user("alice", true, true, true)});
  std::string name = "alice@corp.example";  // the stored e-mail: found as typed
  EXPECT_EQ(0, service.getUserStatus(name).getResultCode());
  EXPECT_EQ("alice@corp.example", name);
  name = "alice@elsewhere.example";
  EXPECT_EQ(0, service.getUserStatus(name).getResultCode());
  EXPECT_EQ("alice", name);
  name = "zed@elsewhere.example";
  EXPECT_EQ(5103, service.getUserStatus(name).getResultCode());
  EXPECT_EQ("zed", name);
}

// ------------------------------------------------------------------------- policies, service unreachable

class KvServiceOffline : public ServiceTestBase {
 protected:
  // A started service over a configuration file with these users and unknown-user setting.
  void start(const std::vector<UserConfig>& users, std::uint8_t allowUnknownUsers = 0,
             std::uint16_t logonAppDisable = 0) {
    writeConfigFile(users);
    Korvath::Config config = readConfigFile();
    Korvath::ServerConfig server = config.getServerConfig();
    server.setAllowUnknownUsers(allowUnknownUsers);
    ASSERT_EQ(0, config.setServerConfig(server));
    config.setLogonAppDisable(logonAppDisable);
    ASSERT_EQ(0, config.writeFile());
    std::uint16_t type = 0;
    std::string response;
    ASSERT_EQ(0, service_.initialize(type, response).getResultCode());
  }
  KvService service_;
};

TEST_F(KvServiceOffline, KnownUserAllowedGetsTheConnectivityCode) {
  start({user("alice", true, true, true)});
  std::string name = "alice";
  const std::uint16_t code = service_.updateUserPolicies(name, false).getResultCode();
  EXPECT_FALSE(Korvath::isServerReachable(code)) << code;
  EXPECT_EQ("alice", name);
}

TEST_F(KvServiceOffline, KnownUserWhoseStoredPolicyForbidsGets5128) {
  UserConfig alice = user("alice", true, true, true);
  alice.setPolicyAllowsAuthentication(false);
  start({alice});
  std::string name = "alice";
  EXPECT_EQ(5128, service_.updateUserPolicies(name, false).getResultCode());
}

TEST_F(KvServiceOffline, UnknownUserIsRefusedWithoutTheWhitelist) {
  start({user("alice", true, true, true)}, 1);
  std::string name = "zed";
  EXPECT_EQ(5134, service_.updateUserPolicies(name, false).getResultCode());
}

TEST_F(KvServiceOffline, UnknownUserWhoPassedOnlineBeforeIsLetThrough) {
  start({user("alice", true, true, true)}, 1);
  // Mark the login as authenticated online, as an earlier online sign-in does.
  ASSERT_TRUE(service_.getConfig().shouldBypassMfaForNonPelloraUser("zed", true));
  std::string name = "zed";
  EXPECT_EQ(7000, service_.updateUserPolicies(name, false).getResultCode());
}

TEST_F(KvServiceOffline, StoredUserTypedAsAUserPrincipalNameIsNeverLetThroughAsUnknown) {
  start({user("bob", true, true, true)}, 1);
  // The typed form left in the whitelist as an earlier agent let it through online.
  ASSERT_TRUE(service_.getConfig().shouldBypassMfaForNonPelloraUser("alice@ad.example", true));
  ASSERT_EQ(0, service_.getConfig().setUsersConfig({user("bob", true, true, true), user("alice", true, true, true)}));
  std::string name = "alice@ad.example";
  const std::uint16_t code = service_.updateUserPolicies(name, false).getResultCode();
  EXPECT_FALSE(Korvath::isServerReachable(code)) << code;
  EXPECT_EQ("alice", name);
}

TEST_F(KvServiceOffline, DisabledAgentAnswers5108) {
  start({user("alice", true, true, true)}, 1, 5108);
  std::string name = "zed";
  EXPECT_EQ(5108, service_.updateOnlineUserPolicy(name, false).getResultCode());
}

TEST_F(KvServiceOffline, PolicyRequestFailureLeavesTheFactorMapAlone) {
  start({user("alice", true, true, true)});
  service_.updateOnlineUserPolicy("alice", false);
  EXPECT_EQ((AuthFactorMap{{"otp", false}, {"push", false}, {"qrcode", false}}), service_.getAuthFactors());
}

// ------------------------------------------------------------------------- About

TEST_F(KvServiceLogic, AboutInProductionShowsTheBareVersionAndTheServerSettings) {
  KvService service;
  fillService(service, {});
  Korvath::Config& config = service.getConfig();
  config.setAccountAlias("Simulated Account");
  config.setResourceAlias("Simulated Desktop");
  config.setMachineName("DESK-01");
  Korvath::ServerConfig server = config.getServerConfig();
  server.setSyncInterval(12);
  server.setOffline(1);
  ASSERT_EQ(0, config.setServerConfig(server));
  Korvath::Service::ServiceResponseAbout about;
  EXPECT_EQ(0, Korvath::Service::KvServiceAbout(&service).about(about));
  EXPECT_EQ("localhost", about.region);
  EXPECT_EQ("prod", about.environment);
  EXPECT_EQ("Simulated Account", about.accountAlias);
  EXPECT_EQ("Simulated Desktop", about.resourceAlias);
  EXPECT_EQ("DESK-01", about.machineName);
  EXPECT_EQ("3.0.1.643", about.latestVersionKorvath);
  EXPECT_EQ(12, about.syncInterval);
  EXPECT_TRUE(about.offlineAuthentication);
  EXPECT_EQ(server.getPushTimeout(), about.pushTimeout);
}

TEST_F(KvServiceLogic, AboutOutsideProductionShowsTheLongVersion) {
  KvService service;
  for (const char* environment : {"qa", ""}) {
    ASSERT_EQ(0, service.getConfig().setEnvironment(environment));
    Korvath::Service::ServiceResponseAbout about;
    EXPECT_EQ(0, Korvath::Service::KvServiceAbout(&service).about(about));
    EXPECT_EQ("3.0.1.643 - Release - x64", about.latestVersionKorvath) << environment;
  }
}

TEST_F(KvServiceLogic, AboutWithoutAServiceAnswers5209AndLeavesTheResponse) {
  Korvath::Service::ServiceResponseAbout about;
  EXPECT_EQ(5209, Korvath::Service::KvServiceAbout(nullptr).about(about));
  EXPECT_EQ(60, about.pushTimeout);
  EXPECT_TRUE(about.latestVersionKorvath.empty());
}

}  // namespace
