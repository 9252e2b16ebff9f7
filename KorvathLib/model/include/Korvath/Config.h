#pragma once

// The agent's configuration document and its sealed file. The file and its backup are
// read and written under the machine-wide mutex "Global\PELLORA_MUTEX_CFG" (10 s). A save
// never leaves a torn or empty file, and it keeps the users that another process (or
// another copy of the configuration in this process) saved since this copy last read or
// wrote the file: the user lists are merged three ways against the file's current
// content (see docs/model.md). A save never moves a user this copy holds, so an index
// taken before it stays valid. A save costs what its change costs: when the file is still
// the one this copy last read or wrote, it is neither opened nor merged, and a copy that
// changed nothing since then writes nothing.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Korvath/KvCrypto.h"
#include "Korvath/Model/CloudRecords.h"
#include "Korvath/Model/User.h"
#include "Korvath/ServerConfig.h"

namespace Korvath {

// One login of the unknown-user whitelist.
struct UnknownUserEntry {
  std::string login;
  bool authenticatedOnline = false;
  bool operator==(const UnknownUserEntry& o) const { return login == o.login && authenticatedOnline == o.authenticatedOnline; }
  std::string toJson() const;
  void writeTo(Model::Json::Writer& w) const;
  std::uint16_t fillFromValue(const rapidjson::Value& obj);
};

class Config {
 public:
  static constexpr std::size_t kMaxUsers = 30;
  static constexpr const char* kMutexName = "Global\\PELLORA_MUTEX_CFG";
  static constexpr std::uint32_t kMutexTimeoutMs = 10000;
  // 2018-01-01 00:00:00 UTC as a FILETIME: a clock earlier than this has been set back, and
  // its readings are not stored as the latest time.
  static constexpr std::uint64_t kClockFloorFileTime = 131592384000000000ull;

  Config() = default;
  explicit Config(KvCrypto* crypto) : kvCrypto_(crypto) {}
  Config(const Config& other);
  // Validated, in this order: region (5032), environment, accountAlias, resourceAlias,
  // lastUser, machineName, platform (5021), serverConfig, usersConfig; the first refusal
  // raises KvException (fields assigned before it keep their new values). Then, unchecked,
  // the identifiers, master password, times, logonAppDisable and the crypto pointer.
  Config& operator=(const Config& other);

