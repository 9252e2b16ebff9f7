#pragma once

// What the About dialog shows: the program version, the agent's identity in the service
// and the settings the service delivered.

#include <cstdint>

#include "Korvath/Config.h"
#include "Korvath/Service/KvService.h"
#include "Korvath/Service/ServiceMessages.h"

namespace Korvath {
namespace Service {

class KvServiceAbout {
 public:
  // Borrows the service's Config (and its state mutex, taken while the response is filled).
  explicit KvServiceAbout(KvService* service);

  // 0, or 5209 when the response could not be filled (what was filled stays).
  std::uint16_t about(ServiceResponseAbout& response);

 private:
  Config* config_ = nullptr;
  std::shared_ptr<KvService::StateMutex> stateMutex_;
};

}  // namespace Service
}  // namespace Korvath
