#pragma once

// Result codes of the AuthenticationSdk library (1 to 999) and their fixed English
// texts. The texts are meant for log lines, never for the user.

#include <cstdint>
#include <string>

namespace AuthenticationSdk {
namespace Exception {

enum Code : std::uint16_t {
  AUTH_OK = 0,
  AUTH_ERROR_CODE_REJECTED = 1,
  AUTH_ERROR_AUTHENTICATOR_BLOCKED = 2,
  AUTH_ERROR_AUTHENTICATOR_INACTIVE = 3,
  AUTH_ERROR_INVALID_CODE_FORMAT = 4,
  AUTH_ERROR_UNSUPPORTED_MODEL = 5,
  AUTH_ERROR_BLOB_MALFORMED = 6,
  AUTH_ERROR_BLOB_CHECKSUM = 7,
  AUTH_ERROR_BLOB_LENGTH = 8,
  AUTH_ERROR_BLOB_AUTHENTICATION = 9,
  AUTH_ERROR_INVALID_TRANSACTION_TYPE = 10,
  AUTH_ERROR_INVALID_TRANSACTION_DATA = 11,
  AUTH_ERROR_INVALID_TRANSACTION_ID = 12,
  AUTH_ERROR_NO_ACTIVE_MOBILE_AUTHENTICATOR = 13,
  AUTH_ERROR_INVALID_AUTHENTICATOR_ENTRY = 14,
  AUTH_ERROR_INVALID_CHALLENGE = 15,
  AUTH_ERROR_CHALLENGE_ACCOUNT_MISMATCH = 16,
  AUTH_ERROR_ACCOUNT_KEY_MISSING = 17,
  AUTH_ERROR_INVALID_SECRET = 18,
  AUTH_ERROR_INVALID_PARAMETER = 19,
  AUTH_ERROR_INVALID_OCRA_SUITE = 20,
  AUTH_ERROR_INVALID_QR_COMMAND = 21,
};

// The text of an AuthenticationSdk code; "Unknown error." for a code without a text.
std::string getErrorMessage(std::uint16_t code);

}  // namespace Exception
}  // namespace AuthenticationSdk
