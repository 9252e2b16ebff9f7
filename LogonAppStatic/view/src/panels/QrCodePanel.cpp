// The QR-code panel: the code the user scans, the verification-code box, Enter and the error
// labels. The command, its image and the checks are QrCodePanelLogic's; the panel keeps the
// painter's image and draws it on every WM_PAINT, so the code stays on screen whatever covers
// and uncovers the panel, and a new code (or none, after a failure) replaces it.

#include <algorithm>

#include "Korvath/Logger.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/View/Button.h"
#include "Korvath/View/DialogMessages.h"
#include "Korvath/View/Editbox.h"
#include "Korvath/View/ErrorMessage.h"
#include "Korvath/View/Images.h"
#include "Korvath/View/Panels.h"
#include "Korvath/View/QRCodePainter.h"
#include "Korvath/View/QrCodePanelLogic.h"
#include "PanelCommon.h"
#include "Korvath/View/ViewUtils.h"

namespace Korvath {
namespace View {

namespace {
const char* const kClass = "Korvath::View::QrCodePanel";

// Where the code is drawn (with two pixels of slack below, as erased).
RECT qrArea() {
  return RECT{Panels::px(94), Panels::px(5), Panels::px(94) + Panels::px(190), Panels::px(5) + Panels::px(190) + 2};
}
}  // namespace

struct QrCodePanel::State {
  HWND dialog = nullptr;
  HMODULE module = nullptr;
  Korvath::Utils::Timer* clickTimer = nullptr;
  HWND panel = nullptr;
  Editbox box;
  Button enter;
  ErrorMessage errorMessage;
  std::unique_ptr<QrCodePanelLogic> logic;
  QRCodePainter painter;
  Panels::ControlAction boxAction;
  Panels::ControlAction enterAction;

