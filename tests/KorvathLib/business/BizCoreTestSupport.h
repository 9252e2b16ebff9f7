#pragma once

// Support of the KvBusiness tests: a clock that moves only when told, a temporary root with
// the configuration file of one test, a configuration of the simulator's default account, and
// blobs of test authenticators.

#include <atomic>
#include <cstdint>
#include <string>

#include "Korvath/Business/KvBusiness.h"
#include "Korvath/Config.h"
#include "Korvath/KvCrypto.h"
#include "Korvath/Platform.h"

namespace BizCoreTest {

extern const char* const kAccountId;
extern const std::int32_t kResourceId;
extern const char* const kIntegrationKey;

// 2025-10-09 09:33:20 UTC as a FILETIME; tests move it with set() and advance().
class FakeClock : public Korvath::Platform::IClock {
 public:
  static constexpr std::uint64_t kStart = 134044736000000000ull;
  std::uint64_t nowFileTime() override {
    ++reads_;
    return fileTime_.load();
  }
  unsigned reads() const { return reads_.load(); }
  std::int64_t nowUnixMs() override {
    return static_cast<std::int64_t>(fileTime_.load() / 10000ull) - 11644473600000LL;
  }
  std::int64_t monotonicMs() override { return static_cast<std::int64_t>(fileTime_.load() / 10000ull); }
  void sleepMs(std::uint32_t ms) override { fileTime_ += static_cast<std::uint64_t>(ms) * 10000ull; }
  void set(std::uint64_t fileTime) { fileTime_ = fileTime; }

 private:
  std::atomic<std::uint64_t> fileTime_{kStart};
  std::atomic<unsigned> reads_{0};
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
// A blob of the default account for a test secret.
std::string makeBlob(std::uint8_t model, bool active);
Korvath::Model::AuthenticatorRecord makeAuthenticator(std::uint8_t model, bool active, const std::string& serial);

// Reads the configuration file at `path` into a fresh configuration; its code.
std::uint16_t readBack(const std::string& path, Korvath::KvCrypto& crypto, Korvath::Config& out);

}  // namespace BizCoreTest
