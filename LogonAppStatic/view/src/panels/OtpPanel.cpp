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
const char* const kClass = "Korvath::View::OtpPanel";
}  // namespace

struct OtpPanel::State {
  HWND dialog = nullptr;
  HMODULE module = nullptr;
  Korvath::Utils::Timer* clickTimer = nullptr;
  HWND panel = nullptr;
  Editbox box;
  Button enter;
  ErrorMessage errorMessage;
  std::unique_ptr<OtpPanelLogic> logic;
  Panels::ControlAction boxAction;
  Panels::ControlAction enterAction;

  HRESULT addInternalComponents();
  void buttonEnterOnClick();
  static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
};

HRESULT OtpPanel::State::addInternalComponents() {
  KV_LOG_DEBUG("%s - Adding internal components.", kClass);
  HRESULT result = S_OK;
  box = Editbox(Panels::kCodeBoxStyle, Panels::px(380) / 2 - Panels::px(196) / 2, Panels::px(160), Panels::px(196),
                Panels::px(20), panel, kOtpBoxId, module, L" " + Panels::text(400));
  result |= box.error;
  Panels::fitEditBox(box.window(), L" " + Panels::text(400));
  const std::wstring enterText = Panels::text(443);
  result |= enter.createButtonWindow(enterText.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP,
                                     Panels::px(380) / 2 - Panels::px(100) / 2, Panels::px(200), Panels::px(100),
                                     Panels::px(22), panel, kOtpEnterButtonId, module, SvgSource());
  result |= errorMessage.createErrorMessageComponent(panel, module, ErrorKind::Otp, Panels::px(240),
                                                     Panels::px(360) - Panels::px(16), 4 * Panels::px(16) - 2);
  return result;
}

void OtpPanel::State::buttonEnterOnClick() {
  Panels::enable(enter.button, enter.label, false);
  errorMessage.hide();
  UpdateWindow(panel);
  errorMessage.clear();
  Panels::startClickTimer(clickTimer);
  const PanelOutcome outcome = logic->buttonEnterOnClick(box.getText());
  if (outcome.signedIn) {
    PostMessageW(dialog, WM_CLOSE, 0, 0);
  } else if (!outcome.error.empty()) {
    errorMessage.text() = outcome.error;
    errorMessage.show();
  }
  // A fresh code every time, valid or not.
  if (HWND edit = box.window()) SetWindowTextW(edit, L"");
  Panels::enable(enter.button, enter.label, true);
}

LRESULT OtpPanel::State::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(panel, &ps);
      Panels::drawAuthenticationImage(panel, dc, module);
      EndPaint(panel, &ps);
      return 0;
    }
    case kMsgDigitToPanel: {
      HWND edit = box.window();
      if (edit != nullptr && GetFocus() != edit) Panels::appendDigit(edit, wParam);
      return 0;
    }
    case WM_COMMAND:
      if (wParam == kOtpEnterButtonId) {
        buttonEnterOnClick();
        if (enter.button != nullptr) SetFocus(enter.button);
        return 0;
      }
      break;
    case WM_CTLCOLORSTATIC:
      return Panels::colourStatic(wParam, lParam);
    default:
      break;
  }
  return DefWindowProcW(panel, message, wParam, lParam);
}

LRESULT CALLBACK OtpPanel::State::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Panels::keepStateOnCreate(window, message, lParam);
  return Panels::guarded(kClass, window, message, wParam, lParam, [&]() -> LRESULT {
    State* state = Panels::stateOf<State>(window);
    if (state == nullptr || state->panel != window) return DefWindowProcW(window, message, wParam, lParam);
    return state->handle(message, wParam, lParam);
  });
}

OtpPanel::OtpPanel() : state_(new State) {}

OtpPanel::~OtpPanel() {
  KV_LOG_DEBUG("%s - Destroying OTP panel.", kClass);
  if (state_->panel != nullptr && IsWindow(state_->panel)) {
    DestroyWindow(state_->panel);
    if (IsWindow(state_->panel)) SetWindowLongPtrW(state_->panel, GWLP_USERDATA, 0);
  }
}

HRESULT OtpPanel::create(HWND dialog, HMODULE module, Service::KvService* service, Korvath::Utils::Timer* clickTimer,
                         std::atomic<bool>* internetStatus, const std::string& userName) {
  State& s = *state_;
  s.dialog = dialog;
  s.module = module;
  s.clickTimer = clickTimer;
  s.logic.reset(new OtpPanelLogic(service, internetStatus, userName));
  Panels::registerPanelClass(module, kOtpPanelClass, &State::windowProc, kClass,
                             "%s: Failed to register OTP panel class [0x%08x]");
  HRESULT error = S_OK;
  s.panel = Panels::createPanelWindow(dialog, module, kOtpPanelClass, kOtpPanelId, &s, kClass,
                                      "%s: Create OTP Panel failed [0x%08x]", error);
  if (s.panel == nullptr) return error;
  const HRESULT components = s.addInternalComponents();
  if (components == S_OK) {
    s.boxAction.digitsOnly = true;
    s.boxAction.onEnter = [&s]() {
      s.buttonEnterOnClick();
      if (HWND edit = s.box.window()) SetFocus(edit);
    };
    s.enterAction.onEnter = [&s]() {
      s.buttonEnterOnClick();
      if (s.enter.button != nullptr) SetFocus(s.enter.button);
    };
    Panels::subclassControl(s.box.window(), &s.boxAction);
    Panels::subclassControl(s.enter.button, &s.enterAction);
  }
  return components;
}

HWND OtpPanel::window() const { return state_->panel; }

void OtpPanel::clearCode() {
  if (HWND edit = state_->box.window()) SetWindowTextW(edit, L"");
}

}  // namespace View
}  // namespace Korvath
