// The services against the cloud simulator (its default fixture, docs/cloudsim.md). KvService
// and the QR-code and forgot-token services: the first registration and the synchronization of
// the start-up, the policy refresh with its user-name rules and the user marks stored after it;
// commands from the service and the fall-back to offline, online checks and the updates after
// them, online activation and what it records, and the synchronization of the forgot-token
// screen. The dispatcher, the push service and the OTP service: what a push records for a new
// or a stored user after approval, denial, a failure to reach the service or a cancellation;
// online OTP and its fall-back to the offline check; and a push task running while the dialog
// thread uses the configuration.

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <tuple>

#include "AuthenticationSdk/AuthenticatorBlob.h"
#include "Korvath/Logger.h"
#include "Korvath/Model/CloudRecords.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/Service/KvServiceForgotAuthenticator.h"
#include "Korvath/Service/KvServiceOTP.h"
#include "Korvath/Service/KvServicePush.h"
#include "Korvath/Service/KvServiceQRCode.h"
#include "Korvath/Service/MfaAuthentication.h"
#include "ServicesTestSupport.h"

using namespace Korvath;
using namespace Korvath::Service;
using namespace ServicesTest;
using namespace Korvath::Model;

namespace {

UserConfig storedAlice(bool qrcode = true, bool active = true, bool push = true) {
  UserConfig alice = user("alice", push, qrcode, true, "", {mobile(1001, active)});
  alice.setEmail("alice@sim.example");
  return alice;
}

class KvServiceSim : public ServiceSimTestBase {
 protected:
  // saved() reads the configuration at its default place, where start-up reads and saves it.
  void SetUp() override {
    ServiceSimTestBase::SetUp();
    configPath_ = Platform::configFilePath();
  }
};

// ------------------------------------------------------------------------- start-up

// The first run registers once; a later start-up synchronizes when due, sending the stored logins.
TEST_F(KvServiceSim, FirstRunRegistersOnceAndADueStartUpSynchronizes) {
  writeInstallConfig();
  KvService first;
  start(first);
  EXPECT_EQ(1u, recorded().size());
  EXPECT_EQ(4242, readConfigFile().getResourceId());

  writeConfigFile({user("bob", true, false, true), user("alice", true, true, true)});
  clock_.set(BizCoreTest::FakeClock::kStart + 24 * kHour + 1);
  start(service_);
  EXPECT_EQ((std::vector<std::vector<std::string>>{{}, {"bob", "alice"}}),
            BizCoreTest::configLogins(recorded("/config")));
  EXPECT_EQ(clock_.nowFileTime(), readConfigFile().getLastSync());
}

// ------------------------------------------------------------------------- the clock set back

// A forgot-token pass, granted by the service (online activation) or here (offline), is honoured
// until the clock is set back: by a day, to 2017, or to a minute before the grant (between the
// dialog's start and the grant, within the guard's 5 minutes of the latest time stored). Then the
// next sign-in is refused with the reason in the log, also once the clock is right again; the
// service's pass comes back only when the service brings it anew (a synchronization), the local
// one never. Every step is a new dialog's start-up over the same files, as after a reboot.
TEST_F(KvServiceSim, ClockSetBackEndsEveryForgotTokenPassUntilTheServiceBringsItAgain) {
  const std::uint64_t t0 = BizCoreTest::FakeClock::kStart, minute = 600000000ull;
  const std::uint64_t june2017 = 131413536000000000ull;
  const std::string logPath = dir_.file("agent.log");
  const std::string challenge = "123456";
  // The forgot-token screen and sign-in of a dialog at the clock's time; of a new dialog.
  auto signInWith = [&](KvService& dialog) {
    KvServiceForgotAuthenticator forgot(&dialog);
    std::atomic<bool> online{false};
    EXPECT_EQ(0, forgot.getForgotAuthenticatorScreen(baseRequest("alice"), type_, response_, &online));
    const std::uint16_t screen = type_;
    const std::uint16_t code = forgot.checkForgotAuthenticator(baseRequest("alice"), type_, response_);
    EXPECT_EQ(code == 0 ? 7 : 6, screen);
    return code;
  };
  auto signIn = [&] {
    KvService dialog;
    start(dialog);
    return signInWith(dialog);
  };
  // The dialog in which the pass was granted, at t0 + 5 minutes.
  std::unique_ptr<KvService> granting;
  // How the clock moves after the grant.
  const std::pair<const char*, std::function<void()>> moves[] = {
      {"one day back",
       [&] {
         clock_.set(t0 + kHour);
         EXPECT_EQ(0, signIn());
         clock_.set(t0 + kHour - 24 * kHour);
       }},
      {"six hours back, after another dialog's sign-in, while the granting dialog is still open",
       [&] {
         clock_.set(t0 + 7 * kHour);
         EXPECT_EQ(0, signIn());
         clock_.set(t0 + kHour);
         EXPECT_EQ(5111, signInWith(*granting));
       }},
      {"to 2017", [&] { clock_.set(june2017); }},
      {"between the dialog's start and the grant", [&] { clock_.set(t0 + 4 * minute); }},
  };
  for (const bool byTheService : {false, true}) {
    for (const auto& [how, move] : moves) {
      SCOPED_TRACE(std::string(byTheService ? "the service's pass, " : "a local pass, ") + how);
      removeAgentFiles();
      Logger::close();
      std::remove(logPath.c_str());
      ASSERT_TRUE(Logger::open(logPath));
      clock_.set(t0);
      writeConfigFile({storedAlice()});
      allowOfflineAndForgotToken();
      granting = std::make_unique<KvService>();
      start(*granting);
      clock_.set(t0 + 5 * minute);
      KvServiceForgotAuthenticator forgot(granting.get());
      const auto request = activationRequest("alice", 8, challenge, adminCode("alice", 8, challenge));
      EXPECT_EQ(0, byTheService ? forgot.checkActiveForgotAuthenticatorOnline(request, type_, response_).getResultCode()
                                : forgot.checkActiveForgotAuthenticatorOffline(request, type_, response_));
      EXPECT_EQ(0, signInWith(*granting));
      const UserConfig granted = saved("alice");
      EXPECT_EQ(byTheService, granted.getAuthenticatorForgottenExpiryTimestamp() != 0);
      EXPECT_EQ(t0 + 5 * minute, granted.getForgotTokenGrantedAt());
      move();
      EXPECT_EQ(5111, signIn());
      std::size_t reasons = 0;
      for (const std::string& message : openedLogMessages(logPath))
        reasons += message.find("the forgot-token pass of alice ended: the clock was set back") != std::string::npos;
      EXPECT_GE(reasons, 1u);
      // The clock right again, past every time stored and within the 8 hours: the pass stays ended.
      const std::uint64_t right = t0 + 7 * kHour + 30 * minute;
      clock_.set(right);
      EXPECT_EQ(5111, signIn());
      EXPECT_EQ(0u, saved("alice").getFallbackExpiration());
      // The service brings its pass again at a synchronization; nothing brings the local one back.
      {
        KvService dialog;
        start(dialog);
        EXPECT_EQ(0, dialog.getKvBusiness().updateConfig(std::string()).getResultCode());
      }
      EXPECT_EQ(byTheService ? 0 : 5111, signIn());
      // Brought again, it is granted anew: a clock set back before that ends it, however little.
      clock_.set(right - minute);
      EXPECT_EQ(5111, signIn());
      granting.reset();
    }
  }
  Logger::close();
}

// A pass the service granted for one hour while the clock here ran three days fast is not
// honoured past its hour once the clock is put right without the service: the clock now reads
// three days behind the latest time stored.
TEST_F(KvServiceSim, PassGrantedWhileTheClockRanFastEndsWhenTheClockIsPutRightOffline) {
  const std::uint64_t t0 = BizCoreTest::FakeClock::kStart;
  clock_.set(t0 + 72 * kHour);
  writeConfigFile({storedAlice()});
  allowOfflineAndForgotToken();
  KvService dialog;
  start(dialog);
  KvServiceForgotAuthenticator forgot(&dialog);
  EXPECT_EQ(0, forgot.checkActiveForgotAuthenticatorOnline(activationRequest("alice", 1, "654321",
                                                                             adminCode("alice", 1, "654321")),
                                                           type_, response_)
                   .getResultCode());
  EXPECT_EQ(0, forgot.checkForgotAuthenticator(baseRequest("alice"), type_, response_));
  BizCoreTest::pointAtClosedPort(registry_);
  const std::uint64_t laters[] = {0, 30 * 600000000ull, kHour + 1, 70 * kHour};
  for (const std::uint64_t later : laters) {
    clock_.set(t0 + later);
    KvService next;
    start(next);
    EXPECT_EQ(5111, KvServiceForgotAuthenticator(&next).checkForgotAuthenticator(baseRequest("alice"), type_, response_))
        << later;
  }
}

// One start-up while the clock ran a year ahead leaves that year as the latest time stored, and
// with the clock right again no pass would be honoured until the year had passed. A
// synchronization whose server time this clock agrees with shows that time came from a clock
// that ran ahead: it comes back to now, and a pass the service then grants is honoured.
TEST_F(KvServiceSim, TheLatestTimeFromAClockThatRanAheadComesBackWhenTheServicesClockAgreesWithThisOne) {
  const auto realNow = [] {
    const auto unix = std::chrono::duration_cast<std::chrono::seconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
    return (static_cast<std::uint64_t>(unix) + 11644473600ull) * 10000000ull;
  };
  const std::uint64_t year = 365 * 24 * kHour;
  const std::uint64_t ahead = realNow() + year;
  clock_.set(ahead);
  writeConfigFile({storedAlice()});
  allowOfflineAndForgotToken();
  {
    KvService aheadDialog;
    start(aheadDialog);
  }
  clock_.set(realNow());
  KvService dialog;
  start(dialog);
  EXPECT_EQ(ahead, readConfigFile().getLastRun());
  KvServiceForgotAuthenticator forgot(&dialog);
  EXPECT_EQ(0, forgot.checkActiveForgotAuthenticatorOnline(
                         activationRequest("alice", 8, "123456", adminCode("alice", 8, "123456")), type_, response_)
                   .getResultCode());
  const Config back = readConfigFile();
  EXPECT_EQ(clock_.nowFileTime(), back.getLastRun());
  EXPECT_EQ(clock_.nowFileTime(), back.getLastSync());
  EXPECT_EQ(0, forgot.checkForgotAuthenticator(baseRequest("alice"), type_, response_));
  KvService next;
  start(next);
  EXPECT_EQ(0, KvServiceForgotAuthenticator(&next).checkForgotAuthenticator(baseRequest("alice"), type_, response_));
}

// ------------------------------------------------------------------------- policies

TEST_F(KvServiceSim, PolicyRequestsAndTheNameTheDialogGoesOnWith) {
  UserConfig bob = user("bob", true, true, true);
  bob.setEmail("bob@sim.example");
  // Typed, code, name afterwards, logins asked for, login type, first login synchronized, factors
  // on. Unknown as typed: looked for through a synchronization naming it, then by the login.
  const std::tuple<const char*, int, const char*, const char*, const char*, const char*, const char*> cases[] = {
      {"bob", 0, "bob", "bob", "USERNAME", "", "otp push"},  // bob's policy switches QR code off
      {"BOB@sim.example", 0, "BOB@sim.example", "BOB@sim.example", "EMAIL", "", "otp push"},
      {"alice@else.example", 0, "alice", "alice@else.example alice", "USERNAME", "alice@else.example",
       "otp push qrcode"},
      {"zed@else.example", 5103, "zed@else.example", "zed@else.example zed", "USERNAME", "zed@else.example", ""}};
  for (const auto& [typed, code, expectedName, asked, loginType, synced, factors] : cases) {
    SCOPED_TRACE(typed);
    ASSERT_TRUE(sim_->reset()) << sim_->lastError();
    writeConfigFile({bob, user("alice", true, true, true)});
    KvService service;
    service.setClientIpAddress("10.1.2.3");
    start(service);
    std::string name = typed;
    EXPECT_EQ(code, service.updateUserPolicies(name, true).getResultCode());
    EXPECT_EQ(expectedName, name);
    EXPECT_EQ(factors, enabledFactors(service.getAuthFactors()));
    std::string logins;
    for (const CloudTest::Recorded& r : recorded("/policy")) {
      const auto request = parsed<Model::RequestGetUserPolicy>(r.opened);
      logins += (logins.empty() ? "" : " ") + request.getUserLogins().at(0);
      EXPECT_EQ(loginType, request.getLoginType());
      EXPECT_EQ("10.1.2.3", request.getClientIp());
      EXPECT_TRUE(request.getIsRdp());
    }
    EXPECT_EQ(asked, logins);
    EXPECT_EQ(1u, recorded("/policy/offline").size());
    const auto configs = recorded("/config");
    EXPECT_EQ(synced, configs.empty() ? "" : parsed<Model::RequestConfig>(configs[0].opened).getUserLogins().at(0));
  }
}

// With 30 users stored, a name the service does not know evicts nobody; a user it knows, stored
// by the policy refresh, takes the place of the least recently authenticated one.
TEST_F(KvServiceSim, AFullUserListMakesRoomOnlyForAUserActuallyStored) {
  std::vector<UserConfig> users;
  for (int i = 0; i < 30; ++i) {
    users.push_back(user("user" + std::to_string(i), true, true, true));
    users.back().setLastAuthTime(BizCoreTest::FakeClock::kStart - static_cast<std::uint64_t>(i));
  }
  writeConfigFile(users);
  start(service_);
  // Typed, code, the user who is gone afterwards.
  const std::tuple<const char*, int, const char*> cases[] = {{"newcomer", 5103, ""}, {"bob", 0, "user29"}};
  for (const auto& [typed, code, evicted] : cases) {
    SCOPED_TRACE(typed);
    std::string name = typed;
    service_.getPelloraUsernameFromConfigFile(name);  // as the dialog's start-up does
    EXPECT_EQ(code, service_.updateUserPolicies(name, false).getResultCode());
    const Korvath::Config back = readConfigFile();
    EXPECT_EQ(30u, back.getUserCount());
    for (const UserConfig& stored : users)
      EXPECT_EQ(stored.getUserLogin() != evicted, back.getUserIndex(stored.getUserLogin()) >= 0) << stored.getUserLogin();
  }
  EXPECT_GE(readConfigFile().getUserIndex("bob"), 0);
}

// Only a policy reply that came back with a verdict changes the marks: an outcome that says
// nothing keeps a blocked user blocked for the next offline sign-in.
TEST_F(KvServiceSim, PolicyOutcomesThatSayNothingKeepTheStoredMarks) {
  // Login, fault, the stored logonAppDisable, code, blocked (and in quarantine) before, blocked after:
  // the service's verdicts, then an unreadable reply and a disabled agent learnt while nothing was reached.
  const std::tuple<const char*, const char*, int, int, bool, bool> cases[] = {
      {"dave", "", 0, 5131, false, true},
      {"alice", "", 0, 0, true, false},
      {"alice", R"({"route":"policy","status":404,"body":""})", 0, 5114, true, true},
      {"alice", R"({"route":"policy","status":200,"body":"{\"status\": \"error\"}"})", 5108, 5108, true, true}};
  for (const auto& [login, lost, logonAppDisable, code, before, after] : cases) {
    SCOPED_TRACE(std::string(login) + " " + lost);
    ASSERT_TRUE(sim_->reset()) << sim_->lastError();
    UserConfig stored = user(login, true, true, true);
    stored.setBlocked(before);
    stored.setQuarantine(before);
    writeConfigFile({stored});
    Korvath::Config config = readConfigFile();
    config.setLogonAppDisable(static_cast<std::uint16_t>(logonAppDisable));
    ASSERT_EQ(0, config.writeFile());
    KvService service;
    start(service);
    if (*lost) fault(lost);
    std::string name = login;
    EXPECT_EQ(code, service.updateUserPolicies(name, false).getResultCode());
    EXPECT_EQ(after, saved(login).isBlocked());
    EXPECT_EQ(after && before, saved(login).isQuarantine());
    EXPECT_EQ(after ? 5131 : 0, service.getUserStatus(name).getResultCode());
  }
}

// The simulator's alice, stored here with her mobile authenticator (same secret as there).

class QrForgotSim : public ServiceSimTestBase {
 protected:
  std::uint16_t command(const std::string& login) {
    return KvServiceQRCode(&service_, &internet_).genCmdQRCode(baseRequest(login), type_, response_).getResultCode();
  }
  std::atomic<bool> internet_{true};
};

// ------------------------------------------------------------------------- QR code

TEST_F(QrForgotSim, WhereTheCommandComesFrom) {
  const char* const unreadable = R"({"route":"transaction","status":200,"body":"not an envelope"})";
  const char* const overAllocated =
      R"({"route":"transaction","status":403,"body":"{\"errors\":[{\"code\":\"201015011\",\"message\":\"x\"}]}"})";
  const char* const noTransactionId = R"({"transactionStatus":"PENDING","transactionId":"","command":"KVQR1;x"})";
  // Alice stored here (with the QR-code switch on or off), the dialog online, a fault, a reply;
  // the code, the type, the command from the service (type 4), the service asked. Over-allocated
  // there gets no offline command either.
  const std::tuple<const char*, bool, const char*, const char*, int, int, bool, bool> cases[] = {
      {"on", true, "", "", 0, 4, true, true},
      {"off", true, "", "", 0, 4, true, true},
      {"on", false, "", "", 0, 4, false, false},
      {"", false, "", "", 0, 4, true, true},
      {"on", true, unreadable, "", 0, 4, false, true},
      {"on", true, overAllocated, "", 5106, 3, false, true},
      {"on", true, "", noTransactionId, 0, 3, false, true}};
  for (const auto& [stored, internet, lost, answer, code, commandType, online, asked] : cases) {
    SCOPED_TRACE(std::string(stored) + (internet ? " online " : " offline ") + lost + answer);
    ASSERT_TRUE(sim_->reset()) << sim_->lastError();
    serve(*stored ? std::vector<UserConfig>{storedAlice(std::string(stored) == "on")} : std::vector<UserConfig>{});
    if (*lost) fault(lost);
    if (*answer) reply("transaction", 200, answer);
    internet_ = internet;
    EXPECT_EQ(code, command("alice"));
    EXPECT_EQ(commandType, type_);
    if (commandType == 4) {
      const ServiceResponseAuthQRCode shown = parsed<ServiceResponseAuthQRCode>(response_);
      EXPECT_EQ(online, shown.getOnLine());
      EXPECT_EQ(online ? 36u : 0u, shown.getTransactionId().size());
    } else {
      EXPECT_EQ("alice", parsed<ServiceResponseBase>(response_).getUserLogin());
    }
    EXPECT_EQ(asked ? 1u : 0u, recorded("/transaction").size());
  }
}

TEST_F(QrForgotSim, OnlineChecksAndWhatTheyRecord) {
  // Alice stored here (active, or every authenticator blocked), typed, the right answer, the
  // service lost; the code, the type, the login the service was asked for, recorded (one
  // configuration request). A refusal shows the command again, for a new attempt.
  const std::tuple<const char*, const char*, bool, bool, int, int, const char*, bool> cases[] = {
      {"active", "ALICE@sim.example", true, false, 0, 10, "alice", true},
      {"active", "alice", false, false, 5113, 4, "alice", true},
      {"active", "alice", true, true, 5116, 4, "alice", false},
      {"blocked", "Alice", false, false, 5113, 4, "Alice", false},
      {"", "alice", true, false, 0, 10, "alice", true}};  // not stored yet: added
  for (const auto& [stored, typed, right, lost, code, checkType, asked, recorded] : cases) {
    SCOPED_TRACE(std::string(stored) + " " + typed + (right ? " right" : " wrong") + (lost ? " lost" : ""));
    ASSERT_TRUE(sim_->reset()) << sim_->lastError();
    UserConfig alice = storedAlice(true, std::string(stored) == "active");
    alice.setFallbackExpiration(BizCoreTest::FakeClock::kStart + kHour);
    serve(*stored ? std::vector<UserConfig>{alice} : std::vector<UserConfig>{});
    ASSERT_EQ(0, command(typed));
    const ServiceResponseAuthQRCode shown = parsed<ServiceResponseAuthQRCode>(response_);
    ASSERT_TRUE(shown.getOnLine());
    if (lost) fault(R"({"route":"authentication","status":200,"body":"not an envelope"})");
    const std::string answer = answerFor(mobile(1001).getBlob(), shown.getCommand());
    const KvResult result = KvServiceQRCode(&service_).checkQRCode(
        qrRequest(typed, right ? answer : wrongCode(answer), shown, true), type_, response_);
    EXPECT_EQ(code, result.getResultCode());
    EXPECT_EQ(right ? 0 : 202002012, result.getCloudErrorCode());
    EXPECT_EQ(checkType, type_);
    const ServiceResponseAuthQRCode again =
        parsed<ServiceResponseAuthQRCode>(checkType == 4 ? response_ : shown.toJson());
    EXPECT_EQ(shown.toJson(), again.toJson());
    const auto checks = this->recorded("/authentication");
    ASSERT_EQ(1u, checks.size());
    EXPECT_EQ(asked, parsed<Model::RequestAuthentication>(checks[0].opened).getUserAuthentication().getLogin());
    EXPECT_EQ(recorded ? 1u : 0u, this->recorded("/config").size());
    EXPECT_EQ(recorded ? "qrcode" : "", saved("alice").getLastAuthType());
    // A pass ends a forgot-token period, a refusal does not.
    EXPECT_EQ(code == 0 ? 0u : alice.getFallbackExpiration(), saved("alice").getFallbackExpiration());
  }
}

// ------------------------------------------------------------------------- forgot token

TEST_F(QrForgotSim, OnlineActivationRefusedThenAcceptedRecordsTheServicesExpiry) {
  serve({storedAlice()});
  KvServiceForgotAuthenticator forgot(&service_);
  const KvResult refused = forgot.checkActiveForgotAuthenticatorOnline(
      activationRequest("alice", 8, "123456", adminCode("alice", 9, "123456")), type_, response_);
  EXPECT_EQ(5113, refused.getResultCode());
  EXPECT_EQ(202006001, refused.getCloudErrorCode());
  EXPECT_EQ(6, type_);
  EXPECT_TRUE(recorded("/config").empty());

  const KvResult accepted = forgot.checkActiveForgotAuthenticatorOnline(
      activationRequest("alice", 8, "123456", adminCode("alice", 8, "123456")), type_, response_);
  EXPECT_EQ(0, accepted.getResultCode());
  EXPECT_EQ(10, type_);
  EXPECT_TRUE(response_.empty());
  EXPECT_EQ(2u, recorded("/authenticationcode").size());
  // About eight hours from now on the local clock, whatever the simulator's clock says.
  const UserConfig stored = saved("alice");
  const std::uint64_t expiry =
      KvServiceForgotAuthenticator::effectiveExpiry(stored, service_.getConfig().getServerConfig().getTimeDifference());
  EXPECT_GT(expiry, clock_.nowFileTime() + 8 * kHour - 120 * 10000000ull);
  EXPECT_LT(expiry, clock_.nowFileTime() + 8 * kHour + 120 * 10000000ull);

  EXPECT_EQ(0, forgot.getForgotAuthenticatorScreen(baseRequest("alice"), type_, response_, &internet_));
  EXPECT_EQ(7, type_);
  EXPECT_EQ(0, forgot.checkForgotAuthenticator(baseRequest("alice"), type_, response_));
  // Nine hours later here the period is over, however far the simulator's clock is from ours.
  clock_.set(clock_.nowFileTime() + 9 * kHour);
  EXPECT_EQ(0, forgot.getForgotAuthenticatorScreen(baseRequest("alice"), type_, response_, &internet_));
  EXPECT_EQ(6, type_);
  EXPECT_EQ(5111, forgot.checkForgotAuthenticator(baseRequest("alice"), type_, response_));
}

TEST_F(QrForgotSim, ScreenSynchronizesWhenDueAndOnlineAndAddsAUserNotStoredYet) {
  serve({storedAlice()});
  KvServiceForgotAuthenticator forgot(&service_);
  // The configuration requests after the screen of `login`, always the activation screen here.
  auto screen = [&](const char* login) {
    EXPECT_EQ(0, forgot.getForgotAuthenticatorScreen(baseRequest(login), type_, response_, &internet_));
    EXPECT_EQ(6, type_);
    return recorded("/config").size();
  };
  service_.getConfig().setLastSync(clock_.nowFileTime() - 24 * kHour);
  EXPECT_EQ(0u, screen("alice"));  // exactly 24 hours: not due
  service_.getConfig().setLastSync(clock_.nowFileTime() - 24 * kHour - 1);
  internet_ = false;
  EXPECT_EQ(0u, screen("alice"));  // due, but the dialog is offline
  internet_ = true;
  EXPECT_EQ(1u, screen("alice"));
  EXPECT_TRUE(internet_.load());
  // bob is not stored: he is added from the service's answer, then shown the activation screen.
  EXPECT_EQ(2u, screen("bob"));
  EXPECT_GE(service_.getConfig().getUserIndex("bob"), 0);
  // A synchronization that does not reach the service tells the dialog so.
  service_.getConfig().setLastSync(clock_.nowFileTime() - 25 * kHour);
  fault(R"({"route":"config","status":200,"body":"not an envelope"})");
  EXPECT_EQ(3u, screen("alice"));
  EXPECT_FALSE(internet_.load());
}

// ========================================================================= dispatcher, push and OTP

// The service's own code for "unreachable" (201005003, mapped to 5116).
const char* const kUnreachable =
    R"({"route":"pushresult","status":400,"body":"{\"errors\":[{\"code\":\"201005003\",\"message\":\"x\"}]}"})";

