// Sealing of text packages. Layout of the sealed text (before Base64):
//   version (1 byte, 1) | purpose (1 byte: 1 agent, 2 log, 3 transaction) | IV (16) |
//   AES-256-CBC ciphertext with PKCS#7 padding (16*n, n >= 1) | HMAC-SHA-256 tag (32)
// The tag covers version, purpose, IV and ciphertext; it is checked in constant time
// before anything is decrypted, so a wrong key or a changed byte never reaches the
// cipher and never yields garbage.
#include "CryptoSdk/SecurityService.h"

#include "Commons/Encoding.h"
#include "CryptoSdk/CryptoException.h"
#include "CryptoSdk/Primitives.h"

namespace CryptoSdk {

using namespace Exception;

namespace {

constexpr std::uint8_t kVersion = 1;
constexpr std::size_t kKeySize = 32;
constexpr std::size_t kIvSize = 16;
constexpr std::size_t kTagSize = 32;
constexpr std::size_t kHeaderSize = 2;
constexpr std::size_t kMinimumSize = kHeaderSize + kIvSize + Aes::kBlockSize + kTagSize;

enum class Purpose : std::uint8_t { Agent = 1, Log = 2, Transaction = 3 };

const char kRequestLabel[] = "KvCredProv request key v1";
const char kConfigLabel[] = "KvCredProv configuration key v1";
const char kLogLabel[] = "KvCredProv log key v1";
constexpr std::size_t kMinimumMachineSecret = 16;

bool validKey(const SealKey& key) { return key.encryptionKey.size() == kKeySize && key.macKey.size() == kKeySize; }

std::uint16_t sealWith(Purpose purpose, const SealKey& key, const std::string& plain, std::string& sealed) {
  sealed.clear();
  if (!validKey(key)) return CRYPTO_ERROR_SEAL_KEY_MISSING;
  Bytes iv;
  std::uint16_t rc = Random::bytes(kIvSize, iv);
  if (rc != 0) return rc;
  Bytes plainBytes(plain.begin(), plain.end());
  Bytes cipher;
  rc = Aes::encryptCbcPkcs7(key.encryptionKey, iv, plainBytes, cipher);
  wipe(plainBytes);
  if (rc != 0) return rc;
  Bytes packet;
  packet.reserve(kHeaderSize + kIvSize + cipher.size() + kTagSize);
  packet.push_back(kVersion);
  packet.push_back(static_cast<std::uint8_t>(purpose));
  packet.insert(packet.end(), iv.begin(), iv.end());
  packet.insert(packet.end(), cipher.begin(), cipher.end());
  Bytes tag;
  rc = Hmac::compute(HashAlgorithm::Sha256, key.macKey, packet, tag);
  if (rc != 0) return rc;
  packet.insert(packet.end(), tag.begin(), tag.end());
  sealed = Commons::Base64::encode(packet);
  return CRYPTO_OK;
}

std::uint16_t openWith(Purpose purpose, const SealKey& key, const std::string& sealed, std::string& plain) {
  plain.clear();
  if (!validKey(key)) return CRYPTO_ERROR_SEAL_KEY_MISSING;
  Bytes packet;
  if (!Commons::Base64::decode(sealed, packet)) return CRYPTO_ERROR_SEALED_MALFORMED;
  if (packet.size() < kMinimumSize || (packet.size() - kHeaderSize - kIvSize - kTagSize) % Aes::kBlockSize != 0)
    return CRYPTO_ERROR_SEALED_MALFORMED;
  if (packet[0] != kVersion || packet[1] != static_cast<std::uint8_t>(purpose)) return CRYPTO_ERROR_SEALED_VERSION;
  const std::size_t bodySize = packet.size() - kTagSize;
  Bytes tag;
  std::uint16_t rc = Hmac::compute(HashAlgorithm::Sha256, key.macKey, packet.data(), bodySize, tag);
  if (rc != 0) return rc;
  if (!constantTimeEqual(tag.data(), packet.data() + bodySize, kTagSize)) return CRYPTO_ERROR_SEALED_AUTHENTICATION;
  const Bytes iv(packet.begin() + kHeaderSize, packet.begin() + kHeaderSize + kIvSize);
  const Bytes cipher(packet.begin() + kHeaderSize + kIvSize, packet.begin() + static_cast<std::ptrdiff_t>(bodySize));
  Bytes plainBytes;
  rc = Aes::decryptCbcPkcs7(key.encryptionKey, iv, cipher, plainBytes);
  if (rc != 0) return rc;
  plain.assign(plainBytes.begin(), plainBytes.end());
  wipe(plainBytes);
  return CRYPTO_OK;
}

std::uint16_t deriveFromMachineSecret(const Bytes& machineSecret, const char* label, SealKey& key) {
  if (machineSecret.size() >= kMinimumMachineSecret) return deriveSealKey(machineSecret, label, Bytes(), key);
  wipe(key.encryptionKey);
  wipe(key.macKey);
  return CRYPTO_ERROR_KDF_INPUT;
}

}  // namespace

std::uint16_t deriveSealKey(const Bytes& input, const char* label, const Bytes& context, SealKey& key) {
  wipe(key.encryptionKey);
  wipe(key.macKey);
  Bytes material;
  const std::uint16_t rc = Kdf::deriveKey(input, label, context, 2 * kKeySize, material);
  if (rc != 0) return rc;
  key.encryptionKey.assign(material.begin(), material.begin() + kKeySize);
  key.macKey.assign(material.begin() + kKeySize, material.end());
  wipe(material);
  return CRYPTO_OK;
}

std::uint16_t AgentSecurityService::deriveRequestKey(const std::string& accountId, const std::string& resourceId,
                                                     const std::string& integrationKey, SealKey& key) {
  if (integrationKey.empty()) {
    wipe(key.encryptionKey);
    wipe(key.macKey);
    return CRYPTO_ERROR_KDF_INPUT;
  }
  Bytes context;
  Commons::appendLengthPrefixed(context, accountId);
  Commons::appendLengthPrefixed(context, resourceId);
  Bytes input(integrationKey.begin(), integrationKey.end());
  const std::uint16_t rc = deriveSealKey(input, kRequestLabel, context, key);
  wipe(input);
  return rc;
}

std::uint16_t AgentSecurityService::deriveConfigKey(const std::vector<std::uint8_t>& machineSecret, SealKey& key) {
  return deriveFromMachineSecret(machineSecret, kConfigLabel, key);
}

std::uint16_t AgentSecurityService::seal(const SealKey& key, const std::string& plain, std::string& sealed) {
  return sealWith(Purpose::Agent, key, plain, sealed);
}

std::uint16_t AgentSecurityService::open(const SealKey& key, const std::string& sealed, std::string& plain) {
  return openWith(Purpose::Agent, key, sealed, plain);
}

std::uint16_t LogSecurityService::deriveLogKey(const std::vector<std::uint8_t>& machineSecret, SealKey& key) {
  return deriveFromMachineSecret(machineSecret, kLogLabel, key);
}

std::uint16_t LogSecurityService::seal(const SealKey& key, const std::string& plain, std::string& sealed) {
  return sealWith(Purpose::Log, key, plain, sealed);
}

std::uint16_t LogSecurityService::open(const SealKey& key, const std::string& sealed, std::string& plain) {
  return openWith(Purpose::Log, key, sealed, plain);
}

std::uint16_t TransactionSecurityService::seal(const SealKey& key, const std::string& plain, std::string& sealed) {
  return sealWith(Purpose::Transaction, key, plain, sealed);
}

std::uint16_t TransactionSecurityService::open(const SealKey& key, const std::string& sealed, std::string& plain) {
  return openWith(Purpose::Transaction, key, sealed, plain);
}

}  // namespace CryptoSdk
