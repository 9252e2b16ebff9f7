#include "AuthenticationSdk/AuthenticationException.h"

namespace AuthenticationSdk {
namespace Exception {

std::string getErrorMessage(std::uint16_t code) {
  switch (code) {
    case AUTH_OK: return "The operation was performed successfully.";
    case AUTH_ERROR_CODE_REJECTED: return "The authentication code is wrong.";
    case AUTH_ERROR_AUTHENTICATOR_BLOCKED: return "The authenticator is blocked.";
    case AUTH_ERROR_AUTHENTICATOR_INACTIVE: return "The authenticator is not active.";
    case AUTH_ERROR_INVALID_CODE_FORMAT:
      return "The authentication code has a wrong length or characters other than digits.";
    case AUTH_ERROR_UNSUPPORTED_MODEL: return "The authenticator model does not support this operation.";
    case AUTH_ERROR_BLOB_MALFORMED: return "The authenticator blob is not valid Base64 or has an unknown layout.";
    case AUTH_ERROR_BLOB_CHECKSUM: return "The authenticator blob is damaged.";
    case AUTH_ERROR_BLOB_LENGTH: return "The authenticator blob has an invalid length.";
    case AUTH_ERROR_BLOB_AUTHENTICATION: return "The authenticator blob does not belong to this account or was altered.";
    case AUTH_ERROR_INVALID_TRANSACTION_TYPE: return "The transaction type is not supported.";
    case AUTH_ERROR_INVALID_TRANSACTION_DATA: return "The transaction data is missing or too long.";
    case AUTH_ERROR_INVALID_TRANSACTION_ID: return "The transaction identifier is too long.";
    case AUTH_ERROR_NO_ACTIVE_MOBILE_AUTHENTICATOR: return "No active mobile authenticator is available.";
    case AUTH_ERROR_INVALID_AUTHENTICATOR_ENTRY: return "A mobile authenticator entry is malformed.";
    case AUTH_ERROR_INVALID_CHALLENGE: return "The challenge data is malformed.";
    case AUTH_ERROR_CHALLENGE_ACCOUNT_MISMATCH: return "The challenge belongs to another account.";
    case AUTH_ERROR_ACCOUNT_KEY_MISSING: return "The account key needed for the offline check is missing.";
    case AUTH_ERROR_INVALID_SECRET: return "The token secret has an invalid length.";
    case AUTH_ERROR_INVALID_PARAMETER: return "An argument is out of its allowed range.";
    case AUTH_ERROR_INVALID_OCRA_SUITE: return "The OCRA suite is malformed or not supported.";
    case AUTH_ERROR_INVALID_QR_COMMAND: return "The QR-code command is malformed.";
    default: return "Unknown error.";
  }
}

}  // namespace Exception
}  // namespace AuthenticationSdk
