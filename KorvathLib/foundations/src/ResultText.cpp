#include <string>

#include "Korvath/ResultCodes.h"

// The SDK's message tables are being brought in library by library; a range whose
// table is not there yet reads as the SDK's own text for an unknown code.
#if __has_include("AuthenticationSdk/AuthenticationException.h")
#include "AuthenticationSdk/AuthenticationException.h"
#define KV_HAS_AUTHENTICATION_TEXTS 1
#endif
#if __has_include("Commons/CommonsException.h")
#include "Commons/CommonsException.h"
#define KV_HAS_COMMONS_TEXTS 1
#endif
#if __has_include("CryptoSdk/CryptoException.h")
#include "CryptoSdk/CryptoException.h"
#define KV_HAS_CRYPTO_TEXTS 1
#endif

namespace Korvath {

std::string getResultText(std::uint16_t code) {
  if (code == 0 || (code >= 5000 && code < 8000)) {
    return getResultName(code);
  }
  if (code < 1000) {
#ifdef KV_HAS_AUTHENTICATION_TEXTS
    return AuthenticationSdk::Exception::getErrorMessage(code);
#else
    return "Unknown error.";
#endif
  }
  if (code >= 8000 && code < 9000) {
#ifdef KV_HAS_COMMONS_TEXTS
    return Commons::Exception::getErrorMessage(code);
#else
    return "Unknown error.";
#endif
  }
  if (code >= 9000) {
#ifdef KV_HAS_CRYPTO_TEXTS
    return CryptoSdk::Exception::getErrorMessage(code);
#else
    return "Unknown error.";
#endif
  }
  return std::string();
}

}  // namespace Korvath
