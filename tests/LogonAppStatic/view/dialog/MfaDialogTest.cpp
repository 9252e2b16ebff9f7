// The MFA dialog's frame with the real window: what the start-up decided (no window, the error
// panel, a window that cannot be made), option buttons, keys, the click timer, Remote Desktop,
// the private messages, About and the help window over a dialog that keeps answering, LogonUI's
// thread while it waits, handle counts.
// (The decisions themselves are the logic suite's.)

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DialogUiSupport.h"
#include "Korvath/Platform.h"
#include "Korvath/View/DialogMessages.h"
#include "Korvath/View/DialogState.h"
#include "Korvath/View/MfaDialog.h"

using namespace Korvath;
using namespace Korvath::View;
using namespace DialogUi;
using Korvath::Test::waitForWindow;

namespace {

LONG fontWeight(HWND window) {
  LOGFONTW font{};
  auto handle = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
  return handle != nullptr && GetObjectW(handle, sizeof font, &font) != 0 ? font.lfWeight : 0;
}

bool answers(HWND window) {
  DWORD_PTR answer = 0;
  return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &answer) != 0;
}

// Takes the place of the "MFA_Dialog" class in the product module while it lives: each window
// the dialog tries to make of it is counted and refused.
std::atomic<int> refusedWindows{0};
struct RefusedDialogClass {
  RefusedDialogClass() {
    refusedWindows = 0;
    UnregisterClassW(kMfaDialogClass, productModule());
    const WNDCLASSEXW wc{sizeof(WNDCLASSEXW), 0,      refuse, 0, 0, productModule(), nullptr, nullptr, nullptr, nullptr,
                         kMfaDialogClass,     nullptr};
    registered = RegisterClassExW(&wc) != 0;
  }
  ~RefusedDialogClass() { UnregisterClassW(kMfaDialogClass, productModule()); }
  static LRESULT CALLBACK refuse(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_NCCREATE) return DefWindowProcW(window, message, wParam, lParam);
    ++refusedWindows;
    return FALSE;
  }
  bool registered = false;
};

using DialogFrame = DialogTest;

TEST_F(DialogFrame, TheWindowDoesWhatTheStartUpDecided) {
  const Model::UserConfig alice = DialogSim::storedUser("alice", true, true, true, "otp");
  const auto safeNetwork = [&] {
    writeAgentConfig({alice});
    reply("policy", 200, DialogSim::alicePolicy(true, true));
  };
  const auto resourceGone = [&] {
    writeAgentConfig({alice}, nullptr, 9999);
    advanceMs(25 * 3600 * 1000);  // a synchronization is due
  };
  // clang-format off
  const struct {
    const char* name;
    std::function<void()> prepare;
    std::vector<std::string> names;
    UINT errorText;  // the error panel's message begins with it; 0: no window
    UINT button;     // clicked then: the error panel's OK or the dialog's Back; or the bypass's message
    bool passed;
    int refused;  // >= 0: the window class refuses windows; the dialog tries this many
  } cases[] = {
      {"5129 safe network: no window at all", safeNetwork, {"alice"}, 0, 0, true, 0},
      {"5108 resource gone: OK lets in", resourceGone, {"alice"}, 428, kErrorPanelOkButtonId, true, -1},
      {"5108 resource gone: Back refuses", resourceGone, {"alice"}, 428, kCmdBack, false, -1},
      {"5108 resource gone: the bypass's message from outside refuses", resourceGone, {"alice"}, 428, kMsgBypass, false, -1},
      {"5103 empty name list: OK refuses", [&] { writeAgentConfig({alice}); }, {}, 409, kErrorPanelOkButtonId, false, -1},
      {"5108 but the window cannot be made: refused at once", resourceGone, {"alice"}, 0, 0, false, 1},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    restart();
    c.prepare();
    std::unique_ptr<RefusedDialogClass> refusing(c.refused >= 0 ? new RefusedDialogClass() : nullptr);
    ASSERT_TRUE(!refusing || refusing->registered);
    Attempt shown(c.names);
    ASSERT_EQ(c.errorText == 0, shown.dialog == nullptr);
    if (shown.dialog != nullptr) {
      EXPECT_EQ(kErrorMessagePanelId, shown.panel());
      EXPECT_EQ(0u, shown.shown(kErrorMessageLabelId, kErrorMessagePanelId).find(productText(c.errorText)));
      if (c.button == kMsgBypass)
        shown.driver->post(shown.dialog, kMsgBypass);
      else
        shown.click(static_cast<int>(c.button), c.button == kErrorPanelOkButtonId ? kErrorMessagePanelId : 0);
    }
    ASSERT_TRUE(shown.finished()) << "the dialog thread did not end";
    EXPECT_EQ(c.passed, shown.passed);
    if (refusing) {
      EXPECT_EQ(c.refused, refusedWindows.load());
    }
  }
}

