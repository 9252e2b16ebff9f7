#pragma once

// The QR-code factor, a challenge and response: the command that the QR-code panel shows
// for the user's mobile authenticator (from the cloud service, or made on this machine
// from the stored mobile-authenticator blobs), the check of the code the authenticator
// answers with (at the service, or OCRA against the stored blobs), and the replies the
// QR-code service hands back to the dialog.
//
// The object keeps no state between calls; it borrows the configuration, the crypto object
// and the shared business object of the service that creates it. No operation throws.

#include <cstdint>
#include <string>
#include <vector>

#include "Korvath/Business/KvBusiness.h"
#include "Korvath/Config.h"
#include "Korvath/KvCrypto.h"
#include "Korvath/KvResult.h"
#include "Korvath/Model/User.h"

namespace Korvath {
namespace Business {

class KvBusinessQRCode {
 public:
  // All three are borrowed from the service that creates this object.
  KvBusinessQRCode(Config* config, KvCrypto* kvCrypto, KvBusiness* kvBusiness);

  // A command for a login: a login the configuration does not hold always asks the service
  // (online := 1); a stored user goes through the UserConfig overload. An empty login gives
  // 5203 with empty transactionId and commandQRcode and online 0.
  // transactionId is written only when the command came from the service; online is 1 when
  // the code must later be checked at the service, 0 when on this machine.
  Model::KvResult generateCommandQRCode(std::string userLogin, std::string& transactionId,
                                        std::string& jsonTransactionData, std::string& commandQRcode,
                                        std::uint8_t& online);
  // The decision for a stored user: all authenticators blocked -> the service (5135 when it
  // cannot be reached); offline authentication not allowed -> the service; otherwise made on
  // this machine when the user has an active mobile authenticator (else 5107).
  Model::KvResult generateCommandQRCode(Model::UserConfig user, std::string& transactionId,
                                        std::string& jsonTransactionData, std::string& commandQRcode,
                                        std::uint8_t& online);
  // The same out-parameters, always from the service.
  Model::KvResult generateCommandQRCodeOnline(std::string userLogin, std::string& transactionId,
                                              std::string& jsonTransactionData, std::string& commandQRcode,
                                              std::uint8_t& online);
  Model::KvResult generateCommandQRCodeOnline(Model::UserConfig user, std::string& transactionId,
                                              std::string& jsonTransactionData, std::string& commandQRcode,
                                              std::uint8_t& online);

  // Opens a QR-code transaction at the service. 0 only when the reply was opened and read
  // (transactionId and commandQRcode then hold the service's values). Always ends with
  // KvBusiness::disableKorvath.
  Model::KvResult onlineGenerateCommandQRCode(std::string userLogin, std::string& transactionId,
                                              std::string& jsonTransactionData, std::string& commandQRcode);
  // The command made by the SDK from every mobile authenticator of the user (active or not);
  // 0, the SDK's code, or 5217.
  std::uint16_t offlineGenerateCommandQRCode(Model::UserConfig user, std::string transactionId,
                                             std::string& jsonTransactionData, std::string& commandQRcode);

  // The service checks the answer. Always ends with KvBusiness::disableKorvath.
  Model::KvResult onlineAuthenticateQRCode(std::string userLogin, std::string transactionId,
                                           std::string authenticationCode);
  // OCRA check against the user's mobile authenticators in order; the SDK's new state of the
  // blobs is written into `user` (not saved). When every authenticator is blocked the service
  // is asked instead and `user` stays as it was. 0, the SDK's code of the last mobile
  // authenticator tried, or 5218 (no mobile authenticator, or a failure: `user` unchanged).
  std::uint16_t offlineAuthenticateQRCode(Model::UserConfig& user, std::string transactionId,
                                          std::string jsonTransactionData, std::string authenticationCode);
  // The same on this machine only, trying only the authenticators marked in `counted` (by
  // countOfflineQRCodeAttempt); never the service.
  std::uint16_t offlineAuthenticateQRCode(Model::UserConfig& user, std::string transactionId,
                                          std::string jsonTransactionData, std::string authenticationCode,
                                          const std::vector<bool>& counted);
  // Before an offline check is made: one failed attempt counted in `user` on each mobile
  // authenticator that the check would compare the code with, as a refusal would count it;
  // `counted` marks them. 0 when one at least was counted; otherwise nothing is to be
  // checked and the result is what the check would answer (the SDK's code, or 5218).
  std::uint16_t countOfflineQRCodeAttempt(Model::UserConfig& user, const std::string& transactionId,
                                          const std::string& jsonTransactionData, const std::string& authenticationCode,
                                          std::vector<bool>& counted);

  // Response type 3 and a ServiceResponseBase without a command; 0 or 5215.
  std::uint16_t genResponseGenCmdQRCode(std::string userLogin, std::string userPassword,
                                        std::uint8_t checkRememberPassword, Model::AuthFactorMap authFactors,
                                        std::uint16_t& responseType, std::string& response);
  // Response type 4 and a ServiceResponseAuthQRCode with the command, transaction and online
  // flag; 0 or 5215.
  std::uint16_t genResponseAuthQRCode(std::string userLogin, std::string userPassword,
                                      std::uint8_t checkRememberPassword, Model::AuthFactorMap authFactors,
                                      std::string transactionId, std::string jsonTransactionData, std::string command,
                                      std::uint8_t onLine, std::uint16_t& responseType, std::string& response);

 private:
  Config* config_;
  KvCrypto* kvCrypto_;
  KvBusiness* kvBusiness_;
};

}  // namespace Business
}  // namespace Korvath
