#include "Korvath/Config.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <tuple>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include "RecordSupport.h"
#include "AuthenticationSdk/OstraSdkService.h"
#include "Korvath/KvException.h"
#include "Korvath/Logger.h"
#include "Korvath/Platform.h"
#include "Korvath/ResultCodes.h"

namespace Korvath {

using Model::UserConfig;
namespace J = Model::Json;

namespace {

using Model::AuthenticatorRecord;
using Model::UserConfig;
using KeySettings = AuthenticationSdk::AuthenticationSettings;

// The key of the account's blobs, as the offline checks take it.
KeySettings blobKeySettings(const ServerConfig& server, const std::string& accountId) {
  KeySettings settings = server.getAuthenticationSettings();
  if (settings.accountId.empty()) settings.accountId = accountId;
  return settings;
}

bool sameAuthenticator(const AuthenticatorRecord& a, const AuthenticatorRecord& b) {
  return a.getModel() == b.getModel() && a.getSerialNumber() == b.getSerialNumber();
}

const AuthenticatorRecord* findAuthenticator(const std::vector<AuthenticatorRecord>& list,
                                             const AuthenticatorRecord& like) {
  for (const AuthenticatorRecord& r : list)
    if (sameAuthenticator(r, like)) return &r;
  return nullptr;
}

// `record` (a blob the service sent, or this copy's) against `ahead` (this machine's state of the
// same authenticator, saved here or by another process): where `ahead`'s HOTP counter is further
// and the secret the same, `record`'s blob takes that counter, so no code this machine moved past
// passes here again, and `record` notes where the codes the service has not seen begin (the
// counter its blob carried, or `ahead`'s own note when earlier). Anything that cannot be
// compared stays as it is. True when `record` changed.
bool keepCounterOf(AuthenticatorRecord& record, const KeySettings& recordKey, const AuthenticatorRecord& ahead,
                   const KeySettings& aheadKey) {
  // Only a counter further ahead needs the key; the counters are read without it.
  AuthenticationSdk::AuthenticatorInfo recordInfo, aheadInfo;
  if (AuthenticationSdk::Blob::inspect(ahead.getBlob(), aheadInfo) != 0 ||
      AuthenticationSdk::Blob::inspect(record.getBlob(), recordInfo) != 0 || aheadInfo.counter <= recordInfo.counter) {
    return false;
  }
  std::string blob = record.getBlob();
  bool kept = false;
  std::uint64_t recordCounter = 0;
  if (OstraSdkService::keepLocalCounterLogonApp(ahead.getBlob(), aheadKey, blob, recordKey, kept, recordCounter) != 0 ||
      !kept || record.setBlob(blob) != KV_SUCCESS) {
    return false;
  }
  std::uint64_t from = recordCounter;
  if (record.hasUsedHereFrom()) from = std::min(from, record.getUsedHereFrom());
  if (ahead.hasUsedHereFrom()) from = std::min(from, ahead.getUsedHereFrom());
  record.setUsedHereFrom(from);
  return true;
}

// The service's copy of a stored user's authenticators has not seen the one-time codes this
// machine accepted (offline, or after an online check that could not reach the service): each
// keeps the counter held here when it is further (keepCounterOf).
void keepLocalCounters(UserConfig& user, const KeySettings& serviceKey, const std::vector<AuthenticatorRecord>& held,
                       const KeySettings& heldKey) {
  std::vector<AuthenticatorRecord> records = user.getAuthenticators();
  bool changed = false;
  for (AuthenticatorRecord& record : records) {
    const AuthenticatorRecord* local = findAuthenticator(held, record);
    if (local != nullptr) changed = keepCounterOf(record, serviceKey, *local, heldKey) || changed;
  }
  if (changed) user.setAuthenticators(records);
}

// One user that this copy and another process (the file) both changed since this copy last saw
// the file (`base`). This copy's changes stand, field by field; the fields this copy left as
// they were take the file's. Where both changed what guards a limit or a grant, the safer of the
// two stays: the higher count of wrong forgot-token codes and the later block, a check still
// pending, a forgot-token pass that either ended (unless one side granted a new one since), and
// for each authenticator the HOTP counter furthest ahead.
UserConfig resolveUser(const UserConfig& base, const UserConfig& ours, const UserConfig& disk, const KeySettings& key) {
  UserConfig out = ours;
  // The file's value where this copy did not change the field; `both` where each changed it.
  auto merge = [&](auto get, auto set, auto both) {
    const auto mine = get(ours), theirs = get(disk);
    if (mine == get(base)) {
      set(out, theirs);
    } else if (theirs != get(base)) {
      set(out, both(mine, theirs));
    }
  };
  auto mineWins = [](const auto& mine, const auto&) { return mine; };
  auto later = [](std::uint64_t a, std::uint64_t b) { return std::max(a, b); };
  // An end (0) by either stands; otherwise the earlier end.
  auto ended = [](std::uint64_t a, std::uint64_t b) { return a == 0 || b == 0 ? 0 : std::min(a, b); };
#define KV_FIELD(type, getter, setter) \
  [](const UserConfig& u) -> type { return u.getter(); }, [](UserConfig& u, const type& v) { u.setter(v); }
  merge(KV_FIELD(std::string, getEmail, setEmail), mineWins);
  merge(KV_FIELD(bool, isOverAllocated, setOverAllocated), mineWins);
  merge(KV_FIELD(bool, isQuarantine, setQuarantine), mineWins);
  merge(KV_FIELD(bool, isBlocked, setBlocked), mineWins);
  merge(KV_FIELD(bool, getHasPolicy, setHasPolicy), mineWins);
  merge(KV_FIELD(Model::AuthFactorMap, getAuthTypes, setAuthTypes), mineWins);
  merge(KV_FIELD(std::string, getPassword, setPassword), mineWins);
  merge(KV_FIELD(std::string, getLastAuthType, setLastAuthType), mineWins);
  merge(KV_FIELD(bool, getAutoSendPush, setAutoSendPush), mineWins);
  merge(KV_FIELD(bool, getPolicyAllowsAuthentication, setPolicyAllowsAuthentication), mineWins);
  merge(KV_FIELD(std::uint64_t, getLastAuthTime, setLastAuthTime), later);
  merge(KV_FIELD(std::uint8_t, getForgotTokenFailures, setForgotTokenFailures),
        [](std::uint8_t a, std::uint8_t b) { return std::max(a, b); });
  merge(KV_FIELD(std::uint64_t, getForgotTokenBlockedAt, setForgotTokenBlockedAt), later);
  merge(KV_FIELD(bool, getOfflineCheckPending, setOfflineCheckPending), [](bool a, bool b) { return a || b; });
#undef KV_FIELD
  // The forgot-token pass as one: a pass granted on one side since this copy saw the file (a
  // later grant time) stands as it was granted; otherwise a pass that either side ended stays
  // ended.
  auto pass = [](const UserConfig& u) {
    return std::make_tuple(u.getFallbackExpiration(), u.getAuthenticatorForgottenExpiryTimestamp(),
                           u.getForgotTokenGrantedAt());
  };
  auto setPass = [&](const UserConfig& from) {
    out.setFallbackExpiration(from.getFallbackExpiration());
    out.setAuthenticatorForgottenExpiryTimestamp(from.getAuthenticatorForgottenExpiryTimestamp());
    out.setForgotTokenGrantedAt(from.getForgotTokenGrantedAt());
  };
  if (pass(ours) == pass(base)) {
    setPass(disk);
  } else if (pass(disk) != pass(base)) {
    const std::uint64_t granted = base.getForgotTokenGrantedAt();
    const std::uint64_t mine = ours.getForgotTokenGrantedAt(), theirs = disk.getForgotTokenGrantedAt();
    if (mine > granted || theirs > granted) {
      setPass(mine >= theirs ? ours : disk);
    } else {
      out.setFallbackExpiration(ended(ours.getFallbackExpiration(), disk.getFallbackExpiration()));
      out.setAuthenticatorForgottenExpiryTimestamp(
          ended(ours.getAuthenticatorForgottenExpiryTimestamp(), disk.getAuthenticatorForgottenExpiryTimestamp()));
      out.setForgotTokenGrantedAt(std::max(mine, theirs));
    }
  }

  // Authenticators one by one: the file's where this copy left one as it was, this copy's where
  // the file did, else this copy's with the counter furthest ahead; one the file dropped and this
  // copy did not touch goes, one that only the file has comes.
  const std::vector<AuthenticatorRecord>& was = base.getAuthenticators();
  std::vector<AuthenticatorRecord> list;
  for (const AuthenticatorRecord& mine : ours.getAuthenticators()) {
    const AuthenticatorRecord* before = findAuthenticator(was, mine);
    const AuthenticatorRecord* theirs = findAuthenticator(disk.getAuthenticators(), mine);
    if (theirs == nullptr) {
      if (before == nullptr || !(*before == mine)) list.push_back(mine);
    } else if (before != nullptr && *before == mine) {
      list.push_back(*theirs);
    } else {
      AuthenticatorRecord kept = mine;
      if (before == nullptr || !(*before == *theirs)) keepCounterOf(kept, key, *theirs, key);
      list.push_back(kept);
    }
  }
  for (const AuthenticatorRecord& theirs : disk.getAuthenticators()) {
    if (findAuthenticator(ours.getAuthenticators(), theirs) == nullptr && findAuthenticator(was, theirs) == nullptr) {
      list.push_back(theirs);
    }
  }
  if (out.setAuthenticators(list) != KV_SUCCESS) out.setAuthenticators(ours.getAuthenticators());
  return out;
}

// Threads of one process also wait for one another: the named mutex is the machine-wide
// guard, this one keeps two threads of the process from sharing one lock handle. Recursive,
// and the named mutex counted per thread, so that a thread holding the file (FileHold) can
// read and save it.
std::recursive_mutex& processFileMutex() {
  static std::recursive_mutex m;
  return m;
}
thread_local unsigned t_fileHolds = 0;

constexpr std::size_t kMaxFileSize = 16u * 1024u * 1024u;
const char* const kFactors[] = {"push", "qrcode", "otp"};

bool realReplace(const std::string& from, const std::string& to) {
  std::error_code ec;
  std::filesystem::rename(std::filesystem::u8path(from), std::filesystem::u8path(to), ec);
  return !ec;
}

std::atomic<ConfigFile::ReplaceFunction> g_replace{nullptr};

// Paths are UTF-8; Windows needs the wide form to open a non-ASCII one.
std::FILE* openFile(const std::string& path, const wchar_t* wideMode, const char* mode) {
#if defined(_WIN32)
  (void)mode;
  return _wfopen(std::filesystem::u8path(path).c_str(), wideMode);
#else
  (void)wideMode;
  return std::fopen(path.c_str(), mode);
#endif
}

void removeFile(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove(std::filesystem::u8path(path), ec);
}

bool flushToDisk(std::FILE* f) {
  if (std::fflush(f) != 0) return false;
#if defined(_WIN32)
  return _commit(_fileno(f)) == 0;
#else
  return ::fsync(fileno(f)) == 0;
#endif
}

bool boolOf(const Model::AuthFactorMap& m, const char* key) {
  auto it = m.find(key);
  return it != m.end() && it->second;
}

// Three-way merge of a keyed list: `held` (this copy's) against the file's current `disk`
// content, both descended from `base`. Returns what the file is to hold: a local change
// wins; an entry unchanged here takes the file's version, or goes when the file dropped it;
// entries that only the file has are added unless this copy removed them.
// `held` becomes what this copy holds from now on: its entries stay at their positions
// (refreshed from the file where unchanged here, and kept, though not written, where the
// file dropped them), so an index a caller took before the save still names the same
// user; the entries that only the file had follow.
template <typename T, typename Key, typename Same, typename Resolve>
std::vector<T> mergeThreeWay(const std::vector<T>& base, std::vector<T>& held, const std::vector<T>& disk, Key key,
                             Same same, Resolve resolve) {
  std::map<std::string, const T*> baseByKey, diskByKey;
  std::set<std::string> heldKeys;
  for (const auto& e : base) baseByKey.emplace(key(e), &e);
  for (const auto& e : disk) diskByKey.emplace(key(e), &e);
  for (const auto& e : held) heldKeys.insert(key(e));
  std::vector<T> out;
  for (auto& h : held) {
    auto b = baseByKey.find(key(h));
    auto d = diskByKey.find(key(h));
    const T* was = b == baseByKey.end() ? nullptr : b->second;
    if (was == nullptr || !same(*was, h)) {
      // Changed here; where the file changed it too since this copy saw it, the two are put
      // together. (One this copy never saw in the file is this copy's to write.)
      if (was != nullptr && d != diskByKey.end() && !same(*d->second, h) && !same(*was, *d->second)) {
        h = resolve(*was, h, *d->second);
      }
      out.push_back(h);
    } else if (d != diskByKey.end()) {
      h = *d->second;
      out.push_back(h);
    }
  }
  for (const auto& d : disk) {
    std::string k = key(d);
    if (heldKeys.count(k) != 0 || baseByKey.count(k) != 0) continue;
    out.push_back(d);
    held.push_back(d);
  }
  return out;
}

std::string userKey(const UserConfig& u) { return J::toLower(u.getUserLogin()); }
bool sameUser(const UserConfig& a, const UserConfig& b) { return a == b; }
std::string entryKey(const UnknownUserEntry& e) { return J::toLower(e.login); }
bool sameEntry(const UnknownUserEntry& a, const UnknownUserEntry& b) { return a == b; }

// The two steps of a write through "<path>.tmp", for a save with something to do in between:
// the temporary file written and flushed, then renamed over `path` (or discarded).
bool writeTemporary(const std::string& path, const std::string& content) {
  const std::string tmp = path + ".tmp";
  std::FILE* f = openFile(tmp, L"wb", "wb");
  if (f == nullptr) return false;
  // Restricted before the secret goes in, so it is never readable by others.
  bool ok = Platform::restrictFileToOwner(tmp);
  ok = ok && std::fwrite(content.data(), 1, content.size(), f) == content.size();
  ok = ok && flushToDisk(f);
  ok = (std::fclose(f) == 0) && ok;
  if (!ok) removeFile(tmp);
  return ok;
}

bool replaceWithTemporary(const std::string& path) {
  const std::string tmp = path + ".tmp";
  const ConfigFile::ReplaceFunction replace = g_replace.load();
  const bool ok = replace != nullptr ? replace(tmp, path) : realReplace(tmp, path);
  if (!ok) removeFile(tmp);
  return ok;
}

void discardTemporary(const std::string& path) { removeFile(path + ".tmp"); }

}  // namespace

// What this copy last read from or wrote to the file.
struct Config::FileState {
  std::string sealed;  // the file's text; empty when it was read from the backup
  Config content;      // what the file holds
  // The lists this copy held right after: the base of the next three-way merge. When they
  // were those of `content` (baseIsContent), they are not kept a second time.
  bool baseIsContent = false;
  std::vector<UserConfig> baseUsers;
  std::vector<UnknownUserEntry> baseUnknownUsers;
  // The JSON text of each of content's users, when this copy wrote the file (empty after a
  // read): a later save writes a user it finds unchanged with the same text again.
  std::vector<std::string> userTexts;
};

// ---------------------------------------------------------------- ConfigFile

namespace ConfigFile {

void setReplaceFunction(ReplaceFunction f) { g_replace.store(f); }

bool writeAtomically(const std::string& path, const std::string& content) {
  return writeTemporary(path, content) && replaceWithTemporary(path);
}

std::uint16_t readWhole(const std::string& path, std::string& content) {
  content.clear();
  std::error_code ec;
  if (!std::filesystem::exists(std::filesystem::u8path(path), ec)) return KV_ERROR_CONFIG_FILE_NOT_FOUND;
  std::FILE* f = openFile(path, L"rb", "rb");
  if (f == nullptr) return KV_ERROR_CONFIG_FILE_ACCESS_DENIED;
  std::string data;
  char buffer[8192];
  std::size_t n = 0;
  bool tooLarge = false;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
    if (data.size() + n > kMaxFileSize) {
      tooLarge = true;
      break;
    }
    data.append(buffer, n);
  }
  bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) return KV_ERROR_CONFIG_FILE_ACCESS_DENIED;
  // An implausibly large file is not a configuration: it reads as empty and fails to open.
  if (!tooLarge) content.swap(data);
  return KV_SUCCESS;
}

}  // namespace ConfigFile

