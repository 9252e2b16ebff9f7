#pragma once

// A password-only sign-in for a stored user who has no second factor enabled. Dialog thread
// only; it works on the dialog's KvService, so it sees the configuration the dialog read.

#include <cstdint>

#include "Korvath/Service/KvService.h"
#include "Korvath/Service/ServiceMessages.h"

namespace Korvath {
namespace Service {

class KvServicePassword {
 public:
  // `service` is borrowed.
  explicit KvServicePassword(KvService* service);

  // 0 (the sign-in is recorded), the logon-disabled code, 5013 (empty login), 5104 (user not
  // stored) or 5115 (the user has a second factor enabled).
  std::uint16_t checkPassword(ServiceRequestBase request);

 private:
  KvService* service_;
};

}  // namespace Service
}  // namespace Korvath
