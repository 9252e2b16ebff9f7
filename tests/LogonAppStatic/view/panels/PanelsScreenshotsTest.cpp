// Screenshots of every panel in the states a user sees, for people to look at (CTest runs this
// suite in English, German, Japanese and Thai, and at scale 1.5), with the checks that hold in
// every language: no label is cut (each is at least as high as its text needs) and no two
// visible controls overlap.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "Korvath/View/AboutDialog.h"
#include "Korvath/View/DialogMessages.h"
#include "Korvath/View/Panels.h"
#include "Korvath/View/ViewUtils.h"
#include "PanelsTestSupport.h"

using namespace Korvath;
using namespace Korvath::View;
using namespace Korvath::Test;

namespace {

class Screenshots : public PanelsTest::PanelSim {
 protected:
  // Every pair of visible children of `panel` is apart, and every visible child is inside it.
  void expectLaidOut(HWND panel, const char* what) {
    SCOPED_TRACE(what);
    std::vector<std::pair<int, RECT>> children;
    ui_.run([&] {
      RECT bounds;
      GetClientRect(panel, &bounds);
      for (HWND child = GetWindow(panel, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsWindowVisible(child)) continue;
        RECT r;
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, panel, reinterpret_cast<POINT*>(&r), 2);
        EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= bounds.right && r.bottom <= bounds.bottom)
            << "control " << GetDlgCtrlID(child) << " leaves the panel";
        children.emplace_back(GetDlgCtrlID(child), r);
      }
      // The dialog's "Sign-in Options" label reaches into the panel's area from below.
      RECT label;
      GetWindowRect(GetDlgItem(dialog_, 215), &label);
      MapWindowPoints(nullptr, panel, reinterpret_cast<POINT*>(&label), 2);
      children.emplace_back(215, label);
    });
    for (std::size_t i = 0; i < children.size(); ++i) {
      for (std::size_t j = i + 1; j < children.size(); ++j) {
        RECT overlap;
        EXPECT_FALSE(IntersectRect(&overlap, &children[i].second, &children[j].second))
            << "controls " << children[i].first << " and " << children[j].first << " overlap";
      }
    }
  }
};

TEST_F(Screenshots, EveryPanel) {
  EXPECT_DOUBLE_EQ(PanelsTest::expectedScale(), Korvath::View::Utils::getScaleFactor());

  // Push: idle, waiting for the answer (the first poll held back), denied.
  auto push = create<PushPanel>([&](PushPanel& p) { p.create(dialog_, module_, &service_, &clickTimer_, &internet_, "alice", false); });
  ASSERT_TRUE(driver_->sync());
  shoot(push->window(), L"push");
  expectLaidOut(push->window(), "push");
  planPush("alice", "deny", 1);
  ASSERT_TRUE(sim_->fault("{\"route\":\"pushresult\",\"delayMs\":1500,\"count\":1}"));
  ASSERT_TRUE(press(push->window(), kSendPushButtonId));
  shoot(push->window(), L"push-waiting");
  expectLaidOut(push->window(), "push waiting");
  ASSERT_TRUE(driver_->waitUntil([&] { return !shown(push->window(), kErrorMessageLabelId).empty(); }, 30000));
  shoot(push->window(), L"push-denied");
  expectLaidOut(push->window(), "push denied");
  destroy(push);

  // OTP refused by the service: the sentence, the service's error code and the request ID.
  auto otp = create<OtpPanel>([&](OtpPanel& p) { p.create(dialog_, module_, &service_, &clickTimer_, &internet_, "alice"); });
  ASSERT_TRUE(typeText(driver_->item(kOtpBoxId, otp->window()), L"000000"));
  ASSERT_TRUE(press(otp->window(), kOtpEnterButtonId));
  shoot(otp->window(), L"otp-wrong");
  expectLaidOut(otp->window(), "otp");
  destroy(otp);

  // QR code: the code, then a wrong answer (a new code and the error).
  auto qr = create<QrCodePanel>([&](QrCodePanel& p) {
    p.create(dialog_, module_, &service_, &clickTimer_, &internet_, "alice");
    p.generateQrCode();
  });
  ASSERT_TRUE(driver_->sync());
  shoot(qr->window(), L"qrcode");
  ASSERT_TRUE(typeText(driver_->item(kQrCodeBoxId, qr->window()), L"000000"));
  ASSERT_TRUE(press(qr->window(), kQrEnterButtonId));
  shoot(qr->window(), L"qrcode-wrong");
  expectLaidOut(qr->window(), "qrcode");
  destroy(qr);

  // Forgot token: the activation code, then a wrong verification code.
  auto activation = create<ForgotTokenActivationPanel>([&](ForgotTokenActivationPanel& p) {
    p.create(dialog_, module_, &service_, &clickTimer_, &internet_, "alice");
    p.generateActivationCode();
  });
  ASSERT_TRUE(driver_->sync());
  shoot(activation->window(), L"forgot-token-activation");
  ASSERT_TRUE(typeText(driver_->item(kTimeDurationBoxId, activation->window()), L"999"));
  ASSERT_TRUE(typeText(driver_->item(kActivationVerificationBoxId, activation->window()), L"000000"));
  ASSERT_TRUE(press(activation->window(), kActivationEnterButtonId));
  shoot(activation->window(), L"forgot-token-activation-wrong");
  expectLaidOut(activation->window(), "activation");

  // The help window over the dialog.
  advanceMs(100);
  driver_->post(activation->window(), WM_COMMAND, kHowToLinkId);
  HWND howTo = waitForWindow(kHowToDialogClass);
  ASSERT_NE(howTo, nullptr);
  ASSERT_TRUE(driver_->sync());
  shoot(howTo, L"how-to");
  driver_->post(howTo, WM_CLOSE);
  ASSERT_TRUE(driver_->sync());
  destroy(activation);

  // Forgot token active: 999 hours and 5 minutes left.
  ui_.run([&] {
    auto lock = service_.lockState();
    Model::UserConfig alice = storedAlice();
    alice.setFallbackExpiration(clock_.nowFileTime() + 999 * ServicesTest::kHour + 5 * 600000000ull + 1);
    ASSERT_EQ(0, service_.getConfig().setUsersConfig({alice}));
  });
  auto authentication = create<ForgotTokenAuthenticationPanel>([&](ForgotTokenAuthenticationPanel& p) {
    p.create(dialog_, module_, &service_, &clickTimer_, "alice");
    p.refreshExpiresIn();
  });
  ASSERT_TRUE(driver_->sync());
  shoot(authentication->window(), L"forgot-token-authentication");
  EXPECT_TRUE(showsItsTextWhole(driver_->item(kHoursBoxId, authentication->window()))) << "999 hours";
  expectLaidOut(authentication->window(), "authentication");
  destroy(authentication);
}

}  // namespace
