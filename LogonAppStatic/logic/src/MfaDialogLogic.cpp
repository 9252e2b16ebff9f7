#include "Korvath/View/MfaDialogLogic.h"

#include <exception>
#include <map>

#include "Korvath/Business/KvBusiness.h"
#include "Korvath/ConnectionUtils.h"
#include "Korvath/Logger.h"
#include "Korvath/ResultCodes.h"

namespace Korvath {
namespace View {

namespace {

const char* const kConstructor = "Korvath::View::MfaDialog::MfaDialog";
const char* const kWhitelist = "Korvath::View::MfaDialog::checkIfUserIsInTheWhitelist";
const char* const kBypass = "Korvath::View::MfaDialog::isBypassingMfaWithoutErrorMsg";
const char* const kErrorPanel = "Korvath::View::MfaDialog::shouldShowMfaErrorPanel";
const char* const kCredentials = "Korvath::View::MfaDialog::checkUserCredentials";
const char* const kCreate = "Korvath::View::MfaDialog::createMfaDialog";

bool factorOn(const Model::AuthFactorMap& factors, const char* name) {
  const auto it = factors.find(name);
  return it != factors.end() && it->second;
}

bool userHasAnyAuthFactor(const Service::ServiceResponseBase& response) {
  for (const auto& factor : response.getAuthTypes()) {
    if (factor.second) return true;
  }
  return false;
}

// The unknown-user rule's answers: the name is neither stored nor known to the service.
bool isUnknownUserAnswer(std::uint16_t code) {
  return code == KV_ERROR_BYPASS_UNKNOWN_USER || code == KV_ERROR_FIRST_LOGIN_OFFLINE;
}

// The policy refresh of the first name the service (or, offline, the configuration) knows; the
// names as the service knows them. All names are the same account: one that the unknown-user
// rule answers stands only when no later name is known, so the rule never passes a user whom
// the service knows under another of the names.
void refreshPolicies(DialogState& state, const std::vector<std::string>& userNames, bool isRdpSession) {
  KV_LOG_TRACE("%s - Updating user policies!", kConstructor);
  state.result = Model::KvResult(KV_ERROR_USER_NOT_FOUND);
  bool unknownAnswered = false;
  Model::KvResult unknownResult;
  std::string unknownName;
  for (const std::string& name : userNames) {
    std::string candidate = name;
    const Model::KvResult result = state.service->updateUserPolicies(candidate, isRdpSession);
    const std::uint16_t code = result.getResultCode();
    if (code == KV_ERROR_USER_NOT_FOUND) continue;
    if (isUnknownUserAnswer(code)) {
      if (!unknownAnswered) {
        unknownAnswered = true;
        unknownResult = result;
        unknownName = candidate;
      }
      continue;
    }
    state.result = result;
    state.currentUserName = candidate;
    return;
  }
  if (unknownAnswered) {
    state.result = unknownResult;
    state.currentUserName = unknownName;
  } else if (!userNames.empty()) {
    state.currentUserName = userNames.front();
  }
}

// Offline: the stored status of the first name the configuration holds. When it holds none,
// the first name gets the answer the policy refresh gives an unknown user without the service
// (a disabled agent's code, else the unknown-user rule: 7000 or 5134), so the answer does not
// depend on whether start-up had a synchronization to make.
void storedStatus(DialogState& state, const std::vector<std::string>& userNames) {
  state.result = Model::KvResult(KV_ERROR_USER_NOT_FOUND);
  for (const std::string& name : userNames) {
    std::string candidate = name;
    state.result = state.service->getUserStatus(candidate);
    if (state.result.getResultCode() != KV_ERROR_USER_NOT_FOUND) {
      state.currentUserName = candidate;
      return;
    }
  }
  if (userNames.empty()) return;
  state.currentUserName = userNames.front();
  state.service->validateBypassWithNoInternet(false, state.currentUserName, state.result);
}

void startUp(DialogState& state, bool isRdpSession, const std::vector<std::string>& userNames,
             const std::string& clientIp) {
  state.service.reset(new Service::KvService());
  state.service->setClientIpAddress(clientIp);
  std::uint16_t responseType = 0;
  std::string response;
  state.result = state.service->initialize(responseType, response);

  for (const std::string& name : userNames) {
    std::string stored = name;
    if (state.service->getPelloraUsernameFromConfigFile(stored) == 1) {
      KV_LOG_DEBUG("%s - Username %s is stored as %s", kConstructor, name.c_str(), stored.c_str());
    }
  }
  if (userNames.empty()) KV_LOG_INFO("%s - Username list is empty", kConstructor);

  const std::uint16_t code = state.result.getResultCode();
  if (code != KV_SUCCESS && isServerReachable(code)) {
    if (!userNames.empty()) state.currentUserName = userNames.front();
    state.validated = false;
    KV_LOG_ERROR("%s - Error on load config file: %d", kConstructor, code);
    return;
  }
  if (code != KV_SUCCESS) {
    state.internetStatus = false;
    storedStatus(state, userNames);
    return;
  }

  refreshPolicies(state, userNames, isRdpSession);
  const bool reachable = isServerReachable(state.result.getResultCode());
  state.internetStatus = reachable;
  KV_LOG_DEBUG("%s - Internet status: %d", kConstructor, reachable ? 1 : 0);
  if (!reachable) {
    std::string name = state.currentUserName;
    state.result = state.service->getUserStatus(name);
    checkIfUserIsInTheWhitelist(state.result.getResultCode(), false);
  }
}

}  // namespace

void startAttempt(bool isRdpSession, const std::vector<std::string>& userNames, const std::string& clientIp) {
  DialogState& state = dialogState();
  state.result = Model::KvResult();
  state.currentMethod = kMethodNone;
  state.currentUserName.clear();
  state.pushEnabled = state.qrCodeEnabled = state.otpEnabled = state.forgotTokenEnabled = false;
  state.autoSendPush = false;

  Utils::setRemoteLogonFlag(isRdpSession ? 1u : 0u);
  KV_LOG_TRACE("%s - isRdpSession: %d, client IP: %s, user names: %u", kConstructor, isRdpSession ? 1 : 0,
               clientIp.c_str(), static_cast<unsigned>(userNames.size()));
  state.internetStatus = false;
  state.clickTimer.reset(new Utils::Timer());
  try {
    startUp(state, isRdpSession, userNames, clientIp);
  } catch (const std::exception& e) {
    // A service that cannot even be built: the error panel refuses the sign-in.
    KV_LOG_ERROR("%s - exception - e.what(): %s", kConstructor, e.what());
    state.result = Model::KvResult(KV_ERROR_FAIL_SERVICE_INITIAL_KORVATH);
    state.internetStatus = false;
    if (!userNames.empty()) state.currentUserName = userNames.front();
  }
}

void checkIfUserIsInTheWhitelist(std::uint16_t code, bool internetStatus) {
  if (code != KV_ERROR_USER_NOT_FOUND) return;
  DialogState& state = dialogState();
  bool allowed = false;
  if (state.service) {
    auto lock = state.service->lockState();
    allowed = state.service->getConfig().shouldBypassMfaForNonPelloraUser(state.currentUserName, internetStatus);
  }
  if (allowed) {
    state.result.setResultCode(KV_ERROR_BYPASS_UNKNOWN_USER);
    KV_LOG_TRACE("%s - User not found at Pellora but config set to authenticate unknown users: %d", kWhitelist,
                 KV_ERROR_BYPASS_UNKNOWN_USER);
  } else {
    state.result.setResultCode(KV_ERROR_FIRST_LOGIN_OFFLINE);
    KV_LOG_TRACE("%s - User is not in the whitelist and is trying the first logon offline", kWhitelist);
  }
}

bool isBypassingMfaWithoutErrorMsg() {
  DialogState& state = dialogState();
  if (!state.service) return false;
  try {
    const std::uint16_t disabled = state.service->checkLogonAppDisabled().getResultCode();
    KV_LOG_DEBUG("%s - Logon app disabled = %d", kBypass, disabled);
    if (disabled != 0) return false;

    bool bypass = false;
    const std::uint16_t code = state.result.getResultCode();
    if (code != KV_SUCCESS && isServerReachable(code)) {
      if (code == KV_ERROR_BYPASS_UNKNOWN_USER) {
        KV_LOG_TRACE("%s - User not register on Pellora but able to authenticate without MFA, bypassing MFA", kBypass);
        bypass = true;
      } else if (code == KV_ERROR_USER_IS_IN_SAFE_NETWORK) {
        KV_LOG_TRACE("%s - By passing the MFA authentication - User is in a safe network", kBypass);
        bypass = true;
      }
    } else {
      Service::ServiceResponseBase response;
      const std::uint16_t loaded = state.service->loadUserConfig(state.currentUserName, response);
      if (loaded == KV_ERROR_USER_HAS_NO_POLICY) {
        state.result.setResultCode(KV_ERROR_USER_HAS_NO_POLICY);
      } else if (loaded == KV_ERROR_USER_NOT_FOUND && code != KV_SUCCESS) {
        state.result.setResultCode(KV_ERROR_FIRST_LOGIN_OFFLINE);
      } else if (!userHasAnyAuthFactor(response)) {
        KV_LOG_TRACE("%s - User has no 2nd factor (AKA policy = Password Only), bypassing MFA.", kBypass);
        bypass = true;
      } else if (loaded != KV_SUCCESS) {
        KV_LOG_TRACE("%s - Config couldn't be loaded, bypassing MFA", kBypass);
        bypass = true;
      }
    }
    KV_LOG_DEBUG("%s - result = %d", kBypass, bypass ? 1 : 0);
    return bypass;
  } catch (const std::exception& e) {
    KV_LOG_ERROR("%s - exception - e.what(): %s", kBypass, e.what());
  }
  return false;
}

bool shouldShowMfaErrorPanel() {
  DialogState& state = dialogState();
  KV_LOG_DEBUG("%s - Checking MFA bypass", kErrorPanel);
  const std::uint16_t code = state.result.getResultCode();
  if (code == KV_SUCCESS || !isServerReachable(code)) return false;
  switch (code) {
    case KV_ERROR_KV_RESOURCE_NOT_FOUND:
      KV_LOG_TRACE("%s - Resource not found for this Pellora Agent for Windows!", kErrorPanel);
      state.validated = true;
      break;
    case KV_ERROR_DECRYPT_CONFIG_FILE:
      KV_LOG_TRACE("%s - Error on decrypt install config!", kErrorPanel);
      state.validated = true;
      break;
    case KV_ERROR_INSTALL_CONFIG_FILE_NOT_FOUND:
      KV_LOG_TRACE("%s - Installation file not found!", kErrorPanel);
      state.validated = true;
      break;
    default:
      break;
  }
  return true;
}

void checkUserCredentials(const Service::ServiceResponseBase& response) {
  DialogState& state = dialogState();
  KV_LOG_DEBUG("%s - Checking user credentials", kCredentials);
  Model::AuthFactorMap factors = response.getAuthTypes();
  if (state.internetStatus && state.service) factors = state.service->getAuthFactors();
  state.pushEnabled = factorOn(factors, Business::AUTH_FACTOR_PUSH);
  state.qrCodeEnabled = factorOn(factors, Business::AUTH_FACTOR_QRCODE);
  state.otpEnabled = factorOn(factors, Business::AUTH_FACTOR_OTP);
  KV_LOG_DEBUG("%s - %s = %d", kCredentials, Business::AUTH_FACTOR_PUSH, state.pushEnabled ? 1 : 0);
  KV_LOG_DEBUG("%s - %s = %d", kCredentials, Business::AUTH_FACTOR_QRCODE, state.qrCodeEnabled ? 1 : 0);
  KV_LOG_DEBUG("%s - %s = %d", kCredentials, Business::AUTH_FACTOR_OTP, state.otpEnabled ? 1 : 0);
  state.forgotTokenEnabled = response.getEnableForgotAuthenticator();
  state.autoSendPush = response.getAutoSendPush();
}

std::uint32_t getDefaultMethod(const Service::ServiceResponseBase& response) {
  DialogState& state = dialogState();
  if (!state.service) return kMethodNone;
  Model::AuthFactorMap factors = response.getAuthTypes();
  std::string lastAuthType;
  state.service->getUserAuthFactors(state.currentUserName, factors, lastAuthType, state.internetStatus);
  static const std::map<std::string, std::uint32_t> kMethods = {{"push", kMethodPush},
                                                                {"qrcode", kMethodQrCode},
                                                                {"otp", kMethodOtp},
                                                                {"forgot_authenticator", kMethodForgotToken}};
  const auto it = kMethods.find(lastAuthType);
  return it == kMethods.end() ? kMethodNone : it->second;
}

DialogContent prepareDialog() {
  DialogState& state = dialogState();
  KV_LOG_DEBUG("%s - Creating MFA dialog.", kCreate);
  state.currentMethod = kMethodNone;
  if (isBypassingMfaWithoutErrorMsg()) {
    KV_LOG_DEBUG("%s Bypassing MFA", kCreate);
    state.validated = true;
    return DialogContent::Bypass;
  }
  if (shouldShowMfaErrorPanel()) return DialogContent::ErrorPanelOnly;
  KV_LOG_DEBUG("%s Shouldn't show the MFA error panel", kCreate);
  Service::ServiceResponseBase response;
  if (state.service) state.service->loadUserConfig(state.currentUserName, response);
  checkUserCredentials(response);
  state.currentMethod = getDefaultMethod(response);
  return DialogContent::SignInOptions;
}

InitialPanel chooseInitialPanel() {
  DialogState& state = dialogState();
  if (shouldShowMfaErrorPanel()) return InitialPanel::ErrorPanel;
  const std::uint32_t method = isInForgotTokenMode() ? kMethodForgotToken : state.currentMethod;
  state.currentMethod = method;
  switch (method) {
    case kMethodPush:
      return InitialPanel::Push;
    case kMethodQrCode:
      return InitialPanel::QrCode;
    case kMethodOtp:
      return InitialPanel::Otp;
    case kMethodForgotToken:
      return InitialPanel::ForgotToken;
    default:
      return InitialPanel::ErrorPanel;
  }
}

std::uint32_t optionForCommand(std::uint32_t commandId) {
  const DialogState& state = dialogState();
  switch (commandId) {
    case 210:
      return state.pushEnabled ? kMethodPush : kMethodNone;
    case 211:
      return state.qrCodeEnabled ? kMethodQrCode : kMethodNone;
    case 212:
      return state.otpEnabled ? kMethodOtp : kMethodNone;
    case 213:
      return state.forgotTokenEnabled ? kMethodForgotToken : kMethodNone;
    default:
      return kMethodNone;
  }
}

KeyShortcut shortcutForKey(std::uint32_t virtualKey) {
  switch (virtualKey) {
    case 'P':
      return {210, 0};
    case 'Q':
      return {211, 0};
    case 'O':
      return {212, 0};
    case 'F':
      return {213, 0};
    default:
      break;
  }
  if (virtualKey >= '0' && virtualKey <= '9') return {202, virtualKey - '0'};
  constexpr std::uint32_t kNumpad0 = 0x60;
  if (virtualKey >= kNumpad0 && virtualKey <= kNumpad0 + 9) return {202, virtualKey - kNumpad0};
  return {};
}

}  // namespace View
}  // namespace Korvath