class DispatchSim : public ServiceSimTestBase {
 protected:
  KvResult sendPush(const std::string& login, Utils::AutoTokenCancellationRelease* token = nullptr) {
    return KvServicePush(service_).sendPush(baseRequest(login), &type_, response_, token);
  }

  std::size_t configRequests() { return recorded("/config").size(); }
};

// ------------------------------------------------------------------------- push

TEST_F(DispatchSim, WhatAPushRecords) {
  const char* const recordingFails = R"({"route":"config","status":500,"body":""})";
  // Login, every authenticator blocked, decision, fault, cancelled, code, type, recording (0 none,
  // 1 saved, 2 refused by the service), a forgot-token period ended. A failure answers the user's
  // push screen with their own factors. With every authenticator blocked an approval stands
  // whatever the recording says; otherwise a failed recording is the push's result.
  const std::tuple<const char*, bool, const char*, const char*, bool, int, int, int, bool> cases[] = {
      {"bob", false, "approve", "", false, 0, 10, 1, true},  // not stored yet: added
      {"alice", false, "approve", "", false, 0, 10, 1, true},
      {"alice", false, "deny", "", false, KV_ERROR_DENIED_BY_USER, 5, 1, false},
      {"alice", false, "pending", kUnreachable, false, KV_ERROR_SERVER_IS_UNREACHABLE, 5, 0, false},
      {"alice", false, "pending", "", true, KV_ERROR_WAITING_PUSH_RESULT, 5, 0, false},
      {"alice", true, "approve", recordingFails, false, 0, 10, 2, false},
      {"alice", false, "approve", recordingFails, false, 5114, 10, 2, false}};
  for (const auto& [login, blocked, decision, fault, cancel, code, type, recording, periodEnded] : cases) {
    SCOPED_TRACE(std::string(login) + (blocked ? " blocked " : " ") + decision + fault + (cancel ? " cancelled" : ""));
    ASSERT_TRUE(sim_->reset()) << sim_->lastError();
    UserConfig alice = user("alice", true, false, true, "otp", {mobile(1001, !blocked)});
    alice.setFallbackExpiration(BizCoreTest::FakeClock::kStart + kHour);
    serve({alice});
    ASSERT_EQ(0, service_.getConfig().writeFile());
    ASSERT_TRUE(sim_->planPush(login, decision, 1)) << sim_->lastError();
    if (*fault) this->fault(fault);
    Utils::AutoTokenCancellationRelease token;
    if (cancel) token.cancel();
    EXPECT_EQ(code, sendPush(login, &token).getResultCode());
    EXPECT_EQ(type, type_);
    EXPECT_EQ(type_ == 10 ? "" : "otp push",
              type_ == 10 ? response_ : enabledFactors(parsed<ServiceResponseBase>(response_).getAuthTypes()));
    EXPECT_EQ(recording ? 1u : 0u, configRequests());
    const UserConfig stored = saved(login);
    EXPECT_EQ(recording == 1 ? "push" : "otp", stored.getLastAuthType());
    EXPECT_EQ(periodEnded ? 0u : alice.getFallbackExpiration(), stored.getFallbackExpiration());
  }
}

