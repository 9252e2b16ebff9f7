#include "AuthenticationSdk/Hotp.h"

#include "AuthenticationSdk/AuthenticationException.h"
#include "TruncatedCode.h"

namespace AuthenticationSdk {
namespace Hotp {

std::uint16_t generate(const CryptoSdk::Bytes& secret, std::uint64_t counter, unsigned digits,
                       CryptoSdk::HashAlgorithm algorithm, std::string& code) {
  code.clear();
  if (digits < kMinDigits || digits > kMaxDigits) return Exception::AUTH_ERROR_INVALID_PARAMETER;
  if (secret.empty()) return Exception::AUTH_ERROR_INVALID_SECRET;
  CryptoSdk::Bytes message(8);
  for (int i = 7; i >= 0; --i) {
    message[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(counter & 0xFF);
    counter >>= 8;
  }
  CryptoSdk::Bytes mac;
  const std::uint16_t rc = CryptoSdk::Hmac::compute(algorithm, secret, message, mac);
  if (rc != 0) return rc;
  code = Detail::truncate(mac, digits);
  CryptoSdk::wipe(mac);
  return 0;
}

}  // namespace Hotp
}  // namespace AuthenticationSdk
