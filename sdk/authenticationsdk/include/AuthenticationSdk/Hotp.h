#pragma once

// HOTP (RFC 4226): HMAC over the 8-byte big-endian moving factor, dynamic truncation,
// decimal code of 6 to 8 digits. SHA-256 and SHA-512 use the same truncation (as in
// RFC 6238), for tokens whose seed is meant for those hashes.

#include <cstdint>
#include <string>

#include "CryptoSdk/Primitives.h"

namespace AuthenticationSdk {
namespace Hotp {

constexpr unsigned kMinDigits = 6;
constexpr unsigned kMaxDigits = 8;

// 0 and the code (zero-padded to `digits`), or an AuthenticationSdk / CryptoSdk code.
std::uint16_t generate(const CryptoSdk::Bytes& secret, std::uint64_t counter, unsigned digits,
                       CryptoSdk::HashAlgorithm algorithm, std::string& code);

}  // namespace Hotp
}  // namespace AuthenticationSdk