TEST_F(DispatchSim, ResourceGoneLearntByAPushTaskDisablesTheDialogAndSurvivesItsSaves) {
  serve({user("alice", true, true, true, "", {mobile(1001)})});
  ASSERT_TRUE(sim_->planPush("alice", "approve")) << sim_->lastError();
  // The exchange after the approval learns that the service no longer knows the resource (its
  // own code for "resource not found").
  fault(R"({"route":"config","status":404,"body":"{\"errors\":[{\"code\":\"201005012\",\"message\":\"x\"}]}"})");
  sendPush("alice");
  EXPECT_EQ(1u, configRequests());
  Config back;
  ASSERT_EQ(0, BizCoreTest::readBack(configPath_, crypto_, back));
  ASSERT_EQ(KV_ERROR_KV_RESOURCE_NOT_FOUND, back.getLogonAppDisable());

  // The dialog thread sees it at once, not after an exchange of its own.
  EXPECT_EQ(KV_ERROR_KV_RESOURCE_NOT_FOUND, service_.checkLogonAppDisabled().getResultCode());
  // A save by the dialog does not write the old value back.
  {
    auto lock = service_.lockState();
    UserConfig alice = service_.getConfig().getUsersConfig().at(0);
    ASSERT_EQ(0, service_.getKvBusiness().saveConfigUserByUserConfig(alice, 0, std::string(), false, "otp", false));
  }
  ASSERT_EQ(0, BizCoreTest::readBack(configPath_, crypto_, back));
  EXPECT_EQ(KV_ERROR_KV_RESOURCE_NOT_FOUND, back.getLogonAppDisable());
  // Every later factor is refused on the dialog thread too.
  EXPECT_EQ(KV_ERROR_KV_RESOURCE_NOT_FOUND, sendPush("alice").getResultCode());
  EXPECT_EQ(1u, configRequests());
}

