#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

#include "AuthenticationSdk/AuthenticationSettings.h"
#include "AuthenticationSdk/AuthenticatorBlob.h"
#include "AuthenticationSdk/OfflineAuthentication.h"
#include "Commons/Encoding.h"

namespace Fixtures {

inline const std::string kAccount = "acc-100";
inline const std::string kIntegrationKey = "ik-7f3c1e9a55";
// The RFC 4226 test secret, so that the codes of Appendix D apply to these blobs.
inline const CryptoSdk::Bytes kSecret{'1', '2', '3', '4', '5', '6', '7', '8', '9', '0',
                                      '1', '2', '3', '4', '5', '6', '7', '8', '9', '0'};
inline const char* const kRfcCodes[] = {"755224", "287082", "359152", "969429", "338314",
                                        "254676", "287922", "162583", "399871", "520489"};

inline CryptoSdk::Bytes hex(const std::string& text) {
  CryptoSdk::Bytes out;
  EXPECT_TRUE(Commons::Hex::decode(text, out)) << text;
  return out;
}

// 3 attempts, unblock after 10 minutes, look-ahead 5, clock tolerance 2 minutes.
inline AuthenticationSdk::AuthenticationSettings settings() { return {kAccount, 5, 3, 10, 5, 2, kIntegrationKey}; }

inline std::string makeBlob(std::uint8_t model, const CryptoSdk::Bytes& secret = kSecret, bool active = true) {
  AuthenticationSdk::Blob::Definition d;
  d.model = model;
  d.secret = secret;
  d.active = active;
  std::string blob;
  EXPECT_EQ(0, AuthenticationSdk::Blob::create(d, kAccount, kIntegrationKey, blob));
  return blob;
}

inline AuthenticationSdk::AuthenticatorInfo infoOf(const std::string& blob) {
  AuthenticationSdk::AuthenticatorInfo info;
  EXPECT_EQ(0, AuthenticationSdk::Blob::inspect(blob, info));
  return info;
}

inline const std::int64_t kNow = 1767225600;  // 2026-01-01 00:00:00 UTC

// Routes the SDK's local clock for one test and gives the system clock back after it,
// also when an assertion ends the test early.
class ClockOverride {
 public:
  explicit ClockOverride(std::int64_t fixed) : ClockOverride([fixed] { return fixed; }) {}
  explicit ClockOverride(std::function<std::int64_t()> f) { AuthenticationSdk::setUnixTimeSource(std::move(f)); }
  ~ClockOverride() { AuthenticationSdk::setUnixTimeSource(nullptr); }
  ClockOverride(const ClockOverride&) = delete;
  ClockOverride& operator=(const ClockOverride&) = delete;
};

}  // namespace Fixtures
