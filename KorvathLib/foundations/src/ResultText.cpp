#include <string>

#include "AuthenticationSdk/AuthenticationException.h"
#include "Commons/CommonsException.h"
#include "CryptoSdk/CryptoException.h"
#include "Korvath/ResultCodes.h"

namespace Korvath {

std::string getResultText(std::uint16_t code) {
  if (code == 0 || (code >= 5000 && code < 8000)) {
    return getResultName(code);
  }
  if (code < 1000) {
    return AuthenticationSdk::Exception::getErrorMessage(code);
  }
  if (code >= 8000 && code < 9000) {
    return Commons::Exception::getErrorMessage(code);
  }
  if (code >= 9000) {
    return CryptoSdk::Exception::getErrorMessage(code);
  }
  return std::string();
}

}  // namespace Korvath
