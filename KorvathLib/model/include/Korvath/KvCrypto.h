#pragma once

// Sealing of the configuration files (under the machine-bound configuration key) and of
// the request and response bodies of the cloud protocol (under the request key that the
// service derives from the same three inputs: account identifier, resource identifier as
// decimal text, integration key). Thread-safe: the push task and the dialog thread may
// share one object.

#include <cstdint>
#include <mutex>
#include <string>

#include "CryptoSdk/SecurityService.h"

namespace Korvath {

class KvCrypto {
 public:
  KvCrypto() = default;
  KvCrypto(const KvCrypto& other);
  // Copies the three request-key inputs; the integration key goes through
  // setIntegrationKey and a refused one raises KvException 5020. Cached keys are not copied.
  KvCrypto& operator=(const KvCrypto& other);

  void setAccountId(const std::string& accountId);
  std::string getAccountId() const;
  // Decimal text of the resource identifier ("0" when not registered).
  void setResourceId(const std::string& resourceId);
  std::string getResourceId() const;
  // 0, or 5020 when the length is not 0 or 3 to 255 (old value kept).
  std::uint16_t setIntegrationKey(const std::string& integrationKey);
  std::string getIntegrationKey() const;

  // Request and response bodies: 0, or 5006 / 5007 when nothing usable came out.
  std::uint16_t encryptRequest(const std::string& plainJson, std::string& sealed);
  std::uint16_t decryptResponse(const std::string& sealed, std::string& plainJson);

  // Configuration files: 0, or 5004 (sealing failed) / 5005 (cannot be opened with this
  // machine's configuration key).
  std::uint16_t sealConfig(const std::string& plainJson, std::string& sealed);
  std::uint16_t openConfig(const std::string& sealed, std::string& plainJson);

 private:
  bool requestKeyLocked(CryptoSdk::SealKey& key);
  bool configKeyLocked(CryptoSdk::SealKey& key);

  mutable std::mutex mutex_;
  std::string accountId_;
  std::string resourceId_ = "0";
  std::string integrationKey_;
  // Derived again whenever one of the three inputs changes.
  CryptoSdk::SealKey requestKey_;
  bool requestKeyValid_ = false;
  CryptoSdk::SealKey configKey_;
  bool configKeyValid_ = false;
};

}  // namespace Korvath
