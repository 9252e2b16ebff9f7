#include "Korvath/View/ForgotTokenLogic.h"

#include <exception>
#include <utility>

#include "Korvath/Business/KvBusiness.h"
#include "Korvath/Logger.h"
#include "Korvath/Platform.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/Service/KvServiceForgotAuthenticator.h"
#include "Korvath/Service/MfaAuthentication.h"
#include "Korvath/Service/ServiceMessages.h"
#include "Korvath/View/DialogState.h"
#include "Korvath/View/OtpPanelLogic.h"
#include "PanelCommon.h"
#include "TextConvert.h"

namespace Korvath {
namespace View {

namespace {

const char* const kActivation = "Korvath::View::ForgotTokenActivationPanel";
const char* const kAuthentication = "Korvath::View::ForgotTokenAuthenticationPanel";
constexpr std::uint16_t kPreset = 999;
constexpr std::size_t kMaxHoursLength = 3;
constexpr std::uint64_t kFileTimeHour = 36000000000ull;
constexpr std::uint64_t kFileTimeMinute = 600000000ull;
constexpr std::uint64_t kFileTimeMillisecond = 10000ull;
// The countdown's refresh period.
constexpr std::uint32_t kCountdownPeriodMs = 30000;

// The English sentences of the two activation-code failures, for the log.
const char* logText(int textId) {
  return textId == kTextNotAuthorized ? "This authentication type is not authorized."
                                      : "Could not validate the 'Forgot Token' mode.";
}

std::u16string twoDigitsAtLeast(std::uint64_t value) {
  std::string text = std::to_string(value);
  if (text.size() < 2) text.insert(0, 2 - text.size(), '0');
  return Text::ascii(text);
}

}  // namespace

// ------------------------------------------------------------------------------ activation

ForgotTokenActivationLogic::ForgotTokenActivationLogic(Service::KvService* service, std::atomic<bool>* internetStatus,
                                                       std::string userName)
    : service_(service), internetStatus_(internetStatus), userName_(std::move(userName)) {}

bool ForgotTokenActivationLogic::online() const { return internetStatus_ != nullptr && internetStatus_->load(); }

ErrorText ForgotTokenActivationLogic::generateActivationCode() {
  activationCode_.clear();
  std::uint16_t code = KV_ERROR_FAIL_SERVICE_FORGOT_AUTHENTICATOR_ACTIVE_KORVATH;
  std::string reply;
  try {
    if (service_ != nullptr) {
      Service::ServiceRequestBase request;
      request.setUserLogin(userName_);
      std::uint16_t responseType = 0;
      code = Service::KvServiceForgotAuthenticator(service_).getForgotAuthenticatorScreen(request, responseType, reply,
                                                                                          internetStatus_);
    }
  } catch (const std::exception& e) {
    KV_LOG_ERROR("%s::generateActivationCode - exception - e.what(): %s", kActivation, e.what());
    code = KV_ERROR_FAIL_SERVICE_FORGOT_AUTHENTICATOR_ACTIVE_KORVATH;
  }
  int textId = 0;
  if (code == KV_ERROR_UNAUTHORIZED_AUTHENTICATION_TYPE) {
    textId = kTextNotAuthorized;
  } else if (code != KV_SUCCESS) {
    textId = kTextForgotTokenNotValidated;
  } else {
    Service::ServiceResponseActiveForgotAuthenticator response;
    if (response.fillFromJson(reply) == KV_SUCCESS) activationCode_ = response.getChallenge();
    if (activationCode_.empty()) textId = kTextForgotTokenNotValidated;
  }
  if (textId == 0) return ErrorText(ErrorKind::ForgotTokenActivation);
  KV_LOG_ERROR("%s::generateActivationCode - Error: %s ", kActivation, logText(textId));
  return ErrorText::fromMessage(ErrorKind::ForgotTokenActivation, textId);
}

std::array<std::u16string, ForgotTokenActivationLogic::kCodeBoxes> ForgotTokenActivationLogic::activationCodeBoxes(
    const std::string& code) {
  std::array<std::u16string, kCodeBoxes> boxes;
  const std::vector<std::string> characters = Text::characters(code);
  for (std::size_t i = 0; i < kCodeBoxes && i < characters.size(); ++i) boxes[i] = Text::toUtf16(characters[i]);
  return boxes;
}

bool ForgotTokenActivationLogic::isTimeDurationValid(const std::string& text, ErrorText& error, std::uint16_t& hours) {
  if (text.empty()) {
    error.setMessageTextId(kTextTypeTimeDuration);
    return false;
  }
  // The box takes digits only, but a pasted text does not go through that filter.
  std::uint16_t value = 0;
  bool digits = Text::length(text) <= kMaxHoursLength;
  for (char c : text) {
    if (!digits) break;
    if (c < '0' || c > '9') {
      digits = false;
    } else {
      value = static_cast<std::uint16_t>(value * 10 + (c - '0'));
    }
  }
  if (!digits) {
    error.setMessageTextId(kTextTimeDurationInvalid);
    return false;
  }
  hours = value;
  return true;
}

bool ForgotTokenActivationLogic::isVerificationCodeValid(const std::string& code, ErrorText& error) {
  return isCodeLengthValid(code, error, kTextTypeVerificationCode, kTextVerificationCodeInvalid);
}

Model::KvResult ForgotTokenActivationLogic::processForgotTokenActivation(const std::string& verificationCode,
                                                                         std::uint16_t hours) {
  KV_LOG_DEBUG("%s::processForgotTokenActivation - Processing forgot token activation!", kActivation);
  if (service_ == nullptr) return Model::KvResult(KV_ERROR_UNKNOWN_CLOUD_CODE, 0, std::string());
  Service::MfaAuthenticationRequest request;
  request.mode = Service::MFAAuthenticationForgotTokenActivate;
  request.userLogin = userName_;
  request.checkRememberPassword = false;
  request.onLine = online();
  request.authData = verificationCode;
  request.time = hours;
  request.challenge = activationCode_;
  return Service::MfaAuthentication(service_).authenticate(request);
}

PanelOutcome ForgotTokenActivationLogic::buttonEnterOnClick(const std::string& hoursText,
                                                            const std::string& verificationCode) {
  PanelOutcome outcome;
  outcome.error = ErrorText(ErrorKind::ForgotTokenActivation);
  std::uint16_t hours = 0;
  if (!isTimeDurationValid(hoursText, outcome.error, hours)) return outcome;
  if (!isVerificationCodeValid(verificationCode, outcome.error)) return outcome;

  Model::KvResult result(kPreset, kPreset, std::string());
  KV_LOG_DEBUG("%s::buttonEnterOnClick - Trying %s authentication!", kActivation, online() ? "online" : "offline");
  result = processForgotTokenActivation(verificationCode, hours);
  if (isOfflineFallbackCode(result.getResultCode())) {
    KV_LOG_DEBUG(
        "%s::buttonEnterOnClick - Failed to perform online forgot token authentication. Trying offline "
        "authentication!",
        kActivation);
    if (internetStatus_ != nullptr) *internetStatus_ = false;
    result = processForgotTokenActivation(verificationCode, hours);
  }
  if (result.getResultCode() == KV_SUCCESS) {
    KV_LOG_DEBUG("%s::handleAuthenticationResult - The forgot token authentication returned SUCCESS!", kActivation);
    return signInOutcome(ErrorKind::ForgotTokenActivation);
  }
  KV_LOG_DEBUG("%s::handleAuthenticationResult - The forgot token authentication returned FAIL!", kActivation);
  outcome.error = ErrorText::fromResult(ErrorKind::ForgotTokenActivation, result);
  const ErrorText generation = generateActivationCode();
  if (activationCode_.empty()) outcome.error = generation;
  return outcome;
}

// ------------------------------------------------------------------------------ authentication

ForgotTokenAuthenticationLogic::ForgotTokenAuthenticationLogic(Service::KvService* service, std::string userName)
    : service_(service), userName_(std::move(userName)) {}

std::uint64_t ForgotTokenAuthenticationLogic::getForgotTokenExpiry() const {
  if (service_ == nullptr) return 0;
  try {
    auto lock = service_->lockState();
    const Config& config = service_->getConfig();
    const ServerConfig server = config.getServerConfig();
    if (server.getEnableForgotAuthenticator() == 0) return 0;
    const int index = config.getUserIndex(userName_);
    if (index < 0) return 0;
    const Model::UserConfig user = config.getUsersConfig().at(static_cast<std::size_t>(index));
    return Service::KvServiceForgotAuthenticator::honouredExpiry(user, server.getTimeDifference(),
                                                                 Platform::clock().nowFileTime());
  } catch (const std::exception& e) {
    KV_LOG_ERROR("%s::getForgotTokenExpiry - exception - e.what(): %s", kAuthentication, e.what());
  }
  return 0;
}

bool ForgotTokenAuthenticationLogic::refreshExpiresIn(std::u16string& hours, std::u16string& minutes) const {
  const std::uint64_t expiry = getForgotTokenExpiry();
  const std::uint64_t now = Platform::clock().nowFileTime();
  if (expiry <= now) {
    hours = minutes = u"00";
    return false;
  }
  const std::uint64_t left = expiry - now;
  const std::uint64_t wholeHours = left / kFileTimeHour;
  hours = twoDigitsAtLeast(wholeHours);
  minutes = twoDigitsAtLeast(left / kFileTimeMinute - 60 * wholeHours);
  return true;
}

std::uint32_t ForgotTokenAuthenticationLogic::nextRefreshMs() const {
  const std::uint64_t expiry = getForgotTokenExpiry();
  const std::uint64_t now = Platform::clock().nowFileTime();
  if (expiry <= now || expiry - now >= kCountdownPeriodMs * kFileTimeMillisecond) return kCountdownPeriodMs;
  // Rounded up: a timer that fires before the end would find the period still running.
  return static_cast<std::uint32_t>((expiry - now + kFileTimeMillisecond - 1) / kFileTimeMillisecond);
}

PanelOutcome ForgotTokenAuthenticationLogic::buttonEnterOnClick() {
  KV_LOG_DEBUG("%s::buttonEnterOnClick - Authenticated with Forgot Token!", kAuthentication);
  const std::uint64_t expiry = getForgotTokenExpiry();
  if (expiry == 0 || expiry <= Platform::clock().nowFileTime()) {
    KV_LOG_DEBUG("%s::buttonEnterOnClick - The forgot token period is over.", kAuthentication);
    PanelOutcome outcome;
    outcome.error = expiredError();
    return outcome;
  }
  return signInOutcome(ErrorKind::ForgotTokenActivation);
}

ErrorText ForgotTokenAuthenticationLogic::expiredError() {
  // The error table knows one forgot-token panel; its sentence for 5111 fits both.
  return ErrorText::fromResult(ErrorKind::ForgotTokenActivation,
                               Model::KvResult(KV_ERROR_FORGOT_TOKEN_EXPIRATED, 0, std::string()));
}

}  // namespace View
}  // namespace Korvath
