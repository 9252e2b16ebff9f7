// The dialog's logic against the simulator (or a closed port for "offline"), as a user meets
// it: the start-up decisions (no window, the error panel that lets the user in on OK for the
// fail-open codes, or the sign-in options and a first panel), the tear-down, and what the window
// tests cannot reach: the QR code's failures, forgot-token activation offline, the countdown's
// hours, and the push result waiter (natively under ASan, which sees a waiter that outlives its
// task).

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "DialogSimSupport.h"
#include "Korvath/Config.h"
#include "Korvath/ConnectionUtils.h"
#include "Korvath/Platform.h"
#include "Korvath/RequestId.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/View/DialogState.h"
#include "Korvath/View/ForgotTokenLogic.h"
#include "Korvath/View/MfaDialogLogic.h"
#include "Korvath/View/OtpPanelLogic.h"
#include "Korvath/View/PushPanelLogic.h"
#include "Korvath/View/QrCodePanelLogic.h"

using namespace Korvath;
using namespace Korvath::View;
using DialogSim::storedUser;
using namespace Korvath::Model;
using ServicesTest::kHour;

namespace {

// The simulator answers with a body it cannot have sent: the client reports 5116.
std::string brokenRoute(const std::string& route) {
  return "{\"route\":\"" + route + "\",\"status\":200,\"body\":\"not an envelope\"}";
}

class LogicSim : public DialogSim::AgentSimTest {
 protected:
  void SetUp() override {
    AgentSimTest::SetUp();
    tearDownDialogState();
  }
  void TearDown() override {
    tearDownDialogState();
    AgentSimTest::TearDown();
  }
  std::atomic<bool> internet_{true};
};

// ------------------------------------------------------------------------- start-up

enum Setup : unsigned {
  kOffline = 1,         // the service cannot be reached
  kNothingStored = 2,   // no configuration file
  kBadInstall = 4,      // an install configuration that does not open
  kUnknownAllowed = 8,  // the account lets unknown users through
  kForgotRunning = 16,  // the stored user's forgot-token period runs for another hour
  kSyncDue = 32,        // start-up has a synchronization to make
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

TEST_F(LogicSim, StartUpDecisionsByResult) {
  const StoredUser alice{"alice", true, true, true, "otp"};
  const DialogContent options = DialogContent::SignInOptions, errorOnly = DialogContent::ErrorPanelOnly,
                      bypass = DialogContent::Bypass;
  const InitialPanel none = InitialPanel::ErrorPanel;
  // clang-format off
  const std::vector<StartCase> cases = {
      {"known user online: the policy's factors, the last one first", 0, alice, "", {"alice"}, 0, options, InitialPanel::Otp, false, true},
      {"nothing installed: fail open", kNothingStored, alice, "", {"alice"}, 5100, errorOnly, none, true, true},
      {"install configuration unreadable: fail open", kNothingStored | kBadInstall, alice, "", {"alice"}, 5005, errorOnly, none, true, true},
      {"offline known user: the stored factors", kOffline, {"carol", false, true, true, "qrcode"}, "", {"carol"}, 0, options, InitialPanel::QrCode, false, false},
      {"offline unknown user who passed online before: no window", kOffline | kUnknownAllowed, alice, "zoe", {"zoe"}, 7000, bypass, none, true, true},
      {"offline unknown user never seen online: refused", kOffline | kUnknownAllowed, alice, "", {"zoe"}, 5134, errorOnly, none, false, true},
      // Start-up that cannot make its due synchronization answers an unknown user the same way.
      {"offline unknown user who passed online before, a sync due: no window", kOffline | kUnknownAllowed | kSyncDue, alice, "zoe", {"zoe"}, 7000, bypass, none, true, true},
      {"offline unknown user never seen online, a sync due: refused", kOffline | kUnknownAllowed | kSyncDue, alice, "", {"zoe"}, 5134, errorOnly, none, false, true},
      // A stored e-mail the service no longer knows is the stored user, asked for by the login.
      {"stored user typing an e-mail the service does not know", kUnknownAllowed, alice, "", {"alice@corp.example"}, 0, options, InitialPanel::Otp, false, true},
      // The same account under a name the unknown-user rule lets through first: the stored name decides.
      {"offline, whitelisted name before a stored one", kOffline | kUnknownAllowed, {"carol", false, true, true, "qrcode"}, "a.smith", {"a.smith", "carol"}, 0, options, InitialPanel::QrCode, false, false},
      {"no second factor: no window", kOffline, {"carol", false, false, false, ""}, "", {"carol"}, 0, bypass, none, true, false},
      // A last sign-in by password is no factor to show: the first enabled one is shown.
      {"last sign-in by password", kOffline, {"carol", false, true, true, "password"}, "", {"carol"}, 0, options, InitialPanel::QrCode, false, false},
      {"forgot-token period running", kOffline | kForgotRunning, {"carol", true, false, true, "push"}, "", {"carol"}, 0, options, InitialPanel::ForgotToken, false, false},
  };
  // clang-format on
  for (const StartCase& c : cases) {
    SCOPED_TRACE(c.name);
    restart();
    clock_.set(BizCoreTest::FakeClock::kStart);
    UserConfig user = storedUser(c.user.login, c.user.push, c.user.qrcode, c.user.otp, c.user.lastAuthType);
    if (c.setup & kForgotRunning) user.setFallbackExpiration(clock_.nowFileTime() + kHour);
    if (!(c.setup & kNothingStored))
      writeAgentConfig({user}, [&](ServerConfig& s) { s.setAllowUnknownUsers(c.setup & kUnknownAllowed ? 1 : 0); });
    if (c.setup & kBadInstall) std::ofstream(Platform::installConfigFilePath(), std::ios::binary) << "not sealed";
    if (c.passedOnlineBefore[0] != '\0') {
      ASSERT_TRUE(readConfigFile().shouldBypassMfaForNonPelloraUser(c.passedOnlineBefore, true));
    }
    if (c.setup & kOffline) pointAt(CloudTest::closedPort());
    if (c.setup & kSyncDue) clock_.set(clock_.nowFileTime() + 24 * kHour + 1);

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

TEST_F(LogicSim, OptionsFollowTheOnlinePolicyAndOnlyEnabledOptionsAnswer) {
  // Stored with every factor; the service's policy says push and OTP only.
  writeAgentConfig({storedUser("alice", true, true, true, "qrcode")});
  reply("policy", 200, DialogSim::alicePolicy(false, false));
  startAttempt(true, {"alice"}, "10.1.2.3");
  EXPECT_EQ(1u, Utils::getRemoteLogonFlag());
  ASSERT_EQ(DialogContent::SignInOptions, prepareDialog());
  const DialogState& state = dialogState();
  EXPECT_EQ((std::vector<bool>{true, false, true, true}),
            (std::vector<bool>{state.pushEnabled, state.qrCodeEnabled, state.otpEnabled, state.forgotTokenEnabled}));
  // The stored last type is no longer allowed: the first allowed factor.
  EXPECT_EQ(InitialPanel::Push, chooseInitialPanel());
}

TEST_F(LogicSim, TearDownLeavesNothingForTheNextAttempt) {
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

// ------------------------------------------------------------------------- QR code

TEST_F(LogicSim, QrCodeFailuresShowWhatTheUserCanDo) {
  serve({storedUser("alice", true, true, true)});
  QrCodePanelLogic qr(&service_, &internet_, "alice");
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
  EXPECT_FALSE(internet_.load());
  EXPECT_EQ(transactions, recorded("/transaction").size());
  EXPECT_TRUE(qr.hasCommand());
  EXPECT_NE(nullptr, painter.image());

  // No code can be made at all (no active authenticator, and the service cannot be reached):
  // the generation's error replaces the check's, and no old code stays on screen.
  service_.getConfig().setUsersConfig({ServicesTest::user("alice", true, true, true)});
  fault(brokenRoute("transaction"));
  outcome = qr.buttonEnterOnClick("123456", painter);
  EXPECT_FALSE(qr.hasCommand());
  EXPECT_EQ(nullptr, painter.image());
  EXPECT_EQ(KV_ERROR_ALL_TOKENS_BLOCKED_AND_NO_INTERNET_ACCESS, outcome.error.resultCode());
}

// ------------------------------------------------------------------------- forgot token

// Online the window tests activate; here the service is lost during the activation and the
// stored authenticator's check takes over, with the dialog offline afterwards.
TEST_F(LogicSim, ForgotTokenActivationFallsBackOffline) {
  serve({storedUser("alice", true, true, true)});
  fault(brokenRoute("authenticationcode"));
  ForgotTokenActivationLogic activation(&service_, &internet_, "alice");
  ASSERT_TRUE(activation.generateActivationCode().empty());
  const std::string challenge = activation.activationCode();
  ASSERT_EQ(6u, challenge.size());
  // The administrator's code for other hours is refused as a wrong code, and a new activation
  // code replaces the one shown: the code for the old one no longer signs in, the new one's does.
  PanelOutcome outcome = activation.buttonEnterOnClick("8", ServicesTest::adminCode("alice", 9, challenge));
  EXPECT_FALSE(outcome.signedIn);
  EXPECT_EQ(430, errorTextId(outcome.error.resultCode(), ErrorKind::ForgotTokenActivation));
  EXPECT_FALSE(dialogState().validated.load());
  internet_ = true;
  outcome = activation.buttonEnterOnClick("8", ServicesTest::adminCode("alice", 8, challenge));
  EXPECT_FALSE(outcome.signedIn);
  ASSERT_EQ(6u, activation.activationCode().size());
  internet_ = true;
  outcome = activation.buttonEnterOnClick("8", ServicesTest::adminCode("alice", 8, activation.activationCode()));
  EXPECT_TRUE(outcome.signedIn);
  EXPECT_TRUE(dialogState().validated.load());
  EXPECT_FALSE(internet_.load());
  EXPECT_GT(saved("alice").getFallbackExpiration(), clock_.nowFileTime() + 7 * kHour);
}

// The countdown, refreshed every 30 s or when the period ends if sooner; at its end the
// countdown stands at zero and Enter refuses with the sentence of an expired pass.
TEST_F(LogicSim, ForgotTokenCountdownShowsTheTrueHoursAndEndsWithThePeriod) {
  constexpr std::uint64_t kSecond = 10000000ull;
  // clang-format off
  struct Row { std::uint64_t left; bool running; std::u16string hours, minutes; std::uint32_t refreshMs; } rows[] = {
      {2 * kHour + 5 * kHour / 60, true, u"02", u"05", 30000}, {100 * kHour, true, u"100", u"00", 30000},
      {999 * kHour + kHour / 2, true, u"999", u"30", 30000}, {30 * kSecond, true, u"00", u"00", 30000},
      {10 * kSecond + 1, true, u"00", u"00", 10001}, {0, false, u"00", u"00", 30000}};
  // clang-format on
  for (const Row& row : rows) {
    UserConfig alice = storedUser("alice", true, true, true);
    alice.setFallbackExpiration(clock_.nowFileTime() + row.left);
    serve({alice});
    dialogState().validated = false;
    ForgotTokenAuthenticationLogic authentication(&service_, "alice");
    std::u16string hours = u"--", minutes = u"--";
    EXPECT_EQ(row.running, authentication.refreshExpiresIn(hours, minutes));
    EXPECT_EQ(row.hours, hours);
    EXPECT_EQ(row.minutes, minutes);
    EXPECT_EQ(row.refreshMs, authentication.nextRefreshMs());
    // Enter lets the user in only while the period runs.
    const PanelOutcome outcome = authentication.buttonEnterOnClick();
    EXPECT_EQ(row.running, outcome.signedIn);
    EXPECT_EQ(row.running, dialogState().validated.load());
    const std::u16string shown = outcome.error.messageText([](int id) {
      const std::string text = "<" + std::to_string(id) + ">";
      return std::u16string(text.begin(), text.end());
    });
    EXPECT_EQ(row.running ? u"" : u"<430>\n", shown);
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

TEST_F(LogicSim, PushAnsweredAtThePhoneReachesThePanelThroughTheWaiterOnce) {
  // Left pending, the push times out (the test's clock moves at once).
  // clang-format off
  struct Row { const char* decision; std::uint16_t code; } rows[] = {
      {"approve", 0}, {"deny", KV_ERROR_DENIED_BY_USER}, {"pending", KV_ERROR_PUSH_TIMEOUT}};
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.decision);
    restart();
    serve({storedUser("alice", true, true, true)});
    ASSERT_TRUE(sim_->planPush("alice", row.decision, 2));
    ResultPost post;
    PushPanelLogic push(&service_, &internet_, "alice");
    ASSERT_TRUE(push.sendPushButtonOnClick(true, post.callback()));
    post.first.get_future().wait();
    EXPECT_FALSE(push.isPushInProgress());
    const PanelOutcome outcome = push.handleAuthenticationResult();
    EXPECT_EQ(row.code == 0, outcome.signedIn);
    EXPECT_EQ(row.code == 0, dialogState().validated.load());
    EXPECT_EQ(row.code, outcome.error.resultCode());
    push.safeCleanupAsyncTask();
    EXPECT_EQ(1, post.posts.load());
  }
}

bool refuseReplace(const std::string&, const std::string&) { return false; }

// The user leaves the panel while the push's poll is held at the service (3 s): the push is
// cancelled, the switch does not wait for the exchange, and when it returns nothing reaches the
// panel. Meanwhile the auto-send box is changed, once with a save that fails.
TEST_F(LogicSim, LeavingThePushPanelDoesNotWaitForThePushsExchangeAndItsAnswerLeavesNoTrace) {
  UserConfig alice = storedUser("alice", true, true, true);
  alice.setAutoSendPush(true);
  serve({alice});
  ASSERT_TRUE(sim_->planPush("alice", "pending"));
  fault(R"({"route":"pushresult","delayMs":3000,"count":1})");
  // Real time here: a push that were not cancelled would run its whole 60 s and time out.
  Platform::setClock(nullptr);
  internet_ = false;
  ResultPost post;
  std::shared_future<KvResult> task;
  {
    PushPanelLogic push(&service_, &internet_, "alice");
    EXPECT_TRUE(push.autoSendPush());
    ASSERT_TRUE(push.sendPushButtonOnClick(true, post.callback()));
    ASSERT_EQ(1u, service_.getFutures().size());
    task = service_.getFutures().front();
    // A second click while the waiter runs changes nothing.
    EXPECT_FALSE(push.sendPushButtonOnClick(true, post.callback()));
    EXPECT_EQ(1u, service_.getFutures().size());
    // Unticking the box stores the option at once. A save that fails is said, and the option
    // stays as stored, in the service's memory too.
    EXPECT_TRUE(push.updateAutoSendPushOptionByUserName(false).error.empty());
    ConfigFile::setReplaceFunction(refuseReplace);
    const PanelOutcome refused = push.updateAutoSendPushOptionByUserName(true);
    ConfigFile::setReplaceFunction(nullptr);
    EXPECT_EQ(KV_ERROR_UPDATE_AUTO_SEND_PUSH_OPTION, refused.error.resultCode());
    EXPECT_FALSE(push.autoSendPush());
  }  // the user switches to another panel
  EXPECT_EQ(std::future_status::timeout, task.wait_for(std::chrono::seconds(0)))
      << "leaving the panel waited for the push's exchange";
  // The service keeps the push until it has ended, and waits for it when it goes.
  ASSERT_EQ(1u, service_.getFutures().size());
  EXPECT_EQ(KV_ERROR_WAITING_PUSH_RESULT, task.get().getResultCode());
  EXPECT_EQ(1u, recordedTo("pushresult").size());

  EXPECT_EQ(0, post.posts.load());
  EXPECT_FALSE(internet_.load());
  EXPECT_FALSE(dialogState().validated.load());
  EXPECT_FALSE(saved("alice").getAutoSendPush());
}

// ------------------------------------------------------------------------- OTP

// A dialog that is offline stays offline: a code the stored authenticator refuses says nothing
// about the service, so the next code is checked on the machine too, without a request.
TEST_F(LogicSim, AnOfflineDialogStaysOfflineAfterAWrongOtp) {
  serve({storedUser("alice", true, true, true)});
  internet_ = false;
  OtpPanelLogic otp(&service_, &internet_, "alice");
  PanelOutcome outcome = otp.buttonEnterOnClick("000000");
  EXPECT_FALSE(outcome.signedIn);
  EXPECT_NE(0, outcome.error.resultCode());
  EXPECT_FALSE(internet_.load());

  outcome = otp.buttonEnterOnClick(ServicesTest::otpCode(0));
  EXPECT_TRUE(outcome.signedIn);
  EXPECT_FALSE(internet_.load());
  EXPECT_TRUE(recorded("/authentication").empty());
}

}  // namespace
