#pragma once

#include <cstdint>

namespace AuthenticationSdk {

// A number from `lower` to `upper` inclusive (the bounds are swapped when given the
// wrong way round), drawn without bias from the operating system's cryptographic
// random source. Throws std::runtime_error if that source fails, rather than hand out
// a predictable challenge.
std::uint16_t generateRandomNumber(std::uint16_t lower, std::uint16_t upper);

}  // namespace AuthenticationSdk
