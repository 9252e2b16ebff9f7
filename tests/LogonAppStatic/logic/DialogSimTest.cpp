// The dialog's logic against the simulator (or a closed port for "offline"), as a user meets
// it: the start-up decisions (no window, the error panel that lets the user in on OK for the
// fail-open codes, or the sign-in options and a first panel), the tear-down, and each panel:
// OTP, QR code, forgot-token activation and countdown, push with its result waiter.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <string>
#include <vector>

#include "CloudTestSupport.h"
#include "DispatchTestSupport.h"
#include "Korvath/Config.h"
#include "Korvath/ConnectionUtils.h"
#include "Korvath/HttpsExchange.h"
#include "Korvath/Platform.h"
#include "Korvath/RequestId.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/View/DialogState.h"
#include "Korvath/View/ForgotTokenLogic.h"
#include "Korvath/View/MfaDialogLogic.h"
#include "Korvath/View/OtpPanelLogic.h"
#include "Korvath/View/PushPanelLogic.h"
#include "Korvath/View/QrCodePanelLogic.h"
#include "QrForgotServiceTestSupport.h"
#include "ServicesTestSupport.h"

using namespace Korvath;
using namespace Korvath::View;
using Korvath::Model::KvResult;
using Korvath::Model::UserConfig;
using ServicesTest::kHour;

namespace {

// The simulator answers with a body it cannot have sent: the client reports 5116.
std::string brokenRoute(const std::string& route) {
  return "{\"route\":\"" + route + "\",\"status\":200,\"body\":\"not an envelope\"}";
}

// A stored user whose policy allows authentication, holding a mobile authenticator with the
// secret of the simulator's alice (device 1001).
UserConfig storedUser(const std::string& login, bool push, bool qrcode, bool otp, const std::string& last = "") {
  return QrForgotServiceTest::qrUser(login, push, qrcode, otp, {QrForgotServiceTest::mobile(1001)}, last);
}

// The simulator's policy reply for alice: every flag false but the policy's, and these factors.
std::string alicePolicy(bool safeNetwork, bool qrcode) {
  const auto flag = [](bool on) { return std::string(on ? "true" : "false"); };
  return "[{\"username\":\"alice\",\"email\":\"alice@sim.example\",\"hasPolicy\":true,"
         "\"isAllowedToAuthenticate\":true,\"isInSafeLocation\":" +
         flag(safeNetwork) +
         ",\"isBlocked\":false,\"isOverallocated\":false,\"isInQuarantine\":false,\"isInForgotToken\":false,"
         "\"authTypes\":{\"push\":true,\"qrcode\":" +
         flag(qrcode) + ",\"otp\":true}}]";
}

class DialogSim : public ServicesTest::ServiceSimTestBase {
 protected:
  void SetUp() override {
    ServiceSimTestBase::SetUp();
    tearDownDialogState();
  }
  void TearDown() override {
    tearDownDialogState();
    ServiceSimTestBase::TearDown();
  }
  void restart() {
    TearDown();
    SetUp();
    clock_.set(BizCoreTest::FakeClock::kStart);
  }

