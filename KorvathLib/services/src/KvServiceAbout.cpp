#include "Korvath/Service/KvServiceAbout.h"

#include "Korvath/ResultCodes.h"

namespace Korvath {
namespace Service {

KvServiceAbout::KvServiceAbout(KvService* service)
    : config_(service ? &service->getConfig() : nullptr),
      stateMutex_(service ? service->stateMutex() : nullptr) {}

std::uint16_t KvServiceAbout::about(ServiceResponseAbout&) { return KV_ERROR_FAIL_SERVICE_ABOUT_KORVATH; }

}  // namespace Service
}  // namespace Korvath