// ---------------------------------------------------------------- UnknownUserEntry

void UnknownUserEntry::writeTo(Model::Json::Writer& w) const {
  w.startObject().field("login", login).field("authenticatedOnline", authenticatedOnline).endObject();
}

std::string UnknownUserEntry::toJson() const {
  J::Writer w;
  writeTo(w);
  return w.str();
}

std::uint16_t UnknownUserEntry::fillFromValue(const rapidjson::Value& obj) {
  if (!obj.IsObject()) return KV_ERROR_FILL_UNKNOWN_USER_FROM_JSON;
  UnknownUserEntry e;
  if (!J::getString(obj, "login", e.login, 1, 100)) return KV_ERROR_FILL_UNKNOWN_USER_LOGIN_FROM_JSON;
  if (!J::getBool(obj, "authenticatedOnline", e.authenticatedOnline)) return KV_ERROR_FILL_UNKNOWN_USER_AUTHENTICATED_ONLINE_FROM_JSON;
  *this = e;
  return KV_SUCCESS;
}

// ---------------------------------------------------------------- Config: fields

Config::Config(const Config& other) { *this = other; }

Config& Config::operator=(const Config& other) {
  if (this == &other) return *this;
  auto check = [](std::uint16_t code) {
    if (code != 0) throw Exception::KvException(code);
  };
  check(setRegion(other.region_));
  check(setEnvironment(other.environment_));
  check(setAccountAlias(other.accountAlias_));
  check(setResourceAlias(other.resourceAlias_));
  check(setLastUser(other.lastUser_));
  check(setMachineName(other.machineName_));
  check(setPlatform(other.platform_));
  check(setServerConfig(other.serverConfig_));
  check(setUsersConfig(other.usersConfig_));
  unknownUsers_ = other.unknownUsers_;
  accountId_ = other.accountId_;
  resourceId_ = other.resourceId_;
  masterPassword_ = other.masterPassword_;
  lastSync_ = other.lastSync_;
  lastAuth_ = other.lastAuth_;
  lastRun_ = other.lastRun_;
  logonAppDisable_ = other.logonAppDisable_;
  masterPasswordMark_ = other.masterPasswordMark_;
  kvCrypto_ = other.kvCrypto_;
  fileState_ = other.fileState_;
  filePath_ = other.filePath_;
  readFromBackup_ = other.readFromBackup_;
  return *this;
}