  // The configuration file the start-up reads: the simulator's account, `users`, offline and
  // forgot-token mode on.
  void writeAgentConfig(const std::vector<UserConfig>& users, bool allowUnknownUsers = false,
                        std::int32_t resourceId = 4242) {
    KvCrypto crypto;
    Config config(&crypto);
    BizCoreTest::fillSimConfig(config, Platform::configFilePath());
    config.setResourceId(resourceId);
    config.setLastSync(clock_.nowFileTime());
    ServerConfig server = config.getServerConfig();
    server.setOffline(1);
    server.setEnableForgotAuthenticator(1);
    server.setAllowUnknownUsers(allowUnknownUsers ? 1 : 0);
    ASSERT_EQ(0, config.setServerConfig(server));
    ASSERT_EQ(0, config.setUsersConfig(users));
    ASSERT_EQ(0, config.writeFile());
  }
  // The dialog state's service over the test's own file, holding `users`, online.
  void useDialogService(const std::vector<UserConfig>& users) {
    dialogState().service.reset(new Service::KvService());
    QrForgotServiceTest::fillQrForgotService(*service(), dir_.file("kvconfig.cfg"), users);
    service()->getConfig().setLastSync(clock_.nowFileTime());
    dialogState().internetStatus = true;
  }
  Service::KvService* service() { return dialogState().service.get(); }
  std::atomic<bool>* internet() { return &dialogState().internetStatus; }
  void fault(const std::string& json) { ASSERT_TRUE(sim_->fault(json)) << sim_->lastError(); }
  // Every push made afterwards for `login` is decided after `afterPolls` waiting answers.
  void planPush(const std::string& login, const std::string& decision, unsigned afterPolls = 0) {
    Cloud::HttpsExchange exchange;
    ASSERT_EQ(0u, exchange.open("localhost", port_, "POST", "/_sim/push",
                                {"Content-Type: application/json", "Accept: application/json"}));
    const Cloud::HttpsResult answer = exchange.sendAndReceive("{\"login\":" + CloudTest::quote(login) +
                                                              ",\"decision\":" + CloudTest::quote(decision) +
                                                              ",\"afterPolls\":" + std::to_string(afterPolls) + "}");
    ASSERT_TRUE(answer.answered());
    ASSERT_EQ(200u, answer.httpStatus) << answer.body;
  }
};

// ------------------------------------------------------------------------- start-up

enum Setup : unsigned {
  kOffline = 1,          // the service cannot be reached
  kNothingStored = 2,    // no configuration file
  kBadInstall = 4,       // an install configuration that does not open
  kResourceGone = 8,     // a due synchronization learns that the service forgot the resource
  kSafeNetwork = 16,     // the policy says the user is in a safe network
  kUnknownAllowed = 32,  // the account lets unknown users through
  kForgotRunning = 64,   // the stored user's forgot-token period runs for another hour
};

struct StoredUser {
  const char* login;
  bool push, qrcode, otp;
  const char* lastAuthType;
};

struct StartCase {
  const char* name;
  unsigned setup;
  StoredUser user;
  const char* passedOnlineBefore;  // an unknown user the whitelist holds
  std::vector<std::string> names;
  std::uint16_t resultCode;
  DialogContent content;
  InitialPanel panel;  // when the content is not Bypass
  bool validatedAtOnce;
  bool online;  // when the sign-in options are shown
};

TEST_F(DialogSim, StartUpDecisionsByResult) {
  const StoredUser alice{"alice", true, true, true, "otp"};
  const DialogContent options = DialogContent::SignInOptions, errorOnly = DialogContent::ErrorPanelOnly,
                      bypass = DialogContent::Bypass;
  const InitialPanel none = InitialPanel::ErrorPanel;
  // clang-format off
  const std::vector<StartCase> cases = {
      {"known user online: the policy's factors, the last one first", 0, alice, "", {"alice"}, 0, options, InitialPanel::Otp, false, true},
      {"safe network: no window", kSafeNetwork, alice, "", {"alice"}, 5129, bypass, none, true, true},
      {"resource gone: error panel, fail open", kResourceGone, alice, "", {"alice"}, 5108, errorOnly, none, true, true},
      {"nothing installed: fail open", kNothingStored, alice, "", {"alice"}, 5100, errorOnly, none, true, true},
      {"install configuration unreadable: fail open", kNothingStored | kBadInstall, alice, "", {"alice"}, 5005, errorOnly, none, true, true},
      {"empty name list: user not found, refused", 0, alice, "", {}, 5103, errorOnly, none, false, true},
      {"offline known user: the stored factors", kOffline, {"carol", false, true, true, "qrcode"}, "", {"carol"}, 0, options, InitialPanel::QrCode, false, false},
      {"offline unknown user who passed online before: no window", kOffline | kUnknownAllowed, alice, "zoe", {"zoe"}, 7000, bypass, none, true, true},
      {"offline unknown user never seen online: refused", kOffline | kUnknownAllowed, alice, "", {"zoe"}, 5134, errorOnly, none, false, true},
      {"no second factor: no window", kOffline, {"carol", false, false, false, ""}, "", {"carol"}, 0, bypass, none, true, false},
      // A last sign-in by password is no factor to show: the first enabled one is shown.
      {"last sign-in by password", kOffline, {"carol", false, true, true, "password"}, "", {"carol"}, 0, options, InitialPanel::QrCode, false, false},
      {"forgot-token period running", kOffline | kForgotRunning, {"carol", true, false, true, "push"}, "", {"carol"}, 0, options, InitialPanel::ForgotToken, false, false},
  };
  // clang-format on
  for (const StartCase& c : cases) {
    SCOPED_TRACE(c.name);
    restart();
    UserConfig user = storedUser(c.user.login, c.user.push, c.user.qrcode, c.user.otp, c.user.lastAuthType);
    if (c.setup & kForgotRunning) user.setFallbackExpiration(clock_.nowFileTime() + kHour);
    if (!(c.setup & kNothingStored))
      writeAgentConfig({user}, c.setup & kUnknownAllowed, c.setup & kResourceGone ? 9999 : 4242);
    if (c.setup & kResourceGone) clock_.set(BizCoreTest::FakeClock::kStart + 25 * kHour);
    if (c.setup & kSafeNetwork) reply("policy", 200, alicePolicy(true, true));
    if (c.setup & kBadInstall) {
      std::FILE* file = std::fopen(Platform::installConfigFilePath().c_str(), "wb");
      ASSERT_NE(nullptr, file);
      std::fputs("not sealed", file);
      std::fclose(file);
    }
    if (c.passedOnlineBefore[0] != '\0') {
      KvCrypto crypto;
      Config config(&crypto);
      ASSERT_EQ(0, config.readFile());
      ASSERT_TRUE(config.shouldBypassMfaForNonPelloraUser(c.passedOnlineBefore, true));
    }
    if (c.setup & kOffline) pointAt(CloudTest::closedPort());

    startAttempt(false, c.names, "10.1.2.3");
    const DialogState& state = dialogState();
    EXPECT_EQ(c.resultCode, state.result.getResultCode());
    const DialogContent content = prepareDialog();
    EXPECT_EQ(c.content, content);
    EXPECT_EQ(c.validatedAtOnce, state.validated.load());
    if (content != bypass) {
      EXPECT_EQ(c.panel, chooseInitialPanel());
    }
    EXPECT_EQ(c.validatedAtOnce, state.validated.load());
    if (content == options) {
      EXPECT_EQ(c.online, state.internetStatus.load());
    }
  }
}

TEST_F(DialogSim, OptionsFollowTheOnlinePolicyAndOnlyEnabledOptionsAnswer) {
  // Stored with every factor; the service's policy says push and OTP only.
  writeAgentConfig({storedUser("alice", true, true, true, "qrcode")});
  reply("policy", 200, alicePolicy(false, false));
  startAttempt(true, {"alice"}, "10.1.2.3");
  EXPECT_EQ(1u, Utils::getRemoteLogonFlag());
  ASSERT_EQ(DialogContent::SignInOptions, prepareDialog());
  const DialogState& state = dialogState();
  EXPECT_TRUE(state.pushEnabled);
  EXPECT_FALSE(state.qrCodeEnabled);
  EXPECT_TRUE(state.otpEnabled);
  EXPECT_TRUE(state.forgotTokenEnabled);
  // The stored last type is no longer allowed: the first allowed factor.
  EXPECT_EQ(InitialPanel::Push, chooseInitialPanel());
  EXPECT_EQ(kMethodPush, optionForCommand(210));
  EXPECT_EQ(kMethodNone, optionForCommand(211));
  EXPECT_EQ(kMethodForgotToken, optionForCommand(213));
}

TEST_F(DialogSim, TearDownLeavesNothingForTheNextAttempt) {
  writeAgentConfig({storedUser("alice", true, true, true)});
  startAttempt(false, {"alice"}, "");
  ASSERT_EQ(DialogContent::SignInOptions, prepareDialog());
  dialogState().validated = true;
  const std::string first = currentRequestId();
  EXPECT_FALSE(first.empty());

  tearDownDialogState();
  const DialogState& state = dialogState();
  EXPECT_FALSE(state.validated.load());
  EXPECT_EQ(nullptr, state.service.get());
  EXPECT_EQ(nullptr, state.clickTimer.get());
  EXPECT_FALSE(state.internetStatus.load());
  EXPECT_TRUE(currentRequestId().empty());

  startAttempt(false, {"alice"}, "");
  EXPECT_FALSE(currentRequestId().empty());
  EXPECT_NE(first, currentRequestId());
}

// ------------------------------------------------------------------------- OTP

TEST_F(DialogSim, OtpRightWrongShortLongAndOfflineFallBack) {
  const std::string right = DispatchTest::codeOfSimAlice(0), wrong = right == "000000" ? "111111" : "000000";
  // clang-format off
  // brokenService: the service cannot be reached; message: the panel's own (0 when the service answered)
  struct Row { const char* name; std::string otp; bool brokenService, signedIn; int message; bool serviceAnswered; } rows[] = {
      {"right", right, false, true, 0, false}, {"wrong", wrong, false, false, 0, true},
      {"empty", "", false, false, 405, false}, {"too short", "123", false, false, 411, false},
      {"too long", "12345678901", false, false, 411, false},
      // The stored authenticator holds the same secret as the simulator's.
      {"service unreachable: checked offline", right, true, true, 0, false}};
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    restart();
    useDialogService({storedUser("alice", true, true, true)});
    if (row.brokenService) fault(brokenRoute("authentication"));
    OtpPanelLogic otp(service(), internet(), "alice");
    const PanelOutcome outcome = otp.buttonEnterOnClick(row.otp);
    EXPECT_EQ(row.signedIn, outcome.signedIn);
    EXPECT_EQ(row.signedIn, dialogState().validated.load());
    EXPECT_EQ(row.message, outcome.error.messageTextId());
    EXPECT_EQ(row.serviceAnswered, outcome.error.resultCode() != 0);
    // A code of the wrong length never reaches the service.
    if (row.message != 0) {
      EXPECT_TRUE(recorded("/authentication").empty());
    }
  }
}

