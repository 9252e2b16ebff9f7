#pragma once

// "Forgot token" mode: a user without the mobile authenticator reads an activation code
// (the challenge) to an administrator, who answers with a six-digit verification code and a
// number of hours; once the code is accepted (by the service, or on this machine by the
// SDK's per-account emergency check) the user signs in with the first factor alone until
// the hours run out.
//
// This object makes the challenge, builds the activation and forgot-token authentication
// screens, checks an activation online or offline, records the outcome in the configuration
// and builds the user's normal factor screen. It borrows the configuration, the crypto object
// and the shared business object of the service that creates it and keeps no state.
//
// Failures are returned as codes. The exceptions of the data model are left to the calling
// service, which reports them with its own code: the online check's request record refuses
// a login outside 1 to 100 characters or a challenge of 1 to 3 by throwing KvException.

#include <cstdint>
#include <string>

#include "Korvath/Business/KvBusiness.h"
#include "Korvath/Config.h"
#include "Korvath/KvCrypto.h"
#include "Korvath/KvResult.h"
#include "Korvath/Model/CloudRecords.h"
#include "Korvath/Model/User.h"

namespace Korvath {
namespace Business {

class KvBusinessForgotAuthenticator {
 public:
  // One hour as FILETIME units (100 ns).
  static constexpr std::uint64_t kFileTimeHour = 36000000000ull;

  // All three are borrowed from the service that creates this object.
  KvBusinessForgotAuthenticator(Config* config, KvCrypto* kvCrypto, KvBusiness* kvBusiness);

  // Six decimal digits from two draws of 100..999; the first and fourth are never 0.
  static std::string generateChallenge();

  // Response type 6: ServiceResponseActiveForgotAuthenticator with a new challenge. Always 0.
  std::uint16_t genResponseActiveForgotAuthenticator(std::string userLogin, std::string userPassword,
                                                     bool checkRememberPassword, std::string lastAuthType,
                                                     Model::AuthFactorMap authFactors, std::uint16_t& responseType,
                                                     std::string& response);
  // Response type 7: ServiceResponseAuthForgotAuthenticator. Always 0.
  std::uint16_t genResponseAuthForgotAuthenticator(std::string userLogin, std::string userPassword,
                                                   bool checkRememberPassword, std::string lastAuthType,
                                                   Model::AuthFactorMap authFactors, std::uint16_t& responseType,
                                                   std::string& response);

  // The SDK's emergency check of the code against {type 0, account, the stored login, hours,
  // challenge}. 5030 (code not 6 characters), 5037 (challenge not 1 to 10), or the SDK's code.
  std::uint16_t offlineAuthenticateActiveForgotAuthenticator(Model::UserConfig user, std::uint32_t hours,
                                                             std::string challenge, std::string authenticationCode);
  // Wrong codes checked here are limited as the offline OTP's are, with the same numbers of
  // the authentication settings: after `authenticationAttempts` wrong codes in a row (0: no
  // limit; 255 at most) the user's offline activation is blocked for `autoUnblockTime`
  // minutes (0: until the service accepts an activation). The count lives in the user's
  // stored record, so a new dialog does not start it again.
  //
  // Before an offline check is made: 0 when a wrong code is counted in `user` (with the block
  // it may bring) and the code is to be checked; otherwise the code must not be checked:
  // 5105 while the user is blocked (a lifted or re-dated block is in `user`), 5030 or 5037
  // for a code or challenge that the check refuses unread (nothing counted).
  std::uint16_t countOfflineActivationAttempt(Model::UserConfig& user, const std::string& challenge,
                                              const std::string& authenticationCode, std::uint64_t nowFileTime) const;

  // The service checks the code. Ends with KvBusiness::disableKorvath unless the request
  // record refuses the login or the challenge (KvException, nothing sent).
  Model::KvResult onlineAuthenticateActiveForgotAuthenticator(std::string userLogin, std::int32_t hours,
                                                              std::string challenge, std::string authenticationCode);

  // After an accepted online activation: synchronizes the configuration (which brings the
  // service's forgot-token expiry) and saves the user's record.
  Model::KvResult updateConfigUserForgotAuthenticator(std::string userLogin, std::int32_t hours,
                                                      std::string lastAuthType);
  Model::KvResult postConfigSaveAddUserForgotAuthenticator(Model::RequestConfig request, std::string userLogin,
                                                           std::int32_t hours, std::string lastAuthType);
  // Saves the configuration unchanged when the user is not stored.
  std::uint16_t saveConfigUserForgotAuthenticatorByUserLogin(std::string userLogin, std::int32_t hours,
                                                             std::string lastAuthType);
  // Offline (online false) the record's fallbackExpiration becomes now + hours; then the
  // record is saved through KvBusiness::saveConfigUserByUserConfig (no remembered password).
  // An accepted activation ends the count of wrong codes and any block.
  std::uint16_t saveConfigUserForgotAuthenticatorByUserConfig(Model::UserConfig& user, std::uint16_t userIndex,
                                                              std::int32_t hours, std::string lastAuthType,
                                                              bool online);

  // The user's normal factor screen (push screen with an empty login for an unknown user).
  std::uint16_t loadUser(std::string userLogin, std::uint16_t& responseType, std::string& response);
  // "qrcode" -> the QR-code screen (a command when one can be had), "otp" -> the OTP screen,
  // anything else -> the push screen.
  std::uint16_t genResponse(std::string userLogin, std::string userPassword, bool checkRememberPassword,
                            std::string lastAuthType, Model::AuthFactorMap authFactors, std::uint16_t& responseType,
                            std::string& response);

  // now + hours as FILETIME, hours sign-extended; held within the unsigned 64-bit range.
  static std::uint64_t fallbackExpirationAfter(std::uint64_t nowFileTime, std::int32_t hours);

 private:
  // True while `user` may not have a code checked offline. A block whose time has passed is
  // lifted in `user`; one dated after `nowFileTime` (the clock was set back) is dated now.
  bool isForgotTokenBlocked(Model::UserConfig& user, std::uint64_t nowFileTime) const;
  // One more wrong code for `user`, blocking at the limit.
  void countForgotTokenFailure(Model::UserConfig& user, std::uint64_t nowFileTime) const;

  Config* config_;
  KvCrypto* kvCrypto_;
  KvBusiness* kvBusiness_;
};

}  // namespace Business
}  // namespace Korvath
