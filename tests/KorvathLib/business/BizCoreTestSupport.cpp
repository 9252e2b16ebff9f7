#include "BizCoreTestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <random>

#include "AuthenticationSdk/AuthenticatorBlob.h"

namespace BizCoreTest {

const char* const kAccountId = "AC1000000001";
const std::int32_t kResourceId = 4242;
const char* const kIntegrationKey = "sim-integration-key-0001";

TempDir::TempDir() {
  std::random_device rd;
  const auto base = std::filesystem::temp_directory_path();
  for (;;) {
    const auto candidate = base / ("kvbizcore-" + std::to_string(rd()));
    std::error_code ec;
    if (std::filesystem::create_directory(candidate, ec)) {
      path_ = candidate.generic_string();
      break;
    }
  }
#ifndef _WIN32
  static const std::string root = [this] {
    const std::string dir = path_ + "-root";
    std::filesystem::create_directories(dir);
    ::setenv("KORVATH_ROOT", dir.c_str(), 1);
    return dir;
  }();
  (void)root;
#endif
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void fillSimConfig(Korvath::Config& config, const std::string& configPath) {
  config.setRegion("localhost");
  config.setEnvironment("prod");
  config.setAccountId(kAccountId);
  config.setResourceId(kResourceId);
  Korvath::ServerConfig server = config.getServerConfig();
  server.setIntegrationKey(kIntegrationKey);
  config.setServerConfig(server);
  config.setFilePath(configPath);
}

Korvath::Model::UserConfig makeUser(const std::string& login, bool push, bool qrcode, bool otp,
                                    const std::string& email) {
  Korvath::Model::UserConfig user;
  user.setUserLogin(login);
  user.setEmail(email);
  user.setAuthTypes({{"push", push}, {"qrcode", qrcode}, {"otp", otp}});
  return user;
}

std::string makeBlob(std::uint8_t model, bool active) {
  AuthenticationSdk::Blob::Definition definition;
  definition.model = model;
  definition.secret.assign(20, 0x31);
  definition.active = active;
  std::string blob;
  AuthenticationSdk::Blob::create(definition, kAccountId, kIntegrationKey, blob);
  return blob;
}

Korvath::Model::AuthenticatorRecord makeAuthenticator(std::uint8_t model, bool active, const std::string& serial) {
  Korvath::Model::AuthenticatorRecord record;
  record.setModel(model);
  record.setSerialNumber(serial);
  record.setBlob(makeBlob(model, active));
  return record;
}

std::uint16_t readBack(const std::string& path, Korvath::KvCrypto& crypto, Korvath::Config& out) {
  out.setKvCrypto(&crypto);
  return out.readFile(path);
}

}  // namespace BizCoreTest
