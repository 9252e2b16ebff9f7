#pragma once

// Result codes of the CryptoSdk library (9000 up to 9998) and their fixed English
// texts. 9999 is deliberately left out: elsewhere in the system it stands for an
// unknown cloud error code, and the two must never be mistaken for each other.

#include <cstdint>
#include <string>

namespace CryptoSdk {
namespace Exception {

enum Code : std::uint16_t {
  CRYPTO_OK = 0,
  CRYPTO_ERROR_INVALID_KEY = 9001,
  CRYPTO_ERROR_INVALID_IV = 9002,
  CRYPTO_ERROR_INVALID_BLOCK_LENGTH = 9003,
  CRYPTO_ERROR_INVALID_PADDING = 9004,
  CRYPTO_ERROR_CIPHER = 9005,
  CRYPTO_ERROR_HASH = 9006,
  CRYPTO_ERROR_HMAC = 9007,
  CRYPTO_ERROR_RANDOM = 9008,
  CRYPTO_ERROR_KDF = 9009,
  CRYPTO_ERROR_KDF_INPUT = 9010,
  CRYPTO_ERROR_SEAL_KEY_MISSING = 9011,
  CRYPTO_ERROR_SEALED_MALFORMED = 9012,
  CRYPTO_ERROR_SEALED_VERSION = 9013,
  CRYPTO_ERROR_SEALED_AUTHENTICATION = 9014,
  CRYPTO_ERROR_INVALID_ALGORITHM = 9015,
  CRYPTO_ERROR_INVALID_LENGTH = 9016,
};

// The text of a CryptoSdk code; "Unknown error." for a code without a text.
std::string getErrorMessage(std::uint16_t code);

}  // namespace Exception
}  // namespace CryptoSdk
