#pragma once

// The business object that every factor shares: the user view the dialog shows, the
// registration and configuration synchronization with the cloud service, the logon-disabled
// state, the clock-rollback guard and the user policy refresh.
//
// It borrows the Config and KvCrypto of the KvService that holds it; a copy (the push task's)
// works on the very same two objects. It takes no lock of its own: the service layer keeps
// the accesses of two threads from overlapping, and no operation here may be called with
// such a lock held across its cloud exchange.
//
// Every operation presets its result to its own failure code, catches the standard
// exceptions (KvException included), logs them and returns that code; nothing is thrown.

#include <cstdint>
#include <string>
#include <vector>

#include "Korvath/Config.h"
#include "Korvath/KvCrypto.h"
#include "Korvath/KvResult.h"
#include "Korvath/Model/CloudRecords.h"
#include "Korvath/Model/TransactionData.h"
#include "Korvath/Model/User.h"
#include "Korvath/Service/ServiceMessages.h"

namespace Korvath {
namespace Business {

// Factor texts inside the system.
constexpr const char* AUTH_FACTOR_PUSH = "push";
constexpr const char* AUTH_FACTOR_QRCODE = "qrcode";
constexpr const char* AUTH_FACTOR_OTP = "otp";
constexpr const char* AUTH_FACTOR_PASSWORD = "password";

// Response types returned beside every service response text.
enum ResponseType : std::uint16_t {
  RESPONSE_TYPE_NONE = 0,
  RESPONSE_TYPE_NOT_REGISTERED = 1,
  RESPONSE_TYPE_OTP = 2,
  RESPONSE_TYPE_QRCODE_COMMAND = 3,
  RESPONSE_TYPE_QRCODE = 4,
  RESPONSE_TYPE_PUSH = 5,
  RESPONSE_TYPE_FORGOT_ACTIVATION = 6,
  RESPONSE_TYPE_FORGOT_AUTHENTICATION = 7,
  RESPONSE_TYPE_STORED = 10,
};

// 2018-01-01 00:00:00 UTC as a FILETIME: a clock earlier than this has been set back.
constexpr std::uint64_t kTimeTamperFloorFileTime = Config::kClockFloorFileTime;
// How far the clock may read behind the latest time the agent stored (the configuration's
// lastRun) without counting as set back: 5 minutes as FILETIME, room for the corrections of a
// time synchronization. A pass can be stretched by no more than this.
constexpr std::uint64_t kClockSetBackTolerance = 5ull * 60ull * 10000000ull;

class KvBusiness {
 public:
  KvBusiness() = default;
  // Binds the object to its service's configuration and crypto object (borrowed).
  KvBusiness(Config* config, KvCrypto* kvCrypto, std::string clientIp = std::string());
  KvBusiness(const KvBusiness&) = default;
  // Member by member, pointers included.
  KvBusiness& operator=(const KvBusiness&) = default;

  Config* getConfig() const { return config_; }
  KvCrypto* getKvCrypto() const { return kvCrypto_; }
  void setClientIp(const std::string& clientIp) { clientIp_ = clientIp; }
  const std::string& getClientIp() const { return clientIp_; }

  // ------------------------------------------------------------ user view

  // 0, 5103 (user not stored; response untouched) or 5215.
  std::uint16_t loadUserConfig(std::string userLogin, Service::ServiceResponseBase& response);
  // 0 or 5215; refused values leave the response's fields as they were.
  std::uint16_t genResponseBase(std::string userLogin, std::string userPassword, bool checkRememberPassword,
                                std::string authFactorPredominant, Model::AuthFactorMap authFactors, bool autoSendPush,
                                Service::ServiceResponseBase& response);
  // "qrcode" 4, "otp" 2, anything else 5 (exact, case-sensitive).
  std::uint16_t genResponseType(std::string authFactor);

  std::string getInitialAuthFactor(Model::UserConfig user);
  std::string getAuthFactor(std::string authType, Model::UserConfig user);
  bool isAuthFactorPush(std::string authType, Model::UserConfig user);
  bool isAuthFactorQRCode(std::string authType, Model::UserConfig user);
  bool isAuthFactorOTP(std::string authType, Model::UserConfig user);
  std::string getPredominantAuthFactor(Model::UserConfig user);
  Model::AuthFactorMap getDefaultAuthFactors();

  bool areAllAuthenticatorsBlocked(Model::UserConfig user);
  bool hasMobileAuthenticatorActive(Model::AuthenticatorRecord authenticator);
  bool hasOathHardwareTokenActive(Model::AuthenticatorRecord authenticator);
  bool hasMarletAuthenticatorActive(Model::AuthenticatorRecord authenticator);

