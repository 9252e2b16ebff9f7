// KvService and the QR-code and forgot-token services against the cloud simulator (its default
// fixture, docs/cloudsim.md): the first registration and the synchronization of the start-up,
// the policy refresh with its user-name rules and the user marks stored after it; commands from
// the service and the fall-back to offline, online checks and the updates after them, online
// activation and what it records, and the synchronization of the forgot-token screen.

#include <atomic>
#include <tuple>

#include "Korvath/Model/CloudRecords.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/Service/KvServiceForgotAuthenticator.h"
#include "Korvath/Service/KvServiceQRCode.h"
#include "ServicesTestSupport.h"

using Korvath::Model::KvResult;
using Korvath::Model::UserConfig;
using namespace Korvath::Service;
using namespace ServicesTest;

namespace {

class KvServiceSim : public ServiceSimTestBase {
 protected:
  // saved() reads the configuration at its default place, where start-up reads and saves it.
  void SetUp() override {
    ServiceSimTestBase::SetUp();
    configPath_ = Korvath::Platform::configFilePath();
  }
  // The logins of each configuration request, in order.
  std::vector<std::vector<std::string>> configLogins() {
    std::vector<std::vector<std::string>> all;
    for (const CloudTest::Recorded& r : recorded("/config")) {
      all.push_back(parsed<Korvath::Model::RequestConfig>(r.opened).getUserLogins());
    }
    return all;
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
  EXPECT_EQ((std::vector<std::vector<std::string>>{{}, {"bob", "alice"}}), configLogins());
  EXPECT_EQ(clock_.nowFileTime(), readConfigFile().getLastSync());
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
      const auto request = parsed<Korvath::Model::RequestGetUserPolicy>(r.opened);
      logins += (logins.empty() ? "" : " ") + request.getUserLogins().at(0);
      EXPECT_EQ(loginType, request.getLoginType());
      EXPECT_EQ("10.1.2.3", request.getClientIp());
      EXPECT_TRUE(request.getIsRdp());
    }
    EXPECT_EQ(asked, logins);
    EXPECT_EQ(1u, recorded("/policy/offline").size());
    const auto configs = recorded("/config");
    EXPECT_EQ(synced,
              configs.empty() ? "" : parsed<Korvath::Model::RequestConfig>(configs[0].opened).getUserLogins().at(0));
  }
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
UserConfig storedAlice(bool qrcode = true, bool active = true) {
  UserConfig alice = user("alice", true, qrcode, true, "", {mobile(1001, active)});
  alice.setEmail("alice@sim.example");
  return alice;
}

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
    EXPECT_EQ(asked,
              parsed<Korvath::Model::RequestAuthentication>(checks[0].opened).getUserAuthentication().getLogin());
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

}  // namespace
