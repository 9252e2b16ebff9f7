#pragma once

// The service behind the push factor. The dispatcher builds one per push request on the push
// task. It checks the logon-disabled state, looks the user up, runs the push through
// KvBusinessPush and records the outcome in the user's stored record.
//
// It works on a service state of its own, copied from the service it is given, and binds
// its business objects to that copy's Config and KvCrypto. So the push task, which polls for
// up to two push timeouts, never touches the dialog's Config or KvCrypto in memory while the
// dialog thread goes on using them; what it records reaches the dialog through the
// configuration file (saved under the configuration mutexes, merged with what the dialog
// saved meanwhile), not through the dialog's Config in memory.

#include <cstdint>
#include <memory>
#include <string>

#include "Korvath/Business/KvBusinessPush.h"
#include "Korvath/KvResult.h"
#include "Korvath/Service/KvService.h"
#include "Korvath/Service/ServiceMessages.h"
#include "Korvath/Timer.h"

namespace Korvath {
namespace Service {

class KvServicePush {
 public:
  // Copies `service` (KvException when its state breaks a rule).
  explicit KvServicePush(const KvService& service);
  ~KvServicePush();
  KvServicePush(const KvServicePush&) = delete;
  KvServicePush& operator=(const KvServicePush&) = delete;

  // Sends a push to the request's user and waits for the answer; `token` may be null and,
  // once cancelled, ends the waiting early. Response type 10 and an empty text after an
  // approved push; otherwise type 5 and, when the push failed, the push screen's response.
  Model::KvResult sendPush(ServiceRequestBase request, std::uint16_t* responseType, std::string& response,
                           Utils::AutoTokenCancellationRelease* token);

  // The state this service works on (its own copy).
  KvService& getService() { return service_; }

 private:
  KvService service_;
  std::unique_ptr<Business::KvBusinessPush> kvBusinessPush_;
};

}  // namespace Service
}  // namespace Korvath
