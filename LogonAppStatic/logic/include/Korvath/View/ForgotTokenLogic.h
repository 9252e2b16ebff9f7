#pragma once

// The forgot-token panels without their windows. Activation: the activation code the user
// reads to an administrator, then the verification code and the hours the administrator
// grants (mode 4, online first, offline as fall-back). Authentication: while the period runs,
// the countdown and Enter, which lets the user in without a second factor.

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "Korvath/KvResult.h"
#include "Korvath/Service/KvService.h"
#include "Korvath/View/ErrorText.h"

namespace Korvath {
namespace View {

class ForgotTokenActivationLogic {
 public:
  // Boxes of the activation code.
  static constexpr std::size_t kCodeBoxes = 6;

  // `service` and `internetStatus` are the dialog's (borrowed); `userName` the current user.
  ForgotTokenActivationLogic(Service::KvService* service, std::atomic<bool>* internetStatus, std::string userName);

  // A new activation code (each time the panel is shown). Returns the error to show, empty when
  // activationCode() holds the new code: message 425 when the forgot-token mode is not
  // authorized (5115), 429 on any other failure or an empty code.
  ErrorText generateActivationCode();
  const std::string& activationCode() const { return activationCode_; }
  // The activation code's first six characters, one per box; boxes past its end stay empty.
  static std::array<std::u16string, kCodeBoxes> activationCodeBoxes(const std::string& code);

  // Enter: the hours are checked first, then the verification code; both valid: the
  // activation (online, then offline after 5116, 5124, 5137 or 5218, the dialog going
  // offline). Success sets the validated flag (signedIn: post WM_CLOSE to the dialog);
  // otherwise the error to show, and a checked code that failed also brings a new activation
  // code (activationCode(); the error of its generation instead when there is none): a code
  // refused for one activation code is never tried against it again.
  PanelOutcome buttonEnterOnClick(const std::string& hoursText, const std::string& verificationCode);

  // The hours box: 1 to 3 decimal digits, `hours` then their value. Empty: message 407; four
  // or more characters, or any character that is not a digit 0-9 (a pasted text): 422.
  // Never throws.
  static bool isTimeDurationValid(const std::string& text, ErrorText& error, std::uint16_t& hours);
  // 4 to 10 characters; otherwise false with `error` set to the message 406 (empty) or 431.
  static bool isVerificationCodeValid(const std::string& code, ErrorText& error);
  // One attempt, online or offline as the internet-status flag says; 9999 without a service.
  Model::KvResult processForgotTokenActivation(const std::string& verificationCode, std::uint16_t hours);

 private:
  bool online() const;

  Service::KvService* service_;
  std::atomic<bool>* internetStatus_;
  std::string userName_;
  std::string activationCode_;
};

class ForgotTokenAuthenticationLogic {
 public:
  // `service` is the dialog's (borrowed); `userName` the current user.
  ForgotTokenAuthenticationLogic(Service::KvService* service, std::string userName);

  // The end of the user's forgot-token period as a FILETIME, 0 when there is none (mode
  // switched off, user not stored, no period): the service's expiry moved to the local clock
  // by the server time difference, else the period of an offline activation.
  std::uint64_t getForgotTokenExpiry() const;

  // The countdown (when the panel is shown and every 30 s): while the period runs, the whole
  // hours left (two digits at least, zero-padded; 100 h shows "100") and the minutes past them
  // (two digits). False once the period has ended, the countdown then at "00" and "00": the
  // panel shows expiredError().
  bool refreshExpiresIn(std::u16string& hours, std::u16string& minutes) const;
  // Milliseconds until the countdown should be refreshed: 30 s, or sooner when the period ends
  // sooner, so that its end is shown when it comes.
  std::uint32_t nextRefreshMs() const;

  // Enter: while the period runs the validated flag is set (signedIn: the panel posts WM_CLOSE
  // to the dialog); afterwards the refusal, expiredError(). No service call.
  PanelOutcome buttonEnterOnClick();
  // What the panel says once the period is over: the sentence of 5111 on a forgot-token panel.
  static ErrorText expiredError();

 private:
  Service::KvService* service_;
  std::string userName_;
};

}  // namespace View
}  // namespace Korvath