void Config::commitFrom(Config& o) {
  region_ = std::move(o.region_);
  environment_ = std::move(o.environment_);
  accountAlias_ = std::move(o.accountAlias_);
  accountId_ = std::move(o.accountId_);
  resourceAlias_ = std::move(o.resourceAlias_);
  resourceId_ = o.resourceId_;
  masterPassword_ = std::move(o.masterPassword_);
  masterPasswordMark_ = std::move(o.masterPasswordMark_);
  lastSync_ = o.lastSync_;
  lastAuth_ = o.lastAuth_;
  lastRun_ = o.lastRun_;
  lastUser_ = std::move(o.lastUser_);
  machineName_ = std::move(o.machineName_);
  platform_ = o.platform_;
  logonAppDisable_ = o.logonAppDisable_;
  serverConfig_ = o.serverConfig_;
  usersConfig_ = std::move(o.usersConfig_);
  unknownUsers_ = std::move(o.unknownUsers_);
}

std::uint16_t Config::setRegion(const std::string& v) {
  return Detail::setUnlessRefused(!Detail::validRegion(v), KV_ERROR_INVALID_REGION_LENGTH, region_, v);
}

std::uint16_t Config::setEnvironment(const std::string& v) {
  return Detail::setUnlessRefused(!Detail::validEnvironment(v), KV_ERROR_INVALID_ENVIRONMENT_TYPE, environment_, v);
}

