// Push and online OTP against the simulator of the CTest fixture: what goes on the wire, how
// the push polling ends (approved, denied, timed out, cancelled, connectivity failures) and
// what the logon-disabled state becomes after an OTP exchange. Time is the fake clock's: the
// 2-second polling steps and the push timeout pass without waiting.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "Korvath/Business/KvBusiness.h"
#include "Korvath/Business/KvBusinessOTP.h"
#include "Korvath/Business/KvBusinessPush.h"
#include "Korvath/ConnectionUtils.h"
#include "Korvath/Model/CloudRecords.h"
#include "Korvath/RequestId.h"
#include "Korvath/Timer.h"
#include "Korvath/WindowsFacts.h"
#include "PushOtpTestSupport.h"

using Korvath::Business::KvBusiness;
using Korvath::Business::KvBusinessOTP;
using Korvath::Business::KvBusinessPush;
using Korvath::Model::KvResult;
using namespace PushOtpTest;

namespace {

std::string g_root;

// Natively every test process works in a temporary KORVATH_ROOT of its own (machine key,
// locks); on Windows the configuration file simply lives in a temporary directory.
class RootEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    g_root = makeTempDir();
#if !defined(_WIN32)
    ::setenv("KORVATH_ROOT", g_root.c_str(), 1);
#endif
  }
  void TearDown() override { removeTree(g_root); }
};

const bool g_registered = [] {
  ::testing::AddGlobalTestEnvironment(new RootEnvironment);
  return true;
}();

class PushOtpSim : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    ASSERT_TRUE(sim_.attach(why)) << why;
    ASSERT_TRUE(sim_.reset()) << sim_.lastError();
    registry_.values = {{"DesktopLogonHostPrefix", ""},
                        {"PolicyHostPrefix", ""},
                        {"DomainSuffix", ""},
                        {"Port", std::to_string(sim_.port())}};
    Korvath::Platform::setAgentRegistry(&registry_);
    Korvath::Platform::setClock(&clock_);
    Korvath::clearRequestId();
    Korvath::Utils::setRemoteLogonFlag(0);
    configPath_ = g_root + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".cfg";
    configure(60);
  }

  void TearDown() override {
    Korvath::Utils::setRemoteLogonFlag(0);
    Korvath::Platform::setClock(nullptr);
    Korvath::Platform::setAgentRegistry(nullptr);
  }

  void configure(std::uint16_t pushTimeout) {
    fillSimConfig(config_, configPath_, pushTimeout);
    Korvath::Model::UserConfig alice;
    ASSERT_EQ(0, alice.setUserLogin("alice"));
    alice.setEmail("alice@sim.example");
    alice.setAuthTypes({{"otp", true}, {"qrcode", true}, {"push", true}});
    ASSERT_EQ(0, config_.setUsersConfig({alice}));
    business_ = KvBusiness(&config_, &crypto_);
  }

  void setIntegrationKey(const std::string& key) {
    Korvath::ServerConfig server = config_.getServerConfig();
    ASSERT_EQ(0, server.setIntegrationKey(key));
    ASSERT_EQ(0, config_.setServerConfig(server));
  }

  std::vector<PushEntry> pushes() {
    std::vector<PushEntry> list;
    EXPECT_TRUE(sim_.pushes(list)) << sim_.lastError();
    return list;
  }

  Korvath::Model::RequestTransaction sentTransaction() {
    Korvath::Model::RequestTransaction request;
    const std::vector<Recorded> sent = sim_.requestsTo("transaction");
    EXPECT_EQ(1u, sent.size());
    if (!sent.empty()) {
      EXPECT_TRUE(sent.back().hasOpened);
      EXPECT_EQ(0, request.fillFromJson(sent.back().opened)) << sent.back().opened;
    }
    return request;
  }

  Korvath::Model::RequestAuthentication sentAuthentication() {
    Korvath::Model::RequestAuthentication request;
    const std::vector<Recorded> sent = sim_.requestsTo("authentication");
    EXPECT_FALSE(sent.empty());
    if (!sent.empty()) {
      EXPECT_TRUE(sent.back().hasOpened);
      EXPECT_EQ(0, request.fillFromJson(sent.back().opened)) << sent.back().opened;
    }
    return request;
  }

  // The logon-disabled state as saved in the configuration file.
  std::uint16_t savedLogonAppDisable() {
    Korvath::KvCrypto crypto;
    Korvath::Config saved(&crypto);
    EXPECT_EQ(0, saved.readFile(configPath_));
    return saved.getLogonAppDisable();
  }

  Sim sim_;
  MapRegistry registry_;
  FakeClock clock_;
  std::string configPath_;
  Korvath::KvCrypto crypto_;
  Korvath::Config config_{&crypto_};
  KvBusiness business_;
};

