// The dispatcher between the dialog's panels and the per-factor services.

#include "Korvath/Service/MfaAuthentication.h"

#include <exception>
#include <future>
#include <memory>

#include "Korvath/Business/KvBusiness.h"
#include "Korvath/Logger.h"
#include "Korvath/Model/TransactionData.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/Service/KvServiceForgotAuthenticator.h"
#include "Korvath/Service/KvServiceOTP.h"
#include "Korvath/Service/KvServicePassword.h"
#include "Korvath/Service/KvServicePush.h"
#include "Korvath/Service/KvServiceQRCode.h"
#include "Korvath/Service/ServiceMessages.h"
#include "ServiceLog.h"

namespace Korvath {
namespace Service {

namespace {

const char* const kClass = "Korvath::Service::MfaAuthentication";

Model::KvResult preset() { return Model::KvResult(KV_ERROR_FAIL_AUTHENTICATION, 0, std::string()); }

// The checks every operation starts with; 0 when the texts may go on to a service.
std::uint16_t checkLengths(const std::string& userLogin, const std::string& userPassword) {
  if (userLogin.size() > MfaAuthentication::kMaxLoginBytes) return KV_ERROR_USER_NOT_FOUND;
  if (userPassword.size() > MfaAuthentication::kMaxPasswordBytes) return KV_ERROR_AUTH_INVALID_USER_PASS;
  return KV_SUCCESS;
}

// Copies the texts that passed checkLengths into a request message (its setters cannot
// refuse them any more).
void fillBase(ServiceRequestBase& message, const std::string& userLogin, const std::string& userPassword,
              bool checkRememberPassword) {
  message.setUserLogin(userLogin);
  message.setUserPassword(userPassword);
  message.setCheckRememberPassword(checkRememberPassword);
}

// A failed service must have answered the message its response type names. A service that
// stopped before writing any response (the logon-disabled gate) leaves the text empty; its
// code then stands as it is instead of being replaced by the parse failure of nothing.
template <typename Message>
void checkResponse(const char* function, const std::string& response, Model::KvResult& result) {
  if (response.empty()) return;
  Message message;
  const std::uint16_t parsed = message.fillFromJson(response);
  if (parsed != KV_SUCCESS) {
    KV_LOG_ERROR("%s::%s - the service's response could not be read: %d", kClass, function, parsed);
    result.setResultCode(parsed);
  }
}

bool isConnectivityFailure(std::uint16_t code) {
  return code == KV_ERROR_COMMUNICATION_FAIL || code == KV_ERROR_SERVER_IS_UNREACHABLE ||
         code == KV_ERROR_NO_INTERNET_ACCESS || code == KV_ERROR_INTERNET_NAME_NOT_RESOLVED ||
         code == KV_ERROR_REST_CLIENT_POST_AUTHENTICATION;
}

}  // namespace

Model::KvResult MfaAuthentication::authenticate(MfaAuthenticationRequest request) {
  KV_TRACE_SCOPE("Korvath::Service::MfaAuthentication::authenticate");
  Model::KvResult result = preset();
  try {
    result = dispatch(request);
  } catch (const std::exception& e) {
    logServiceException(kClass, "authenticate", &e);
    result = preset();
  } catch (...) {
    logServiceException(kClass, "authenticate", nullptr);
    result = preset();
  }
  KV_LOG_INFO("%s::authenticate - result %d - %s", kClass, result.getResultCode(),
              getResultName(result.getResultCode()).c_str());
  return result;
}

Model::KvResult MfaAuthentication::dispatch(const MfaAuthenticationRequest& request) {
  Model::KvResult result = preset();
  // Every factor's service works on the dialog's state; without it only mode 9 has an answer.
  if (service_ == nullptr && request.mode != MFAAuthenticationLogonAppDisable) {
    KV_LOG_ERROR("%s::authenticate - no service state for mode %d", kClass, static_cast<int>(request.mode));
    return result;
  }
  switch (request.mode) {
    case MFAAuthenticationOTP:
      KV_LOG_DEBUG("%s::authenticate - MFAAuthenticationOTP", kClass);
      result = checkOtp(request.userLogin, request.userPassword, request.checkRememberPassword, request.authData,
                        request.onLine);
      break;
    case MFAAuthenticationQRCode:
      KV_LOG_DEBUG("%s::authenticate - MFAAuthenticationQRCode", kClass);
      result = checkQrCode(request.userLogin, request.userPassword, request.checkRememberPassword, request.authData,
                           request.command, request.transactionData, request.transactionId, request.onLine);
      break;
    case MFAAuthenticationPush:
      KV_LOG_DEBUG("%s::authenticate - MFAAuthenticationPush", kClass);
      break;
    case MFAAuthenticationForgotTokenActivate:
      KV_LOG_DEBUG("%s::authenticate - MFAAuthenticationForgotTokenActivate", kClass);
      result = forgotTokenActivate(request.userLogin, request.userPassword, request.checkRememberPassword, request.time,
                                   request.challenge, request.authData, request.onLine);
      break;
    case MFAAuthenticationForgotTokenAuthentication:
      KV_LOG_DEBUG("%s::authenticate - MFAAuthenticationForgotTokenAuthentication", kClass);
      result = forgotTokenAuthentication(request.userLogin, request.userPassword, request.checkRememberPassword);
      break;
    case MFAAuthenticationPassword:
      KV_LOG_DEBUG("%s::authenticate - MFAAuthenticationPassword", kClass);
      result = checkPassword(request.userLogin, request.userPassword, request.checkRememberPassword);
      break;
    case MFAAuthenticationLogonAppDisable:
      KV_LOG_DEBUG("%s::authenticate - MFAAuthenticationLogonAppDisable", kClass);
      result = logonAppDisable();
      break;
    default:
      break;
  }
  return result;
}

std::uint32_t MfaAuthentication::authenticateAsync(MfaAuthenticationRequest request,
                                                   Utils::AutoTokenCancellationRelease token) {
  KV_TRACE_SCOPE("Korvath::Service::MfaAuthentication::authenticateAsync");
  std::uint32_t taskIndex = kNoTaskIndex;
  if (request.mode == MFAAuthenticationPush && service_ != nullptr) {
    try {
      // The copy is made here, on the dialog thread; the task owns it and its own token
      // reference until it ends.
      auto copy = std::make_shared<KvService>(*service_);
      std::future<Model::KvResult> future = std::async(std::launch::async, [request, copy, token]() -> Model::KvResult {
        return checkPush(request.userLogin, request.userPassword, request.checkRememberPassword, request.autoSendPush,
                         *copy, token);
      });
      KvService::FutureQueue& futures = service_->getFutures();
      futures.push_back(future.share());
      taskIndex = static_cast<std::uint32_t>((futures.size() - 1) % 256);
    } catch (const std::exception& e) {
      // Nothing was started (a service state that cannot be copied, or no thread).
      logServiceException(kClass, "authenticateAsync", &e);
      taskIndex = kNoTaskIndex;
    }
  }
  KV_LOG_DEBUG("%s::authenticateAsync - taskIndex: %d ", kClass, static_cast<int>(taskIndex));
  return taskIndex;
}

Model::KvResult MfaAuthentication::checkPush(std::string userLogin, std::string userPassword,
                                             bool checkRememberPassword, bool autoSendPush, KvService service,
                                             const Utils::AutoTokenCancellationRelease& token) {
  KV_TRACE_SCOPE("Korvath::Service::MfaAuthentication::checkPush");
  Model::KvResult result = preset();
  const std::uint16_t lengths = checkLengths(userLogin, userPassword);
  if (lengths != KV_SUCCESS) {
    result.setResultCode(lengths);
    return result;
  }
  try {
    ServiceRequestBase message;
    fillBase(message, userLogin, userPassword, checkRememberPassword);
    message.setAutoSendPush(autoSendPush);

    // The push service reads the token through its own reference.
    Utils::AutoTokenCancellationRelease taskToken(token);
    std::uint16_t responseType = 0;
    std::string response;
    {
      KvServicePush push(service);
      result = push.sendPush(message, &responseType, response, &taskToken);
    }
    if (result.getResultCode() != KV_SUCCESS && responseType == Business::RESPONSE_TYPE_PUSH) {
      checkResponse<ServiceResponseBase>("checkPush", response, result);
    }
  } catch (const std::exception& e) {
    logServiceException(kClass, "checkPush", &e);
    result.setResultCode(KV_ERROR_FAIL_SERVICE_SEND_PUSH_KORVATH);
  } catch (...) {
    logServiceException(kClass, "checkPush", nullptr);
    result.setResultCode(KV_ERROR_FAIL_SERVICE_SEND_PUSH_KORVATH);
  }
  KV_LOG_INFO("%s::checkPush - result %d - %s", kClass, result.getResultCode(),
              getResultName(result.getResultCode()).c_str());
  return result;
}

Model::KvResult MfaAuthentication::checkOtp(std::string userLogin, std::string userPassword, bool checkRememberPassword,
                                            std::string authData, bool onLine) {
  KV_TRACE_SCOPE("Korvath::Service::MfaAuthentication::checkOtp");
  Model::KvResult result = preset();
  const std::uint16_t lengths = checkLengths(userLogin, userPassword);
  if (lengths != KV_SUCCESS) {
    result.setResultCode(lengths);
    return result;
  }
  if (authData.empty()) return result;

  ServiceRequestAuthOTP message;
  fillBase(message, userLogin, userPassword, checkRememberPassword);
  message.setAuthData(authData);

  KvServiceOTP otp(service_);
  std::uint16_t responseType = 0;
  std::string response;
  if (onLine) {
    result = otp.checkOTPOnline(message, responseType, response);
    if (isConnectivityFailure(result.getResultCode())) {
      KV_LOG_INFO("%s::checkOtp - the service could not be reached (%d); checking offline", kClass,
                  result.getResultCode());
      response.clear();
      result = otp.checkOTP(message, responseType, response);
    }
  } else {
    result = otp.checkOTP(message, responseType, response);
  }
  if (result.getResultCode() != KV_SUCCESS && responseType == Business::RESPONSE_TYPE_OTP) {
    checkResponse<ServiceResponseAuthOTP>("checkOtp", response, result);
  }
  return result;
}

Model::KvResult MfaAuthentication::checkQrCode(std::string userLogin, std::string userPassword,
                                               bool checkRememberPassword, std::string authData, std::string command,
                                               std::string transactionData, std::string transactionId, bool onLine) {
  KV_TRACE_SCOPE("Korvath::Service::MfaAuthentication::checkQrCode");
  Model::KvResult result = preset();
  const std::uint16_t lengths = checkLengths(userLogin, userPassword);
  if (lengths != KV_SUCCESS) {
    result.setResultCode(lengths);
    return result;
  }
  if (authData.empty()) return result;

  ServiceRequestAuthQRCode message;
  fillBase(message, userLogin, userPassword, checkRememberPassword);
  message.setAuthData(authData);
  message.setCommand(command);

  Model::TransactionData data;
  const std::uint16_t filled = data.fillFromJson(transactionData);
  if (filled != KV_SUCCESS) {
    KV_LOG_ERROR("%s::checkQrCode - the transaction data could not be read: %d", kClass, filled);
    result.setResultCode(filled);
    return result;
  }
  if (message.setTransactionData(data) != KV_SUCCESS) return result;
  if (!transactionId.empty() && transactionId.size() != kTransactionIdLength) return result;
  message.setTransactionId(transactionId);
  message.setOnLine(onLine);

  KvServiceQRCode qrCode(service_);
  std::uint16_t responseType = 0;
  std::string response;
  result = qrCode.checkQRCode(message, responseType, response);
  if (result.getResultCode() != KV_SUCCESS) {
    if (responseType == Business::RESPONSE_TYPE_QRCODE) {
      checkResponse<ServiceResponseAuthQRCode>("checkQrCode", response, result);
    } else if (responseType == Business::RESPONSE_TYPE_QRCODE_COMMAND) {
      checkResponse<ServiceResponseBase>("checkQrCode", response, result);
    }
  }
  return result;
}

Model::KvResult MfaAuthentication::forgotTokenActivate(std::string userLogin, std::string userPassword,
                                                       bool checkRememberPassword, std::uint16_t time,
                                                       std::string challenge, std::string authData, bool onLine) {
  KV_TRACE_SCOPE("Korvath::Service::MfaAuthentication::forgotTokenActivate");
  Model::KvResult result = preset();
  const std::uint16_t lengths = checkLengths(userLogin, userPassword);
  if (lengths != KV_SUCCESS) {
    result.setResultCode(lengths);
    return result;
  }
  if (challenge.empty() || authData.empty()) return result;

  ServiceRequestActiveForgotAuthenticator message;
  fillBase(message, userLogin, userPassword, checkRememberPassword);
  message.setTime(time);
  message.setChallenge(challenge);
  message.setAuthData(authData);
  // The message carries the password and the verification code; the log redacts both.
  KV_LOG_DEBUG("%s::forgotTokenActivate - request %s", kClass, message.toJson().c_str());

  KvServiceForgotAuthenticator forgot(service_);
  std::uint16_t responseType = 0;
  std::string response;
  if (!onLine) {
    result.setResultCode(forgot.checkActiveForgotAuthenticatorOffline(message, responseType, response));
    if (result.getResultCode() != KV_SUCCESS && responseType == Business::RESPONSE_TYPE_FORGOT_ACTIVATION) {
      checkResponse<ServiceResponseActiveForgotAuthenticator>("forgotTokenActivate", response, result);
    }
  } else {
    result = forgot.checkActiveForgotAuthenticatorOnline(message, responseType, response);
  }
  return result;
}

Model::KvResult MfaAuthentication::forgotTokenAuthentication(std::string userLogin, std::string userPassword,
                                                             bool checkRememberPassword) {
  KV_TRACE_SCOPE("Korvath::Service::MfaAuthentication::forgotTokenAuthentication");
  Model::KvResult result = preset();
  const std::uint16_t lengths = checkLengths(userLogin, userPassword);
  if (lengths != KV_SUCCESS) {
    result.setResultCode(lengths);
    return result;
  }
  ServiceRequestBase message;
  fillBase(message, userLogin, userPassword, checkRememberPassword);
  KvServiceForgotAuthenticator forgot(service_);
  std::uint16_t responseType = 0;
  std::string response;
  result.setResultCode(forgot.checkForgotAuthenticator(message, responseType, response));
  return result;
}

Model::KvResult MfaAuthentication::checkPassword(std::string userLogin, std::string userPassword,
                                                 bool checkRememberPassword) {
  KV_TRACE_SCOPE("Korvath::Service::MfaAuthentication::checkPassword");
  Model::KvResult result = preset();
  const std::uint16_t lengths = checkLengths(userLogin, userPassword);
  if (lengths != KV_SUCCESS) {
    result.setResultCode(lengths);
    return result;
  }
  ServiceRequestBase message;
  fillBase(message, userLogin, userPassword, checkRememberPassword);
  KvServicePassword password(service_);
  result.setResultCode(password.checkPassword(message));
  return result;
}

Model::KvResult MfaAuthentication::logonAppDisable() { return Model::KvResult(KV_SUCCESS, 0, std::string()); }

}  // namespace Service
}  // namespace Korvath
