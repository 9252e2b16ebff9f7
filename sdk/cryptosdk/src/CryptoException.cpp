#include "CryptoSdk/CryptoException.h"

namespace CryptoSdk {
namespace Exception {

std::string getErrorMessage(std::uint16_t code) {
  switch (code) {
    case CRYPTO_OK: return "The operation was performed successfully.";
    case CRYPTO_ERROR_INVALID_KEY: return "The key has an invalid length.";
    case CRYPTO_ERROR_INVALID_IV: return "The initialization vector has an invalid length.";
    case CRYPTO_ERROR_INVALID_BLOCK_LENGTH: return "The data length is not a multiple of the cipher block size.";
    case CRYPTO_ERROR_INVALID_PADDING: return "The decrypted data has invalid padding.";
    case CRYPTO_ERROR_CIPHER: return "The cipher operation failed.";
    case CRYPTO_ERROR_HASH: return "The hash operation failed.";
    case CRYPTO_ERROR_HMAC: return "The HMAC operation failed.";
    case CRYPTO_ERROR_RANDOM: return "The system random number generator failed.";
    case CRYPTO_ERROR_KDF: return "The key derivation failed.";
    case CRYPTO_ERROR_KDF_INPUT: return "A key derivation input is missing or too short.";
    case CRYPTO_ERROR_SEAL_KEY_MISSING: return "The sealing key is missing or has an invalid length.";
    case CRYPTO_ERROR_SEALED_MALFORMED: return "The sealed text is malformed or truncated.";
    case CRYPTO_ERROR_SEALED_VERSION: return "The sealed text has an unsupported version or purpose.";
    case CRYPTO_ERROR_SEALED_AUTHENTICATION: return "The sealed text does not match the key or was altered.";
    case CRYPTO_ERROR_INVALID_ALGORITHM: return "The algorithm is not supported.";
    case CRYPTO_ERROR_INVALID_LENGTH: return "The requested output length is invalid.";
    default: return "Unknown error.";
  }
}

}  // namespace Exception
}  // namespace CryptoSdk