// ---------------------------------------------------------------- push

TEST_F(PushOtpSim, ApprovedAtTheFirstPollTakesOneRequestAndNoSleep) {
  ASSERT_TRUE(sim_.planPush("alice", "approve")) << sim_.lastError();
  KvBusinessPush push(&config_, &crypto_, &business_);
  const KvResult result = push.authenticatePush("alice", nullptr);
  EXPECT_EQ(0, result.getResultCode());
  EXPECT_FALSE(result.getRequestId().empty());
  const std::vector<PushEntry> list = pushes();
  ASSERT_EQ(1u, list.size());
  EXPECT_EQ("approved", list[0].status);
  EXPECT_EQ(1u, sim_.requestsTo("pushresult").size());
  EXPECT_EQ(0, clock_.sleptMs());
}

TEST_F(PushOtpSim, ThreeWaitingAnswersThenApprovedTakesFourPollsTwoSecondsApart) {
  ASSERT_TRUE(sim_.planPush("alice", "approve", 3)) << sim_.lastError();
  KvBusinessPush push(&config_, &crypto_, &business_);
  EXPECT_EQ(0, push.authenticatePush("alice", nullptr).getResultCode());
  EXPECT_EQ(4u, sim_.requestsTo("pushresult").size());
  EXPECT_EQ(6000, clock_.sleptMs());
}

TEST_F(PushOtpSim, ADenialGives5119WithTheServiceCode) {
  ASSERT_TRUE(sim_.planPush("alice", "deny", 1)) << sim_.lastError();
  KvBusinessPush push(&config_, &crypto_, &business_);
  const KvResult result = push.authenticatePush("alice", nullptr);
  EXPECT_EQ(5119, result.getResultCode());
  EXPECT_EQ(201055008, result.getCloudErrorCode());
  EXPECT_EQ(2u, sim_.requestsTo("pushresult").size());
}

TEST_F(PushOtpSim, NobodyAnswersWithinTheTimeoutGives5118) {
  configure(10);
  KvBusinessPush push(&config_, &crypto_, &business_);
  const KvResult result = push.authenticatePush("alice", nullptr);
  EXPECT_EQ(5118, result.getResultCode());
  EXPECT_EQ(0, result.getCloudErrorCode());
  EXPECT_FALSE(result.getRequestId().empty());
  // Polls at 0, 2, ... 10 s; at 10 s the waiting time has passed.
  EXPECT_EQ(6u, sim_.requestsTo("pushresult").size());
  EXPECT_EQ(10000, clock_.sleptMs());
}

TEST_F(PushOtpSim, ALongestTimeoutOf99SecondsWaits99Seconds) {
  configure(99);
  KvBusinessPush push(&config_, &crypto_, &business_);
  EXPECT_EQ(5118, push.authenticatePush("alice", nullptr).getResultCode());
  EXPECT_EQ(51u, sim_.requestsTo("pushresult").size());
  EXPECT_EQ(100000, clock_.sleptMs());
}

TEST_F(PushOtpSim, ATokenCancelledBeforeTheStartStopsAfterOnePoll) {
  Korvath::Utils::AutoTokenCancellationRelease token;
  token.cancel();
  KvBusinessPush push(&config_, &crypto_, &business_);
  EXPECT_EQ(5121, push.authenticatePush("alice", &token).getResultCode());
  EXPECT_EQ(1u, sim_.requestsTo("pushresult").size());
  EXPECT_EQ(0, clock_.sleptMs());
  EXPECT_EQ(1, token.holders());
}

TEST_F(PushOtpSim, ATokenCancelledDuringASleepEndsItEarlyAfterOneMorePoll) {
  Korvath::Utils::AutoTokenCancellationRelease token;
  clock_.onSleep([token](std::int64_t slept) mutable {
    if (slept >= 2500) token.cancel();
  });
  KvBusinessPush push(&config_, &crypto_, &business_);
  const KvResult result = push.authenticatePush("alice", &token);
  clock_.onSleep(nullptr);
  EXPECT_EQ(5121, result.getResultCode());
  // First step 2000 ms, the second cut after 500 ms; then one more poll.
  EXPECT_EQ(2500, clock_.sleptMs());
  EXPECT_EQ(3u, sim_.requestsTo("pushresult").size());
}