  // ---- fields
  std::uint16_t setRegion(const std::string& v);  // 0 or 3..25, else 5032
  const std::string& getRegion() const { return region_; }
  std::uint16_t setEnvironment(const std::string& v);  // "", "dev", "qa", "staging", "prod", else 5033
  const std::string& getEnvironment() const { return environment_; }
  std::uint16_t setAccountAlias(const std::string& v);  // 0 or 3..255, else 5024
  const std::string& getAccountAlias() const { return accountAlias_; }
  void setAccountId(const std::string& v) { accountId_ = v; }
  const std::string& getAccountId() const { return accountId_; }
  std::uint16_t setResourceAlias(const std::string& v);  // 0 or 3..255, else 5026
  const std::string& getResourceAlias() const { return resourceAlias_; }
  void setResourceId(std::int32_t v) { resourceId_ = v; }
  std::int32_t getResourceId() const { return resourceId_; }
  // Unsigned decimal text, as sent to the service ("0" when not registered).
  std::string getResourceIdText() const;
  void setMasterPassword(const std::string& v) { masterPassword_ = v; }
  const std::string& getMasterPassword() const { return masterPassword_; }
  // The mark binding the master password to the digest last written to the registry
  // (Utils::storePasswordHashIfChanged); kept here because it is keyed by the password.
  void setMasterPasswordMark(const std::string& v) { masterPasswordMark_ = v; }
  const std::string& getMasterPasswordMark() const { return masterPasswordMark_; }
  void setLastSync(std::uint64_t ft) { lastSync_ = ft; }
  std::uint64_t getLastSync() const { return lastSync_; }
  void setLastAuth(std::uint64_t ft) { lastAuth_ = ft; }
  std::uint64_t getLastAuth() const { return lastAuth_; }
  // The latest clock reading the agent stored. Every save that writes moves it to the latest of
  // itself, the file's and the clock (never back), so a clock behind it has been set back.
  void setLastRun(std::uint64_t ft) { lastRun_ = ft; }
  std::uint64_t getLastRun() const { return lastRun_; }
  // The one way back: a synchronization found the latest time stored ahead of the service's
  // clock, which this clock agrees with, so it was read from a clock that ran ahead. lastRun
  // becomes `ft`, and the next save that writes stores it in place of the file's later one.
  void bringLastRunBack(std::uint64_t ft) {
    lastRun_ = ft;
    lastRunBroughtBack_ = true;
  }
  std::uint16_t setLastUser(const std::string& v);  // 0..100, else 5013
  const std::string& getLastUser() const { return lastUser_; }
  std::uint16_t setMachineName(const std::string& v);  // 0..255, else 5022
  const std::string& getMachineName() const { return machineName_; }
  std::uint16_t setPlatform(std::uint8_t v);  // 1 or 2, else 5021
  std::uint8_t getPlatform() const { return platform_; }
  void setLogonAppDisable(std::uint16_t v) { logonAppDisable_ = v; }
  std::uint16_t getLogonAppDisable() const { return logonAppDisable_; }
  std::uint16_t setServerConfig(const ServerConfig& v);  // 0 or its validate() code
  ServerConfig getServerConfig() const { return serverConfig_; }
  // Validates the whole list first; 0 (list replaced) or the first refused record's code
  // (nothing replaced).
  std::uint16_t setUsersConfig(const std::vector<Model::UserConfig>& users);
  std::vector<Model::UserConfig> getUsersConfig() const { return usersConfig_; }
  // One stored user without copying the others: its count, a copy of one (std::out_of_range
  // for an index outside the list) and the validated replacement of one (0, or the refused
  // record's code with nothing replaced; KV_ERROR_FAIL_REQUEST_CONFIG outside the list).
  std::size_t getUserCount() const { return usersConfig_.size(); }
  Model::UserConfig getUserConfig(std::size_t index) const { return usersConfig_.at(index); }
  // The stored user itself, valid until the list next changes.
  const Model::UserConfig& userConfigAt(std::size_t index) const { return usersConfig_.at(index); }
  std::uint16_t setUserConfig(std::size_t index, const Model::UserConfig& user);
  const std::vector<UnknownUserEntry>& getUnknownUsers() const { return unknownUsers_; }
  void setKvCrypto(KvCrypto* crypto) { kvCrypto_ = crypto; }
  KvCrypto* getKvCrypto() const { return kvCrypto_; }

  // ---- users
  // First stored user whose login, else whose e-mail, equals `login` ignoring case; -1.
  int getUserIndex(const std::string& login) const;
  // "EMAIL" when `login` equals a stored user's e-mail ignoring case, else "USERNAME".
  std::string getLoginType(const std::string& login) const;

  // ---- merges (in memory; a failure leaves the configuration as it was)
  // Takes the reply's identities, aliases, master password and server settings (with
  // timeDifference from its serverTime) and adds or updates each user. When added users take
  // the list over 30, the least recently authenticated users stored before them make room.
  // The reply must be for `resourceId` (a reply naming another non-zero resource gives 5039).
  std::uint16_t mergeResponseConfig(const Model::ResponseConfig& response, std::uint32_t resourceId);
  // 5103 for a user not stored; else copies the policy into the record, writes "push",
  // "qrcode" and "otp" into `factors`, clears logonAppDisable and saves (the save's code).
  std::uint16_t mergeUserPolicy(const Model::UserPolicy& policy, Model::AuthFactorMap& factors);
  std::uint16_t mergeUserPolicyOffline(const Model::UserPolicyOffline& policy, const std::string& login);
  // Keeps the 30 most recently authenticated users; saves when it removed any.
  std::uint16_t removeExtraUsers();
  // Removes the user (login or e-mail) and saves; 5103 when not stored.
  std::uint16_t removeDeletedUserFromPellora(const std::string& login);
  // The unknown-user rule; see docs/model.md. A login that is stored, or whose part before
  // "@" is a stored login (a user-principal name of a stored user), is never unknown.
  bool shouldBypassMfaForNonPelloraUser(const std::string& login, bool online);

  // ---- file
  // 0, 5101 (no file), 5138 (a file that may not be opened, or the mutex not taken in
  // 10 s), 5005 (not sealed under this machine's key) or the fill code of the first
  // refused key. Reads the main file, else the backup. Empty path: the default path.
  std::uint16_t readFile(const std::string& path = std::string());
  // True when the last successful readFile had to take the backup (the main file was
  // missing or refused): what was saved after that backup was made may be lost.
  bool wasReadFromBackup() const { return readFromBackup_; }
  // 0, 5004 (sealing failed) or 5102 (writing failed, the mutex not taken in 10 s, or no
  // path). Writes where the last readFile read (default path when none).
  std::uint16_t writeFile();
  const std::string& getFilePath() const { return filePath_; }
  void setFilePath(const std::string& path) { filePath_ = path; }
  // The backup path of a configuration path: "<name>bkp<.ext>".
  static std::string backupPathFor(const std::string& path);

