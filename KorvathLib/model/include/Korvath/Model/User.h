#pragma once

// A user as the service describes it (User), the stored per-user record (UserConfig)
// and one authenticator of a user (AuthenticatorRecord). Copies validate: a copy of a
// record that breaks a rule raises KvException with the code of the first refused field.
// Moves do not validate (they only relocate records that were valid already).

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "Korvath/Model/Json.h"

namespace Korvath {
namespace Model {

class AuthenticatorRecord {
 public:
  static constexpr std::uint8_t kModelMarletDevice = 9;
  static constexpr std::uint8_t kModelMobile = 10;
  static constexpr std::uint8_t kModelOathFirst = 11;
  static constexpr std::uint8_t kModelOathLast = 13;
  static constexpr std::size_t kSerialNumberMaxLength = 32;

  AuthenticatorRecord() = default;
  AuthenticatorRecord(const AuthenticatorRecord&) = default;
  AuthenticatorRecord(AuthenticatorRecord&&) noexcept = default;
  // Validated assignment: raises KvException 5010 (model), 5011 (serial number) or 5012 (blob).
  AuthenticatorRecord& operator=(const AuthenticatorRecord& other);
  AuthenticatorRecord& operator=(AuthenticatorRecord&&) noexcept = default;
  bool operator==(const AuthenticatorRecord& o) const;

  // 0 or the code of the first field that breaks its rule.
  std::uint16_t validate() const;
  static bool isValidBlobLength(std::size_t length);

  std::uint16_t setModel(std::uint8_t model);                  // 9..13, else 5010
  std::uint16_t setSerialNumber(const std::string& serial);    // 1..32, else 5011
  std::uint16_t setBlob(const std::string& blob);              // 280, 152, 172 or 216, else 5012
  void setDeviceId(std::uint32_t id) { deviceId_ = id; }
  std::uint8_t getModel() const { return model_; }
  const std::string& getSerialNumber() const { return serialNumber_; }
  const std::string& getBlob() const { return blob_; }
  std::uint32_t getDeviceId() const { return deviceId_; }
  // The first HOTP counter that this machine moved the authenticator past and that the service
  // has not seen: the one-time codes from it up to the blob's counter were used here. Stored
  // only on this machine; none by default.
  bool hasUsedHereFrom() const { return usedHereFrom_ != kNotUsedHere; }
  std::uint64_t getUsedHereFrom() const { return usedHereFrom_; }
  void setUsedHereFrom(std::uint64_t counter) { usedHereFrom_ = counter; }
  void clearUsedHereFrom() { usedHereFrom_ = kNotUsedHere; }

  std::string toJson() const;
  // The same object written into an open writer (inside a larger document).
  void writeTo(Json::Writer& w) const;
  std::uint16_t fillFromJson(const std::string& json);
  std::uint16_t fillFromValue(const rapidjson::Value& obj);

 private:
  std::uint8_t model_ = 0;
  std::string serialNumber_;
  std::string blob_;
  std::uint32_t deviceId_ = 0;
  static constexpr std::uint64_t kNotUsedHere = ~std::uint64_t{0};
  std::uint64_t usedHereFrom_ = kNotUsedHere;
};

using AuthFactorMap = std::map<std::string, bool>;

class User {
 public:
  static constexpr std::size_t kLoginMaxLength = 100;

  User() = default;
  User(const User& other);             // validated
  User(User&&) noexcept = default;
  User& operator=(const User& other);  // validated
  User& operator=(User&&) noexcept = default;
  virtual ~User() = default;
  // Field by field: the user fields only.
  bool operator==(const User& o) const;

  virtual std::uint16_t validate() const;

  std::uint16_t setUserLogin(const std::string& login);  // 1..100, else 5013
  const std::string& getUserLogin() const { return login_; }
  void setEmail(const std::string& email) { email_ = email; }
  const std::string& getEmail() const { return email_; }
  void setOverAllocated(bool v) { overAllocated_ = v; }
  bool isOverAllocated() const { return overAllocated_; }
  void setQuarantine(bool v) { quarantine_ = v; }
  bool isQuarantine() const { return quarantine_; }
  void setBlocked(bool v) { blocked_ = v; }
  bool isBlocked() const { return blocked_; }
  void setHasPolicy(bool v) { hasPolicy_ = v; }
  bool getHasPolicy() const { return hasPolicy_; }
  void setAuthTypes(const AuthFactorMap& m) { authTypes_ = m; }
  const AuthFactorMap& getAuthTypes() const { return authTypes_; }
  // A missing key counts as off.
  bool isAuthTypeEnabled(const std::string& factor) const;
  // Replaces the list by validated copies; 0 or the refused field's code (list unchanged then).
  std::uint16_t setAuthenticators(const std::vector<AuthenticatorRecord>& list);
  const std::vector<AuthenticatorRecord>& getAuthenticators() const { return authenticators_; }
  void setAuthenticatorForgottenExpiryTimestamp(std::uint64_t ms) { forgottenExpiryMs_ = ms; }
  std::uint64_t getAuthenticatorForgottenExpiryTimestamp() const { return forgottenExpiryMs_; }

