// Run once per language and scale (CMakeLists.txt): the dialog's screens as a user sees them,
// saved for people to look at, with the checks that hold in every language: the option buttons
// where the logic puts them with their labels inside the dialog, no control of a panel outside
// it or over another, 999 hours shown whole. The same screens once more in all sixteen languages
// at both scales within one process, every label measured, and in each panel's error labels
// every sentence the error table gives that panel (DialogLabels).

#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "DialogUiSupport.h"
#include "Korvath/Utils/LanguageUtil.h"
#include "LabelFit.h"
#include "Korvath/View/DialogMessages.h"
#include "Korvath/View/ErrorMessage.h"
#include "Korvath/View/ErrorText.h"
#include "Korvath/View/MfaDialog.h"
#include "Korvath/View/OptionButtons.h"
#include "Korvath/View/ViewUtils.h"

using namespace Korvath;
using namespace Korvath::View;
using namespace DialogUi;
using Korvath::Test::rectIn;
using Korvath::Test::saveScreenshot;

namespace {

class DialogScreens : public DialogTest {
 protected:
  // What is done at each screen of walk(): the attempt, the window to look at (the dialog, About
  // or the help window), the screen's name, and whether a panel is shown that must be laid out.
  using Visit = std::function<void(Attempt&, HWND, const wchar_t*, bool)>;
  void walk(const Visit& visit, bool holdPush);
  // Paints what is pending, then saves the whole dialog (or About, or the help window).
  void shoot(Attempt& shown, HWND window, const wchar_t* name) {
    RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    ASSERT_TRUE(shown.driver->sync());
    EXPECT_TRUE(saveScreenshot(window, name)) << name;
  }
  // Runs `work` on the dialog's thread with the error labels of the panel shown, when they show
  // an error; false when they do not.
  bool withErrorLabels(Attempt& shown, const std::function<void(ErrorMessage&)>& work) {
    HWND panel = shown.item(static_cast<int>(shown.panel()));
    HWND label = GetDlgItem(panel, kErrorMessageLabelId);
    if (panel == nullptr || label == nullptr || !IsWindowVisible(label)) return false;
    bool found = false;
    EXPECT_TRUE(runOnThreadOf(panel, [&] {
      if (ErrorMessage* labels = ErrorMessage::ofLabel(label)) {
        found = true;
        work(*labels);
      }
    }));
    return found;
  }
  // Every text the error labels of `kind` can show for a result: one result code for each
  // sentence the error table gives the kind (the largest of the codes results carry, 1-9999,
  // so that a sentence followed by " [code]" has four digits), as a failure found on this
  // machine shows it (the sentence alone), as one in reaching the service does (and the request
  // ID) and as the service's refusal does (its error code too).
  static std::vector<ErrorText> everyResultText(ErrorKind kind) {
    std::map<int, std::uint16_t> bySentence;
    for (unsigned code = 1; code <= 9999; ++code) {
      bySentence[errorTextId(static_cast<std::uint16_t>(code), kind)] = static_cast<std::uint16_t>(code);
    }
    const std::string requestId = "5f0e4d2c-9b8a-4c7d-8e6f-3a2b1c0d9e8f";
    std::vector<ErrorText> texts;
    for (const auto& sentence : bySentence) {
      for (const Model::KvResult& result : {Model::KvResult(sentence.second), Model::KvResult(sentence.second, 0, requestId),
                                            Model::KvResult(sentence.second, 201015009, requestId)}) {
        texts.push_back(ErrorText::fromResult(kind, result));
      }
    }
    return texts;
  }
  static std::u16string lookup(int id) {
    const std::wstring text = productText(static_cast<UINT>(id));
    return std::u16string(text.begin(), text.end());
  }
  // Every visible child of the shown panel is inside it and apart from the others and from the
  // dialog's "Sign-in Options" label, which reaches into the panel's area from below.
  void expectLaidOut(Attempt& shown) {
    HWND panel = shown.item(static_cast<int>(shown.panel()));
    SCOPED_TRACE(GetDlgCtrlID(panel));
    RECT bounds;
    GetClientRect(panel, &bounds);
    std::vector<std::pair<int, RECT>> children{{215, rectIn(shown.item(kIdSignInOptionsLabel), panel)}};
    for (HWND child = GetWindow(panel, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
      if (!IsWindowVisible(child)) continue;
      const RECT r = rectIn(child, panel);
      EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= bounds.right && r.bottom <= bounds.bottom)
          << "control " << GetDlgCtrlID(child) << " leaves the panel";
      children.emplace_back(GetDlgCtrlID(child), r);
    }
    for (std::size_t i = 0; i < children.size(); ++i) {
      for (std::size_t j = i + 1; j < children.size(); ++j) {
        RECT overlap;
        EXPECT_FALSE(IntersectRect(&overlap, &children[i].second, &children[j].second))
            << "controls " << children[i].first << " and " << children[j].first << " overlap";
      }
    }
  }
  // An option, chosen once the click timer of the step before has run out.
  void choose(Attempt& shown, UINT command) {
    advanceMs(100);
    shown.driver->command(static_cast<int>(command));
  }
  // The edit box's text in its font is no wider than the box.
  static bool showsItsTextWhole(HWND edit) {
    HDC dc = GetDC(edit);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(edit, WM_GETFONT, 0, 0)));
    wchar_t text[64] = {};
    SIZE size{};
    GetTextExtentPoint32W(dc, text, GetWindowTextW(edit, text, 64), &size);
    SelectObject(dc, old);
    ReleaseDC(edit, dc);
    RECT client;
    GetClientRect(edit, &client);
    return size.cx <= client.right;
  }
};

