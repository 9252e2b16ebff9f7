#include "State.h"

#include "Json.h"

namespace CloudSim {

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
    accounts.push_back(std::move(state));
  }
  accounts_ = std::move(accounts);
  return true;
}

const AccountState* State::findAccount(const std::string& accountId, const std::string& resourceId) const {
  for (const AccountState& state : accounts_) {
    if (state.account.accountId == accountId && state.account.resourceId == resourceId) return &state;
  }
  return nullptr;
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
