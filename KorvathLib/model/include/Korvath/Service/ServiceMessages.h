#pragma once

// The JSON-text messages between the dialog's dispatcher and the services. Requests carry
// what the user typed; responses carry what the dialog shows next. Every fillFromJson
// leaves the message unchanged when it returns a non-zero fill code.

#include <cstdint>
#include <string>

#include "Korvath/Model/Json.h"
#include "Korvath/Model/TransactionData.h"
#include "Korvath/Model/User.h"

namespace Korvath {
namespace Service {

class ServiceRequestBase {
 public:
  static constexpr std::size_t kLoginMaxLength = 100;
  static constexpr std::size_t kPasswordMaxLength = 300;

  virtual ~ServiceRequestBase() = default;

  std::uint16_t setUserLogin(const std::string& login);  // 0..100, else 5013 (never cut)
  const std::string& getUserLogin() const { return userLogin_; }
  std::uint16_t setUserPassword(const std::string& password);  // 0..300, else 5015
  const std::string& getUserPassword() const { return userPassword_; }
  void setCheckRememberPassword(bool v) { checkRememberPassword_ = v; }
  bool getCheckRememberPassword() const { return checkRememberPassword_; }
  // Carried beside the request; not part of its JSON form.
  void setAutoSendPush(bool v) { autoSendPush_ = v; }
  bool getAutoSendPush() const { return autoSendPush_; }

  std::string toJson() const;
  std::uint16_t fillFromJson(const std::string& json);
  virtual std::uint16_t fillFromValue(const rapidjson::Value& obj);

 protected:
  virtual void writeFields(Model::Json::Writer& w) const;
  std::uint16_t readBase(const rapidjson::Value& obj);
  virtual std::uint16_t documentCode() const;

 private:
  std::string userLogin_;
  std::string userPassword_;
  bool checkRememberPassword_ = false;
  bool autoSendPush_ = true;
};

class ServiceRequestAuthOTP : public ServiceRequestBase {
 public:
  void setAuthData(const std::string& v) { authData_ = v; }
  const std::string& getAuthData() const { return authData_; }
  std::uint16_t fillFromValue(const rapidjson::Value& obj) override;

 protected:
  void writeFields(Model::Json::Writer& w) const override;
  std::uint16_t documentCode() const override;

 private:
  std::string authData_;
};

class ServiceRequestAuthQRCode : public ServiceRequestBase {
 public:
  ServiceRequestAuthQRCode() = default;
  ServiceRequestAuthQRCode(const ServiceRequestAuthQRCode&) = default;
  // Copies the message as it is; the transaction data was validated when it was set.
  ServiceRequestAuthQRCode& operator=(const ServiceRequestAuthQRCode& other);
  void setAuthData(const std::string& v) { authData_ = v; }
  const std::string& getAuthData() const { return authData_; }
  void setCommand(const std::string& v) { command_ = v; }
  const std::string& getCommand() const { return command_; }
  std::uint16_t setTransactionId(const std::string& id);  // empty or 36, else 5031
  const std::string& getTransactionId() const { return transactionId_; }
  void setOnLine(bool v) { onLine_ = v; }
  bool getOnLine() const { return onLine_; }
  // Validated copy: 0 or the record's code (record unchanged then).
  std::uint16_t setTransactionData(const Model::TransactionData& data);
  const Model::TransactionData& getTransactionData() const { return transactionData_; }
  std::uint16_t fillFromValue(const rapidjson::Value& obj) override;

 protected:
  void writeFields(Model::Json::Writer& w) const override;
  std::uint16_t documentCode() const override;

 private:
  std::string authData_;
  std::string command_;
  std::string transactionId_;
  bool onLine_ = true;
  Model::TransactionData transactionData_;
};

class ServiceRequestActiveForgotAuthenticator : public ServiceRequestBase {
 public:
  void setTime(std::uint32_t hours) { time_ = hours; }
  std::uint32_t getTime() const { return time_; }
  void setChallenge(const std::string& v) { challenge_ = v; }
  const std::string& getChallenge() const { return challenge_; }
  void setAuthData(const std::string& v) { authData_ = v; }
  const std::string& getAuthData() const { return authData_; }
  std::uint16_t fillFromValue(const rapidjson::Value& obj) override;

 protected:
  void writeFields(Model::Json::Writer& w) const override;
  std::uint16_t documentCode() const override;

 private:
  std::uint32_t time_ = 0;
  std::string challenge_;
  std::string authData_;
};

class ServiceResponseBase {
 public:
  ServiceResponseBase();
  virtual ~ServiceResponseBase() = default;

  std::uint16_t setUserLogin(const std::string& login);        // 0..100, else 5013
  const std::string& getUserLogin() const { return userLogin_; }
  std::uint16_t setUserPassword(const std::string& password);  // 0..300, else 5015
  const std::string& getUserPassword() const { return userPassword_; }
  void setCheckRememberPassword(bool v) { checkRememberPassword_ = v; }
  bool getCheckRememberPassword() const { return checkRememberPassword_; }
  void setEnableRememberPassword(bool v) { enableRememberPassword_ = v; }
  bool getEnableRememberPassword() const { return enableRememberPassword_; }
  void setEnableForgotAuthenticator(bool v) { enableForgotAuthenticator_ = v; }
  bool getEnableForgotAuthenticator() const { return enableForgotAuthenticator_; }
  void setAuthTypes(const Model::AuthFactorMap& m) { authTypes_ = m; }
  const Model::AuthFactorMap& getAuthTypes() const { return authTypes_; }
  // Lower-cased; "otp", "qrcode" or "push", else 5016 (old value kept).
  std::uint16_t setLastAuthType(const std::string& type);
  const std::string& getLastAuthType() const { return lastAuthType_; }
  void setAutoSendPush(bool v) { autoSendPush_ = v; }
  bool getAutoSendPush() const { return autoSendPush_; }
  void setPolicyAllowsAuthentication(bool v) { policyAllowsAuthentication_ = v; }
  bool getPolicyAllowsAuthentication() const { return policyAllowsAuthentication_; }