std::uint16_t Config::setAccountAlias(const std::string& v) {
  return Detail::setUnlessRefused(!isEmptyOr3To255(v), KV_ERROR_INVALID_ACCOUNT_ALIAS_LENGTH, accountAlias_, v);
}

std::uint16_t Config::setResourceAlias(const std::string& v) {
  return Detail::setUnlessRefused(!isEmptyOr3To255(v), KV_ERROR_INVALID_RESOURCE_ALIAS_LENGTH, resourceAlias_, v);
}

std::string Config::getResourceIdText() const { return std::to_string(static_cast<std::uint32_t>(resourceId_)); }

std::uint16_t Config::setLastUser(const std::string& v) {
  return Detail::setUnlessRefused(v.size() > 100, KV_ERROR_INVALID_USER_LOGIN_LENGTH, lastUser_, v);
}

std::uint16_t Config::setMachineName(const std::string& v) {
  return Detail::setUnlessRefused(v.size() > 255, KV_ERROR_INVALID_MACHINE_NAME_LENGTH, machineName_, v);
}

std::uint16_t Config::setPlatform(std::uint8_t v) {
  return Detail::setUnlessRefused(v != 1 && v != 2, KV_ERROR_INVALID_PLATFORM, platform_, v);
}

std::uint16_t Config::setServerConfig(const ServerConfig& v) {
  std::uint16_t code = v.validate();
  if (code != 0) return code;
  serverConfig_ = v;
  return KV_SUCCESS;
}

std::uint16_t Config::setUsersConfig(const std::vector<UserConfig>& users) {
  for (const auto& u : users) {
    std::uint16_t code = u.validate();
    if (code != 0) return code;
  }
  usersConfig_ = users;
  return KV_SUCCESS;
}

std::uint16_t Config::setUserConfig(std::size_t index, const UserConfig& user) {
  if (index >= usersConfig_.size()) return KV_ERROR_FAIL_REQUEST_CONFIG;
  const std::uint16_t code = user.validate();
  if (code != 0) return code;
  usersConfig_[index] = user;
  return KV_SUCCESS;
}

// ---------------------------------------------------------------- Config: users

int Config::getUserIndex(const std::string& login) const {
  for (std::size_t i = 0; i < usersConfig_.size(); ++i)
    if (J::equalsIgnoreCase(usersConfig_[i].getUserLogin(), login)) return static_cast<int>(i);
  if (login.empty()) return -1;
  for (std::size_t i = 0; i < usersConfig_.size(); ++i)
    if (J::equalsIgnoreCase(usersConfig_[i].getEmail(), login)) return static_cast<int>(i);
  return -1;
}

std::string Config::getLoginType(const std::string& login) const {
  if (!login.empty())
    for (const auto& u : usersConfig_)
      if (J::equalsIgnoreCase(u.getEmail(), login)) return "EMAIL";
  return "USERNAME";
}

// ---------------------------------------------------------------- Config: merges

std::uint16_t Config::mergeResponseConfig(const Model::ResponseConfig& response, std::uint32_t resourceId) {
  KV_TRACE_SCOPE("Korvath::Config::mergeResponseConfig");
  if (response.getResourceId() != 0 && response.getResourceId() != resourceId) return KV_ERROR_INVALID_CONFIG;
  try {
    Config next;
    next = *this;
    std::uint16_t code = next.setAccountAlias(response.getAccountAlias());
    if (code == 0) code = next.setResourceAlias(response.getResourceAlias());
    if (code != 0) return code;
    next.accountId_ = response.getAccountId();
    next.resourceId_ = static_cast<std::int32_t>(resourceId);
    next.masterPassword_ = response.getMasterPassword();
    ServerConfig settings = response.getServerConfig();
    std::int64_t difference = 0;
    const std::uint64_t now = Platform::clock().nowFileTime();
    if (response.getServerTime() != 0) difference = response.getServerTime() - Platform::clock().nowUnixMs() / 1000;
    settings.setTimeDifference(difference);
    code = next.setServerConfig(settings);
    if (code != 0) return code;
    // The key of the account's blobs as the reply gives it, and as this copy held it.
    const KeySettings serviceKey = blobKeySettings(settings, next.accountId_);
    const KeySettings heldKey = blobKeySettings(serverConfig_, accountId_);
    const std::size_t storedBefore = next.usersConfig_.size();
    for (const auto& user : response.getUsers()) {
      auto it = std::find_if(next.usersConfig_.begin(), next.usersConfig_.end(), [&](const UserConfig& u) {
        return J::equalsIgnoreCase(u.getUserLogin(), user.getUserLogin());
      });
      // A forgot-token pass the service brings, new or again (after the clock guard ended it
      // here), counts as granted now.
      const std::uint64_t expiry = user.getAuthenticatorForgottenExpiryTimestamp();
      if (it != next.usersConfig_.end()) {
        const std::uint64_t before = it->getAuthenticatorForgottenExpiryTimestamp();
        const std::vector<Model::AuthenticatorRecord> held = it->getAuthenticators();
        code = it->updateFromUser(user);
        if (code != 0) return code;
        keepLocalCounters(*it, serviceKey, held, heldKey);
        if (expiry != 0 && expiry != before) it->setForgotTokenGrantedAt(now);
      } else {
        code = user.User::validate();
        if (code != 0) return code;
        next.usersConfig_.emplace_back(user);
        if (expiry != 0) next.usersConfig_.back().setForgotTokenGrantedAt(now);
      }
    }
    next.makeRoomForNewUsers(storedBefore);
    commitFrom(next);
    return KV_SUCCESS;
  } catch (const Exception::KvException& e) {
    return e.code();
  } catch (const std::exception&) {
    return KV_ERROR_INVALID_CONFIG;
  }
}

