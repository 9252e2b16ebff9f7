// KvService without a reachable service (the deployment values point at a closed loopback
// port): the state its copies share, the factors and names it hands the dialog, the push-task
// queue, the start-up paths that need no answer from the cloud, the stored status and the
// policy decisions without the service, and the About service.

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <future>
#include <thread>
#include <tuple>

#include "Korvath/PasswordHash.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/Service/KvServiceAbout.h"
#include "ServicesTestSupport.h"

using Korvath::Model::AuthFactorMap;
using Korvath::Model::KvResult;
using Korvath::Model::UserConfig;
using Korvath::Service::KvService;
using namespace ServicesTest;

namespace {

class KvServiceLogic : public ServiceTestBase {};

std::vector<UserConfig> numberedUsers(int count) {
  std::vector<UserConfig> users;
  for (int i = 0; i < count; ++i) {
    users.push_back(user("user" + std::to_string(i), true, true, true));
    users.back().setLastAuthTime(BizCoreTest::FakeClock::kStart + static_cast<std::uint64_t>(i));
  }
  return users;
}

// ------------------------------------------------------------------------- copies

TEST_F(KvServiceLogic, LogonDisabledValueLearntByOneCopyReachesTheSourceAndTheOtherCopies) {
  serve({user("alice", true, true, true)});
  KvService first(service_);
  KvService second(service_);
  // An exchange of the first copy finds the resource gone.
  first.getConfig().setLogonAppDisable(5108);
  EXPECT_EQ(5108, first.syncLogonAppDisable());
  EXPECT_EQ(5108, service_.checkLogonAppDisabled().getResultCode());
  EXPECT_EQ(5108, second.checkLogonAppDisabled().getResultCode());
  // A later answered exchange of the source enables every copy again.
  service_.getConfig().setLogonAppDisable(0);
  for (KvService* s : {&service_, &first, &second}) EXPECT_EQ(0, s->checkLogonAppDisabled().getResultCode());
}

// Run by hand under ThreadSanitizer: clean; without the copy constructor's lock it reports the race.
TEST_F(KvServiceLogic, CopiesMadeWhileTheDialogThreadChangesTheUserListSeeWholeStates) {
  const std::vector<UserConfig> users = numberedUsers(30);
  serve(users);
  std::atomic<bool> stop{false};
  std::thread dialog([&] {
    for (int round = 0; round < 20; ++round) {
      std::string name = "newcomer";
      service_.getPelloraUsernameFromConfigFile(name);  // a full list loses a user and is saved
      auto lock = service_.lockState();
      // EXPECT, not ASSERT: an early return would leave the copying loop below running forever.
      EXPECT_EQ(0, service_.getConfig().setUsersConfig(users));
    }
    stop = true;
  });
  int copies = 0;
  while (!stop.load() || copies == 0) {
    KvService copy(service_);
    const std::size_t size = copy.getConfig().getUsersConfig().size();
    EXPECT_TRUE(size == 29 || size == 30) << size;
    ++copies;
  }
  dialog.join();
}

// ------------------------------------------------------------------------- factors and names

TEST_F(KvServiceLogic, FactorsOfferedAndTheFirstPanelsFactor) {
  serve({user("alice", true, true, true, "qrcode"), user("bob", false, true, true, "password"),
         user("carol", false, false, true, "push"), user("dan", false, false, false, "")});
  // Offline the stored factors (all for an unknown user), online the policy's (all off before
  // any refresh); the last factor when it is on, else push, QR code, OTP.
  const std::tuple<const char*, bool, const char*, const char*> cases[] = {
      {"nobody", false, "otp push qrcode", "push"},
      {"ALICE", false, "otp push qrcode", "qrcode"},
      {"bob", false, "otp qrcode", "qrcode"},
      {"carol", false, "otp", "otp"},
      {"dan", false, "", "otp"},
      {"alice", true, "", "otp"}};
  for (const auto& [login, online, on, expectedFirst] : cases) {
    AuthFactorMap factors;
    std::string first;
    service_.getUserAuthFactors(login, factors, first, online);
    EXPECT_EQ(on, enabledFactors(factors)) << login << " online " << online;
    EXPECT_EQ(expectedFirst, first) << login << " online " << online;
  }
}

// The name the dialog goes on with (the stored login; as typed when unknown) and the stored
// status, whose check takes login@domain by the login and otherwise keeps the typed form.
TEST_F(KvServiceLogic, TypedNamesAndTheStoredStatus) {
  // Blocked, over-allocated, in quarantine, with a policy, allowed by it: status order.
  auto marked = [](const char* login, bool blocked, bool over, bool quarantine, bool policy, bool allows) {
    UserConfig u = user(login, true, true, true);
    u.setBlocked(blocked);
    u.setOverAllocated(over);
    u.setQuarantine(quarantine);
    u.setHasPolicy(policy);
    u.setPolicyAllowsAuthentication(allows);
    return u;
  };
  serve({marked("b", true, true, true, true, true), marked("o", false, true, true, true, true),
         marked("q", false, false, true, false, true), marked("n", false, false, false, false, false),
         marked("x", false, false, false, true, false), marked("Alice", false, false, false, true, true)});
  // Typed; found, the dialog's name; the status, the status check's name.
  const std::tuple<const char*, int, const char*, int, const char*> cases[] = {
      {"b", 1, "b", 5131, "b"},
      {"o", 1, "o", 5132, "o"},
      {"q", 1, "q", 5133, "q"},
      {"n", 1, "n", 5127, "n"},
      {"x", 1, "x", 5143, "x"},
      {"alice", 1, "Alice", 0, "alice"},
      {"alice@corp.example", 1, "Alice", 0, "alice@corp.example"},  // the stored e-mail
      {"ALICE@other.example", 1, "Alice", 0, "ALICE"},
      {"zed@corp.example", 0, "zed@corp.example", 5103, "zed"},
      {"none", 0, "none", 5103, "none"}};
  for (const auto& [typed, found, dialogName, status, statusName] : cases) {
    std::string name = typed;
    EXPECT_EQ(found, service_.getPelloraUsernameFromConfigFile(name)) << typed;
    EXPECT_EQ(dialogName, name);
    name = typed;
    EXPECT_EQ(status, service_.getUserStatus(name).getResultCode()) << typed;
    EXPECT_EQ(statusName, name);
  }

  // An unknown name with 30 stored users removes the least recently authenticated one and saves.
  serve(numberedUsers(30));
  std::string name = "newcomer";
  EXPECT_EQ(0, service_.getPelloraUsernameFromConfigFile(name));
  EXPECT_EQ(29u, service_.getConfig().getUsersConfig().size());
  EXPECT_TRUE(saved("user0").getUserLogin().empty());
  EXPECT_EQ("user1", saved("user1").getUserLogin());
}

// ------------------------------------------------------------------------- push tasks

// Deferred tasks run only when waited for, so these fail when a wait is left out (the future of
// a started task would wait by itself when destroyed).
TEST_F(KvServiceLogic, PushTaskQueueWaitsForTheTasksItLetsGo) {
  int finished = 0;
  {
    KvService service;
    service.getFutures().emplace_back();  // not valid: skipped
    for (int code : {11, 22, 33}) {
      service.getFutures().push_back(std::async(std::launch::deferred, [&finished, code] {
        ++finished;
        return KvResult(static_cast<std::uint16_t>(code));
      }));
    }
    // No task, an index behind the queue, the task of 11.
    for (std::uint8_t index : {std::uint8_t(255), std::uint8_t(4), std::uint8_t(1)}) {
      service.eraseFutureTaskByIndex(index);
      EXPECT_EQ(255, index);
    }
    EXPECT_EQ(1, finished);
    ASSERT_EQ(3u, service.getFutures().size());
    EXPECT_EQ(22, service.getFutures().at(1).get().getResultCode());
  }
  EXPECT_EQ(3, finished);  // the destructor waited for the last one
}

// ------------------------------------------------------------------------- start-up

TEST_F(KvServiceLogic, StartUpWithoutTheService) {
  namespace fs = std::filesystem;
  const fs::path configFile = fs::u8path(Korvath::Platform::configFilePath());
  // What: files (0 none, 1 a directory where the file belongs, 2 the configuration of this row,
  // 3 the install configuration), resource, master password, users, sync interval, clock, code,
  // type. The service is unreachable: a registration or synchronization fails with 5116 or 5124.
  const std::tuple<const char*, int, std::int32_t, const char*, int, std::uint64_t, std::uint64_t, int, int> cases[] = {
      {"nothing installed", 0, 0, "", 0, 24, 0, 5100, 0},
      {"a configuration that may not be opened", 1, 0, "", 0, 24, 0, 5138, 0},
      {"a first registration, tried again for ten seconds", 3, 0, "", 0, 24, 0, 5116, 0},
      {"not registered", 2, 0, "pw", 1, 24, 1000 * kHour, 0, 1},
      {"no synchronization at exactly lastSync + the interval", 2, 4242, "pw", 1, 24, 24 * kHour, 0, 10},
      {"a due synchronization: its failure is the result", 2, 4242, "pw", 1, 24, 24 * kHour + 1, 5116, 10},
      {"an interval whose product with an hour wraps to 24 minutes", 2, 4242, "pw", 1, 512409558, 10000 * kHour, 0, 10},
      {"no master password", 2, 4242, "", 1, 24, 0, 0, 10},
      {"32 users", 2, 4242, "pw", 32, 24, 0, 0, 10},
  };
  for (const auto& [what, files, resource, password, users, interval, clock, code, expectedType] : cases) {
    SCOPED_TRACE(what);
    std::error_code ec;
    fs::remove_all(configFile, ec);
    registry_.values.erase("Password");
    clock_.set(BizCoreTest::FakeClock::kStart);
    if (files == 1) fs::create_directory(configFile);
    if (files == 2) writeConfigFile(numberedUsers(users), resource, password, 0, interval);
    if (files == 3) writeInstallConfig();
    clock_.set(BizCoreTest::FakeClock::kStart + clock);
    KvService service;
    type_ = 99;
    response_ = "x";
    const std::int64_t before = clock_.monotonicMs();
    const std::uint16_t result = service.initialize(type_, response_).getResultCode();
    EXPECT_EQ(code, result == 5124 ? 5116 : result);
    EXPECT_EQ(files == 3, clock_.monotonicMs() - before >= 9000);
    EXPECT_LE(clock_.monotonicMs() - before, 11000);
    EXPECT_EQ(expectedType, type_);
    EXPECT_TRUE(response_.empty());
    EXPECT_EQ(files == 2, fs::is_regular_file(configFile));  // a failed registration leaves no configuration
    if (type_ != 10) continue;
    EXPECT_EQ(*password != '\0', Korvath::Utils::verifyPasswordHash(password, registry_.values["Password"]));
    const std::size_t kept = std::min(users, 30);
    EXPECT_EQ(kept, service.getConfig().getUsersConfig().size());
    const Korvath::Config back = readConfigFile();
    EXPECT_EQ(kept, back.getUsersConfig().size());
    EXPECT_EQ(clock_.nowFileTime(), back.getLastRun());  // the clock guard ran
  }
  fs::remove_all(configFile);
}

TEST_F(KvServiceLogic, MasterPasswordDigestIsMadeAgainOnlyWhenThePasswordOrTheValueChanged) {
  writeConfigFile({});
  auto startUp = [&] {
    KvService service;
    start(service);
    return registry_.values["Password"];
  };
  // A file without a mark (as earlier agents wrote it): the digest is made and marked.
  const std::string first = startUp();
  EXPECT_TRUE(Korvath::Utils::verifyPasswordHash("sim-master-password-0001", first));
  // Each digest has a fresh salt, so an unchanged value was not made again.
  EXPECT_EQ(first, startUp());
  registry_.values["Password"] =
      "pbkdf2-sha256$1$AAAAAAAAAAAAAAAAAAAAAA==$AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";
  EXPECT_TRUE(Korvath::Utils::verifyPasswordHash("sim-master-password-0001", startUp()));
  Korvath::Config config = readConfigFile();
  config.setMasterPassword("a-new-master-password");
  ASSERT_EQ(0, config.writeFile());
  EXPECT_TRUE(Korvath::Utils::verifyPasswordHash("a-new-master-password", startUp()));
}

// ------------------------------------------------------------------------- status and policies

class KvServiceOffline : public ServiceTestBase {};

TEST_F(KvServiceOffline, PolicyRefreshWithoutTheServiceFallsBackToTheStoredState) {
  UserConfig forbidden = user("fred", true, true, true);
  forbidden.setPolicyAllowsAuthentication(false);
  writeConfigFile({user("alice", true, true, true), forbidden});
  KvService service;
  start(service);
  std::string name = "alice";
  const std::uint16_t code = service.updateUserPolicies(name, false).getResultCode();
  EXPECT_FALSE(Korvath::isServerReachable(code)) << code;
  name = "fred";
  EXPECT_EQ(5128, service.updateUserPolicies(name, false).getResultCode());
}

TEST_F(KvServiceOffline, StoredUserTypedAsAUserPrincipalNameIsNeverLetThroughAsUnknown) {
  writeConfigFile({user("bob", true, true, true)}, 4242, "sim-master-password-0001", 1);
  KvService service;
  start(service);
  // The typed form left in the whitelist as an earlier agent let it through online.
  ASSERT_TRUE(service.getConfig().shouldBypassMfaForNonPelloraUser("alice@ad.example", true));
  ASSERT_EQ(0, service.getConfig().setUsersConfig({user("bob", true, true, true), user("alice", true, true, true)}));
  std::string name = "alice@ad.example";
  const std::uint16_t code = service.updateUserPolicies(name, false).getResultCode();
  EXPECT_FALSE(Korvath::isServerReachable(code)) << code;
  EXPECT_EQ("alice", name);
}

// ------------------------------------------------------------------------- About

TEST_F(KvServiceLogic, AboutShowsTheLongVersionOutsideProduction) {
  for (const char* environment : {"prod", "qa"}) {
    ASSERT_EQ(0, service_.getConfig().setEnvironment(environment));
    Korvath::Service::ServiceResponseAbout about;
    EXPECT_EQ(0, Korvath::Service::KvServiceAbout(&service_).about(about));
    EXPECT_EQ(std::string(environment) == "prod" ? "3.0.1.643" : "3.0.1.643 - Release - x64",
              about.latestVersionKorvath);
  }
}

}  // namespace
