// Windows flavour: the primitives on CNG (bcrypt.dll), part of Windows itself.
#include <windows.h>
#include <bcrypt.h>

#include <climits>

#include "CryptoSdk/CryptoException.h"
#include "CryptoSdk/Primitives.h"

#ifndef NT_SUCCESS
#define NT_SUCCESS(status) (((NTSTATUS)(status)) >= 0)
#endif

namespace CryptoSdk {

using namespace Exception;

namespace {

LPCWSTR algorithmId(HashAlgorithm algorithm) {
  switch (algorithm) {
    case HashAlgorithm::Sha1: return BCRYPT_SHA1_ALGORITHM;
    case HashAlgorithm::Sha256: return BCRYPT_SHA256_ALGORITHM;
    case HashAlgorithm::Sha512: return BCRYPT_SHA512_ALGORITHM;
  }
  return nullptr;
}

// Owns an algorithm provider handle for the duration of one call.
class Provider {
 public:
  Provider(LPCWSTR id, ULONG flags) {
    if (!NT_SUCCESS(BCryptOpenAlgorithmProvider(&handle_, id, nullptr, flags))) handle_ = nullptr;
  }
  ~Provider() {
    if (handle_ != nullptr) BCryptCloseAlgorithmProvider(handle_, 0);
  }
  Provider(const Provider&) = delete;
  Provider& operator=(const Provider&) = delete;
  BCRYPT_ALG_HANDLE get() const { return handle_; }

 private:
  BCRYPT_ALG_HANDLE handle_ = nullptr;
};

class HashHandle {
 public:
  ~HashHandle() {
    if (handle_ != nullptr) BCryptDestroyHash(handle_);
  }
  BCRYPT_HASH_HANDLE* put() { return &handle_; }
  BCRYPT_HASH_HANDLE get() const { return handle_; }

 private:
  BCRYPT_HASH_HANDLE handle_ = nullptr;
};

class KeyHandle {
 public:
  ~KeyHandle() {
    if (handle_ != nullptr) BCryptDestroyKey(handle_);
  }
  BCRYPT_KEY_HANDLE* put() { return &handle_; }
  BCRYPT_KEY_HANDLE get() const { return handle_; }

