// The forgot-token panels against the simulator: activation with the code an administrator
// reads out, then sign-in on the countdown of the hours granted; hours that are not a number;
// and the help window over the dialog, whose thread keeps answering while it is open.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "Korvath/Service/KvServiceForgotAuthenticator.h"
#include "Korvath/View/AboutDialog.h"
#include "Korvath/View/DialogMessages.h"
#include "Korvath/View/Panels.h"
#include "PanelsTestSupport.h"
#include "QrForgotServiceTestSupport.h"

using namespace Korvath;
using namespace Korvath::View;
using namespace Korvath::Test;
using ServicesTest::kHour;

namespace {

constexpr std::uint64_t kMinute = 600000000ull;

class ForgotTokenSim : public PanelsTest::PanelSim {
 protected:
  std::unique_ptr<ForgotTokenActivationPanel> makeActivation() {
    return create<ForgotTokenActivationPanel>([&](ForgotTokenActivationPanel& p) {
      p.create(dialog_, module_, &service_, &clickTimer_, &internet_, "alice");
      p.generateActivationCode();
    });
  }
  std::unique_ptr<ForgotTokenAuthenticationPanel> makeAuthentication() {
    return create<ForgotTokenAuthenticationPanel>([&](ForgotTokenAuthenticationPanel& p) {
      p.create(dialog_, module_, &service_, &clickTimer_, "alice");
      p.refreshExpiresIn();
    });
  }
  // The countdown as shown, "hours:minutes", once what was posted to the panel is handled.
  std::wstring countdown(HWND panel) {
    driver_->sync();
    return driver_->text(driver_->item(kHoursBoxId, panel)) + L":" + driver_->text(driver_->item(kMinutesBoxId, panel));
  }
  // The end of alice's period as the dialog's configuration holds it.
  std::uint64_t expiry() {
    auto lock = service_.lockState();
    const Config& config = service_.getConfig();
    const Model::UserConfig& alice = config.getUsersConfig().at(static_cast<std::size_t>(config.getUserIndex("alice")));
    return Service::KvServiceForgotAuthenticator::effectiveExpiry(alice, config.getServerConfig().getTimeDifference());
  }
};

TEST_F(ForgotTokenSim, ActivationThenSignInOnTheCountdownOfTheHoursGranted) {
  auto activation = makeActivation();
  std::string challenge;
  for (int i = 0; i < 6; ++i) {
    const std::wstring box = driver_->text(driver_->item(kFirstActivationCodeBoxId + i, activation->window()));
    challenge += std::string(box.begin(), box.end());
  }
  ASSERT_EQ(challenge.size(), 6u) << "the activation code fills the six boxes";
  const std::string code = QrForgotServiceTest::adminCode("alice", 100, challenge);
  ASSERT_TRUE(typeText(driver_->item(kTimeDurationBoxId, activation->window()), L"100"));
  ASSERT_TRUE(typeText(driver_->item(kActivationVerificationBoxId, activation->window()), std::wstring(code.begin(), code.end())));
  ASSERT_TRUE(press(activation->window(), kActivationEnterButtonId));
  EXPECT_EQ(requestsTo("/authenticationcode"), 1u);
  EXPECT_EQ(closes(), 1);
  EXPECT_TRUE(validated());
  destroy(activation);
  resetValidated();

  // The next sign-in: 100 hours and 5 minutes left, then half an hour later.
  const std::uint64_t end = expiry();
  ASSERT_NE(end, 0u);
  clock_.set(end - 100 * kHour - 5 * kMinute);
  auto panel = makeAuthentication();
  EXPECT_EQ(countdown(panel->window()), L"100:05");
  EXPECT_TRUE(showsItsTextWhole(driver_->item(kHoursBoxId, panel->window())));
  advanceMs(30 * 60 * 1000);
  driver_->post(panel->window(), WM_TIMER, kExpiryTimerId);
  EXPECT_EQ(countdown(panel->window()), L"99:35");
  ASSERT_TRUE(press(panel->window(), kForgotTokenEnterButtonId));
  EXPECT_EQ(closes(), 2);
  EXPECT_TRUE(validated());
  // Once the period is over Enter does nothing.
  resetValidated();
  clock_.set(end + 1);
  ASSERT_TRUE(press(panel->window(), kForgotTokenEnterButtonId));
  EXPECT_EQ(closes(), 2);
  EXPECT_FALSE(validated());
  destroy(panel);
}

// Typed hours pass a digit filter; pasted or set ones do not, and are refused at Enter.
TEST_F(ForgotTokenSim, HoursPastedOrSetThatAreNoNumberAreRefusedWithTheirMessage) {
  auto activation = makeActivation();
  HWND hours = driver_->item(kTimeDurationBoxId, activation->window());
  ASSERT_TRUE(typeText(driver_->item(kActivationVerificationBoxId, activation->window()), L"123456"));
  ASSERT_TRUE(OpenClipboard(nullptr) && EmptyClipboard());
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, 3 * sizeof(wchar_t));
  wcscpy(static_cast<wchar_t*>(GlobalLock(memory)), L"1x");
  GlobalUnlock(memory);
  SetClipboardData(CF_UNICODETEXT, memory);
  CloseClipboard();
  for (const auto& put : std::vector<std::function<void()>>{[&] { driver_->post(hours, WM_PASTE); },
                                                            [&] { driver_->setText(hours, L"abc"); }}) {
    driver_->setText(hours, L"");
    put();
    ASSERT_TRUE(press(activation->window(), kActivationEnterButtonId));
    EXPECT_EQ(shown(activation->window(), kErrorMessageLabelId),
              L"The Time Duration you typed is not valid. Make sure the value you typed is correct and try again.\n")
        << "hours " << driver_->text(hours).size() << " characters";
  }
  EXPECT_EQ(requestsTo("/authenticationcode"), 0u);
  destroy(activation);
}

