#pragma once

// The agent state of one sign-in attempt: configuration, crypto object, business object,
// the session's client address, the user's factors as the service last reported them and
// the futures of the push tasks. The MFA dialog creates one per attempt, sets the client
// address and calls initialize(); the per-factor services and the dispatcher then work on
// it (or, for a push task, on a copy of it).
//
// Threads. A copy made for a push task shares the source's Config and KvCrypto through its
// business object's pointers, so two threads can reach the same objects. A copy shares its
// source's state mutex (stateMutex(), lockState()). Rules:
//   - take it around every access to the Config or KvCrypto in memory or to their files (it
//     comes before the in-process file mutex and the named configuration mutex that Config
//     takes itself, never after them);
//   - never hold it across a cloud exchange, a Timer wait or a sleep, nor while waiting for a
//     push task's future; a business operation that talks to the service is called without it;
//   - a task that talks to the service for long (the push task) binds the business objects of
//     its copy to the copy's own Config and KvCrypto; the copy itself is made under the lock;
//   - it is recursive, so an operation of this class may be called with it held.
// The logon-disabled value is shared by a service and all its copies (guarded by the same
// mutex): a copy working on its own Config that learns the resource is gone (or that the
// service answers again) publishes the value, and every copy carries the latest one into its
// Config (syncLogonAppDisable) before it reads or saves it, so a later save by the dialog
// cannot write back a value a push task has replaced.
// The operations of this class that call the service (initialize, the policy refresh) run on
// the dialog thread before any panel, and so before any push task of the attempt, exists.
// The futures queue is changed only on the dialog thread.
//
// Every operation presets its result to a failure code of its own, catches the standard
// exceptions (KvException included), logs them and returns that code; nothing is thrown,
// except by the constructors, whose validating assignments raise KvException.

#include <cstdint>
#include <deque>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "Korvath/Business/KvBusiness.h"
#include "Korvath/Config.h"
#include "Korvath/InstallConfig.h"
#include "Korvath/KvCrypto.h"
#include "Korvath/KvResult.h"
#include "Korvath/Model/User.h"
#include "Korvath/Service/ServiceMessages.h"

namespace Korvath {
namespace Service {

// The build configuration logged by every service constructor.
std::string getBuildConfiguration();
// The platform logged by every service constructor.
constexpr const char* kBuildPlatform = "x64";
// The client version shown by the About dialog.
constexpr const char* kClientVersion = "3.0.1.643";
// Position of "no push task" in the futures queue.
constexpr std::uint8_t kNoTaskIndex = 255;

class KvService {
 public:
  // Shared futures: the push panel's result waiter takes its own copy of a push task's future
  // on the dialog thread and then never touches the queue.
  using FutureQueue = std::deque<std::shared_future<Model::KvResult>>;
  using StateMutex = std::recursive_mutex;

  KvService();
  // The copy gets an empty futures queue, a zero kvResult and an empty factor map. Its
  // business object keeps the source's Config and KvCrypto pointers, and it shares the
  // source's state mutex and logon-disabled value. Raises KvException when the copied state breaks a rule.
  KvService(const KvService& other);
  KvService& operator=(const KvService&) = delete;
  // Waits for every push task still in the queue (front to back) before the members go.
  ~KvService();

  // ------------------------------------------------------------ start-up (dialog thread)

  // Reads the configuration or registers the agent, stores the master-password digest,
  // trims the user list, guards against a clock set back and synchronizes when due.
  // responseType and response exist for the log.
  Model::KvResult initialize(std::uint16_t& responseType, std::string& response);

  // ------------------------------------------------------------ shared small operations

  // The user's view of the configuration: 0, 5103 (not stored) or 5200.
  std::uint16_t loadUserConfig(const std::string& userLogin, ServiceResponseBase& response);
  // The factors to offer and the first panel's factor.
  void getUserAuthFactors(const std::string& userLogin, Model::AuthFactorMap& factors, std::string& lastAuthType,
                          bool online);
  Model::AuthFactorMap getAuthFactors() const;
  // 1 when the user (typed as login, e-mail or login@domain) is stored, userLogin then
  // rewritten to the stored login; 0 otherwise (a full list then loses its least recently
  // authenticated user).
  int getPelloraUsernameFromConfigFile(std::string& userLogin);
  // Waits for and removes the push task at taskIndex; taskIndex becomes 255.
  void eraseFutureTaskByIndex(std::uint8_t& taskIndex);
  // The logonAppDisable value as a result (0 = enabled, 5108 = resource gone), the latest
  // one that this service or any copy of it learnt (see syncLogonAppDisable).
  Model::KvResult checkLogonAppDisabled();
  // Under the state lock: a value this service's Config got since its last call (an exchange
  // of its own decided it) is published to the service and its copies; otherwise a value
  // published since by another copy is carried into this Config. Returns the Config's value.
  std::uint16_t syncLogonAppDisable();

