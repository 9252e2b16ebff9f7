#pragma once

// The payload that describes one sign-in transaction: sent to the service with a push or
// QR-code transaction and handed to the offline QR-code check. JSON:
// {"type":3,"timestamp":<unix s>,"user":"...","data":{"platform":1,"location":"",...}}.

#include <cstdint>
#include <string>

#include "Korvath/Model/Json.h"

namespace Korvath {
namespace Model {

class TransactionDataData {
 public:
  TransactionDataData() = default;
  TransactionDataData(const TransactionDataData&) = default;
  // Validated: raises KvException with the code of validate().
  TransactionDataData& operator=(const TransactionDataData& other);
  TransactionDataData(TransactionDataData&&) noexcept = default;
  TransactionDataData& operator=(TransactionDataData&&) noexcept = default;
  bool operator==(const TransactionDataData& o) const { return toJson() == o.toJson(); }

  // 0, 5021 (platform not 1 or 2), 5022 (computer longer than 255) or 5026 (resource name
  // length not 0 or 3 to 255).
  std::uint16_t validate() const;

  std::uint16_t setPlatform(std::uint8_t p);
  std::uint8_t getPlatform() const { return platform_; }
  void setLocation(const std::string& v) { location_ = v; }
  const std::string& getLocation() const { return location_; }
  void setOsVersion(const std::string& v) { osVersion_ = v; }
  const std::string& getOsVersion() const { return osVersion_; }
  std::uint16_t setComputer(const std::string& v);
  const std::string& getComputer() const { return computer_; }
  void setDomain(const std::string& v) { domain_ = v; }
  const std::string& getDomain() const { return domain_; }
  void setClientIp(const std::string& v) { clientIp_ = v; }
  const std::string& getClientIp() const { return clientIp_; }
  std::uint16_t setResourceName(const std::string& v);
  const std::string& getResourceName() const { return resourceName_; }

  std::string toJson() const;
  std::uint16_t fillFromJson(const std::string& json);
  std::uint16_t fillFromValue(const rapidjson::Value& obj);
  void write(Json::Writer& w) const;

 private:
  std::uint8_t platform_ = 1;
  std::string location_;
  std::string osVersion_;
  std::string computer_;
  std::string domain_;
  std::string clientIp_;
  std::string resourceName_;
};

class TransactionData {
 public:
  static constexpr std::uint8_t kTypeDesktopLogon = 3;

  TransactionData() = default;
  TransactionData(const TransactionData&) = default;
  // Validated: raises KvException 5028 (type not 3), 5034 (timestamp 0) or the data's code.
  TransactionData& operator=(const TransactionData& other);
  // Moves do not validate: they relocate a record, they do not accept a new one.
  TransactionData(TransactionData&&) noexcept = default;
  TransactionData& operator=(TransactionData&&) noexcept = default;
  bool operator==(const TransactionData& o) const { return toJson() == o.toJson(); }

  std::uint16_t validate() const;

  std::uint16_t setType(std::uint8_t type);            // 3, else 5028
  std::uint8_t getType() const { return type_; }
  std::uint16_t setTimestamp(std::uint32_t unixSeconds);  // not 0, else 5034
  std::uint32_t getTimestamp() const { return timestamp_; }
  std::uint16_t setUser(const std::string& user);      // 1..100, else 5013
  const std::string& getUser() const { return user_; }
  std::uint16_t setData(const TransactionDataData& data);  // 0 or the data's code
  const TransactionDataData& getData() const { return data_; }

  std::string toJson() const;
  // 0, or 5470..5473 / 5490..5496 for the first refused key (a text that is not a JSON
  // object gives KV_ERROR_FILL_TRANSACTION_DATA_FROM_JSON). The record is unchanged on failure.
  std::uint16_t fillFromJson(const std::string& json);
  std::uint16_t fillFromValue(const rapidjson::Value& obj);

 private:
  std::uint8_t type_ = kTypeDesktopLogon;
  std::uint32_t timestamp_ = 0;
  std::string user_;
  TransactionDataData data_;
};

}  // namespace Model
}  // namespace Korvath
