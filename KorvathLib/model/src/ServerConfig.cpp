#include "Korvath/ServerConfig.h"

#include "RecordSupport.h"
#include "Korvath/KvException.h"
#include "Korvath/ResultCodes.h"

namespace Korvath {

namespace {
std::string settingsToJson(const AuthenticationSdk::AuthenticationSettings& s) {
  Model::Json::Writer w;
  w.startObject()
      .field("accountId", s.accountId)
      .field("loginAttempts", s.loginAttempts)
      .field("authenticationAttempts", s.authenticationAttempts)
      .field("autoUnblockTime", s.autoUnblockTime)
      .field("syncTime", s.syncTime)
      .field("timeWindow", s.timeWindow)
      .endObject();
  return w.str();
}

std::uint16_t settingsFromValue(const rapidjson::Value& obj, AuthenticationSdk::AuthenticationSettings& out) {
  namespace J = Model::Json;
  if (!obj.IsObject()) return KV_ERROR_FILL_AUTHENTICATION_SETTINGS_FROM_JSON;
  AuthenticationSdk::AuthenticationSettings r;
  if (!J::getString(obj, "accountId", r.accountId)) return KV_ERROR_FILL_AUTHENTICATION_SETTINGS_ACCOUNT_ID_FROM_JSON;
  if (!J::getUint32(obj, "loginAttempts", r.loginAttempts))
    return KV_ERROR_FILL_AUTHENTICATION_SETTINGS_LOGIN_ATTEMPTS_FROM_JSON;
  if (!J::getUint32(obj, "authenticationAttempts", r.authenticationAttempts))
    return KV_ERROR_FILL_AUTHENTICATION_SETTINGS_AUTHENTICATION_ATTEMPTS_FROM_JSON;
  if (!J::getUint32(obj, "autoUnblockTime", r.autoUnblockTime))
    return KV_ERROR_FILL_AUTHENTICATION_SETTINGS_AUTO_UNBLOCK_TIME_FROM_JSON;
  if (!J::getUint32(obj, "syncTime", r.syncTime)) return KV_ERROR_FILL_AUTHENTICATION_SETTINGS_SYNC_TIME_FROM_JSON;
  if (!J::getUint32(obj, "timeWindow", r.timeWindow)) return KV_ERROR_FILL_AUTHENTICATION_SETTINGS_TIME_WINDOW_FROM_JSON;
  out = r;
  return KV_SUCCESS;
}
}  // namespace

void ServerConfig::setAuthenticationSettings(const AuthenticationSdk::AuthenticationSettings& s) {
  authenticationSettings_ = s;
  authenticationSettings_.integrationKey.clear();
}

AuthenticationSdk::AuthenticationSettings ServerConfig::getAuthenticationSettings() const {
  AuthenticationSdk::AuthenticationSettings s = authenticationSettings_;
  s.integrationKey = integrationKey_;
  return s;
}

ServerConfig& ServerConfig::operator=(const ServerConfig& other) {
  if (this == &other) return *this;
  std::uint16_t code = other.validate();
  if (code != 0) throw Exception::KvException(code);
  pushTimeout_ = other.pushTimeout_;
  offline_ = other.offline_;
  syncInterval_ = other.syncInterval_;
  supportMessage_ = other.supportMessage_;
  enableRememberPassword_ = other.enableRememberPassword_;
  enableForgotAuthenticator_ = other.enableForgotAuthenticator_;
  integrationKey_ = other.integrationKey_;
  latestVersionKorvath_ = other.latestVersionKorvath_;
  timeDifference_ = other.timeDifference_;
  authenticationSettings_ = other.authenticationSettings_;
  allowUnknownUsers_ = other.allowUnknownUsers_;
  return *this;
}

bool ServerConfig::operator==(const ServerConfig& o) const {
  const AuthenticationSdk::AuthenticationSettings& a = authenticationSettings_;
  const AuthenticationSdk::AuthenticationSettings& b = o.authenticationSettings_;
  return pushTimeout_ == o.pushTimeout_ && offline_ == o.offline_ && syncInterval_ == o.syncInterval_ &&
         supportMessage_ == o.supportMessage_ && enableRememberPassword_ == o.enableRememberPassword_ &&
         enableForgotAuthenticator_ == o.enableForgotAuthenticator_ && integrationKey_ == o.integrationKey_ &&
         latestVersionKorvath_ == o.latestVersionKorvath_ && timeDifference_ == o.timeDifference_ &&
         allowUnknownUsers_ == o.allowUnknownUsers_ && a.accountId == b.accountId &&
         a.loginAttempts == b.loginAttempts && a.authenticationAttempts == b.authenticationAttempts &&
         a.autoUnblockTime == b.autoUnblockTime && a.syncTime == b.syncTime && a.timeWindow == b.timeWindow;
}

std::uint16_t ServerConfig::validate() const {
  if (pushTimeout_ < kPushTimeoutMin || pushTimeout_ > kPushTimeoutMax) return KV_ERROR_INVALID_CONFIG;
  if (!isEmptyOr3To255(integrationKey_)) return KV_ERROR_INVALID_INTEGRATION_KEY_LENGTH;
  return KV_SUCCESS;
}

std::uint16_t ServerConfig::setPushTimeout(std::uint16_t seconds) {
  if (seconds < kPushTimeoutMin || seconds > kPushTimeoutMax) return KV_ERROR_INVALID_CONFIG;
  pushTimeout_ = seconds;
  return KV_SUCCESS;
}

std::uint16_t ServerConfig::setIntegrationKey(const std::string& key) {
  if (!isEmptyOr3To255(key)) return KV_ERROR_INVALID_INTEGRATION_KEY_LENGTH;
  integrationKey_ = key;
  return KV_SUCCESS;
}

std::string ServerConfig::toJson() const {
  Model::Json::Writer w;
  w.startObject()
      .field("pushTimeout", pushTimeout_)
      .field("offline", offline_)
      .field("syncInterval", syncInterval_)
      .field("supportMessage", supportMessage_)
      .field("enableRememberPassword", enableRememberPassword_)
      .field("enableForgotAuthenticator", enableForgotAuthenticator_)
      .field("integrationKey", integrationKey_)
      .field("latestVersionKorvath", latestVersionKorvath_)
      .field("timeDifference", timeDifference_);
  w.key("authenticationSettings").raw(settingsToJson(authenticationSettings_));
  w.field("allowUnknownUsers", allowUnknownUsers_).endObject();
  return w.str();
}

std::uint16_t ServerConfig::fillFromJson(const std::string& json) {
  return Detail::fillFromText(*this, json, KV_ERROR_FILL_SERVER_CONFIG_FROM_JSON);
}

std::uint16_t ServerConfig::fillFromValue(const rapidjson::Value& obj) {
  namespace J = Model::Json;
  if (!obj.IsObject()) return KV_ERROR_FILL_SERVER_CONFIG_FROM_JSON;
  ServerConfig s;
  std::uint16_t timeout = 0;
  if (!J::getUint16(obj, "pushTimeout", timeout) || s.setPushTimeout(timeout) != 0)
    return KV_ERROR_FILL_SERVER_CONFIG_PUSH_TIMEOUT_FROM_JSON;
  if (!J::getUint8(obj, "offline", s.offline_)) return KV_ERROR_FILL_SERVER_CONFIG_OFFLINE_FROM_JSON;
  if (!J::getUint64(obj, "syncInterval", s.syncInterval_)) return KV_ERROR_FILL_SERVER_CONFIG_SYNC_INTERVAL_FROM_JSON;
  if (!J::getString(obj, "supportMessage", s.supportMessage_)) return KV_ERROR_FILL_SERVER_CONFIG_SUPPORT_MESSAGE_FROM_JSON;
  if (!J::getUint8(obj, "enableRememberPassword", s.enableRememberPassword_))
    return KV_ERROR_FILL_SERVER_CONFIG_ENABLE_REMEMBER_PASSWORD_FROM_JSON;
  if (!J::getUint8(obj, "enableForgotAuthenticator", s.enableForgotAuthenticator_))
    return KV_ERROR_FILL_SERVER_CONFIG_ENABLE_FORGOT_AUTHENTICATOR_FROM_JSON;
  std::string key;
  if (!J::getString(obj, "integrationKey", key) || s.setIntegrationKey(key) != 0)
    return KV_ERROR_FILL_SERVER_CONFIG_INTEGRATION_KEY_FROM_JSON;
  if (!J::getString(obj, "latestVersionKorvath", s.latestVersionKorvath_))
    return KV_ERROR_FILL_SERVER_CONFIG_LATEST_VERSION_KORVATH_FROM_JSON;
  if (!J::getInt64(obj, "timeDifference", s.timeDifference_)) return KV_ERROR_FILL_SERVER_CONFIG_TIME_DIFFERENCE_FROM_JSON;
  const rapidjson::Value* settings = J::member(obj, "authenticationSettings");
  if (settings == nullptr || !settings->IsObject()) return KV_ERROR_FILL_SERVER_CONFIG_AUTHENTICATION_SETTINGS_FROM_JSON;
  std::uint16_t code = settingsFromValue(*settings, s.authenticationSettings_);
  if (code != 0) return code;
  if (!J::getUint8(obj, "allowUnknownUsers", s.allowUnknownUsers_)) return KV_ERROR_FILL_SERVER_CONFIG_ALLOW_UNKNOWN_USERS_FROM_JSON;
  *this = s;
  return KV_SUCCESS;
}

}  // namespace Korvath