  // ------------------------------------------------------------ user policies and status

  // Online policy (retried with the part before "@"), then the stored policy; userName may
  // be rewritten to the form the service knows. The unknown-user rule is asked only when the
  // service knows no form of the name.
  Model::KvResult updateUserPolicies(std::string& userName, bool isRdpSession);
  // From the stored configuration alone; never contacts the service.
  Model::KvResult getUserStatus(std::string& userName);
  // The online policy of one name. A name that is a stored user's login or e-mail and that
  // the service does not know is asked again under the stored login (userName becomes it when
  // the service knows it); the record is removed only when the service knows neither. An
  // online 5103 is returned as it is (updateUserPolicies decides the unknown-user rule).
  Model::KvResult updateOnlineUserPolicy(std::string& userName, bool isRdp);
  Model::KvResult updateOfflineUserPolicy(const std::string& userName);
  // The service could not be reached: a disabled agent answers its code; an unknown user
  // passes through the whitelist (7000) or is refused (5134).
  void validateBypassWithNoInternet(bool found, const std::string& userName, Model::KvResult& result);
  // The service knows the name in no form (5103): the whitelist may turn it into 7000.
  void validateBypassWithInternet(const std::string& userName, Model::KvResult& result);

  // ------------------------------------------------------------ members

  Config& getConfig() { return config_; }
  const Config& getConfig() const { return config_; }
  KvCrypto& getKvCrypto() { return kvCrypto_; }
  Business::KvBusiness& getKvBusiness() { return kvBusiness_; }
  const Business::KvBusiness& getKvBusiness() const { return kvBusiness_; }
  // Dialog thread only: authenticateAsync appends, eraseFutureTaskByIndex removes.
  FutureQueue& getFutures() { return futures_; }
  const Model::KvResult& getKvResult() const { return kvResult_; }
  void setClientIpAddress(const std::string& clientIp) { clientIpAddress_ = clientIp; }
  const std::string& getClientIpAddress() const { return clientIpAddress_; }

  // The mutex guarding the shared Config and KvCrypto in memory (see the top of the file).
  const std::shared_ptr<StateMutex>& stateMutex() const { return stateMutex_; }
  std::unique_lock<StateMutex> lockState() const { return std::unique_lock<StateMutex>(*stateMutex_); }

 private:
  void waitForFuture(std::shared_future<Model::KvResult>& future);
  // The first registration, tried again while the service cannot be reached (10 s).
  Model::KvResult registerAgent(const InstallConfig& install);
  // One policy exchange for userName (synchronized first when not stored): found tells
  // whether it is stored afterwards, answered whether the reply gave a verdict on the user.
  Model::KvResult askUserPolicy(Model::RequestGetUserPolicy request, const std::string& userName, bool& found,
                                bool& answered);
  // Whether userName is stored; when it is not, the configuration is synchronized with the
  // service (this login first) and looked at again. The synchronization's result.
  Model::KvResult findOrSyncUser(const std::string& userName, bool& found);
  // The service does not know this stored user: its record goes and the file is saved.
  void removeDeletedUser(const std::string& userName);

  FutureQueue futures_;
  KvCrypto kvCrypto_;
  Config config_;
  Business::KvBusiness kvBusiness_;
  Model::KvResult kvResult_;
  std::string clientIpAddress_;
  Model::AuthFactorMap authFactors_;
  std::shared_ptr<StateMutex> stateMutex_;

  // The logon-disabled value shared with the copies; guarded by the state mutex.
  struct SharedLogonDisable {
    std::uint16_t value = 0;
    std::uint64_t version = 0;
  };
  std::shared_ptr<SharedLogonDisable> logonDisable_;
  // The Config's value and the shared version at this service's last synchronization.
  std::uint16_t logonDisableSeen_ = 0;
  std::uint64_t logonDisableVersionSeen_ = 0;
};

}  // namespace Service
}  // namespace Korvath
