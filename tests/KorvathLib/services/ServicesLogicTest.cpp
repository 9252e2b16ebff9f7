// The services without a reachable service (the deployment values point at a closed loopback
// port). KvService: the state its copies share, the factors and names it hands the dialog, the
// push-task queue, the start-up paths that need no answer from the cloud, the stored status and
// the policy decisions without the service, and About. The dispatcher and the factors' services:
// what the dispatcher checks before any service, what every service answers to a request it
// refuses before any check, the offline OTP and QR-code checks and what they save, the
// forgot-token expiry, offline activation, the screen and the sign-in up to the end of a
// forgot-token period. And what they all write to the agent's log: no password or code of any
// factor, in a file that is its owner's alone.

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <future>
#include <limits>
#include <thread>
#include <tuple>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "AuthenticationSdk/AuthenticationException.h"
#include "AuthenticationSdk/AuthenticatorBlob.h"
#include "Korvath/Logger.h"
#include "Korvath/Model/TransactionData.h"
#include "Korvath/PasswordHash.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/Business/KvBusinessForgotAuthenticator.h"
#include "Korvath/Service/KvServiceAbout.h"
#include "Korvath/Service/KvServiceForgotAuthenticator.h"
#include "Korvath/Service/KvServiceOTP.h"
#include "Korvath/Service/KvServicePassword.h"
#include "Korvath/Service/KvServicePush.h"
#include "Korvath/Service/KvServiceQRCode.h"
#include "Korvath/Service/MfaAuthentication.h"
#include "ServicesTestSupport.h"

using namespace Korvath;
using namespace Korvath::Service;
using namespace ServicesTest;
using namespace Korvath::Model;

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

// (A logon-disabled value learnt by one copy reaches the source and the other copies: the
// simulator's push test whose task learns that the resource is gone.)

