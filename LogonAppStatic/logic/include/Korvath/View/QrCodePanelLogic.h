#pragma once

// The QR-code panel without its windows: asks the service for a QR-code command (online, or
// offline from the stored authenticator), paints it with the QR painter, and authenticates
// the verification code the mobile authenticator shows for it (mode 2).

#include <atomic>
#include <string>

#include "Korvath/KvResult.h"
#include "Korvath/Service/KvService.h"
#include "Korvath/View/ErrorText.h"
#include "Korvath/View/QRCodePainter.h"

namespace Korvath {
namespace View {

class QrCodePanelLogic {
 public:
  // `service` and `internetStatus` are the dialog's (borrowed); `userName` the current user.
  QrCodePanelLogic(Service::KvService* service, std::atomic<bool>* internetStatus, std::string userName);

  // A new code (when the panel is shown, and after every failed Enter): drops the current
  // command, asks the service for a new one and paints it into `painter`. Returns the error to
  // show, empty when the new code is in the painter's image. On any failure the painter holds
  // no image (no stale code stays on screen) and there is no command: the service's failure
  // as its result, or message 403 when its reply held no command or the painter could not
  // encode it. The panel repaints its QR area afterwards.
  ErrorText generateQrCode(QRCodePainter& painter);

  // Enter: on success the validated flag is set (signedIn: post WM_CLOSE to the dialog).
  // A code of the wrong length shows 406 (empty) or 412 and sends nothing. Any other failure
  // shows its result (5136 and the dialog offline when the service could not be reached),
  // and a new code is painted into `painter`; when that generation fails its error is shown
  // instead, and after 5126 (no command had been generated) a new code shows "Please try
  // again." (450). The panel empties the box in every case but a wrong length.
  PanelOutcome buttonEnterOnClick(const std::string& verificationCode, QRCodePainter& painter);

  // 4 to 10 characters; otherwise false with `error` set to the message 406 (empty) or 412.
  static bool isVerificationCodeValid(const std::string& code, ErrorText& error);
  // The service's command for the user (`error` gets message 403 when there is none); the
  // service's result (999 with cloud code 999 when it could not be asked).
  Model::KvResult generateQrCodeString(ErrorText& error);
  // The verification code checked against the current command; 5126 without a command, 9999
  // without a service.
  Model::KvResult processQrCodeAuthentication(const std::string& code);

  bool hasCommand() const { return !qrCommand_.empty(); }
  const std::string& qrCommand() const { return qrCommand_; }
  const std::string& transactionId() const { return transactionId_; }
  const std::string& transactionData() const { return transactionData_; }

 private:
  void dropCommand();

  Service::KvService* service_;
  std::atomic<bool>* internetStatus_;
  std::string userName_;
  std::string qrCommand_;
  std::string transactionId_;
  std::string transactionData_;
};

}  // namespace View
}  // namespace Korvath