// Every screen of the dialog, in the order a user meets them, each handed to `visit` once it is
// shown: the first panel with the options, About, push (idle, waiting for the answer when
// `holdPush`, denied), OTP and QR code refused, forgot-token activation refused, the help window,
// the countdown of a forgot-token period and its end, and the error panel.
void DialogScreens::walk(const Visit& visit, bool holdPush) {
  const double s = View::Utils::getScaleFactor();
  writeAgentConfig({DialogSim::storedUser("alice", true, true, true, "otp")});
  {
    Attempt shown({"alice"});
    ASSERT_NE(nullptr, shown.dialog);
    // The option buttons where the logic puts them, each label right below its button with the
    // option's text, whole inside the dialog; "Sign-in Options" above the line over them.
    RECT client;
    GetClientRect(shown.dialog, &client);
    for (const OptionButton& option : optionButtons(s, true, true, true, true)) {
      const RECT r = rectIn(shown.item(static_cast<int>(option.id)), shown.dialog);
      EXPECT_EQ((std::vector<LONG>{option.x, option.y, option.width, option.height}),
                (std::vector<LONG>{r.left, r.top, r.right - r.left, r.bottom - r.top}));
      HWND label = statics(shown.dialog, static_cast<int>(option.id)).at(0);
      const RECT l = rectIn(label, shown.dialog);
      EXPECT_EQ(r.bottom, l.top);
      EXPECT_LE(l.bottom, client.bottom);
      EXPECT_EQ(productText(static_cast<UINT>(option.labelTextId)), shown.driver->text(label));
    }
    EXPECT_EQ(productText(442), shown.driver->text(shown.item(kIdSignInOptionsLabel)));
    EXPECT_LE(rectIn(shown.item(kIdSignInOptionsLabel), shown.dialog).bottom, static_cast<LONG>(s * 390));
    visit(shown, shown.dialog, L"dialog-options", false);
    shown.click(kCmdAbout);
    HWND about = Korvath::Test::waitForWindow(kAboutDialogClass);
    ASSERT_NE(nullptr, about);
    visit(shown, about, L"about", false);
    shown.driver->post(about, WM_CLOSE);
    ASSERT_TRUE(shown.driver->waitUntil([&] { return !IsWindow(about); }));
    // Push: idle, waiting for the answer (the first poll held back), denied.
    choose(shown, kCmdPush);
    // A command 226 that no push handed over lets nobody in.
    shown.driver->post(shown.item(kPushPanelId), WM_COMMAND, kPushResultCommand);
    ASSERT_TRUE(shown.driver->sync());
    EXPECT_FALSE(shown.finished(0));
    visit(shown, shown.dialog, L"push", true);
    ASSERT_TRUE(sim_->planPush("alice", "deny", 1));
    if (holdPush) fault(R"({"route":"pushresult","delayMs":1500,"count":1})");
    ASSERT_TRUE(press(shown, kPushPanelId, kSendPushButtonId));
    if (holdPush) visit(shown, shown.dialog, L"push-waiting", true);
    ASSERT_TRUE(shown.driver->waitUntil([&] { return !shown.shown(kErrorMessageLabelId, kPushPanelId).empty(); }));
    visit(shown, shown.dialog, L"push-denied", true);
    // OTP refused by the service: the sentence, the service's error code and the request ID.
    choose(shown, kCmdOtp);
    ASSERT_TRUE(shown.driver->type(shown.item(kOtpBoxId, kOtpPanelId), L"000000"));
    ASSERT_TRUE(press(shown, kOtpPanelId, kOtpEnterButtonId));
    visit(shown, shown.dialog, L"otp-wrong", true);
    // QR code: the code, then a wrong answer (a new code and the error).
    choose(shown, kCmdQrCode);
    visit(shown, shown.dialog, L"qrcode", false);
    ASSERT_TRUE(shown.driver->type(shown.item(kQrCodeBoxId, kQrCodePanelId), L"000000"));
    ASSERT_TRUE(press(shown, kQrCodePanelId, kQrEnterButtonId));
    visit(shown, shown.dialog, L"qrcode-wrong", true);
    // Forgot token: the activation code, then a wrong verification code, and the help window.
    choose(shown, kCmdForgotToken);
    visit(shown, shown.dialog, L"forgot-token-activation", false);
    ASSERT_TRUE(shown.driver->type(shown.item(kTimeDurationBoxId, kForgotTokenActivationPanelId), L"999"));
    ASSERT_TRUE(shown.driver->type(shown.item(kActivationVerificationBoxId, kForgotTokenActivationPanelId), L"000000"));
    ASSERT_TRUE(press(shown, kForgotTokenActivationPanelId, kActivationEnterButtonId));
    visit(shown, shown.dialog, L"forgot-token-activation-wrong", true);
    advanceMs(100);
    shown.driver->post(shown.item(kForgotTokenActivationPanelId), WM_COMMAND, kHowToLinkId);
    HWND howTo = Korvath::Test::waitForWindow(kHowToDialogClass);
    ASSERT_NE(nullptr, howTo);
    visit(shown, howTo, L"how-to", false);
  }
  // Forgot token active: 999 hours and 5 minutes left.
  Model::UserConfig alice = DialogSim::storedUser("alice", true, true, true, "otp");
  alice.setFallbackExpiration(clock_.nowFileTime() + 999 * ServicesTest::kHour + 5 * 600000000ull + 1);
  writeAgentConfig({alice});
  pointAt(CloudTest::closedPort());
  {
    Attempt shown({"alice"});
    ASSERT_EQ(kForgotTokenAuthenticationPanelId, shown.panel());
    visit(shown, shown.dialog, L"forgot-token-authentication", true);
    EXPECT_TRUE(showsItsTextWhole(shown.item(kHoursBoxId, kForgotTokenAuthenticationPanelId))) << "999 hours";
    // The period over: the countdown at zero and the sentence of an expired pass.
    clock_.set(alice.getFallbackExpiration() + 1);
    shown.driver->post(shown.item(kForgotTokenAuthenticationPanelId), WM_TIMER, kExpiryTimerId);
    ASSERT_TRUE(shown.driver->sync());
    visit(shown, shown.dialog, L"forgot-token-expired", true);
  }
  // The longest start-up message, "User not found" (an empty name list).
  Attempt error({});
  visit(error, error.dialog, L"dialog-error-panel", false);
}

