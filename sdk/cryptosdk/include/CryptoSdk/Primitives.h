#pragma once

// Thin wrappers over the platform's cryptography: OpenSSL libcrypto natively, CNG
// (bcrypt) on Windows. Every function returns 0 or a CryptoSdk code (9000 up) and
// leaves its output empty on failure. Nothing here implements a cipher or a hash.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace CryptoSdk {

using Bytes = std::vector<std::uint8_t>;

enum class HashAlgorithm : std::uint8_t { Sha1 = 1, Sha256 = 2, Sha512 = 3 };

// Digest size in bytes (20, 32, 64); 0 for a value outside the enumeration.
std::size_t digestSize(HashAlgorithm algorithm);

namespace Hash {
std::uint16_t compute(HashAlgorithm algorithm, const std::uint8_t* data, std::size_t size, Bytes& digest);
std::uint16_t compute(HashAlgorithm algorithm, const Bytes& data, Bytes& digest);
std::uint16_t compute(HashAlgorithm algorithm, const std::string& data, Bytes& digest);
}  // namespace Hash

namespace Hmac {
// Any key length, the empty key included (RFC 2104).
std::uint16_t compute(HashAlgorithm algorithm, const Bytes& key, const std::uint8_t* data, std::size_t size,
                      Bytes& mac);
std::uint16_t compute(HashAlgorithm algorithm, const Bytes& key, const Bytes& data, Bytes& mac);
std::uint16_t compute(HashAlgorithm algorithm, const Bytes& key, const std::string& data, Bytes& mac);
}  // namespace Hmac

namespace Aes {
constexpr std::size_t kBlockSize = 16;
enum class Mode : std::uint8_t { Ecb, Cbc };
// Raw block operations without padding: the key has 16, 24 or 32 bytes, the input a
// multiple of 16 bytes; CBC takes a 16-byte IV, ECB ignores it.
std::uint16_t encrypt(Mode mode, const Bytes& key, const Bytes& iv, const Bytes& input, Bytes& output);
std::uint16_t decrypt(Mode mode, const Bytes& key, const Bytes& iv, const Bytes& input, Bytes& output);
// CBC with PKCS#7 padding. Decryption refuses a wrong padding; callers that must not
// reveal padding errors authenticate the ciphertext before decrypting it.
std::uint16_t encryptCbcPkcs7(const Bytes& key, const Bytes& iv, const Bytes& plain, Bytes& cipher);
std::uint16_t decryptCbcPkcs7(const Bytes& key, const Bytes& iv, const Bytes& cipher, Bytes& plain);
}  // namespace Aes

namespace Random {
// Bytes from the operating system's cryptographic source (RAND_bytes / BCryptGenRandom).
std::uint16_t bytes(std::size_t count, Bytes& out);
}  // namespace Random

namespace Kdf {
// NIST SP 800-108 key derivation in counter mode with HMAC-SHA-512 as PRF and a 32-bit
// big-endian counter (starting at 1) placed before the fixed input data:
//   K(i) = HMAC-SHA-512(key, [i]_32 || fixedInput), output = first outSize bytes of K(1) || K(2) ...
std::uint16_t counterHmacSha512(const Bytes& key, const Bytes& fixedInput, std::size_t outSize, Bytes& out);
// The same with fixedInput = label || 0x00 || context || [outSize * 8]_32.
std::uint16_t deriveKey(const Bytes& key, const std::string& label, const Bytes& context, std::size_t outSize,
                        Bytes& out);
// PBKDF2 (RFC 8018) with HMAC-SHA-256, done by the platform's own implementation
// (PKCS5_PBKDF2_HMAC / BCryptDeriveKeyPBKDF2): at least one iteration and one output byte.
std::uint16_t pbkdf2HmacSha256(const Bytes& password, const Bytes& salt, std::uint32_t iterations,
                               std::size_t outSize, Bytes& out);
}  // namespace Kdf

// Comparison whose time does not depend on where the two buffers differ.
bool constantTimeEqual(const std::uint8_t* a, const std::uint8_t* b, std::size_t size);
bool constantTimeEqual(const Bytes& a, const Bytes& b);

// Overwrites a buffer that held secret material before it is released.
void wipe(Bytes& data);
void wipe(std::string& data);

}  // namespace CryptoSdk
