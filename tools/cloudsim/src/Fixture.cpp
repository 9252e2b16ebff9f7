#include <CloudSim/Server.h>

#include "Json.h"

#include <rapidjson/document.h>

#include <cstdint>
#include <fstream>
#include <sstream>

namespace CloudSim {
namespace {

bool readResourceId(const rapidjson::Value& value, std::string& out) {
  std::uint64_t number = 0;
  if (value.IsUint()) {
    number = value.GetUint();
  } else if (value.IsString()) {
    std::string text(value.GetString(), value.GetStringLength());
    if (text.empty() || text.size() > 10) return false;
    for (char c : text) {
      if (c < '0' || c > '9') return false;
      number = number * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (number > 0xFFFFFFFFull) return false;
  } else {
    return false;
  }
  out = std::to_string(number);
  return true;
}

}  // namespace

bool parseFixture(const std::string& json, Fixture& fixture, std::string& error) {
  rapidjson::Document doc;
  if (!Json::parseObject(json, doc)) {
    error = "fixture is not a JSON object (of at most " + std::to_string(Json::kMaxDepth) + " levels)";
    return false;
  }
  Fixture result;
  auto accounts = doc.FindMember("accounts");
  if (accounts != doc.MemberEnd()) {
    if (!accounts->value.IsArray()) {
      error = "fixture: \"accounts\" is not an array";
      return false;
    }
    for (rapidjson::SizeType i = 0; i < accounts->value.Size(); ++i) {
      const rapidjson::Value& entry = accounts->value[i];
      const std::string where = "fixture: accounts[" + std::to_string(i) + "]";
      if (!entry.IsObject()) {
        error = where + " is not an object";
        return false;
      }
      Account account;
      auto id = entry.FindMember("accountId");
      if (id == entry.MemberEnd() || !id->value.IsString() || id->value.GetStringLength() == 0) {
        error = where + ": \"accountId\" must be a non-empty string";
        return false;
      }
      account.accountId.assign(id->value.GetString(), id->value.GetStringLength());
      auto resource = entry.FindMember("resourceId");
      if (resource == entry.MemberEnd() || !readResourceId(resource->value, account.resourceId)) {
        error = where + ": \"resourceId\" must be an unsigned 32-bit number or its decimal text";
        return false;
      }
      auto key = entry.FindMember("integrationKey");
      if (key == entry.MemberEnd() || !key->value.IsString() || key->value.GetStringLength() < 3 ||
          key->value.GetStringLength() > 255) {
        error = where + ": \"integrationKey\" must be a string of 3 to 255 characters";
        return false;
      }
      account.integrationKey.assign(key->value.GetString(), key->value.GetStringLength());
      for (const Account& other : result.accounts) {
        if (other.accountId == account.accountId && other.resourceId == account.resourceId) {
          error = where + " repeats an account and resource";
          return false;
        }
      }
      result.accounts.push_back(std::move(account));
    }
  }
  fixture = std::move(result);
  return true;
}

bool loadFixtureFile(const std::string& path, Fixture& fixture, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read fixture " + path;
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return parseFixture(text.str(), fixture, error);
}

}  // namespace CloudSim
