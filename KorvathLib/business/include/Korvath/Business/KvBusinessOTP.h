#pragma once

// The one-time password typed in the OTP panel: checked by the cloud service (online) or on
// this machine against the user's stored authenticator blobs (offline), and the reply that
// the OTP service hands back to the dialog. Keeps no state between calls; the caller decides
// which check runs and saves the user's record afterwards.

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

class KvBusinessOTP {
 public:
  // All three are borrowed from the service that creates this object.
  KvBusinessOTP(Config* config, KvCrypto* kvCrypto, KvBusiness* kvBusiness);

  // Response type 2 and a ServiceResponseAuthOTP as JSON; 0, or 5215 when building failed.
  std::uint16_t genResponseAuthOTP(std::string userLogin, std::string userPassword, std::uint8_t checkRememberPassword,
                                   Model::AuthFactorMap authFactors, std::uint16_t* responseType,
                                   std::string& response);

  // Tries the code against each stored authenticator in order; the SDK's updated state of the
  // blobs is written into `user` (not saved). 0 when one accepted it (its record then notes,
  // unless it already did, the counter from which codes were used here), otherwise the SDK's
  // code of the last one tried, or 5218 (no authenticator, or a failure; `user` then unchanged).
  std::uint16_t offlineAuthenticateOtp(Model::UserConfig& user, std::string otp);
  // The same, trying only the authenticators marked in `counted` (by countOfflineOtpAttempt).
  std::uint16_t offlineAuthenticateOtp(Model::UserConfig& user, std::string otp, const std::vector<bool>& counted);
  // Before an offline check is made: one failed attempt counted in `user` on each
  // authenticator that the check would compare the code with, as a refusal would count it;
  // `counted` marks them. 0 when one at least was counted; otherwise nothing is to be checked
  // and the result is what the check would answer (the SDK's code of the last authenticator,
  // or 5218).
  std::uint16_t countOfflineOtpAttempt(Model::UserConfig& user, const std::string& otp, std::vector<bool>& counted);

  // Whether `otp` is a one-time code this machine already accepted (or moved past) and the
  // service has not seen: the code of a counter from an authenticator's usedHereFrom up to its
  // blob's counter. Such a code must not go to the service, which would take it once more. An
  // unexpected failure counts as used (the code is then refused).
  bool isCodeUsedHere(const Model::UserConfig& user, const std::string& otp);

  // After the service accepted `otp` for `user`: the stored authenticator that shows that code
  // moves its counter past it, so the code does not pass here offline should the
  // synchronization that follows never come. True when a record changed.
  bool moveCounterPast(Model::UserConfig& user, const std::string& otp);

  // Asks the service to check the code. Always ends with KvBusiness::disableKorvath.
  Model::KvResult onlineAuthenticateOtp(std::string userLogin, std::string otp);

 private:
  Config* config_;
  KvCrypto* kvCrypto_;
  KvBusiness* kvBusiness_;
};

}  // namespace Business
}  // namespace Korvath
