#pragma once

// One push authentication against the cloud service: the transaction that makes the
// service send a notification to the user's mobile authenticator, then the poll of its
// result every 2 seconds until the user approves or denies, the push timeout of the
// server settings passes or the caller cancels. There is no offline push.
//
// Runs on the push task, not on the dialog thread. It holds no lock: the configuration is
// only read here, and the user's record is updated by the caller after the push.

#include <cstdint>
#include <string>

#include "Korvath/Business/KvBusiness.h"
#include "Korvath/Config.h"
#include "Korvath/KvCrypto.h"
#include "Korvath/KvResult.h"
#include "Korvath/Model/User.h"
#include "Korvath/Timer.h"

namespace Korvath {

class RESTClient;

namespace Business {

class KvBusinessPush {
 public:
  static constexpr int kMaxAttempts = 2;
  static constexpr std::int64_t kPollStepMs = 2000;
  static constexpr std::uint32_t kRetryPauseMs = 200;

  // All three are borrowed from the service that creates this object.
  KvBusinessPush(Config* config, KvCrypto* kvCrypto, KvBusiness* kvBusiness);

  // Sends the push and waits for its outcome; `token` may be null. Code 0 when the user
  // approved; 5118 when nobody answered in time; otherwise the failure (see docs/business.md).
  Model::KvResult authenticatePush(std::string userLogin, Utils::AutoTokenCancellationRelease* token);

  // The polling loop of one attempt, on the client that sent the transaction.
  Model::KvResult getPushResult(RESTClient& restClient, std::string transactionId,
                                Utils::AutoTokenCancellationRelease* token);

  // The service response shown after a push that did not simply succeed: response type 5
  // and a ServiceResponseBase as JSON. 0, or 5215 when it could not be built.
  std::uint16_t genResponseSendPush(std::string userLogin, std::string userPassword, std::uint8_t checkRememberPassword,
                                    Model::AuthFactorMap authFactors, std::uint16_t* responseType,
                                    std::string& response);

 private:
  Config* config_;
  KvCrypto* kvCrypto_;
  KvBusiness* kvBusiness_;
};

}  // namespace Business
}  // namespace Korvath
