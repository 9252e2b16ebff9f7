// Blob record (all integers big-endian):
//   0  version (1)          1  model (9..13)        2  flags (bit 0 active, bit 1 blocked)
//   3  failed attempts      4  counter (8 bytes)    12 blocked-at Unix seconds (8 bytes)
//   20 OTP hash (1 SHA-1, 2 SHA-256, 3 SHA-512)     21 OTP digits (6..8)
//   22 secret length (16..64)                       23 reserved (0)
//   24 IV (16)   40 secret, zero-filled to the capacity, AES-256-CBC (capacity bytes)
//   zero bytes up to size-36   size-36 HMAC-SHA-256 tag over bytes [0, size-36)
//   size-4 CRC-32 over bytes [0, size-4)
// Sizes: 210 bytes (Base64 280) for models 9 and 10; 114, 129 or 162 bytes (Base64
// 152, 172, 216) for models 11 to 13. Capacity = ((size - 76) / 16) * 16.
#include "AuthenticationSdk/AuthenticatorBlob.h"

#include "AuthenticationSdk/AuthenticationException.h"
#include "BlobCodec.h"
#include "Commons/Encoding.h"
#include "CryptoSdk/Primitives.h"

namespace AuthenticationSdk {

using namespace Exception;
using CryptoSdk::Bytes;

namespace {

constexpr std::uint8_t kVersion = 1;
constexpr std::size_t kHeaderSize = 24;
constexpr std::size_t kIvOffset = 24;
constexpr std::size_t kIvSize = 16;
constexpr std::size_t kSecretOffset = 40;
constexpr std::size_t kTagSize = 32;
constexpr std::size_t kCrcSize = 4;
constexpr std::size_t kMinSecret = 16;
constexpr std::size_t kMaxSecret = 64;
constexpr std::size_t kMobileBytes = 210;
constexpr std::size_t kHardwareBytes[] = {114, 129, 162};
const char kBlobLabel[] = "KvCredProv authenticator blob key v1";

std::size_t capacityOf(std::size_t size) { return ((size - kSecretOffset - kTagSize - kCrcSize) / 16) * 16; }

std::uint64_t readU64(const Bytes& b, std::size_t at) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < 8; ++i) v = (v << 8) | b[at + i];
  return v;
}

void writeU64(Bytes& b, std::size_t at, std::uint64_t v) {
  for (std::size_t i = 0; i < 8; ++i) b[at + 7 - i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void writeU32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (std::size_t i = 0; i < 4; ++i) b[at + 3 - i] = static_cast<std::uint8_t>(v >> (8 * i));
}

bool isMobileModel(std::uint8_t model) { return model == MODEL_MARLET_DEVICE || model == MODEL_MOBILE_AUTHENTICATOR; }
bool isHardwareModel(std::uint8_t model) { return model >= MODEL_OATH_TOKEN_FIRST && model <= MODEL_OATH_TOKEN_LAST; }

bool isHardwareSize(std::size_t size) {
  for (std::size_t s : kHardwareBytes)
    if (s == size) return true;
  return false;
}

bool algorithmFromByte(std::uint8_t b, CryptoSdk::HashAlgorithm& algorithm) {
  if (b < 1 || b > 3) return false;
  algorithm = static_cast<CryptoSdk::HashAlgorithm>(b);
  return true;
}

std::uint32_t crcOf(const Bytes& raw) { return Commons::Crc32::compute(raw.data(), raw.size() - kCrcSize); }

}  // namespace