// The dialog thread keeps reading and saving the configuration while a push task polls and
// then records its outcome: neither disturbs the other's memory, and both changes reach the
// file (run under the sanitizers; a ThreadSanitizer build shows no race).
TEST_F(DispatchSim, PushTaskAndDialogThreadUseTheConfigurationAtOnce) {
  UserConfig zed = user("zed", true, false, false);
  zed.setAutoSendPush(false);
  serve({user("alice", true, true, true, "", {mobile(1001)}), zed});
  ASSERT_EQ(0, service_.getConfig().writeFile());
  ASSERT_TRUE(sim_->planPush("alice", "approve", 12)) << sim_->lastError();

  MfaAuthentication dispatcher(&service_);
  MfaAuthenticationRequest request;
  request.mode = MFAAuthenticationPush;
  request.userLogin = "alice";
  Utils::AutoTokenCancellationRelease token;
  const std::uint32_t index = dispatcher.authenticateAsync(request, token);
  ASSERT_EQ(0u, index);
  std::shared_future<KvResult>& push = service_.getFutures().at(index);

  unsigned rounds = 0;
  do {
    ServiceResponseBase view;
    EXPECT_EQ(0, service_.loadUserConfig("alice", view));
    AuthFactorMap factors;
    std::string lastAuthType;
    service_.getUserAuthFactors("zed", factors, lastAuthType, false);
    EXPECT_EQ("push", lastAuthType);
    {
      auto lock = service_.lockState();
      EXPECT_EQ(0, service_.getKvBusiness().updateAutoSendPushOptionByUserName("zed", rounds % 2 == 0).getResultCode());
    }
    ++rounds;
  } while (push.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready);
  EXPECT_EQ(0, push.get().getResultCode());
  {
    auto lock = service_.lockState();
    EXPECT_EQ(0, service_.getKvBusiness().updateAutoSendPushOptionByUserName("zed", true).getResultCode());
  }

  EXPECT_EQ("push", saved("alice").getLastAuthType());
  EXPECT_TRUE(saved("zed").getAutoSendPush());
}

