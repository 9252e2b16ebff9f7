#pragma once

// The forgot-token challenge record. Its JSON text, with the keys in the order
// "tp", "ac", "ul", "ti", "ch", is what the emergency code is computed over.

#include <cstdint>
#include <string>

namespace AuthenticationSdk {

class ChallengeData {
 public:
  void setType(std::uint8_t type) { type_ = type; }
  void setAccountId(const std::string& accountId) { accountId_ = accountId; }
  void setUserLogin(const std::string& userLogin) { userLogin_ = userLogin; }
  void setTime(std::uint32_t hours) { time_ = hours; }
  void setChallenge(const std::string& challenge) { challenge_ = challenge; }

  std::uint8_t getType() const { return type_; }
  const std::string& getAccountId() const { return accountId_; }
  const std::string& getUserLogin() const { return userLogin_; }
  std::uint32_t getTime() const { return time_; }
  const std::string& getChallenge() const { return challenge_; }

  std::string toJson() const;
  // All five keys required with their types; 0 or a Commons code.
  std::uint16_t fillFromJson(const std::string& json);

 private:
  std::uint8_t type_ = 0;
  std::string accountId_;
  std::string userLogin_;
  std::uint32_t time_ = 0;
  std::string challenge_;
};

}  // namespace AuthenticationSdk