// ------------------------------------------------------------------------- QR code

TEST_F(DialogSim, QrCodeShownIsTheServicesCommandAndItsAnswerSignsIn) {
  useDialogService({storedUser("alice", true, true, true)});
  QrCodePanelLogic qr(service(), internet(), "alice");
  QRCodePainter painter;
  ASSERT_TRUE(qr.generateQrCode(painter).empty());
  ASSERT_EQ(1u, recorded("/transaction").size());
  // The image is the command's own code.
  QRCodePainter expected;
  ASSERT_TRUE(expected.paint(qr.qrCommand().c_str()));
  ASSERT_EQ(expected.imageLength(), painter.imageLength());
  EXPECT_EQ(0, std::memcmp(expected.image(), painter.image(), painter.imageLength()));

  // A wrong answer: the service's refusal, and a new code.
  const std::string first = qr.transactionId();
  PanelOutcome outcome = qr.buttonEnterOnClick("000000", painter);
  EXPECT_FALSE(outcome.signedIn);
  EXPECT_NE(0, outcome.error.resultCode());
  EXPECT_FALSE(outcome.error.errorCode().empty());
  EXPECT_NE(first, qr.transactionId());
  EXPECT_NE(nullptr, painter.image());

  outcome = qr.buttonEnterOnClick(
      QrForgotServiceTest::answerFor(QrForgotServiceTest::mobile(1001).getBlob(), qr.qrCommand()), painter);
  EXPECT_TRUE(outcome.signedIn);
  EXPECT_TRUE(dialogState().validated.load());
}

