#include "AuthenticationSdk/RandomNumber.h"

#include <stdexcept>
#include <utility>

#include "CryptoSdk/Primitives.h"

namespace AuthenticationSdk {

std::uint16_t generateRandomNumber(std::uint16_t lower, std::uint16_t upper) {
  if (lower > upper) std::swap(lower, upper);
  const std::uint32_t range = static_cast<std::uint32_t>(upper) - lower + 1;  // 1 .. 65536
  // Rejection sampling over 32-bit draws keeps every value equally likely.
  const std::uint32_t limit = static_cast<std::uint32_t>((0x100000000ull / range) * range - 1);
  for (;;) {
    CryptoSdk::Bytes r;
    if (CryptoSdk::Random::bytes(4, r) != 0) throw std::runtime_error("system random source failed");
    const std::uint32_t value = (static_cast<std::uint32_t>(r[0]) << 24) | (static_cast<std::uint32_t>(r[1]) << 16) |
                                (static_cast<std::uint32_t>(r[2]) << 8) | r[3];
    if (value <= limit) return static_cast<std::uint16_t>(lower + value % range);
  }
}

}  // namespace AuthenticationSdk
