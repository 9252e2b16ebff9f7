#pragma once

// The settings that the service delivers with every configuration reply, kept inside
// the configuration file. Callers read a copy (Config::getServerConfig).

#include <cstdint>
#include <string>

#include "AuthenticationSdk/AuthenticationSettings.h"
#include "Korvath/Model/Json.h"

namespace Korvath {

class ServerConfig {
 public:
  static constexpr std::uint16_t kPushTimeoutMin = 10;
  static constexpr std::uint16_t kPushTimeoutMax = 99;
  static constexpr std::uint16_t kPushTimeoutDefault = 60;
  static constexpr std::uint64_t kSyncIntervalDefault = 24;

  ServerConfig() = default;
  ServerConfig(const ServerConfig&) = default;
  // Validated assignment: raises KvException with the code of validate().
  ServerConfig& operator=(const ServerConfig& other);
  bool operator==(const ServerConfig& o) const;

  // 0, 5039 (push timeout outside 10..99) or 5020 (integration key length not 0 or 3..255).
  std::uint16_t validate() const;

  std::uint16_t setPushTimeout(std::uint16_t seconds);  // 10..99, else 5039
  std::uint16_t getPushTimeout() const { return pushTimeout_; }
  void setOffline(std::uint8_t v) { offline_ = v; }
  std::uint8_t getOffline() const { return offline_; }
  void setSyncInterval(std::uint64_t hours) { syncInterval_ = hours; }
  std::uint64_t getSyncInterval() const { return syncInterval_; }
  void setSupportMessage(const std::string& v) { supportMessage_ = v; }
  const std::string& getSupportMessage() const { return supportMessage_; }
  void setEnableRememberPassword(std::uint8_t v) { enableRememberPassword_ = v; }
  std::uint8_t getEnableRememberPassword() const { return enableRememberPassword_; }
  void setEnableForgotAuthenticator(std::uint8_t v) { enableForgotAuthenticator_ = v; }
  std::uint8_t getEnableForgotAuthenticator() const { return enableForgotAuthenticator_; }
  std::uint16_t setIntegrationKey(const std::string& key);  // 0 or 3..255, else 5020
  const std::string& getIntegrationKey() const { return integrationKey_; }
  void setLatestVersionKorvath(const std::string& v) { latestVersionKorvath_ = v; }
  const std::string& getLatestVersionKorvath() const { return latestVersionKorvath_; }
  // The service's clock minus the local clock, in seconds (0 = no time reference).
  void setTimeDifference(std::int64_t seconds) { timeDifference_ = seconds; }
  std::int64_t getTimeDifference() const { return timeDifference_; }
  // The offline settings; the integration key inside is not stored with them: the copy
  // returned carries this configuration's integrationKey, as the offline checks need it.
  void setAuthenticationSettings(const AuthenticationSdk::AuthenticationSettings& s);
  AuthenticationSdk::AuthenticationSettings getAuthenticationSettings() const;
  // The unknown-user rule: users unknown to the service may pass (see Config).
  void setAllowUnknownUsers(std::uint8_t v) { allowUnknownUsers_ = v; }
  std::uint8_t getAllowUnknownUsers() const { return allowUnknownUsers_; }

  std::string toJson() const;
  std::uint16_t fillFromJson(const std::string& json);
  std::uint16_t fillFromValue(const rapidjson::Value& obj);

 private:
  std::uint16_t pushTimeout_ = kPushTimeoutDefault;
  std::uint8_t offline_ = 0;
  std::uint64_t syncInterval_ = kSyncIntervalDefault;
  std::string supportMessage_;
  std::uint8_t enableRememberPassword_ = 0;
  std::uint8_t enableForgotAuthenticator_ = 0;
  std::string integrationKey_;
  std::string latestVersionKorvath_;
  std::int64_t timeDifference_ = 0;
  AuthenticationSdk::AuthenticationSettings authenticationSettings_;
  std::uint8_t allowUnknownUsers_ = 0;
};

// Shared length rule of integration keys and aliases: empty, or 3 to 255 characters.
inline bool isEmptyOr3To255(const std::string& s) { return s.empty() || (s.size() >= 3 && s.size() <= 255); }

}  // namespace Korvath
