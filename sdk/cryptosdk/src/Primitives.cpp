// Platform-independent parts of the primitives: overloads, padding, the counter-mode
// key derivation and constant-time helpers. The platform calls live in
// BackendOpenSsl.cpp and BackendCng.cpp.
#include "CryptoSdk/CryptoException.h"
#include "CryptoSdk/Primitives.h"

#include <cstring>

#include <algorithm>

namespace CryptoSdk {

using namespace Exception;

std::size_t digestSize(HashAlgorithm algorithm) {
  switch (algorithm) {
    case HashAlgorithm::Sha1: return 20;
    case HashAlgorithm::Sha256: return 32;
    case HashAlgorithm::Sha512: return 64;
  }
  return 0;
}

namespace Hash {
std::uint16_t compute(HashAlgorithm algorithm, const Bytes& data, Bytes& digest) {
  return compute(algorithm, data.data(), data.size(), digest);
}
std::uint16_t compute(HashAlgorithm algorithm, const std::string& data, Bytes& digest) {
  return compute(algorithm, reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), digest);
}
}  // namespace Hash

namespace Hmac {
std::uint16_t compute(HashAlgorithm algorithm, const Bytes& key, const Bytes& data, Bytes& mac) {
  return compute(algorithm, key, data.data(), data.size(), mac);
}
std::uint16_t compute(HashAlgorithm algorithm, const Bytes& key, const std::string& data, Bytes& mac) {
  return compute(algorithm, key, reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), mac);
}
}  // namespace Hmac

namespace Aes {

std::uint16_t encryptCbcPkcs7(const Bytes& key, const Bytes& iv, const Bytes& plain, Bytes& cipher) {
  cipher.clear();
  Bytes padded(plain);
  const std::size_t pad = kBlockSize - (plain.size() % kBlockSize);
  padded.insert(padded.end(), pad, static_cast<std::uint8_t>(pad));
  const std::uint16_t rc = encrypt(Mode::Cbc, key, iv, padded, cipher);
  wipe(padded);
  return rc;
}

std::uint16_t decryptCbcPkcs7(const Bytes& key, const Bytes& iv, const Bytes& cipher, Bytes& plain) {
  plain.clear();
  if (cipher.empty()) return CRYPTO_ERROR_INVALID_BLOCK_LENGTH;
  Bytes out;
  const std::uint16_t rc = decrypt(Mode::Cbc, key, iv, cipher, out);
  if (rc != 0) return rc;
  const std::size_t pad = out.back();
  bool ok = pad >= 1 && pad <= kBlockSize && pad <= out.size();
  for (std::size_t i = 0; ok && i < pad; ++i) ok = out[out.size() - 1 - i] == pad;
  if (!ok) {
    wipe(out);
    return CRYPTO_ERROR_INVALID_PADDING;
  }
  out.resize(out.size() - pad);
  plain.swap(out);
  return CRYPTO_OK;
}

}  // namespace Aes

namespace Kdf {

std::uint16_t counterHmacSha512(const Bytes& key, const Bytes& fixedInput, std::size_t outSize, Bytes& out) {
  out.clear();
  // SP 800-108 bounds the number of PRF calls by 2^r - 1; far above anything used here,
  // so a practical ceiling keeps accidental huge requests out.
  if (outSize == 0 || outSize > 64 * 1024) return CRYPTO_ERROR_INVALID_LENGTH;
  if (key.empty()) return CRYPTO_ERROR_KDF_INPUT;
  Bytes result;
  result.reserve(outSize + 64);
  Bytes message(4 + fixedInput.size());
  std::copy(fixedInput.begin(), fixedInput.end(), message.begin() + 4);
  for (std::uint32_t i = 1; result.size() < outSize; ++i) {
    message[0] = static_cast<std::uint8_t>(i >> 24);
    message[1] = static_cast<std::uint8_t>(i >> 16);
    message[2] = static_cast<std::uint8_t>(i >> 8);
    message[3] = static_cast<std::uint8_t>(i);
    Bytes block;
    if (Hmac::compute(HashAlgorithm::Sha512, key, message, block) != 0) {
      wipe(result);
      return CRYPTO_ERROR_KDF;
    }
    result.insert(result.end(), block.begin(), block.end());
    wipe(block);
  }
  std::fill(result.begin() + static_cast<std::ptrdiff_t>(outSize), result.end(), 0);
  result.resize(outSize);
  out.swap(result);
  return CRYPTO_OK;
}

std::uint16_t deriveKey(const Bytes& key, const std::string& label, const Bytes& context, std::size_t outSize,
                        Bytes& out) {
  out.clear();
  if (outSize == 0 || outSize > 64 * 1024) return CRYPTO_ERROR_INVALID_LENGTH;
  Bytes fixed(label.begin(), label.end());
  fixed.push_back(0x00);
  fixed.insert(fixed.end(), context.begin(), context.end());
  const std::uint32_t bits = static_cast<std::uint32_t>(outSize * 8);
  fixed.push_back(static_cast<std::uint8_t>(bits >> 24));
  fixed.push_back(static_cast<std::uint8_t>(bits >> 16));
  fixed.push_back(static_cast<std::uint8_t>(bits >> 8));
  fixed.push_back(static_cast<std::uint8_t>(bits));
  return counterHmacSha512(key, fixed, outSize, out);
}

}  // namespace Kdf

bool constantTimeEqual(const std::uint8_t* a, const std::uint8_t* b, std::size_t size) {
  volatile std::uint8_t diff = 0;
  for (std::size_t i = 0; i < size; ++i) diff = static_cast<std::uint8_t>(diff | (a[i] ^ b[i]));
  return diff == 0;
}

bool constantTimeEqual(const Bytes& a, const Bytes& b) {
  if (a.size() != b.size()) return false;
  return constantTimeEqual(a.data(), b.data(), a.size());
}

namespace {
// Zeroes `size` bytes in a way the compiler may not drop as a dead store: the barrier tells it
// the memory is still read afterwards.
void zero(void* p, std::size_t size) {
  if (size == 0) return;
  std::memset(p, 0, size);
  __asm__ __volatile__("" : : "r"(p) : "memory");
}
}  // namespace

void wipe(Bytes& data) {
  zero(data.data(), data.size());
  data.clear();
}

void wipe(std::string& data) {
  zero(&data[0], data.size());
  data.clear();
}

}  // namespace CryptoSdk
