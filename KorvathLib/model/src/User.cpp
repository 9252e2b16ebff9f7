#include "Korvath/Model/User.h"

#include "RecordSupport.h"
#include "Korvath/KvException.h"
#include "Korvath/ResultCodes.h"

namespace Korvath {
namespace Model {

using Exception::KvException;

// ---------------------------------------------------------------- AuthenticatorRecord

bool AuthenticatorRecord::isValidBlobLength(std::size_t n) { return n == 280 || n == 152 || n == 172 || n == 216; }

std::uint16_t AuthenticatorRecord::validate() const {
  if (model_ < kModelMarletDevice || model_ > kModelOathLast) return KV_ERROR_INVALID_AUTHENTICATOR_MODEL;
  if (serialNumber_.empty() || serialNumber_.size() > kSerialNumberMaxLength) return KV_ERROR_INVALID_SERIAL_NUMBER_LENGTH;
  if (!isValidBlobLength(blob_.size())) return KV_ERROR_INVALID_BLOB_LENGTH;
  return KV_SUCCESS;
}

AuthenticatorRecord& AuthenticatorRecord::operator=(const AuthenticatorRecord& other) {
  if (this == &other) return *this;
  std::uint16_t code = other.validate();
  if (code != 0) throw KvException(code);
  model_ = other.model_;
  serialNumber_ = other.serialNumber_;
  blob_ = other.blob_;
  deviceId_ = other.deviceId_;
  usedHereFrom_ = other.usedHereFrom_;
  return *this;
}

bool AuthenticatorRecord::operator==(const AuthenticatorRecord& o) const {
  return model_ == o.model_ && serialNumber_ == o.serialNumber_ && blob_ == o.blob_ && deviceId_ == o.deviceId_ &&
         usedHereFrom_ == o.usedHereFrom_;
}

std::uint16_t AuthenticatorRecord::setModel(std::uint8_t model) {
  if (model < kModelMarletDevice || model > kModelOathLast) return KV_ERROR_INVALID_AUTHENTICATOR_MODEL;
  model_ = model;
  return KV_SUCCESS;
}

std::uint16_t AuthenticatorRecord::setSerialNumber(const std::string& serial) {
  if (serial.empty() || serial.size() > kSerialNumberMaxLength) return KV_ERROR_INVALID_SERIAL_NUMBER_LENGTH;
  serialNumber_ = serial;
  return KV_SUCCESS;
}

std::uint16_t AuthenticatorRecord::setBlob(const std::string& blob) {
  if (!isValidBlobLength(blob.size())) return KV_ERROR_INVALID_BLOB_LENGTH;
  blob_ = blob;
  return KV_SUCCESS;
}

void AuthenticatorRecord::writeTo(Json::Writer& w) const {
  w.startObject()
      .field("model", model_)
      .field("serialNumber", serialNumber_)
      .field("blob", blob_)
      .field("deviceId", deviceId_);
  if (hasUsedHereFrom()) w.field("usedHereFrom", usedHereFrom_);
  w.endObject();
}

std::string AuthenticatorRecord::toJson() const {
  Json::Writer w;
  writeTo(w);
  return w.str();
}

std::uint16_t AuthenticatorRecord::fillFromJson(const std::string& json) {
  return Detail::fillFromText(*this, json, KV_ERROR_FILL_AUTHENTICATOR_FROM_JSON);
}

std::uint16_t AuthenticatorRecord::fillFromValue(const rapidjson::Value& obj) {
  if (!obj.IsObject()) return KV_ERROR_FILL_AUTHENTICATOR_FROM_JSON;
  AuthenticatorRecord r;
  std::uint8_t model = 0;
  if (!Json::getUint8(obj, "model", model) || r.setModel(model) != 0) return KV_ERROR_FILL_AUTHENTICATOR_MODEL_FROM_JSON;
  std::string text;
  if (!Json::getString(obj, "serialNumber", text) || r.setSerialNumber(text) != 0)
    return KV_ERROR_FILL_AUTHENTICATOR_SERIAL_NUMBER_FROM_JSON;
  if (!Json::getString(obj, "blob", text) || r.setBlob(text) != 0) return KV_ERROR_FILL_AUTHENTICATOR_BLOB_FROM_JSON;
  if (!Json::getUint32(obj, "deviceId", r.deviceId_)) return KV_ERROR_FILL_AUTHENTICATOR_DEVICE_ID_FROM_JSON;
  // Only this machine writes it, only when codes were used here; the service never sends it.
  const bool usedHereFromRead = Json::getOptional(obj, "usedHereFrom", r.usedHereFrom_, Json::getUint64);
  if (!usedHereFromRead || (Json::member(obj, "usedHereFrom") != nullptr && !r.hasUsedHereFrom()))
    return KV_ERROR_FILL_AUTHENTICATOR_USED_HERE_FROM_FROM_JSON;
  *this = std::move(r);
  return KV_SUCCESS;
}

// ---------------------------------------------------------------- User

User::User(const User& other) { copyUserFields(other); }

User& User::operator=(const User& other) {
  if (this != &other) copyUserFields(other);
  return *this;
}

bool User::operator==(const User& o) const {
  return login_ == o.login_ && email_ == o.email_ && overAllocated_ == o.overAllocated_ &&
         quarantine_ == o.quarantine_ && blocked_ == o.blocked_ && hasPolicy_ == o.hasPolicy_ &&
         authTypes_ == o.authTypes_ && authenticators_ == o.authenticators_ &&
         forgottenExpiryMs_ == o.forgottenExpiryMs_;
}

void User::copyUserFields(const User& other) {
  std::uint16_t code = other.User::validate();
  if (code != 0) throw KvException(code);
  login_ = other.login_;
  email_ = other.email_;
  overAllocated_ = other.overAllocated_;
  quarantine_ = other.quarantine_;
  blocked_ = other.blocked_;
  hasPolicy_ = other.hasPolicy_;
  authTypes_ = other.authTypes_;
  authenticators_ = other.authenticators_;
  forgottenExpiryMs_ = other.forgottenExpiryMs_;
}

std::uint16_t User::validate() const {
  if (login_.empty() || login_.size() > kLoginMaxLength) return KV_ERROR_INVALID_USER_LOGIN_LENGTH;
  for (const auto& a : authenticators_) {
    std::uint16_t code = a.validate();
    if (code != 0) return code;
  }
  return KV_SUCCESS;
}

std::uint16_t User::setUserLogin(const std::string& login) {
  if (login.empty() || login.size() > kLoginMaxLength) return KV_ERROR_INVALID_USER_LOGIN_LENGTH;
  login_ = login;
  return KV_SUCCESS;
}

bool User::isAuthTypeEnabled(const std::string& factor) const {
  auto it = authTypes_.find(factor);
  return it != authTypes_.end() && it->second;
}

std::uint16_t User::setAuthenticators(const std::vector<AuthenticatorRecord>& list) {
  for (const auto& a : list) {
    std::uint16_t code = a.validate();
    if (code != 0) return code;
  }
  authenticators_ = list;
  return KV_SUCCESS;
}

void User::writeUserFields(Json::Writer& w) const {
  w.field("login", login_).field("email", email_);
  w.field("overAllocated", overAllocated_).field("quarantine", quarantine_).field("blocked", blocked_);
  w.field("hasPolicy", hasPolicy_);
  w.key("authTypes").boolMap(authTypes_);
  w.key("authenticators").startArray();
  for (const auto& a : authenticators_) a.writeTo(w);
  w.endArray();
  w.field("authenticatorForgottenExpiryTimestamp", forgottenExpiryMs_);
}

std::string User::toJson() const {
  Json::Writer w;
  w.startObject();
  writeUserFields(w);
  w.endObject();
  return w.str();
}

std::uint16_t User::fillFromJson(const std::string& json) {
  return Detail::fillFromText(*this, json, KV_ERROR_FILL_USER_FROM_JSON);
}

namespace {
// Reads the user keys into `u` (a fresh record); 0 or the fill code of the first refused key.
std::uint16_t readUserKeys(const rapidjson::Value& obj, User& u) {
  if (!obj.IsObject()) return KV_ERROR_FILL_USER_FROM_JSON;
  std::string text;
  if (!Json::getString(obj, "login", text) || u.setUserLogin(text) != 0) return KV_ERROR_FILL_USER_LOGIN_FROM_JSON;
  if (!Json::getString(obj, "email", text)) return KV_ERROR_FILL_USER_EMAIL_FROM_JSON;
  u.setEmail(text);
  bool flag = false;
  if (!Json::getBool(obj, "overAllocated", flag)) return KV_ERROR_FILL_USER_OVER_ALLOCATED_FROM_JSON;
  u.setOverAllocated(flag);
  if (!Json::getBool(obj, "quarantine", flag)) return KV_ERROR_FILL_USER_QUARANTINE_FROM_JSON;
  u.setQuarantine(flag);
  if (!Json::getBool(obj, "blocked", flag)) return KV_ERROR_FILL_USER_BLOCKED_FROM_JSON;
  u.setBlocked(flag);
  if (!Json::getBool(obj, "hasPolicy", flag)) return KV_ERROR_FILL_USER_HAS_POLICY_FROM_JSON;
  u.setHasPolicy(flag);
  AuthFactorMap map;
  if (!Json::getBoolMap(obj, "authTypes", map)) return KV_ERROR_FILL_USER_AUTH_TYPES_FROM_JSON;
  u.setAuthTypes(map);
  const rapidjson::Value* list = Json::member(obj, "authenticators");
  if (list == nullptr || !list->IsArray()) return KV_ERROR_FILL_USER_AUTHENTICATORS_FROM_JSON;
  std::vector<AuthenticatorRecord> records;
  for (const auto& e : list->GetArray()) {
    records.emplace_back();
    std::uint16_t code = records.back().fillFromValue(e);
    if (code != 0) return code;
  }
  u.setAuthenticators(records);
  std::uint64_t ms = 0;
  if (!Json::getUint64(obj, "authenticatorForgottenExpiryTimestamp", ms))
    return KV_ERROR_FILL_USER_AUTHENTICATOR_FORGOTTEN_EXPIRY_TIMESTAMP_FROM_JSON;
  u.setAuthenticatorForgottenExpiryTimestamp(ms);
  return KV_SUCCESS;
}
}  // namespace

std::uint16_t User::fillFromValue(const rapidjson::Value& obj) {
  User u;
  std::uint16_t code = readUserKeys(obj, u);
  if (code != 0) return code;
  *this = std::move(u);
  return KV_SUCCESS;
}

// ---------------------------------------------------------------- UserConfig

bool isValidLastAuthType(const std::string& t) {
  return t.empty() || t == "password" || t == "otp" || t == "qrcode" || t == "push";
}

UserConfig::UserConfig(const UserConfig& other) : User() { *this = other; }

UserConfig::UserConfig(const User& user) : User(user) {}

UserConfig& UserConfig::operator=(const UserConfig& other) {
  if (this == &other) return *this;
  std::uint16_t code = other.validate();
  if (code != 0) throw KvException(code);
  User::operator=(other);
  password_ = other.password_;
  fallbackExpiration_ = other.fallbackExpiration_;
  lastAuthType_ = other.lastAuthType_;
  autoSendPush_ = other.autoSendPush_;
  policyAllowsAuthentication_ = other.policyAllowsAuthentication_;
  lastAuthTime_ = other.lastAuthTime_;
  forgotTokenFailures_ = other.forgotTokenFailures_;
  forgotTokenBlockedAt_ = other.forgotTokenBlockedAt_;
  offlineCheckPending_ = other.offlineCheckPending_;
  forgotTokenGrantedAt_ = other.forgotTokenGrantedAt_;
  return *this;
}

bool UserConfig::operator==(const UserConfig& o) const {
  return User::operator==(o) && password_ == o.password_ && fallbackExpiration_ == o.fallbackExpiration_ &&
         lastAuthType_ == o.lastAuthType_ && autoSendPush_ == o.autoSendPush_ &&
         policyAllowsAuthentication_ == o.policyAllowsAuthentication_ && lastAuthTime_ == o.lastAuthTime_ &&
         forgotTokenFailures_ == o.forgotTokenFailures_ && forgotTokenBlockedAt_ == o.forgotTokenBlockedAt_ &&
         offlineCheckPending_ == o.offlineCheckPending_ && forgotTokenGrantedAt_ == o.forgotTokenGrantedAt_;
}

std::uint16_t UserConfig::validate() const {
  std::uint16_t code = User::validate();
  if (code != 0) return code;
  if (password_.size() > kPasswordMaxLength) return KV_ERROR_INVALID_USER_PASSWORD_LENGTH;
  if (!isValidLastAuthType(lastAuthType_)) return KV_ERROR_INVALID_AUTHENTICATION_TYPE;
  return KV_SUCCESS;
}

std::uint16_t UserConfig::setPassword(const std::string& password) {
  if (password.size() > kPasswordMaxLength) return KV_ERROR_INVALID_USER_PASSWORD_LENGTH;
  password_ = password;
  return KV_SUCCESS;
}

std::uint16_t UserConfig::setLastAuthType(const std::string& type) {
  std::string lower = Json::toLower(type);
  if (!isValidLastAuthType(lower)) return KV_ERROR_INVALID_AUTHENTICATION_TYPE;
  lastAuthType_ = lower;
  return KV_SUCCESS;
}

std::uint16_t UserConfig::updateFromUser(const User& user) {
  std::uint16_t code = user.User::validate();
  if (code != 0) return code;
  User::operator=(user);
  return KV_SUCCESS;
}

void UserConfig::writeTo(Json::Writer& w) const {
  w.startObject();
  writeUserFields(w);
  w.field("password", password_)
      .field("fallbackExpiration", fallbackExpiration_)
      .field("lastAuthType", lastAuthType_)
      .field("autoSendPush", autoSendPush_)
      .field("policyAllowsAuthentication", policyAllowsAuthentication_)
      .field("lastAuthTime", lastAuthTime_)
      .field("forgotTokenFailures", forgotTokenFailures_)
      .field("forgotTokenBlockedAt", forgotTokenBlockedAt_)
      .field("offlineCheckPending", offlineCheckPending_);
  // Only a pass has a grant time: the records of everyone else stay as they were.
  if (forgotTokenGrantedAt_ != 0) w.field("forgotTokenGrantedAt", forgotTokenGrantedAt_);
  w.endObject();
}

std::string UserConfig::toJson() const {
  Json::Writer w;
  writeTo(w);
  return w.str();
}

std::uint16_t UserConfig::fillFromJson(const std::string& json) {
  return Detail::fillFromText(*this, json, KV_ERROR_FILL_USER_CONFIG_FROM_JSON);
}

std::uint16_t UserConfig::fillFromValue(const rapidjson::Value& obj) {
  if (!obj.IsObject()) return KV_ERROR_FILL_USER_CONFIG_FROM_JSON;
  UserConfig u;
  std::uint16_t code = readUserKeys(obj, u);
  if (code != 0) return code;
  std::string text;
  if (!Json::getString(obj, "password", text) || u.setPassword(text) != 0) return KV_ERROR_FILL_USER_CONFIG_PASSWORD_FROM_JSON;
  if (!Json::getUint64(obj, "fallbackExpiration", u.fallbackExpiration_))
    return KV_ERROR_FILL_USER_CONFIG_FALLBACK_EXPIRATION_FROM_JSON;
  if (!Json::getString(obj, "lastAuthType", text) || !isValidLastAuthType(text))
    return KV_ERROR_FILL_USER_CONFIG_LAST_AUTH_TYPE_FROM_JSON;
  u.lastAuthType_ = text;
  if (!Json::getBool(obj, "autoSendPush", u.autoSendPush_)) return KV_ERROR_FILL_USER_CONFIG_AUTO_SEND_PUSH_FROM_JSON;
  if (!Json::getBool(obj, "policyAllowsAuthentication", u.policyAllowsAuthentication_))
    return KV_ERROR_FILL_USER_CONFIG_POLICY_ALLOWS_AUTHENTICATION_FROM_JSON;
  if (!Json::getUint64(obj, "lastAuthTime", u.lastAuthTime_)) return KV_ERROR_FILL_USER_CONFIG_LAST_AUTH_TIME_FROM_JSON;
  // Files written by earlier agents lack these keys: no count, no block, nothing pending, no grant time.
  if (!Json::getOptional(obj, "forgotTokenFailures", u.forgotTokenFailures_, Json::getUint8))
    return KV_ERROR_FILL_USER_CONFIG_FORGOT_TOKEN_FAILURES_FROM_JSON;
  if (!Json::getOptional(obj, "forgotTokenBlockedAt", u.forgotTokenBlockedAt_, Json::getUint64))
    return KV_ERROR_FILL_USER_CONFIG_FORGOT_TOKEN_BLOCKED_AT_FROM_JSON;
  if (!Json::getOptional(obj, "offlineCheckPending", u.offlineCheckPending_, Json::getBool))
    return KV_ERROR_FILL_USER_CONFIG_OFFLINE_CHECK_PENDING_FROM_JSON;
  if (!Json::getOptional(obj, "forgotTokenGrantedAt", u.forgotTokenGrantedAt_, Json::getUint64))
    return KV_ERROR_FILL_USER_CONFIG_FORGOT_TOKEN_GRANTED_AT_FROM_JSON;
  *this = std::move(u);
  return KV_SUCCESS;
}

}  // namespace Model
}  // namespace Korvath
