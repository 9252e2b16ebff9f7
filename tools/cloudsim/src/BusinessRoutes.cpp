// Helpers that the business handlers of every area share.

#include "BusinessRoutes.h"
#include "Json.h"

#include <CryptoSdk/Primitives.h>

#include <chrono>
#include <cstdio>

namespace CloudSim {

Response errorAnswer(int status, std::int32_t code, const std::string& message) {
  return {false, status, Json::errorList(code, message)};
}

std::int64_t unixSecondsNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::string newTransactionId() {
  CryptoSdk::Bytes bytes;
  if (CryptoSdk::Random::bytes(16, bytes) != 0 || bytes.size() != 16) return std::string();
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);
  std::string id;
  char hex[3];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) id += '-';
    std::snprintf(hex, sizeof(hex), "%02x", bytes[i]);
    id += hex;
  }
  return id;
}

AuthenticationSdk::AuthenticationSettings settingsOf(const Account& account) {
  AuthenticationSdk::AuthenticationSettings settings;
  settings.accountId = account.accountId;
  settings.integrationKey = account.integrationKey;
  settings.loginAttempts = account.settings.loginAttempts;
  settings.authenticationAttempts = account.settings.authenticationAttempts;
  settings.autoUnblockTime = account.settings.autoUnblockTime;
  settings.syncTime = account.settings.syncTime;
  settings.timeWindow = account.settings.timeWindow;
  return settings;
}

bool factorAllowed(const SimUser& user, const std::string& factor) {
  auto it = user.authTypes.find(factor);
  return it != user.authTypes.end() && it->second;
}

}  // namespace CloudSim