TEST_F(DialogScreens, EveryScreen) {
  ASSERT_EQ(s_, View::Utils::getScaleFactor());
  const std::map<ErrorKind, const wchar_t*> longestError{
      {ErrorKind::ErrorPanel, L"error-longest-error-panel"}, {ErrorKind::Otp, L"error-longest-otp"},
      {ErrorKind::QrCode, L"error-longest-qrcode"}, {ErrorKind::Push, L"error-longest-push"},
      {ErrorKind::ForgotTokenActivation, L"error-longest-forgot-token-activation"}};
  std::set<ErrorKind> shot;
  walk(
      [&](Attempt& shown, HWND window, const wchar_t* name, bool panelShown) {
        shoot(shown, window, name);
        if (panelShown) expectLaidOut(shown);
        // Where a panel first shows an error: the text of the table that is hardest to fit in
        // its labels (the smallest font, then the tallest message), laid out and saved.
        ErrorText kept;
        bool longestShown = false;
        withErrorLabels(shown, [&](ErrorMessage& labels) {
          kept = labels.text();
          if (!shot.insert(kept.kind()).second) return;
          ErrorText longest;
          std::pair<LONG, LONG> most{LONG_MIN, 0};
          for (const ErrorText& text : everyResultText(kept.kind())) {
            labels.text() = text;
            labels.show();
            const RECT r = rectIn(labels.messageLabel(), GetParent(labels.messageLabel()));
            LOGFONTW font{};
            GetObjectW(reinterpret_cast<HFONT>(SendMessageW(labels.messageLabel(), WM_GETFONT, 0, 0)), sizeof font, &font);
            const std::pair<LONG, LONG> cramped{-std::labs(font.lfHeight), r.bottom - r.top};
            if (cramped > most) {
              most = cramped;
              longest = text;
            }
          }
          labels.text() = longest;
          labels.show();
          longestShown = true;
        });
        if (!longestShown) return;
        shoot(shown, shown.dialog, longestError.at(kept.kind()));
        expectLaidOut(shown);
        withErrorLabels(shown, [&](ErrorMessage& labels) {
          labels.text() = kept;
          labels.show();
        });
      },
      true);
  EXPECT_EQ(longestError.size(), shot.size());
}