TEST_F(PushOtpSim, APushDecidedByItsIdentifierWhileTheAgentWaits) {
  // The decision arrives during the first step's sleep, on the polling thread itself.
  bool decided = false;
  clock_.onSleep([this, &decided](std::int64_t) {
    if (decided) return;
    decided = true;
    const std::vector<PushEntry> list = pushes();
    ASSERT_EQ(1u, list.size());
    EXPECT_EQ("alice", list[0].login);
    EXPECT_EQ("pending", list[0].status);
    EXPECT_TRUE(
        sim_.control("/_sim/push", "{\"transactionId\":\"" + list[0].transactionId + "\",\"decision\":\"deny\"}"))
        << sim_.lastError();
  });
  KvBusinessPush push(&config_, &crypto_, &business_);
  const KvResult result = push.authenticatePush("alice", nullptr);
  clock_.onSleep(nullptr);
  EXPECT_TRUE(decided);
  EXPECT_EQ(5119, result.getResultCode());
  EXPECT_EQ(2u, sim_.requestsTo("pushresult").size());
  const std::vector<PushEntry> list = pushes();
  ASSERT_EQ(1u, list.size());
  EXPECT_EQ("denied", list[0].status);
}

TEST_F(PushOtpSim, AnEmptyTransactionIdentifierGives5117WithoutAnyPoll) {
  ASSERT_TRUE(sim_.reply("transaction", 200, R"({"transactionStatus":"PENDING","transactionId":"","command":""})"))
      << sim_.lastError();
  KvBusinessPush push(&config_, &crypto_, &business_);
  EXPECT_EQ(5117, push.authenticatePush("alice", nullptr).getResultCode());
  EXPECT_TRUE(sim_.requestsTo("pushresult").empty());
}

TEST_F(PushOtpSim, AReplyThatIsNoTransactionResponseGivesItsFillCode) {
  ASSERT_TRUE(sim_.reply("transaction", 200, "[]")) << sim_.lastError();
  KvBusinessPush push(&config_, &crypto_, &business_);
  EXPECT_EQ(5500, push.authenticatePush("alice", nullptr).getResultCode());
  EXPECT_TRUE(sim_.requestsTo("pushresult").empty());
}

