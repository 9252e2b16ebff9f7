#pragma once

// The offline authentication-settings record, held in the server configuration and
// copied whole into every offline check.

#include <cstdint>
#include <string>

namespace AuthenticationSdk {

struct AuthenticationSettings {
  std::string accountId;
  // Wrong passwords a user may type (kept for the service; the offline checks do not use it).
  std::uint32_t loginAttempts = 5;
  // Consecutive wrong codes after which an authenticator blocks; 0 never blocks.
  std::uint32_t authenticationAttempts = 5;
  // Minutes after which a blocked authenticator unblocks by itself; 0 = only the service unblocks.
  std::uint32_t autoUnblockTime = 15;
  // HOTP look-ahead: how many counter values beyond the expected one an OTP may come
  // from; a code found there resynchronises the counter (capped at 1000).
  std::uint32_t syncTime = 10;
  // OCRA clock tolerance: time steps (minutes) either side of the corrected local time
  // that a QR-code answer may have been computed in (capped at 60).
  std::uint32_t timeWindow = 2;

  // The account's integration key. It keys the emergency authenticator of the
  // forgot-token check and the sealing of token secrets inside blobs, so a copy of the
  // library alone can neither mint codes nor read secrets. Filled by the caller from the
  // server configuration; never written by toJson.
  std::string integrationKey;

  // {"accountId", "loginAttempts", "authenticationAttempts", "autoUnblockTime",
  //  "syncTime", "timeWindow"} for a debug line.
  std::string toJson() const;
};

}  // namespace AuthenticationSdk
