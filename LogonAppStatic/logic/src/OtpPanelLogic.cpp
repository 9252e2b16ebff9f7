#include "Korvath/View/OtpPanelLogic.h"

#include <utility>

#include "Korvath/Logger.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/Service/MfaAuthentication.h"
#include "PanelCommon.h"

namespace Korvath {
namespace View {

namespace {
const char* const kClass = "Korvath::View::OtpPanel";
}  // namespace

bool isOfflineFallbackCode(std::uint16_t code) {
  return code == KV_ERROR_SERVER_IS_UNREACHABLE || code == KV_ERROR_NO_INTERNET_ACCESS ||
         code == KV_ERROR_INTERNET_NAME_NOT_RESOLVED || code == KV_ERROR_FAIL_REQUEST_AUTHENTICATION;
}

OtpPanelLogic::OtpPanelLogic(Service::KvService* service, std::atomic<bool>* internetStatus, std::string userName)
    : service_(service), internetStatus_(internetStatus), userName_(std::move(userName)) {}

bool OtpPanelLogic::online() const { return internetStatus_ != nullptr && internetStatus_->load(); }

bool OtpPanelLogic::isOtpValid(const std::string& otp, ErrorText& error) {
  return isCodeLengthValid(otp, error, kTextTypeOtp, kTextOtpFailed);
}

Model::KvResult OtpPanelLogic::processOtpAuthentication(const std::string& otp) {
  KV_LOG_DEBUG("%s::processOtpAuthentication - Processing OTP!", kClass);
  if (service_ == nullptr) return Model::KvResult(KV_ERROR_UNKNOWN_CLOUD_CODE, 0, std::string());
  Service::MfaAuthenticationRequest request;
  request.mode = Service::MFAAuthenticationOTP;
  request.userLogin = userName_;
  request.checkRememberPassword = false;
  request.onLine = online();
  request.authData = otp;
  return Service::MfaAuthentication(service_).authenticate(request);
}

Model::KvResult OtpPanelLogic::authenticate(const std::string& otp) {
  KV_LOG_DEBUG("%s::authenticate - Trying %s authentication!", kClass, online() ? "online" : "offline");
  Model::KvResult result = processOtpAuthentication(otp);
  if (isOfflineFallbackCode(result.getResultCode())) {
    KV_LOG_DEBUG("%s::authenticate - Failed to perform online OTP authentication. Trying offline authentication!",
                 kClass);
    if (internetStatus_ != nullptr) *internetStatus_ = false;
    result = processOtpAuthentication(otp);
  }
  KV_LOG_DEBUG("%s::authenticate - wlResult.resultCode = %d", kClass, result.getResultCode());
  return result;
}

PanelOutcome OtpPanelLogic::buttonEnterOnClick(const std::string& otp) {
  PanelOutcome outcome;
  outcome.error = ErrorText(ErrorKind::Otp);
  if (!isOtpValid(otp, outcome.error)) return outcome;
  const Model::KvResult result = authenticate(otp);
  if (result.getResultCode() == KV_SUCCESS) {
    KV_LOG_DEBUG("%s::buttonEnterOnClick - The OTP authentication returned SUCCESS!", kClass);
    return signInOutcome(ErrorKind::Otp);
  }
  KV_LOG_DEBUG("%s::updateErrorMessage - The OTP authentication returned FAIL!", kClass);
  KV_LOG_DEBUG("%s::updateErrorMessage - RequestId: %s - ResultCode: %d - CloudErrorCode: %d", kClass,
               result.getRequestId().c_str(), result.getResultCode(), result.getCloudErrorCode());
  outcome.error = ErrorText::fromResult(ErrorKind::Otp, result);
  // A connectivity code takes the dialog offline. Any other code leaves the flag as it is: after
  // the fall-back the answer came from the offline check, which says nothing about the service.
  if (internetStatus_ != nullptr && !isServerReachable(result.getResultCode())) *internetStatus_ = false;
  return outcome;
}

}  // namespace View
}  // namespace Korvath