  // Holds the configuration file for the calling thread until it is destroyed, taken as
  // every read and save takes it (10 s at most): no other process or thread reads or writes
  // the file meanwhile, while this thread's own reads and saves go ahead. A change that
  // must build on what every process saved (a count of attempts) is read, made and saved
  // under one hold.
  class FileHold {
   public:
    FileHold();
    ~FileHold();
    FileHold(const FileHold&) = delete;
    FileHold& operator=(const FileHold&) = delete;
    bool held() const { return held_; }

   private:
    struct State;
    std::unique_ptr<State> state_;
    bool held_ = false;
  };
  // The record that the file (else its backup) holds now for the user at `index`, found by
  // login, replaces this copy's; this copy's is kept when the file holds none or does not
  // open. The file's lastRun is taken when later than this copy's. 0, 5138 (the file not
  // held), 5214 (no user at `index`).
  std::uint16_t reloadUser(std::size_t index);

  std::string toJson() const;
  std::uint16_t fillFromJson(const std::string& json);

 private:
  // Evicts users stored before index `firstNew` until at most 30 remain (mergeResponseConfig).
  void makeRoomForNewUsers(std::size_t firstNew);
  struct FileState;

  std::string mainPath() const;
  void commitFrom(Config& other);
  // lastRun := the latest of itself, `storedLastRun` and the clock.
  void advanceLastRun(std::uint64_t storedLastRun);
  // The latest time stored, given the file's: the later of it and this copy's, or the file's
  // alone when it went down since this copy last saw the file.
  std::uint64_t latestStored(std::uint64_t storedLastRun) const;
  std::uint16_t updateUserAndSave(std::size_t index, const std::function<void(Model::UserConfig&)>& change);
  // Every field that the file holds is equal (users and unknown users included).
  bool sameContent(const Config& other) const;
  void rememberFile(std::string sealed, const Config& content, std::vector<std::string> userTexts = {});
  // toJson, taking the text of each user found unchanged in `previous`; `userTexts` receives
  // the text of every user written.
  std::string toJsonReusing(const FileState* previous, std::vector<std::string>& userTexts) const;
  std::uint16_t writeOut(const std::string& main, const Config& content, const std::string* previous,
                         std::string& sealed, std::vector<std::string>& userTexts);

  std::string region_;
  std::string environment_;
  std::string accountAlias_;
  std::string accountId_;
  std::string resourceAlias_;
  std::int32_t resourceId_ = 0;
  std::string masterPassword_;
  std::string masterPasswordMark_;
  std::uint64_t lastSync_ = 0;
  std::uint64_t lastAuth_ = 0;
  std::uint64_t lastRun_ = 0;
  std::string lastUser_;
  std::string machineName_;
  std::uint8_t platform_ = 1;
  std::uint16_t logonAppDisable_ = 0;
  ServerConfig serverConfig_;
  std::vector<Model::UserConfig> usersConfig_;
  std::vector<UnknownUserEntry> unknownUsers_;
  KvCrypto* kvCrypto_ = nullptr;

  // What this copy last read from or wrote to the file: its sealed text and its content,
  // the base of the three-way merge (none before the first read or write). Shared by copies
  // and never changed: a read or a save puts a new one in place.
  std::shared_ptr<const FileState> fileState_;
  std::string filePath_;
  bool readFromBackup_ = false;
  // Set by bringLastRunBack until a save has written it.
  bool lastRunBroughtBack_ = false;
};

// Writing of sealed files: temporary file, flush, then replace. Tests may replace the
// final replace step to show that a failure there leaves the previous file in place.
namespace ConfigFile {
using ReplaceFunction = bool (*)(const std::string& from, const std::string& to);
void setReplaceFunction(ReplaceFunction f);  // nullptr restores the real one
// Writes `content` to `path` through "<path>.tmp"; the file gets owner-only permissions.
bool writeAtomically(const std::string& path, const std::string& content);
// 0, 5101 (missing) or 5138 (present but not readable). An implausibly large file reads as
// empty, so that it fails to open like any other damaged file.
std::uint16_t readWhole(const std::string& path, std::string& content);
}  // namespace ConfigFile

}  // namespace Korvath