// ------------------------------------------------------------------------- OTP

// A one-time code this machine accepted, offline or after the service failed to answer an
// online check, is never accepted here again. Online it gets the answer of a wrong code (5113
// and the OTP screen) without the service being asked, which never saw the code and would take
// it; offline, also once a synchronization brought the service's older counter, the stored
// counter refuses it. The next code, which this machine has not used, goes to the service as
// ever and is accepted.
TEST_F(DispatchSim, ACodeUsedHereIsNotUsedHereAgain) {
  // bob's phone as the service knows it (its only authenticator), and the codes it shows.
  auto code = [](std::uint64_t counter) { return BizCoreTest::hotp(BizCoreTest::kBobSecretHex, counter); };
  AuthenticatorRecord phone = BizCoreTest::authenticatorOf(10, BizCoreTest::kBobSecretHex, 1002);
  ASSERT_EQ(0, phone.setSerialNumber("MOB-BOB-0001"));
  for (const bool serviceFailed : {false, true}) {
    for (const bool synchronized : {false, true}) {
      SCOPED_TRACE(std::string(serviceFailed ? "accepted after the service failed" : "accepted offline") +
                   (synchronized ? ", then a synchronization" : ""));
      ASSERT_TRUE(sim_->reset()) << sim_->lastError();
      serve({user("bob", true, false, true, "", {phone})});
      MfaAuthentication dispatcher(&service_);
      if (serviceFailed) fault(R"({"route":"authentication","status":200,"body":"not an envelope","count":1})");
      EXPECT_EQ(0, dispatcher.checkOtp("bob", "", false, code(0), serviceFailed).getResultCode());
      if (synchronized) {
        EXPECT_EQ(0, service_.getKvBusiness().updateConfig(std::string()).getResultCode());
      }
      const AuthenticatorRecord stored = saved("bob").getAuthenticators().at(0);
      AuthenticationSdk::AuthenticatorInfo info;
      ASSERT_EQ(0, AuthenticationSdk::Blob::inspect(stored.getBlob(), info));
      EXPECT_EQ(1u, info.counter);
      EXPECT_EQ(0u, stored.getUsedHereFrom());

      const std::size_t asked = recorded("/authentication").size();
      const KvResult online = KvServiceOTP(&service_).checkOTPOnline(otpRequest("bob", code(0)), type_, response_);
      const std::string answer = response_;
      EXPECT_EQ(KV_ERROR_FAIL_AUTHENTICATION, online.getResultCode());
      EXPECT_EQ(2, type_);
      EXPECT_EQ(asked, recorded("/authentication").size()) << "the service was asked";
      EXPECT_EQ(1, dispatcher.checkOtp("bob", "", false, code(0), false).getResultCode());  // the SDK's refusal
      // A wrong code gets the same answer from the service; the next code passes there.
      const KvResult wrong =
          KvServiceOTP(&service_).checkOTPOnline(otpRequest("bob", wrongCode(code(1))), type_, response_);
      EXPECT_EQ(online.getResultCode(), wrong.getResultCode());
      EXPECT_EQ(2, type_);
      EXPECT_EQ(answer, response_);
      EXPECT_EQ(0, dispatcher.checkOtp("bob", "", false, code(1), true).getResultCode());
      EXPECT_EQ(asked + 2, recorded("/authentication").size());
    }
  }
}