namespace Detail {

void BlobRecord::setBlocked(bool blocked, std::uint64_t at) {
  flags = static_cast<std::uint8_t>(blocked ? (flags | 0x02) : (flags & ~0x02));
  blockedAt = blocked ? at : 0;
}

std::uint16_t decode(const std::string& text, BlobRecord& record) {
  if (!Blob::isAllowedLength(text.size())) return AUTH_ERROR_BLOB_LENGTH;
  BlobRecord r;
  if (!Commons::Base64::decode(text, r.raw)) return AUTH_ERROR_BLOB_MALFORMED;
  const Bytes& b = r.raw;
  const std::size_t size = b.size();
  // A padded Base64 text of an allowed length decodes to fewer bytes than any record.
  if (size != kMobileBytes && !isHardwareSize(size)) return AUTH_ERROR_BLOB_MALFORMED;
  const std::uint32_t stored = (static_cast<std::uint32_t>(b[size - 4]) << 24) |
                               (static_cast<std::uint32_t>(b[size - 3]) << 16) |
                               (static_cast<std::uint32_t>(b[size - 2]) << 8) | b[size - 1];
  if (stored != crcOf(b)) return AUTH_ERROR_BLOB_CHECKSUM;
  r.model = b[1];
  r.flags = b[2];
  r.failedAttempts = b[3];
  r.counter = readU64(b, 4);
  r.blockedAt = readU64(b, 12);
  r.otpDigits = b[21];
  r.secretLength = b[22];
  const std::size_t capacity = capacityOf(size);
  bool ok = b[0] == kVersion && (r.flags & ~0x03) == 0 && algorithmFromByte(b[20], r.otpAlgorithm) &&
            r.otpDigits >= 6 && r.otpDigits <= 8 && r.secretLength >= kMinSecret && r.secretLength <= kMaxSecret &&
            r.secretLength <= capacity && b[23] == 0 &&
            ((isMobileModel(r.model) && size == kMobileBytes) || (isHardwareModel(r.model) && isHardwareSize(size)));
  for (std::size_t i = kSecretOffset + capacity; ok && i < size - kTagSize - kCrcSize; ++i) ok = b[i] == 0;
  if (!ok) return AUTH_ERROR_BLOB_MALFORMED;
  record = r;
  return 0;
}

std::uint16_t blobKey(const std::string& accountId, const std::string& integrationKey, CryptoSdk::SealKey& key) {
  key = CryptoSdk::SealKey();
  if (integrationKey.empty()) return AUTH_ERROR_ACCOUNT_KEY_MISSING;
  Bytes context;
  Commons::appendLengthPrefixed(context, accountId);
  Bytes input(integrationKey.begin(), integrationKey.end());
  const std::uint16_t rc = CryptoSdk::deriveSealKey(input, kBlobLabel, context, key);
  CryptoSdk::wipe(input);
  return rc;
}

std::uint16_t verifyTag(const BlobRecord& record, const CryptoSdk::SealKey& key) {
  const std::size_t tagAt = record.raw.size() - kTagSize - kCrcSize;
  Bytes tag;
  const std::uint16_t rc = CryptoSdk::Hmac::compute(CryptoSdk::HashAlgorithm::Sha256, key.macKey, record.raw.data(),
                                                    tagAt, tag);
  if (rc != 0) return rc;
  return CryptoSdk::constantTimeEqual(tag.data(), record.raw.data() + tagAt, kTagSize) ? 0
                                                                                        : AUTH_ERROR_BLOB_AUTHENTICATION;
}

std::uint16_t authenticate(const BlobRecord& record, const std::string& accountId, const std::string& integrationKey,
                           CryptoSdk::SealKey& key) {
  const std::uint16_t rc = blobKey(accountId, integrationKey, key);
  return rc != 0 ? rc : verifyTag(record, key);
}

std::uint16_t openSecret(const BlobRecord& record, const CryptoSdk::SealKey& key, Bytes& secret) {
  secret.clear();
  const std::size_t capacity = capacityOf(record.raw.size());
  const Bytes iv(record.raw.begin() + kIvOffset, record.raw.begin() + kIvOffset + kIvSize);
  const Bytes sealed(record.raw.begin() + kSecretOffset,
                     record.raw.begin() + static_cast<std::ptrdiff_t>(kSecretOffset + capacity));
  Bytes plain;
  const std::uint16_t rc = CryptoSdk::Aes::decrypt(CryptoSdk::Aes::Mode::Cbc, key.encryptionKey, iv, sealed, plain);
  if (rc != 0) return rc;
  secret.assign(plain.begin(), plain.begin() + record.secretLength);
  CryptoSdk::wipe(plain);
  return 0;
}

std::uint16_t openBlob(const std::string& text, const std::string& accountId, const std::string& integrationKey,
                       BlobRecord& record, Bytes& secret) {
  secret.clear();
  std::uint16_t rc = decode(text, record);
  if (rc != 0) return rc;
  CryptoSdk::SealKey key;
  rc = authenticate(record, accountId, integrationKey, key);
  return rc != 0 ? rc : openSecret(record, key, secret);
}

std::uint16_t encode(BlobRecord& record, const CryptoSdk::SealKey& key, std::string& text) {
  Bytes& b = record.raw;
  b[1] = record.model;
  b[2] = record.flags;
  b[3] = record.failedAttempts;
  writeU64(b, 4, record.counter);
  writeU64(b, 12, record.blockedAt);
  b[20] = static_cast<std::uint8_t>(record.otpAlgorithm);
  b[21] = record.otpDigits;
  b[22] = record.secretLength;
  const std::size_t tagAt = b.size() - kTagSize - kCrcSize;
  Bytes tag;
  const std::uint16_t rc = CryptoSdk::Hmac::compute(CryptoSdk::HashAlgorithm::Sha256, key.macKey, b.data(), tagAt, tag);
  if (rc != 0) return rc;
  std::copy(tag.begin(), tag.end(), b.begin() + static_cast<std::ptrdiff_t>(tagAt));
  writeU32(b, b.size() - kCrcSize, crcOf(b));
  text = Commons::Base64::encode(b);
  return 0;
}

void fillInfo(const BlobRecord& record, AuthenticatorInfo& info) {
  info.active = record.active() ? 1 : 0;
  info.blocked = record.blocked() ? 1 : 0;
  info.model = record.model;
  info.failedAttempts = record.failedAttempts;
  info.counter = record.counter;
  info.blockedAt = record.blockedAt;
  info.otpDigits = record.otpDigits;
  info.otpAlgorithm = static_cast<std::uint8_t>(record.otpAlgorithm);
}

}  // namespace Detail

