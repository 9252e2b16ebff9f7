#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Korvath {
namespace Utils {

// Iterations of PBKDF2-HMAC-SHA-256 for new digests.
constexpr std::uint32_t kPasswordHashIterations = 100000;

// A salted, slow digest of a password, as text:
//   "pbkdf2-sha256$<iterations>$<salt, Base64>$<32-byte digest, Base64>"
// with a 16-byte salt from the cryptographic random source. Empty on failure.
std::string makePasswordHash(const std::string& password, std::uint32_t iterations = kPasswordHashIterations);
// True when `stored` is a digest of that form made from `password` (compared in
// constant time).
bool verifyPasswordHash(const std::string& password, const std::string& stored);

// Writes the digest of the master password to the agent registry value "Password".
// Neither the password nor an unsalted hash of it is ever stored. True on success.
bool storePasswordHash(const std::string& masterPassword);

// PBKDF2 (RFC 8018) with HMAC-SHA-256 as the pseudo-random function.
bool pbkdf2HmacSha256(const std::string& password, const std::vector<std::uint8_t>& salt,
                      std::uint32_t iterations, std::size_t outSize, std::vector<std::uint8_t>& out);

}  // namespace Utils
}  // namespace Korvath