// A code the service accepted moves the stored counter past it at once: when the
// synchronization that follows the sign-in fails (the network cut just then), the same code
// still does not pass here offline.
TEST_F(DispatchSim, ACodeTheServiceAcceptedDoesNotPassOfflineWhenTheSynchronizationAfterItFails) {
  auto code = [](std::uint64_t counter) { return BizCoreTest::hotp(BizCoreTest::kBobSecretHex, counter); };
  AuthenticatorRecord phone = BizCoreTest::authenticatorOf(10, BizCoreTest::kBobSecretHex, 1002);
  ASSERT_EQ(0, phone.setSerialNumber("MOB-BOB-0001"));
  serve({user("bob", true, false, true, "", {phone})});
  fault(R"({"route":"config","status":500,"body":"","count":1})");
  EXPECT_EQ(0, KvServiceOTP(&service_).checkOTPOnline(otpRequest("bob", code(2)), type_, response_).getResultCode());
  EXPECT_EQ(10, type_);
  AuthenticationSdk::AuthenticatorInfo info;
  ASSERT_EQ(0, AuthenticationSdk::Blob::inspect(saved("bob").getAuthenticators().at(0).getBlob(), info));
  EXPECT_EQ(3u, info.counter);
  MfaAuthentication dispatcher(&service_);
  EXPECT_EQ(1, dispatcher.checkOtp("bob", "", false, code(2), false).getResultCode());  // the SDK's refusal
  EXPECT_EQ(0, dispatcher.checkOtp("bob", "", false, code(3), false).getResultCode());
}

