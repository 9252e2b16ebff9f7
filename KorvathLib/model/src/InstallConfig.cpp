#include "Korvath/InstallConfig.h"

#include "RecordSupport.h"
#include "Korvath/Config.h"
#include "Korvath/Platform.h"
#include "Korvath/ResultCodes.h"

namespace Korvath {

namespace J = Model::Json;

std::uint16_t InstallConfig::setRegion(const std::string& v) {
  return Detail::setUnlessRefused(!Detail::validRegion(v), KV_ERROR_INVALID_REGION_LENGTH, region_, v);
}

std::uint16_t InstallConfig::setEnvironment(const std::string& v) {
  return Detail::setUnlessRefused(!Detail::validEnvironment(v), KV_ERROR_INVALID_ENVIRONMENT_TYPE, environment_, v);
}

std::uint16_t InstallConfig::setIntegrationKey(const std::string& v) {
  return Detail::setUnlessRefused(!isEmptyOr3To255(v), KV_ERROR_INVALID_INTEGRATION_KEY_LENGTH, integrationKey_, v);
}

std::string InstallConfig::toJson() const {
  J::Writer w;
  w.startObject()
      .field("region", region_)
      .field("environment", environment_)
      .field("accountId", accountId_)
      .field("resourceId", resourceId_)
      .field("integrationKey", integrationKey_)
      .field("allowUnknownUsers", allowUnknownUsers_)
      .endObject();
  return w.str();
}

std::uint16_t InstallConfig::fillFromJson(const std::string& json) {
  rapidjson::Document doc;
  if (!J::parseObject(json, doc)) return KV_ERROR_FILL_INSTALL_CONFIG_FROM_JSON;
  InstallConfig t(kvCrypto_);
  std::string text;
  if (!J::getString(doc, "region", text) || t.setRegion(text) != 0) return KV_ERROR_FILL_INSTALL_CONFIG_REGION_FROM_JSON;
  if (!J::getString(doc, "environment", text) || t.setEnvironment(text) != 0)
    return KV_ERROR_FILL_INSTALL_CONFIG_ENVIRONMENT_FROM_JSON;
  if (!J::getString(doc, "accountId", t.accountId_)) return KV_ERROR_FILL_INSTALL_CONFIG_ACCOUNT_ID_FROM_JSON;
  if (!J::getUint32(doc, "resourceId", t.resourceId_)) return KV_ERROR_FILL_INSTALL_CONFIG_RESOURCE_ID_FROM_JSON;
  if (!J::getString(doc, "integrationKey", text) || t.setIntegrationKey(text) != 0)
    return KV_ERROR_FILL_INSTALL_CONFIG_INTEGRATION_KEY_FROM_JSON;
  if (!J::getUint8(doc, "allowUnknownUsers", t.allowUnknownUsers_)) return KV_ERROR_FILL_INSTALL_CONFIG_ALLOW_UNKNOWN_USERS_FROM_JSON;
  *this = t;
  return KV_SUCCESS;
}

std::uint16_t InstallConfig::readFile(const std::string& path) {
  if (kvCrypto_ == nullptr) return KV_ERROR_DECRYPT_CONFIG_FILE;
  const std::string p = path.empty() ? Platform::installConfigFilePath() : path;
  if (p.empty()) return KV_ERROR_INSTALL_CONFIG_FILE_NOT_FOUND;
  std::string raw;
  std::uint16_t code = ConfigFile::readWhole(p, raw);
  if (code == KV_ERROR_CONFIG_FILE_NOT_FOUND) return KV_ERROR_INSTALL_CONFIG_FILE_NOT_FOUND;
  if (code != 0) return KV_ERROR_DECRYPT_CONFIG_FILE;
  std::string plain;
  code = kvCrypto_->openConfig(raw, plain);
  if (code != 0) return code;
  return fillFromJson(plain);
}

std::uint16_t InstallConfig::writeFile(const std::string& path) const {
  if (kvCrypto_ == nullptr) return KV_ERROR_ENCRYPT_CONFIG_FILE;
  const std::string p = path.empty() ? Platform::installConfigFilePath() : path;
  if (p.empty()) return KV_ERROR_WRITE_CONFIG_FILE;
  std::string sealed;
  std::uint16_t code = kvCrypto_->sealConfig(toJson(), sealed);
  if (code != 0) return code;
  return ConfigFile::writeAtomically(p, sealed) ? KV_SUCCESS : KV_ERROR_WRITE_CONFIG_FILE;
}

}  // namespace Korvath
