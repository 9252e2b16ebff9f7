// The OTP panel: the code box, Enter and the error labels; the checks and the calls into the
// services are OtpPanelLogic's.

#include "Korvath/Logger.h"
#include "Korvath/View/Button.h"
#include "Korvath/View/DialogMessages.h"
#include "Korvath/View/Editbox.h"
#include "Korvath/View/ErrorMessage.h"
#include "Korvath/View/OtpPanelLogic.h"
#include "Korvath/View/Panels.h"
#include "PanelCommon.h"
#include "Korvath/View/ViewUtils.h"

namespace Korvath {
namespace View {

namespace {
constexpr const char* kClass = "Korvath::View::OtpPanel";
}  // namespace

struct OtpPanel::State : Panels::PanelState {
  static constexpr const char* kWhere = kClass;
  Panels::CodeEntry code;
  std::unique_ptr<OtpPanelLogic> logic;

  void buttonEnterOnClick();
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
};

void OtpPanel::State::buttonEnterOnClick() {
  Panels::enable(code.enter.button, code.enter.label, false);
  code.errorMessage.hide();
  UpdateWindow(panel);
  code.errorMessage.clear();
  Panels::startClickTimer(clickTimer);
  const PanelOutcome outcome = logic->buttonEnterOnClick(code.box.getText());
  if (outcome.signedIn) {
    PostMessageW(dialog, WM_CLOSE, 0, 0);
  } else {
    Panels::showError(code.errorMessage, outcome.error);
  }
  // A fresh code every time, valid or not.
  Panels::clearText(code.box);
  Panels::enable(code.enter.button, code.enter.label, true);
}

LRESULT OtpPanel::State::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      Panels::paintAuthenticationImage(panel, module);
      return 0;
    case kMsgDigitToPanel:
      code.takeDigit(wParam);
      return 0;
    case WM_COMMAND:
      if (wParam != kOtpEnterButtonId) break;
      code.press();
      return 0;
    default:
      break;
  }
  return DefWindowProcW(panel, message, wParam, lParam);
}

OtpPanel::OtpPanel() : state_(new State) {}

OtpPanel::~OtpPanel() {
  KV_LOG_DEBUG("%s - Destroying OTP panel.", kClass);
  Panels::closePanel(state_->panel);
}

HRESULT OtpPanel::create(HWND dialog, HMODULE module, Service::KvService* service, Korvath::Utils::Timer* clickTimer,
                         std::atomic<bool>* internetStatus, const std::string& userName) {
  State& s = *state_;
  s.logic.reset(new OtpPanelLogic(service, internetStatus, userName));
  const HRESULT opened =
      Panels::openPanel(s, dialog, module, clickTimer,
                        {kOtpPanelClass, kOtpPanelId, "%s: Failed to register OTP panel class [0x%08x]",
                         "%s: Create OTP Panel failed [0x%08x]"});
  if (s.panel == nullptr) return opened;
  KV_LOG_DEBUG("%s - Adding internal components.", kClass);
  return s.code.create(s.panel, module, Panels::px(160), kOtpBoxId, Panels::px(200), kOtpEnterButtonId, ErrorKind::Otp,
                       Panels::px(240), [&s]() { s.buttonEnterOnClick(); });
}

HWND OtpPanel::window() const { return state_->panel; }

void OtpPanel::clearCode() { Panels::clearText(state_->code.box); }

}  // namespace View
}  // namespace Korvath