std::uint16_t Config::mergeUserPolicy(const Model::UserPolicy& policy, Model::AuthFactorMap& factors) {
  KV_TRACE_SCOPE("Korvath::Config::mergeUserPolicy");
  int index = policy.username.empty() ? -1 : getUserIndex(policy.username);
  if (index < 0 && !policy.email.empty()) index = getUserIndex(policy.email);
  if (index < 0) return KV_ERROR_USER_NOT_FOUND;
  Model::AuthFactorMap types;
  for (const char* f : kFactors) types[f] = boolOf(policy.authTypes, f);
  return updateUserAndSave(static_cast<std::size_t>(index), [&](UserConfig& user) {
    user.setAuthTypes(types);
    user.setHasPolicy(policy.hasPolicy);
    user.setBlocked(policy.isBlocked);
    user.setOverAllocated(policy.isOverallocated);
    user.setQuarantine(policy.isInQuarantine);
    user.setPolicyAllowsAuthentication(policy.isAllowedToAuthenticate);
    for (const char* f : kFactors) factors[f] = types[f];
  });
}

std::uint16_t Config::mergeUserPolicyOffline(const Model::UserPolicyOffline& policy, const std::string& login) {
  KV_TRACE_SCOPE("Korvath::Config::mergeUserPolicyOffline");
  int index = getUserIndex(login);
  if (index < 0) return KV_ERROR_USER_NOT_FOUND;
  Model::AuthFactorMap types;
  for (const char* f : kFactors) types[f] = boolOf(policy.authTypes, f);
  return updateUserAndSave(static_cast<std::size_t>(index), [&](UserConfig& user) {
    user.setAuthTypes(types);
    user.setHasPolicy(policy.hasPolicy);
    user.setPolicyAllowsAuthentication(policy.policyAllowsAuthentication);
  });
}

// Changes one stored user, clears the logon-disabled state and saves. A failed save keeps
// the change in memory: it is what the service says now, and the next save writes it.
std::uint16_t Config::updateUserAndSave(std::size_t index, const std::function<void(UserConfig&)>& change) {
  try {
    UserConfig user = usersConfig_[index];
    change(user);
    usersConfig_[index] = std::move(user);
  } catch (const Exception::KvException& e) {
    return e.code();
  }
  logonAppDisable_ = 0;
  return writeFile();
}

std::uint16_t Config::removeExtraUsers() {
  KV_TRACE_SCOPE("Korvath::Config::removeExtraUsers");
  if (usersConfig_.size() <= kMaxUsers) return KV_SUCCESS;
  std::vector<std::size_t> order(usersConfig_.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return usersConfig_[a].getLastAuthTime() > usersConfig_[b].getLastAuthTime();
  });
  std::vector<bool> keep(usersConfig_.size(), false);
  for (std::size_t i = 0; i < kMaxUsers; ++i) keep[order[i]] = true;
  std::vector<UserConfig> kept;
  for (std::size_t i = 0; i < usersConfig_.size(); ++i)
    if (keep[i]) kept.push_back(std::move(usersConfig_[i]));
  usersConfig_ = std::move(kept);
  return writeFile();
}

// The users from `firstNew` on were just added. While the list is over the cap, the least
// recently authenticated of the users stored before them goes (the first in stored order
// among equals); a user just added is never the one evicted for itself.
void Config::makeRoomForNewUsers(std::size_t firstNew) {
  while (usersConfig_.size() > kMaxUsers && firstNew > 0) {
    const auto end = usersConfig_.begin() + static_cast<std::ptrdiff_t>(firstNew);
    const auto oldest = std::min_element(usersConfig_.begin(), end, [](const UserConfig& a, const UserConfig& b) {
      return a.getLastAuthTime() < b.getLastAuthTime();
    });
    usersConfig_.erase(oldest);
    --firstNew;
  }
}

std::uint16_t Config::removeDeletedUserFromPellora(const std::string& login) {
  KV_TRACE_SCOPE("Korvath::Config::removeDeletedUserFromPellora");
  int index = getUserIndex(login);
  if (index < 0) return KV_ERROR_USER_NOT_FOUND;
  usersConfig_.erase(usersConfig_.begin() + index);
  return writeFile();
}

bool Config::shouldBypassMfaForNonPelloraUser(const std::string& login, bool online) {
  KV_TRACE_SCOPE("Korvath::Config::shouldBypassMfaForNonPelloraUser");
  if (serverConfig_.getAllowUnknownUsers() == 0) return false;
  if (login.empty() || login.size() > Model::User::kLoginMaxLength) return false;
  if (getUserIndex(login) >= 0) return false;
  // login@domain of a stored login is that user, typed as a user-principal name: letting it
  // through as unknown would skip the stored user's second factor.
  const std::size_t at = login.find('@');
  if (at != std::string::npos && getUserIndex(login.substr(0, at)) >= 0) return false;
  auto it = std::find_if(unknownUsers_.begin(), unknownUsers_.end(),
                         [&](const UnknownUserEntry& e) { return J::equalsIgnoreCase(e.login, login); });
  if (!online) return it != unknownUsers_.end() && it->authenticatedOnline;
  if (it == unknownUsers_.end()) {
    unknownUsers_.push_back(UnknownUserEntry{login, true});
  } else {
    it->authenticatedOnline = true;
  }
  writeFile();
  return true;
}

// ---------------------------------------------------------------- Config: JSON

std::string Config::toJson() const {
  std::vector<std::string> userTexts;
  return toJsonReusing(nullptr, userTexts);
}

std::string Config::toJsonReusing(const FileState* previous, std::vector<std::string>& userTexts) const {
  // A save writes the whole document, most of it users that have not changed since the
  // last one: their text is taken again rather than written anew.
  std::map<std::string, std::size_t> written;
  if (previous != nullptr && previous->userTexts.size() == previous->content.usersConfig_.size()) {
    for (std::size_t i = 0; i < previous->content.usersConfig_.size(); ++i)
      written.emplace(userKey(previous->content.usersConfig_[i]), i);
  }
  userTexts.clear();
  userTexts.reserve(usersConfig_.size());
  for (const UserConfig& u : usersConfig_) {
    const auto it = written.find(userKey(u));
    if (it != written.end() && previous->content.usersConfig_[it->second] == u) {
      userTexts.push_back(previous->userTexts[it->second]);
    } else {
      userTexts.push_back(u.toJson());
    }
  }
  J::Writer w;
  w.startObject()
      .field("region", region_)
      .field("environment", environment_)
      .field("accountAlias", accountAlias_)
      .field("accountId", accountId_)
      .field("resourceAlias", resourceAlias_)
      .field("resourceId", resourceId_)
      .field("masterPassword", masterPassword_)
      .field("masterPasswordMark", masterPasswordMark_)
      .field("lastSync", lastSync_)
      .field("lastAuth", lastAuth_)
      .field("lastRun", lastRun_)
      .field("lastUser", lastUser_)
      .field("machineName", machineName_)
      .field("platform", platform_)
      .field("logonAppDisable", logonAppDisable_);
  w.key("serverConfig").raw(serverConfig_.toJson());
  w.key("usersConfig").startArray();
  for (const std::string& text : userTexts) w.raw(text);
  w.endArray();
  w.key("unknownUsers").startArray();
  for (const auto& e : unknownUsers_) e.writeTo(w);
  w.endArray();
  w.endObject();
  return w.str();
}

