#pragma once

// Parts of the platform layer that each flavour implements and the portable code
// reaches only through Platform.h.

#include <cstdint>
#include <string>

#include "Korvath/Platform.h"

namespace Korvath {
namespace Platform {
namespace detail {

IRegistry& systemRegistry();
IClock& systemClock();

// Offset between the FILETIME epoch (1601) and the Unix epoch, in milliseconds.
constexpr std::int64_t kFileTimeEpochOffsetMs = 11644473600000LL;

inline std::uint64_t unixMsToFileTime(std::int64_t unixMs) {
  return static_cast<std::uint64_t>(unixMs + kFileTimeEpochOffsetMs) * 10000ULL;
}

// Name of the lock guarding creation of the machine secret.
constexpr const char* kMachineSecretMutex = "Global\\PELLORA_MUTEX_KEY";
constexpr std::size_t kMachineSecretSize = 32;

}  // namespace detail
}  // namespace Platform
}  // namespace Korvath
