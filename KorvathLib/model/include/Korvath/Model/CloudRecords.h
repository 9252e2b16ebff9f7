#pragma once

// Records of the cloud protocol: the opened (plain) JSON of every request and reply body.
// The client writes requests and reads replies; the cloud simulator does the reverse with
// the same code. Key names and limits: docs/model.md.

#include <cstdint>
#include <string>
#include <vector>

#include "Korvath/Model/Json.h"
#include "Korvath/Model/TransactionData.h"
#include "Korvath/Model/User.h"
#include "Korvath/ServerConfig.h"

namespace Korvath {
namespace Model {

// ---------------------------------------------------------------- configuration

class RequestConfig {
 public:
  void setAccountId(const std::string& v) { accountId_ = v; }
  const std::string& getAccountId() const { return accountId_; }
  void setResourceId(std::uint32_t v) { resourceId_ = v; }
  std::uint32_t getResourceId() const { return resourceId_; }
  std::uint16_t setMachineName(const std::string& v);  // 0..255, else 5022
  const std::string& getMachineName() const { return machineName_; }
  std::uint16_t setPlatform(std::uint8_t v);  // 1 or 2, else 5021
  std::uint8_t getPlatform() const { return platform_; }
  // Every login 1..100, else 5013 and the list is left unchanged.
  std::uint16_t setUserLogins(const std::vector<std::string>& logins);
  const std::vector<std::string>& getUserLogins() const { return userLogins_; }

  std::string toJson() const;
  std::uint16_t fillFromJson(const std::string& json);

 private:
  std::string accountId_;
  std::uint32_t resourceId_ = 0;
  std::string machineName_;
  std::vector<std::string> userLogins_;
  std::uint8_t platform_ = 1;
};

class ResponseConfig {
 public:
  void setAccountId(const std::string& v) { accountId_ = v; }
  const std::string& getAccountId() const { return accountId_; }
  std::uint16_t setAccountAlias(const std::string& v);  // 0 or 3..255, else 5024
  const std::string& getAccountAlias() const { return accountAlias_; }
  void setResourceId(std::uint32_t v) { resourceId_ = v; }
  std::uint32_t getResourceId() const { return resourceId_; }
  std::uint16_t setResourceAlias(const std::string& v);  // 0 or 3..255, else 5026
  const std::string& getResourceAlias() const { return resourceAlias_; }
  void setMasterPassword(const std::string& v) { masterPassword_ = v; }
  const std::string& getMasterPassword() const { return masterPassword_; }
  // The service's clock as Unix seconds when it answered; 0 = no time reference.
  void setServerTime(std::int64_t v) { serverTime_ = v; }
  std::int64_t getServerTime() const { return serverTime_; }
  std::uint16_t setServerConfig(const ServerConfig& v);  // 0 or its validate() code
  const ServerConfig& getServerConfig() const { return serverConfig_; }
  std::uint16_t setUsers(const std::vector<User>& users);  // 0 or the first refused user's code
  const std::vector<User>& getUsers() const { return users_; }

  std::string toJson() const;
  std::uint16_t fillFromJson(const std::string& json);

 private:
  std::string accountId_;
  std::string accountAlias_;
  std::uint32_t resourceId_ = 0;
  std::string resourceAlias_;
  std::string masterPassword_;
  std::int64_t serverTime_ = 0;
  ServerConfig serverConfig_;
  std::vector<User> users_;
};

// ---------------------------------------------------------------- transactions

class UserTransaction {
 public:
  UserTransaction() = default;
  UserTransaction(const UserTransaction&) = default;
  UserTransaction& operator=(const UserTransaction& other);  // copies as it is

  // 0 or the code of the first field that breaks its rule (5029, 5013, the data's code).
  std::uint16_t validate() const;
  std::uint16_t setLoginType(const std::string& v);  // exactly "LOGIN" or "EMAIL", else 5029
  const std::string& getLoginType() const { return loginType_; }
  std::uint16_t setLogin(const std::string& v);  // 1..100, else 5013
  const std::string& getLogin() const { return login_; }
  std::uint16_t setTransactionData(const TransactionData& v);  // validated copy
  const TransactionData& getTransactionData() const { return transactionData_; }

  void write(Json::Writer& w) const;
  std::string toJson() const;
  std::uint16_t fillFromJson(const std::string& json);
  std::uint16_t fillFromValue(const rapidjson::Value& obj);

 private:
  std::string loginType_ = "LOGIN";
  std::string login_;
  TransactionData transactionData_;
};

// The fields shared by the transaction and authentication requests.
class RequestBaseFields {
 public:
  std::uint16_t setMachineName(const std::string& v);  // 0..255, else 5022
  const std::string& getMachineName() const { return machineName_; }
  std::uint16_t setPlatform(std::uint8_t v);  // 1 or 2, else 5021
  std::uint8_t getPlatform() const { return platform_; }
  // Compares the lower-cased text with "otp", "qrcode", "push" (else 5016); stored upper-cased.
  std::uint16_t setAuthenticationFactor(const std::string& v);
  const std::string& getAuthenticationFactor() const { return authenticationFactor_; }
  void setClientIp(const std::string& v) { clientIp_ = v; }
  const std::string& getClientIp() const { return clientIp_; }
  void setIsRdp(bool v) { isRdp_ = v; }
  bool getIsRdp() const { return isRdp_; }
  // The GeolocationData JSON text (empty when there is no position).
  void setGeolocationData(const std::string& v) { geolocationData_ = v; }
  const std::string& getGeolocationData() const { return geolocationData_; }