std::uint16_t Config::fillFromJson(const std::string& json) {
  rapidjson::Document doc;
  if (!J::parseObject(json, doc)) return KV_ERROR_FILL_CONFIG_FROM_JSON;
  Config t;
  std::string text;
  if (!J::getString(doc, "region", text) || t.setRegion(text) != 0) return KV_ERROR_FILL_CONFIG_REGION_FROM_JSON;
  if (!J::getString(doc, "environment", text) || t.setEnvironment(text) != 0) return KV_ERROR_FILL_CONFIG_ENVIRONMENT_FROM_JSON;
  if (!J::getString(doc, "accountAlias", text) || t.setAccountAlias(text) != 0) return KV_ERROR_FILL_CONFIG_ACCOUNT_ALIAS_FROM_JSON;
  if (!J::getString(doc, "accountId", t.accountId_)) return KV_ERROR_FILL_CONFIG_ACCOUNT_ID_FROM_JSON;
  if (!J::getString(doc, "resourceAlias", text) || t.setResourceAlias(text) != 0)
    return KV_ERROR_FILL_CONFIG_RESOURCE_ALIAS_FROM_JSON;
  if (!J::getInt32(doc, "resourceId", t.resourceId_)) return KV_ERROR_FILL_CONFIG_RESOURCE_ID_FROM_JSON;
  if (!J::getString(doc, "masterPassword", t.masterPassword_)) return KV_ERROR_FILL_CONFIG_MASTER_PASSWORD_FROM_JSON;
  // Files written before the mark existed have none: the digest is then made once more.
  if (J::member(doc, "masterPasswordMark") != nullptr && !J::getString(doc, "masterPasswordMark", t.masterPasswordMark_))
    return KV_ERROR_FILL_CONFIG_MASTER_PASSWORD_MARK_FROM_JSON;
  if (!J::getUint64(doc, "lastSync", t.lastSync_)) return KV_ERROR_FILL_CONFIG_LAST_SYNC_FROM_JSON;
  if (!J::getUint64(doc, "lastAuth", t.lastAuth_)) return KV_ERROR_FILL_CONFIG_LAST_AUTH_FROM_JSON;
  if (!J::getUint64(doc, "lastRun", t.lastRun_)) return KV_ERROR_FILL_CONFIG_LAST_RUN_FROM_JSON;
  if (!J::getString(doc, "lastUser", text) || t.setLastUser(text) != 0) return KV_ERROR_FILL_CONFIG_LAST_USER_FROM_JSON;
  if (!J::getString(doc, "machineName", text) || t.setMachineName(text) != 0) return KV_ERROR_FILL_CONFIG_MACHINE_NAME_FROM_JSON;
  std::uint8_t platform = 0;
  if (!J::getUint8(doc, "platform", platform) || t.setPlatform(platform) != 0) return KV_ERROR_FILL_CONFIG_PLATFORM_FROM_JSON;
  if (!J::getUint16(doc, "logonAppDisable", t.logonAppDisable_)) return KV_ERROR_FILL_CONFIG_LOGON_APP_DISABLE_FROM_JSON;
  const rapidjson::Value* sc = J::member(doc, "serverConfig");
  if (sc == nullptr || !sc->IsObject()) return KV_ERROR_FILL_CONFIG_SERVER_CONFIG_FROM_JSON;
  std::uint16_t code = t.serverConfig_.fillFromValue(*sc);
  if (code != 0) return code;
  const rapidjson::Value* users = J::member(doc, "usersConfig");
  if (users == nullptr || !users->IsArray()) return KV_ERROR_FILL_CONFIG_USERS_CONFIG_FROM_JSON;
  for (const auto& e : users->GetArray()) {
    t.usersConfig_.emplace_back();
    code = t.usersConfig_.back().fillFromValue(e);
    if (code != 0) return code;
  }
  const rapidjson::Value* unknown = J::member(doc, "unknownUsers");
  if (unknown == nullptr || !unknown->IsArray()) return KV_ERROR_FILL_CONFIG_UNKNOWN_USERS_FROM_JSON;
  for (const auto& e : unknown->GetArray()) {
    t.unknownUsers_.emplace_back();
    code = t.unknownUsers_.back().fillFromValue(e);
    if (code != 0) return code;
  }
  commitFrom(t);
  return KV_SUCCESS;
}

// ---------------------------------------------------------------- Config: file

std::string Config::backupPathFor(const std::string& path) {
  std::size_t slash = path.find_last_of("/\\");
  std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + "bkp";
  return path.substr(0, dot) + "bkp" + path.substr(dot);
}

std::string Config::mainPath() const { return filePath_.empty() ? Platform::configFilePath() : filePath_; }

namespace {
// Reads, opens and fills one file into `into`; keeps the sealed text in `raw`.
std::uint16_t loadFile(const std::string& path, KvCrypto& crypto, Config& into, std::string& raw) {
  std::uint16_t code = ConfigFile::readWhole(path, raw);
  if (code != 0) return code;
  std::string plain;
  code = crypto.openConfig(raw, plain);
  if (code != 0) return code;
  return into.fillFromJson(plain);
}

// What the file holds now, given its bytes `mainRaw`: the main file when it opens
// (`mainValid`), else the backup; false when neither opens.
bool openCurrentFile(const std::string& main, const std::string& mainRaw, KvCrypto& crypto, Config& into,
                     bool& mainValid) {
  std::string plain;
  mainValid = !mainRaw.empty() && crypto.openConfig(mainRaw, plain) == 0 && into.fillFromJson(plain) == 0;
  std::string backupRaw;
  return mainValid || loadFile(Config::backupPathFor(main), crypto, into, backupRaw) == 0;
}
}  // namespace

bool Config::sameContent(const Config& o) const {
  return region_ == o.region_ && environment_ == o.environment_ && accountAlias_ == o.accountAlias_ &&
         accountId_ == o.accountId_ && resourceAlias_ == o.resourceAlias_ && resourceId_ == o.resourceId_ &&
         masterPassword_ == o.masterPassword_ && masterPasswordMark_ == o.masterPasswordMark_ &&
         lastSync_ == o.lastSync_ && lastAuth_ == o.lastAuth_ && lastRun_ == o.lastRun_ && lastUser_ == o.lastUser_ &&
         machineName_ == o.machineName_ && platform_ == o.platform_ && logonAppDisable_ == o.logonAppDisable_ &&
         serverConfig_ == o.serverConfig_ && usersConfig_ == o.usersConfig_ && unknownUsers_ == o.unknownUsers_;
}

