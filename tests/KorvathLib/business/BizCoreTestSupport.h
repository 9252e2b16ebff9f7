#pragma once

// Support of the business tests (the services tests use it too): a clock that moves only when
// told, a temporary root with the configuration file of one test, a configuration of the
// simulator's default account, blobs and codes of test authenticators of that account, and
// the state every business test works on.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "CloudTestSupport.h"
#include "Korvath/Business/KvBusiness.h"
#include "Korvath/Config.h"
#include "Korvath/KvCrypto.h"
#include "Korvath/Platform.h"

namespace BizCoreTest {

using CloudTest::kAccountId;
using CloudTest::kIntegrationKey;
extern const std::int32_t kResourceId;
// Secrets of the default fixture's tokens: alice's (RFC 4226's test secret) and bob's.
extern const char* const kAliceSecretHex;
extern const char* const kBobSecretHex;

// 2025-10-09 09:33:20 UTC as a FILETIME; tests move it with set(), and a sleep advances it.
class FakeClock : public Korvath::Platform::IClock {
 public:
  static constexpr std::uint64_t kStart = 134044736000000000ull;
  std::uint64_t nowFileTime() override { return fileTime_.load(); }
  std::int64_t nowUnixMs() override {
    return static_cast<std::int64_t>(fileTime_.load() / 10000ull) - 11644473600000LL;
  }
  std::int64_t monotonicMs() override { return static_cast<std::int64_t>(fileTime_.load() / 10000ull); }
  void sleepMs(std::uint32_t ms) override;
  void set(std::uint64_t fileTime) { fileTime_ = fileTime; }
  std::int64_t sleptMs() const { return slept_.load(); }

 private:
  std::atomic<std::uint64_t> fileTime_{kStart};
  std::atomic<std::int64_t> slept_{0};
};

// A temporary directory that is removed again; natively the process's KORVATH_ROOT points at
// the first one made (machine key and locks), since the platform layer reads it once.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Region "localhost", environment "prod", the default account's identifiers and integration
// key, the file at `configPath` (not written).
void fillSimConfig(Korvath::Config& config, const std::string& configPath);

// A user record with the given factors; no authenticators.
Korvath::Model::UserConfig makeUser(const std::string& login, bool push, bool qrcode, bool otp,
                                    const std::string& email = std::string());
// A blob of the default account for a secret given in hex (model 10 mobile, 11-13 OATH token),
// the code such a token shows at `counter`, and a record of such a blob with a device id.
std::string makeSecretBlob(std::uint8_t model, const std::string& secretHex, bool active = true,
                           std::uint64_t counter = 0);
std::string hotp(const std::string& secretHex, std::uint64_t counter);
Korvath::Model::AuthenticatorRecord authenticatorOf(std::uint8_t model, const std::string& secretHex,
                                                    std::uint32_t deviceId, bool active = true);
// A user with every factor on and the given authenticators.
Korvath::Model::UserConfig userWith(const std::string& login, const std::string& email,
                                    const std::vector<Korvath::Model::AuthenticatorRecord>& authenticators);

// What the mobile authenticator holding `blob` answers to `command` now, and the code an
// administrator reads out for that stored login, hours and challenge.
std::string qrAnswer(const std::string& blob, const std::string& command);
std::string adminCode(const std::string& login, std::uint32_t hours, const std::string& challenge);

// The server switches of `config`: offline checks allowed, remember password, forgot authenticator.
void setServerFlags(Korvath::Config& config, std::uint8_t offline, std::uint8_t rememberPassword,
                    std::uint8_t forgotAuthenticator);

// Reads the configuration file at `path` into a fresh configuration; its code.
std::uint16_t readBack(const std::string& path, Korvath::KvCrypto& crypto, Korvath::Config& out);

// What a business test works on: the clock, a configuration of the default account in a file
// of its own (not written until something saves) and the business object bound to both.
class BizState {
 protected:
  // Installs the clock and binds the business object; the agent registry is the caller's.
  void attach();
  void detach();
  void store(const std::vector<Korvath::Model::UserConfig>& users);
  Korvath::Model::UserConfig stored(const std::string& login);
  Korvath::Config readBackConfig();
  bool fileExists() const;
  void setServerFlags(std::uint8_t offline, std::uint8_t rememberPassword, std::uint8_t forgotAuthenticator) {
    BizCoreTest::setServerFlags(config_, offline, rememberPassword, forgotAuthenticator);
  }
  void setIntegrationKey(const std::string& key);

  FakeClock clock_;
  TempDir dir_;
  std::string configPath_;
  Korvath::KvCrypto crypto_;
  Korvath::Config config_{&crypto_};
  Korvath::Business::KvBusiness business_;
};

}  // namespace BizCoreTest
