// Each panel of the dialog against the simulator, worked as a user works it: push approved,
// denied and timed out, left while its poll is held, and the auto-send option that cannot be
// saved; OTP right, wrong, too short, too long and checked offline when the service cannot be
// reached, and such a code refused online in the next sign-in; the QR code read from the screen
// by a scanner and answered; forgot-token activation
// (hours that are no number refused, codes faster than the click timer, a refused code online
// and offline) and the next sign-in on its countdown, to the end of the period; and codes
// checked offline while the configuration cannot be saved.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <future>
#include <string>
#include <vector>

#include "DialogUiSupport.h"
#include "Korvath/Config.h"
#include "Korvath/Model/CloudRecords.h"
#include "Korvath/Platform.h"
#include "Korvath/Service/KvServiceForgotAuthenticator.h"
#include "Korvath/View/DialogMessages.h"
#include "Korvath/View/DialogState.h"
#include "Korvath/View/ViewUtils.h"

using namespace Korvath;
using namespace Korvath::View;
using namespace DialogUi;
using Korvath::Test::captureClient;
using Korvath::Test::rectIn;
using Korvath::Test::Image;

namespace {

class Panels : public DialogTest {
 protected:
  // alice stored with every factor and her mobile authenticator, online at the simulator.
  void onlineAlice(std::uint16_t pushTimeout = 60) {
    writeAgentConfig({DialogSim::storedUser("alice", true, true, true, "otp")},
                     [&](ServerConfig& server) { ASSERT_EQ(0, server.setPushTimeout(pushTimeout)); });
  }
  // What the QR code's area of the panel shows now.
  Image qrArea(Attempt& shown) {
    HWND panel = shown.item(kQrCodePanelId);
    RedrawWindow(panel, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    shown.driver->sync();
    const int left = static_cast<int>(s_ * 94), top = static_cast<int>(s_ * 5), side = static_cast<int>(s_ * 190);
    return captureClient(panel).crop(RECT{left, top, left + side, top + side});
  }
};

// The waiter's outcome reaches the panel (the test's clock makes the 2-second poll steps pass
// at once): approved signs in, denied and timed out say so on the panel.
TEST_F(Panels, PushOutcomesReachThePanel) {
  const struct {
    const char* decision;
    const wchar_t* sentence;  // null: signed in
  } rows[] = {
      {"approve", nullptr},
      {"deny", L"The Push notification was denied.\n"},
      {"pending", L"Advanced authentication using Push timed out.\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.decision);
    restart();
    onlineAlice(10);
    ASSERT_TRUE(sim_->planPush("alice", row.decision, 1));
    Attempt shown({"alice"});
    shown.driver->command(kCmdPush);
    HWND send = shown.item(kSendPushButtonId, kPushPanelId);
    ASSERT_TRUE(press(shown, kPushPanelId, kSendPushButtonId));
    for (int i = 0; i < 1200 && !shown.finished(50) && !IsWindowEnabled(send); ++i) {
    }
    EXPECT_EQ(row.sentence == nullptr, shown.finished(0));
    if (row.sentence != nullptr) {
      EXPECT_EQ(L"", shown.shown(kWaitingTextId, kPushPanelId));
      EXPECT_EQ(0u, shown.shown(kErrorMessageLabelId, kPushPanelId).find(row.sentence));
      shown.click(kCmdBack);
    }
    ASSERT_TRUE(shown.finished());
    EXPECT_EQ(row.sentence == nullptr, shown.passed);
  }
}

// The user leaves a push whose poll is held at the service (3 s): the dialog switches panels and
// answers the next message at once, while the push ends by itself; the phone's approval that
// the held poll then brings back lets nobody in and shows nothing, and the push polls no more.
TEST_F(Panels, LeavingAPendingPushKeepsTheDialogAnsweringAndItsLateApprovalLetsNobodyIn) {
  onlineAlice(30);
  ASSERT_TRUE(sim_->planPush("alice", "pending"));
  fault(R"({"route":"pushresult","delayMs":3000,"count":1})");
  Attempt shown({"alice"});
  shown.driver->command(kCmdPush);
  ASSERT_TRUE(press(shown, kPushPanelId, kSendPushButtonId));
  ASSERT_TRUE(shown.driver->waitUntil([&] { return !recordedTo("pushresult").empty(); }));
  advanceMs(100);
  shown.driver->post(shown.dialog, WM_COMMAND, kCmdOtp);
  EXPECT_TRUE(shown.driver->sync(100)) << "the dialog did not answer while the push ended";
  EXPECT_EQ(kOtpPanelId, shown.panel());

  ASSERT_TRUE(sim_->planPush("alice", "approve"));
  const auto pushEnded = [] {
    const Service::KvService::FutureQueue& pushes = dialogState().service->getFutures();
    return !pushes.empty() && pushes.back().wait_for(std::chrono::seconds(0)) == std::future_status::ready;
  };
  ASSERT_TRUE(shown.driver->waitUntil(pushEnded));
  EXPECT_FALSE(shown.finished(0));
  EXPECT_EQ(L"", shown.shown(kErrorMessageLabelId, kOtpPanelId));
  shown.click(kCmdBack);
  ASSERT_TRUE(shown.finished());
  EXPECT_FALSE(shown.passed);
  EXPECT_EQ(1u, recordedTo("pushresult").size());
}

bool refuseReplace(const std::string&, const std::string&) { return false; }

// The auto-send box when its save fails: the box shows the stored option again and the panel
// says so; the next save that works takes the message away.
TEST_F(Panels, AFailedSaveOfTheAutoSendOptionIsShownAndTheBoxKeepsTheStoredOption) {
  onlineAlice();
  Attempt shown({"alice"});
  shown.driver->command(kCmdPush);
  HWND box = nullptr;
  for (HWND child = nullptr; (child = FindWindowExW(shown.item(kPushPanelId), child, L"Button", nullptr)) != nullptr;)
    if (GetDlgCtrlID(child) == static_cast<int>(kAutoSendCheckboxId)) box = child;
  ASSERT_NE(nullptr, box);
  ASSERT_EQ(BST_CHECKED, shown.driver->send(box, BM_GETCHECK)) << "alice's stored option";

  ConfigFile::setReplaceFunction(refuseReplace);
  shown.driver->click(box);
  ConfigFile::setReplaceFunction(nullptr);
  EXPECT_EQ(BST_CHECKED, shown.driver->send(box, BM_GETCHECK));
  EXPECT_EQ(productText(436) + L" [6000]\n", shown.shown(kErrorMessageLabelId, kPushPanelId));
  Korvath::Test::saveScreenshot(shown.dialog, L"push-auto-send-not-stored");
  EXPECT_TRUE(readConfigFile().getUsersConfig().at(0).getAutoSendPush());

  shown.driver->click(box);
  EXPECT_EQ(BST_UNCHECKED, shown.driver->send(box, BM_GETCHECK));
  EXPECT_EQ(L"", shown.shown(kErrorMessageLabelId, kPushPanelId));
  EXPECT_FALSE(readConfigFile().getUsersConfig().at(0).getAutoSendPush());
  shown.click(kCmdBack);
  ASSERT_TRUE(shown.finished());
}

TEST_F(Panels, OtpAsTypedAndEntered) {
  const std::string code = ServicesTest::otpCode(0);
  const std::wstring right(code.begin(), code.end()), failed = L"OTP authentication failed.\nType your OTP again.\n";
  // clang-format off
  const struct { const char* name; std::wstring typed; bool byEnterKey, unreachable, signedIn; std::wstring message;
                 std::size_t sent; } rows[] = {
      // Letters do not get into the box; digits and backspace do.
      {"right", L"a" + right + L"9\bx", true, false, true, L"", 1},
      {"wrong", L"000000", false, false, false, failed + L"Error Code: 201.045.001\n", 1},
      {"too short", L"123", true, false, false, failed, 0},
      {"too long", L"12345678901", false, false, false, failed, 0},
      // The service's own code for "unreachable" (201005003) is 5116: the stored authenticator
      // lets the user in, or refuses a wrong code with the same sentence as the service's refusal.
      {"service unreachable: checked offline", right, false, true, true, L"", 1},
      {"service unreachable: wrong code checked offline", L"000000", true, true, false, failed, 1},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    restart();
    onlineAlice();
    if (row.unreachable)
      fault(
          R"({"route":"authentication","status":400,"body":"{\"errors\":[{\"code\":\"201005003\",\"message\":\"x\"}]}"})");
    Attempt shown({"alice"});
    ASSERT_EQ(kOtpPanelId, shown.panel());
    HWND box = shown.item(kOtpBoxId, kOtpPanelId);
    ASSERT_TRUE(shown.driver->type(box, row.typed));
    advanceMs(100);
    ASSERT_TRUE(row.byEnterKey ? shown.driver->key(box, VK_RETURN) : shown.click(kOtpEnterButtonId, kOtpPanelId));
    EXPECT_EQ(row.sent, recorded("/authentication").size());
    if (!row.signedIn) {
      EXPECT_EQ(row.message, shown.shown(kErrorMessageLabelId, kOtpPanelId));
      // (A check made on this machine has no request to name.)
      EXPECT_EQ(row.sent == 1 && !row.unreachable,
                shown.shown(kRequestIdLabelId, kOtpPanelId).rfind(L"Request ID:", 0) == 0);
      EXPECT_EQ(L"", shown.driver->text(box)) << "the box is emptied after every attempt";
      press(shown, 0, kCmdBack);
    }
    ASSERT_TRUE(shown.finished());
    EXPECT_EQ(row.signedIn, shown.passed);
  }
}

// A one-time code accepted on this machine after the service could not be reached (checked
// against the stored authenticator) is not taken here again: in the next sign-in, online, it gets
// the wrong-code sentence without the service being asked, which never saw it and would take
// it; the next code goes to the service and signs in.
TEST_F(Panels, ACodeAcceptedHereIsRefusedOnlineInTheNextSignIn) {
  const std::wstring failed = L"OTP authentication failed.\nType your OTP again.\n";
  onlineAlice();
  fault(
      R"({"route":"authentication","status":400,"body":"{\"errors\":[{\"code\":\"201005003\",\"message\":\"x\"}]}","count":1})");
  const auto enter = [](Attempt& shown, const std::string& code) {
    HWND box = shown.item(kOtpBoxId, kOtpPanelId);
    EXPECT_TRUE(shown.driver->type(box, std::wstring(code.begin(), code.end())));
    EXPECT_TRUE(shown.click(kOtpEnterButtonId, kOtpPanelId));
  };
  {
    Attempt first({"alice"});
    ASSERT_EQ(kOtpPanelId, first.panel());
    enter(first, ServicesTest::otpCode(0));
    ASSERT_TRUE(first.finished());
    EXPECT_TRUE(first.passed);
  }
  const std::size_t asked = recorded("/authentication").size();
  EXPECT_EQ(1u, asked);
  Attempt next({"alice"});
  ASSERT_EQ(kOtpPanelId, next.panel());
  enter(next, ServicesTest::otpCode(0));
  EXPECT_FALSE(next.finished(0));
  EXPECT_EQ(failed, next.shown(kErrorMessageLabelId, kOtpPanelId));
  EXPECT_EQ(L"", next.driver->text(next.item(kOtpBoxId, kOtpPanelId)));
  EXPECT_EQ(asked, recorded("/authentication").size()) << "the service was asked about a code used here";
  Korvath::Test::saveScreenshot(next.dialog, L"otp-code-used-here");
  enter(next, ServicesTest::otpCode(1));
  ASSERT_TRUE(next.finished());
  EXPECT_TRUE(next.passed);
  EXPECT_EQ(asked + 1, recorded("/authentication").size());
}

// The code on the screen, read by zbarimg, is the command the service issued, and the answer to
// it signs in; a command too long for any QR code shows 403 and leaves no old code on screen.
TEST_F(Panels, TheQrCodeOnTheScreenIsTheIssuedCommandAndNoOldCodeStays) {
  onlineAlice();
  Attempt shown({"alice"});
  shown.driver->command(kCmdQrCode);
  const std::string first = decodeQr(qrArea(shown), L"qrcode-read-back");
  ASSERT_EQ(0u, first.rfind("KVQR1;", 0)) << "zbarimg read: " << first;

  const std::string tooLong = "\"command\":\"" + std::string(3000, 'x') + "\"}";
  reply("transaction", 200,
        "{\"transactionStatus\":\"PENDING\",\"transactionId\":\"6f1c2d3e-0000-4000-8000-000000000001\"," + tooLong);
  shown.driver->command(kCmdQrCode);
  const Image blank = qrArea(shown);
  EXPECT_EQ(blank.pixels.size(), blank.count(0xF0F0F0));
  EXPECT_EQ(L"Could not generate QR code. Please try again.\n", shown.shown(kErrorMessageLabelId, kQrCodePanelId));

  shown.driver->command(kCmdQrCode);
  const std::string command = decodeQr(qrArea(shown), L"qrcode-read-back");
  ASSERT_EQ(0u, command.rfind("KVQR1;", 0)) << "zbarimg read: " << command;
  EXPECT_NE(first, command);
  const std::string answer = ServicesTest::answerFor(ServicesTest::mobile(1001).getBlob(), command);
  ASSERT_TRUE(shown.driver->type(shown.item(kQrCodeBoxId, kQrCodePanelId), std::wstring(answer.begin(), answer.end())));
  ASSERT_TRUE(press(shown, kQrCodePanelId, kQrEnterButtonId));
  ASSERT_TRUE(shown.finished());
  EXPECT_TRUE(shown.passed);
  const auto checks = recorded("/authentication");
  ASSERT_EQ(1u, checks.size());
  Model::RequestAuthentication request;
  ASSERT_EQ(0, request.fillFromJson(checks[0].opened));
  EXPECT_NE(std::string::npos, command.find(";ti=" + request.getUserAuthentication().getTransactionId() + ";"));
}

// The activation code in the six boxes of the activation panel.
std::string activationCodeOn(Attempt& shown) {
  std::string code;
  for (int i = 0; i < 6; ++i) {
    const std::wstring box = shown.shown(kFirstActivationCodeBoxId + i, kForgotTokenActivationPanelId);
    code += std::string(box.begin(), box.end());
  }
  return code;
}

// Codes entered faster than the click timer allows are not checked, and a refused code brings a
// new activation code, for which the administrator's code signs in. The next sign-in opens on the
// countdown, and at the end of the period the panel says so, by its timer or at Enter, and
// Enter refuses.
TEST_F(Panels, ForgotTokenActivationThenSignInOnTheCountdownOfTheHoursGranted) {
  onlineAlice();
  {
    Attempt shown({"alice"});
    shown.driver->command(kCmdForgotToken);
    const auto activationCode = [&] { return activationCodeOn(shown); };
    const std::string challenge = activationCode();
    ASSERT_EQ(6u, challenge.size()) << "the activation code fills the six boxes";
    // Typed hours pass a digit filter; pasted ones (set past the filter here) do not, and are
    // refused at Enter.
    HWND hours = shown.item(kTimeDurationBoxId, kForgotTokenActivationPanelId);
    shown.driver->setText(hours, L"1x");
    ASSERT_TRUE(press(shown, kForgotTokenActivationPanelId, kActivationEnterButtonId));
    EXPECT_EQ(L"The Time Duration you typed is not valid. Make sure the value you typed is correct and try again.\n",
              shown.shown(kErrorMessageLabelId, kForgotTokenActivationPanelId));
    EXPECT_EQ(0u, recorded("/authenticationcode").size());
    shown.driver->setText(hours, L"");
    ASSERT_TRUE(shown.driver->type(hours, L"100"));
    // Two wrong codes entered in the box within 100 ms: only the first is checked.
    HWND verification = shown.item(kActivationVerificationBoxId, kForgotTokenActivationPanelId);
    advanceMs(100);
    const std::string right = ServicesTest::adminCode("alice", 100, challenge);
    for (const std::string& code : {ServicesTest::wrongCode(right), std::string("123456")}) {
      ASSERT_TRUE(shown.driver->type(verification, std::wstring(code.begin(), code.end())));
      ASSERT_TRUE(shown.driver->key(verification, VK_RETURN));
    }
    EXPECT_EQ(1u, recorded("/authenticationcode").size());
    EXPECT_EQ(L"Could not activate the 'Forgot Token' mode.\nError Code: 202.006.001\n",
              shown.shown(kErrorMessageLabelId, kForgotTokenActivationPanelId));
    EXPECT_EQ(L"123456", shown.driver->text(verification)) << "typed after the refusal emptied the box";
    EXPECT_EQ(L"100", shown.driver->text(hours));
    shown.driver->setText(verification, L"");
    const std::string code = ServicesTest::adminCode("alice", 100, activationCode());
    ASSERT_TRUE(shown.driver->type(verification, std::wstring(code.begin(), code.end())));
    ASSERT_TRUE(press(shown, kForgotTokenActivationPanelId, kActivationEnterButtonId));
    ASSERT_TRUE(shown.finished());
    EXPECT_TRUE(shown.passed);
    EXPECT_EQ(2u, recorded("/authenticationcode").size());
  }
  // The next sign-in (offline), an hour later, opens on the countdown: 99 hours and 5 minutes
  // left (and half a minute), then half an hour later (the panel's timer). (A clock earlier than
  // the grant would have ended the pass.)
  pointAt(CloudTest::closedPort());
  const Config config = readConfigFile();
  const std::uint64_t end = Service::KvServiceForgotAuthenticator::effectiveExpiry(
      config.getUsersConfig().at(0), config.getServerConfig().getTimeDifference());
  const auto countdown = [](Attempt& shown) {
    return shown.shown(kHoursBoxId, kForgotTokenAuthenticationPanelId) + L":" +
           shown.shown(kMinutesBoxId, kForgotTokenAuthenticationPanelId);
  };
  {
    clock_.set(end - 99 * ServicesTest::kHour - 330 * 10000000ull);
    Attempt shown({"alice"});
    ASSERT_EQ(kForgotTokenAuthenticationPanelId, shown.panel());
    EXPECT_EQ(L"99:05", countdown(shown));
    advanceMs(30 * 60 * 1000);
    shown.driver->post(shown.item(kForgotTokenAuthenticationPanelId), WM_TIMER, kExpiryTimerId);
    EXPECT_EQ(L"98:35", countdown(shown));
    // The hours box narrowed to two digits and its unit label with it: the screen shows the
    // label as it paints itself afresh, nothing of the wider one left over.
    HWND panel = shown.item(kForgotTokenAuthenticationPanelId);
    HWND unit = shown.item(kHoursLabelId, kForgotTokenAuthenticationPanelId);
    const auto unitOnScreen = [&](UINT redraw) {
      RedrawWindow(redraw == 0 ? panel : unit, nullptr, nullptr, redraw | RDW_UPDATENOW | RDW_ALLCHILDREN);
      shown.driver->sync();
      return captureClient(panel).crop(rectIn(unit, panel)).pixels;
    };
    const auto shownNow = unitOnScreen(0);
    EXPECT_TRUE(shownNow == unitOnScreen(RDW_INVALIDATE | RDW_ERASE)) << "stale pixels under \"Hours\"";
    ASSERT_TRUE(press(shown, kForgotTokenAuthenticationPanelId, kForgotTokenEnterButtonId));
    ASSERT_TRUE(shown.finished());
    EXPECT_TRUE(shown.passed);
  }
  const std::wstring expired = L"Could not activate the 'Forgot Token' mode.";
  for (const bool byTimer : {true, false}) {
    SCOPED_TRACE(byTimer ? "timer" : "Enter");
    clock_.set(end - 10 * 10000000ull);
    Attempt shown({"alice"});
    ASSERT_EQ(kForgotTokenAuthenticationPanelId, shown.panel());
    EXPECT_EQ(L"", shown.shown(kErrorMessageLabelId, kForgotTokenAuthenticationPanelId));
    clock_.set(end + 1);
    if (byTimer) {
      shown.driver->post(shown.item(kForgotTokenAuthenticationPanelId), WM_TIMER, kExpiryTimerId);
      EXPECT_EQ(expired, shown.shown(kErrorMessageLabelId, kForgotTokenAuthenticationPanelId));
    }
    ASSERT_TRUE(press(shown, kForgotTokenAuthenticationPanelId, kForgotTokenEnterButtonId));
    EXPECT_EQ(expired, shown.shown(kErrorMessageLabelId, kForgotTokenAuthenticationPanelId));
    EXPECT_EQ(L"00:00", countdown(shown));
    EXPECT_FALSE(shown.finished(0));
    shown.click(kCmdBack);
    ASSERT_TRUE(shown.finished());
    EXPECT_FALSE(shown.passed);
  }
}

// Offline, with the configuration file unwritable (a directory in the way of its temporary
// file, as a full disk or a read-only volume would do): a wrong and the right code get one
// answer, the configuration error; the forgot-token panel shows a new activation code either
// way; nothing on disk changes. Once the file can be written again the right code signs in.
TEST_F(Panels, CodesCheckedOfflineWhileTheConfigurationCannotBeSavedGetOneAnswer) {
  const std::wstring unsaved = productText(426) + L"\n";  // "Configuration is not valid. ..."
  for (const bool forgotToken : {false, true}) {
    SCOPED_TRACE(forgotToken ? "forgot-token activation" : "OTP");
    restart();
    offlineWith("alice", true, true, true, "otp");
    const std::string main = Platform::configFilePath(), backup = Config::backupPathFor(main);
    const auto bytes = [](const std::string& path) {
      std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
      return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    Attempt shown({"alice"});
    ASSERT_EQ(kOtpPanelId, shown.panel());
    const UINT panel = forgotToken ? kForgotTokenActivationPanelId : kOtpPanelId;
    const int box = forgotToken ? kActivationVerificationBoxId : kOtpBoxId;
    const int enter = forgotToken ? kActivationEnterButtonId : kOtpEnterButtonId;
    if (forgotToken) {
      shown.driver->command(kCmdForgotToken);
      ASSERT_EQ(panel, shown.panel());
      ASSERT_TRUE(shown.driver->type(shown.item(kTimeDurationBoxId, panel), L"8"));
    }
    const auto rightCode = [&] {
      return forgotToken ? ServicesTest::adminCode("alice", 8, activationCodeOn(shown)) : ServicesTest::otpCode(0);
    };
    const std::string mainBefore = bytes(main), backupBefore = bytes(backup);
    ASSERT_TRUE(std::filesystem::create_directory(std::filesystem::u8path(main + ".tmp")));
    std::string activationCode = forgotToken ? activationCodeOn(shown) : std::string();
    for (const bool right : {false, true, false, true}) {
      SCOPED_TRACE(right ? "right code" : "wrong code");
      const std::string code = right ? rightCode() : ServicesTest::wrongCode(rightCode());
      ASSERT_TRUE(shown.driver->type(shown.item(box, panel), std::wstring(code.begin(), code.end())));
      ASSERT_TRUE(press(shown, panel, enter));
      EXPECT_EQ(unsaved, shown.shown(kErrorMessageLabelId, panel));
      EXPECT_EQ(L"", shown.shown(kRequestIdLabelId, panel));
      EXPECT_EQ(L"", shown.driver->text(shown.item(box, panel)));
      EXPECT_FALSE(shown.finished(0));
      if (forgotToken) {
        const std::string next = activationCodeOn(shown);
        EXPECT_EQ(6u, next.size());
        EXPECT_NE(activationCode, next);
        activationCode = next;
      }
    }
    Korvath::Test::saveScreenshot(shown.dialog, forgotToken ? L"forgot-token-configuration-not-saved"
                                                            : L"otp-configuration-not-saved");
    EXPECT_EQ(mainBefore, bytes(main));
    EXPECT_EQ(backupBefore, bytes(backup));
    EXPECT_EQ(0, readConfigFile().getUsersConfig().at(0).getForgotTokenFailures());

    std::filesystem::remove(std::filesystem::u8path(main + ".tmp"));
    const std::string code = rightCode();
    ASSERT_TRUE(shown.driver->type(shown.item(box, panel), std::wstring(code.begin(), code.end())));
    ASSERT_TRUE(press(shown, panel, enter));
    ASSERT_TRUE(shown.finished());
    EXPECT_TRUE(shown.passed);
  }
}

// Offline a wrong verification code gets the sentence of the service's refusal, counts against
// the user in the stored configuration and brings a new activation code.
TEST_F(Panels, ForgotTokenCodeRefusedOfflineIsCountedAndSaysSo) {
  offlineWith("alice", true, true, true, "otp");
  Attempt shown({"alice"});
  shown.driver->command(kCmdForgotToken);
  ASSERT_EQ(kForgotTokenActivationPanelId, shown.panel());
  ASSERT_TRUE(shown.driver->type(shown.item(kTimeDurationBoxId, kForgotTokenActivationPanelId), L"8"));
  const std::string wrong = ServicesTest::wrongCode(ServicesTest::adminCode("alice", 8, activationCodeOn(shown)));
  ASSERT_TRUE(shown.driver->type(shown.item(kActivationVerificationBoxId, kForgotTokenActivationPanelId),
                                 std::wstring(wrong.begin(), wrong.end())));
  ASSERT_TRUE(press(shown, kForgotTokenActivationPanelId, kActivationEnterButtonId));
  EXPECT_EQ(L"Could not activate the 'Forgot Token' mode.\n",
            shown.shown(kErrorMessageLabelId, kForgotTokenActivationPanelId));
  EXPECT_EQ(1, readConfigFile().getUsersConfig().at(0).getForgotTokenFailures());
  press(shown, 0, kCmdBack);
  ASSERT_TRUE(shown.finished());
  EXPECT_FALSE(shown.passed);
}

}  // namespace