  virtual std::string toJson() const;
  virtual std::uint16_t fillFromJson(const std::string& json);
  virtual std::uint16_t fillFromValue(const rapidjson::Value& obj);

 protected:
  // Writes the user keys into an object that the caller has opened.
  void writeUserFields(Json::Writer& w) const;

 private:
  void copyUserFields(const User& other);

  std::string login_;
  std::string email_;
  bool overAllocated_ = false;
  bool quarantine_ = false;
  bool blocked_ = false;
  bool hasPolicy_ = false;
  AuthFactorMap authTypes_;
  std::vector<AuthenticatorRecord> authenticators_;
  std::uint64_t forgottenExpiryMs_ = 0;

  friend class UserConfig;
};

class UserConfig : public User {
 public:
  static constexpr std::size_t kPasswordMaxLength = 300;

  UserConfig() = default;
  UserConfig(const UserConfig& other);  // validated
  UserConfig(UserConfig&&) noexcept = default;
  // Takes the service's view of a user; the stored-only fields keep their defaults.
  explicit UserConfig(const User& user);
  UserConfig& operator=(const UserConfig& other);  // validated
  UserConfig& operator=(UserConfig&&) noexcept = default;
  // Field by field: the user fields and the stored-only fields.
  bool operator==(const UserConfig& o) const;
  bool operator!=(const UserConfig& o) const { return !(*this == o); }

  std::uint16_t validate() const override;

  std::uint16_t setPassword(const std::string& password);  // 0..300, else 5015
  const std::string& getPassword() const { return password_; }
  void setFallbackExpiration(std::uint64_t ft) { fallbackExpiration_ = ft; }
  std::uint64_t getFallbackExpiration() const { return fallbackExpiration_; }
  // Lower-cased; "", "password", "otp", "qrcode" or "push", else 5016 (old value kept).
  std::uint16_t setLastAuthType(const std::string& type);
  const std::string& getLastAuthType() const { return lastAuthType_; }
  void setAutoSendPush(bool v) { autoSendPush_ = v; }
  bool getAutoSendPush() const { return autoSendPush_; }
  void setPolicyAllowsAuthentication(bool v) { policyAllowsAuthentication_ = v; }
  bool getPolicyAllowsAuthentication() const { return policyAllowsAuthentication_; }
  void setLastAuthTime(std::uint64_t ft) { lastAuthTime_ = ft; }
  std::uint64_t getLastAuthTime() const { return lastAuthTime_; }
  // Wrong forgot-token verification codes in a row checked on this machine, and when they
  // blocked its offline activation (FILETIME, 0 = not blocked).
  void setForgotTokenFailures(std::uint8_t n) { forgotTokenFailures_ = n; }
  std::uint8_t getForgotTokenFailures() const { return forgotTokenFailures_; }
  void setForgotTokenBlockedAt(std::uint64_t ft) { forgotTokenBlockedAt_ = ft; }
  std::uint64_t getForgotTokenBlockedAt() const { return forgotTokenBlockedAt_; }
  // Set from the moment a code checked on this machine is counted in the file until its
  // outcome is saved: a record read with it set holds an attempt whose outcome was never
  // saved, already counted as a refusal.
  void setOfflineCheckPending(bool v) { offlineCheckPending_ = v; }
  bool getOfflineCheckPending() const { return offlineCheckPending_; }
  // The clock's reading (FILETIME) when the user's forgot-token pass was granted here or last
  // brought, new or again, by the service; 0 = not known. A clock that reads earlier than it
  // has been set back since the grant.
  void setForgotTokenGrantedAt(std::uint64_t ft) { forgotTokenGrantedAt_ = ft; }
  std::uint64_t getForgotTokenGrantedAt() const { return forgotTokenGrantedAt_; }

  // Replaces the fields that the service owns by those of `user`, keeping the stored-only
  // fields. Validated; 0 or the refused field's code (record unchanged then).
  std::uint16_t updateFromUser(const User& user);

  std::string toJson() const override;
  // The same object written into an open writer (inside a larger document).
  void writeTo(Json::Writer& w) const;
  std::uint16_t fillFromJson(const std::string& json) override;
  std::uint16_t fillFromValue(const rapidjson::Value& obj) override;

 private:
  std::string password_;
  std::uint64_t fallbackExpiration_ = 0;
  std::string lastAuthType_;
  bool autoSendPush_ = true;
  bool policyAllowsAuthentication_ = true;
  std::uint64_t lastAuthTime_ = 0;
  std::uint8_t forgotTokenFailures_ = 0;
  std::uint64_t forgotTokenBlockedAt_ = 0;
  bool offlineCheckPending_ = false;
  std::uint64_t forgotTokenGrantedAt_ = 0;
};

// Validation of a factor name given as a last authentication type.
bool isValidLastAuthType(const std::string& lowerCased);

}  // namespace Model
}  // namespace Korvath
