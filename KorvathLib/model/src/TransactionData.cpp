#include "Korvath/Model/TransactionData.h"

#include "RecordSupport.h"
#include "Korvath/KvException.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/ServerConfig.h"

namespace Korvath {
namespace Model {

using Exception::KvException;

TransactionDataData& TransactionDataData::operator=(const TransactionDataData& other) {
  if (this == &other) return *this;
  std::uint16_t code = other.validate();
  if (code != 0) throw KvException(code);
  platform_ = other.platform_;
  location_ = other.location_;
  osVersion_ = other.osVersion_;
  computer_ = other.computer_;
  domain_ = other.domain_;
  clientIp_ = other.clientIp_;
  resourceName_ = other.resourceName_;
  return *this;
}

std::uint16_t TransactionDataData::validate() const {
  if (platform_ != 1 && platform_ != 2) return KV_ERROR_INVALID_PLATFORM;
  if (computer_.size() > 255) return KV_ERROR_INVALID_MACHINE_NAME_LENGTH;
  if (!isEmptyOr3To255(resourceName_)) return KV_ERROR_INVALID_RESOURCE_ALIAS_LENGTH;
  return KV_SUCCESS;
}

std::uint16_t TransactionDataData::setPlatform(std::uint8_t p) {
  if (p != 1 && p != 2) return KV_ERROR_INVALID_PLATFORM;
  platform_ = p;
  return KV_SUCCESS;
}

std::uint16_t TransactionDataData::setComputer(const std::string& v) {
  return Detail::setUnlessRefused(v.size() > 255, KV_ERROR_INVALID_MACHINE_NAME_LENGTH, computer_, v);
}

std::uint16_t TransactionDataData::setResourceName(const std::string& v) {
  return Detail::setUnlessRefused(!isEmptyOr3To255(v), KV_ERROR_INVALID_RESOURCE_ALIAS_LENGTH, resourceName_, v);
}

void TransactionDataData::write(Json::Writer& w) const {
  w.startObject()
      .field("platform", platform_)
      .field("location", location_)
      .field("osVersion", osVersion_)
      .field("computer", computer_)
      .field("domain", domain_)
      .field("clientIp", clientIp_)
      .field("resourceName", resourceName_)
      .endObject();
}

std::string TransactionDataData::toJson() const { return Detail::writtenJson(*this); }

std::uint16_t TransactionDataData::fillFromJson(const std::string& json) {
  return Detail::fillFromText(*this, json, KV_ERROR_FILL_TRANSACTION_DATA_DATA_DOCUMENT_FROM_JSON);
}

std::uint16_t TransactionDataData::fillFromValue(const rapidjson::Value& obj) {
  if (!obj.IsObject()) return KV_ERROR_FILL_TRANSACTION_DATA_DATA_DOCUMENT_FROM_JSON;
  TransactionDataData d;
  std::uint8_t platform = 0;
  if (!Json::getUint8(obj, "platform", platform) || d.setPlatform(platform) != 0)
    return KV_ERROR_FILL_TRANSACTION_DATA_DATA_PLATFORM_FROM_JSON;
  if (!Json::getString(obj, "location", d.location_)) return KV_ERROR_FILL_TRANSACTION_DATA_DATA_LOCATION_FROM_JSON;
  if (!Json::getString(obj, "osVersion", d.osVersion_)) return KV_ERROR_FILL_TRANSACTION_DATA_DATA_OS_VERSION_FROM_JSON;
  std::string text;
  if (!Json::getString(obj, "computer", text) || d.setComputer(text) != 0)
    return KV_ERROR_FILL_TRANSACTION_DATA_DATA_COMPUTER_FROM_JSON;
  if (!Json::getString(obj, "domain", d.domain_)) return KV_ERROR_FILL_TRANSACTION_DATA_DATA_DOMAIN_FROM_JSON;
  if (!Json::getString(obj, "clientIp", d.clientIp_)) return KV_ERROR_FILL_TRANSACTION_DATA_DATA_CLIENT_IP_FROM_JSON;
  if (!Json::getString(obj, "resourceName", text) || d.setResourceName(text) != 0)
    return KV_ERROR_FILL_TRANSACTION_DATA_DATA_RESOURCE_NAME_FROM_JSON;
  *this = d;
  return KV_SUCCESS;
}

TransactionData& TransactionData::operator=(const TransactionData& other) {
  if (this == &other) return *this;
  std::uint16_t code = other.validate();
  if (code != 0) throw KvException(code);
  type_ = other.type_;
  timestamp_ = other.timestamp_;
  user_ = other.user_;
  data_ = other.data_;
  return *this;
}

std::uint16_t TransactionData::validate() const {
  if (type_ != kTypeDesktopLogon) return KV_ERROR_INVALID_TRANSACTION_TYPE;
  if (timestamp_ == 0) return KV_ERROR_INVALID_TRANSACTION_TIMESTAMP;
  return data_.validate();
}

std::uint16_t TransactionData::setType(std::uint8_t type) {
  if (type != kTypeDesktopLogon) return KV_ERROR_INVALID_TRANSACTION_TYPE;
  type_ = type;
  return KV_SUCCESS;
}

std::uint16_t TransactionData::setTimestamp(std::uint32_t unixSeconds) {
  if (unixSeconds == 0) return KV_ERROR_INVALID_TRANSACTION_TIMESTAMP;
  timestamp_ = unixSeconds;
  return KV_SUCCESS;
}

std::uint16_t TransactionData::setUser(const std::string& user) {
  if (user.empty() || user.size() > 100) return KV_ERROR_INVALID_USER_LOGIN_LENGTH;
  user_ = user;
  return KV_SUCCESS;
}

std::uint16_t TransactionData::setData(const TransactionDataData& data) {
  std::uint16_t code = data.validate();
  if (code != 0) return code;
  data_ = data;
  return KV_SUCCESS;
}

std::string TransactionData::toJson() const {
  Json::Writer w;
  w.startObject().field("type", type_).field("timestamp", timestamp_).field("user", user_);
  w.key("data");
  data_.write(w);
  w.endObject();
  return w.str();
}

std::uint16_t TransactionData::fillFromJson(const std::string& json) {
  return Detail::fillFromText(*this, json, KV_ERROR_FILL_TRANSACTION_DATA_FROM_JSON);
}

// Reading checks the JSON types and the field limits; whether the record may go into a
// request (type 3, a timestamp) is decided by the validated assignment.
std::uint16_t TransactionData::fillFromValue(const rapidjson::Value& obj) {
  if (!obj.IsObject()) return KV_ERROR_FILL_TRANSACTION_DATA_FROM_JSON;
  TransactionData t;
  if (!Json::getUint8(obj, "type", t.type_)) return KV_ERROR_FILL_TRANSACTION_DATA_TYPE_FROM_JSON;
  if (!Json::getUint32(obj, "timestamp", t.timestamp_)) return KV_ERROR_FILL_TRANSACTION_DATA_TIMESTAMP_FROM_JSON;
  if (!Json::getString(obj, "user", t.user_, 0, 100)) return KV_ERROR_FILL_TRANSACTION_DATA_USER_FROM_JSON;
  const rapidjson::Value* data = Json::member(obj, "data");
  if (data == nullptr || !data->IsObject()) return KV_ERROR_FILL_TRANSACTION_DATA_DATA_FROM_JSON;
  std::uint16_t code = t.data_.fillFromValue(*data);
  if (code != 0) return code;
  type_ = t.type_;
  timestamp_ = t.timestamp_;
  user_ = t.user_;
  data_ = t.data_;
  return KV_SUCCESS;
}

}  // namespace Model
}  // namespace Korvath
