#include "Korvath/View/QrCodePanelLogic.h"

#include <exception>
#include <utility>

#include "Korvath/Logger.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/Service/KvServiceQRCode.h"
#include "Korvath/Service/MfaAuthentication.h"
#include "Korvath/Service/ServiceMessages.h"
#include "PanelCommon.h"

namespace Korvath {
namespace View {

namespace {
const char* const kClass = "Korvath::View::QrCodePanel";
constexpr std::uint16_t kPreset = 999;
}  // namespace

QrCodePanelLogic::QrCodePanelLogic(Service::KvService* service, std::atomic<bool>* internetStatus, std::string userName)
    : service_(service), internetStatus_(internetStatus), userName_(std::move(userName)) {}

void QrCodePanelLogic::dropCommand() {
  qrCommand_.clear();
  transactionId_.clear();
  transactionData_.clear();
}

bool QrCodePanelLogic::isVerificationCodeValid(const std::string& code, ErrorText& error) {
  return isCodeLengthValid(code, error, kTextTypeVerificationCode, kTextQrCodeFailed);
}

Model::KvResult QrCodePanelLogic::generateQrCodeString(ErrorText& error) {
  Model::KvResult result(kPreset, kPreset, std::string());
  try {
    if (service_ != nullptr) {
      Service::ServiceRequestBase request;
      request.setUserLogin(userName_);
      std::uint16_t responseType = 0;
      std::string reply;
      result = Service::KvServiceQRCode(service_, internetStatus_).genCmdQRCode(request, responseType, reply);
      if (result.getResultCode() == KV_SUCCESS) {
        Service::ServiceResponseAuthQRCode response;
        const std::uint16_t fill = response.fillFromJson(reply);
        KV_LOG_DEBUG("%s::generateQrCodeString - fillResult = %d", kClass, fill);
        // A reply without a command (the service made no transaction) has nothing to show.
        if (fill == KV_SUCCESS && !response.getCommand().empty()) {
          qrCommand_ = response.getCommand();
          transactionId_ = response.getTransactionId();
          transactionData_ = response.getTransactionData().toJson();
          return result;
        }
        error.setMessageTextId(kTextQrCodeNotGenerated);
        return result;
      }
    }
  } catch (const std::exception& e) {
    KV_LOG_ERROR("%s::generateQrCodeString - exception - e.what(): %s", kClass, e.what());
  }
  error.setMessageTextId(kTextQrCodeNotGenerated);
  KV_LOG_ERROR(
      "%s::generateQrCodeString - It was not possible generate online or offline QR code. RequestId: %s - "
      "ResultCode: %d - CloudErrorCode: %d",
      kClass, result.getRequestId().c_str(), result.getResultCode(), result.getCloudErrorCode());
  return result;
}

ErrorText QrCodePanelLogic::generateQrCode(QRCodePainter& painter) {
  KV_LOG_DEBUG("%s::generateQrCode - Erasing the QR code drawn", kClass);
  dropCommand();
  painter.clear();
  ErrorText error(ErrorKind::QrCode);
  const Model::KvResult result = generateQrCodeString(error);
  if (result.getResultCode() != KV_SUCCESS) {
    dropCommand();
    return ErrorText::fromResult(ErrorKind::QrCode, result);
  }
  if (!hasCommand()) return error;
  KV_LOG_DEBUG("%s::generateQrCode - Generating the QR code image from the QR code string.", kClass);
  if (!painter.paint(qrCommand_.c_str())) {
    // A code nobody can scan is no code: Enter then asks for a new one.
    KV_LOG_ERROR("%s::generateQrCode - the QR code image could not be made", kClass);
    dropCommand();
    return ErrorText::fromMessage(ErrorKind::QrCode, kTextQrCodeNotGenerated);
  }
  return ErrorText(ErrorKind::QrCode);
}

Model::KvResult QrCodePanelLogic::processQrCodeAuthentication(const std::string& code) {
  KV_LOG_DEBUG("%s::processQrCodeAuthentication - Processing QR code verification code!", kClass);
  if (!hasCommand()) {
    KV_LOG_DEBUG("%s::processQrCodeAuthentication - QR code not generated, all authenticators are blocked!", kClass);
    return Model::KvResult(KV_ERROR_ALL_AUTHENTICATORS_BLOCKED, 0, std::string());
  }
  if (service_ == nullptr) return Model::KvResult(KV_ERROR_UNKNOWN_CLOUD_CODE, 0, std::string());
  Service::MfaAuthenticationRequest request;
  request.mode = Service::MFAAuthenticationQRCode;
  request.userLogin = userName_;
  request.checkRememberPassword = false;
  request.authData = code;
  request.command = qrCommand_;
  request.transactionId = transactionId_;
  request.transactionData = transactionData_;
  request.onLine = internetStatus_ != nullptr && internetStatus_->load();
  return Service::MfaAuthentication(service_).authenticate(request);
}

PanelOutcome QrCodePanelLogic::buttonEnterOnClick(const std::string& verificationCode, QRCodePainter& painter) {
  KV_LOG_DEBUG("%s::buttonEnterOnClick - Button enter is clicked.", kClass);
  PanelOutcome outcome;
  outcome.error = ErrorText(ErrorKind::QrCode);
  if (!isVerificationCodeValid(verificationCode, outcome.error)) return outcome;

  const Model::KvResult result = processQrCodeAuthentication(verificationCode);
  if (result.getResultCode() == KV_SUCCESS) {
    KV_LOG_DEBUG("%s::buttonEnterOnClick - The QrCode authentication returned: SUCCESS!", kClass);
    return signInOutcome(ErrorKind::QrCode);
  }
  KV_LOG_DEBUG("%s::buttonEnterOnClick - The QR code authentication returned: %d.", kClass, result.getResultCode());
  std::uint16_t codeToShow = result.getResultCode();
  if (!isServerReachable(codeToShow)) {
    // The transaction of the code on screen is lost with the connection: the next code is
    // generated offline.
    codeToShow = KV_ERROR_QRCODE_NO_LONGER_VALID;
    if (internetStatus_ != nullptr) *internetStatus_ = false;
  }
  outcome.error = ErrorText::fromResult(ErrorKind::QrCode, result);
  outcome.error.setResultCode(codeToShow);

  ErrorText generation = generateQrCode(painter);
  if (!hasCommand()) {
    outcome.error = generation;
  } else if (codeToShow == KV_ERROR_ALL_AUTHENTICATORS_BLOCKED) {
    outcome.error = ErrorText::fromMessage(ErrorKind::QrCode, kTextTryAgain);
  }
  return outcome;
}

}  // namespace View
}  // namespace Korvath
