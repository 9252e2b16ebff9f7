#include "Korvath/Model/CloudRecords.h"

#include "RecordSupport.h"
#include "Korvath/KvException.h"
#include "Korvath/ResultCodes.h"

namespace Korvath {
namespace Model {

namespace {
bool validLogins(const std::vector<std::string>& logins) {
  for (const auto& l : logins)
    if (l.empty() || l.size() > 100) return false;
  return true;
}
bool validPlatform(std::uint8_t p) { return p == 1 || p == 2; }
}  // namespace

// ---------------------------------------------------------------- RequestConfig

std::uint16_t RequestConfig::setMachineName(const std::string& v) {
  return Detail::setUnlessRefused(v.size() > 255, KV_ERROR_INVALID_MACHINE_NAME_LENGTH, machineName_, v);
}

std::uint16_t RequestConfig::setPlatform(std::uint8_t v) {
  return Detail::setUnlessRefused(!validPlatform(v), KV_ERROR_INVALID_PLATFORM, platform_, v);
}

std::uint16_t RequestConfig::setUserLogins(const std::vector<std::string>& logins) {
  if (!validLogins(logins)) return KV_ERROR_INVALID_USER_LOGIN_LENGTH;
  userLogins_ = logins;
  return KV_SUCCESS;
}

std::string RequestConfig::toJson() const {
  Json::Writer w;
  w.startObject().field("accountId", accountId_).field("resourceId", resourceId_).field("machineName", machineName_);
  w.key("userLogins").stringArray(userLogins_);
  w.field("platform", platform_).endObject();
  return w.str();
}

std::uint16_t RequestConfig::fillFromJson(const std::string& json) {
  rapidjson::Document doc;
  if (!Json::parseObject(json, doc)) return KV_ERROR_FILL_REQUEST_CONFIG_FROM_JSON;
  RequestConfig r;
  if (!Json::getString(doc, "accountId", r.accountId_)) return KV_ERROR_FILL_REQUEST_CONFIG_ACCOUNT_ID_FROM_JSON;
  if (!Json::getUint32(doc, "resourceId", r.resourceId_)) return KV_ERROR_FILL_REQUEST_CONFIG_RESOURCE_ID_FROM_JSON;
  std::string text;
  if (!Json::getString(doc, "machineName", text) || r.setMachineName(text) != 0)
    return KV_ERROR_FILL_REQUEST_CONFIG_MACHINE_NAME_FROM_JSON;
  if (!Json::getStringArray(doc, "userLogins", r.userLogins_, 1, 100)) return KV_ERROR_FILL_REQUEST_CONFIG_USER_LOGINS_FROM_JSON;
  std::uint8_t p = 0;
  if (!Json::getUint8(doc, "platform", p) || r.setPlatform(p) != 0) return KV_ERROR_FILL_REQUEST_CONFIG_PLATFORM_FROM_JSON;
  *this = r;
  return KV_SUCCESS;
}

// ---------------------------------------------------------------- ResponseConfig

std::uint16_t ResponseConfig::setAccountAlias(const std::string& v) {
  return Detail::setUnlessRefused(!isEmptyOr3To255(v), KV_ERROR_INVALID_ACCOUNT_ALIAS_LENGTH, accountAlias_, v);
}

std::uint16_t ResponseConfig::setResourceAlias(const std::string& v) {
  return Detail::setUnlessRefused(!isEmptyOr3To255(v), KV_ERROR_INVALID_RESOURCE_ALIAS_LENGTH, resourceAlias_, v);
}

std::uint16_t ResponseConfig::setServerConfig(const ServerConfig& v) {
  std::uint16_t code = v.validate();
  if (code != 0) return code;
  serverConfig_ = v;
  return KV_SUCCESS;
}

std::uint16_t ResponseConfig::setUsers(const std::vector<User>& users) {
  for (const auto& u : users) {
    std::uint16_t code = u.User::validate();
    if (code != 0) return code;
  }
  users_ = users;
  return KV_SUCCESS;
}

std::string ResponseConfig::toJson() const {
  Json::Writer w;
  w.startObject()
      .field("accountId", accountId_)
      .field("accountAlias", accountAlias_)
      .field("resourceId", resourceId_)
      .field("resourceAlias", resourceAlias_)
      .field("masterPassword", masterPassword_)
      .field("serverTime", serverTime_);
  w.key("serverConfig").raw(serverConfig_.toJson());
  w.key("users").startArray();
  for (const auto& u : users_) w.raw(u.User::toJson());
  w.endArray().endObject();
  return w.str();
}

std::uint16_t ResponseConfig::fillFromJson(const std::string& json) {
  rapidjson::Document doc;
  if (!Json::parseObject(json, doc)) return KV_ERROR_FILL_RESPONSE_CONFIG_FROM_JSON;
  ResponseConfig r;
  std::string text;
  if (!Json::getString(doc, "accountId", r.accountId_)) return KV_ERROR_FILL_RESPONSE_CONFIG_ACCOUNT_ID_FROM_JSON;
  if (!Json::getString(doc, "accountAlias", text) || r.setAccountAlias(text) != 0)
    return KV_ERROR_FILL_RESPONSE_CONFIG_ACCOUNT_ALIAS_FROM_JSON;
  if (!Json::getUint32(doc, "resourceId", r.resourceId_)) return KV_ERROR_FILL_RESPONSE_CONFIG_RESOURCE_ID_FROM_JSON;
  if (!Json::getString(doc, "resourceAlias", text) || r.setResourceAlias(text) != 0)
    return KV_ERROR_FILL_RESPONSE_CONFIG_RESOURCE_ALIAS_FROM_JSON;
  if (!Json::getString(doc, "masterPassword", r.masterPassword_)) return KV_ERROR_FILL_RESPONSE_CONFIG_MASTER_PASSWORD_FROM_JSON;
  if (!Json::getInt64(doc, "serverTime", r.serverTime_)) return KV_ERROR_FILL_RESPONSE_CONFIG_SERVER_TIME_FROM_JSON;
  const rapidjson::Value* sc = Json::member(doc, "serverConfig");
  if (sc == nullptr || !sc->IsObject()) return KV_ERROR_FILL_RESPONSE_CONFIG_SERVER_CONFIG_FROM_JSON;
  std::uint16_t code = r.serverConfig_.fillFromValue(*sc);
  if (code != 0) return code;
  const rapidjson::Value* users = Json::member(doc, "users");
  if (users == nullptr || !users->IsArray()) return KV_ERROR_FILL_RESPONSE_CONFIG_USERS_FROM_JSON;
  for (const auto& e : users->GetArray()) {
    r.users_.emplace_back();
    code = r.users_.back().fillFromValue(e);
    if (code != 0) return code;
  }
  accountId_ = std::move(r.accountId_);
  accountAlias_ = std::move(r.accountAlias_);
  resourceId_ = r.resourceId_;
  resourceAlias_ = std::move(r.resourceAlias_);
  masterPassword_ = std::move(r.masterPassword_);
  serverTime_ = r.serverTime_;
  serverConfig_ = r.serverConfig_;
  users_ = std::move(r.users_);
  return KV_SUCCESS;
}

// ---------------------------------------------------------------- UserTransaction

UserTransaction& UserTransaction::operator=(const UserTransaction& other) {
  if (this == &other) return *this;
  loginType_ = other.loginType_;
  login_ = other.login_;
  transactionData_ = TransactionData(other.transactionData_);
  return *this;
}

std::uint16_t UserTransaction::validate() const {
  if (loginType_ != "LOGIN" && loginType_ != "EMAIL") return KV_ERROR_INVALID_LOGIN_TYPE;
  if (login_.size() > 100) return KV_ERROR_INVALID_USER_LOGIN_LENGTH;
  return transactionData_.validate();
}

std::uint16_t UserTransaction::setLoginType(const std::string& v) {
  return Detail::setUnlessRefused(v != "LOGIN" && v != "EMAIL", KV_ERROR_INVALID_LOGIN_TYPE, loginType_, v);
}

std::uint16_t UserTransaction::setLogin(const std::string& v) {
  return Detail::setUnlessRefused(v.empty() || v.size() > 100, KV_ERROR_INVALID_USER_LOGIN_LENGTH, login_, v);
}

std::uint16_t UserTransaction::setTransactionData(const TransactionData& v) {
  std::uint16_t code = v.validate();
  if (code != 0) return code;
  transactionData_ = v;
  return KV_SUCCESS;
}

void UserTransaction::write(Json::Writer& w) const {
  w.startObject().field("loginType", loginType_).field("login", login_);
  w.key("transactionData").raw(transactionData_.toJson());
  w.endObject();
}

std::string UserTransaction::toJson() const { return Detail::writtenJson(*this); }

std::uint16_t UserTransaction::fillFromJson(const std::string& json) {
  return Detail::fillFromText(*this, json, KV_ERROR_FILL_USER_TRANSACTION_FROM_JSON);
}

std::uint16_t UserTransaction::fillFromValue(const rapidjson::Value& obj) {
  if (!obj.IsObject()) return KV_ERROR_FILL_USER_TRANSACTION_FROM_JSON;
  UserTransaction t;
  std::string text;
  if (!Json::getString(obj, "loginType", text) || t.setLoginType(text) != 0)
    return KV_ERROR_FILL_USER_TRANSACTION_LOGIN_TYPE_FROM_JSON;
  if (!Json::getString(obj, "login", t.login_, 0, 100)) return KV_ERROR_FILL_USER_TRANSACTION_LOGIN_FROM_JSON;
  const rapidjson::Value* td = Json::member(obj, "transactionData");
  if (td == nullptr || !td->IsObject()) return KV_ERROR_FILL_USER_TRANSACTION_TRANSACTION_DATA_FROM_JSON;
  std::uint16_t code = t.transactionData_.fillFromValue(*td);
  if (code != 0) return code;
  *this = t;
  return KV_SUCCESS;
}

// ---------------------------------------------------------------- request base fields

std::uint16_t RequestBaseFields::setMachineName(const std::string& v) {
  return Detail::setUnlessRefused(v.size() > 255, KV_ERROR_INVALID_MACHINE_NAME_LENGTH, machineName_, v);
}

std::uint16_t RequestBaseFields::setPlatform(std::uint8_t v) {
  return Detail::setUnlessRefused(!validPlatform(v), KV_ERROR_INVALID_PLATFORM, platform_, v);
}

std::uint16_t RequestBaseFields::setAuthenticationFactor(const std::string& v) {
  std::string lower = Json::toLower(v);
  if (lower != "otp" && lower != "qrcode" && lower != "push") return KV_ERROR_INVALID_AUTHENTICATION_TYPE;
  authenticationFactor_ = Json::toUpper(lower);
  return KV_SUCCESS;
}

void RequestBaseFields::writeBase(Json::Writer& w) const {
  w.field("machineName", machineName_)
      .field("platform", platform_)
      .field("authenticationFactor", authenticationFactor_)
      .field("clientIp", clientIp_)
      .field("isRdp", isRdp_)
      .field("geolocationData", geolocationData_);
}

std::uint16_t RequestBaseFields::readBase(const rapidjson::Value& obj, const std::uint16_t codes[6]) {
  std::string text;
  if (!Json::getString(obj, "machineName", text) || setMachineName(text) != 0) return codes[0];
  std::uint8_t p = 0;
  if (!Json::getUint8(obj, "platform", p) || setPlatform(p) != 0) return codes[1];
  if (!Json::getString(obj, "authenticationFactor", text) || setAuthenticationFactor(text) != 0) return codes[2];
  if (!Json::getString(obj, "clientIp", clientIp_)) return codes[3];
  if (!Json::getBool(obj, "isRdp", isRdp_)) return codes[4];
  if (!Json::getString(obj, "geolocationData", geolocationData_)) return codes[5];
  return KV_SUCCESS;
}

// ---------------------------------------------------------------- RequestTransaction

std::uint16_t RequestTransaction::setUserTransaction(const UserTransaction& v) {
  std::uint16_t code = v.validate();
  if (code != 0) return code;
  userTransaction_ = v;
  return KV_SUCCESS;
}

std::string RequestTransaction::toJson() const {
  Json::Writer w;
  w.startObject();
  writeBase(w);
  w.key("userTransaction");
  userTransaction_.write(w);
  w.endObject();
  return w.str();
}

std::uint16_t RequestTransaction::fillFromJson(const std::string& json) {
  static const std::uint16_t codes[6] = {
      KV_ERROR_FILL_REQUEST_TRANSACTION_MACHINE_NAME_FROM_JSON, KV_ERROR_FILL_REQUEST_TRANSACTION_PLATFORM_FROM_JSON,
      KV_ERROR_FILL_REQUEST_TRANSACTION_AUTHENTICATION_FACTOR_FROM_JSON, KV_ERROR_FILL_REQUEST_TRANSACTION_CLIENT_IP_FROM_JSON,
      KV_ERROR_FILL_REQUEST_TRANSACTION_IS_RDP_FROM_JSON, KV_ERROR_FILL_REQUEST_TRANSACTION_GEOLOCATION_DATA_FROM_JSON};
  rapidjson::Document doc;
  if (!Json::parseObject(json, doc)) return KV_ERROR_FILL_REQUEST_TRANSACTION_FROM_JSON;
  RequestTransaction r;
  std::uint16_t code = r.readBase(doc, codes);
  if (code != 0) return code;
  const rapidjson::Value* ut = Json::member(doc, "userTransaction");
  if (ut == nullptr || !ut->IsObject()) return KV_ERROR_FILL_REQUEST_TRANSACTION_USER_TRANSACTION_FROM_JSON;
  code = r.userTransaction_.fillFromValue(*ut);
  if (code != 0) return code;
  *this = r;
  return KV_SUCCESS;
}

// ---------------------------------------------------------------- ResponseTransaction

std::string ResponseTransaction::toJson() const {
  Json::Writer w;
  w.startObject()
      .field("transactionStatus", transactionStatus_)
      .field("transactionId", transactionId_)
      .field("command", command_)
      .endObject();
  return w.str();
}

std::uint16_t ResponseTransaction::fillFromJson(const std::string& json) {
  rapidjson::Document doc;
  if (!Json::parseObject(json, doc)) return KV_ERROR_FILL_RESPONSE_TRANSACTION_FROM_JSON;
  ResponseTransaction r;
  if (!Json::getString(doc, "transactionStatus", r.transactionStatus_))
    return KV_ERROR_FILL_RESPONSE_TRANSACTION_TRANSACTION_STATUS_FROM_JSON;
  if (!Json::getString(doc, "transactionId", r.transactionId_)) return KV_ERROR_FILL_RESPONSE_TRANSACTION_TRANSACTION_ID_FROM_JSON;
  if (!Json::getString(doc, "command", r.command_)) return KV_ERROR_FILL_RESPONSE_TRANSACTION_COMMAND_FROM_JSON;
  *this = r;
  return KV_SUCCESS;
}

// ---------------------------------------------------------------- UserAuthentication

std::uint16_t UserAuthentication::setLoginType(const std::string& v) {
  std::string upper = Json::toUpper(v);
  if (upper != "LOGIN" && upper != "EMAIL") return KV_ERROR_INVALID_LOGIN_TYPE;
  loginType_ = upper;
  return KV_SUCCESS;
}

std::uint16_t UserAuthentication::setLogin(const std::string& v) {
  return Detail::setUnlessRefused(v.empty() || v.size() > 100, KV_ERROR_INVALID_USER_LOGIN_LENGTH, login_, v);
}

std::uint16_t UserAuthentication::setAuthenticationData(const std::string& v) {
  return Detail::setUnlessRefused(v.size() < 4 || v.size() > 10, KV_ERROR_INVALID_AUTHENTICATION_DATA_LENGTH,
                                  authenticationData_, v);
}

std::uint16_t UserAuthentication::setTransactionId(const std::string& v) {
  return Detail::setUnlessRefused(!v.empty() && v.size() < 36, KV_ERROR_INVALID_TRANSACTION_ID_LENGTH, transactionId_,
                                  v);
}

void UserAuthentication::write(Json::Writer& w) const {
  w.startObject()
      .field("loginType", loginType_)
      .field("login", login_)
      .field("authenticationData", authenticationData_)
      .field("transactionId", transactionId_)
      .endObject();
}

std::string UserAuthentication::toJson() const { return Detail::writtenJson(*this); }

std::uint16_t UserAuthentication::fillFromJson(const std::string& json) {
  return Detail::fillFromText(*this, json, KV_ERROR_FILL_USER_AUTHENTICATION_FROM_JSON);
}

std::uint16_t UserAuthentication::fillFromValue(const rapidjson::Value& obj) {
  if (!obj.IsObject()) return KV_ERROR_FILL_USER_AUTHENTICATION_FROM_JSON;
  UserAuthentication u;
  std::string text;
  if (!Json::getString(obj, "loginType", text) || u.setLoginType(text) != 0)
    return KV_ERROR_FILL_USER_AUTHENTICATION_LOGIN_TYPE_FROM_JSON;
  if (!Json::getString(obj, "login", u.login_, 0, 100)) return KV_ERROR_FILL_USER_AUTHENTICATION_LOGIN_FROM_JSON;
  if (!Json::getString(obj, "authenticationData", text) || (!text.empty() && u.setAuthenticationData(text) != 0))
    return KV_ERROR_FILL_USER_AUTHENTICATION_AUTHENTICATION_DATA_FROM_JSON;
  if (!Json::getString(obj, "transactionId", text) || u.setTransactionId(text) != 0)
    return KV_ERROR_FILL_USER_AUTHENTICATION_TRANSACTION_ID_FROM_JSON;
  *this = u;
  return KV_SUCCESS;
}

// ---------------------------------------------------------------- RequestAuthentication

std::uint16_t RequestAuthentication::setUserAuthentication(const UserAuthentication& v) {
  std::uint16_t code = userAuthentication_.setLoginType(v.getLoginType());
  if (code != 0) return code;
  code = userAuthentication_.setLogin(v.getLogin());
  if (code != 0) return code;
  code = userAuthentication_.setTransactionId(v.getTransactionId());
  if (code != 0) return code;
  userAuthentication_.setAuthenticationData(v.getAuthenticationData());
  return KV_SUCCESS;
}

std::string RequestAuthentication::toJson() const {
  Json::Writer w;
  w.startObject();
  writeBase(w);
  w.key("userAuthentication");
  userAuthentication_.write(w);
  w.endObject();
  return w.str();
}

std::uint16_t RequestAuthentication::fillFromJson(const std::string& json) {
  static const std::uint16_t codes[6] = {
      KV_ERROR_FILL_REQUEST_AUTHENTICATION_MACHINE_NAME_FROM_JSON, KV_ERROR_FILL_REQUEST_AUTHENTICATION_PLATFORM_FROM_JSON,
      KV_ERROR_FILL_REQUEST_AUTHENTICATION_AUTHENTICATION_FACTOR_FROM_JSON,
      KV_ERROR_FILL_REQUEST_AUTHENTICATION_CLIENT_IP_FROM_JSON, KV_ERROR_FILL_REQUEST_AUTHENTICATION_IS_RDP_FROM_JSON,
      KV_ERROR_FILL_REQUEST_AUTHENTICATION_GEOLOCATION_DATA_FROM_JSON};
  rapidjson::Document doc;
  if (!Json::parseObject(json, doc)) return KV_ERROR_FILL_REQUEST_AUTHENTICATION_FROM_JSON;
  RequestAuthentication r;
  std::uint16_t code = r.readBase(doc, codes);
  if (code != 0) return code;
  const rapidjson::Value* ua = Json::member(doc, "userAuthentication");
  if (ua == nullptr || !ua->IsObject()) return KV_ERROR_FILL_REQUEST_AUTHENTICATION_USER_AUTHENTICATION_FROM_JSON;
  code = r.userAuthentication_.fillFromValue(*ua);
  if (code != 0) return code;
  *this = r;
  return KV_SUCCESS;
}

// ---------------------------------------------------------------- ActivationData

std::uint16_t ActivationData::setLogin(const std::string& v) {
  return Detail::setUnlessRefused(v.empty() || v.size() > 100, KV_ERROR_INVALID_USER_LOGIN_LENGTH, login_, v);
}

std::uint16_t ActivationData::setChallenge(const std::string& v) {
  return Detail::setUnlessRefused(v.size() < 4 || v.size() > 10, KV_ERROR_INVALID_CHALLENGE_LENGTH, challenge_, v);
}

std::uint16_t ActivationData::setAuthenticationCode(const std::string& v) {
  return Detail::setUnlessRefused(v.size() < 4 || v.size() > 10, KV_ERROR_INVALID_AUTHENTICATION_DATA_LENGTH,
                                  authenticationCode_, v);
}

std::uint16_t ActivationData::setPeriod(const std::string& v) {
  return Detail::setUnlessRefused(v.size() > 3, KV_ERROR_INVALID_PERIOD_LENGTH, period_, v);
}

void ActivationData::write(Json::Writer& w) const {
  w.startObject()
      .field("login", login_)
      .field("challenge", challenge_)
      .field("authenticationCode", authenticationCode_)
      .field("period", period_)
      .endObject();
}

std::string ActivationData::toJson() const { return Detail::writtenJson(*this); }

std::uint16_t ActivationData::fillFromJson(const std::string& json) {
  return Detail::fillFromText(*this, json, KV_ERROR_FILL_ACTIVATION_DATA_FROM_JSON);
}

std::uint16_t ActivationData::fillFromValue(const rapidjson::Value& obj) {
  if (!obj.IsObject()) return KV_ERROR_FILL_ACTIVATION_DATA_FROM_JSON;
  ActivationData a;
  if (!Json::getString(obj, "login", a.login_, 0, 100)) return KV_ERROR_FILL_ACTIVATION_DATA_LOGIN_FROM_JSON;
  if (!Json::getString(obj, "challenge", a.challenge_, 0, 10)) return KV_ERROR_FILL_ACTIVATION_DATA_CHALLENGE_FROM_JSON;
  if (!Json::getString(obj, "authenticationCode", a.authenticationCode_, 0, 10))
    return KV_ERROR_FILL_ACTIVATION_DATA_AUTHENTICATION_CODE_FROM_JSON;
  if (!Json::getString(obj, "period", a.period_, 0, 3)) return KV_ERROR_FILL_ACTIVATION_DATA_PERIOD_FROM_JSON;
  *this = a;
  return KV_SUCCESS;
}

// ---------------------------------------------------------------- RequestForgotTokenAuthenticationCode

std::uint16_t RequestForgotTokenAuthenticationCode::setMachineName(const std::string& v) {
  return Detail::setUnlessRefused(v.size() > 255, KV_ERROR_INVALID_MACHINE_NAME_LENGTH, machineName_, v);
}

std::uint16_t RequestForgotTokenAuthenticationCode::setPlatform(std::uint8_t v) {
  return Detail::setUnlessRefused(!validPlatform(v), KV_ERROR_INVALID_PLATFORM, platform_, v);
}

void RequestForgotTokenAuthenticationCode::setActivationData(const ActivationData& v) {
  ActivationData checked;
  std::uint16_t code = checked.setLogin(v.getLogin());
  if (code == 0) code = checked.setChallenge(v.getChallenge());
  if (code == 0) code = checked.setPeriod(v.getPeriod());
  if (code != 0) throw Exception::KvException(code);
  checked.setAuthenticationCode(v.getAuthenticationCode());
  activationData_ = checked;
}

std::string RequestForgotTokenAuthenticationCode::toJson() const {
  Json::Writer w;
  w.startObject().field("machineName", machineName_).field("platform", platform_).field("clientIp", clientIp_).field("isRdp", isRdp_);
  w.key("activationData");
  activationData_.write(w);
  w.endObject();
  return w.str();
}

std::uint16_t RequestForgotTokenAuthenticationCode::fillFromJson(const std::string& json) {
  rapidjson::Document doc;
  if (!Json::parseObject(json, doc)) return KV_ERROR_FILL_REQUEST_FORGOT_TOKEN_AUTHENTICATION_CODE_FROM_JSON;
  RequestForgotTokenAuthenticationCode r;
  std::string text;
  if (!Json::getString(doc, "machineName", text) || r.setMachineName(text) != 0)
    return KV_ERROR_FILL_REQUEST_FORGOT_TOKEN_AUTHENTICATION_CODE_MACHINE_NAME_FROM_JSON;
  std::uint8_t p = 0;
  if (!Json::getUint8(doc, "platform", p) || r.setPlatform(p) != 0)
    return KV_ERROR_FILL_REQUEST_FORGOT_TOKEN_AUTHENTICATION_CODE_PLATFORM_FROM_JSON;
  if (!Json::getString(doc, "clientIp", r.clientIp_)) return KV_ERROR_FILL_REQUEST_FORGOT_TOKEN_AUTHENTICATION_CODE_CLIENT_IP_FROM_JSON;
  if (!Json::getBool(doc, "isRdp", r.isRdp_)) return KV_ERROR_FILL_REQUEST_FORGOT_TOKEN_AUTHENTICATION_CODE_IS_RDP_FROM_JSON;
  const rapidjson::Value* ad = Json::member(doc, "activationData");
  if (ad == nullptr || !ad->IsObject()) return KV_ERROR_FILL_REQUEST_FORGOT_TOKEN_AUTHENTICATION_CODE_ACTIVATION_DATA_FROM_JSON;
  std::uint16_t code = r.activationData_.fillFromValue(*ad);
  if (code != 0) return code;
  *this = r;
  return KV_SUCCESS;
}

// ---------------------------------------------------------------- RequestGetUserPolicy

std::uint16_t RequestGetUserPolicy::setLoginType(const std::string& v) {
  return Detail::setUnlessRefused(v != "LOGIN" && v != "USERNAME" && v != "EMAIL", KV_ERROR_INVALID_LOGIN_TYPE,
                                  loginType_, v);
}

std::uint16_t RequestGetUserPolicy::setUserLogins(const std::vector<std::string>& v) {
  return Detail::setUnlessRefused(!validLogins(v), KV_ERROR_INVALID_USER_LOGIN_LENGTH, userLogins_, v);
}

std::string RequestGetUserPolicy::toJson() const {
  Json::Writer w;
  w.startObject()
      .field("loginType", loginType_)
      .field("clientVersion", clientVersion_)
      .field("clientType", clientType_)
      .field("clientIp", clientIp_)
      .field("isRdp", isRdp_);
  w.key("userLogins").stringArray(userLogins_);
  w.field("geolocationData", geolocationData_).endObject();
  return w.str();
}

std::uint16_t RequestGetUserPolicy::fillFromJson(const std::string& json) {
  rapidjson::Document doc;
  if (!Json::parseObject(json, doc)) return KV_ERROR_FILL_REQUEST_GET_USER_POLICY_FROM_JSON;
  RequestGetUserPolicy r;
  std::string text;
  if (!Json::getString(doc, "loginType", text) || r.setLoginType(text) != 0)
    return KV_ERROR_FILL_REQUEST_GET_USER_POLICY_LOGIN_TYPE_FROM_JSON;
  if (!Json::getString(doc, "clientVersion", r.clientVersion_)) return KV_ERROR_FILL_REQUEST_GET_USER_POLICY_CLIENT_VERSION_FROM_JSON;
  if (!Json::getString(doc, "clientType", r.clientType_)) return KV_ERROR_FILL_REQUEST_GET_USER_POLICY_CLIENT_TYPE_FROM_JSON;
  if (!Json::getString(doc, "clientIp", r.clientIp_)) return KV_ERROR_FILL_REQUEST_GET_USER_POLICY_CLIENT_IP_FROM_JSON;
  if (!Json::getBool(doc, "isRdp", r.isRdp_)) return KV_ERROR_FILL_REQUEST_GET_USER_POLICY_IS_RDP_FROM_JSON;
  if (!Json::getStringArray(doc, "userLogins", r.userLogins_, 1, 100)) return KV_ERROR_FILL_REQUEST_GET_USER_POLICY_USER_LOGINS_FROM_JSON;
  if (!Json::getString(doc, "geolocationData", r.geolocationData_))
    return KV_ERROR_FILL_REQUEST_GET_USER_POLICY_GEOLOCATION_DATA_FROM_JSON;
  *this = r;
  return KV_SUCCESS;
}

// ---------------------------------------------------------------- UserPolicy

void UserPolicy::write(Json::Writer& w) const {
  w.startObject()
      .field("username", username)
      .field("email", email)
      .field("hasPolicy", hasPolicy)
      .field("isAllowedToAuthenticate", isAllowedToAuthenticate)
      .field("isInSafeLocation", isInSafeLocation)
      .field("isInForgotToken", isInForgotToken)
      .field("isBlocked", isBlocked)
      .field("isOverallocated", isOverallocated)
      .field("isInQuarantine", isInQuarantine);
  w.key("authTypes").boolMap(authTypes);
  w.endObject();
}

std::string UserPolicy::toJson() const { return Detail::writtenJson(*this); }

std::uint16_t UserPolicy::fillFromValue(const rapidjson::Value& obj) {
  if (!obj.IsObject()) return KV_ERROR_FILL_USER_POLICY_FROM_JSON;
  UserPolicy p;
  if (!Json::getString(obj, "username", p.username)) return KV_ERROR_FILL_USER_POLICY_USERNAME_FROM_JSON;
  if (!Json::getString(obj, "email", p.email)) return KV_ERROR_FILL_USER_POLICY_EMAIL_FROM_JSON;
  if (!Json::getBool(obj, "hasPolicy", p.hasPolicy)) return KV_ERROR_FILL_USER_POLICY_HAS_POLICY_FROM_JSON;
  if (!Json::getBool(obj, "isAllowedToAuthenticate", p.isAllowedToAuthenticate))
    return KV_ERROR_FILL_USER_POLICY_IS_ALLOWED_TO_AUTHENTICATE_FROM_JSON;
  if (!Json::getBool(obj, "isInSafeLocation", p.isInSafeLocation)) return KV_ERROR_FILL_USER_POLICY_IS_IN_SAFE_LOCATION_FROM_JSON;
  if (!Json::getBool(obj, "isInForgotToken", p.isInForgotToken)) return KV_ERROR_FILL_USER_POLICY_IS_IN_FORGOT_TOKEN_FROM_JSON;
  if (!Json::getBool(obj, "isBlocked", p.isBlocked)) return KV_ERROR_FILL_USER_POLICY_IS_BLOCKED_FROM_JSON;
  if (!Json::getBool(obj, "isOverallocated", p.isOverallocated)) return KV_ERROR_FILL_USER_POLICY_IS_OVERALLOCATED_FROM_JSON;
  if (!Json::getBool(obj, "isInQuarantine", p.isInQuarantine)) return KV_ERROR_FILL_USER_POLICY_IS_IN_QUARANTINE_FROM_JSON;
  if (!Json::getBoolMap(obj, "authTypes", p.authTypes)) return KV_ERROR_FILL_USER_POLICY_AUTH_TYPES_FROM_JSON;
  *this = p;
  return KV_SUCCESS;
}

std::string ResponseGetUserPolicy::toJson() const { return Detail::arrayJson(policies_); }

std::uint16_t ResponseGetUserPolicy::fillFromJson(const std::string& json) {
  return Detail::fillArrayFromText(policies_, json, KV_ERROR_FILL_RESPONSE_GET_USER_POLICY_FROM_JSON);
}

// ---------------------------------------------------------------- RequestGetUserPolicyOffline

std::uint16_t RequestGetUserPolicyOffline::setMachineName(const std::string& v) {
  return Detail::setUnlessRefused(v.size() > 255, KV_ERROR_INVALID_MACHINE_NAME_LENGTH, machineName_, v);
}

std::uint16_t RequestGetUserPolicyOffline::setPlatform(std::uint8_t v) {
  return Detail::setUnlessRefused(!validPlatform(v), KV_ERROR_INVALID_PLATFORM, platform_, v);
}

std::uint16_t RequestGetUserPolicyOffline::setUserLogin(const std::string& v) {
  return Detail::setUnlessRefused(v.size() > 100, KV_ERROR_INVALID_USER_LOGIN_LENGTH, userLogin_, v);
}

std::string RequestGetUserPolicyOffline::toJson() const {
  Json::Writer w;
  w.startObject()
      .field("accountId", accountId_)
      .field("machineName", machineName_)
      .field("resourceId", resourceId_)
      .field("platform", platform_)
      .field("userLogin", userLogin_)
      .endObject();
  return w.str();
}

std::uint16_t RequestGetUserPolicyOffline::fillFromJson(const std::string& json) {
  rapidjson::Document doc;
  if (!Json::parseObject(json, doc)) return KV_ERROR_FILL_REQUEST_GET_USER_POLICY_OFFLINE_FROM_JSON;
  RequestGetUserPolicyOffline r;
  std::string text;
  if (!Json::getString(doc, "accountId", r.accountId_)) return KV_ERROR_FILL_REQUEST_GET_USER_POLICY_OFFLINE_ACCOUNT_ID_FROM_JSON;
  if (!Json::getString(doc, "machineName", text) || r.setMachineName(text) != 0)
    return KV_ERROR_FILL_REQUEST_GET_USER_POLICY_OFFLINE_MACHINE_NAME_FROM_JSON;
  if (!Json::getString(doc, "resourceId", r.resourceId_)) return KV_ERROR_FILL_REQUEST_GET_USER_POLICY_OFFLINE_RESOURCE_ID_FROM_JSON;
  // The platform is 0 while the request is not filled (a user not in the configuration).
  if (!Json::getUint8(doc, "platform", r.platform_) || r.platform_ > 2)
    return KV_ERROR_FILL_REQUEST_GET_USER_POLICY_OFFLINE_PLATFORM_FROM_JSON;
  if (!Json::getString(doc, "userLogin", text) || r.setUserLogin(text) != 0)
    return KV_ERROR_FILL_REQUEST_GET_USER_POLICY_OFFLINE_USER_LOGIN_FROM_JSON;
  *this = r;
  return KV_SUCCESS;
}

// ---------------------------------------------------------------- UserPolicyOffline

void UserPolicyOffline::write(Json::Writer& w) const {
  w.startObject().field("hasPolicy", hasPolicy).field("policyAllowsAuthentication", policyAllowsAuthentication);
  w.key("authTypes").boolMap(authTypes);
  w.endObject();
}

std::string UserPolicyOffline::toJson() const { return Detail::writtenJson(*this); }

std::uint16_t UserPolicyOffline::fillFromValue(const rapidjson::Value& obj) {
  if (!obj.IsObject()) return KV_ERROR_FILL_USER_POLICY_OFFLINE_FROM_JSON;
  UserPolicyOffline p;
  if (!Json::getBool(obj, "hasPolicy", p.hasPolicy)) return KV_ERROR_FILL_USER_POLICY_OFFLINE_HAS_POLICY_FROM_JSON;
  if (!Json::getBool(obj, "policyAllowsAuthentication", p.policyAllowsAuthentication))
    return KV_ERROR_FILL_USER_POLICY_OFFLINE_POLICY_ALLOWS_AUTHENTICATION_FROM_JSON;
  if (!Json::getBoolMap(obj, "authTypes", p.authTypes)) return KV_ERROR_FILL_USER_POLICY_OFFLINE_AUTH_TYPES_FROM_JSON;
  *this = p;
  return KV_SUCCESS;
}

std::string ResponseGetUserPolicyOffline::toJson() const { return Detail::arrayJson(policies_); }

std::uint16_t ResponseGetUserPolicyOffline::fillFromJson(const std::string& json) {
  return Detail::fillArrayFromText(policies_, json, KV_ERROR_FILL_RESPONSE_GET_USER_POLICY_OFFLINE_FROM_JSON);
}

// ---------------------------------------------------------------- GeolocationData

std::string GeolocationData::toJson() const {
  if (!(accuracy >= 0.0)) return std::string();
  Json::Writer w;
  w.startObject().field("latitude", latitude).field("longitude", longitude).field("accuracy", accuracy).endObject();
  return w.str();
}

std::uint16_t GeolocationData::fillFromJson(const std::string& json) {
  rapidjson::Document doc;
  if (!Json::parseObject(json, doc)) return KV_ERROR_FILL_GEOLOCATION_DATA_FROM_JSON;
  GeolocationData g;
  if (!Json::getDouble(doc, "latitude", g.latitude)) return KV_ERROR_FILL_GEOLOCATION_DATA_LATITUDE_FROM_JSON;
  if (!Json::getDouble(doc, "longitude", g.longitude)) return KV_ERROR_FILL_GEOLOCATION_DATA_LONGITUDE_FROM_JSON;
  if (!Json::getDouble(doc, "accuracy", g.accuracy) || g.accuracy < 0.0) return KV_ERROR_FILL_GEOLOCATION_DATA_ACCURACY_FROM_JSON;
  *this = g;
  return KV_SUCCESS;
}

}  // namespace Model
}  // namespace Korvath
