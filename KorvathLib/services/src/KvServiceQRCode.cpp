// QR-code factor at the service level: which way a command or a check goes, the fall-back of
// command generation, what is saved afterwards and what the dialog gets back.

#include "Korvath/Service/KvServiceQRCode.h"

#include <exception>
#include <stdexcept>
#include <vector>

#include "Korvath/Business/OfflineAttempt.h"
#include "Korvath/Logger.h"
#include "Korvath/ResultCodes.h"
#include "ServiceLog.h"

namespace Korvath {
namespace Service {

namespace {

const char* const kClass = "Korvath::Service::KvServiceQRCode";
// Keeps the configuration's own autoSendPush when a user record is updated.
constexpr std::int32_t kKeepAutoSendPush = -1;

Model::KvResult preset(std::uint16_t code) { return Model::KvResult(code, 0, std::string()); }

void logException(const char* function, const std::exception* e) { logServiceException(kClass, function, e); }

void logOutcome(const char* function, std::uint16_t responseType, const std::string& response,
                const Model::KvResult& result) {
  // The logger masks the password and code members of the response text.
  KV_LOG_DEBUG("%s::%s - responseType: %d, response: %s", kClass, function, static_cast<int>(responseType),
               response.c_str());
  KV_LOG_INFO("%s::%s - result: %d - %s", kClass, function, static_cast<int>(result.getResultCode()),
              getResultText(result.getResultCode()).c_str());
}

void logRequest(const char* function, const ServiceRequestBase& request) {
  KV_LOG_DEBUG("%s::%s - userLogin: %s, checkRememberPassword: %d", kClass, function, request.getUserLogin().c_str(),
               request.getCheckRememberPassword() ? 1 : 0);
}

void logRequest(const char* function, const ServiceRequestAuthQRCode& request) {
  logRequest(function, static_cast<const ServiceRequestBase&>(request));
  // The verification code itself is a secret: only its length is logged.
  KV_LOG_DEBUG("%s::%s - authData length: %u, command: %s, transactionData: %s, transactionId: %s", kClass, function,
               static_cast<unsigned>(request.getAuthData().size()), request.getCommand().c_str(),
               request.getTransactionData().toJson().c_str(), request.getTransactionId().c_str());
}

std::uint8_t flag(bool value) { return value ? 1 : 0; }

// Online failures after which an offline command would not help the user either.
bool stopsFallbackToOffline(std::uint16_t code) {
  return code == KV_SUCCESS || code == KV_ERROR_USER_LOCKED || code == KV_ERROR_USER_IS_OVER_ALLOCATED ||
         code == KV_ERROR_AUTHENTICATOR_NOT_FOUND;
}

// The stored record of a login, copied under the state mutex: index -1 when not stored.
struct StoredUser {
  int index = -1;
  Model::UserConfig user;
  const Model::UserConfig& record() const { return user; }
  Model::UserConfig& record() { return user; }
};

StoredUser lookUp(KvService& service, const std::string& login) {
  auto lock = service.lockState();
  StoredUser stored;
  stored.index = service.getConfig().getUserIndex(login);
  if (stored.index >= 0) stored.user = service.getConfig().getUserConfig(static_cast<std::size_t>(stored.index));
  return stored;
}

// What a command request carries into its reply, and the command once made.
struct CommandReply {
  std::string login;
  std::string password;
  std::uint8_t remember = 0;
  Model::AuthFactorMap authFactors;
  std::string transactionId;
  std::string jsonTransactionData;
  std::string commandQRcode;
  std::uint8_t online = 0;
};

// The dialog's reply to a command request, built under the state mutex: the QR-code screen
// when a command was made, else the screen without one.
void buildCommandResponse(KvService& service, Business::KvBusinessQRCode& business, const CommandReply& reply,
                          bool withCommand, const char* function, std::uint16_t& responseType,
                          std::string& response) {
  auto lock = service.lockState();
  std::uint16_t code;
  if (withCommand) {
    code = business.genResponseAuthQRCode(reply.login, reply.password, reply.remember, reply.authFactors,
                                          reply.transactionId, reply.jsonTransactionData, reply.commandQRcode,
                                          reply.online, responseType, response);
  } else {
    code = business.genResponseGenCmdQRCode(reply.login, reply.password, reply.remember, reply.authFactors,
                                            responseType, response);
  }
  KV_LOG_DEBUG("%s::%s - response built: %d", kClass, function, static_cast<int>(code));
}

// An empty login gets the screen without a command and 5013.
void respondToEmptyLogin(KvService& service, Business::KvBusinessQRCode& business, const CommandReply& reply,
                         const char* function, std::uint16_t& responseType, std::string& response,
                         Model::KvResult& result) {
  KV_LOG_DEBUG("%s::%s getUserLogin().empty()", kClass, function);
  auto lock = service.lockState();
  const std::uint16_t code = business.genResponseGenCmdQRCode(reply.login, reply.password, reply.remember,
                                                              reply.authFactors, responseType, response);
  KV_LOG_DEBUG("%s::%s - genResponseGenCmdQRCode: %d", kClass, function, static_cast<int>(code));
  result.setResultCode(KV_ERROR_INVALID_USER_LOGIN_LENGTH);
}

}  // namespace

KvServiceQRCode::KvServiceQRCode(KvService* service, const std::atomic<bool>* internetStatus)
    : service_(service), internetStatus_(internetStatus) {
  KV_TRACE_SCOPE("Korvath::Service::KvServiceQRCode::KvServiceQRCode");
  logBuild(kClass);
  if (service_ != nullptr) {
    businessQRCode_.reset(
        new Business::KvBusinessQRCode(&service_->getConfig(), &service_->getKvCrypto(), &service_->getKvBusiness()));
  }
}

KvServiceQRCode::~KvServiceQRCode() = default;

bool KvServiceQRCode::readInternetStatus() const { return internetStatus_ != nullptr && internetStatus_->load(); }

// ---------------------------------------------------------------------------- commands

Model::KvResult KvServiceQRCode::genCmdQRCode(ServiceRequestBase request, std::uint16_t& responseType,
                                              std::string& response) {
  static const char* const kName = "Korvath::Service::KvServiceQRCode::genCmdQRCode";
  KV_TRACE_SCOPE(kName);
  KV_LOG_INFO("%s - Generating the QR code string.", kName);
  Model::KvResult result = preset(KV_ERROR_FAIL_GENERATE_COMMAND_QRCODE);
  try {
    const bool online = readInternetStatus();
    if (online) {
      KV_LOG_INFO("%s - Trying generate online QR code!", kName);
      result = genCmdQRCodeOnline(request, responseType, response);
    }
    // The flag is read again after a successful or decisive online attempt: a push result
    // that arrived meanwhile may have found the service gone.
    if (!online || !stopsFallbackToOffline(result.getResultCode()) || !readInternetStatus()) {
      KV_LOG_INFO("%s - Trying generate offline QR code!", kName);
      result = genCmdQRCodeOffline(request, responseType, response);
    }
  } catch (const std::exception& e) {
    logException(__func__, &e);
  } catch (...) {
    logException(__func__, nullptr);
  }
  return result;
}

Model::KvResult KvServiceQRCode::genCmdQRCodeOnline(ServiceRequestBase request, std::uint16_t& responseType,
                                                    std::string& response) {
  KV_TRACE_SCOPE("Korvath::Service::KvServiceQRCode::genCmdQRCodeOnline");
  logRequest(__func__, request);
  responseType = Business::RESPONSE_TYPE_QRCODE_COMMAND;
  Model::KvResult result = preset(KV_ERROR_FAIL_SERVICE_GEN_CMD_QRCODE_KORVATH);
  try {
    if (!businessQRCode_) throw std::logic_error("no service");
    Business::KvBusiness& business = service_->getKvBusiness();
    CommandReply reply;
    reply.authFactors = business.getDefaultAuthFactors();
    reply.online = 1;
    reply.login = request.getUserLogin();
    reply.password = request.getUserPassword();
    reply.remember = flag(request.getCheckRememberPassword());

    if (reply.login.empty()) {
      respondToEmptyLogin(*service_, *businessQRCode_, reply, __func__, responseType, response, result);
    } else {
      const StoredUser stored = lookUp(*service_, reply.login);
      // The command comes from the service: no lock while it is fetched.
      if (stored.index < 0) {
        result = businessQRCode_->generateCommandQRCodeOnline(reply.login, reply.transactionId,
                                                              reply.jsonTransactionData, reply.commandQRcode,
                                                              reply.online);
      } else {
        reply.authFactors = stored.record().getAuthTypes();
        result = businessQRCode_->generateCommandQRCodeOnline(stored.record(), reply.transactionId,
                                                              reply.jsonTransactionData, reply.commandQRcode,
                                                              reply.online);
      }
      buildCommandResponse(*service_, *businessQRCode_, reply,
                           result.getResultCode() == KV_SUCCESS && !reply.transactionId.empty(), __func__,
                           responseType, response);
    }
  } catch (const std::exception& e) {
    logException(__func__, &e);
    result = preset(KV_ERROR_FAIL_SERVICE_GEN_CMD_QRCODE_KORVATH);
  } catch (...) {
    logException(__func__, nullptr);
    result = preset(KV_ERROR_FAIL_SERVICE_GEN_CMD_QRCODE_KORVATH);
  }
  logOutcome(__func__, responseType, response, result);
  return result;
}

Model::KvResult KvServiceQRCode::genCmdQRCodeOffline(ServiceRequestBase request, std::uint16_t& responseType,
                                                     std::string& response) {
  KV_TRACE_SCOPE("Korvath::Service::KvServiceQRCode::genCmdQRCodeOffline");
  logRequest(__func__, request);
  responseType = Business::RESPONSE_TYPE_QRCODE_COMMAND;
  Model::KvResult result = preset(KV_ERROR_FAIL_SERVICE_GEN_CMD_QRCODE_KORVATH);
  try {
    if (!businessQRCode_) throw std::logic_error("no service");
    Business::KvBusiness& business = service_->getKvBusiness();
    CommandReply reply;
    reply.authFactors = business.getDefaultAuthFactors();
    reply.online = 0;
    reply.login = request.getUserLogin();
    reply.password = request.getUserPassword();
    reply.remember = flag(request.getCheckRememberPassword());

    if (reply.login.empty()) {
      respondToEmptyLogin(*service_, *businessQRCode_, reply, __func__, responseType, response, result);
    } else {
      const StoredUser stored = lookUp(*service_, reply.login);
      if (stored.index < 0) {
        // A login this machine holds no blobs for: the business object asks the service.
        result = businessQRCode_->generateCommandQRCode(reply.login, reply.transactionId, reply.jsonTransactionData,
                                                        reply.commandQRcode, reply.online);
        buildCommandResponse(*service_, *businessQRCode_, reply,
                             result.getResultCode() == KV_SUCCESS && !reply.transactionId.empty(), __func__,
                             responseType, response);
      } else if (!stored.record().isAuthTypeEnabled(Business::AUTH_FACTOR_QRCODE)) {
        const std::string factor = business.getPredominantAuthFactor(stored.record());
        responseType = business.genResponseType(factor);
        result.setResultCode(KV_ERROR_UNAUTHORIZED_AUTHENTICATION_TYPE);
      } else {
        reply.authFactors = stored.record().getAuthTypes();
        // Made here from the blobs unless every authenticator is blocked or offline use is
        // not allowed, in which case the business object asks the service: no lock then.
        result = businessQRCode_->generateCommandQRCode(stored.record(), reply.transactionId,
                                                        reply.jsonTransactionData, reply.commandQRcode, reply.online);
        buildCommandResponse(*service_, *businessQRCode_, reply, result.getResultCode() == KV_SUCCESS, __func__,
                             responseType, response);
      }
    }
  } catch (const std::exception& e) {
    logException(__func__, &e);
    result = preset(KV_ERROR_FAIL_SERVICE_GEN_CMD_QRCODE_KORVATH);
  } catch (...) {
    logException(__func__, nullptr);
    result = preset(KV_ERROR_FAIL_SERVICE_GEN_CMD_QRCODE_KORVATH);
  }
  logOutcome(__func__, responseType, response, result);
  return result;
}

// ---------------------------------------------------------------------------- checks

Model::KvResult KvServiceQRCode::checkQRCode(ServiceRequestAuthQRCode request, std::uint16_t& responseType,
                                             std::string& response) {
  KV_TRACE_SCOPE("Korvath::Service::KvServiceQRCode::checkQRCode");
  logRequest(__func__, request);
  responseType = Business::RESPONSE_TYPE_QRCODE;
  Model::KvResult result = preset(KV_ERROR_FAIL_SERVICE_AUTH_QRCODE_KORVATH);
  try {
    if (service_ == nullptr) throw std::logic_error("no service");
    const Model::KvResult gate = service_->checkLogonAppDisabled();
    if (gate.getResultCode() != KV_SUCCESS) {
      logOutcome(__func__, responseType, response, gate);
      return gate;
    }
    // The request says which way; a check never falls back to the other.
    if (!request.getOnLine()) {
      result = checkQRCodeOffline(request, responseType, response);
    } else {
      result = checkQRCodeOnline(request, responseType, response);
    }
  } catch (const std::exception& e) {
    logException(__func__, &e);
    result = preset(KV_ERROR_FAIL_SERVICE_AUTH_QRCODE_KORVATH);
  } catch (...) {
    logException(__func__, nullptr);
    result = preset(KV_ERROR_FAIL_SERVICE_AUTH_QRCODE_KORVATH);
  }
  logOutcome(__func__, responseType, response, result);
  return result;
}

Model::KvResult KvServiceQRCode::checkQRCodeOffline(ServiceRequestAuthQRCode request, std::uint16_t& responseType,
                                                    std::string& response) {
  KV_TRACE_SCOPE("Korvath::Service::KvServiceQRCode::checkQRCodeOffline");
  logRequest(__func__, request);
  responseType = Business::RESPONSE_TYPE_QRCODE;
  Model::KvResult result = preset(KV_ERROR_FAIL_SERVICE_AUTH_QRCODE_KORVATH);
  try {
    if (!businessQRCode_) throw std::logic_error("no service");
    Business::KvBusiness& business = service_->getKvBusiness();
    const Model::AuthFactorMap defaults = business.getDefaultAuthFactors();
    const std::string login = request.getUserLogin();
    const std::string password = request.getUserPassword();
    const std::uint8_t remember = flag(request.getCheckRememberPassword());

    StoredUser stored;
    if (!login.empty()) stored = lookUp(*service_, login);
    if (login.empty() || stored.index < 0) {
      // Without a stored record there are no blobs to check against.
      if (login.empty()) KV_LOG_DEBUG("%s::%s getUserLogin().empty()", kClass, __func__);
      auto lock = service_->lockState();
      const std::uint16_t code =
          businessQRCode_->genResponseGenCmdQRCode(login, password, remember, defaults, responseType, response);
      KV_LOG_DEBUG("%s::%s - genResponseGenCmdQRCode: %d", kClass, __func__, static_cast<int>(code));
      result.setResultCode(KV_ERROR_INVALID_USER_LOGIN_LENGTH);
    } else if (!stored.record().isAuthTypeEnabled(Business::AUTH_FACTOR_QRCODE)) {
      KV_LOG_INFO("%s::%s - unauthorized_authentication_type ", kClass, __func__);
      responseType = business.genResponseType(business.getPredominantAuthFactor(stored.record()));
      result.setResultCode(KV_ERROR_UNAUTHORIZED_AUTHENTICATION_TYPE);
    } else {
      Model::UserConfig& user = stored.record();
      const std::uint16_t userIndex = static_cast<std::uint16_t>(stored.index);
      const std::string transactionId = request.getTransactionId();
      const std::string jsonTransactionData = request.getTransactionData().toJson();
      const std::string& code = request.getAuthData();
      auto refusedReply = [&](const Model::UserConfig& record) {
        const std::uint16_t built = businessQRCode_->genResponseAuthQRCode(
            login, password, remember, record.getAuthTypes(), transactionId, jsonTransactionData, request.getCommand(),
            0, responseType, response);
        KV_LOG_DEBUG("%s::%s - genResponseAuthQRCode: %d", kClass, "checkQRCodeOffline", static_cast<int>(built));
      };
      if (business.areAllAuthenticatorsBlocked(user)) {
        // Every authenticator is blocked: the check goes to the service, with no lock across it.
        const std::uint16_t checked =
            businessQRCode_->offlineAuthenticateQRCode(user, transactionId, jsonTransactionData, code);
        KV_LOG_INFO("%s::%s - check: %d - %s", kClass, __func__, static_cast<int>(checked),
                    getResultText(checked).c_str());
        auto lock = service_->lockState();
        service_->syncLogonAppDisable();
        const std::uint16_t saved = business.saveConfigUserByUserConfig(user, userIndex, password, remember != 0,
                                                                        Business::AUTH_FACTOR_QRCODE, checked == 0);
        if (checked == KV_SUCCESS) {
          result = preset(saved);
          responseType = Business::RESPONSE_TYPE_STORED;
          response.clear();
        } else {
          KV_LOG_DEBUG("%s::%s - saveConfigUserByUserConfig: %d", kClass, __func__, static_cast<int>(saved));
          refusedReply(user);
        }
      } else {
        auto lock = service_->lockState();
        service_->syncLogonAppDisable();
        // The blobs change with a refusal too (attempts, block): the record is saved as the
        // refusal leaves it before the answer is checked, and again with the outcome. The
        // authenticator's new state must be kept, or the same answer could pass again.
        auto save = [&](bool accepted) {
          return [&, accepted](Model::UserConfig& record) {
            return business.saveConfigUserByUserConfig(record, userIndex, password, remember != 0,
                                                       Business::AUTH_FACTOR_QRCODE, accepted);
          };
        };
        std::vector<bool> counted;
        Business::OfflineAttempt attempt(service_->getConfig(), userIndex);
        const Business::OfflineAttempt::Outcome outcome = attempt.run(
            [&](Model::UserConfig& record) {
              return businessQRCode_->countOfflineQRCodeAttempt(record, transactionId, jsonTransactionData, code,
                                                                counted);
            },
            [&](Model::UserConfig& record) {
              return businessQRCode_->offlineAuthenticateQRCode(record, transactionId, jsonTransactionData, code,
                                                                counted);
            },
            save(false), save(true));
        KV_LOG_INFO("%s::%s - offline check: %d - %s, saved %d", kClass, __func__, static_cast<int>(outcome.checked),
                    getResultText(outcome.checked).c_str(), static_cast<int>(outcome.saved));
        if (outcome.accepted()) {
          result = preset(KV_SUCCESS);
          responseType = Business::RESPONSE_TYPE_STORED;
          response.clear();
        } else {
          // Without a save the answer does not depend on the code typed; a refusal keeps the
          // preset code.
          if (outcome.saved != KV_SUCCESS) result = preset(outcome.saved);
          refusedReply(attempt.record());
        }
      }
    }
  } catch (const std::exception& e) {
    logException(__func__, &e);
    result = preset(KV_ERROR_FAIL_SERVICE_AUTH_QRCODE_KORVATH);
  } catch (...) {
    logException(__func__, nullptr);
    result = preset(KV_ERROR_FAIL_SERVICE_AUTH_QRCODE_KORVATH);
  }
  logOutcome(__func__, responseType, response, result);
  return result;
}

Model::KvResult KvServiceQRCode::checkQRCodeOnline(ServiceRequestAuthQRCode request, std::uint16_t& responseType,
                                                   std::string& response) {
  KV_TRACE_SCOPE("Korvath::Service::KvServiceQRCode::checkQRCodeOnline");
  logRequest(__func__, request);
  responseType = Business::RESPONSE_TYPE_QRCODE;
  Model::KvResult result = preset(KV_ERROR_FAIL_SERVICE_AUTH_QRCODE_KORVATH);
  try {
    if (!businessQRCode_) throw std::logic_error("no service");
    Business::KvBusiness& business = service_->getKvBusiness();
    const Model::AuthFactorMap defaults = business.getDefaultAuthFactors();
    const std::string login = request.getUserLogin();
    const std::string password = request.getUserPassword();
    const bool remember = request.getCheckRememberPassword();
    const std::string transactionId = request.getTransactionId();
    const std::string jsonTransactionData = request.getTransactionData().toJson();
    const std::string& authData = request.getAuthData();

    // The command again, for a new attempt after a refusal.
    auto answerAgain = [&](const Model::AuthFactorMap& factors) {
      auto lock = service_->lockState();
      const std::uint16_t code =
          businessQRCode_->genResponseAuthQRCode(login, password, flag(remember), factors, transactionId,
                                                 jsonTransactionData, request.getCommand(), 1, responseType, response);
      KV_LOG_DEBUG("%s::checkQRCodeOnline - genResponseAuthQRCode: %d", kClass, static_cast<int>(code));
    };
    auto passed = [&]() {
      responseType = Business::RESPONSE_TYPE_STORED;
      response.clear();
    };
    // The configuration updates talk to the service and save; their outcome is only logged.
    auto updateUser = [&](bool resetForgotTokenExpiration) {
      const Model::KvResult updated = business.updateConfigUser(login, password, remember, Business::AUTH_FACTOR_QRCODE,
                                                                resetForgotTokenExpiration, kKeepAutoSendPush);
      KV_LOG_DEBUG("%s::checkQRCodeOnline - updateConfigUser: %d", kClass, static_cast<int>(updated.getResultCode()));
    };

    StoredUser stored;
    if (!login.empty()) stored = lookUp(*service_, login);
    if (login.empty()) {
      KV_LOG_DEBUG("%s::%s getUserLogin().empty()", kClass, __func__);
      auto lock = service_->lockState();
      const std::uint16_t code =
          businessQRCode_->genResponseGenCmdQRCode(login, password, flag(remember), defaults, responseType, response);
      KV_LOG_DEBUG("%s::%s - genResponseGenCmdQRCode: %d", kClass, __func__, static_cast<int>(code));
      result.setResultCode(KV_ERROR_INVALID_USER_LOGIN_LENGTH);
    } else if (stored.index < 0) {
      result = businessQRCode_->onlineAuthenticateQRCode(login, transactionId, authData);
      if (result.getResultCode() == KV_SUCCESS) {
        const Model::KvResult added =
            business.updateConfigAddUser(login, password, remember, Business::AUTH_FACTOR_QRCODE, kKeepAutoSendPush);
        KV_LOG_DEBUG("%s::%s - updateConfigAddUser: %d", kClass, __func__, static_cast<int>(added.getResultCode()));
        passed();
      } else {
        answerAgain(defaults);
      }
    } else {
      const Model::UserConfig& user = stored.record();
      if (!business.areAllAuthenticatorsBlocked(user)) {
        // The service knows the user by the stored login, whatever form was typed.
        result = businessQRCode_->onlineAuthenticateQRCode(user.getUserLogin(), transactionId, authData);
        if (result.getResultCode() == KV_SUCCESS) {
          updateUser(true);
          passed();
        } else if (result.getResultCode() == KV_ERROR_SERVER_IS_UNREACHABLE) {
          answerAgain(user.getAuthTypes());
        } else {
          updateUser(false);
          answerAgain(user.getAuthTypes());
        }
      } else {
        result = businessQRCode_->onlineAuthenticateQRCode(login, transactionId, authData);
        if (result.getResultCode() == KV_SUCCESS) {
          updateUser(true);
          passed();
        } else {
          answerAgain(user.getAuthTypes());
        }
      }
    }
  } catch (const std::exception& e) {
    logException(__func__, &e);
    result = preset(KV_ERROR_FAIL_SERVICE_AUTH_QRCODE_KORVATH);
  } catch (...) {
    logException(__func__, nullptr);
    result = preset(KV_ERROR_FAIL_SERVICE_AUTH_QRCODE_KORVATH);
  }
  logOutcome(__func__, responseType, response, result);
  return result;
}

}  // namespace Service
}  // namespace Korvath
