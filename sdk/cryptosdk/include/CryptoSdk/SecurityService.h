#pragma once

// Sealing of text packages: authenticated encryption with AES-256-CBC and
// HMAC-SHA-256 over IV and ciphertext (encrypt-then-MAC, random IV), keys derived
// with the HMAC-SHA-512 counter-mode KDF. The sealed form is Base64 text; its layout
// is documented in docs/. Opening with a wrong key, or a changed or truncated text,
// fails with a non-zero code and leaves the output empty.

#include <cstdint>
#include <string>
#include <vector>

namespace CryptoSdk {

struct SealKey {
  std::vector<std::uint8_t> encryptionKey;  // 32 bytes
  std::vector<std::uint8_t> macKey;         // 32 bytes
  bool empty() const { return encryptionKey.empty() || macKey.empty(); }
};

// A SealKey from 64 bytes of Kdf::deriveKey(input, label, context): the first 32 the
// AES-256 key, the last 32 the HMAC-SHA-256 key. Every sealing key of the SDK is made
// this way, each with its own label. The key is left empty on failure.
std::uint16_t deriveSealKey(const std::vector<std::uint8_t>& input, const char* label,
                            const std::vector<std::uint8_t>& context, SealKey& key);

class AgentSecurityService {
 public:
  // Key for request and response bodies, from the account's identity. The cloud
  // service derives the same key from the same three texts.
  static std::uint16_t deriveRequestKey(const std::string& accountId, const std::string& resourceId,
                                        const std::string& integrationKey, SealKey& key);
  // Key for the configuration files, from a machine-bound secret.
  static std::uint16_t deriveConfigKey(const std::vector<std::uint8_t>& machineSecret, SealKey& key);
  static std::uint16_t seal(const SealKey& key, const std::string& plain, std::string& sealed);
  static std::uint16_t open(const SealKey& key, const std::string& sealed, std::string& plain);
};

class LogSecurityService {
 public:
  // Key for log fields, from a machine-bound secret (a different label than the configuration key).
  static std::uint16_t deriveLogKey(const std::vector<std::uint8_t>& machineSecret, SealKey& key);
  static std::uint16_t seal(const SealKey& key, const std::string& plain, std::string& sealed);
  static std::uint16_t open(const SealKey& key, const std::string& sealed, std::string& plain);
};

class TransactionSecurityService {
 public:
  static std::uint16_t seal(const SealKey& key, const std::string& plain, std::string& sealed);
  static std::uint16_t open(const SealKey& key, const std::string& sealed, std::string& plain);
};

}  // namespace CryptoSdk
