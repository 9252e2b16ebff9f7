#pragma once

// Authenticator models and their blobs. A blob is Base64 text of a fixed-size record
// (layouts in docs/sdk.md): a clear header with the model and the state that the offline
// checks update (active, blocked, failed attempts, HOTP counter, block time), the token
// secret sealed with AES-256-CBC under a key derived from the account (its integration
// key and identifier), an HMAC-SHA-256 tag over the record under the same derivation,
// and a CRC-32. The header can be read without any key; the secret and the tag need the
// account's integration key.

#include <cstdint>
#include <string>

#include "CryptoSdk/Primitives.h"

namespace AuthenticationSdk {

enum AuthenticatorModel : std::uint8_t {
  MODEL_MARLET_DEVICE = 9,
  MODEL_MOBILE_AUTHENTICATOR = 10,
  MODEL_OATH_TOKEN_FIRST = 11,
  MODEL_OATH_TOKEN_LAST = 13,
};

// What the readers report; callers zero the record before the call.
struct AuthenticatorInfo {
  std::uint8_t active = 0;          // 1 = active
  std::uint8_t blocked = 0;         // 1 = blocked
  std::uint8_t model = 0;
  std::uint8_t failedAttempts = 0;  // consecutive wrong codes
  std::uint64_t counter = 0;        // next HOTP moving factor expected
  std::uint64_t blockedAt = 0;      // Unix seconds (service clock) of the block, 0 = none
  std::uint8_t otpDigits = 0;
  std::uint8_t otpAlgorithm = 0;    // 1 SHA-1, 2 SHA-256, 3 SHA-512
};
struct MobileInfo : AuthenticatorInfo {};
struct HardwareTokenInfo : AuthenticatorInfo {};
struct DeviceInfo : AuthenticatorInfo {};

namespace Blob {

// Base64 lengths: mobile authenticators and Marlet devices 280; OATH hardware tokens
// 152, 172 or 216 (the smallest that holds the secret: up to 32, 48 or 80 bytes).
constexpr std::size_t kMobileLength = 280;
constexpr std::size_t kDeviceLength = 280;
bool isAllowedLength(std::size_t base64Length);
bool isHardwareTokenLength(std::size_t base64Length);

struct Definition {
  std::uint8_t model = MODEL_MOBILE_AUTHENTICATOR;
  CryptoSdk::Bytes secret;  // 16 to 64 bytes
  CryptoSdk::HashAlgorithm otpAlgorithm = CryptoSdk::HashAlgorithm::Sha1;
  unsigned otpDigits = 6;
  std::uint64_t counter = 0;
  bool active = true;
};

// Builds a blob for a token secret (the service's side, and test fixtures). The
// secret is sealed at once; it appears nowhere in clear in the result.
std::uint16_t create(const Definition& definition, const std::string& accountId, const std::string& integrationKey,
                     std::string& blob);

// Reads the header without any key: length, Base64, checksum and layout are checked.
// 0, 8 for a length that no blob has, or another AuthenticationSdk code.
std::uint16_t inspect(const std::string& blob, AuthenticatorInfo& info);

// Opens the secret after checking the tag (the service's side: it computes the codes a
// token shows). 0, or 9 when the blob belongs to another account or was altered.
std::uint16_t openSecret(const std::string& blob, const std::string& accountId, const std::string& integrationKey,
                         CryptoSdk::Bytes& secret);

}  // namespace Blob
}  // namespace AuthenticationSdk