// Run by hand under ThreadSanitizer: clean; without the copy constructor's lock it reports the race.
TEST_F(KvServiceLogic, CopiesMadeWhileTheDialogThreadChangesTheUserListSeeWholeStates) {
  const std::vector<UserConfig> users = numberedUsers(30);
  serve(users);
  std::atomic<bool> stop{false};
  std::thread dialog([&] {
    for (int round = 0; round < 20; ++round) {
      auto lock = service_.lockState();
      service_.getConfig().removeDeletedUserFromPellora("user0");  // the list loses a user and is saved
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
  auto marked = [](const char* login, const char* bits) {
    UserConfig u = user(login, true, true, true);
    void (UserConfig::*const marks[])(bool) = {&UserConfig::setBlocked, &UserConfig::setOverAllocated,
                                               &UserConfig::setQuarantine, &UserConfig::setHasPolicy,
                                               &UserConfig::setPolicyAllowsAuthentication};
    for (int i = 0; i < 5; ++i) (u.*marks[i])(bits[i] == '1');
    return u;
  };
  serve({marked("b", "11111"), marked("o", "01111"), marked("q", "00101"), marked("n", "00000"), marked("x", "00010"),
         marked("Alice", "00011")});
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
  const fs::path configFile = fs::u8path(Platform::configFilePath());
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
    EXPECT_EQ(*password != '\0', Utils::verifyPasswordHash(password, registry_.values["Password"]));
    const std::size_t kept = std::min(users, 30);
    EXPECT_EQ(kept, service.getConfig().getUsersConfig().size());
    const Korvath::Config back = readConfigFile();
    EXPECT_EQ(kept, back.getUsersConfig().size());
    EXPECT_EQ(clock_.nowFileTime(), back.getLastRun());  // the clock guard ran
  }
  fs::remove_all(configFile);
}

// A clock moved ten years forward, back, and forward again, with a start-up at each: no stored
// user is lost and no record changes, but for the forgot-token pass that the move back ends;
// each start-up answers at once (nothing waited for, nothing tried again).
TEST_F(KvServiceLogic, AClockMovedForwardAndBackLosesNoRecordAndStartUpAnswersAtOnce) {
  const std::uint64_t t0 = BizCoreTest::FakeClock::kStart, tenYears = 3652 * 24 * kHour;
  std::vector<UserConfig> users;
  for (int i = 0; i < 30; ++i) {
    UserConfig u = user("user" + std::to_string(i), true, true, true, "otp", {mobile(1000 + i)});
    u.setLastAuthTime(t0 - kHour + static_cast<std::uint64_t>(i));
    u.setForgotTokenFailures(static_cast<std::uint8_t>(i % 4));
    users.push_back(u);
  }
  users[7].setFallbackExpiration(t0 + 8 * kHour);
  users[7].setForgotTokenGrantedAt(t0);
  clock_.set(t0);
  writeConfigFile(users);
  const std::pair<std::uint64_t, bool> moves[] = {{t0 + tenYears, false}, {t0, true}, {t0 + tenYears + 1, true}};
  for (const auto& [at, passEnded] : moves) {
    SCOPED_TRACE(at);
    clock_.set(at);
    const std::int64_t slept = clock_.sleptMs();
    KvService dialog;
    // Ten years on a synchronization is due: the service cannot be reached, and says so at once.
    const std::uint16_t result = dialog.initialize(type_, response_).getResultCode();
    EXPECT_TRUE(result == 0 || !isServerReachable(result)) << result;
    EXPECT_EQ(10, type_);
    EXPECT_EQ(slept, clock_.sleptMs());
    const std::vector<UserConfig> stored = readConfigFile().getUsersConfig();
    ASSERT_EQ(users.size(), stored.size());
    for (std::size_t i = 0; i < users.size(); ++i) {
      UserConfig expected = users[i];
      if (passEnded) {
        expected.setFallbackExpiration(0);
        expected.setForgotTokenGrantedAt(0);
      }
      EXPECT_TRUE(expected == stored[i]) << stored[i].getUserLogin();
    }
    EXPECT_EQ(t0 + tenYears + (at > t0 + tenYears ? 1 : 0), readConfigFile().getLastRun());
  }
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
  EXPECT_TRUE(Utils::verifyPasswordHash("sim-master-password-0001", first));
  // Each digest has a fresh salt, so an unchanged value was not made again.
  EXPECT_EQ(first, startUp());
  registry_.values["Password"] =
      "pbkdf2-sha256$1$AAAAAAAAAAAAAAAAAAAAAA==$AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";
  EXPECT_TRUE(Utils::verifyPasswordHash("sim-master-password-0001", startUp()));
  Korvath::Config config = readConfigFile();
  config.setMasterPassword("a-new-master-password");
  ASSERT_EQ(0, config.writeFile());
  EXPECT_TRUE(Utils::verifyPasswordHash("a-new-master-password", startUp()));
}

// ------------------------------------------------------------------------- status and policies

// Without the service the stored state decides: a user whose policy forbids is refused, and a
// stored user typed as login@domain is retried by the login before the unknown-user rule, even
// with the typed form left in the whitelist as an earlier agent let it through online.
TEST_F(KvServiceLogic, PolicyRefreshWithoutTheServiceFallsBackToTheStoredStateByTheStoredLogin) {
  UserConfig forbidden = user("fred", true, true, true);
  forbidden.setPolicyAllowsAuthentication(false);
  writeConfigFile({user("bob", true, true, true), forbidden}, 4242, "sim-master-password-0001", 1);
  KvService service;
  start(service);
  ASSERT_TRUE(service.getConfig().shouldBypassMfaForNonPelloraUser("alice@ad.example", true));
  ASSERT_EQ(0, service.getConfig().setUsersConfig({forbidden, user("alice", true, true, true)}));
  std::string name = "alice@ad.example";
  const std::uint16_t code = service.updateUserPolicies(name, false).getResultCode();
  EXPECT_FALSE(isServerReachable(code)) << code;
  EXPECT_EQ("alice", name);
  name = "fred";
  EXPECT_EQ(5128, service.updateUserPolicies(name, false).getResultCode());
}

// ------------------------------------------------------------------------- About

TEST_F(KvServiceLogic, AboutShowsTheLongVersionOutsideProduction) {
  for (const char* environment : {"prod", "qa"}) {
    ASSERT_EQ(0, service_.getConfig().setEnvironment(environment));
    ServiceResponseAbout about;
    EXPECT_EQ(0, KvServiceAbout(&service_).about(about));
    EXPECT_EQ(std::string(environment) == "prod" ? "3.0.1.643" : "3.0.1.643 - Release - x64",
              about.latestVersionKorvath);
  }
}

// ========================================================================= dispatcher and factors

class DispatchLogic : public ServiceTestBase {
 protected:
  // What a panel hands over for `mode`: alice, a code, a challenge and valid transaction data.
  static MfaAuthenticationRequest request(std::uint8_t mode) {
    Model::TransactionData data;
    EXPECT_EQ(0, data.setTimestamp(1760000000));
    EXPECT_EQ(0, data.setUser("alice"));
    // Mode, login, password, remember it, code, command, transaction data and identifier, hours,
    // challenge, online, automatic push.
    return {mode, "alice", "", false, "123456", "", data.toJson(), "", 0, "123456", true, true};
  }
};

// ------------------------------------------------------------------------- dispatcher

// The gate's 5108 shows that a request reached its service.
TEST_F(DispatchLogic, ChecksBeforeAnyService) {
  serve({user("alice", true, true, true, "", {mobile(1001)})});
  service_.getConfig().setLogonAppDisable(5108);
  MfaAuthentication dispatcher(&service_);
  for (std::uint8_t mode : {1, 2, 4, 5, 8}) {
    SCOPED_TRACE(int(mode));
    MfaAuthenticationRequest r = request(mode);
    for (bool onLine : {true, false}) {
      r.onLine = onLine;
      EXPECT_EQ(5108, dispatcher.authenticate(r).getResultCode());
    }
    r.userLogin.assign(101, 'a');
    EXPECT_EQ(5103, dispatcher.authenticate(r).getResultCode());
    r.userLogin.assign(100, 'a');
    r.userPassword.assign(301, 'p');
    EXPECT_EQ(5112, dispatcher.authenticate(r).getResultCode());
    r.userPassword.assign(300, 'p');
    EXPECT_EQ(5108, dispatcher.authenticate(r).getResultCode());
  }
  using Change = void (*)(MfaAuthenticationRequest&);
  const std::tuple<std::uint8_t, Change, std::uint16_t> cases[] = {
      {1, [](MfaAuthenticationRequest& r) { r.authData.clear(); }, 5113},
      {2, [](MfaAuthenticationRequest& r) { r.authData.clear(); }, 5113},
      {4, [](MfaAuthenticationRequest& r) { r.authData.clear(); }, 5113},
      {4, [](MfaAuthenticationRequest& r) { r.challenge.clear(); }, 5113},
      {2, [](MfaAuthenticationRequest& r) { r.transactionId.assign(35, 'x'); }, 5113},
      {2, [](MfaAuthenticationRequest& r) { r.transactionId = "123e4567-e89b-12d3-a456-426614174000"; }, 5108},
      {2, [](MfaAuthenticationRequest& r) { r.transactionData = "{not json"; },
       Model::TransactionData().fillFromJson("{not json")}};
  for (const auto& [mode, change, code] : cases) {
    MfaAuthenticationRequest r = request(mode);
    change(r);
    EXPECT_EQ(code, dispatcher.authenticate(r).getResultCode()) << int(mode) << r.challenge << r.transactionId;
  }
  // Modes without an operation here, and 9: the agent's resource is gone, the password suffices.
  for (std::uint8_t mode : {0, 3, 6, 7, 10, 9})
    EXPECT_EQ(mode == 9 ? 0 : 5113, dispatcher.authenticate(request(mode)).getResultCode()) << int(mode);
  Utils::AutoTokenCancellationRelease token;
  EXPECT_EQ(5103,
            MfaAuthentication::checkPush(std::string(101, 'a'), "", false, true, service_, token).getResultCode());
}

TEST_F(DispatchLogic, PushTasksAreQueuedInOrderAndOutliveTheirDispatcher) {
  serve({user("alice", true, true, true)});
  service_.getConfig().setLogonAppDisable(5108);
  Utils::AutoTokenCancellationRelease token;
  {
    MfaAuthentication dispatcher(&service_);
    EXPECT_EQ(255u, dispatcher.authenticateAsync(request(1), token));
    EXPECT_EQ(0u, dispatcher.authenticateAsync(request(3), token));
    EXPECT_EQ(1u, dispatcher.authenticateAsync(request(3), token));
  }
  for (auto& task : service_.getFutures()) EXPECT_EQ(5108, task.get().getResultCode());
  // Each task let go of its token reference when it ended.
  service_.getFutures().clear();
  EXPECT_EQ(1, token.holders());
}

// The push task works on its own copy: nothing it does reaches the dialog's objects in memory.
// (A business object still bound to the dialog's fails the simulator's push tests; the copy's
// configuration still sealing with the dialog's crypto fails only here.)
TEST_F(DispatchLogic, PushServiceWorksOnItsOwnCopyOfTheState) {
  serve({user("alice", true, true, true)});
  KvService copy(service_);  // as the push task receives it: pointing at the dialog's objects
  KvServicePush push(copy);
  EXPECT_EQ(&push.getService().getKvCrypto(), push.getService().getConfig().getKvCrypto());
}

// ------------------------------------------------------------------------- refusals

class ServiceRefusals : public ServiceTestBase {
 protected:
  // Runs operation `op` of the services for `login`.
  std::uint16_t run(const std::string& op, const std::string& login) {
    std::atomic<bool> internet{op == "command online"};
    KvServiceOTP otp(&service_);
    KvServiceQRCode qr(&service_, &internet);
    KvServiceForgotAuthenticator forgot(&service_);
    const auto activation = activationRequest(login, 8, op == "short challenge" ? "123" : "123456", "654321");
    if (op == "push")
      return KvServicePush(service_).sendPush(baseRequest(login), &type_, response_, nullptr).getResultCode();
    if (op == "otp online") return otp.checkOTPOnline(otpRequest(login, "123456"), type_, response_).getResultCode();
    if (op == "otp") return otp.checkOTP(otpRequest(login, "123456"), type_, response_).getResultCode();
    if (op.rfind("command", 0) == 0) return qr.genCmdQRCode(baseRequest(login), type_, response_).getResultCode();
    if (op.rfind("qr check", 0) == 0) {
      const auto request = qrRequest(login, "123456", offlineCommand("alice"), op == "qr check online");
      type_ = 0;
      response_ = kUntouched;
      return qr.checkQRCode(request, type_, response_).getResultCode();
    }
    if (op == "screen") return forgot.getForgotAuthenticatorScreen(baseRequest(login), type_, response_, &internet);
    if (op == "activation") return forgot.checkActiveForgotAuthenticatorOffline(activation, type_, response_);
    if (op == "activation online" || op == "short challenge")
      return forgot.checkActiveForgotAuthenticatorOnline(activation, type_, response_).getResultCode();
    if (op == "sign-in") return forgot.checkForgotAuthenticator(baseRequest(login), type_, response_);
    return KvServicePassword(&service_).checkPassword(baseRequest(login));
  }
};

// What every service answers to a request it refuses before any check: its code, the screen
// (type, and the first factor of the reply, or the response left alone) and nothing saved.
TEST_F(ServiceRefusals, AnswerTheirCodeAndScreenAndSaveNothing) {
  // Operation, login, offline use allowed, forgot-token mode on; code, type, first factor of the
  // reply (nullptr: the response is left alone).
  const std::tuple<const char*, const char*, int, int, int, int, const char*> cases[] = {
      // An empty login: 5013 and the screen of every factor.
      {"push", "", 1, 1, 5013, 5, "push"},
      {"otp online", "", 1, 1, 5013, 2, "otp"},
      {"command", "", 1, 1, 5013, 3, "qrcode"},
      {"command online", "", 1, 1, 5013, 3, "qrcode"},
      {"qr check", "", 1, 1, 5013, 3, "qrcode"},
      {"qr check", "mallory", 1, 1, 5013, 3, "qrcode"},  // no blobs to check against
      {"qr check online", "", 1, 1, 5013, 3, "qrcode"},
      {"screen", "", 1, 1, 5013, 6, "push"},
      {"activation", "", 1, 1, 5013, 6, "push"},
      {"activation online", "", 1, 1, 5013, 6, "push"},
      {"sign-in", "", 1, 1, 5013, 7, "push"},
      {"password", "", 1, 1, 5013, 0, nullptr},
      // A factor the user may not use: 5115 and the screen of their predominant factor.
      {"otp", "quinn", 1, 1, 5115, 4, nullptr},
      {"command", "olive", 1, 1, 5115, 2, nullptr},
      {"qr check", "olive", 1, 1, 5115, 2, nullptr},
      {"password", "olive", 1, 1, 5115, 0, nullptr},
      {"password", "pete", 1, 1, 5115, 0, nullptr},
      {"screen", "olive", 1, 0, 5115, 2, "otp"},  // forgot-token mode off
      {"activation", "olive", 1, 0, 5115, 2, "otp"},
      {"activation online", "olive", 1, 0, 5115, 2, "otp"},
      {"sign-in", "quinn", 1, 0, 5115, 4, nullptr},
      {"activation", "olive", 0, 1, 5122, 2, "otp"},  // offline use not allowed
      // Not stored (and not to be added without the service): 5104.
      {"screen", "mallory", 1, 1, 5104, 5, "push"},
      {"activation", "mallory", 1, 1, 5104, 5, "push"},
      {"activation online", "mallory", 1, 1, 5104, 5, "push"},
      {"sign-in", "mallory", 1, 1, 5104, 7, nullptr},
      {"password", "mallory", 1, 1, 5104, 0, nullptr},
      // A challenge of 1-3 characters makes the request record throw: nothing is sent.
      {"short challenge", "olive", 1, 1, 5206, 6, nullptr},
  };
  for (const auto& [op, login, offline, forgotToken, code, type, first] : cases) {
    SCOPED_TRACE(std::string(op) + " '" + login + "'");
    serve({user("alice", true, true, true, "push", {mobile(1001)}),
           user("olive", false, false, true, "otp", {mobile(2)}),
           user("quinn", false, true, false, "qrcode", {mobile(3)}), user("pete", true, false, false)});
    setServerFlags(static_cast<std::uint8_t>(offline), 1, static_cast<std::uint8_t>(forgotToken));
    type_ = 0;
    response_ = kUntouched;
    EXPECT_EQ(code, run(op, login));
    EXPECT_EQ(type, type_);
    EXPECT_EQ(first ? first : kUntouched, first ? parsed<ServiceResponseBase>(response_).getLastAuthType() : response_);
    // (An unknown user's screen tries to add the user, which may save.)
    EXPECT_TRUE(std::string(op) == "screen" || !configWritten());
  }
}

// ------------------------------------------------------------------------- offline checks

// An offline OTP or QR-code check saves the authenticator's new state after a refusal (its
// attempts) and after an acceptance (its counter); only an acceptance ends a forgot-token period;
// a check whose new state cannot be saved fails; what only the service can check goes there.
TEST_F(DispatchLogic, OfflineOtpAndQrCodeChecks) {
  for (const bool qr : {false, true}) {
    SCOPED_TRACE(qr ? "QR code" : "OTP");
    UserConfig alice = user("alice", false, true, true, "push", {mobile(1001)});
    alice.setFallbackExpiration(BizCoreTest::FakeClock::kStart + kHour);
    serve({alice});
    const ServiceResponseAuthQRCode shown = offlineCommand("alice");
    const std::string right = qr ? answerFor(alice.getAuthenticators()[0].getBlob(), shown.getCommand()) : otpCode(0);
    auto check = [&](const char* login, const std::string& code) {
      return qr ? KvServiceQRCode(&service_).checkQRCode(qrRequest(login, code, shown, false), type_, response_)
                : KvServiceOTP(&service_).checkOTP(otpRequest(login, code), type_, response_);
    };
    const KvResult refused = check("alice", wrongCode(right));
    EXPECT_NE(0, refused.getResultCode());
    EXPECT_EQ(qr ? 5204 : refused.getResultCode(), refused.getResultCode());
    // The screen again with the user's factors (and the same command).
    EXPECT_EQ(qr ? 4 : 2, type_);
    EXPECT_EQ("otp qrcode", enabledFactors(parsed<ServiceResponseBase>(response_).getAuthTypes()));
    EXPECT_EQ(shown.getCommand(), qr ? parsed<ServiceResponseAuthQRCode>(response_).getCommand() : shown.getCommand());
    EXPECT_FALSE(qr && parsed<ServiceResponseAuthQRCode>(response_).getOnLine());  // still made here
    const UserConfig afterRefusal = saved("alice");
    EXPECT_NE(alice.getAuthenticators()[0].getBlob(), afterRefusal.getAuthenticators()[0].getBlob());
    EXPECT_EQ(alice.getFallbackExpiration(), afterRefusal.getFallbackExpiration());

    EXPECT_EQ(0, check("ALICE", right).getResultCode());
    EXPECT_EQ(10, type_);
    EXPECT_EQ("", response_);
    const UserConfig afterAcceptance = saved("alice");
    EXPECT_EQ(qr ? "qrcode" : "otp", afterAcceptance.getLastAuthType());
    EXPECT_EQ(0u, afterAcceptance.getFallbackExpiration());
    EXPECT_NE(afterRefusal.getAuthenticators()[0].getBlob(), afterAcceptance.getAuthenticators()[0].getBlob());
    // The same OTP again is a replay, refused by the saved counter.
    EXPECT_TRUE(qr || check("alice", right).getResultCode() != 0);
  }
  // An accepted QR answer whose new blob state cannot be saved fails with the save's code.
  const std::string blob = saved("alice").getAuthenticators()[0].getBlob();
  service_.getConfig().setFilePath(dir_.file("missing/dir/kvconfig.cfg"));
  const ServiceResponseAuthQRCode next = offlineCommand("alice");
  const auto request = qrRequest("alice", answerFor(blob, next.getCommand()), next, false);
  EXPECT_EQ(5102, KvServiceQRCode(&service_).checkQRCode(request, type_, response_).getResultCode());

  // Only the service can check an OTP when every authenticator is blocked (it cannot be reached:
  // nothing to show) or when offline use is not allowed.
  serve({user("bob", true, true, true, "", {mobile(2, false)}), user("alice", true, true, true, "", {mobile(1001)})});
  EXPECT_EQ(5135, KvServiceOTP(&service_).checkOTP(otpRequest("bob", otpCode(0)), type_, response_).getResultCode());
  EXPECT_EQ(10, type_);
  EXPECT_EQ("", response_);
  setServerFlags(0, 1, 1);
  const KvResult asked = KvServiceOTP(&service_).checkOTP(otpRequest("alice", otpCode(0)), type_, response_);
  EXPECT_FALSE(isServerReachable(asked.getResultCode())) << asked.getResultCode();
}

// ------------------------------------------------------------------------- saves that fail

// The configuration's test hook for the saves: with g_failEverySave every rename of a save
// fails (the files stay as they are); otherwise the first rename over the main file in an
// attempt goes through (the attempt's count) and the later ones fail (its outcome).
bool g_failEverySave = false;
std::string g_mainPath;
int g_mainRenamesLeft = 0;
bool failingRename(const std::string& from, const std::string& to) {
  if (g_failEverySave || (to == g_mainPath && g_mainRenamesLeft-- <= 0)) return false;
  std::error_code ec;
  std::filesystem::rename(from, to, ec);
  return !ec;
}

std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every code checked on this machine is counted in the configuration file before it is
// checked, each one here in a new dialog over the file (a new LogonUI process, or a restart).
// While saves fail, the right and a wrong code get one answer: every save failing, the
// configuration error and files left as they were, nothing counted; only the save after the
// check failing, the same error while the count goes on to the limit, then the blocked
// user's answer, and the right code is refused while the block lasts.
TEST_F(DispatchLogic, OfflineCodesAreCountedBeforeTheyAreCheckedAndAnswerAlikeWhileSavesFail) {
  enum Factor { kOtp, kQrCode, kForgotToken };
  struct Answer {
    std::uint16_t code;
    std::uint16_t type;
    std::string response;
  };
  constexpr std::uint32_t kLimit = 4;
  for (const Factor factor : {kOtp, kQrCode, kForgotToken}) {
    for (const bool everySave : {true, false}) {
      SCOPED_TRACE(std::string(factor == kOtp      ? "OTP"
                               : factor == kQrCode ? "QR code"
                                                   : "forgot token") +
                   (everySave ? ", every save fails" : ", the save after the check fails"));
      serve({user("alice", false, true, true, "otp", {mobile(1001)})});
      ServerConfig server = service_.getConfig().getServerConfig();
      AuthenticationSdk::AuthenticationSettings settings = server.getAuthenticationSettings();
      settings.authenticationAttempts = kLimit;
      settings.autoUnblockTime = 0;
      server.setAuthenticationSettings(settings);
      ASSERT_EQ(0, service_.getConfig().setServerConfig(server));
      ASSERT_EQ(0, service_.getConfig().writeFile());
      ASSERT_EQ(0, service_.getConfig().writeFile());  // a backup to keep
      const ServiceResponseAuthQRCode shown = offlineCommand("alice");
      const std::string blob = service_.getConfig().getUserConfig(0).getAuthenticators()[0].getBlob();
      const std::string right = factor == kOtp      ? otpCode(0)
                                : factor == kQrCode ? answerFor(blob, shown.getCommand())
                                                    : adminCode("alice", 8, "123456");
      const std::string backupPath = Korvath::Config::backupPathFor(configPath_);
      const std::string mainBefore = fileBytes(configPath_), backupBefore = fileBytes(backupPath);

      // One attempt in a new dialog over the file; the forgot-token screen's new activation
      // code is left out of the answer (it is drawn anew every time, and checked here).
      auto attempt = [&](const std::string& code) {
        KvService dialog;
        EXPECT_EQ(0, dialog.getConfig().readFile(configPath_));
        dialog.getKvBusiness() = Business::KvBusiness(&dialog.getConfig(), &dialog.getKvCrypto());
        Answer answer{0, 0, kUntouched};
        if (factor == kOtp) {
          answer.code =
              KvServiceOTP(&dialog).checkOTP(otpRequest("alice", code), answer.type, answer.response).getResultCode();
        } else if (factor == kQrCode) {
          answer.code = KvServiceQRCode(&dialog)
                            .checkQRCode(qrRequest("alice", code, shown, false), answer.type, answer.response)
                            .getResultCode();
        } else {
          answer.code = KvServiceForgotAuthenticator(&dialog).checkActiveForgotAuthenticatorOffline(
              activationRequest("alice", 8, "123456", code), answer.type, answer.response);
          if (answer.type == 6) {
            auto screen = parsed<ServiceResponseActiveForgotAuthenticator>(answer.response);
            EXPECT_EQ(6u, screen.getChallenge().size());
            EXPECT_NE("123456", screen.getChallenge());
            screen.setChallenge("");
            answer.response = screen.toJson();
          }
        }
        return answer;
      };
      // Failed attempts on record: the authenticator's, or the forgot-token count.
      auto failuresOnDisk = [&] {
        const UserConfig alice = saved("alice");
        if (factor == kForgotToken) return static_cast<int>(alice.getForgotTokenFailures());
        AuthenticationSdk::AuthenticatorInfo info;
        EXPECT_EQ(0, AuthenticationSdk::Blob::inspect(alice.getAuthenticators()[0].getBlob(), info));
        return static_cast<int>(info.failedAttempts);
      };

      // What a blocked user is answered: the offline check's own refusal, without any check.
      const std::uint16_t blockedCode = factor == kOtp ? AuthenticationSdk::Exception::AUTH_ERROR_AUTHENTICATOR_BLOCKED
                                        : factor == kQrCode ? 5204
                                                            : 5105;

      g_failEverySave = everySave;
      g_mainPath = configPath_;
      ConfigFile::setReplaceFunction(failingRename);
      for (std::uint32_t round = 0; round <= kLimit; ++round) {
        SCOPED_TRACE("attempt " + std::to_string(round + 1));
        // A wrong code, then the right one typed over the same files instead.
        const std::string main = fileBytes(configPath_), backup = fileBytes(backupPath);
        g_mainRenamesLeft = 1;
        const Answer refused = attempt(wrongCode(right));
        const UserConfig afterRefusal = saved("alice");
        std::ofstream(configPath_, std::ios::binary | std::ios::trunc) << main;
        std::ofstream(backupPath, std::ios::binary | std::ios::trunc) << backup;
        g_mainRenamesLeft = 1;
        const Answer accepted = attempt(right);
        EXPECT_EQ(refused.code, accepted.code);
        EXPECT_EQ(refused.type, accepted.type);
        EXPECT_EQ(refused.response, accepted.response);
        EXPECT_TRUE(afterRefusal == saved("alice"));
        const bool blocked = !everySave && round == kLimit;
        EXPECT_EQ(blocked ? blockedCode : 5102, accepted.code);  // 5102: "Configuration is not valid."
        EXPECT_EQ(factor == kOtp ? 2 : factor == kQrCode ? 4 : 6, accepted.type);
        EXPECT_EQ(everySave ? 0 : static_cast<int>(std::min(round + 1, kLimit)), failuresOnDisk());
        // An attempt whose outcome was not saved is on record as such.
        EXPECT_EQ(!everySave && !blocked, saved("alice").getOfflineCheckPending());
      }
      ConfigFile::setReplaceFunction(nullptr);
      if (everySave) {
        EXPECT_EQ(mainBefore, fileBytes(configPath_));
        EXPECT_EQ(backupBefore, fileBytes(backupPath));
        EXPECT_EQ(0, attempt(right).code);  // nothing was counted or used up
      } else {
        // Saves work again: the block lasts (no unblock time), even for the right code.
        EXPECT_EQ(blockedCode, attempt(right).code);
        EXPECT_EQ(static_cast<int>(kLimit), failuresOnDisk());
      }
    }
  }
}

// Two dialogs typing codes at once (two sessions, two LogonUI processes) lose no count: each
// attempt counts on the record as the file holds it at that moment, not as its dialog last
// read it.
TEST_F(DispatchLogic, CodesTypedInTwoDialogsAtOnceAreAllCounted) {
  serve({user("alice", false, true, true, "otp", {mobile(1001)})});
  ServerConfig server = service_.getConfig().getServerConfig();
  AuthenticationSdk::AuthenticationSettings settings = server.getAuthenticationSettings();
  settings.authenticationAttempts = 0;  // no block: every wrong code is counted
  server.setAuthenticationSettings(settings);
  ASSERT_EQ(0, service_.getConfig().setServerConfig(server));
  ASSERT_EQ(0, service_.getConfig().writeFile());
  constexpr int kCodesEach = 12;
  KvService dialogs[2];
  for (KvService& dialog : dialogs) {
    ASSERT_EQ(0, dialog.getConfig().readFile(configPath_));
    dialog.getKvBusiness() = Business::KvBusiness(&dialog.getConfig(), &dialog.getKvCrypto());
  }
  std::vector<std::thread> typing;
  for (KvService& dialog : dialogs) {
    typing.emplace_back([&dialog] {
      for (int i = 0; i < kCodesEach; ++i) {
        std::uint16_t type = 0;
        std::string response;
        EXPECT_EQ(AuthenticationSdk::Exception::AUTH_ERROR_CODE_REJECTED,
                  KvServiceOTP(&dialog).checkOTP(otpRequest("alice", "000000"), type, response).getResultCode());
      }
    });
  }
  for (std::thread& t : typing) t.join();
  AuthenticationSdk::AuthenticatorInfo info;
  ASSERT_EQ(0, AuthenticationSdk::Blob::inspect(saved("alice").getAuthenticators()[0].getBlob(), info));
  EXPECT_EQ(2 * kCodesEach, info.failedAttempts);
  EXPECT_FALSE(saved("alice").getOfflineCheckPending());
}

// ------------------------------------------------------------------------- forgot token

// An OTP or QR-code block made while the clock ran ten years ahead holds, once the clock is put
// right, for 15 minutes from the first check that sees it, not until the clock reaches its date;
// then five wrong codes block again. Each code is checked by a new dialog's start-up over the
// same files, as after a reboot, with the SDK on the same clock.
TEST_F(DispatchLogic, ABlockDatedAheadOfTheClockRunsFromTheFirstCheckThatSeesIt) {
  const SdkOnClock sdkClock(clock_);
  const std::uint64_t tenYears = 3652 * 24 * kHour, minute = 600000000ull, t0 = BizCoreTest::FakeClock::kStart;
  for (const bool qrCode : {false, true}) {
    SCOPED_TRACE(qrCode ? "QR code" : "OTP");
    removeAgentFiles();
    clock_.set(t0 + tenYears);
    writeConfigFile({user("alice", false, true, true, qrCode ? "qrcode" : "otp", {mobile(1001)})});
    allowOfflineAndForgotToken();  // 5 attempts, unblocked after 15 minutes
    // One code in a new dialog: its result code (SDK 1 wrong, 2 blocked; QR code 5204 wrong or blocked).
    std::uint64_t counter = 0;
    auto check = [&](bool right) {
      KvService dialog;
      start(dialog);
      MfaAuthentication dispatcher(&dialog);
      if (!qrCode) {
        const std::string code = right ? otpCode(counter) : wrongCode(otpCode(counter));
        const std::uint16_t result = dispatcher.checkOtp("alice", "", false, code, false).getResultCode();
        counter += result == 0;
        return result;
      }
      const std::atomic<bool> offline{false};
      std::uint16_t type = 0;
      std::string response;
      EXPECT_EQ(0, KvServiceQRCode(&dialog, &offline).genCmdQRCode(baseRequest("alice"), type, response).getResultCode());
      const auto shown = parsed<ServiceResponseAuthQRCode>(response);
      const std::string blob = dialog.getConfig().getUserConfig(0).getAuthenticators()[0].getBlob();
      const std::string answer = answerFor(blob, shown.getCommand());
      return dispatcher
          .checkQrCode("alice", "", false, right ? answer : wrongCode(answer), shown.getCommand(),
                       shown.getTransactionData().toJson(), shown.getTransactionId(), false)
          .getResultCode();
    };
    const std::uint16_t wrong = qrCode ? 5204 : 1, blocked = qrCode ? 5204 : 2;
    for (int i = 0; i < 5; ++i) ASSERT_EQ(wrong, check(false)) << i;
    EXPECT_EQ(blocked, check(true)) << "blocked ten years ahead";
    clock_.set(t0);
    EXPECT_EQ(blocked, check(true)) << "the first check after the clock was put right";
    clock_.set(t0 + 15 * minute - 10000000ull);
    EXPECT_EQ(blocked, check(true)) << "a second before the 15 minutes";
    clock_.set(t0 + 15 * minute);
    EXPECT_EQ(0, check(true));
    for (int i = 0; i < 5; ++i) ASSERT_EQ(wrong, check(false)) << i;
    EXPECT_EQ(blocked, check(true)) << "five wrong codes block again";
    AuthenticationSdk::AuthenticatorInfo info;
    ASSERT_EQ(0, AuthenticationSdk::Blob::inspect(readConfigFile().getUsersConfig()[0].getAuthenticators()[0].getBlob(),
                                                  info));
    EXPECT_EQ(1, info.blocked);
    EXPECT_EQ(static_cast<std::uint64_t>(clock_.nowUnixMs() / 1000), info.blockedAt);
  }
}

TEST(ForgotTokenExpiry, TheServicesExpiryWinsMovedToTheLocalClockAndHeldAtTheEndsOfTheRange) {
  const std::uint64_t max = std::numeric_limits<std::uint64_t>::max(), ms = 1760000000000ull;
  const std::uint64_t asFileTime = (ms + 11644473600000ull) * 10000ull;
  // The service's expiry (Unix ms, 0: none), the local period, the service's clock ahead by, the expiry here.
  const std::tuple<std::uint64_t, std::uint64_t, std::int64_t, std::uint64_t> cases[] = {
      {0, 500, 3600, 500},
      {ms, max, 0, asFileTime},
      {ms, 0, 3600, asFileTime - kHour},
      {ms, 0, -3600, asFileTime + kHour},
      {max - 5, 0, 0, max},
      {max - 5, 0, std::numeric_limits<std::int64_t>::min(), max},
      {1, 0, std::numeric_limits<std::int64_t>::max(), 0}};
  for (const auto& [serviceExpiryMs, fallback, timeDifference, expected] : cases) {
    UserConfig user;
    user.setAuthenticatorForgottenExpiryTimestamp(serviceExpiryMs);
    user.setFallbackExpiration(fallback);
    EXPECT_EQ(expected, KvServiceForgotAuthenticator::effectiveExpiry(user, timeDifference))
        << serviceExpiryMs << " " << timeDifference;
  }
}

TEST_F(DispatchLogic, OfflineForgotTokenActivationToTheEndOfItsPeriod) {
  auto now = [&] { return clock_.nowFileTime(); };
  UserConfig frank = user("frank", true, true, true, "qrcode", {mobile(1001)});
  ASSERT_EQ(0, frank.setPassword("remembered"));
  frank.setFallbackExpiration(now() + 5 * kHour);
  serve({frank});
  KvServiceForgotAuthenticator forgot(&service_);
  std::atomic<bool> offline{false};
  auto activate = [&](const char* typed, std::uint32_t hoursOfTheCode) {
    return forgot.checkActiveForgotAuthenticatorOffline(
        activationRequest(typed, 8, "123456", adminCode("frank", hoursOfTheCode, "123456")), type_, response_);
  };
  // A code for other hours is the SDK's refusal: the running period ends and a new code is shown.
  EXPECT_NE(0, activate("frank", 9));
  EXPECT_EQ(6, type_);
  EXPECT_EQ("frank", saved("frank").getUserLogin());
  EXPECT_EQ(0u, saved("frank").getFallbackExpiration());

  EXPECT_EQ(0, activate("FRANK@corp.example", 8));
  EXPECT_EQ(10, type_);
  EXPECT_TRUE(response_.empty());
  UserConfig stored = saved("frank");
  EXPECT_EQ(now() + 8 * kHour, stored.getFallbackExpiration());
  EXPECT_EQ("qrcode", stored.getLastAuthType());
  EXPECT_TRUE(stored.getPassword().empty());

  // The sign-in up to the end of the period (an expiry equal to now still runs): recorded as any
  // sign-in, keeping no password.
  clock_.set(now() + 8 * kHour);
  EXPECT_EQ(0, forgot.getForgotAuthenticatorScreen(baseRequest("frank"), type_, response_, &offline));
  EXPECT_EQ(7, type_);
  ServiceRequestBase signIn = baseRequest("frank");
  signIn.setUserPassword("typed");
  signIn.setCheckRememberPassword(true);
  EXPECT_EQ(0, forgot.checkForgotAuthenticator(signIn, type_, response_));
  EXPECT_EQ(7, type_);
  stored = saved("frank");
  EXPECT_EQ(now(), stored.getLastAuthTime());
  EXPECT_TRUE(stored.getPassword().empty());
  EXPECT_EQ(now(), stored.getFallbackExpiration());

  clock_.set(now() + 1);
  EXPECT_EQ(0, forgot.getForgotAuthenticatorScreen(baseRequest("frank"), type_, response_, &offline));
  EXPECT_EQ(6, type_);
  EXPECT_EQ(5111, forgot.checkForgotAuthenticator(baseRequest("frank"), type_, response_));
  EXPECT_EQ(6, type_);
  EXPECT_EQ("qrcode", parsed<ServiceResponseActiveForgotAuthenticator>(response_).getLastAuthType());
}

// Wrong verification codes checked here are limited as the offline OTP's are, with the same
// settings, and counted in the stored record: every check is made by a new dialog over the file
// the last one saved. Once blocked, even the right code is refused until the unblock time has
// passed (with no unblock time, until an activation the service accepts); a block dated ahead of
// the clock (set back since) counts from now.
TEST_F(DispatchLogic, OfflineForgotTokenCodesAreCountedAndBlockedAsTheOfflineOtp) {
  const std::string right = adminCode("frank", 8, "123456");
  const std::string wrong = wrongCode(right);
  std::uint32_t attempts = 0, unblockMinutes = 0;
  // A new dialog's service over the record as it is on disk.
  auto newDialog = [&](const UserConfig& frank) {
    serve({frank});
    ServerConfig server = service_.getConfig().getServerConfig();
    AuthenticationSdk::AuthenticationSettings settings = server.getAuthenticationSettings();
    settings.authenticationAttempts = attempts;
    settings.autoUnblockTime = unblockMinutes;
    server.setAuthenticationSettings(settings);
    ASSERT_EQ(0, service_.getConfig().setServerConfig(server));
  };
  auto activate = [&](const std::string& code) {
    newDialog(saved("frank"));
    const std::uint16_t result = KvServiceForgotAuthenticator(&service_).checkActiveForgotAuthenticatorOffline(
        activationRequest("frank", 8, "123456", code), type_, response_);
    // Every refusal shows the activation screen again with a new code.
    EXPECT_TRUE(result == 0 || parsed<ServiceResponseActiveForgotAuthenticator>(response_).getChallenge() != "123456");
    return result;
  };
  // Attempts allowed, minutes of the block; wrong codes tried, those refused as wrong (then 5105).
  const std::tuple<std::uint32_t, std::uint32_t, int, int> cases[] = {{3, 15, 5, 3}, {3, 0, 4, 3}, {0, 15, 6, 6},
                                                                      {300, 1, 256, 255}};
  for (const auto& [allowed, minutes, tries, refusedAsWrong] : cases) {
    SCOPED_TRACE(std::to_string(allowed) + " attempts, " + std::to_string(minutes) + " minutes");
    attempts = allowed;
    unblockMinutes = minutes;
    newDialog(user("frank", true, true, true, "otp", {mobile(1001)}));
    ASSERT_EQ(0, service_.getConfig().writeFile());
    for (int i = 1; i <= tries; ++i) ASSERT_EQ(i <= refusedAsWrong ? 1 : 5105, activate(wrong)) << i;
    EXPECT_EQ(refusedAsWrong, saved("frank").getForgotTokenFailures());
    const bool blocked = allowed != 0;
    EXPECT_EQ(blocked ? clock_.nowFileTime() : 0u, saved("frank").getForgotTokenBlockedAt());
    if (!blocked) {
      EXPECT_EQ(0, activate(right));
    } else {
      EXPECT_EQ(5105, activate(right));
      EXPECT_EQ(6, type_);
      if (minutes != 0) {
        clock_.set(clock_.nowFileTime() + minutes * 600000000ull - 1);
        EXPECT_EQ(5105, activate(right));
        clock_.set(clock_.nowFileTime() + 1);
        EXPECT_EQ(0, activate(right));
      } else {
        clock_.set(clock_.nowFileTime() + 1000 * kHour);
        EXPECT_EQ(5105, activate(right));
      }
    }
    if (minutes == 0) {
      // The service accepted an activation: recorded as such, it ends the count and the block.
      UserConfig frank = saved("frank");
      newDialog(frank);
      ASSERT_EQ(0, Business::KvBusinessForgotAuthenticator(&service_.getConfig(), &service_.getKvCrypto(),
                                                           &service_.getKvBusiness())
                       .saveConfigUserForgotAuthenticatorByUserConfig(frank, 0, 8, "otp", true));
      EXPECT_EQ(0, activate(right));
    }
    EXPECT_EQ(0, saved("frank").getForgotTokenFailures());
    EXPECT_EQ(0u, saved("frank").getForgotTokenBlockedAt());
  }

  attempts = 3;
  unblockMinutes = 15;
  UserConfig frank = user("frank", true, true, true, "otp", {mobile(1001)});
  frank.setForgotTokenFailures(3);
  frank.setForgotTokenBlockedAt(clock_.nowFileTime() + 1000 * kHour);
  newDialog(frank);
  ASSERT_EQ(0, service_.getConfig().writeFile());
  EXPECT_EQ(5105, activate(right));
  EXPECT_EQ(clock_.nowFileTime(), saved("frank").getForgotTokenBlockedAt());
  clock_.set(clock_.nowFileTime() + 15 * 600000000ull);
  EXPECT_EQ(0, activate(right));
}

// ========================================================================= the log

// A password with blanks, quotes and separators, the shapes a careless format string cuts.
const char* const kPassword = "pw \"zq7\": hide, me=now";

class ServiceLogSecrets : public DispatchLogic {
 protected:
  void SetUp() override {
    DispatchLogic::SetUp();
    UserConfig plain = user("plain", false, false, false);  // no factor: the password suffices
    plain.setPassword("remembered");
    plain.setFallbackExpiration(BizCoreTest::FakeClock::kStart + kHour);
    serve({user("alice", true, true, true, "", {alice_}), plain});
    Logger::close();
    ASSERT_TRUE(Logger::open(logPath_));
  }
  void TearDown() override {
    Logger::close();
    DispatchLogic::TearDown();
  }
  static MfaAuthenticationRequest request(std::uint8_t mode) {
    MfaAuthenticationRequest r = DispatchLogic::request(mode);
    r.userPassword = kPassword;
    r.checkRememberPassword = true;
    return r;
  }

  const std::string logPath_ = dir_.file("agent.log");
  const Model::AuthenticatorRecord alice_ = mobile(1001);
};

TEST_F(ServiceLogSecrets, NoRecordHoldsThePasswordOrACodeOfAnyFactor) {
  MfaAuthentication dispatcher(&service_);
  // The password whole and its distinctive middle, which a cut value would still show.
  std::vector<std::string> secrets = {kPassword, "zq7"};
  const auto shown = offlineCommand("alice");
  const std::string rightQr = answerFor(alice_.getBlob(), shown.getCommand()), challenge = "482913";
  // Mode, code, the dialog online, the result (-1: the service could not be reached). A QR code
  // made here answered wrongly, then rightly (the service's own code stands once its response was
  // read as the QR-code screen); OTP online (the service cannot be reached: the offline check
  // follows, whose refusal stands) and offline; forgot-token activation with a code for other
  // hours, then the administrator's code online (only the service may check it then) and offline,
  // then the sign-in.
  const std::tuple<std::uint8_t, std::string, bool, int> cases[] = {
      {MFAAuthenticationQRCode, rightQr == "804617" ? "804618" : "804617", false, 5204},
      {MFAAuthenticationQRCode, rightQr, false, 0},
      {MFAAuthenticationOTP, "739146", true, 1},
      {MFAAuthenticationOTP, "739146", false, 1},
      {MFAAuthenticationForgotTokenActivate, adminCode("alice", 4, challenge), false, 1},
      {MFAAuthenticationForgotTokenActivate, adminCode("alice", 8, challenge), true, -1},
      {MFAAuthenticationForgotTokenActivate, adminCode("alice", 8, challenge), false, 0},
      {MFAAuthenticationForgotTokenAuthentication, "", true, 0}};
  for (const auto& [mode, code, onLine, expected] : cases) {
    MfaAuthenticationRequest r = request(mode);
    r.authData = code;
    r.onLine = onLine;
    r.command = shown.getCommand();
    r.transactionData = shown.getTransactionData().toJson();
    r.transactionId = shown.getTransactionId();
    r.time = 8;
    r.challenge = challenge;
    if (!code.empty()) secrets.push_back(code);
    const std::uint16_t result = dispatcher.authenticate(r).getResultCode();
    EXPECT_TRUE(expected < 0 ? !isServerReachable(result) : result == expected) << int(mode) << " " << result;
  }

  // Push (the service cannot be reached) and the password alone.
  Utils::AutoTokenCancellationRelease token;
  const std::uint32_t index = dispatcher.authenticateAsync(request(MFAAuthenticationPush), token);
  ASSERT_EQ(0u, index);
  EXPECT_NE(0, service_.getFutures().at(index).get().getResultCode());
  MfaAuthenticationRequest password = request(MFAAuthenticationPassword);
  password.userLogin = "plain@corp.example";
  EXPECT_EQ(0, dispatcher.authenticate(password).getResultCode());
  const Model::UserConfig signedIn = saved("plain");
  EXPECT_EQ("password", signedIn.getLastAuthType());
  EXPECT_EQ("", signedIn.getPassword());  // neither the remembered nor the typed one is kept
  EXPECT_EQ(BizCoreTest::FakeClock::kStart, signedIn.getLastAuthTime());
  EXPECT_EQ(0u, signedIn.getFallbackExpiration());

  Logger::close();
#if !defined(_WIN32)
  // Like the configuration, the log is readable by its owner only.
  struct stat st {};
  ASSERT_EQ(0, ::stat(logPath_.c_str(), &st));
  EXPECT_EQ(0u, st.st_mode & 077u);
#endif
  // Every record's message, opened with the log key of this machine, holds no secret.
  const std::vector<std::string> messages = openedLogMessages(logPath_);
  const std::size_t records = messages.size();
  for (const std::string& plain : messages)
    for (const std::string& secret : secrets)
      EXPECT_EQ(std::string::npos, plain.find(secret)) << "\"" << secret << "\" in: " << plain;
  // The services did write: their request and response lines are among the records.
  EXPECT_GT(records, 100u);
}

}  // namespace
