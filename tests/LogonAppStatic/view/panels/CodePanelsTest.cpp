// The OTP and QR-code panels against the simulator, typed into and clicked as a user does:
// right, wrong, too short and too long codes, the fall-back to the offline check, the QR code
// read back from the screen by a scanner, and digits typed elsewhere in the dialog.
#include <windows.h>

#include <gtest/gtest.h>

#include "DispatchTestSupport.h"
#include "Korvath/Model/CloudRecords.h"
#include "Korvath/View/DialogMessages.h"
#include "Korvath/View/Panels.h"
#include "Korvath/View/ViewUtils.h"
#include "PanelsTestSupport.h"
#include "QrForgotServiceTestSupport.h"

using namespace Korvath;
using namespace Korvath::View;
using namespace Korvath::Test;

namespace {

class CodePanelsSim : public PanelsTest::PanelSim {
 protected:
  std::unique_ptr<OtpPanel> makeOtp() {
    return create<OtpPanel>([&](OtpPanel& p) { p.create(dialog_, module_, &service_, &clickTimer_, &internet_, "alice"); });
  }
  std::unique_ptr<QrCodePanel> makeQr() {
    return create<QrCodePanel>([&](QrCodePanel& p) {
      p.create(dialog_, module_, &service_, &clickTimer_, &internet_, "alice");
      p.generateQrCode();
    });
  }
  // What the QR area of the panel shows now (after every pending paint).
  Image qrArea(HWND panel) {
    paintNow(panel);
    const double s = Korvath::View::Utils::getScaleFactor();
    const int left = static_cast<int>(s * 94);
    const int top = static_cast<int>(s * 5);
    const int side = static_cast<int>(s * 190);
    return captureClient(panel).crop(RECT{left, top, left + side, top + side});
  }
  std::string aliceBlob() { return service_.getConfig().getUsersConfig().at(0).getAuthenticators().at(0).getBlob(); }
};

TEST_F(CodePanelsSim, OtpAsTypedAndEntered) {
  const std::wstring failed = L"OTP authentication failed.\nType your OTP again.\n";
  const struct {
    const char* name;
    std::wstring typed;
    bool byEnterKey;
    bool signedIn;
    std::wstring message;
    std::size_t sent;
  } rows[] = {
      {"right", std::wstring(), true, true, L"", 1},
      {"wrong", L"000000", false, false, failed + L"Error Code: 201.045.001\n", 1},
      {"too short", L"123", true, false, failed, 0},
      {"too long", L"12345678901", false, false, failed, 0},
      {"empty", L"", true, false, L"You must type your OTP.\n", 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(sim_->reset());
    const int closesBefore = closes();
    auto panel = makeOtp();
    HWND box = driver_->item(kOtpBoxId, panel->window());
    const std::string right = DispatchTest::codeOfSimAlice(0);
    ASSERT_TRUE(typeText(box, row.signedIn ? std::wstring(right.begin(), right.end()) : row.typed));
    advanceMs(100);
    ASSERT_TRUE(row.byEnterKey ? driver_->key(box, VK_RETURN) : driver_->click(driver_->item(kOtpEnterButtonId, panel->window())));
    EXPECT_EQ(closes() - closesBefore, row.signedIn ? 1 : 0);
    EXPECT_EQ(validated(), row.signedIn);
    EXPECT_EQ(shown(panel->window(), kErrorMessageLabelId), row.message);
    EXPECT_EQ(requestsTo("/authentication"), row.sent);
    EXPECT_EQ(driver_->text(box), L"") << "the box is emptied after every attempt";
    EXPECT_TRUE(driver_->isEnabled(driver_->item(kOtpEnterButtonId, panel->window())));
    if (row.sent == 1 && !row.signedIn) {
      EXPECT_EQ(shown(panel->window(), kRequestIdLabelId).rfind(L"Request ID:", 0), 0u);
      // The error labels are red on the panel's background.
      paintNow(panel->window());
      EXPECT_GT(captureClient(driver_->item(kErrorMessageLabelId, panel->window())).count(0xFF0000), 0u);
    }
    destroy(panel);
    resetValidated();
  }
}

TEST_F(CodePanelsSim, OtpThatCannotReachTheServiceIsCheckedOffline) {
  // The service's own code for "unreachable" (201005003) is result 5116.
  ASSERT_TRUE(sim_->fault("{\"route\":\"authentication\",\"status\":400,"
                          "\"body\":\"{\\\"errors\\\":[{\\\"code\\\":\\\"201005003\\\",\\\"message\\\":\\\"x\\\"}]}\"}"));
  auto panel = makeOtp();
  HWND box = driver_->item(kOtpBoxId, panel->window());
  // Letters do not get into the box; digits and backspace do.
  const std::string code = DispatchTest::codeOfSimAlice(0);
  ASSERT_TRUE(typeText(box, L"a" + std::wstring(code.begin(), code.end()) + L"9\bx"));
  EXPECT_EQ(driver_->text(box), std::wstring(code.begin(), code.end()));
  ASSERT_TRUE(press(panel->window(), kOtpEnterButtonId));
  // The service was asked, could not answer, and the stored authenticator let the user in.
  EXPECT_EQ(requestsTo("/authentication"), 1u);
  EXPECT_EQ(closes(), 1);
  EXPECT_TRUE(validated());
  destroy(panel);
}

TEST_F(CodePanelsSim, TheQrCodeOnTheScreenIsTheIssuedCommandAndItsAnswerSignsInAndNoOldCodeStays) {
  auto panel = makeQr();
  ASSERT_TRUE(driver_->sync());
  // Covered and uncovered: the whole panel is erased and painted again.
  RedrawWindow(panel->window(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
  const std::string command = decodeQr(qrArea(panel->window()), L"qrcode-read-back");
  ASSERT_EQ(command.rfind("KVQR1;", 0), 0u) << "zbarimg read: " << command;
  const std::string answer = QrForgotServiceTest::answerFor(aliceBlob(), command);
  ASSERT_TRUE(typeText(driver_->item(kQrCodeBoxId, panel->window()), std::wstring(answer.begin(), answer.end())));
  ASSERT_TRUE(press(panel->window(), kQrEnterButtonId));
  EXPECT_EQ(closes(), 1);
  EXPECT_TRUE(validated());
  // The service checked the transaction the code on the screen names.
  const auto checks = recorded("/authentication");
  ASSERT_EQ(checks.size(), 1u);
  Model::RequestAuthentication request;
  ASSERT_EQ(0, request.fillFromJson(checks[0].opened));
  EXPECT_NE(command.find(";ti=" + request.getUserAuthentication().getTransactionId() + ";"), std::string::npos) << command;

  // A next command longer than any QR code holds: text 403, and no old code stays on screen.
  ASSERT_TRUE(sim_->reply("transaction", 200,
                          "{\"transactionStatus\":\"PENDING\",\"transactionId\":\"6f1c2d3e-0000-4000-8000-000000000001\","
                          "\"command\":\"" + std::string(3000, 'x') + "\"}", 1));
  ui_.run([&] { panel->generateQrCode(); });
  EXPECT_EQ(qrArea(panel->window()).countOther(0xF0F0F0), 0u);
  EXPECT_EQ(shown(panel->window(), kErrorMessageLabelId), L"Could not generate QR code. Please try again.\n");
  destroy(panel);
}

// The dialog forwards a digit typed outside the boxes; it lands in the panel's box, which takes
// the focus (the next keys go there directly, so a forwarded digit is not added twice).
TEST_F(CodePanelsSim, ADigitTypedElsewhereLandsInThePanelsBox) {
  auto otp = makeOtp();
  auto qr = create<QrCodePanel>([&](QrCodePanel& p) { p.create(dialog_, module_, &service_, &clickTimer_, &internet_, "alice"); });
  auto activation = create<ForgotTokenActivationPanel>(
      [&](ForgotTokenActivationPanel& p) { p.create(dialog_, module_, &service_, &clickTimer_, &internet_, "alice"); });
  HWND verification = driver_->item(kActivationVerificationBoxId, activation->window());
  const struct {
    HWND panel;
    int box;
    HWND focus;
    const wchar_t* text;
  } rows[] = {{otp->window(), kOtpBoxId, dialog_, L"7"},
              {qr->window(), kQrCodeBoxId, dialog_, L"7"},
              {activation->window(), kTimeDurationBoxId, verification, L""},  // not into the hours then
              {activation->window(), kTimeDurationBoxId, dialog_, L"7"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.box);
    ui_.run([&] { SetFocus(row.focus); });
    for (WPARAM digit : {7, 12, 3}) driver_->post(row.panel, kMsgDigitToPanel, digit);  // 12 is no digit
    HWND box = driver_->item(row.box, row.panel);
    EXPECT_EQ(shown(row.panel, row.box), row.text);
    EXPECT_EQ(driver_->focus(), *row.text != L'\0' ? box : row.focus);
  }
  destroy(otp);
  destroy(qr);
  destroy(activation);
}

}  // namespace