TEST_F(DialogSim, QrCodeFailuresShowWhatTheUserCanDo) {
  useDialogService({storedUser("alice", true, true, true)});
  QrCodePanelLogic qr(service(), internet(), "alice");
  QRCodePainter painter;
  // No code was generated yet: 5126, then a new code and "Please try again.".
  PanelOutcome outcome = qr.buttonEnterOnClick("123456", painter);
  EXPECT_EQ(kTextTryAgain, outcome.error.messageTextId());
  EXPECT_EQ(0, outcome.error.resultCode());
  ASSERT_TRUE(qr.hasCommand());

  // The service is lost during the check: 5136, the dialog offline, a new code made offline.
  fault(brokenRoute("authentication"));
  const std::size_t transactions = recorded("/transaction").size();
  outcome = qr.buttonEnterOnClick("123456", painter);
  EXPECT_EQ(KV_ERROR_QRCODE_NO_LONGER_VALID, outcome.error.resultCode());
  EXPECT_FALSE(internet()->load());
  EXPECT_EQ(transactions, recorded("/transaction").size());
  EXPECT_TRUE(qr.hasCommand());
  EXPECT_NE(nullptr, painter.image());

  // No code can be made at all (no active authenticator, and the service cannot be reached):
  // the generation's error replaces the check's, and no old code stays on screen.
  service()->getConfig().setUsersConfig({ServicesTest::user("alice", true, true, true)});
  fault(brokenRoute("transaction"));
  outcome = qr.buttonEnterOnClick("123456", painter);
  EXPECT_FALSE(qr.hasCommand());
  EXPECT_EQ(nullptr, painter.image());
  EXPECT_EQ(KV_ERROR_ALL_TOKENS_BLOCKED_AND_NO_INTERNET_ACCESS, outcome.error.resultCode());
}

