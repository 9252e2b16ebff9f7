#pragma once

// The single entry of the dialog's panels into the services. A panel fills an
// MfaAuthenticationRequest and calls authenticate (OTP, QR code, forgot token, password:
// synchronous, on the calling thread) or authenticateAsync (push: a task of its own whose
// future joins the service's queue). Each mode checks the lengths of the user's texts,
// builds the service request message, runs the factor's service over the dialog's KvService
// and, for some failures, checks that the service's response text is the message it names.

#include <cstdint>
#include <string>

#include "Korvath/KvResult.h"
#include "Korvath/Service/KvService.h"
#include "Korvath/Timer.h"

namespace Korvath {
namespace Service {

// Authentication modes of a request.
enum MfaAuthenticationMode : std::uint8_t {
  MFAAuthenticationOTP = 1,
  MFAAuthenticationQRCode = 2,
  MFAAuthenticationPush = 3,
  MFAAuthenticationForgotTokenActivate = 4,
  MFAAuthenticationForgotTokenAuthentication = 5,
  MFAAuthenticationPassword = 8,
  MFAAuthenticationLogonAppDisable = 9,
};

// What a panel hands over. No validating setters: the dispatcher checks what each mode uses.
struct MfaAuthenticationRequest {
  std::uint8_t mode = MFAAuthenticationPush;
  std::string userLogin;
  std::string userPassword;
  bool checkRememberPassword = false;
  // The code typed: OTP, QR-code verification code or forgot-token verification code.
  std::string authData;
  // QR code: the command shown, its transaction data (JSON text) and transaction identifier.
  std::string command;
  std::string transactionData;
  std::string transactionId;
  // Forgot token: hours granted and the activation challenge shown.
  std::uint16_t time = 0;
  std::string challenge;
  // The dialog's internet flag.
  bool onLine = true;
  bool autoSendPush = true;
};

class MfaAuthentication {
 public:
  // Longest login and password (bytes) that reach a service.
  static constexpr std::size_t kMaxLoginBytes = 100;
  static constexpr std::size_t kMaxPasswordBytes = 300;
  // Length of a QR-code transaction identifier (or 0).
  static constexpr std::size_t kTransactionIdLength = 36;

  // `service` is the dialog's service, borrowed.
  explicit MfaAuthentication(KvService* service) : service_(service) {}

  // Runs the request's mode; 5113 for a mode without a synchronous operation (push included).
  Model::KvResult authenticate(MfaAuthenticationRequest request);
  // Push (mode 3) only: starts checkPush on a copy of the dialog's service, appends its future
  // to the service's queue and returns its position there; 255 for any other mode.
  // Dialog thread only (the queue is the dialog thread's).
  std::uint32_t authenticateAsync(MfaAuthenticationRequest request, Utils::AutoTokenCancellationRelease token);

  Model::KvResult checkOtp(std::string userLogin, std::string userPassword, bool checkRememberPassword,
                           std::string authData, bool onLine);
  Model::KvResult checkQrCode(std::string userLogin, std::string userPassword, bool checkRememberPassword,
                              std::string authData, std::string command, std::string transactionData,
                              std::string transactionId, bool onLine);
  // The body of the push task. It needs nothing of this object (a panel's dispatcher may be
  // gone before the task ends), only the service copy it is given.
  static Model::KvResult checkPush(std::string userLogin, std::string userPassword, bool checkRememberPassword,
                                   bool autoSendPush, KvService service,
                                   const Utils::AutoTokenCancellationRelease& token);
  Model::KvResult forgotTokenActivate(std::string userLogin, std::string userPassword, bool checkRememberPassword,
                                      std::uint16_t time, std::string challenge, std::string authData, bool onLine);
  Model::KvResult forgotTokenAuthentication(std::string userLogin, std::string userPassword,
                                            bool checkRememberPassword);
  Model::KvResult checkPassword(std::string userLogin, std::string userPassword, bool checkRememberPassword);
  // The agent's resource is gone from the service: the password alone suffices.
  Model::KvResult logonAppDisable();

 private:
  Model::KvResult dispatch(const MfaAuthenticationRequest& request);

  KvService* service_;
};

}  // namespace Service
}  // namespace Korvath