  HRESULT addInternalComponents();
  Model::KvResult generateQrCode();
  void eraseQrCodeRect();
  void drawQrCode(HDC dc);
  void buttonEnterOnClick();
  static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
};

HRESULT QrCodePanel::State::addInternalComponents() {
  KV_LOG_DEBUG("%s - Adding internal components.", kClass);
  HRESULT result = S_OK;
  box = Editbox(Panels::kCodeBoxStyle, Panels::px(380) / 2 - Panels::px(196) / 2, Panels::px(205), Panels::px(196),
                Panels::px(20), panel, kQrCodeBoxId, module, L" " + Panels::text(400));
  result |= box.error;
  Panels::fitEditBox(box.window(), L" " + Panels::text(400));
  const std::wstring enterText = Panels::text(443);
  result |= enter.createButtonWindow(enterText.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP,
                                     Panels::px(380) / 2 - Panels::px(100) / 2, Panels::px(240), Panels::px(100),
                                     Panels::px(22), panel, kQrEnterButtonId, module, SvgSource());
  result |= errorMessage.createErrorMessageComponent(panel, module, ErrorKind::QrCode, Panels::px(280),
                                                     Panels::px(360) - Panels::px(16), 4 * Panels::px(16) - 2);
  return result;
}

void QrCodePanel::State::eraseQrCodeRect() {
  const RECT area = qrArea();
  InvalidateRect(panel, &area, TRUE);
}

Model::KvResult QrCodePanel::State::generateQrCode() {
  eraseQrCodeRect();
  const ErrorText error = logic->generateQrCode(painter);
  if (!error.empty()) {
    errorMessage.text() = error;
    errorMessage.show();
  }
  UpdateWindow(panel);
  if (error.resultCode() != 0) return Model::KvResult(error.resultCode(), 0, std::string());
  return Model::KvResult(logic->hasCommand() ? KV_SUCCESS : KV_ERROR_FAIL_GENERATE_COMMAND_QRCODE, 0, std::string());
}

void QrCodePanel::State::drawQrCode(HDC dc) {
  if (painter.image() == nullptr) return;
  const RECT area = qrArea();
  const int side = std::min(area.right - area.left, area.bottom - area.top);
  drawBmpImage(dc, painter.image(), painter.imageLength(), area.left, area.top, side);
}

void QrCodePanel::State::buttonEnterOnClick() {
  Panels::enable(enter.button, enter.label, false);
  errorMessage.hide();
  UpdateWindow(panel);
  const std::string code = box.getText();
  ErrorText lengthCheck;
  const bool sent = QrCodePanelLogic::isVerificationCodeValid(code, lengthCheck);
  if (sent) eraseQrCodeRect();  // a failed check brings a new code
  const PanelOutcome outcome = logic->buttonEnterOnClick(code, painter);
  if (outcome.signedIn) {
    PostMessageW(dialog, WM_CLOSE, 0, 0);
  } else {
    if (sent) {
      if (HWND edit = box.window()) SetWindowTextW(edit, L"");
    }
    if (!outcome.error.empty()) {
      errorMessage.text() = outcome.error;
      errorMessage.show();
    }
    UpdateWindow(panel);
  }
  Panels::enable(enter.button, enter.label, true);
  Panels::startClickTimer(clickTimer);
}

LRESULT QrCodePanel::State::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(panel, &ps);
      drawQrCode(dc);
      EndPaint(panel, &ps);
      return 0;
    }
    case kMsgDigitToPanel: {
      HWND edit = box.window();
      if (edit != nullptr && GetFocus() != edit) Panels::appendDigit(edit, wParam);
      return 0;
    }
    case WM_COMMAND:
      if (wParam == kQrEnterButtonId) {
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

LRESULT CALLBACK QrCodePanel::State::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Panels::keepStateOnCreate(window, message, lParam);
  return Panels::guarded(kClass, window, message, wParam, lParam, [&]() -> LRESULT {
    State* state = Panels::stateOf<State>(window);
    if (state == nullptr || state->panel != window) return DefWindowProcW(window, message, wParam, lParam);
    return state->handle(message, wParam, lParam);
  });
}

QrCodePanel::QrCodePanel() : state_(new State) {}

QrCodePanel::~QrCodePanel() {
  KV_LOG_DEBUG("%s - Destroying QR code panel.", kClass);
  if (state_->panel != nullptr && IsWindow(state_->panel)) {
    DestroyWindow(state_->panel);
    if (IsWindow(state_->panel)) SetWindowLongPtrW(state_->panel, GWLP_USERDATA, 0);
  }
  state_->painter.clear();
}

HRESULT QrCodePanel::create(HWND dialog, HMODULE module, Service::KvService* service,
                            Korvath::Utils::Timer* clickTimer, std::atomic<bool>* internetStatus,
                            const std::string& userName) {
  State& s = *state_;
  s.dialog = dialog;
  s.module = module;
  s.clickTimer = clickTimer;
  s.logic.reset(new QrCodePanelLogic(service, internetStatus, userName));
  Panels::registerPanelClass(module, kQrCodePanelClass, &State::windowProc, kClass,
                             "%s: Failed to register QR code panel class [0x%08x]");
  HRESULT error = S_OK;
  s.panel = Panels::createPanelWindow(dialog, module, kQrCodePanelClass, kQrCodePanelId, &s, kClass,
                                      "%s: Failed to create QR code panel [0x%08x]", error);
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

HWND QrCodePanel::window() const { return state_->panel; }

void QrCodePanel::hideErrorLabels() { state_->errorMessage.hide(); }

void QrCodePanel::clearCode() {
  if (HWND edit = state_->box.window()) SetWindowTextW(edit, L"");
}

Model::KvResult QrCodePanel::generateQrCode() {
  if (state_->panel == nullptr) return Model::KvResult(KV_ERROR_FAIL_GENERATE_COMMAND_QRCODE, 0, std::string());
  return state_->generateQrCode();
}

}  // namespace View
}  // namespace Korvath
