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
#include "Win32Helpers.h"

namespace Korvath {
namespace View {

namespace {
constexpr const char* kClass = "Korvath::View::QrCodePanel";

// Where the code is drawn (with two pixels of slack below, as erased).
RECT qrArea() {
  return RECT{Panels::px(94), Panels::px(5), Panels::px(94) + Panels::px(190), Panels::px(5) + Panels::px(190) + 2};
}
}  // namespace

struct QrCodePanel::State : Panels::PanelState {
  static constexpr const char* kWhere = kClass;
  Panels::CodeEntry code;
  std::unique_ptr<QrCodePanelLogic> logic;
  QRCodePainter painter;

  Model::KvResult generateQrCode();
  void eraseQrCodeRect();
  void drawQrCode(HDC dc);
  void buttonEnterOnClick();
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
};

void QrCodePanel::State::eraseQrCodeRect() {
  const RECT area = qrArea();
  InvalidateRect(panel, &area, TRUE);
}

Model::KvResult QrCodePanel::State::generateQrCode() {
  eraseQrCodeRect();
  const ErrorText error = logic->generateQrCode(painter);
  Panels::showError(code.errorMessage, error);
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
  Panels::enable(code.enter.button, code.enter.label, false);
  code.errorMessage.hide();
  UpdateWindow(panel);
  const std::string typed = code.box.getText();
  ErrorText lengthCheck;
  const bool sent = QrCodePanelLogic::isVerificationCodeValid(typed, lengthCheck);
  if (sent) eraseQrCodeRect();  // a failed check brings a new code
  const PanelOutcome outcome = logic->buttonEnterOnClick(typed, painter);
  if (outcome.signedIn) {
    PostMessageW(dialog, WM_CLOSE, 0, 0);
  } else {
    if (sent) Panels::clearText(code.box);
    Panels::showError(code.errorMessage, outcome.error);
    UpdateWindow(panel);
  }
  Panels::enable(code.enter.button, code.enter.label, true);
  Panels::startClickTimer(clickTimer);
}

LRESULT QrCodePanel::State::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      paintWindow(panel, [this](HDC dc) { drawQrCode(dc); });
      return 0;
    case kMsgDigitToPanel:
      code.takeDigit(wParam);
      return 0;
    case WM_COMMAND:
      if (wParam != kQrEnterButtonId) break;
      code.press();
      return 0;
    default:
      break;
  }
  return DefWindowProcW(panel, message, wParam, lParam);
}

QrCodePanel::QrCodePanel() : state_(new State) {}

QrCodePanel::~QrCodePanel() {
  KV_LOG_DEBUG("%s - Destroying QR code panel.", kClass);
  Panels::closePanel(state_->panel);
  state_->painter.clear();
}

HRESULT QrCodePanel::create(HWND dialog, HMODULE module, Service::KvService* service,
                            Korvath::Utils::Timer* clickTimer, std::atomic<bool>* internetStatus,
                            const std::string& userName) {
  State& s = *state_;
  s.logic.reset(new QrCodePanelLogic(service, internetStatus, userName));
  const HRESULT opened =
      Panels::openPanel(s, dialog, module, clickTimer,
                        {kQrCodePanelClass, kQrCodePanelId, "%s: Failed to register QR code panel class [0x%08x]",
                         "%s: Failed to create QR code panel [0x%08x]"});
  if (s.panel == nullptr) return opened;
  KV_LOG_DEBUG("%s - Adding internal components.", kClass);
  return s.code.create(s.panel, module, Panels::px(205), kQrCodeBoxId, Panels::px(240), kQrEnterButtonId,
                       ErrorKind::QrCode, Panels::px(280), [&s]() { s.buttonEnterOnClick(); });
}

HWND QrCodePanel::window() const { return state_->panel; }

void QrCodePanel::hideErrorLabels() { state_->code.errorMessage.hide(); }

void QrCodePanel::clearCode() { Panels::clearText(state_->code.box); }

Model::KvResult QrCodePanel::generateQrCode() {
  if (state_->panel == nullptr) return Model::KvResult(KV_ERROR_FAIL_GENERATE_COMMAND_QRCODE, 0, std::string());
  return state_->generateQrCode();
}

}  // namespace View
}  // namespace Korvath