TEST_F(PushOtpSim, AReplyThatDoesNotOpenGives5007) {
  ASSERT_TRUE(sim_.fault(R"({"route":"transaction","status":200,"body":"{\"data\":\"bm90IHNlYWxlZA==\"}"})"))
      << sim_.lastError();
  KvBusinessPush push(&config_, &crypto_, &business_);
  EXPECT_EQ(5007, push.authenticatePush("alice", nullptr).getResultCode());
}

TEST_F(PushOtpSim, ARefusedTransactionGivesTheMappedServiceCodeAndLeavesTheDisabledStateToTheCaller) {
  config_.setLogonAppDisable(5108);
  KvBusinessPush push(&config_, &crypto_, &business_);
  const KvResult result = push.authenticatePush("nobody", nullptr);
  EXPECT_EQ(5103, result.getResultCode());
  EXPECT_EQ(201015008, result.getCloudErrorCode());
  EXPECT_TRUE(sim_.requestsTo("pushresult").empty());
  // Only an exception ends a push with disableKorvath; the push service's user update follows.
  EXPECT_EQ(5108, config_.getLogonAppDisable());
}

TEST_F(PushOtpSim, AConnectivityFailureWhilePollingIsRetriedOnceAfter200Ms) {
  ASSERT_TRUE(sim_.fault(R"({"route":"pushresult","status":200,"body":"{\"status\": \"error\"}"})"))
      << sim_.lastError();
  KvBusinessPush push(&config_, &crypto_, &business_);
  EXPECT_EQ(5116, push.authenticatePush("alice", nullptr).getResultCode());
  EXPECT_EQ(2u, sim_.requestsTo("pushresult").size());
  EXPECT_EQ(200, clock_.sleptMs());
}

// Real time: each poll waits for the transport's 4-second timeout.
TEST_F(PushOtpSim, APollThatTimesOutTwiceGives5124) {
  ASSERT_TRUE(sim_.fault(R"({"route":"pushresult","delayMs":6500})")) << sim_.lastError();
  KvBusinessPush push(&config_, &crypto_, &business_);
  EXPECT_EQ(5124, push.authenticatePush("alice", nullptr).getResultCode());
  EXPECT_EQ(2u, sim_.requestsTo("pushresult").size());
  EXPECT_EQ(200, clock_.sleptMs());
}

TEST_F(PushOtpSim, TheSecondAttemptStartsAFreshPollingRun) {
  ASSERT_TRUE(sim_.fault(R"({"route":"pushresult","status":200,"body":"{\"status\": \"error\"}","count":1})"))
      << sim_.lastError();
  ASSERT_TRUE(sim_.planPush("alice", "approve", 1)) << sim_.lastError();
  KvBusinessPush push(&config_, &crypto_, &business_);
  EXPECT_EQ(0, push.authenticatePush("alice", nullptr).getResultCode());
  EXPECT_EQ(3u, sim_.requestsTo("pushresult").size());
  EXPECT_EQ(2200, clock_.sleptMs());
}

TEST_F(PushOtpSim, ThePushRequestCarriesTheLoginTypeMachineAddressAndRemoteFlag) {
  ASSERT_TRUE(sim_.planPush("alice", "approve")) << sim_.lastError();
  Korvath::Utils::setRemoteLogonFlag(1);
  business_.setClientIp("192.168.10.20");
  KvBusinessPush push(&config_, &crypto_, &business_);
  EXPECT_EQ(0, push.authenticatePush("ALICE@sim.example", nullptr).getResultCode());

  const Korvath::Model::RequestTransaction sent = sentTransaction();
  EXPECT_EQ("PUSH", sent.getAuthenticationFactor());
  EXPECT_EQ("EMAIL", sent.getUserTransaction().getLoginType());
  EXPECT_EQ("ALICE@sim.example", sent.getUserTransaction().getLogin());
  EXPECT_EQ("192.168.10.20", sent.getClientIp());
  EXPECT_TRUE(sent.getIsRdp());
  EXPECT_EQ(1, sent.getPlatform());
  EXPECT_EQ("", sent.getGeolocationData());
  const std::string computer = Korvath::Utils::getComputerName();
  if (!computer.empty() && computer.size() <= 255) {
    EXPECT_EQ(computer, sent.getMachineName());
  }
}

TEST_F(PushOtpSim, AClientAddressOf6Or16CharactersIsSentEmpty) {
  for (const std::string ip : {"1.2.34", "192.168.100.2001"}) {
    ASSERT_TRUE(sim_.reset()) << sim_.lastError();
    ASSERT_TRUE(sim_.planPush("alice", "approve")) << sim_.lastError();
    business_.setClientIp(ip);
    KvBusinessPush push(&config_, &crypto_, &business_);
    EXPECT_EQ(0, push.authenticatePush("alice", nullptr).getResultCode());
    const Korvath::Model::RequestTransaction sent = sentTransaction();
    EXPECT_EQ("", sent.getClientIp()) << ip;
    EXPECT_EQ("LOGIN", sent.getUserTransaction().getLoginType());
    EXPECT_FALSE(sent.getIsRdp());
  }
}

TEST_F(PushOtpSim, ALoginOf101CharactersIsSentEmpty) {
  KvBusinessPush push(&config_, &crypto_, &business_);
  EXPECT_EQ(5103, push.authenticatePush(std::string(101, 'a'), nullptr).getResultCode());
  EXPECT_EQ("", sentTransaction().getUserTransaction().getLogin());
}

TEST_F(PushOtpSim, APushWhoseRequestCannotBeSealedSendsNothing) {
  setIntegrationKey("");
  KvBusinessPush push(&config_, &crypto_, &business_);
  EXPECT_EQ(5006, push.authenticatePush("alice", nullptr).getResultCode());
  std::vector<Recorded> all;
  ASSERT_TRUE(sim_.requests(all)) << sim_.lastError();
  EXPECT_TRUE(all.empty());
}

// ---------------------------------------------------------------- online OTP

TEST_F(PushOtpSim, AnAcceptedCodeEndsTheLogonDisabledStateAndSavesIt) {
  config_.setLogonAppDisable(5108);
  KvBusinessOTP otp(&config_, &crypto_, &business_);
  const KvResult result = otp.onlineAuthenticateOtp("alice", hotp(kAliceSecretHex, 0));
  EXPECT_EQ(0, result.getResultCode());
  EXPECT_FALSE(result.getRequestId().empty());
  EXPECT_EQ(0, config_.getLogonAppDisable());
  EXPECT_EQ(0, savedLogonAppDisable());
}

TEST_F(PushOtpSim, TheServiceKeepsTheCounterSoACodeIsGoodOnce) {
  // bob has a single token.
  KvBusinessOTP otp(&config_, &crypto_, &business_);
  const std::string code = hotp("0102030405060708090a0b0c0d0e0f1011121314", 0);
  EXPECT_EQ(0, otp.onlineAuthenticateOtp("bob", code).getResultCode());
  const KvResult again = otp.onlineAuthenticateOtp("bob", code);
  EXPECT_EQ(5113, again.getResultCode());
  EXPECT_EQ(201045001, again.getCloudErrorCode());
}

TEST_F(PushOtpSim, ARefusedCodeIsAnAnswerOfTheServiceAndAlsoEndsTheDisabledState) {
  config_.setLogonAppDisable(5108);
  KvBusinessOTP otp(&config_, &crypto_, &business_);
  EXPECT_EQ(5113, otp.onlineAuthenticateOtp("alice", "000000").getResultCode());
  EXPECT_EQ(0, config_.getLogonAppDisable());
}

TEST_F(PushOtpSim, AResourceUnknownToTheServiceDisablesTheAgent) {
  ASSERT_TRUE(sim_.fault(
      R"({"route":"authentication","status":404,"body":"{\"errors\":[{\"code\":\"201005012\",\"message\":\"Resource not found\"}]}"})"))
      << sim_.lastError();
  KvBusinessOTP otp(&config_, &crypto_, &business_);
  EXPECT_EQ(5108, otp.onlineAuthenticateOtp("alice", hotp(kAliceSecretHex, 0)).getResultCode());
  EXPECT_EQ(5108, config_.getLogonAppDisable());
  EXPECT_EQ(5108, savedLogonAppDisable());
}

TEST_F(PushOtpSim, AConnectivityFailureLeavesTheDisabledStateAsItWas) {
  config_.setLogonAppDisable(5108);
  ASSERT_TRUE(sim_.fault(R"({"route":"authentication","status":200,"body":"{\"status\": \"error\"}"})"))
      << sim_.lastError();
  KvBusinessOTP otp(&config_, &crypto_, &business_);
  EXPECT_EQ(5116, otp.onlineAuthenticateOtp("alice", hotp(kAliceSecretHex, 0)).getResultCode());
  EXPECT_EQ(5108, config_.getLogonAppDisable());
}

TEST_F(PushOtpSim, ACheckWhoseRequestCannotBeSealedSendsNothingAndStillReportsIt) {
  config_.setLogonAppDisable(5108);
  setIntegrationKey("");
  KvBusinessOTP otp(&config_, &crypto_, &business_);
  EXPECT_EQ(5006, otp.onlineAuthenticateOtp("alice", hotp(kAliceSecretHex, 0)).getResultCode());
  std::vector<Recorded> all;
  ASSERT_TRUE(sim_.requests(all)) << sim_.lastError();
  EXPECT_TRUE(all.empty());
  // 5006 is not a connectivity result.
  EXPECT_EQ(0, config_.getLogonAppDisable());
  EXPECT_EQ(0, savedLogonAppDisable());
}

TEST_F(PushOtpSim, TheOtpRequestCarriesLoginTypeCodeAndAddress) {
  business_.setClientIp("10.0.0.5");
  KvBusinessOTP otp(&config_, &crypto_, &business_);
  EXPECT_EQ(0, otp.onlineAuthenticateOtp("ALICE@SIM.EXAMPLE", hotp(kAliceSecretHex, 0)).getResultCode());
  Korvath::Model::RequestAuthentication sent = sentAuthentication();
  EXPECT_EQ("OTP", sent.getAuthenticationFactor());
  EXPECT_EQ("EMAIL", sent.getUserAuthentication().getLoginType());
  EXPECT_EQ("ALICE@SIM.EXAMPLE", sent.getUserAuthentication().getLogin());
  EXPECT_EQ(hotp(kAliceSecretHex, 0), sent.getUserAuthentication().getAuthenticationData());
  EXPECT_EQ("", sent.getUserAuthentication().getTransactionId());
  EXPECT_EQ("10.0.0.5", sent.getClientIp());
  EXPECT_FALSE(sent.getIsRdp());

  ASSERT_TRUE(sim_.reset()) << sim_.lastError();
  business_.setClientIp("255.255.255.255");
  Korvath::Utils::setRemoteLogonFlag(1);
  EXPECT_EQ(5113, otp.onlineAuthenticateOtp("alice", "12345678901").getResultCode());
  sent = sentAuthentication();
  EXPECT_EQ("LOGIN", sent.getUserAuthentication().getLoginType());
  EXPECT_EQ("", sent.getUserAuthentication().getAuthenticationData());
  EXPECT_EQ("255.255.255.255", sent.getClientIp());
  EXPECT_TRUE(sent.getIsRdp());

  for (const std::string ip : {"1.2.34", "192.168.100.2001"}) {
    ASSERT_TRUE(sim_.reset()) << sim_.lastError();
    business_.setClientIp(ip);
    EXPECT_EQ(5113, otp.onlineAuthenticateOtp("alice", "000000").getResultCode());
    EXPECT_EQ("", sentAuthentication().getClientIp()) << ip;
  }
}

}  // namespace