TEST_F(DispatchSim, OnlineOtp) {
  // Typed, stored, right code, service lost, code, type, recorded (one configuration request).
  // A stored user is asked for by the stored login, whatever form was typed; a failure answers
  // the OTP screen with the user's own factors. (The dispatcher's fall-back to the stored blobs
  // when the service is lost: the log test, whose online OTP ends in the offline check's refusal.)
  const std::tuple<const char*, bool, bool, bool, int, int, bool> cases[] = {
      {"Alice@Sim.Example", true, true, false, 0, 10, true},
      {"alice", true, false, false, 5113, 2, true},
      {"alice", false, true, false, 0, 10, true},  // not stored yet: added
      {"alice", true, true, true, KV_ERROR_SERVER_IS_UNREACHABLE, 2, false}};
  for (const auto& [typed, stored, right, lost, expected, expectedType, recorded] : cases) {
    SCOPED_TRACE(std::string(typed) + (stored ? " stored" : "") + (right ? " right" : "") + (lost ? " lost" : ""));
    ASSERT_TRUE(sim_->reset()) << sim_->lastError();
    serve(stored ? std::vector<UserConfig>{storedAlice(true, true, false)} : std::vector<UserConfig>{});
    if (lost) fault(R"({"route":"authentication","status":200,"body":"not an envelope"})");
    const std::string code = right ? otpCode(0) : wrongCode(otpCode(0));
    const KvResult result = KvServiceOTP(&service_).checkOTPOnline(otpRequest(typed, code), type_, response_);
    EXPECT_EQ(expected, result.getResultCode());
    EXPECT_EQ(expectedType, type_);
    EXPECT_EQ(type_ == 10 ? "" : "otp qrcode",
              type_ == 10 ? response_ : enabledFactors(parsed<ServiceResponseAuthOTP>(response_).getAuthTypes()));
    EXPECT_EQ(recorded ? 1u : 0u, configRequests());
    EXPECT_EQ(recorded ? "otp" : "", saved("alice").getLastAuthType());
    const auto checks = this->recorded("/authentication");
    EXPECT_EQ("alice", parsed<Model::RequestAuthentication>(checks.at(0).opened).getUserAuthentication().getLogin());
  }
}

}  // namespace