// The same screens in every language of the string tables at both scales, in this one process
// (the display language and the scale chosen for it): every label and button caption shows all
// of its text (LabelFit.h). Where a panel first shows an error, its error labels then show
// every text of the error table for that panel's kind (everyResultText), each laid out by the
// panel's own component and measured in place.
class DialogLabels : public DialogScreens {
 protected:
  void TearDown() override {
    Korvath::Utils::LanguageUtil::setDisplayLanguage(0);
    View::Utils::setScaleFactor(0);
    DialogScreens::TearDown();
  }
};

TEST_F(DialogLabels, EveryLabelShowsAllOfItsText) {
  const struct {
    const char* locale;
    LANGID language;
  } languages[] = {{"en-US", 0x0409}, {"de-DE", 0x0407}, {"fr-FR", 0x040C}, {"es-ES", 0x0C0A},
                   {"it-IT", 0x0410}, {"pt-BR", 0x0416}, {"pt-PT", 0x0816}, {"nl-NL", 0x0413},
                   {"pl-PL", 0x0415}, {"ru-RU", 0x0419}, {"tr-TR", 0x041F}, {"ja-JP", 0x0411},
                   {"ko-KR", 0x0412}, {"zh-CN", 0x0804}, {"zh-TW", 0x0404}, {"th-TH", 0x041E}};
  for (double scale : {1.0, 1.5}) {
    for (const auto& language : languages) {
      SCOPED_TRACE(std::string(language.locale) + " at scale " + std::to_string(scale));
      restart();
      View::Utils::setScaleFactor(scale);
      Korvath::Utils::LanguageUtil::setDisplayLanguage(language.language);
      std::set<LabelFault> faults;
      std::set<ErrorKind> measured;
      walk(
          [&](Attempt& shown, HWND window, const wchar_t*, bool) {
            ASSERT_TRUE(shown.driver->sync());
            for (const LabelFault& found : labelFaults(window)) faults.insert(found);
            withErrorLabels(shown, [&](ErrorMessage& labels) {
              const ErrorText kept = labels.text();
              if (!measured.insert(kept.kind()).second) return;
              for (const ErrorText& text : everyResultText(kept.kind())) {
                labels.text() = text;
                labels.show();
                const std::string which = "kind " + std::to_string(static_cast<int>(kept.kind())) + ", code " +
                                          std::to_string(text.resultCode()) +
                                          (!text.errorCode().empty()   ? " with its error code and request ID"
                                           : !text.requestId().empty() ? " with its request ID"
                                                                       : "");
                const std::u16string expected = text.messageText(lookup);
                if (shown.driver->text(labels.messageLabel()) != std::wstring(expected.begin(), expected.end())) {
                  faults.insert(which + ": the message label shows another text");
                }
                for (HWND label : {labels.messageLabel(), labels.requestIdLabel()}) {
                  for (const LabelFault& found : labelFaults(label)) faults.insert(found);
                  // A label over another control paints its background over that one's text.
                  if (!IsWindowVisible(label)) continue;
                  const RECT r = rectIn(label, GetParent(label));
                  for (HWND other = GetWindow(label, GW_HWNDFIRST); other != nullptr; other = GetWindow(other, GW_HWNDNEXT)) {
                    RECT overlap;
                    const RECT o = rectIn(other, GetParent(label));
                    if (other != label && IsWindowVisible(other) && IntersectRect(&overlap, &r, &o)) {
                      faults.insert(which + ": label " + std::to_string(GetDlgCtrlID(label)) + " lies over control " +
                                    std::to_string(GetDlgCtrlID(other)));
                    }
                  }
                }
              }
              labels.text() = kept;
              labels.show();
            });
          },
          false);
      // The error labels of every kind of panel.
      EXPECT_EQ(5u, measured.size());
      for (const LabelFault& found : faults) ADD_FAILURE() << found;
    }
  }
}

}  // namespace
