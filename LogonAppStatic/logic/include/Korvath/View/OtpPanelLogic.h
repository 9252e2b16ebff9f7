#pragma once

// The OTP panel without its windows: checks the typed one-time password and authenticates it
// (mode 1), online while the dialog is online and offline otherwise, falling back to offline
// once when the online attempt could not reach the service.

#include <atomic>
#include <string>

#include "Korvath/KvResult.h"
#include "Korvath/Service/KvService.h"
#include "Korvath/View/ErrorText.h"

namespace Korvath {
namespace View {

class OtpPanelLogic {
 public:
  // `service` and `internetStatus` are the dialog's (borrowed); `userName` the current user.
  OtpPanelLogic(Service::KvService* service, std::atomic<bool>* internetStatus, std::string userName);

  // Enter (the button, or the Enter key in the box): on success the validated flag is set and
  // signedIn is true (the panel posts WM_CLOSE to the dialog); otherwise the error to show.
  // A failure with a connectivity code takes the dialog offline (and so does the fall-back);
  // the panel empties the box and enables Enter in every case.
  PanelOutcome buttonEnterOnClick(const std::string& otp);

  // 4 to 10 characters. Otherwise false with `error` set to the message 405 (empty) or 411.
  static bool isOtpValid(const std::string& otp, ErrorText& error);
  // The service's answer; after 5116, 5124, 5137 or 5218 the dialog goes offline and the
  // offline check's answer is returned instead.
  Model::KvResult authenticate(const std::string& otp);
  // One attempt, online or offline as the internet-status flag says; 9999 without a service.
  Model::KvResult processOtpAuthentication(const std::string& otp);

 private:
  bool online() const;

  Service::KvService* service_;
  std::atomic<bool>* internetStatus_;
  std::string userName_;
};

// True for the codes after which an online attempt is repeated offline (5116, 5124, 5137,
// 5218): the service could not be reached or did not answer the authentication request.
bool isOfflineFallbackCode(std::uint16_t code);

}  // namespace View
}  // namespace Korvath
