#include "Korvath/View/PanelsManager.h"

#include "Korvath/Logger.h"
#include "Korvath/View/DialogMessages.h"
#include "Korvath/View/DialogState.h"

namespace Korvath {
namespace View {

namespace {

const char* const kManager = "Korvath::View::PanelsManager";

void showAndUpdate(HWND panel) {
  if (panel == nullptr) return;
  UpdateWindow(panel);
  ShowWindow(panel, SW_SHOW);
  UpdateWindow(panel);
}

void focus(HWND panel) {
  if (panel != nullptr) SetFocus(panel);
}

// Hides and destroys the panel's window (on the dialog thread, which owns it), then frees the
// object, whose destructor ends whatever the panel started.
template <typename Panel>
void deletePanel(std::unique_ptr<Panel>& panel, const char* what) {
  if (!panel) return;
  KV_LOG_DEBUG("%s::deleteAllPanels - Deleting %s.", kManager, what);
  if (HWND window = panel->window()) {
    ShowWindow(window, SW_HIDE);
    DestroyWindow(window);
  }
  panel.reset();
}

}  // namespace

PanelsManager::PanelsManager(HWND dialog, HMODULE module, Korvath::Utils::Timer* clickTimer, std::atomic<bool>* internetStatus,
                             Service::KvService* service)
    : dialog_(dialog), module_(module), clickTimer_(clickTimer), internetStatus_(internetStatus), service_(service) {}

PanelsManager::~PanelsManager() { deleteAllPanels(); }

void PanelsManager::showPushPanel(const std::string& userName, bool isInitialPanel) {
  KV_LOG_DEBUG("%s::showPushPanel - Opening push panel.", kManager);
  KV_LOG_DEBUG("%s::showPushPanel - username = %s", kManager, userName.c_str());
  if (!pushPanel_) {
    deleteAllPanels();
    pushPanel_.reset(new PushPanel());
    pushPanel_->create(dialog_, module_, service_, clickTimer_, internetStatus_, userName, isInitialPanel);
  }
  HWND panel = pushPanel_->window();
  if (panel != nullptr) {
    pushPanel_->hideErrorLabels();
    showAndUpdate(panel);
    pushPanel_->focusSendPush();
    focus(panel);
  }
  currentPanelId_ = kPushPanelId;
  currentPanel_ = panel;
}

void PanelsManager::showQrCodePanel(const std::string& userName) {
  KV_LOG_DEBUG("%s::showQrCodePanel - Opening QR code panel.", kManager);
  if (qrCodePanel_) {
    KV_LOG_DEBUG("%s::showQrCodePanel - Redrawing the QR code panel.", kManager);
    qrCodePanel_->hideErrorLabels();
    qrCodePanel_->clearCode();
    qrCodePanel_->generateQrCode();
  } else {
    deleteAllPanels();
    qrCodePanel_.reset(new QrCodePanel());
    qrCodePanel_->create(dialog_, module_, service_, clickTimer_, internetStatus_, userName);
    if (qrCodePanel_->window() != nullptr) {
      qrCodePanel_->clearCode();
      qrCodePanel_->generateQrCode();
      showAndUpdate(qrCodePanel_->window());
    }
  }
  focus(qrCodePanel_->window());
  currentPanelId_ = kQrCodePanelId;
  currentPanel_ = qrCodePanel_->window();
}

void PanelsManager::showOtpPanel(const std::string& userName) {
  KV_LOG_DEBUG("%s::showOtpPanel - Opening OTP panel.", kManager);
  if (!otpPanel_) {
    deleteAllPanels();
    otpPanel_.reset(new OtpPanel());
    otpPanel_->create(dialog_, module_, service_, clickTimer_, internetStatus_, userName);
  }
  HWND panel = otpPanel_->window();
  if (panel != nullptr) {
    otpPanel_->clearCode();
    showAndUpdate(panel);
    focus(panel);
  }
  currentPanelId_ = kOtpPanelId;
  currentPanel_ = panel;
}

void PanelsManager::showForgotTokenActivationPanel() {
  const std::string userName = dialogState().currentUserName;
  if (isInForgotTokenMode()) {
    KV_LOG_DEBUG("%s::showForgotTokenActivationPanel - Opening forgot token authentication panel.", kManager);
    if (!forgotTokenAuthenticationPanel_) {
      deleteAllPanels();
      forgotTokenAuthenticationPanel_.reset(new ForgotTokenAuthenticationPanel());
      forgotTokenAuthenticationPanel_->create(dialog_, module_, service_, clickTimer_, userName);
    }
    HWND panel = forgotTokenAuthenticationPanel_->window();
    if (panel != nullptr) {
      forgotTokenAuthenticationPanel_->refreshExpiresIn();
      showAndUpdate(panel);
      focus(panel);
    }
    currentPanelId_ = kForgotTokenAuthenticationPanelId;
    currentPanel_ = panel;
    return;
  }
  KV_LOG_DEBUG("%s::showForgotTokenActivationPanel - Opening forgot token panel.", kManager);
  if (!forgotTokenActivationPanel_) {
    deleteAllPanels();
    forgotTokenActivationPanel_.reset(new ForgotTokenActivationPanel());
    forgotTokenActivationPanel_->create(dialog_, module_, service_, clickTimer_, internetStatus_, userName);
  }
  HWND panel = forgotTokenActivationPanel_->window();
  if (panel != nullptr) {
    forgotTokenActivationPanel_->clearBoxes();
    forgotTokenActivationPanel_->generateActivationCode();
    showAndUpdate(panel);
    focus(panel);
  }
  currentPanelId_ = kForgotTokenActivationPanelId;
  currentPanel_ = panel;
}

void PanelsManager::showErrorMessagePanel(const Model::KvResult* result) {
  KV_LOG_DEBUG("%s::showErrorMessagePanel - Opening error message panel.", kManager);
  if (!errorMessagePanel_) {
    deleteAllPanels();
    errorMessagePanel_.reset(new ErrorMessagePanel());
    errorMessagePanel_->create(dialog_, module_, result);
  }
  errorMessagePanel_->show();
  focus(errorMessagePanel_->window());
}

void PanelsManager::deleteAllPanels() {
  deletePanel(pushPanel_, "push panel");
  deletePanel(qrCodePanel_, "QR code panel");
  deletePanel(otpPanel_, "OTP panel");
  deletePanel(forgotTokenActivationPanel_, "forgot token panel");
  deletePanel(forgotTokenAuthenticationPanel_, "forgot token authentication panel");
  deletePanel(errorMessagePanel_, "error message panel");
  // A destroyed panel's handle may be given to another window later: digits typed while no
  // panel stands (the error panel is never a digit's target) go nowhere.
  currentPanel_ = nullptr;
}

}  // namespace View
}  // namespace Korvath
