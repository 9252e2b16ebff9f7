#include <CloudSim/Server.h>

#include "Json.h"

#include <rapidjson/document.h>

#include <cctype>
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

// Optional members: absent keeps the default; present with another type or out of range
// is an error naming the member.
class Reader {
 public:
  Reader(const rapidjson::Value& obj, std::string where, std::string& error)
      : obj_(obj), where_(std::move(where)), error_(error) {}

  bool text(const char* name, std::string& out, std::size_t minLength, std::size_t maxLength) {
    auto it = obj_.FindMember(name);
    if (it == obj_.MemberEnd()) return true;
    if (!it->value.IsString() || it->value.GetStringLength() < minLength || it->value.GetStringLength() > maxLength) {
      return fail(name, "a string of " + std::to_string(minLength) + " to " + std::to_string(maxLength) + " characters");
    }
    out.assign(it->value.GetString(), it->value.GetStringLength());
    return true;
  }
  bool alias(const char* name, std::string& out) {
    if (!text(name, out, 0, 255)) return false;
    if (out.size() == 1 || out.size() == 2) return fail(name, "empty or 3 to 255 characters");
    return true;
  }
  bool flag(const char* name, bool& out) {
    auto it = obj_.FindMember(name);
    if (it == obj_.MemberEnd()) return true;
    if (!it->value.IsBool()) return fail(name, "true or false");
    out = it->value.GetBool();
    return true;
  }
  template <typename T>
  bool number(const char* name, T& out, std::uint64_t minValue, std::uint64_t maxValue) {
    auto it = obj_.FindMember(name);
    if (it == obj_.MemberEnd()) return true;
    if (!it->value.IsUint64() || it->value.GetUint64() < minValue || it->value.GetUint64() > maxValue) {
      return fail(name, "a number from " + std::to_string(minValue) + " to " + std::to_string(maxValue));
    }
    out = static_cast<T>(it->value.GetUint64());
    return true;
  }
  bool factors(const char* name, std::map<std::string, bool>& out) {
    auto it = obj_.FindMember(name);
    if (it == obj_.MemberEnd()) return true;
    if (!it->value.IsObject()) return fail(name, "an object of true/false values");
    std::map<std::string, bool> result;
    for (auto m = it->value.MemberBegin(); m != it->value.MemberEnd(); ++m) {
      if (!m->value.IsBool()) return fail(name, "an object of true/false values");
      result[std::string(m->name.GetString(), m->name.GetStringLength())] = m->value.GetBool();
    }
    out = std::move(result);
    return true;
  }
  bool fail(const char* name, const std::string& what) {
    error_ = where_ + ": \"" + name + "\" must be " + what;
    return false;
  }
  const std::string& where() const { return where_; }

 private:
  const rapidjson::Value& obj_;
  std::string where_;
  std::string& error_;
};

bool readHex(const std::string& text, std::vector<std::uint8_t>& out) {
  if (text.size() % 2 != 0) return false;
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    int value = 0;
    for (std::size_t k = i; k < i + 2; ++k) {
      const char c = text[k];
      int digit;
      if (c >= '0' && c <= '9') digit = c - '0';
      else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
      else return false;
      value = value * 16 + digit;
    }
    bytes.push_back(static_cast<std::uint8_t>(value));
  }
  out = std::move(bytes);
  return true;
}

bool readSettings(const rapidjson::Value& obj, const std::string& where, SimSettings& s, std::string& error) {
  if (!obj.IsObject()) {
    error = where + " is not an object";
    return false;
  }
  Reader r(obj, where, error);
  return r.number("pushTimeout", s.pushTimeout, 10, 99) && r.number("offline", s.offline, 0, 255) &&
         r.number("syncInterval", s.syncInterval, 0, 0xFFFFFFFFFFFFFFFFull) &&
         r.text("supportMessage", s.supportMessage, 0, 4096) &&
         r.number("enableRememberPassword", s.enableRememberPassword, 0, 255) &&
         r.number("enableForgotAuthenticator", s.enableForgotAuthenticator, 0, 255) &&
         r.text("latestVersionKorvath", s.latestVersionKorvath, 0, 255) &&
         r.number("allowUnknownUsers", s.allowUnknownUsers, 0, 255) &&
         r.number("loginAttempts", s.loginAttempts, 0, 0xFFFFFFFFu) &&
         r.number("authenticationAttempts", s.authenticationAttempts, 0, 0xFFFFFFFFu) &&
         r.number("autoUnblockTime", s.autoUnblockTime, 0, 0xFFFFFFFFu) &&
         r.number("syncTime", s.syncTime, 0, 0xFFFFFFFFu) && r.number("timeWindow", s.timeWindow, 0, 0xFFFFFFFFu);
}