// ------------------------------------------------------------------------- forgot token

TEST_F(DialogSim, ForgotTokenActivationOnlineAndOfflineOpensTheSignIn) {
  for (const bool brokenService : {false, true}) {
    SCOPED_TRACE(brokenService ? "offline fall-back" : "online");
    restart();
    useDialogService({storedUser("alice", true, true, true)});
    if (brokenService) fault(brokenRoute("authenticationcode"));
    ForgotTokenActivationLogic activation(service(), internet(), "alice");
    ASSERT_TRUE(activation.generateActivationCode().empty());
    const std::string challenge = activation.activationCode();
    ASSERT_EQ(6u, challenge.size());

    // The administrator's code for other hours is refused; the right one signs in.
    PanelOutcome outcome = activation.buttonEnterOnClick("8", QrForgotServiceTest::adminCode("alice", 9, challenge));
    EXPECT_FALSE(outcome.signedIn);
    EXPECT_NE(0, outcome.error.resultCode());
    EXPECT_FALSE(dialogState().validated.load());
    internet()->store(true);
    outcome = activation.buttonEnterOnClick("8", QrForgotServiceTest::adminCode("alice", 8, challenge));
    EXPECT_TRUE(outcome.signedIn);
    EXPECT_TRUE(dialogState().validated.load());
    EXPECT_EQ(!brokenService, internet()->load());

    // The next sign-in: the authentication panel counts down from about eight hours.
    dialogState().validated = false;
    dialogState().currentUserName = "alice";
    EXPECT_TRUE(isInForgotTokenMode());
    ForgotTokenAuthenticationLogic authentication(service(), "alice");
    std::u16string hours, minutes;
    ASSERT_TRUE(authentication.refreshExpiresIn(hours, minutes));
    EXPECT_TRUE(hours == u"07" || hours == u"08") << std::string(hours.begin(), hours.end());
    EXPECT_TRUE(authentication.buttonEnterOnClick());
    EXPECT_TRUE(dialogState().validated.load());
  }
}

TEST_F(DialogSim, ForgotTokenCountdownShowsTheTrueHoursAndEndsWithThePeriod) {
  // clang-format off
  struct Row { std::uint64_t left; bool running; std::u16string hours, minutes; } rows[] = {
      {2 * kHour + 5 * kHour / 60, true, u"02", u"05"}, {100 * kHour, true, u"100", u"00"},
      {999 * kHour + kHour / 2, true, u"999", u"30"}, {kHour / 60 / 2, true, u"00", u"00"}, {0, false, u"--", u"--"}};
  // clang-format on
  for (const Row& row : rows) {
    useDialogService({[&] {
      UserConfig alice = storedUser("alice", true, true, true);
      alice.setFallbackExpiration(clock_.nowFileTime() + row.left);
      return alice;
    }()});
    dialogState().validated = false;
    ForgotTokenAuthenticationLogic authentication(service(), "alice");
    std::u16string hours = u"--", minutes = u"--";
    EXPECT_EQ(row.running, authentication.refreshExpiresIn(hours, minutes));
    EXPECT_EQ(row.hours, hours);
    EXPECT_EQ(row.minutes, minutes);
    // Enter lets the user in only while the period runs.
    EXPECT_EQ(row.running, authentication.buttonEnterOnClick());
    EXPECT_EQ(row.running, dialogState().validated.load());
  }
}

