#include "State.h"

#include "Json.h"

#include <AuthenticationSdk/AuthenticatorBlob.h>

#include <cctype>

namespace CloudSim {
namespace {

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

bool makeBlobs(const Account& account, std::vector<SimUser>& users, std::string& error) {
  for (SimUser& user : users) {
    for (SimAuthenticator& a : user.authenticators) {
      AuthenticationSdk::Blob::Definition definition;
      definition.model = a.model;
      definition.secret.assign(a.secret.begin(), a.secret.end());
      definition.otpAlgorithm = static_cast<CryptoSdk::HashAlgorithm>(a.otpAlgorithm);
      definition.otpDigits = a.otpDigits;
      definition.counter = a.counter;
      definition.active = a.active;
      const std::uint16_t code =
          AuthenticationSdk::Blob::create(definition, account.accountId, account.integrationKey, a.blob);
      if (code != 0 || a.blob.empty()) {
        error = "cannot make the blob of authenticator " + a.serialNumber + " of user " + user.login + " (code " +
                std::to_string(code) + ")";
        return false;
      }
    }
  }
  return true;
}

}  // namespace

bool State::load(const Fixture& fixture, std::string& error) {
  std::vector<AccountState> accounts;
  for (const Account& account : fixture.accounts) {
    AccountState state;
    state.account = account;
    std::uint16_t code = CryptoSdk::AgentSecurityService::deriveRequestKey(
        account.accountId, account.resourceId, account.integrationKey, state.requestKey);
    if (code != 0 || state.requestKey.empty()) {
      error = "cannot derive the request key of account " + account.accountId + " (code " +
              std::to_string(code) + ")";
      return false;
    }
    if (!makeBlobs(state.account, state.account.users, error)) return false;
    accounts.push_back(std::move(state));
  }
  accounts_ = std::move(accounts);
  std::lock_guard<std::mutex> lock(mutex_);
  users_.clear();
  for (const AccountState& state : accounts_) users_.push_back(state.account.users);
  return true;
}

const AccountState* State::findAccount(const std::string& accountId, const std::string& resourceId) const {
  for (const AccountState& state : accounts_) {
    if (state.account.accountId == accountId && state.account.resourceId == resourceId) return &state;
  }
  return nullptr;
}

std::size_t State::indexOf(const AccountState& account) const {
  return static_cast<std::size_t>(&account - accounts_.data());
}

std::vector<SimUser> State::users(const AccountState& account) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return users_.at(indexOf(account));
}

bool State::findUser(const AccountState& account, const std::string& loginOrEmail, SimUser& user) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::vector<SimUser>& list = users_.at(indexOf(account));
  for (const SimUser& u : list) {
    if (equalsIgnoringCase(u.login, loginOrEmail)) {
      user = u;
      return true;
    }
  }
  for (const SimUser& u : list) {
    if (!u.email.empty() && equalsIgnoringCase(u.email, loginOrEmail)) {
      user = u;
      return true;
    }
  }
  return false;
}

bool State::updateUser(const AccountState& account, const SimUser& user) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (SimUser& u : users_.at(indexOf(account))) {
    if (equalsIgnoringCase(u.login, user.login)) {
      u = user;
      return true;
    }
  }
  return false;
}

void State::record(RecordedRequest request) {
  std::lock_guard<std::mutex> lock(mutex_);
  records_.push_back(std::move(request));
}

std::vector<RecordedRequest> State::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return records_;
}

std::string State::requestsJson() const {
  std::vector<RecordedRequest> records = requests();
  std::string out = "[";
  for (std::size_t i = 0; i < records.size(); ++i) {
    const RecordedRequest& r = records[i];
    if (i != 0) out += ",";
    out += "{\"method\":" + Json::quote(r.method) + ",\"path\":" + Json::quote(r.path) + ",\"headers\":[";
    for (std::size_t h = 0; h < r.headers.size(); ++h) {
      if (h != 0) out += ",";
      out += "[" + Json::quote(r.headers[h].first) + "," + Json::quote(r.headers[h].second) + "]";
    }
    out += "],\"body\":" + Json::quote(r.body) + ",\"opened\":" +
           (r.opened ? Json::quote(r.openedJson) : std::string("null")) + "}";
  }
  out += "]";
  return out;
}

void State::reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  records_.clear();
  replies_.clear();
  faults_.clear();
  users_.clear();
  for (const AccountState& state : accounts_) users_.push_back(state.account.users);
  pushBook_.reset();
  ++generation_;
}

unsigned State::generation() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return generation_;
}

void State::addReply(const ProgrammedReply& reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  replies_.push_back({reply, reply.count});
}

void State::addFault(const Fault& fault) {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_.push_back({fault, fault.count});
}

bool State::takeReply(const std::string& route, ProgrammedReply& reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = replies_.begin(); it != replies_.end(); ++it) {
    if (it->reply.route != route) continue;
    reply = it->reply;
    if (it->reply.count != 0 && --it->left == 0) replies_.erase(it);
    return true;
  }
  return false;
}

bool State::takeFault(const std::string& route, Fault& fault) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (it->fault.route != route && it->fault.route != "*") continue;
    fault = it->fault;
    if (it->fault.count != 0 && --it->left == 0) faults_.erase(it);
    return true;
  }
  return false;
}

bool State::waitUnlessStopping(std::chrono::milliseconds delay) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !stopCv_.wait_for(lock, delay, [this] { return stopping_; });
}

void State::setStopping(bool stopping) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = stopping;
  }
  stopCv_.notify_all();
}

}  // namespace CloudSim
