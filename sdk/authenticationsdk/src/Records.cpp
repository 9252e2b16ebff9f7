// JSON forms of the settings and challenge records.
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "AuthenticationSdk/AuthenticationSettings.h"
#include "AuthenticationSdk/ChallengeData.h"
#include "Commons/CommonsException.h"

namespace AuthenticationSdk {

using Commons::Exception::COMMONS_ERROR_INVALID_JSON;
using Commons::Exception::COMMONS_ERROR_JSON_FIELD;

namespace {

// Iterative parsing: a deeply nested text cannot exhaust the stack.
bool parseObject(const std::string& json, rapidjson::Document& doc) {
  doc.Parse<rapidjson::kParseIterativeFlag>(json.c_str(), json.size());
  return !doc.HasParseError() && doc.IsObject();
}

bool readUint(const rapidjson::Document& doc, const char* key, std::uint32_t& out) {
  const auto it = doc.FindMember(key);
  if (it == doc.MemberEnd() || !it->value.IsUint()) return false;
  out = it->value.GetUint();
  return true;
}

bool readString(const rapidjson::Document& doc, const char* key, std::string& out) {
  const auto it = doc.FindMember(key);
  if (it == doc.MemberEnd() || !it->value.IsString()) return false;
  out.assign(it->value.GetString(), it->value.GetStringLength());
  return true;
}

}  // namespace

std::string AuthenticationSettings::toJson() const {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.StartObject();
  writer.Key("accountId");
  writer.String(accountId.c_str(), static_cast<rapidjson::SizeType>(accountId.size()));
  writer.Key("loginAttempts");
  writer.Uint(loginAttempts);
  writer.Key("authenticationAttempts");
  writer.Uint(authenticationAttempts);
  writer.Key("autoUnblockTime");
  writer.Uint(autoUnblockTime);
  writer.Key("syncTime");
  writer.Uint(syncTime);
  writer.Key("timeWindow");
  writer.Uint(timeWindow);
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

std::string ChallengeData::toJson() const {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.StartObject();
  writer.Key("tp");
  writer.Uint(type_);
  writer.Key("ac");
  writer.String(accountId_.c_str(), static_cast<rapidjson::SizeType>(accountId_.size()));
  writer.Key("ul");
  writer.String(userLogin_.c_str(), static_cast<rapidjson::SizeType>(userLogin_.size()));
  writer.Key("ti");
  writer.Uint(time_);
  writer.Key("ch");
  writer.String(challenge_.c_str(), static_cast<rapidjson::SizeType>(challenge_.size()));
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

std::uint16_t ChallengeData::fillFromJson(const std::string& json) {
  rapidjson::Document doc;
  if (!parseObject(json, doc)) return COMMONS_ERROR_INVALID_JSON;
  std::uint32_t type = 0;
  ChallengeData read;
  if (!readUint(doc, "tp", type) || type > 0xFF || !readString(doc, "ac", read.accountId_) ||
      !readString(doc, "ul", read.userLogin_) || !readUint(doc, "ti", read.time_) ||
      !readString(doc, "ch", read.challenge_))
    return COMMONS_ERROR_JSON_FIELD;
  read.type_ = static_cast<std::uint8_t>(type);
  *this = read;
  return 0;
}

}  // namespace AuthenticationSdk
