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

// The same, made only when needed. `check` (in and out) is what the last call left: a
// keyed mark binding the password to the registry value that was written for it. When the
// registry still holds a value that this mark binds to `masterPassword`, nothing is computed
// or written and the answer is true at once (one HMAC, no PBKDF2). Otherwise the digest is
// made and written as storePasswordHash does, and `check` becomes the mark of the new value
// (left as it was when the write failed). The mark is keyed by the password itself, so it
// must be kept where the password is kept (the sealed configuration), never beside the
// digest. `written` tells whether a digest was made and written.
bool storePasswordHashIfChanged(const std::string& masterPassword, std::string& check, bool& written);

// PBKDF2 (RFC 8018) with HMAC-SHA-256 as the pseudo-random function (the crypto library's own).
bool pbkdf2HmacSha256(const std::string& password, const std::vector<std::uint8_t>& salt,
                      std::uint32_t iterations, std::size_t outSize, std::vector<std::uint8_t>& out);

}  // namespace Utils
}  // namespace Korvath
