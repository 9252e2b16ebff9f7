#pragma once

// Helpers of the data-model tests: a private directory per test (natively also the
// KORVATH_ROOT of the test, which holds the machine key and the lock files) and sample
// records with every field set.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>

#include "Korvath/Config.h"
#include "Korvath/InstallConfig.h"
#include "Korvath/KvCrypto.h"
#include "Korvath/Model/CloudRecords.h"
#include "Korvath/Service/ServiceMessages.h"

namespace KvModelTest {


// Sets up a fresh directory; natively KORVATH_ROOT points at it for the test's duration.
class TempRootTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  // The configuration saved at path(name), read with crypto_.
  Korvath::Config reread(const std::string& name = "kvconfig.cfg");
  std::filesystem::path dir_;
  Korvath::KvCrypto crypto_;
};

Korvath::Model::AuthenticatorRecord sampleAuthenticator(std::uint8_t model = 10, char fill = 'A');
Korvath::Model::UserConfig sampleUser(const std::string& login, const std::string& email = std::string());
Korvath::ServerConfig sampleServerConfig();
Korvath::Model::TransactionData sampleTransactionData();
Korvath::Model::ResponseConfig sampleResponseConfig();

}  // namespace KvModelTest
