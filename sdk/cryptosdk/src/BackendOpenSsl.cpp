// Native flavour: the primitives on OpenSSL libcrypto.
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <climits>
#include <memory>

#include "CryptoSdk/CryptoException.h"
#include "CryptoSdk/Primitives.h"

namespace CryptoSdk {

using namespace Exception;

namespace {

const EVP_MD* digestOf(HashAlgorithm algorithm) {
  switch (algorithm) {
    case HashAlgorithm::Sha1: return EVP_sha1();
    case HashAlgorithm::Sha256: return EVP_sha256();
    case HashAlgorithm::Sha512: return EVP_sha512();
  }
  return nullptr;
}

const EVP_CIPHER* cipherOf(Aes::Mode mode, std::size_t keySize) {
  const bool cbc = mode == Aes::Mode::Cbc;
  switch (keySize) {
    case 16: return cbc ? EVP_aes_128_cbc() : EVP_aes_128_ecb();
    case 24: return cbc ? EVP_aes_192_cbc() : EVP_aes_192_ecb();
    case 32: return cbc ? EVP_aes_256_cbc() : EVP_aes_256_ecb();
    default: return nullptr;
  }
}

struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};

std::uint16_t runCipher(bool encrypting, Aes::Mode mode, const Bytes& key, const Bytes& iv, const Bytes& input,
                        Bytes& output) {
  output.clear();
  const EVP_CIPHER* cipher = cipherOf(mode, key.size());
  if (cipher == nullptr) return CRYPTO_ERROR_INVALID_KEY;
  if (mode == Aes::Mode::Cbc && iv.size() != Aes::kBlockSize) return CRYPTO_ERROR_INVALID_IV;
  if (input.size() % Aes::kBlockSize != 0 || input.size() > static_cast<std::size_t>(INT_MAX) - 32)
    return CRYPTO_ERROR_INVALID_BLOCK_LENGTH;
  std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree> ctx(EVP_CIPHER_CTX_new());
  if (!ctx) return CRYPTO_ERROR_CIPHER;
  const unsigned char* ivp = mode == Aes::Mode::Cbc ? iv.data() : nullptr;
  if (EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key.data(), ivp, encrypting ? 1 : 0) != 1 ||
      EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1)
    return CRYPTO_ERROR_CIPHER;
  Bytes out(input.size() + Aes::kBlockSize);
  int written = 0;
  int final = 0;
  if (EVP_CipherUpdate(ctx.get(), out.data(), &written, input.data(), static_cast<int>(input.size())) != 1 ||
      EVP_CipherFinal_ex(ctx.get(), out.data() + written, &final) != 1) {
    wipe(out);
    return CRYPTO_ERROR_CIPHER;
  }
  out.resize(static_cast<std::size_t>(written + final));
  output.swap(out);
  return CRYPTO_OK;
}

}  // namespace

namespace Hash {
std::uint16_t compute(HashAlgorithm algorithm, const std::uint8_t* data, std::size_t size, Bytes& digest) {
  digest.clear();
  const EVP_MD* md = digestOf(algorithm);
  if (md == nullptr) return CRYPTO_ERROR_INVALID_ALGORITHM;
  if (data == nullptr && size != 0) return CRYPTO_ERROR_HASH;
  Bytes out(static_cast<std::size_t>(EVP_MD_get_size(md)));
  unsigned int len = 0;
  static const std::uint8_t empty = 0;
  if (EVP_Digest(size ? data : &empty, size, out.data(), &len, md, nullptr) != 1) return CRYPTO_ERROR_HASH;
  out.resize(len);
  digest.swap(out);
  return CRYPTO_OK;
}
}  // namespace Hash

namespace Hmac {
std::uint16_t compute(HashAlgorithm algorithm, const Bytes& key, const std::uint8_t* data, std::size_t size,
                      Bytes& mac) {
  mac.clear();
  const EVP_MD* md = digestOf(algorithm);
  if (md == nullptr) return CRYPTO_ERROR_INVALID_ALGORITHM;
  if ((data == nullptr && size != 0) || key.size() > static_cast<std::size_t>(INT_MAX)) return CRYPTO_ERROR_HMAC;
  static const std::uint8_t empty = 0;
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned int len = 0;
  if (HMAC(md, key.empty() ? &empty : key.data(), static_cast<int>(key.size()), size ? data : &empty, size,
           out.data(), &len) == nullptr)
    return CRYPTO_ERROR_HMAC;
  out.resize(len);
  mac.swap(out);
  return CRYPTO_OK;
}
}  // namespace Hmac

namespace Aes {
std::uint16_t encrypt(Mode mode, const Bytes& key, const Bytes& iv, const Bytes& input, Bytes& output) {
  return runCipher(true, mode, key, iv, input, output);
}
std::uint16_t decrypt(Mode mode, const Bytes& key, const Bytes& iv, const Bytes& input, Bytes& output) {
  return runCipher(false, mode, key, iv, input, output);
}
}  // namespace Aes

namespace Kdf {
std::uint16_t pbkdf2HmacSha256(const Bytes& password, const Bytes& salt, std::uint32_t iterations,
                               std::size_t outSize, Bytes& out) {
  out.clear();
  if (iterations == 0 || iterations > static_cast<std::uint32_t>(INT_MAX) || outSize == 0 ||
      outSize > static_cast<std::size_t>(INT_MAX) || password.size() > static_cast<std::size_t>(INT_MAX) ||
      salt.size() > static_cast<std::size_t>(INT_MAX))
    return CRYPTO_ERROR_KDF_INPUT;
  static const std::uint8_t empty = 0;
  Bytes result(outSize);
  if (PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(password.empty() ? &empty : password.data()),
                        static_cast<int>(password.size()), salt.empty() ? &empty : salt.data(),
                        static_cast<int>(salt.size()), static_cast<int>(iterations), EVP_sha256(),
                        static_cast<int>(outSize), result.data()) != 1) {
    wipe(result);
    return CRYPTO_ERROR_KDF;
  }
  out.swap(result);
  return CRYPTO_OK;
}
}  // namespace Kdf

namespace Random {
std::uint16_t bytes(std::size_t count, Bytes& out) {
  out.clear();
  if (count > static_cast<std::size_t>(INT_MAX)) return CRYPTO_ERROR_INVALID_LENGTH;
  Bytes buffer(count);
  if (count != 0 && RAND_bytes(buffer.data(), static_cast<int>(count)) != 1) return CRYPTO_ERROR_RANDOM;
  out.swap(buffer);
  return CRYPTO_OK;
}
}  // namespace Random

}  // namespace CryptoSdk