  std::string toJson() const;
  std::uint16_t fillFromJson(const std::string& json);
  virtual std::uint16_t fillFromValue(const rapidjson::Value& obj);

 protected:
  virtual void writeFields(Model::Json::Writer& w) const;
  std::uint16_t readBase(const rapidjson::Value& obj);
  virtual std::uint16_t documentCode() const;

 private:
  std::string userLogin_;
  std::string userPassword_;
  bool checkRememberPassword_ = true;
  bool enableRememberPassword_ = true;
  bool enableForgotAuthenticator_ = true;
  Model::AuthFactorMap authTypes_;
  std::string lastAuthType_ = "push";
  bool autoSendPush_ = true;
  bool policyAllowsAuthentication_ = false;
};

class ServiceResponseAuthOTP : public ServiceResponseBase {
 public:
  void setAuthDataSize(std::uint8_t v) { authDataSize_ = v; }
  std::uint8_t getAuthDataSize() const { return authDataSize_; }
  std::uint16_t fillFromValue(const rapidjson::Value& obj) override;

 protected:
  void writeFields(Model::Json::Writer& w) const override;
  std::uint16_t documentCode() const override;

 private:
  std::uint8_t authDataSize_ = 6;
};

class ServiceResponseAuthQRCode : public ServiceResponseBase {
 public:
  ServiceResponseAuthQRCode() = default;
  ServiceResponseAuthQRCode(const ServiceResponseAuthQRCode&) = default;
  // Copies the message as it is; the transaction data was validated when it was set.
  ServiceResponseAuthQRCode& operator=(const ServiceResponseAuthQRCode& other);
  void setAuthDataSize(std::uint8_t v) { authDataSize_ = v; }
  std::uint8_t getAuthDataSize() const { return authDataSize_; }
  void setCommand(const std::string& v) { command_ = v; }
  const std::string& getCommand() const { return command_; }
  std::uint16_t setTransactionId(const std::string& id);  // empty or 36, else 5031
  const std::string& getTransactionId() const { return transactionId_; }
  void setOnLine(bool v) { onLine_ = v; }
  bool getOnLine() const { return onLine_; }
  std::uint16_t setTransactionData(const Model::TransactionData& data);  // record unchanged on refusal
  const Model::TransactionData& getTransactionData() const { return transactionData_; }
  std::uint16_t fillFromValue(const rapidjson::Value& obj) override;

 protected:
  void writeFields(Model::Json::Writer& w) const override;
  std::uint16_t documentCode() const override;

 private:
  std::uint8_t authDataSize_ = 6;
  std::string command_;
  std::string transactionId_;
  bool onLine_ = false;
  Model::TransactionData transactionData_;
};

class ServiceResponseActiveForgotAuthenticator : public ServiceResponseBase {
 public:
  void setTime(std::uint32_t hours) { time_ = hours; }
  std::uint32_t getTime() const { return time_; }
  void setChallenge(const std::string& v) { challenge_ = v; }
  const std::string& getChallenge() const { return challenge_; }
  void setOnLine(bool v) { onLine_ = v; }
  bool getOnLine() const { return onLine_; }
  void setAuthDataSize(std::uint8_t v) { authDataSize_ = v; }
  std::uint8_t getAuthDataSize() const { return authDataSize_; }
  std::uint16_t fillFromValue(const rapidjson::Value& obj) override;

 protected:
  void writeFields(Model::Json::Writer& w) const override;
  std::uint16_t documentCode() const override;

 private:
  std::uint32_t time_ = 0;
  std::string challenge_;
  bool onLine_ = true;
  std::uint8_t authDataSize_ = 6;
};

class ServiceResponseAuthForgotAuthenticator : public ServiceResponseBase {
 public:
  void setOnLine(bool v) { onLine_ = v; }
  bool getOnLine() const { return onLine_; }
  std::uint16_t fillFromValue(const rapidjson::Value& obj) override;

 protected:
  void writeFields(Model::Json::Writer& w) const override;
  std::uint16_t documentCode() const override;

 private:
  bool onLine_ = true;
};

// What the About dialog shows. Plain fields; copy assignment copies every one.
struct ServiceResponseAbout {
  std::string region;
  std::string environment;
  std::string accountAlias;
  std::string resourceAlias;
  std::string machineName;
  std::string latestVersionKorvath;
  std::string supportMessage;
  std::string version;
  std::string platform;
  std::string build;
  std::uint16_t pushTimeout = 60;
  std::int64_t syncInterval = 3600;
  bool offlineAuthentication = false;
  bool enableRememberPassword = true;
  bool enableForgotAuthenticator = true;
  std::int64_t timeDifference = 0;

  std::string toJson() const;
  std::uint16_t fillFromJson(const std::string& json);
};

}  // namespace Service
}  // namespace Korvath