namespace Blob {

bool isAllowedLength(std::size_t base64Length) {
  return base64Length == kMobileLength || isHardwareTokenLength(base64Length);
}

bool isHardwareTokenLength(std::size_t base64Length) {
  return base64Length == 152 || base64Length == 172 || base64Length == 216;
}

std::uint16_t create(const Definition& definition, const std::string& accountId, const std::string& integrationKey,
                     std::string& blob) {
  blob.clear();
  std::size_t size = 0;
  const std::size_t n = definition.secret.size();
  if (n < kMinSecret || n > kMaxSecret) return AUTH_ERROR_INVALID_SECRET;
  if (isMobileModel(definition.model)) {
    size = kMobileBytes;
  } else if (isHardwareModel(definition.model)) {
    for (std::size_t s : kHardwareBytes)
      if (size == 0 && capacityOf(s) >= n) size = s;
  } else {
    return AUTH_ERROR_UNSUPPORTED_MODEL;
  }
  if (definition.otpDigits < 6 || definition.otpDigits > 8 ||
      CryptoSdk::digestSize(definition.otpAlgorithm) == 0)
    return AUTH_ERROR_INVALID_PARAMETER;

  CryptoSdk::SealKey key;
  std::uint16_t rc = Detail::blobKey(accountId, integrationKey, key);
  if (rc != 0) return rc;
  Bytes iv;
  rc = CryptoSdk::Random::bytes(kIvSize, iv);
  if (rc != 0) return rc;
  Bytes padded(definition.secret);
  padded.resize(capacityOf(size), 0);
  Bytes sealed;
  rc = CryptoSdk::Aes::encrypt(CryptoSdk::Aes::Mode::Cbc, key.encryptionKey, iv, padded, sealed);
  CryptoSdk::wipe(padded);
  if (rc != 0) return rc;

  Detail::BlobRecord record;
  record.raw.assign(size, 0);
  record.raw[0] = kVersion;
  std::copy(iv.begin(), iv.end(), record.raw.begin() + kIvOffset);
  std::copy(sealed.begin(), sealed.end(), record.raw.begin() + kSecretOffset);
  record.model = definition.model;
  record.flags = definition.active ? 0x01 : 0x00;
  record.counter = definition.counter;
  record.otpAlgorithm = definition.otpAlgorithm;
  record.otpDigits = static_cast<std::uint8_t>(definition.otpDigits);
  record.secretLength = static_cast<std::uint8_t>(n);
  return Detail::encode(record, key, blob);
}

std::uint16_t inspect(const std::string& blob, AuthenticatorInfo& info) {
  Detail::BlobRecord record;
  const std::uint16_t rc = Detail::decode(blob, record);
  if (rc != 0) return rc;
  Detail::fillInfo(record, info);
  return 0;
}

std::uint16_t openSecret(const std::string& blob, const std::string& accountId, const std::string& integrationKey,
                         Bytes& secret) {
  Detail::BlobRecord record;
  return Detail::openBlob(blob, accountId, integrationKey, record, secret);
}

}  // namespace Blob
}  // namespace AuthenticationSdk
