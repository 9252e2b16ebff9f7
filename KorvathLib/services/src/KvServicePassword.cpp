// A password-only sign-in: allowed for a stored user who has no second factor enabled.

#include "Korvath/Service/KvServicePassword.h"

#include <exception>

#include "Korvath/Logger.h"
#include "Korvath/ResultCodes.h"
#include "ServiceLog.h"

namespace Korvath {
namespace Service {

namespace {

const char* const kClass = "Korvath::Service::KvServicePassword";

bool anyFactorOn(const Model::AuthFactorMap& factors) {
  for (const char* factor : {Business::AUTH_FACTOR_OTP, Business::AUTH_FACTOR_QRCODE, Business::AUTH_FACTOR_PUSH}) {
    auto it = factors.find(factor);
    if (it != factors.end() && it->second) return true;
  }
  return false;
}

}  // namespace

KvServicePassword::KvServicePassword(KvService* service) : service_(service) {
  KV_TRACE_SCOPE("Korvath::Service::KvServicePassword::KvServicePassword");
  logBuild(kClass);
}

std::uint16_t KvServicePassword::checkPassword(ServiceRequestBase request) {
  KV_TRACE_SCOPE("Korvath::Service::KvServicePassword::checkPassword");
  const std::string& login = request.getUserLogin();
  KV_LOG_DEBUG("%s::checkPassword - userLogin %s, checkRememberPassword %d", kClass, login.c_str(),
               request.getCheckRememberPassword() ? 1 : 0);
  std::uint16_t code = KV_ERROR_FAIL_SERVICE_AUTH_PASSWORD_KORVATH;
  try {
    const Model::KvResult gate = service_->checkLogonAppDisabled();
    if (gate.getResultCode() != KV_SUCCESS) return gate.getResultCode();
    if (login.empty()) {
      KV_LOG_ERROR("%s::checkPassword - getUserLogin().empty()", kClass);
      return KV_ERROR_INVALID_USER_LOGIN_LENGTH;
    }

    auto lock = service_->lockState();
    service_->syncLogonAppDisable();
    Config& config = service_->getConfig();
    const int index = config.getUserIndex(login);
    KV_LOG_DEBUG("%s::checkPassword - userIndex %i", kClass, index);
    if (index < 0) {
      code = KV_ERROR_USER_NOT_FOUND_IN_CONFIG_FILE;
    } else {
      Model::UserConfig record = config.getUserConfig(static_cast<std::size_t>(index));
      if (anyFactorOn(record.getAuthTypes())) {
        KV_LOG_ERROR("%s::checkPassword - unauthorized_authentication_type ", kClass);
        code = KV_ERROR_UNAUTHORIZED_AUTHENTICATION_TYPE;
      } else {
        const std::uint16_t saved = service_->getKvBusiness().saveConfigUserByUserConfig(
            record, static_cast<std::uint16_t>(index), std::string(), false, Business::AUTH_FACTOR_PASSWORD, true);
        KV_LOG_DEBUG("%s::checkPassword - saveConfigUserByUserConfig - result %d", kClass, saved);
        code = KV_SUCCESS;
      }
    }
  } catch (const std::exception& e) {
    logServiceException(kClass, "checkPassword", &e);
    code = KV_ERROR_FAIL_SERVICE_AUTH_PASSWORD_KORVATH;
  } catch (...) {
    logServiceException(kClass, "checkPassword", nullptr);
    code = KV_ERROR_FAIL_SERVICE_AUTH_PASSWORD_KORVATH;
  }
  KV_LOG_INFO("%s::checkPassword - result %d - %s", kClass, code, getResultName(code).c_str());
  return code;
}

}  // namespace Service
}  // namespace Korvath
