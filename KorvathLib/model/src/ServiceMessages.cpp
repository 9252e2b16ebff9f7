#include "Korvath/Service/ServiceMessages.h"

#include "Korvath/ResultCodes.h"

namespace Korvath {
namespace Service {

namespace J = Model::Json;

namespace {
bool isValidTransactionId(const std::string& id) { return id.empty() || id.size() == 36; }

// Reads a nested TransactionData; 0, the key's code or the record's own code.
std::uint16_t readTransactionData(const rapidjson::Value& obj, std::uint16_t keyCode, Model::TransactionData& out) {
  const rapidjson::Value* v = J::member(obj, "transactionData");
  if (v == nullptr || !v->IsObject()) return keyCode;
  // Reading does not apply the send rules (type 3, a timestamp): the fill itself is
  // atomic, so the record is read in place rather than through the validated assignment.
  return out.fillFromValue(*v);
}

template <typename Msg>
std::uint16_t fillMessage(Msg& self, const std::string& json, std::uint16_t docCode) {
  rapidjson::Document doc;
  if (!J::parseObject(json, doc)) return docCode;
  return self.fillFromValue(doc);
}
}  // namespace

// ---------------------------------------------------------------- requests

std::uint16_t ServiceRequestBase::setUserLogin(const std::string& login) {
  if (login.size() > kLoginMaxLength) return KV_ERROR_INVALID_USER_LOGIN_LENGTH;
  userLogin_ = login;
  return KV_SUCCESS;
}

std::uint16_t ServiceRequestBase::setUserPassword(const std::string& password) {
  if (password.size() > kPasswordMaxLength) return KV_ERROR_INVALID_USER_PASSWORD_LENGTH;
  userPassword_ = password;
  return KV_SUCCESS;
}

std::string ServiceRequestBase::toJson() const {
  J::Writer w;
  w.startObject();
  writeFields(w);
  w.endObject();
  return w.str();
}

void ServiceRequestBase::writeFields(J::Writer& w) const {
  w.field("userLogin", userLogin_).field("userPassword", userPassword_).field("checkRememberPassword", checkRememberPassword_);
}

std::uint16_t ServiceRequestBase::documentCode() const { return KV_ERROR_FILL_SERVICE_REQUEST_BASE_FROM_JSON; }

std::uint16_t ServiceRequestBase::fillFromJson(const std::string& json) { return fillMessage(*this, json, documentCode()); }

std::uint16_t ServiceRequestBase::readBase(const rapidjson::Value& obj) {
  std::string text;
  if (!J::getString(obj, "userLogin", text) || setUserLogin(text) != 0) return KV_ERROR_FILL_SERVICE_REQUEST_BASE_USER_LOGIN_FROM_JSON;
  if (!J::getString(obj, "userPassword", text) || setUserPassword(text) != 0)
    return KV_ERROR_FILL_SERVICE_REQUEST_BASE_USER_PASSWORD_FROM_JSON;
  if (!J::getBool(obj, "checkRememberPassword", checkRememberPassword_))
    return KV_ERROR_FILL_SERVICE_REQUEST_BASE_CHECK_REMEMBER_PASSWORD_FROM_JSON;
  return KV_SUCCESS;
}

std::uint16_t ServiceRequestBase::fillFromValue(const rapidjson::Value& obj) {
  if (!obj.IsObject()) return documentCode();
  ServiceRequestBase t;
  t.autoSendPush_ = autoSendPush_;
  std::uint16_t code = t.readBase(obj);
  if (code != 0) return code;
  *this = t;
  return KV_SUCCESS;
}

void ServiceRequestAuthOTP::writeFields(J::Writer& w) const {
  ServiceRequestBase::writeFields(w);
  w.field("authData", authData_);
}

std::uint16_t ServiceRequestAuthOTP::documentCode() const { return KV_ERROR_FILL_SERVICE_REQUEST_AUTH_OTP_FROM_JSON; }

std::uint16_t ServiceRequestAuthOTP::fillFromValue(const rapidjson::Value& obj) {
  if (!obj.IsObject()) return documentCode();
  ServiceRequestAuthOTP t(*this);
  std::uint16_t code = t.readBase(obj);
  if (code != 0) return code;
  if (!J::getString(obj, "authData", t.authData_)) return KV_ERROR_FILL_SERVICE_REQUEST_AUTH_OTP_AUTH_DATA_FROM_JSON;
  *this = t;
  return KV_SUCCESS;
}

std::uint16_t ServiceRequestAuthQRCode::setTransactionId(const std::string& id) {
  if (!isValidTransactionId(id)) return KV_ERROR_INVALID_TRANSACTION_ID_LENGTH;
  transactionId_ = id;
  return KV_SUCCESS;
}

std::uint16_t ServiceRequestAuthQRCode::setTransactionData(const Model::TransactionData& data) {
  std::uint16_t code = data.validate();
  if (code != 0) return code;
  transactionData_ = data;
  return KV_SUCCESS;
}

ServiceRequestAuthQRCode& ServiceRequestAuthQRCode::operator=(const ServiceRequestAuthQRCode& other) {
  if (this == &other) return *this;
  ServiceRequestBase::operator=(other);
  authData_ = other.authData_;
  command_ = other.command_;
  transactionId_ = other.transactionId_;
  onLine_ = other.onLine_;
  transactionData_ = Model::TransactionData(other.transactionData_);
  return *this;
}

void ServiceRequestAuthQRCode::writeFields(J::Writer& w) const {
  ServiceRequestBase::writeFields(w);
  w.field("authData", authData_).field("command", command_).field("transactionId", transactionId_).field("onLine", onLine_);
  w.key("transactionData").raw(transactionData_.toJson());
}

std::uint16_t ServiceRequestAuthQRCode::documentCode() const { return KV_ERROR_FILL_SERVICE_REQUEST_AUTH_QRCODE_FROM_JSON; }

std::uint16_t ServiceRequestAuthQRCode::fillFromValue(const rapidjson::Value& obj) {
  if (!obj.IsObject()) return documentCode();
  ServiceRequestAuthQRCode t(*this);
  std::uint16_t code = t.readBase(obj);
  if (code != 0) return code;
  if (!J::getString(obj, "authData", t.authData_)) return KV_ERROR_FILL_SERVICE_REQUEST_AUTH_QRCODE_AUTH_DATA_FROM_JSON;
  if (!J::getString(obj, "command", t.command_)) return KV_ERROR_FILL_SERVICE_REQUEST_AUTH_QRCODE_COMMAND_FROM_JSON;
  std::string id;
  if (!J::getString(obj, "transactionId", id) || t.setTransactionId(id) != 0)
    return KV_ERROR_FILL_SERVICE_REQUEST_AUTH_QRCODE_TRANSACTION_ID_FROM_JSON;
  if (!J::getBool(obj, "onLine", t.onLine_)) return KV_ERROR_FILL_SERVICE_REQUEST_AUTH_QRCODE_ON_LINE_FROM_JSON;
  code = readTransactionData(obj, KV_ERROR_FILL_SERVICE_REQUEST_AUTH_QRCODE_TRANSACTION_DATA_FROM_JSON, t.transactionData_);
  if (code != 0) return code;
  *this = t;
  return KV_SUCCESS;
}

void ServiceRequestActiveForgotAuthenticator::writeFields(J::Writer& w) const {
  ServiceRequestBase::writeFields(w);
  w.field("time", time_).field("challenge", challenge_).field("authData", authData_);
}

std::uint16_t ServiceRequestActiveForgotAuthenticator::documentCode() const {
  return KV_ERROR_FILL_SERVICE_REQUEST_ACTIVE_FORGOT_AUTHENTICATOR_FROM_JSON;
}

std::uint16_t ServiceRequestActiveForgotAuthenticator::fillFromValue(const rapidjson::Value& obj) {
  if (!obj.IsObject()) return documentCode();
  ServiceRequestActiveForgotAuthenticator t(*this);
  std::uint16_t code = t.readBase(obj);
  if (code != 0) return code;
  if (!J::getUint32(obj, "time", t.time_)) return KV_ERROR_FILL_SERVICE_REQUEST_ACTIVE_FORGOT_AUTHENTICATOR_TIME_FROM_JSON;
  if (!J::getString(obj, "challenge", t.challenge_))
    return KV_ERROR_FILL_SERVICE_REQUEST_ACTIVE_FORGOT_AUTHENTICATOR_CHALLENGE_FROM_JSON;
  if (!J::getString(obj, "authData", t.authData_))
    return KV_ERROR_FILL_SERVICE_REQUEST_ACTIVE_FORGOT_AUTHENTICATOR_AUTH_DATA_FROM_JSON;
  *this = t;
  return KV_SUCCESS;
}

// ---------------------------------------------------------------- responses

ServiceResponseBase::ServiceResponseBase() : authTypes_{{"otp", true}, {"qrcode", true}, {"push", true}} {}

std::uint16_t ServiceResponseBase::setUserLogin(const std::string& login) {
  if (login.size() > ServiceRequestBase::kLoginMaxLength) return KV_ERROR_INVALID_USER_LOGIN_LENGTH;
  userLogin_ = login;
  return KV_SUCCESS;
}

std::uint16_t ServiceResponseBase::setUserPassword(const std::string& password) {
  if (password.size() > ServiceRequestBase::kPasswordMaxLength) return KV_ERROR_INVALID_USER_PASSWORD_LENGTH;
  userPassword_ = password;
  return KV_SUCCESS;
}

std::uint16_t ServiceResponseBase::setLastAuthType(const std::string& type) {
  std::string lower = J::toLower(type);
  if (lower != "otp" && lower != "qrcode" && lower != "push") return KV_ERROR_INVALID_AUTHENTICATION_TYPE;
  lastAuthType_ = lower;
  return KV_SUCCESS;
}

std::string ServiceResponseBase::toJson() const {
  J::Writer w;
  w.startObject();
  writeFields(w);
  w.endObject();
  return w.str();
}

void ServiceResponseBase::writeFields(J::Writer& w) const {
  w.field("userLogin", userLogin_)
      .field("userPassword", userPassword_)
      .field("checkRememberPassword", checkRememberPassword_)
      .field("enableRememberPassword", enableRememberPassword_)
      .field("enableForgotAuthenticator", enableForgotAuthenticator_);
  w.key("authTypes").boolMap(authTypes_);
  w.field("lastAuthType", lastAuthType_)
      .field("autoSendPush", autoSendPush_)
      .field("policyAllowsAuthentication", policyAllowsAuthentication_);
}

std::uint16_t ServiceResponseBase::documentCode() const { return KV_ERROR_FILL_SERVICE_RESPONSE_BASE_FROM_JSON; }

std::uint16_t ServiceResponseBase::fillFromJson(const std::string& json) { return fillMessage(*this, json, documentCode()); }

std::uint16_t ServiceResponseBase::readBase(const rapidjson::Value& obj) {
  std::string text;
  if (!J::getString(obj, "userLogin", text) || setUserLogin(text) != 0) return KV_ERROR_FILL_SERVICE_RESPONSE_BASE_USER_LOGIN_FROM_JSON;
  if (!J::getString(obj, "userPassword", text) || setUserPassword(text) != 0)
    return KV_ERROR_FILL_SERVICE_RESPONSE_BASE_USER_PASSWORD_FROM_JSON;
  if (!J::getBool(obj, "checkRememberPassword", checkRememberPassword_))
    return KV_ERROR_FILL_SERVICE_RESPONSE_BASE_CHECK_REMEMBER_PASSWORD_FROM_JSON;
  if (!J::getBool(obj, "enableRememberPassword", enableRememberPassword_))
    return KV_ERROR_FILL_SERVICE_RESPONSE_BASE_ENABLE_REMEMBER_PASSWORD_FROM_JSON;
  if (!J::getBool(obj, "enableForgotAuthenticator", enableForgotAuthenticator_))
    return KV_ERROR_FILL_SERVICE_RESPONSE_BASE_ENABLE_FORGOT_AUTHENTICATOR_FROM_JSON;
  if (!J::getBoolMap(obj, "authTypes", authTypes_)) return KV_ERROR_FILL_SERVICE_RESPONSE_BASE_AUTH_TYPES_FROM_JSON;
  if (!J::getString(obj, "lastAuthType", text) || setLastAuthType(text) != 0)
    return KV_ERROR_FILL_SERVICE_RESPONSE_BASE_LAST_AUTH_TYPE_FROM_JSON;
  if (!J::getBool(obj, "autoSendPush", autoSendPush_)) return KV_ERROR_FILL_SERVICE_RESPONSE_BASE_AUTO_SEND_PUSH_FROM_JSON;
  if (!J::getBool(obj, "policyAllowsAuthentication", policyAllowsAuthentication_))
    return KV_ERROR_FILL_SERVICE_RESPONSE_BASE_POLICY_ALLOWS_AUTHENTICATION_FROM_JSON;
  return KV_SUCCESS;
}

std::uint16_t ServiceResponseBase::fillFromValue(const rapidjson::Value& obj) {
  if (!obj.IsObject()) return documentCode();
  ServiceResponseBase t;
  std::uint16_t code = t.readBase(obj);
  if (code != 0) return code;
  *this = t;
  return KV_SUCCESS;
}

void ServiceResponseAuthOTP::writeFields(J::Writer& w) const {
  ServiceResponseBase::writeFields(w);
  w.field("authDataSize", authDataSize_);
}

std::uint16_t ServiceResponseAuthOTP::documentCode() const { return KV_ERROR_FILL_SERVICE_RESPONSE_AUTH_OTP_FROM_JSON; }

std::uint16_t ServiceResponseAuthOTP::fillFromValue(const rapidjson::Value& obj) {
  if (!obj.IsObject()) return documentCode();
  ServiceResponseAuthOTP t;
  std::uint16_t code = t.readBase(obj);
  if (code != 0) return code;
  if (!J::getUint8(obj, "authDataSize", t.authDataSize_)) return KV_ERROR_FILL_SERVICE_RESPONSE_AUTH_OTP_AUTH_DATA_SIZE_FROM_JSON;
  *this = t;
  return KV_SUCCESS;
}

std::uint16_t ServiceResponseAuthQRCode::setTransactionId(const std::string& id) {
  if (!isValidTransactionId(id)) return KV_ERROR_INVALID_TRANSACTION_ID_LENGTH;
  transactionId_ = id;
  return KV_SUCCESS;
}

std::uint16_t ServiceResponseAuthQRCode::setTransactionData(const Model::TransactionData& data) {
  std::uint16_t code = data.validate();
  if (code != 0) return code;
  transactionData_ = data;
  return KV_SUCCESS;
}

ServiceResponseAuthQRCode& ServiceResponseAuthQRCode::operator=(const ServiceResponseAuthQRCode& other) {
  if (this == &other) return *this;
  ServiceResponseBase::operator=(other);
  authDataSize_ = other.authDataSize_;
  command_ = other.command_;
  transactionId_ = other.transactionId_;
  onLine_ = other.onLine_;
  transactionData_ = Model::TransactionData(other.transactionData_);
  return *this;
}

void ServiceResponseAuthQRCode::writeFields(J::Writer& w) const {
  ServiceResponseBase::writeFields(w);
  w.field("authDataSize", authDataSize_).field("command", command_).field("transactionId", transactionId_).field("onLine", onLine_);
  w.key("transactionData").raw(transactionData_.toJson());
}

std::uint16_t ServiceResponseAuthQRCode::documentCode() const { return KV_ERROR_FILL_SERVICE_RESPONSE_AUTH_QRCODE_FROM_JSON; }

std::uint16_t ServiceResponseAuthQRCode::fillFromValue(const rapidjson::Value& obj) {
  if (!obj.IsObject()) return documentCode();
  ServiceResponseAuthQRCode t;
  std::uint16_t code = t.readBase(obj);
  if (code != 0) return code;
  if (!J::getUint8(obj, "authDataSize", t.authDataSize_)) return KV_ERROR_FILL_SERVICE_RESPONSE_AUTH_QRCODE_AUTH_DATA_SIZE_FROM_JSON;
  if (!J::getString(obj, "command", t.command_)) return KV_ERROR_FILL_SERVICE_RESPONSE_AUTH_QRCODE_COMMAND_FROM_JSON;
  std::string id;
  if (!J::getString(obj, "transactionId", id) || t.setTransactionId(id) != 0)
    return KV_ERROR_FILL_SERVICE_RESPONSE_AUTH_QRCODE_TRANSACTION_ID_FROM_JSON;
  if (!J::getBool(obj, "onLine", t.onLine_)) return KV_ERROR_FILL_SERVICE_RESPONSE_AUTH_QRCODE_ON_LINE_FROM_JSON;
  code = readTransactionData(obj, KV_ERROR_FILL_SERVICE_RESPONSE_AUTH_QRCODE_TRANSACTION_DATA_FROM_JSON, t.transactionData_);
  if (code != 0) return code;
  *this = t;
  return KV_SUCCESS;
}

void ServiceResponseActiveForgotAuthenticator::writeFields(J::Writer& w) const {
  ServiceResponseBase::writeFields(w);
  w.field("time", time_).field("challenge", challenge_).field("onLine", onLine_).field("authDataSize", authDataSize_);
}

std::uint16_t ServiceResponseActiveForgotAuthenticator::documentCode() const {
  return KV_ERROR_FILL_SERVICE_RESPONSE_ACTIVE_FORGOT_AUTHENTICATOR_FROM_JSON;
}

std::uint16_t ServiceResponseActiveForgotAuthenticator::fillFromValue(const rapidjson::Value& obj) {
  if (!obj.IsObject()) return documentCode();
  ServiceResponseActiveForgotAuthenticator t;
  std::uint16_t code = t.readBase(obj);
  if (code != 0) return code;
  if (!J::getUint32(obj, "time", t.time_)) return KV_ERROR_FILL_SERVICE_RESPONSE_ACTIVE_FORGOT_AUTHENTICATOR_TIME_FROM_JSON;
  if (!J::getString(obj, "challenge", t.challenge_))
    return KV_ERROR_FILL_SERVICE_RESPONSE_ACTIVE_FORGOT_AUTHENTICATOR_CHALLENGE_FROM_JSON;
  if (!J::getBool(obj, "onLine", t.onLine_)) return KV_ERROR_FILL_SERVICE_RESPONSE_ACTIVE_FORGOT_AUTHENTICATOR_ON_LINE_FROM_JSON;
  if (!J::getUint8(obj, "authDataSize", t.authDataSize_))
    return KV_ERROR_FILL_SERVICE_RESPONSE_ACTIVE_FORGOT_AUTHENTICATOR_AUTH_DATA_SIZE_FROM_JSON;
  *this = t;
  return KV_SUCCESS;
}

void ServiceResponseAuthForgotAuthenticator::writeFields(J::Writer& w) const {
  ServiceResponseBase::writeFields(w);
  w.field("onLine", onLine_);
}

std::uint16_t ServiceResponseAuthForgotAuthenticator::documentCode() const {
  return KV_ERROR_FILL_SERVICE_RESPONSE_AUTH_FORGOT_AUTHENTICATOR_FROM_JSON;
}

std::uint16_t ServiceResponseAuthForgotAuthenticator::fillFromValue(const rapidjson::Value& obj) {
  if (!obj.IsObject()) return documentCode();
  ServiceResponseAuthForgotAuthenticator t;
  std::uint16_t code = t.readBase(obj);
  if (code != 0) return code;
  if (!J::getBool(obj, "onLine", t.onLine_)) return KV_ERROR_FILL_SERVICE_RESPONSE_AUTH_FORGOT_AUTHENTICATOR_ON_LINE_FROM_JSON;
  *this = t;
  return KV_SUCCESS;
}

// ---------------------------------------------------------------- about

std::string ServiceResponseAbout::toJson() const {
  J::Writer w;
  w.startObject()
      .field("region", region)
      .field("environment", environment)
      .field("accountAlias", accountAlias)
      .field("resourceAlias", resourceAlias)
      .field("machineName", machineName)
      .field("latestVersionKorvath", latestVersionKorvath)
      .field("supportMessage", supportMessage)
      .field("version", version)
      .field("platform", platform)
      .field("build", build)
      .field("pushTimeout", pushTimeout)
      .field("syncInterval", syncInterval)
      .field("offlineAuthentication", offlineAuthentication)
      .field("enableRememberPassword", enableRememberPassword)
      .field("enableForgotAuthenticator", enableForgotAuthenticator)
      .field("timeDifference", timeDifference)
      .endObject();
  return w.str();
}

std::uint16_t ServiceResponseAbout::fillFromJson(const std::string& json) {
  rapidjson::Document doc;
  if (!J::parseObject(json, doc)) return KV_ERROR_FILL_SERVICE_RESPONSE_ABOUT_FROM_JSON;
  ServiceResponseAbout t;
  if (!J::getString(doc, "region", t.region)) return KV_ERROR_FILL_SERVICE_RESPONSE_ABOUT_REGION_FROM_JSON;
  if (!J::getString(doc, "environment", t.environment)) return KV_ERROR_FILL_SERVICE_RESPONSE_ABOUT_ENVIRONMENT_FROM_JSON;
  if (!J::getString(doc, "accountAlias", t.accountAlias)) return KV_ERROR_FILL_SERVICE_RESPONSE_ABOUT_ACCOUNT_ALIAS_FROM_JSON;
  if (!J::getString(doc, "resourceAlias", t.resourceAlias)) return KV_ERROR_FILL_SERVICE_RESPONSE_ABOUT_RESOURCE_ALIAS_FROM_JSON;
  if (!J::getString(doc, "machineName", t.machineName)) return KV_ERROR_FILL_SERVICE_RESPONSE_ABOUT_MACHINE_NAME_FROM_JSON;
  if (!J::getString(doc, "latestVersionKorvath", t.latestVersionKorvath))
    return KV_ERROR_FILL_SERVICE_RESPONSE_ABOUT_LATEST_VERSION_KORVATH_FROM_JSON;
  if (!J::getString(doc, "supportMessage", t.supportMessage)) return KV_ERROR_FILL_SERVICE_RESPONSE_ABOUT_SUPPORT_MESSAGE_FROM_JSON;
  if (!J::getString(doc, "version", t.version)) return KV_ERROR_FILL_SERVICE_RESPONSE_ABOUT_VERSION_FROM_JSON;
  if (!J::getString(doc, "platform", t.platform)) return KV_ERROR_FILL_SERVICE_RESPONSE_ABOUT_PLATFORM_FROM_JSON;
  if (!J::getString(doc, "build", t.build)) return KV_ERROR_FILL_SERVICE_RESPONSE_ABOUT_BUILD_FROM_JSON;
  if (!J::getUint16(doc, "pushTimeout", t.pushTimeout)) return KV_ERROR_FILL_SERVICE_RESPONSE_ABOUT_PUSH_TIMEOUT_FROM_JSON;
  if (!J::getInt64(doc, "syncInterval", t.syncInterval)) return KV_ERROR_FILL_SERVICE_RESPONSE_ABOUT_SYNC_INTERVAL_FROM_JSON;
  if (!J::getBool(doc, "offlineAuthentication", t.offlineAuthentication))
    return KV_ERROR_FILL_SERVICE_RESPONSE_ABOUT_OFFLINE_AUTHENTICATION_FROM_JSON;
  if (!J::getBool(doc, "enableRememberPassword", t.enableRememberPassword))
    return KV_ERROR_FILL_SERVICE_RESPONSE_ABOUT_ENABLE_REMEMBER_PASSWORD_FROM_JSON;
  if (!J::getBool(doc, "enableForgotAuthenticator", t.enableForgotAuthenticator))
    return KV_ERROR_FILL_SERVICE_RESPONSE_ABOUT_ENABLE_FORGOT_AUTHENTICATOR_FROM_JSON;
  if (!J::getInt64(doc, "timeDifference", t.timeDifference)) return KV_ERROR_FILL_SERVICE_RESPONSE_ABOUT_TIME_DIFFERENCE_FROM_JSON;
  *this = t;
  return KV_SUCCESS;
}

}  // namespace Service
}  // namespace Korvath