 private:
  BCRYPT_KEY_HANDLE handle_ = nullptr;
};

std::uint16_t runHash(HashAlgorithm algorithm, const Bytes* key, const std::uint8_t* data, std::size_t size,
                      Bytes& out, std::uint16_t failure) {
  out.clear();
  LPCWSTR id = algorithmId(algorithm);
  if (id == nullptr) return CRYPTO_ERROR_INVALID_ALGORITHM;
  if ((data == nullptr && size != 0) || size > ULONG_MAX || (key != nullptr && key->size() > ULONG_MAX))
    return failure;
  Provider provider(id, key != nullptr ? BCRYPT_ALG_HANDLE_HMAC_FLAG : 0);
  if (provider.get() == nullptr) return failure;
  // CNG wants a non-null pointer even for an empty HMAC key.
  static UCHAR empty = 0;
  PUCHAR secret = nullptr;
  ULONG secretSize = 0;
  if (key != nullptr) {
    secret = key->empty() ? &empty : const_cast<PUCHAR>(key->data());
    secretSize = static_cast<ULONG>(key->size());
  }
  HashHandle hash;
  if (!NT_SUCCESS(BCryptCreateHash(provider.get(), hash.put(), nullptr, 0, secret, secretSize, 0))) return failure;
  if (size != 0 && !NT_SUCCESS(BCryptHashData(hash.get(), const_cast<PUCHAR>(data), static_cast<ULONG>(size), 0)))
    return failure;
  Bytes result(digestSize(algorithm));
  if (!NT_SUCCESS(BCryptFinishHash(hash.get(), result.data(), static_cast<ULONG>(result.size()), 0)))
    return failure;
  out.swap(result);
  return CRYPTO_OK;
}

std::uint16_t runCipher(bool encrypting, Aes::Mode mode, const Bytes& key, const Bytes& iv, const Bytes& input,
                        Bytes& output) {
  output.clear();
  if (key.size() != 16 && key.size() != 24 && key.size() != 32) return CRYPTO_ERROR_INVALID_KEY;
  if (mode == Aes::Mode::Cbc && iv.size() != Aes::kBlockSize) return CRYPTO_ERROR_INVALID_IV;
  if (input.size() % Aes::kBlockSize != 0 || input.size() > ULONG_MAX - 32) return CRYPTO_ERROR_INVALID_BLOCK_LENGTH;
  Provider provider(BCRYPT_AES_ALGORITHM, 0);
  if (provider.get() == nullptr) return CRYPTO_ERROR_CIPHER;
  LPCWSTR chain = mode == Aes::Mode::Cbc ? BCRYPT_CHAIN_MODE_CBC : BCRYPT_CHAIN_MODE_ECB;
  if (!NT_SUCCESS(BCryptSetProperty(provider.get(), BCRYPT_CHAINING_MODE,
                                    reinterpret_cast<PUCHAR>(const_cast<LPWSTR>(chain)),
                                    static_cast<ULONG>((wcslen(chain) + 1) * sizeof(wchar_t)), 0)))
    return CRYPTO_ERROR_CIPHER;
  ULONG objectSize = 0;
  ULONG got = 0;
  if (!NT_SUCCESS(BCryptGetProperty(provider.get(), BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectSize),
                                    sizeof(objectSize), &got, 0)))
    return CRYPTO_ERROR_CIPHER;
  // The key object holds the expanded key; it is wiped once the key handle is gone
  // (locals are destroyed in reverse order), on every path out.
  Bytes keyObject(objectSize);
  struct Wiper {
    Bytes& bytes;
    ~Wiper() { wipe(bytes); }
  } wiper{keyObject};
  KeyHandle handle;
  if (!NT_SUCCESS(BCryptGenerateSymmetricKey(provider.get(), handle.put(), keyObject.data(), objectSize,
                                             const_cast<PUCHAR>(key.data()), static_cast<ULONG>(key.size()), 0)))
    return CRYPTO_ERROR_CIPHER;
  if (input.empty()) return CRYPTO_OK;
  Bytes ivCopy(iv);  // CNG overwrites the IV buffer with the chaining state
  PUCHAR ivp = mode == Aes::Mode::Cbc ? ivCopy.data() : nullptr;
  ULONG ivSize = mode == Aes::Mode::Cbc ? static_cast<ULONG>(ivCopy.size()) : 0;
  Bytes out(input.size());
  ULONG written = 0;
  NTSTATUS status =
      encrypting ? BCryptEncrypt(handle.get(), const_cast<PUCHAR>(input.data()), static_cast<ULONG>(input.size()),
                                 nullptr, ivp, ivSize, out.data(), static_cast<ULONG>(out.size()), &written, 0)
                 : BCryptDecrypt(handle.get(), const_cast<PUCHAR>(input.data()), static_cast<ULONG>(input.size()),
                                 nullptr, ivp, ivSize, out.data(), static_cast<ULONG>(out.size()), &written, 0);
  if (!NT_SUCCESS(status) || written != input.size()) {
    wipe(out);
    return CRYPTO_ERROR_CIPHER;
  }
  output.swap(out);
  return CRYPTO_OK;
}

}  // namespace

namespace Hash {
std::uint16_t compute(HashAlgorithm algorithm, const std::uint8_t* data, std::size_t size, Bytes& digest) {
  return runHash(algorithm, nullptr, data, size, digest, CRYPTO_ERROR_HASH);
}
}  // namespace Hash

namespace Hmac {
std::uint16_t compute(HashAlgorithm algorithm, const Bytes& key, const std::uint8_t* data, std::size_t size,
                      Bytes& mac) {
  return runHash(algorithm, &key, data, size, mac, CRYPTO_ERROR_HMAC);
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
  if (iterations == 0 || outSize == 0 || outSize > ULONG_MAX || password.size() > ULONG_MAX || salt.size() > ULONG_MAX)
    return CRYPTO_ERROR_KDF_INPUT;
  Provider provider(BCRYPT_SHA256_ALGORITHM, BCRYPT_ALG_HANDLE_HMAC_FLAG);
  if (provider.get() == nullptr) return CRYPTO_ERROR_KDF;
  // CNG wants non-null pointers even for an empty password or salt.
  static UCHAR empty = 0;
  Bytes result(outSize);
  if (!NT_SUCCESS(BCryptDeriveKeyPBKDF2(provider.get(), password.empty() ? &empty : const_cast<PUCHAR>(password.data()),
                                        static_cast<ULONG>(password.size()),
                                        salt.empty() ? &empty : const_cast<PUCHAR>(salt.data()),
                                        static_cast<ULONG>(salt.size()), iterations, result.data(),
                                        static_cast<ULONG>(result.size()), 0))) {
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
  if (count > ULONG_MAX) return CRYPTO_ERROR_INVALID_LENGTH;
  Bytes buffer(count);
  if (count != 0 && !NT_SUCCESS(BCryptGenRandom(nullptr, buffer.data(), static_cast<ULONG>(count),
                                                BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
    return CRYPTO_ERROR_RANDOM;
  out.swap(buffer);
  return CRYPTO_OK;
}
}  // namespace Random

}  // namespace CryptoSdk