 protected:
  void writeBase(Json::Writer& w) const;
  // Fill codes in the order machineName, platform, authenticationFactor, clientIp, isRdp, geolocationData.
  std::uint16_t readBase(const rapidjson::Value& obj, const std::uint16_t codes[6]);

 private:
  std::string machineName_;
  std::uint8_t platform_ = 1;
  std::string authenticationFactor_ = "PUSH";
  std::string clientIp_;
  bool isRdp_ = false;
  std::string geolocationData_;
};

class RequestTransaction : public RequestBaseFields {
 public:
  std::uint16_t setUserTransaction(const UserTransaction& v);  // validated copy
  const UserTransaction& getUserTransaction() const { return userTransaction_; }
  std::string toJson() const;
  std::uint16_t fillFromJson(const std::string& json);

 private:
  UserTransaction userTransaction_;
};

class ResponseTransaction {
 public:
  void setTransactionStatus(const std::string& v) { transactionStatus_ = v; }
  const std::string& getTransactionStatus() const { return transactionStatus_; }
  void setTransactionId(const std::string& v) { transactionId_ = v; }
  const std::string& getTransactionId() const { return transactionId_; }
  void setCommand(const std::string& v) { command_ = v; }
  const std::string& getCommand() const { return command_; }
  std::string toJson() const;
  // 0, or 5500 (not a JSON object), 5501 (transactionStatus), 5502 (transactionId), 5503 (command).
  std::uint16_t fillFromJson(const std::string& json);

 private:
  std::string transactionStatus_;
  std::string transactionId_;
  std::string command_;
};

// ---------------------------------------------------------------- authentications

class UserAuthentication {
 public:
  std::uint16_t setLoginType(const std::string& v);  // upper-cased; "LOGIN" or "EMAIL", else 5029
  const std::string& getLoginType() const { return loginType_; }
  std::uint16_t setLogin(const std::string& v);  // 1..100, else 5013
  const std::string& getLogin() const { return login_; }
  std::uint16_t setAuthenticationData(const std::string& v);  // 4..10, else 5030
  const std::string& getAuthenticationData() const { return authenticationData_; }
  std::uint16_t setTransactionId(const std::string& v);  // refuses 1..35 characters (5031)
  const std::string& getTransactionId() const { return transactionId_; }

  void write(Json::Writer& w) const;
  std::string toJson() const;
  std::uint16_t fillFromJson(const std::string& json);
  std::uint16_t fillFromValue(const rapidjson::Value& obj);

 private:
  std::string loginType_ = "LOGIN";
  std::string login_;
  std::string authenticationData_;
  std::string transactionId_;
};

class RequestAuthentication : public RequestBaseFields {
 public:
  // Copies loginType (5029), login (5013), transactionId (5031) in this order and stops at
  // the first refusal; authenticationData is kept only when 4..10 characters (no error).
  std::uint16_t setUserAuthentication(const UserAuthentication& v);
  const UserAuthentication& getUserAuthentication() const { return userAuthentication_; }
  std::string toJson() const;
  std::uint16_t fillFromJson(const std::string& json);

 private:
  UserAuthentication userAuthentication_;
};

// ---------------------------------------------------------------- forgot token

class ActivationData {
 public:
  std::uint16_t setLogin(const std::string& v);               // 1..100, else 5013
  const std::string& getLogin() const { return login_; }
  std::uint16_t setChallenge(const std::string& v);           // 4..10, else 5037
  const std::string& getChallenge() const { return challenge_; }
  std::uint16_t setAuthenticationCode(const std::string& v);  // 4..10, else 5030
  const std::string& getAuthenticationCode() const { return authenticationCode_; }
  std::uint16_t setPeriod(const std::string& v);              // 0..3, else 5036
  const std::string& getPeriod() const { return period_; }

  void write(Json::Writer& w) const;
  std::string toJson() const;
  std::uint16_t fillFromJson(const std::string& json);
  std::uint16_t fillFromValue(const rapidjson::Value& obj);

 private:
  std::string login_;
  std::string challenge_;
  std::string authenticationCode_;
  std::string period_;
};

class RequestForgotTokenAuthenticationCode {
 public:
  std::uint16_t setMachineName(const std::string& v);  // 0..255, else 5022
  const std::string& getMachineName() const { return machineName_; }
  std::uint16_t setPlatform(std::uint8_t v);  // 1 or 2, else 5021
  std::uint8_t getPlatform() const { return platform_; }
  void setClientIp(const std::string& v) { clientIp_ = v; }
  const std::string& getClientIp() const { return clientIp_; }
  void setIsRdp(bool v) { isRdp_ = v; }
  bool getIsRdp() const { return isRdp_; }
  // Checks login (5013), challenge (5037) and period (5036) in this order and raises
  // KvException with the first failing code, leaving the record unchanged; then stores
  // them and the authentication code, whose own refusal (5030) leaves it empty.
  void setActivationData(const ActivationData& v);
  const ActivationData& getActivationData() const { return activationData_; }

