#pragma once

// Support of the QR-code and forgot-token business tests: a private directory per test
// (natively also KORVATH_ROOT, which holds the machine key and the lock files), a clock that
// stands still, an agent registry in memory, a configuration of the simulator's default
// account with a stored user, and blobs of test authenticators of that account.

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Korvath/Business/KvBusiness.h"
#include "CloudTestSupport.h"
#include "Korvath/Config.h"
#include "Korvath/KvCrypto.h"
#include "Korvath/Platform.h"

namespace QrForgotTest {

// The first account of the simulator's default fixture.
extern const char* const kAccountId;
extern const char* const kIntegrationKey;
constexpr std::int32_t kResourceId = 4242;
// Secrets of alice's mobile authenticator in the fixture and of a second test token.
extern const char* const kAliceSecretHex;
extern const char* const kOtherSecretHex;

class FixedClock : public Korvath::Platform::IClock {
 public:
  std::uint64_t nowFileTime() override { return static_cast<std::uint64_t>(unixMs + 11644473600000LL) * 10000ULL; }
  std::int64_t nowUnixMs() override { return unixMs; }
  std::int64_t monotonicMs() override { return 1000; }
  void sleepMs(std::uint32_t) override {}
  std::int64_t unixMs = 1760000000000LL;
};

using MapRegistry = CloudTest::MapRegistry;

// A blob of a test authenticator of the default account (model 10 mobile, 11 OATH token).
std::string makeBlob(std::uint8_t model, const std::string& secretHex, bool active = true);
Korvath::Model::AuthenticatorRecord authenticator(std::uint8_t model, const std::string& secretHex,
                                                  std::uint32_t deviceId, bool active = true);
// A stored user with the given authenticators and factor map.
Korvath::Model::UserConfig storedUser(const std::string& login, const std::string& email,
                                      const std::vector<Korvath::Model::AuthenticatorRecord>& authenticators,
                                      const Korvath::Model::AuthFactorMap& factors = {
                                          {"otp", true}, {"qrcode", true}, {"push", true}});

// A configuration of the default account bound to its own file in a private directory, with
// a clock that stands still, an empty agent registry (no geolocation) and the business object.
class BusinessTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Server settings: offline authentication allowed or not, remember password, forgot token.
  void setServerFlags(std::uint8_t offline, std::uint8_t enableRememberPassword = 1,
                      std::uint8_t enableForgotAuthenticator = 1);
  void storeUsers(const std::vector<Korvath::Model::UserConfig>& users);
  Korvath::Model::UserConfig stored(const std::string& login);

  std::string dir_;
  FixedClock clock_;
  MapRegistry registry_;
  Korvath::KvCrypto crypto_;
  std::unique_ptr<Korvath::Config> config_;
  std::unique_ptr<Korvath::Business::KvBusiness> business_;
};

}  // namespace QrForgotTest