// ------------------------------------------------------------------------- push

// Counts the callbacks of a push panel and lets the test wait for the first.
struct ResultPost {
  std::atomic<int> posts{0};
  std::promise<void> first;
  PushPanelLogic::ResultReady callback() {
    return [this] {
      if (posts++ == 0) first.set_value();
    };
  }
};

TEST_F(DialogSim, PushAnsweredAtThePhoneReachesThePanelThroughTheWaiter) {
  // Left pending, the push times out (the test's clock moves at once).
  // clang-format off
  struct Row { const char* decision; std::uint16_t code; int sentence; } rows[] = {
      {"approve", 0, 0}, {"deny", KV_ERROR_DENIED_BY_USER, 415}, {"pending", KV_ERROR_PUSH_TIMEOUT, 414}};
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.decision);
    restart();
    useDialogService({storedUser("alice", true, true, true)});
    planPush("alice", row.decision, 2);
    ResultPost post;
    PushPanelLogic push(service(), internet(), "alice");
    ASSERT_TRUE(push.sendPushButtonOnClick(true, post.callback()));
    post.first.get_future().wait();
    EXPECT_FALSE(push.isPushInProgress());
    const PanelOutcome outcome = push.handleAuthenticationResult();
    EXPECT_EQ(row.code == 0, outcome.signedIn);
    EXPECT_EQ(row.code == 0, dialogState().validated.load());
    EXPECT_EQ(row.code, outcome.error.resultCode());
    EXPECT_EQ(row.sentence, errorTextId(outcome.error.resultCode(), outcome.error.kind()));
    push.safeCleanupAsyncTask();
    EXPECT_EQ(1, post.posts.load());
  }
}

TEST_F(DialogSim, LeavingThePushPanelCancelsThePushAndAnAnswerAfterwardsLeavesNoTrace) {
  UserConfig alice = storedUser("alice", true, true, true);
  alice.setAutoSendPush(true);
  useDialogService({alice});
  planPush("alice", "pending");
  // Real time here: a push that were not cancelled would run its whole 60 s and time out.
  Platform::setClock(nullptr);
  internet()->store(false);
  ResultPost post;
  std::shared_future<KvResult> task;
  {
    PushPanelLogic push(service(), internet(), "alice");
    EXPECT_TRUE(push.autoSendPush());
    EXPECT_TRUE(push.sendPushStartsDisabled(true));
    EXPECT_FALSE(push.sendPushStartsDisabled(false));
    ASSERT_TRUE(push.sendPushButtonOnClick(true, post.callback()));
    ASSERT_EQ(1u, service()->getFutures().size());
    task = service()->getFutures().front();
    // A second click while the waiter runs changes nothing.
    EXPECT_FALSE(push.sendPushButtonOnClick(true, post.callback()));
    EXPECT_EQ(1u, service()->getFutures().size());
    // Unticking the box stores the option at once.
    EXPECT_EQ(0, push.updateAutoSendPushOptionByUserName(false).getResultCode());
  }  // the user switches to another panel
  EXPECT_TRUE(service()->getFutures().empty());
  ASSERT_EQ(std::future_status::ready, task.wait_for(std::chrono::seconds(0)));
  EXPECT_EQ(KV_ERROR_WAITING_PUSH_RESULT, task.get().getResultCode());

  EXPECT_EQ(0, post.posts.load());
  EXPECT_FALSE(internet()->load());
  EXPECT_FALSE(dialogState().validated.load());
  EXPECT_FALSE(QrForgotServiceTest::savedUser(dir_.file("kvconfig.cfg"), "alice").getAutoSendPush());
}

}  // namespace