  // Stores the push panel's auto-send choice for the user it shows and saves the file.
  // Code 0, or 6000 when the user is not stored, its record is refused or the file cannot be
  // saved (the option then stays as the file holds it, in memory too).
  Model::KvResult updateAutoSendPushOptionByUserName(std::string userLogin, const bool& autoSendPush);
  // The stored flag; false for a login the configuration does not hold.
  bool getAutoSendPushStatusByUsername(std::string userLogin);

  // Copies accountId, resourceId (decimal text) and the integration key into the KvCrypto.
  void setKvCryptoInputs();

  Model::TransactionData getTransactionData(std::string userLogin);

  // ------------------------------------------------------------ registration and sync

  // 0, or 5020 / 5022; see the algorithm in docs/business.md.
  std::uint16_t mountRequestConfigBase(std::string accountId, std::uint32_t resourceId, std::string integrationKey,
                                       Model::RequestConfig& request);
  // Appends currentLogin (when not empty) then every other stored login; 0 or 5214.
  std::uint16_t mountUserLogins(std::vector<std::string>& userLogins, const std::string& currentLogin);

  Model::KvResult iniConfig(std::string region, std::string environment, std::string accountId,
                            std::uint32_t resourceId, std::string integrationKey);
  Model::KvResult updateConfig(std::string currentLogin);
  Model::KvResult updateConfigListUser(std::vector<std::string> userLogins);
  Model::KvResult updateConfigUser(std::string userLogin, std::string userPassword, bool checkRememberPassword,
                                   std::string authType, bool resetForgotTokenExpiration, std::int32_t autoSendPush);
  Model::KvResult updateConfigAddUser(std::string userLogin, std::string userPassword, bool checkRememberPassword,
                                      std::string authType, std::int32_t autoSendPush);
  // One configuration exchange; always ends with disableKorvath (which saves the file).
  Model::KvResult postConfig(Model::RequestConfig request);
  Model::KvResult postConfigSave(Model::RequestConfig request);
  Model::KvResult postConfigSaveAddUser(Model::RequestConfig request, std::string userLogin, std::string userPassword,
                                        bool checkRememberPassword, std::string authType,
                                        bool resetForgotTokenExpiration, std::int32_t autoSendPush);
  std::uint16_t saveConfigUserByUserLogin(std::string userLogin, std::string userPassword, bool checkRememberPassword,
                                          std::string authType, bool resetFallbackExpiration,
                                          std::int32_t autoSendPush);
  // `user` is changed in place; userIndex must name an entry of the stored list (else 5214).
  std::uint16_t saveConfigUserByUserConfig(Model::UserConfig& user, std::uint16_t userIndex, std::string userPassword,
                                           bool checkRememberPassword, std::string authType,
                                           bool resetFallbackExpiration);
  // Keeps or ends the logon-disabled state after a cloud exchange and saves the file.
  void disableKorvath(std::uint16_t result);
  // The start-up's clock guard: true when the clock was set back (isClockSetBack), every
  // forgot-token pass then ended and saved; otherwise a pass granted after now ends, lastRun
  // moves to now and the file is saved.
  bool timeTamperDetect();
  // The same guard where a forgot-token pass is about to be honoured: when the clock was set
  // back every pass is ended and saved, and the answer is true (also when the guard itself
  // failed, so that no pass is honoured on its word). Either way a pass granted after the
  // clock's reading ends (the clock was set back since, if only within the tolerance).
  bool endPassesIfClockSetBack();
  // The clock reads before 2018, or more than kClockSetBackTolerance behind lastRun.
  bool isClockSetBack(std::uint64_t nowFileTime) const;

  // ------------------------------------------------------------ policies

  Model::KvResult postUserPolicy(Model::RequestGetUserPolicy request, Model::AuthFactorMap& authFactors);
  Model::KvResult postUserPolicyOffline(Model::RequestGetUserPolicyOffline request);

 private:
  // postConfig; when the caller saves the configuration itself after a success, that
  // success leaves the save to it (postConfigSave, postConfigSaveAddUser).
  Model::KvResult exchangeConfig(Model::RequestConfig request, bool callerSavesOnSuccess);
  // disableKorvath, saving or not.
  void updateLogonDisabled(std::uint16_t result, bool save);
  // A synchronization's server time (Unix seconds, 0 = none) that this clock agrees with, within
  // the tolerance, while the latest times stored (lastRun, lastSync) lie ahead of both: those
  // were read from a clock that ran ahead. Every pass ends, and both times come back to now.
  void trustServiceTime(std::int64_t serverTimeSeconds, std::uint64_t nowFileTime);
  // Ends the forgot-token passes, the local one and the service's, of every user (`every`), or
  // of the users whose pass was granted after `nowFileTime`; saves when one ended.
  void endPasses(std::uint64_t nowFileTime, bool every);

  Config* config_ = nullptr;
  KvCrypto* kvCrypto_ = nullptr;
  std::string clientIp_;
};

}  // namespace Business
}  // namespace Korvath