bool readAuthenticator(const rapidjson::Value& obj, const std::string& where, SimAuthenticator& a, std::string& error) {
  if (!obj.IsObject()) {
    error = where + " is not an object";
    return false;
  }
  Reader r(obj, where, error);
  std::string secretHex;
  if (!r.number("model", a.model, 9, 13) || !r.text("serialNumber", a.serialNumber, 1, 32) ||
      !r.number("deviceId", a.deviceId, 0, 0xFFFFFFFFu) || !r.text("secret", secretHex, 32, 128) ||
      !r.number("otpAlgorithm", a.otpAlgorithm, 1, 3) || !r.number("otpDigits", a.otpDigits, 6, 8) ||
      !r.number("counter", a.counter, 0, 0xFFFFFFFFFFFFFFFFull) || !r.flag("active", a.active)) {
    return false;
  }
  if (a.serialNumber.empty()) return r.fail("serialNumber", "given (1 to 32 characters)");
  if (a.otpDigits == 7) return r.fail("otpDigits", "6 or 8");
  if (!readHex(secretHex, a.secret)) return r.fail("secret", "hexadecimal text of 16 to 64 bytes");
  return true;
}

bool readUser(const rapidjson::Value& obj, const std::string& where, SimUser& u, std::string& error) {
  if (!obj.IsObject()) {
    error = where + " is not an object";
    return false;
  }
  Reader r(obj, where, error);
  if (!r.text("login", u.login, 1, 100) || !r.text("email", u.email, 0, 255) || !r.flag("blocked", u.blocked) ||
      !r.flag("overAllocated", u.overAllocated) || !r.flag("quarantine", u.quarantine) ||
      !r.flag("hasPolicy", u.hasPolicy) || !r.flag("isAllowedToAuthenticate", u.isAllowedToAuthenticate) ||
      !r.flag("isInSafeLocation", u.isInSafeLocation) || !r.flag("isInForgotToken", u.isInForgotToken) ||
      !r.factors("authTypes", u.authTypes) ||
      !r.number("authenticatorForgottenExpiryTimestamp", u.authenticatorForgottenExpiryTimestamp, 0,
                0xFFFFFFFFFFFFFFFFull)) {
    return false;
  }
  if (u.login.empty()) return r.fail("login", "given (1 to 100 characters)");
  auto list = obj.FindMember("authenticators");
  if (list != obj.MemberEnd()) {
    if (!list->value.IsArray()) return r.fail("authenticators", "an array");
    for (rapidjson::SizeType i = 0; i < list->value.Size(); ++i) {
      SimAuthenticator a;
      if (!readAuthenticator(list->value[i], where + ".authenticators[" + std::to_string(i) + "]", a, error)) return false;
      u.authenticators.push_back(std::move(a));
    }
  }
  return true;
}

bool sameTextIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

bool readBusinessState(const rapidjson::Value& entry, const std::string& where, Account& account, std::string& error) {
  Reader r(entry, where, error);
  if (!r.alias("accountAlias", account.accountAlias) || !r.alias("resourceAlias", account.resourceAlias) ||
      !r.text("masterPassword", account.masterPassword, 0, 255)) {
    return false;
  }
  auto settings = entry.FindMember("settings");
  if (settings != entry.MemberEnd() && !readSettings(settings->value, where + ".settings", account.settings, error)) {
    return false;
  }
  auto users = entry.FindMember("users");
  if (users == entry.MemberEnd()) return true;
  if (!users->value.IsArray()) return r.fail("users", "an array");
  for (rapidjson::SizeType i = 0; i < users->value.Size(); ++i) {
    SimUser user;
    const std::string at = where + ".users[" + std::to_string(i) + "]";
    if (!readUser(users->value[i], at, user, error)) return false;
    for (const SimUser& other : account.users) {
      if (sameTextIgnoringCase(other.login, user.login)) {
        error = at + " repeats the login " + user.login;
        return false;
      }
    }
    account.users.push_back(std::move(user));
  }
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
      if (!readBusinessState(entry, where, account, error)) return false;
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
