#pragma once

// What the simulator remembers between requests: the fixture's accounts with their
// request keys, the recorded requests, and the replies and faults a test programmed.
// Every member function is safe to call from any connection thread.

#include <CloudSim/Server.h>
#include <CryptoSdk/SecurityService.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace CloudSim {

struct PushBook;  // the push transactions (PushOtpRoutes.cpp)

struct AccountState {
  Account account;  // as loaded: the fixture's users with their blobs (the state a reset restores)
  CryptoSdk::SealKey requestKey;
};

class State {
 public:
  // Derives every account's request key and makes its users' blobs; false with a reason
  // when one cannot be made.
  bool load(const Fixture& fixture, std::string& error);

  const AccountState* findAccount(const std::string& accountId, const std::string& resourceId) const;

  // The account's users as they are now (a reset restores the fixture's). Logins and
  // e-mails are compared ignoring case; the login is tried on every user first.
  std::vector<SimUser> users(const AccountState& account) const;
  bool findUser(const AccountState& account, const std::string& loginOrEmail, SimUser& user) const;
  // Replaces the user with the same login (ignoring case); false when there is none.
  bool updateUser(const AccountState& account, const SimUser& user);

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

  // The push transactions and the decisions planned for them (PushOtpRoutes.cpp); a reset
  // starts a new, empty book.
  std::shared_ptr<PushBook> pushBook();

  // Waits, but returns early (false) once the server stops.
  bool waitUnlessStopping(std::chrono::milliseconds delay);
  void setStopping(bool stopping);

 private:
  std::size_t indexOf(const AccountState& account) const;

  std::vector<AccountState> accounts_;  // fixed after load()
  mutable std::mutex mutex_;
  std::condition_variable stopCv_;
  bool stopping_ = false;
  unsigned generation_ = 0;
  std::vector<RecordedRequest> records_;
  std::vector<std::vector<SimUser>> users_;  // per account, in accounts_ order
  std::shared_ptr<PushBook> pushBook_;
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