// Called when the file holds `sealed`, whose content is `content`, and this copy holds its
// lists as they are to be merged from next time.
void Config::rememberFile(std::string sealed, const Config& content, std::vector<std::string> userTexts) {
  auto state = std::make_shared<FileState>();
  state->sealed = std::move(sealed);
  state->userTexts = std::move(userTexts);
  state->content = content;
  state->content.fileState_.reset();
  // Usually this copy holds just what the file holds; the base lists are then the file's.
  state->baseIsContent =
      usersConfig_ == state->content.usersConfig_ && unknownUsers_ == state->content.unknownUsers_;
  if (!state->baseIsContent) {
    state->baseUsers = usersConfig_;
    state->baseUnknownUsers = unknownUsers_;
  }
  fileState_ = std::move(state);
}

std::uint16_t Config::readFile(const std::string& path) {
  KV_TRACE_SCOPE("Korvath::Config::readFile");
  if (kvCrypto_ == nullptr) return KV_ERROR_DECRYPT_CONFIG_FILE;
  const std::string main = path.empty() ? Platform::configFilePath() : path;
  if (main.empty()) return KV_ERROR_CONFIG_FILE_NOT_FOUND;
  // Later saves go where this read looked, whether or not a file was there.
  filePath_ = path;
  FileHold hold;
  if (!hold.held()) {
    KV_LOG_ERROR("Korvath::Config::readFile - configuration mutex not taken");
    return KV_ERROR_CONFIG_FILE_ACCESS_DENIED;
  }

  Config loaded;
  std::string raw;
  bool fromBackup = false;
  std::uint16_t code = loadFile(main, *kvCrypto_, loaded, raw);
  if (code != 0) {
    Config fromBackupFile;
    std::uint16_t backupCode = loadFile(backupPathFor(main), *kvCrypto_, fromBackupFile, raw);
    if (backupCode != 0) {
      std::uint16_t result = code == KV_ERROR_CONFIG_FILE_NOT_FOUND ? backupCode : code;
      KV_LOG_ERROR("Korvath::Config::readFile - main file: %d, backup: %d", code, backupCode);
      return result;
    }
    KV_LOG_ERROR("Korvath::Config::readFile - main file refused (%d), read the backup: changes saved after it may be lost",
                 code);
    loaded.commitFrom(fromBackupFile);
    fromBackup = true;
    // The main file is not the one read: the next save must look at it again.
    raw.clear();
  }
  commitFrom(loaded);
  readFromBackup_ = fromBackup;
  rememberFile(std::move(raw), *this);
  return KV_SUCCESS;
}

// Every save stores the latest clock reading seen, never an earlier one: not this copy's own
// earlier reading, not the one another process stored since, not a clock set back.
void Config::advanceLastRun(std::uint64_t storedLastRun) {
  const std::uint64_t now = Platform::clock().nowFileTime();
  lastRun_ = std::max(lastRunBroughtBack_ ? lastRun_ : latestStored(storedLastRun),
                      now >= kClockFloorFileTime ? now : std::uint64_t{0});
}

std::uint64_t Config::latestStored(std::uint64_t storedLastRun) const {
  // The file's time lower than when this copy last saw the file: another copy brought it back
  // (bringLastRunBack), which this copy's own earlier reading must not undo.
  if (fileState_ && storedLastRun < fileState_->content.lastRun_) return storedLastRun;
  return std::max(lastRun_, storedLastRun);
}

std::uint16_t Config::writeFile() {
  KV_TRACE_SCOPE("Korvath::Config::writeFile");
  if (kvCrypto_ == nullptr) return KV_ERROR_ENCRYPT_CONFIG_FILE;
  const std::string main = mainPath();
  if (main.empty()) return KV_ERROR_WRITE_CONFIG_FILE;
  FileHold hold;
  if (!hold.held()) {
    KV_LOG_ERROR("Korvath::Config::writeFile - configuration mutex not taken, nothing written");
    return KV_ERROR_WRITE_CONFIG_FILE;
  }
  try {
    std::string mainRaw;
    ConfigFile::readWhole(main, mainRaw);
    // The file is still the one this copy last read or wrote, and this copy's lists descend
    // from just what it holds: the three-way merge would give this copy's state back, so the
    // file is neither opened nor merged.
    if (fileState_ && fileState_->baseIsContent && !mainRaw.empty() && mainRaw == fileState_->sealed) {
      if (sameContent(fileState_->content)) {
        // Nothing to write. A file saved once has no backup yet; a save gives it one, as a
        // changing save would.
        std::error_code ec;
        if (!std::filesystem::exists(std::filesystem::u8path(backupPathFor(main)), ec) &&
            !ConfigFile::writeAtomically(backupPathFor(main), mainRaw)) {
          KV_LOG_ERROR("Korvath::Config::writeFile - the backup could not be written");
          return KV_ERROR_WRITE_CONFIG_FILE;
        }
        return KV_SUCCESS;
      }
      advanceLastRun(fileState_->content.lastRun_);
      std::string sealed;
      std::vector<std::string> userTexts;
      const std::uint16_t code = writeOut(main, *this, &mainRaw, sealed, userTexts);
      if (code == KV_SUCCESS) {
        rememberFile(std::move(sealed), *this, std::move(userTexts));
        lastRunBroughtBack_ = false;
      }
      return code;
    }

    // What the file holds now, to keep what others saved since this copy last saw it.
    Config onDisk;
    bool haveDisk = false;
    bool mainValid = false;
    if (fileState_ && !mainRaw.empty() && mainRaw == fileState_->sealed) {
      onDisk = fileState_->content;
      haveDisk = mainValid = true;
    } else {
      haveDisk = openCurrentFile(main, mainRaw, *kvCrypto_, onDisk, mainValid);
    }

    if (haveDisk) {
      advanceLastRun(onDisk.lastRun_);
    } else {
      advanceLastRun(lastRun_);  // no file: this copy's own time is the latest stored
    }
    Config snapshot;
    snapshot = *this;
    snapshot.fileState_.reset();
    std::vector<UserConfig> heldUsers = usersConfig_;
    std::vector<UnknownUserEntry> heldUnknown = unknownUsers_;
    if (haveDisk) {
      const bool known = fileState_ != nullptr;
      const bool baseIsContent = known && fileState_->baseIsContent;
      static const std::vector<UserConfig> kNoUsers;
      static const std::vector<UnknownUserEntry> kNoEntries;
      const std::vector<UserConfig>& baseUsers =
          !known ? kNoUsers : baseIsContent ? fileState_->content.usersConfig_ : fileState_->baseUsers;
      const std::vector<UnknownUserEntry>& baseUnknown =
          !known ? kNoEntries : baseIsContent ? fileState_->content.unknownUsers_ : fileState_->baseUnknownUsers;
      const KeySettings key = blobKeySettings(serverConfig_, accountId_);
      snapshot.usersConfig_ = mergeThreeWay(
          baseUsers, heldUsers, onDisk.usersConfig_, userKey, sameUser,
          [&](const UserConfig& was, const UserConfig& mine, const UserConfig& theirs) {
            return resolveUser(was, mine, theirs, key);
          });
      snapshot.unknownUsers_ =
          mergeThreeWay(baseUnknown, heldUnknown, onDisk.unknownUsers_, entryKey, sameEntry,
                        [](const UnknownUserEntry&, const UnknownUserEntry& mine, const UnknownUserEntry&) { return mine; });
    }
    std::string sealed;
    std::vector<std::string> userTexts;
    const std::uint16_t code = writeOut(main, snapshot, mainValid ? &mainRaw : nullptr, sealed, userTexts);
    if (code != KV_SUCCESS) return code;
    usersConfig_ = std::move(heldUsers);
    unknownUsers_ = std::move(heldUnknown);
    rememberFile(std::move(sealed), snapshot, std::move(userTexts));
    lastRunBroughtBack_ = false;
    return KV_SUCCESS;
  } catch (const std::exception&) {
    return KV_ERROR_WRITE_CONFIG_FILE;
  }
}

