#pragma once

// The panels that the MFA dialog shows on its right-hand side, one at a time (the panels
// manager creates and destroys them). Every panel is a child window of the dialog at
// (440·s, 10·s), 380·s × 360·s. A panel never calls the dialog: it reports success by
// setting the validated flag and posting WM_CLOSE to the dialog window.
//
// create() registers the panel's class (an existing class is not an error), creates its
// window and controls and returns S_OK or the HRESULT of the window that could not be
// created; the object is usable (and destructible) either way, and a null window makes the
// manager's show calls do nothing. The destructor destroys the window if it still exists and
// ends whatever the panel started (a pending push, its waiter, timers).

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "Korvath/KvResult.h"
#include "Korvath/Service/KvService.h"
#include "Korvath/Timer.h"

namespace Korvath {
namespace View {

class PushPanel {
 public:
  PushPanel();
  ~PushPanel();
  PushPanel(const PushPanel&) = delete;
  PushPanel& operator=(const PushPanel&) = delete;
  // isInitialPanel: the dialog shows this panel first and sends command 221 itself when the
  // user's auto-send option is on (the Send Push button then starts disabled).
  HRESULT create(HWND dialog, HMODULE module, Service::KvService* service, Korvath::Utils::Timer* clickTimer,
                 std::atomic<bool>* internetStatus, const std::string& userName, bool isInitialPanel);
  HWND window() const;
  void hideErrorLabels();
  // Focus to the Send Push button.
  void focusSendPush();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

class OtpPanel {
 public:
  OtpPanel();
  ~OtpPanel();
  OtpPanel(const OtpPanel&) = delete;
  OtpPanel& operator=(const OtpPanel&) = delete;
  HRESULT create(HWND dialog, HMODULE module, Service::KvService* service, Korvath::Utils::Timer* clickTimer,
                 std::atomic<bool>* internetStatus, const std::string& userName);
  HWND window() const;
  // Empties the OTP box.
  void clearCode();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

class QrCodePanel {
 public:
  QrCodePanel();
  ~QrCodePanel();
  QrCodePanel(const QrCodePanel&) = delete;
  QrCodePanel& operator=(const QrCodePanel&) = delete;
  HRESULT create(HWND dialog, HMODULE module, Service::KvService* service, Korvath::Utils::Timer* clickTimer,
                 std::atomic<bool>* internetStatus, const std::string& userName);
  HWND window() const;
  void hideErrorLabels();
  // Empties the verification-code box.
  void clearCode();
  // Asks the service for a new command and draws it (or shows why not).
  Model::KvResult generateQrCode();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

class ForgotTokenActivationPanel {
 public:
  ForgotTokenActivationPanel();
  ~ForgotTokenActivationPanel();
  ForgotTokenActivationPanel(const ForgotTokenActivationPanel&) = delete;
  ForgotTokenActivationPanel& operator=(const ForgotTokenActivationPanel&) = delete;
  HRESULT create(HWND dialog, HMODULE module, Service::KvService* service, Korvath::Utils::Timer* clickTimer,
                 std::atomic<bool>* internetStatus, const std::string& userName);
  HWND window() const;
  // Empties the verification-code and hours boxes.
  void clearBoxes();
  // Asks the service for a new activation code and shows it in the six boxes.
  void generateActivationCode();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

class ForgotTokenAuthenticationPanel {
 public:
  ForgotTokenAuthenticationPanel();
  ~ForgotTokenAuthenticationPanel();
  ForgotTokenAuthenticationPanel(const ForgotTokenAuthenticationPanel&) = delete;
  ForgotTokenAuthenticationPanel& operator=(const ForgotTokenAuthenticationPanel&) = delete;
  HRESULT create(HWND dialog, HMODULE module, Service::KvService* service, Korvath::Utils::Timer* clickTimer,
                 const std::string& userName);
  HWND window() const;
  // Shows the time left in the hours and minutes boxes.
  void refreshExpiresIn();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

class ErrorMessagePanel {
 public:
  ErrorMessagePanel();
  ~ErrorMessagePanel();
  ErrorMessagePanel(const ErrorMessagePanel&) = delete;
  ErrorMessagePanel& operator=(const ErrorMessagePanel&) = delete;
  // `result` (the dialog's start-up outcome) must outlive the panel.
  HRESULT create(HWND dialog, HMODULE module, const Model::KvResult* result);
  HWND window() const;
  // Shows the panel with the result's message and focuses its OK button.
  void show();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace View
}  // namespace Korvath
