#pragma once

// What the simulator remembers between requests: the fixture's accounts with their
// request keys, the recorded requests, and the replies and faults a test programmed.
// Every member function is safe to call from any connection thread.

#include <CloudSim/Server.h>
#include <CryptoSdk/SecurityService.h>

#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <string>
#include <vector>

namespace CloudSim {

struct AccountState {
  Account account;
  CryptoSdk::SealKey requestKey;
};

class State {
 public:
  // Derives every account's request key; false with a reason when one cannot be derived.
  bool load(const Fixture& fixture, std::string& error);

  const AccountState* findAccount(const std::string& accountId, const std::string& resourceId) const;

  void record(RecordedRequest request);
  std::vector<RecordedRequest> requests() const;
  std::string requestsJson() const;

  void reset();
  // Counts resets, so a request delayed across one can tell that its test is over.
  unsigned generation() const;
  void addReply(const ProgrammedReply& reply);
  void addFault(const Fault& fault);
  // The first entry for the route that has uses left, counted down by one.
  bool takeReply(const std::string& route, ProgrammedReply& reply);
  bool takeFault(const std::string& route, Fault& fault);

  // Waits, but returns early (false) once the server stops.
  bool waitUnlessStopping(std::chrono::milliseconds delay);
  void setStopping(bool stopping);

 private:
  std::vector<AccountState> accounts_;  // fixed after load()
  mutable std::mutex mutex_;
  std::condition_variable stopCv_;
  bool stopping_ = false;
  unsigned generation_ = 0;
  std::vector<RecordedRequest> records_;
  struct ReplyEntry {
    ProgrammedReply reply;
    unsigned left;  // 0 with an unlimited entry means "forever"
  };
  struct FaultEntry {
    Fault fault;
    unsigned left;
  };
  std::list<ReplyEntry> replies_;
  std::list<FaultEntry> faults_;
};

}  // namespace CloudSim