TEST_F(ForgotTokenSim, TheHelpWindowRunsOverTheDialogWhoseThreadKeepsAnswering) {
  auto activation = makeActivation();
  advanceMs(100);
  driver_->post(activation->window(), WM_COMMAND, kHowToLinkId);
  HWND howTo = waitForWindow(kHowToDialogClass);
  ASSERT_NE(howTo, nullptr);
  EXPECT_EQ(GetWindow(howTo, GW_OWNER), dialog_);
  EXPECT_FALSE(driver_->isEnabled(dialog_)) << "the dialog takes no input under the help window";
  // Sent and posted messages are still served on the dialog's thread.
  EXPECT_EQ(driver_->send(activation->window(), WM_GETDLGCODE), 0);
  driver_->post(activation->window(), kMsgDigitToPanel, 5);
  ASSERT_TRUE(driver_->sync());
  EXPECT_EQ(driver_->text(driver_->item(kTimeDurationBoxId, activation->window())), L"5");
  // Back closes it and gives the dialog its input again.
  ASSERT_TRUE(driver_->click(driver_->item(kHowToBackButtonId, howTo)));
  EXPECT_TRUE(driver_->waitUntil([] { return HowToUseForgotTokenDialog::window() == nullptr; }));
  EXPECT_FALSE(IsWindow(howTo));
  EXPECT_TRUE(driver_->isEnabled(dialog_));
  destroy(activation);
}

TEST_F(ForgotTokenSim, AQuitMessageClosesTheHelpWindowAndStillEndsTheDialogsLoop) {
  // A thread of its own, whose message loop is to end.
  auto thread = std::make_unique<UiThread>();
  HWND dialog = thread->call([] { return PanelsTest::createStandInDialog(); });
  std::unique_ptr<ForgotTokenAuthenticationPanel> panel;
  thread->run([&] {
    panel.reset(new ForgotTokenAuthenticationPanel());
    panel->create(dialog, module_, &service_, nullptr, "alice");
  });
  PostMessageW(panel->window(), WM_COMMAND, kHowToLinkId, 0);
  ASSERT_NE(waitForWindow(kHowToDialogClass), nullptr);
  HANDLE handle = OpenThread(SYNCHRONIZE, FALSE, thread->id());
  ASSERT_NE(handle, nullptr);
  PostThreadMessageW(thread->id(), WM_QUIT, 0, 0);
  EXPECT_EQ(WaitForSingleObject(handle, 10000), static_cast<DWORD>(WAIT_OBJECT_0)) << "the dialog's loop never saw its quit";
  CloseHandle(handle);
  EXPECT_EQ(HowToUseForgotTokenDialog::window(), nullptr);
  panel.reset();  // its windows went with their thread
}

}  // namespace