// Seals `content`, keeps the previous main file (`previous`, when it is a good one) as the
// backup and replaces the main file. A damaged main file must not overwrite the backup that
// still holds a readable configuration.
std::uint16_t Config::writeOut(const std::string& main, const Config& content, const std::string* previous,
                               std::string& sealed, std::vector<std::string>& userTexts) {
  std::uint16_t code = kvCrypto_->sealConfig(content.toJsonReusing(fileState_.get(), userTexts), sealed);
  if (code != 0) return code;
  // The new text is on disk before the backup changes: a save that cannot write it leaves
  // both files as they were.
  if (!writeTemporary(main, sealed)) {
    KV_LOG_ERROR("Korvath::Config::writeFile - the configuration file could not be written");
    return KV_ERROR_WRITE_CONFIG_FILE;
  }
  if (previous != nullptr && !ConfigFile::writeAtomically(backupPathFor(main), *previous)) {
    discardTemporary(main);
    KV_LOG_ERROR("Korvath::Config::writeFile - the backup could not be written");
    return KV_ERROR_WRITE_CONFIG_FILE;
  }
  if (!replaceWithTemporary(main)) {
    KV_LOG_ERROR("Korvath::Config::writeFile - the configuration file could not be replaced");
    return KV_ERROR_WRITE_CONFIG_FILE;
  }
  KV_LOG_DEBUG("Korvath::Config::writeFile - saved %u users", static_cast<unsigned>(content.usersConfig_.size()));
  return KV_SUCCESS;
}

// ---------------------------------------------------------------- holding the file

struct Config::FileHold::State {
  std::unique_lock<std::recursive_mutex> inProcess{processFileMutex()};
  // Declared last: released first, before the in-process mutex.
  std::unique_ptr<Platform::NamedMutexLock> named;
};

Config::FileHold::FileHold() : state_(new State) {
  if (t_fileHolds == 0) {
    state_->named.reset(new Platform::NamedMutexLock(kMutexName, kMutexTimeoutMs));
    if (!state_->named->acquired()) return;
  }
  held_ = true;
  ++t_fileHolds;
}

Config::FileHold::~FileHold() {
  if (held_) --t_fileHolds;
}

std::uint16_t Config::reloadUser(std::size_t index) {
  KV_TRACE_SCOPE("Korvath::Config::reloadUser");
  if (index >= usersConfig_.size()) return KV_ERROR_FAIL_REQUEST_CONFIG;
  if (kvCrypto_ == nullptr) return KV_ERROR_DECRYPT_CONFIG_FILE;
  FileHold hold;
  if (!hold.held()) {
    KV_LOG_ERROR("Korvath::Config::reloadUser - configuration mutex not taken");
    return KV_ERROR_CONFIG_FILE_ACCESS_DENIED;
  }
  try {
    const std::string main = mainPath();
    std::string mainRaw;
    ConfigFile::readWhole(main, mainRaw);
    const Config* onDisk = nullptr;
    Config opened;
    bool mainValid = false;
    if (fileState_ && !mainRaw.empty() && mainRaw == fileState_->sealed) {
      onDisk = &fileState_->content;
    } else if (openCurrentFile(main, mainRaw, *kvCrypto_, opened, mainValid)) {
      onDisk = &opened;
    }
    // No file that opens: this copy's record is all there is (the next save writes it).
    if (onDisk == nullptr) return KV_SUCCESS;
    // The latest time any process stored, for the clock guard that may follow.
    if (!lastRunBroughtBack_) lastRun_ = latestStored(onDisk->lastRun_);
    const std::string key = userKey(usersConfig_[index]);
    for (const UserConfig& stored : onDisk->usersConfig_) {
      if (userKey(stored) != key) continue;
      usersConfig_[index] = stored;
      // The record now descends from the file's: the next save merges against that, so that
      // what the file had is not taken for a change of this copy's.
      if (fileState_ && onDisk != &fileState_->content) {
        auto state = std::make_shared<FileState>(*fileState_);
        if (state->baseIsContent) {
          state->baseUsers = state->content.usersConfig_;
          state->baseUnknownUsers = state->content.unknownUsers_;
          state->baseIsContent = false;
        }
        const auto was = std::find_if(state->baseUsers.begin(), state->baseUsers.end(),
                                      [&](const UserConfig& u) { return userKey(u) == key; });
        if (was != state->baseUsers.end()) {
          *was = stored;
        } else {
          state->baseUsers.push_back(stored);
        }
        fileState_ = std::move(state);
      }
      break;
    }
    return KV_SUCCESS;
  } catch (const std::exception&) {
    KV_LOG_ERROR("Korvath::Config::reloadUser - the user's record was not read again");
    return KV_ERROR_FAIL_REQUEST_CONFIG;
  }
}

}  // namespace Korvath