  std::string toJson() const;
  std::uint16_t fillFromJson(const std::string& json);

 private:
  std::string machineName_;
  std::uint8_t platform_ = 1;
  std::string clientIp_;
  bool isRdp_ = false;
  ActivationData activationData_;
};

// ---------------------------------------------------------------- policies

class RequestGetUserPolicy {
 public:
  std::uint16_t setLoginType(const std::string& v);  // "LOGIN", "USERNAME" or "EMAIL", else 5029
  const std::string& getLoginType() const { return loginType_; }
  void setClientVersion(const std::string& v) { clientVersion_ = v; }
  const std::string& getClientVersion() const { return clientVersion_; }
  void setClientType(const std::string& v) { clientType_ = v; }
  const std::string& getClientType() const { return clientType_; }
  void setClientIp(const std::string& v) { clientIp_ = v; }
  const std::string& getClientIp() const { return clientIp_; }
  void setIsRdp(bool v) { isRdp_ = v; }
  bool getIsRdp() const { return isRdp_; }
  std::uint16_t setUserLogins(const std::vector<std::string>& v);  // each 1..100, else 5013 (unchanged)
  const std::vector<std::string>& getUserLogins() const { return userLogins_; }
  void setGeolocationData(const std::string& v) { geolocationData_ = v; }
  const std::string& getGeolocationData() const { return geolocationData_; }

  std::string toJson() const;
  std::uint16_t fillFromJson(const std::string& json);

 private:
  std::string loginType_ = "USERNAME";
  std::string clientVersion_;
  std::string clientType_;
  std::string clientIp_;
  bool isRdp_ = false;
  std::vector<std::string> userLogins_;
  std::string geolocationData_;
};

struct UserPolicy {
  std::string username;
  std::string email;
  bool hasPolicy = false;
  bool isAllowedToAuthenticate = false;
  bool isInSafeLocation = false;
  bool isInForgotToken = false;
  bool isBlocked = false;
  bool isOverallocated = false;
  bool isInQuarantine = false;
  AuthFactorMap authTypes;

  void write(Json::Writer& w) const;
  std::string toJson() const;
  std::uint16_t fillFromValue(const rapidjson::Value& obj);
};

class ResponseGetUserPolicy {
 public:
  void setUserPolicies(const std::vector<UserPolicy>& v) { policies_ = v; }
  const std::vector<UserPolicy>& getUserPolicies() const { return policies_; }
  std::string toJson() const;  // a JSON array
  std::uint16_t fillFromJson(const std::string& json);

 private:
  std::vector<UserPolicy> policies_;
};

class RequestGetUserPolicyOffline {
 public:
  void setAccountId(const std::string& v) { accountId_ = v; }
  const std::string& getAccountId() const { return accountId_; }
  std::uint16_t setMachineName(const std::string& v);  // 0..255, else 5022
  const std::string& getMachineName() const { return machineName_; }
  void setResourceId(const std::string& v) { resourceId_ = v; }  // decimal text
  const std::string& getResourceId() const { return resourceId_; }
  std::uint16_t setPlatform(std::uint8_t v);  // 1 or 2, else 5021
  std::uint8_t getPlatform() const { return platform_; }
  std::uint16_t setUserLogin(const std::string& v);  // 0..100, else 5013
  const std::string& getUserLogin() const { return userLogin_; }

  std::string toJson() const;
  std::uint16_t fillFromJson(const std::string& json);

 private:
  std::string accountId_;
  std::string machineName_;
  std::string resourceId_;
  std::uint8_t platform_ = 1;
  std::string userLogin_;
};

struct UserPolicyOffline {
  bool hasPolicy = false;
  bool policyAllowsAuthentication = false;
  AuthFactorMap authTypes;

  void write(Json::Writer& w) const;
  std::string toJson() const;
  std::uint16_t fillFromValue(const rapidjson::Value& obj);
};

class ResponseGetUserPolicyOffline {
 public:
  void setPolicies(const std::vector<UserPolicyOffline>& v) { policies_ = v; }
  const std::vector<UserPolicyOffline>& getPolicies() const { return policies_; }
  std::string toJson() const;  // a JSON array
  std::uint16_t fillFromJson(const std::string& json);

 private:
  std::vector<UserPolicyOffline> policies_;
};

// ---------------------------------------------------------------- geolocation

struct GeolocationData {
  double latitude = 0.0;
  double longitude = 0.0;
  double accuracy = -1.0;

  // {"latitude","longitude","accuracy"}; an empty text when the accuracy is below 0.
  std::string toJson() const;
  std::uint16_t fillFromJson(const std::string& json);
};

}  // namespace Model
}  // namespace Korvath