TEST_F(DialogFrame, DigitsReachThePanelShortcutsSwitchEnabledOptionsFastCommandsAreDroppedNoBackOverRdp) {
  offlineWith("bob", false, true, true, "otp");
  Attempt shown({"bob"}, true);
  HWND dialog = shown.dialog;
  ASSERT_NE(nullptr, dialog);
  ASSERT_EQ(kOtpPanelId, shown.panel());
  // A remote session has no way back to the tile: no Back button.
  EXPECT_EQ(nullptr, shown.item(kCmdBack));
  // A digit typed anywhere (here on an option button) goes to the panel's box, which takes the
  // focus so that the next digits are typed into it.
  shown.driver->key(shown.item(kCmdQrCode), '7');
  EXPECT_EQ(L"7", shown.shown(kOtpBoxId, kOtpPanelId));
  EXPECT_EQ(shown.item(kOtpBoxId, kOtpPanelId), shown.driver->focus());
  // Shortcuts switch only to an option the user has (bob has no push); the chosen one is bold.
  const struct {
    UINT key, panel, bold;
  } steps[] = {{'P', kOtpPanelId, kCmdOtp},
               {'Q', kQrCodePanelId, kCmdQrCode},
               {'O', kOtpPanelId, kCmdOtp},
               {'F', kForgotTokenActivationPanelId, kCmdForgotToken}};
  for (const auto& step : steps) {
    SCOPED_TRACE(static_cast<char>(step.key));
    shown.driver->key(dialog, step.key);
    EXPECT_EQ(step.panel, shown.panel());
    for (int id : {kCmdQrCode, kCmdOtp, kCmdForgotToken})
      EXPECT_EQ(static_cast<UINT>(id) == step.bold ? 900 : 300, fontWeight(statics(dialog, id).at(0))) << id;
  }
  // The activation panel takes a digit into the hours, but not while its verification code has
  // the focus.
  shown.driver->key(dialog, '4');
  HWND verification = shown.item(kActivationVerificationBoxId, kForgotTokenActivationPanelId);
  shown.driver->post(verification, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
  shown.driver->post(verification, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
  shown.driver->key(dialog, '2');
  EXPECT_EQ(L"4", shown.shown(kTimeDurationBoxId, kForgotTokenActivationPanelId));
  // And so does one of the number pad.
  shown.driver->key(dialog, 'Q');
  shown.driver->key(dialog, VK_NUMPAD5);
  EXPECT_EQ(L"5", shown.shown(kQrCodeBoxId, kQrCodePanelId));
  // Within 100 ms of an action that started the click timer, commands are dropped.
  const std::uint64_t started = clock_.nowFileTime();
  dialogState().clickTimer->start(100, 0);
  for (std::uint64_t elapsed : {0, 99, 100}) {
    clock_.set(started + elapsed * 10000);
    shown.driver->key(dialog, 'O');
    EXPECT_EQ(elapsed < 100 ? kQrCodePanelId : kOtpPanelId, shown.panel()) << elapsed << " ms";
  }
  // The dialog's private messages are of the application range: the system's 203 and 616 are
  // no digit and no way in; WM_APP + 616, the bypass's number, from another thread ends the
  // dialog as a refusal.
  shown.driver->send(shown.item(kOtpPanelId), 203, 9);
  shown.driver->send(dialog, 616);
  EXPECT_EQ(L"", shown.shown(kOtpBoxId, kOtpPanelId));
  EXPECT_FALSE(shown.finished(0));
  shown.driver->post(dialog, kMsgBypass);
  ASSERT_TRUE(shown.finished());
  EXPECT_FALSE(shown.passed);
}

// About and the forgot-token help window run modally on the dialog's thread: the dialog takes
// no input meanwhile but answers every message, and however the window ends, control is back
// with the dialog or the whole attempt has ended. Meanwhile the gate's thread (LogonUI's, with a
// window of its own) waits in start() and answers too; a quit message posted to it then is still
// there for its own loop afterwards.
TEST_F(DialogFrame, AboutAndTheHelpWindowLeaveTheDialogAndLogonUiAnswering) {
  offlineWith("alice", true, true, true, "otp");
  Attempt shown({"alice"}, false, true);
  ASSERT_NE(nullptr, shown.dialog);
  EXPECT_TRUE(answers(shown.logonUi));
  PostThreadMessageW(shown.threadId, WM_QUIT, 7, 0);
  enum End { BackButton, CloseMessage, GateClosesTheDialog, QuitMessage };
  const struct {
    const wchar_t* window;
    End end;
  } rows[] = {{kAboutDialogClass, BackButton},
              {kAboutDialogClass, CloseMessage},
              {kHowToDialogClass, BackButton},
              {kHowToDialogClass, QuitMessage}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.end);
    const bool about = row.window == kAboutDialogClass;
    if (about) {
      shown.click(kCmdAbout);
    } else {
      shown.driver->command(kCmdForgotToken);
      advanceMs(100);
      shown.driver->post(shown.item(kForgotTokenActivationPanelId), WM_COMMAND, kHowToLinkId);
    }
    HWND window = waitForWindow(row.window);
    ASSERT_NE(nullptr, window);
    if (about) {
      const std::vector<HWND> labels = statics(window);
      ASSERT_EQ(3u, labels.size());
      EXPECT_EQ(productText(417) + L"3.0.1.643", shown.driver->text(labels[0]));
      EXPECT_NE(std::wstring::npos, shown.driver->text(labels[1]).find(L"2023"));  // the year of text 418
      EXPECT_EQ(0u, shown.driver->text(labels[2]).find(productText(419) + L" Simulated Desktop\n" + productText(420)));
    } else {
      EXPECT_EQ(shown.dialog, GetWindow(window, GW_OWNER));
    }
    EXPECT_FALSE(IsWindowEnabled(shown.dialog));
    EXPECT_TRUE(answers(shown.dialog));
    if (row.end == QuitMessage) {
      PostThreadMessageW(GetWindowThreadProcessId(shown.dialog, nullptr), WM_QUIT, 0, 0);
      ASSERT_TRUE(shown.finished()) << "the dialog's loop never saw its quit";
      EXPECT_FALSE(IsWindow(window));
      EXPECT_TRUE(shown.quitSeenAfterStart);
      break;
    }
    if (row.end == BackButton) shown.driver->click(GetDlgItem(window, about ? kAboutBackButtonId : kHowToBackButtonId));
    if (row.end == CloseMessage) shown.driver->post(window, WM_CLOSE);
    ASSERT_TRUE(shown.driver->waitUntil([&] { return !IsWindow(window); }));
    EXPECT_TRUE(IsWindowEnabled(shown.dialog));
    // Control is back with the dialog: it switches options again.
    shown.driver->command(kCmdOtp);
    EXPECT_EQ(kOtpPanelId, shown.panel());
  }
  EXPECT_FALSE(shown.passed);
  // The gate's close while About is open ends both.
  Attempt again({"alice"});
  again.click(kCmdAbout);
  HWND about = waitForWindow(kAboutDialogClass);
  ASSERT_NE(nullptr, about);
  EXPECT_EQ(S_OK, MfaDialog::closeWindow());
  ASSERT_TRUE(again.finished());
  EXPECT_FALSE(again.passed);
  EXPECT_FALSE(IsWindow(about));
}

TEST_F(DialogFrame, NoGdiHandleGrowthOverFiftyDialogs) {
  offlineWith("alice", true, true, true, "otp");
  // One sign-in: every panel, About opened and closed, Back.
  auto attempt = [&]() -> bool {
    Attempt shown({"alice"});
    if (shown.dialog == nullptr) return false;
    for (int command : {kCmdPush, kCmdQrCode, kCmdForgotToken, kCmdOtp}) shown.driver->command(command);
    shown.click(kCmdAbout);
    HWND about = waitForWindow(kAboutDialogClass);
    if (about == nullptr) return false;
    shown.driver->click(GetDlgItem(about, kAboutBackButtonId));
    if (!shown.driver->waitUntil([&] { return !IsWindow(about); })) return false;
    shown.click(kCmdBack);
    return shown.finished() && !shown.passed;
  };
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(attempt());  // fonts and faces are made once
  const DWORD before = Korvath::Test::gdiObjects();
  for (int i = 0; i < 50; ++i) ASSERT_TRUE(attempt()) << "attempt " << i;
  const DWORD after = Korvath::Test::gdiObjects();
  std::printf("GDI objects %lu -> %lu over 50 sign-ins\n", before, after);
  // A handle kept per sign-in adds fifty; Wine's display driver may hold one or two of its own
  // for a moment.
  EXPECT_LE(after, before + 2);
}

}  // namespace
