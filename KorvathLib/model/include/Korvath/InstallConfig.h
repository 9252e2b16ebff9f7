#pragma once

// The install configuration written by the installer (or tools/installcfg): the identity
// with which the agent registers the first time. Sealed under the configuration key.

#include <cstdint>
#include <string>

#include "Korvath/KvCrypto.h"

namespace Korvath {

class InstallConfig {
 public:
  InstallConfig() = default;
  explicit InstallConfig(KvCrypto* crypto) : kvCrypto_(crypto) {}

  std::uint16_t setRegion(const std::string& v);       // 0 or 3..25, else 5032
  const std::string& getRegion() const { return region_; }
  std::uint16_t setEnvironment(const std::string& v);  // "", "dev", "qa", "staging", "prod", else 5033
  const std::string& getEnvironment() const { return environment_; }
  void setAccountId(const std::string& v) { accountId_ = v; }
  const std::string& getAccountId() const { return accountId_; }
  void setResourceId(std::uint32_t v) { resourceId_ = v; }
  std::uint32_t getResourceId() const { return resourceId_; }
  std::uint16_t setIntegrationKey(const std::string& v);  // 0 or 3..255, else 5020
  const std::string& getIntegrationKey() const { return integrationKey_; }
  // Unknown-user setting chosen at install time (the service's own setting, delivered
  // with the server configuration, decides once the agent is registered).
  void setAllowUnknownUsers(std::uint8_t v) { allowUnknownUsers_ = v; }
  std::uint8_t getAllowUnknownUsers() const { return allowUnknownUsers_; }

  // 0, 5100 (missing), 5005 (cannot be opened with this machine's key) or a fill code.
  // Empty path: the default path.
  std::uint16_t readFile(const std::string& path = std::string());
  // Installer side: 0, 5004 (sealing failed) or 5102 (writing failed).
  std::uint16_t writeFile(const std::string& path = std::string()) const;

  std::string toJson() const;
  std::uint16_t fillFromJson(const std::string& json);

 private:
  std::string region_;
  std::string environment_;
  std::string accountId_;
  std::uint32_t resourceId_ = 0;
  std::string integrationKey_;
  std::uint8_t allowUnknownUsers_ = 0;
  KvCrypto* kvCrypto_ = nullptr;
};

}  // namespace Korvath
