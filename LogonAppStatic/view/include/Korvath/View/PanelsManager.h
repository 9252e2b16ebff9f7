#pragma once

// Owns the one panel the MFA dialog shows at a time: asked for a panel, it destroys whatever
// panel was shown before, creates the new one and records it as current, so the dialog can
// forward typed digits to it. Asking again for the panel already shown re-shows it without
// re-creating it (the QR-code panel draws a new code, the OTP panel empties its box, the
// activation panel fetches a new activation code).

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "Korvath/KvResult.h"
#include "Korvath/Service/KvService.h"
#include "Korvath/Timer.h"
#include "Korvath/View/Panels.h"

namespace Korvath {
namespace View {

class PanelsManager {
 public:
  PanelsManager(HWND dialog, HMODULE module, Korvath::Utils::Timer* clickTimer, std::atomic<bool>* internetStatus,
                Service::KvService* service);
  ~PanelsManager();  // deleteAllPanels
  PanelsManager(const PanelsManager&) = delete;
  PanelsManager& operator=(const PanelsManager&) = delete;

  void showPushPanel(const std::string& userName, bool isInitialPanel);
  void showQrCodePanel(const std::string& userName);
  void showOtpPanel(const std::string& userName);
  // The forgot-token authentication panel while the user's forgot-token period runs, else
  // the activation panel; the user is the dialog's current user.
  void showForgotTokenActivationPanel();
  // The error message panel with the dialog's start-up result; the current panel stays
  // recorded as it was.
  void showErrorMessagePanel(const Model::KvResult* result);
  void deleteAllPanels();

  UINT currentPanelId() const { return currentPanelId_; }
  HWND currentPanel() const { return currentPanel_; }

 private:
  HWND dialog_;
  HMODULE module_;
  UINT currentPanelId_ = 0;
  HWND currentPanel_ = nullptr;
  Korvath::Utils::Timer* clickTimer_;
  std::atomic<bool>* internetStatus_;
  Service::KvService* service_;
  std::unique_ptr<PushPanel> pushPanel_;
  std::unique_ptr<QrCodePanel> qrCodePanel_;
  std::unique_ptr<OtpPanel> otpPanel_;
  std::unique_ptr<ForgotTokenActivationPanel> forgotTokenActivationPanel_;
  std::unique_ptr<ForgotTokenAuthenticationPanel> forgotTokenAuthenticationPanel_;
  std::unique_ptr<ErrorMessagePanel> errorMessagePanel_;
};

}  // namespace View
}  // namespace Korvath
