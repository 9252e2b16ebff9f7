#pragma once

// Dynamic truncation shared by HOTP and OCRA (RFC 4226, section 5.3).

#include <string>

#include "CryptoSdk/Primitives.h"

namespace AuthenticationSdk {
namespace Detail {

inline std::string truncate(const CryptoSdk::Bytes& mac, unsigned digits) {
  const std::size_t offset = mac.back() & 0x0F;
  const std::uint32_t binary = (static_cast<std::uint32_t>(mac[offset] & 0x7F) << 24) |
                               (static_cast<std::uint32_t>(mac[offset + 1]) << 16) |
                               (static_cast<std::uint32_t>(mac[offset + 2]) << 8) |
                               static_cast<std::uint32_t>(mac[offset + 3]);
  std::uint64_t modulus = 1;
  for (unsigned i = 0; i < digits; ++i) modulus *= 10;
  std::string text = std::to_string(binary % modulus);
  if (text.size() < digits) text.insert(0, digits - text.size(), '0');
  return text;
}

}  // namespace Detail
}  // namespace AuthenticationSdk
