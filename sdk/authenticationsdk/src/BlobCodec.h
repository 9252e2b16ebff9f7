#pragma once

// The fixed-size blob record, decoded. Internal to the library.

#include <cstdint>
#include <string>

#include "AuthenticationSdk/AuthenticatorBlob.h"
#include "CryptoSdk/SecurityService.h"

namespace AuthenticationSdk {
namespace Detail {

struct BlobRecord {
  CryptoSdk::Bytes raw;  // the whole record; header fields below are parsed from it
  std::uint8_t model = 0;
  std::uint8_t flags = 0;
  std::uint8_t failedAttempts = 0;
  std::uint64_t counter = 0;
  std::uint64_t blockedAt = 0;
  CryptoSdk::HashAlgorithm otpAlgorithm = CryptoSdk::HashAlgorithm::Sha1;
  std::uint8_t otpDigits = 0;
  std::uint8_t secretLength = 0;

  bool active() const { return (flags & 0x01) != 0; }
  bool blocked() const { return (flags & 0x02) != 0; }
  void setBlocked(bool blocked, std::uint64_t at);
};

std::uint16_t decode(const std::string& text, BlobRecord& record);
// Key for the secret and the tag of an account's blobs.
std::uint16_t blobKey(const std::string& accountId, const std::string& integrationKey, CryptoSdk::SealKey& key);
std::uint16_t verifyTag(const BlobRecord& record, const CryptoSdk::SealKey& key);
// The account's blob key, and the record's tag checked with it: 0, 9 (another account
// or altered), 17 (no integration key) or a CryptoSdk code.
std::uint16_t authenticate(const BlobRecord& record, const std::string& accountId, const std::string& integrationKey,
                           CryptoSdk::SealKey& key);
std::uint16_t openSecret(const BlobRecord& record, const CryptoSdk::SealKey& key, CryptoSdk::Bytes& secret);
// decode, authenticate and openSecret in one: the record and its secret for a holder of
// the account's integration key.
std::uint16_t openBlob(const std::string& text, const std::string& accountId, const std::string& integrationKey,
                       BlobRecord& record, CryptoSdk::Bytes& secret);
// Writes the header fields back, recomputes tag and checksum, and gives the Base64 text.
std::uint16_t encode(BlobRecord& record, const CryptoSdk::SealKey& key, std::string& text);
void fillInfo(const BlobRecord& record, AuthenticatorInfo& info);

}  // namespace Detail
}  // namespace AuthenticationSdk
