// The push panel against the simulator: the result waiter's outcome reaches the panel
// (approved, denied, timed out), and leaving the panel ends the push at once, so that an answer
// given afterwards changes nothing.
#include <windows.h>

#include <gtest/gtest.h>

#include "Korvath/Platform.h"
#include "Korvath/View/DialogMessages.h"
#include "Korvath/View/Panels.h"
#include "Korvath/View/ViewUtils.h"
#include "PanelsTestSupport.h"

using namespace Korvath;
using namespace Korvath::View;

namespace {

class PushPanelSim : public PanelsTest::PanelSim {
 protected:
  void setPushTimeout(std::uint16_t seconds) {
    ServerConfig server = service_.getConfig().getServerConfig();
    ASSERT_EQ(0, server.setPushTimeout(seconds));
    ASSERT_EQ(0, service_.getConfig().setServerConfig(server));
  }
  std::unique_ptr<PushPanel> makePanel() {
    return create<PushPanel>([&](PushPanel& p) { p.create(dialog_, module_, &service_, &clickTimer_, &internet_, "alice", false); });
  }
};

TEST_F(PushPanelSim, TheWaitersResultReachesThePanel) {
  setPushTimeout(10);  // the test's clock makes the 2-second poll steps pass at once
  const struct {
    const char* decision;
    bool signedIn;
    const wchar_t* sentence;
  } rows[] = {
      {"approve", true, L""},
      {"deny", false, L"The Push notification was denied.\n"},
      {"pending", false, L"Advanced authentication using Push timed out.\nPlease try again or use another authentication option.\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.decision);
    ASSERT_TRUE(sim_->reset());
    planPush("alice", row.decision, 1);
    const int closesBefore = closes();
    auto panel = makePanel();
    HWND send = driver_->item(kSendPushButtonId, panel->window());
    // A command 226 that no push handed over lets nobody in.
    driver_->post(panel->window(), WM_COMMAND, kPushResultCommand);
    ASSERT_TRUE(driver_->sync());
    EXPECT_EQ(closes(), closesBefore);
    EXPECT_FALSE(validated());

    ASSERT_TRUE(press(panel->window(), kSendPushButtonId));
    ASSERT_TRUE(driver_->waitUntil([&] { return closes() > closesBefore || driver_->isEnabled(send); }, 60000));
    EXPECT_EQ(closes() - closesBefore, row.signedIn ? 1 : 0);
    EXPECT_EQ(validated(), row.signedIn);
    EXPECT_EQ(shown(panel->window(), kWaitingTextId), L"");
    if (!row.signedIn) {
      EXPECT_EQ(shown(panel->window(), kErrorMessageLabelId).rfind(row.sentence, 0), 0u);
    }
    destroy(panel);
    resetValidated();
  }
}

TEST_F(PushPanelSim, LeavingThePanelEndsThePushAndALateAnswerLeavesNoTrace) {
  // The push task waits its 2-second poll steps in real time here, so that only the
  // cancellation can end it early.
  Platform::setClock(nullptr);
  setPushTimeout(30);
  planPush("alice", "pending");
  auto push = makePanel();
  ASSERT_TRUE(press(push->window(), kSendPushButtonId));
  ASSERT_TRUE(driver_->waitUntil([&] { return pushPolls() >= 1; }, 20000));

  const unsigned pollsAtLeaving = pushPolls();
  destroy(push);  // returns once the push task and its waiter have ended
  const unsigned pollsAfterLeaving = pushPolls();
  EXPECT_LE(pollsAfterLeaving, pollsAtLeaving + 1) << "the push kept polling after the panel was left";

  // The user switched to OTP; then the phone approves the push that was sent.
  auto otp = create<OtpPanel>([&](OtpPanel& p) { p.create(dialog_, module_, &service_, &clickTimer_, &internet_, "alice"); });
  const std::string list = pushes();
  const std::size_t at = list.find("\"transactionId\":\"");
  ASSERT_NE(at, std::string::npos) << list;
  decidePush(list.substr(at + 17, list.find('"', at + 17) - (at + 17)), "approve");
  ASSERT_TRUE(driver_->sync());
  EXPECT_EQ(pushPolls(), pollsAfterLeaving);
  EXPECT_EQ(closes(), 0);
  EXPECT_FALSE(validated());
  EXPECT_EQ(shown(otp->window(), kErrorMessageLabelId), L"");
  destroy(otp);
  Platform::setClock(&clock_);
}

}  // namespace
