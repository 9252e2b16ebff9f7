#include "Korvath/KvCrypto.h"

#include "Korvath/KvException.h"
#include "Korvath/Platform.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/ServerConfig.h"

namespace Korvath {

KvCrypto::KvCrypto(const KvCrypto& other) { *this = other; }

KvCrypto& KvCrypto::operator=(const KvCrypto& other) {
  if (this == &other) return *this;
  std::string account, resource, key;
  {
    std::lock_guard<std::mutex> g(other.mutex_);
    account = other.accountId_;
    resource = other.resourceId_;
    key = other.integrationKey_;
  }
  std::uint16_t code = setIntegrationKey(key);
  if (code != 0) throw Exception::KvException(code);
  setAccountId(account);
  setResourceId(resource);
  return *this;
}

void KvCrypto::setAccountId(const std::string& accountId) {
  std::lock_guard<std::mutex> g(mutex_);
  if (accountId_ != accountId) requestKeyValid_ = false;
  accountId_ = accountId;
}

std::string KvCrypto::getAccountId() const {
  std::lock_guard<std::mutex> g(mutex_);
  return accountId_;
}

void KvCrypto::setResourceId(const std::string& resourceId) {
  std::lock_guard<std::mutex> g(mutex_);
  if (resourceId_ != resourceId) requestKeyValid_ = false;
  resourceId_ = resourceId;
}

std::string KvCrypto::getResourceId() const {
  std::lock_guard<std::mutex> g(mutex_);
  return resourceId_;
}

std::uint16_t KvCrypto::setIntegrationKey(const std::string& integrationKey) {
  if (!isEmptyOr3To255(integrationKey)) return KV_ERROR_INVALID_INTEGRATION_KEY_LENGTH;
  std::lock_guard<std::mutex> g(mutex_);
  if (integrationKey_ != integrationKey) requestKeyValid_ = false;
  integrationKey_ = integrationKey;
  return KV_SUCCESS;
}

std::string KvCrypto::getIntegrationKey() const {
  std::lock_guard<std::mutex> g(mutex_);
  return integrationKey_;
}

bool KvCrypto::requestKeyLocked(CryptoSdk::SealKey& key) {
  if (!requestKeyValid_) {
    CryptoSdk::SealKey derived;
    if (CryptoSdk::AgentSecurityService::deriveRequestKey(accountId_, resourceId_, integrationKey_, derived) != 0 ||
        derived.empty())
      return false;
    requestKey_ = derived;
    requestKeyValid_ = true;
  }
  key = requestKey_;
  return true;
}

bool KvCrypto::configKeyLocked(CryptoSdk::SealKey& key) {
  if (!configKeyValid_) {
    std::vector<std::uint8_t> secret;
    if (!Platform::machineSecret(secret) || secret.empty()) return false;
    CryptoSdk::SealKey derived;
    std::uint16_t code = CryptoSdk::AgentSecurityService::deriveConfigKey(secret, derived);
    std::fill(secret.begin(), secret.end(), 0);
    if (code != 0 || derived.empty()) return false;
    configKey_ = derived;
    configKeyValid_ = true;
  }
  key = configKey_;
  return true;
}

std::uint16_t KvCrypto::encryptRequest(const std::string& plainJson, std::string& sealed) {
  sealed.clear();
  CryptoSdk::SealKey key;
  {
    std::lock_guard<std::mutex> g(mutex_);
    if (!requestKeyLocked(key)) return KV_ERROR_ENCRYPT_REQUEST;
  }
  std::string out;
  if (CryptoSdk::AgentSecurityService::seal(key, plainJson, out) != 0 || out.empty()) return KV_ERROR_ENCRYPT_REQUEST;
  sealed.swap(out);
  return KV_SUCCESS;
}

std::uint16_t KvCrypto::decryptResponse(const std::string& sealed, std::string& plainJson) {
  plainJson.clear();
  CryptoSdk::SealKey key;
  {
    std::lock_guard<std::mutex> g(mutex_);
    if (!requestKeyLocked(key)) return KV_ERROR_DECRYPT_RESPONSE;
  }
  std::string out;
  if (CryptoSdk::AgentSecurityService::open(key, sealed, out) != 0 || out.empty()) return KV_ERROR_DECRYPT_RESPONSE;
  plainJson.swap(out);
  return KV_SUCCESS;
}

std::uint16_t KvCrypto::sealConfig(const std::string& plainJson, std::string& sealed) {
  sealed.clear();
  CryptoSdk::SealKey key;
  {
    std::lock_guard<std::mutex> g(mutex_);
    if (!configKeyLocked(key)) return KV_ERROR_ENCRYPT_CONFIG_FILE;
  }
  std::string out;
  if (CryptoSdk::AgentSecurityService::seal(key, plainJson, out) != 0 || out.empty()) return KV_ERROR_ENCRYPT_CONFIG_FILE;
  sealed.swap(out);
  return KV_SUCCESS;
}

std::uint16_t KvCrypto::openConfig(const std::string& sealed, std::string& plainJson) {
  plainJson.clear();
  CryptoSdk::SealKey key;
  {
    std::lock_guard<std::mutex> g(mutex_);
    if (!configKeyLocked(key)) return KV_ERROR_DECRYPT_CONFIG_FILE;
  }
  std::string out;
  if (CryptoSdk::AgentSecurityService::open(key, sealed, out) != 0 || out.empty()) return KV_ERROR_DECRYPT_CONFIG_FILE;
  plainJson.swap(out);
  return KV_SUCCESS;
}

}  // namespace Korvath
