#pragma once

// The one-time password typed in the OTP panel: checked by the service (checkOTPOnline) or by
// the rules of the agent's offline setting (checkOTP); the outcome is recorded in the user's
// stored record, and a failure answers the OTP screen for the dialog. Dialog thread only; it
// works directly on the dialog's KvService.

#include <cstdint>
#include <memory>
#include <string>

#include "Korvath/Business/KvBusinessOTP.h"
#include "Korvath/KvResult.h"
#include "Korvath/Service/KvService.h"
#include "Korvath/Service/ServiceMessages.h"

namespace Korvath {
namespace Service {

class KvServiceOTP {
 public:
  // `service` is borrowed; the business object is made over its Config, KvCrypto and KvBusiness.
  explicit KvServiceOTP(KvService* service);
  ~KvServiceOTP();
  KvServiceOTP(const KvServiceOTP&) = delete;
  KvServiceOTP& operator=(const KvServiceOTP&) = delete;

  // Response type 10 and an empty text on success; otherwise the OTP screen (type 2) when one
  // was built, or the type of the factor the user has to use instead.
  Model::KvResult checkOTPOnline(ServiceRequestAuthOTP request, std::uint16_t& responseType, std::string& response);
  // As the agent's offline setting says: with it on, a stored user's code is checked against
  // the stored blobs (whose new state is saved whatever the outcome); otherwise the service.
  Model::KvResult checkOTP(ServiceRequestAuthOTP request, std::uint16_t& responseType, std::string& response);

 private:
  // The opening both checks share: the log line, presets, the logon-disabled gate and the
  // empty login. True when the check goes on.
  bool openCheck(const char* function, const ServiceRequestAuthOTP& request, std::uint16_t& responseType,
                 std::string& response, Model::KvResult& result);
  void closeCheck(const char* function, std::uint16_t responseType, const std::string& response,
                  const Model::KvResult& result);
  // Records the outcome of a check of a stored user with the service (its result is logged only).
  void updateUser(const ServiceRequestAuthOTP& request, bool success);
  // The check against the stored blobs of the user at `index` (state mutex held), counted in
  // the configuration file before the code is checked. Any failed save answers 5102 with the
  // OTP screen, whatever the code.
  Model::KvResult checkOffline(const ServiceRequestAuthOTP& request, std::uint16_t index, std::uint16_t& responseType,
                               std::string& response);
  void reply(const ServiceRequestAuthOTP& request, const Model::AuthFactorMap& factors, std::uint16_t& responseType,
             std::string& response);
  // Before the service is asked about the code of the stored user at `index`: a code this
  // machine already accepted is refused here with the answer of a wrong code (5113 and the OTP
  // screen), since the service never saw it and would take it once more. When the record cannot
  // be read again from the file, 5102 and the OTP screen, whatever the code. True when refused.
  bool refuseCodeUsedHere(int index, const ServiceRequestAuthOTP& request, std::uint16_t& responseType,
                          std::string& response, Model::KvResult& result);
  // After the service accepted the code of the stored user at `index`: the stored counter moves
  // past it at once (saved), not only when the synchronization that follows succeeds.
  void recordServiceAcceptance(int index, const std::string& code);
  // The code of the stored user at `index` asked of the service as `askedLogin`: refused here
  // when this machine already used it (refuseCodeUsedHere); accepted, the counter moved past it
  // and the record updated. True when that settled the answer, false when the service refused
  // (`result` then holds its answer).
  bool askService(int index, const std::string& askedLogin, const ServiceRequestAuthOTP& request,
                  std::uint16_t& responseType, std::string& response, Model::KvResult& result);

  KvService* service_;
  std::unique_ptr<Business::KvBusinessOTP> kvBusinessOTP_;
};

}  // namespace Service
}  // namespace Korvath
