// Two processes saving in a loop at once lose no user: each save merges what the other
// process saved in the meantime. Under Wine this is also what shows the named mutex excluding
// another process (a mutex that lets both in loses users here at once).

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <tuple>
#include <string>

#if defined(_WIN32)
#include <process.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "AuthenticationSdk/AuthenticatorBlob.h"
#include "Korvath/Platform.h"
#include "Korvath/ResultCodes.h"
#include "ModelTestSupport.h"

using namespace Korvath;
using namespace KvModelTest;
using Korvath::Model::AuthenticatorRecord;
using Korvath::Model::UserConfig;

namespace {

#if defined(_WIN32)
constexpr int kUsersPerProcess = 12;
#else
constexpr int kUsersPerProcess = 20;
#endif

// Both processes read the file before either saves, so that their loops overlap.
bool meetTheOther(const std::string& file, const std::string& prefix) {
  std::ofstream(file + "." + prefix + ".ready") << "1";
  const std::string other = file + "." + (prefix == "left" ? "right" : "left") + ".ready";
  for (int i = 0; i < 10000; ++i) {
    if (std::filesystem::exists(other)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

// Adds `count` users named <prefix><i>, saving after each one; the number of failed saves.
int saveLoop(const std::string& file, const std::string& prefix, int count) {
  KvCrypto crypto;
  Config c(&crypto);
  std::uint16_t code = c.readFile(file);
  if (code != 0 && code != KV_ERROR_CONFIG_FILE_NOT_FOUND) return count;
  if (!meetTheOther(file, prefix)) return count;
  int failures = 0;
  for (int i = 0; i < count; ++i) {
    auto users = c.getUsersConfig();
    users.push_back(sampleUser(prefix + std::to_string(i)));
    if (c.setUsersConfig(users) != 0 || c.writeFile() != 0) ++failures;
  }
  return failures;
}

const char* env(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr && v[0] != '\0' ? v : nullptr;
}

}  // namespace

// The body of a child process; skipped when the test runs on its own.
TEST(ConcurrentSave, ChildProcess) {
  const char* prefix = env("KV_MODEL_SAVE_PREFIX");
  const char* file = env("KV_MODEL_SAVE_FILE");
  if (prefix == nullptr || file == nullptr) GTEST_SKIP() << "runs only as the child of TwoProcessesLoseNoUser";
  EXPECT_EQ(0, saveLoop(file, prefix, kUsersPerProcess));
}

class ConcurrentSaveTest : public TempRootTest {};

TEST_F(ConcurrentSaveTest, TwoProcessesLoseNoUser) {
  const std::string file = path("kvconfig.cfg");
  const char* prefixes[2] = {"left", "right"};
#if defined(_WIN32)
  const std::string exe = ::testing::internal::GetArgvs()[0];
  int status[2] = {-1, -1};
  intptr_t pids[2];
  for (int p = 0; p < 2; ++p) {
    ASSERT_EQ(0, _putenv_s("KV_MODEL_SAVE_FILE", file.c_str()));
    ASSERT_EQ(0, _putenv_s("KV_MODEL_SAVE_PREFIX", prefixes[p]));
    pids[p] = _spawnl(_P_NOWAIT, exe.c_str(), exe.c_str(), "--gtest_filter=ConcurrentSave.ChildProcess", nullptr);
    ASSERT_NE(-1, pids[p]);
  }
  _putenv_s("KV_MODEL_SAVE_PREFIX", "");
  for (int p = 0; p < 2; ++p) {
    ASSERT_NE(-1, _cwait(&status[p], pids[p], 0));
    EXPECT_EQ(0, status[p]) << "child " << p;
  }
#else
  pid_t pids[2];
  for (int p = 0; p < 2; ++p) {
    pids[p] = ::fork();
    ASSERT_GE(pids[p], 0);
    if (pids[p] == 0) {
      int failures = saveLoop(file, prefixes[p], kUsersPerProcess);
      std::_Exit(failures == 0 ? 0 : 1);
    }
  }
  for (int p = 0; p < 2; ++p) {
    int status = 0;
    ASSERT_EQ(pids[p], ::waitpid(pids[p], &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status)) << "child " << p;
  }
#endif
  Config result = reread();
  EXPECT_EQ(static_cast<std::size_t>(2 * kUsersPerProcess), result.getUsersConfig().size());
  for (const char* prefix : prefixes)
    for (int i = 0; i < kUsersPerProcess; ++i)
      EXPECT_GE(result.getUserIndex(prefix + std::to_string(i)), 0) << prefix << i;
}

TEST_F(ConcurrentSaveTest, TwoCopiesInOneProcessKeepEachOthersUsers) {
  Config dialog(&crypto_);
  dialog.setFilePath(path("kvconfig.cfg"));
  ASSERT_EQ(0, dialog.setUsersConfig({sampleUser("alice"), sampleUser("bob")}));
  ASSERT_EQ(0, dialog.writeFile());
  Config pushTask(dialog);  // the push task works on a copy
  auto users = pushTask.getUsersConfig();
  users[1].setLastAuthTime(42);
  users.push_back(sampleUser("carol"));
  ASSERT_EQ(0, pushTask.setUsersConfig(users));
  ASSERT_EQ(0, pushTask.writeFile());
  // The dialog, which has not seen those changes, removes alice and saves.
  ASSERT_EQ(0, dialog.removeDeletedUserFromPellora("alice"));
  Config back = reread();
  EXPECT_EQ(-1, back.getUserIndex("alice"));
  ASSERT_GE(back.getUserIndex("bob"), 0);
  EXPECT_EQ(42u, back.getUsersConfig()[static_cast<std::size_t>(back.getUserIndex("bob"))].getLastAuthTime());
  EXPECT_GE(back.getUserIndex("carol"), 0);
  EXPECT_EQ(back.toJson(), dialog.toJson()) << "the saving copy now holds the merged list";
}

TEST_F(ConcurrentSaveTest, SaveKeepsTheIndicesThisCopyHoldsAndDoesNotBringBackARemovedUser) {
  Config session1(&crypto_);
  session1.setFilePath(path("kvconfig.cfg"));
  ASSERT_EQ(0, session1.setUsersConfig({sampleUser("alice"), sampleUser("bob"), sampleUser("carol")}));
  ASSERT_EQ(0, session1.writeFile());
  Config session2 = reread();
  ASSERT_EQ(0, session2.removeDeletedUserFromPellora("alice"));

  const int carol = session1.getUserIndex("carol");
  ASSERT_EQ(2, carol);
  session1.setLastAuth(7);
  ASSERT_EQ(0, session1.writeFile());  // a save in between, e.g. after a cloud exchange
  auto users = session1.getUsersConfig();
  ASSERT_LT(static_cast<std::size_t>(carol), users.size());
  ASSERT_EQ("carol", users[static_cast<std::size_t>(carol)].getUserLogin()) << "the index still names carol";
  users[static_cast<std::size_t>(carol)].setLastAuthTime(99);
  ASSERT_EQ(0, session1.setUsersConfig(users));
  ASSERT_EQ(0, session1.writeFile());

  Config back = reread();
  EXPECT_EQ(-1, back.getUserIndex("alice")) << "removed by the other session, unchanged here";
  ASSERT_EQ(2u, back.getUsersConfig().size());
  EXPECT_EQ(99u, back.getUsersConfig()[static_cast<std::size_t>(back.getUserIndex("carol"))].getLastAuthTime());
  EXPECT_EQ(7u, back.getLastAuth());
}

namespace {

class SettableClock : public Platform::IClock {
 public:
  std::uint64_t nowFileTime() override { return now; }
  std::int64_t nowUnixMs() override { return static_cast<std::int64_t>(now / 10000) - 11644473600000LL; }
  std::int64_t monotonicMs() override { return 0; }
  void sleepMs(std::uint32_t) override {}
  std::uint64_t now = 0;
};

}  // namespace

// Every save that writes stores the latest clock reading seen: the clock's, unless this copy or
// the file (another dialog's save) already holds a later one, or the clock reads before 2018.
// A save with nothing to write writes nothing; reading one user again takes the file's time.
TEST_F(ConcurrentSaveTest, EverySaveStoresTheLatestTimeSeenNeverAnEarlierOne) {
  SettableClock clock;
  Platform::setClock(&clock);
  const std::uint64_t day = 864000000000ull, t = 134044736000000000ull, y2017 = 131413536000000000ull;
  Config dialog(&crypto_), other(&crypto_);
  dialog.setFilePath(path("kvconfig.cfg"));
  ASSERT_EQ(0, dialog.setUsersConfig({sampleUser("alice")}));
  // Who saves (0 this dialog, 1 the other one, which read the file first), with a change or
  // not, at what clock; the time the file then holds.
  const std::tuple<int, bool, std::uint64_t, std::uint64_t> saves[] = {
      {0, true, t, t},
      {1, true, t + day, t + day},
      {0, true, t + 2 * day, t + 2 * day},
      {0, false, t + 3 * day, t + 2 * day},
      {1, true, t + 3 * day - day / 2, t + 3 * day - day / 2},
      {0, true, t - day, t + 3 * day - day / 2},
      {0, true, y2017, t + 3 * day - day / 2},
  };
  std::uint64_t lastAuth = 0;
  for (const auto& [who, change, now, stored] : saves) {
    SCOPED_TRACE(std::to_string(who) + " at " + std::to_string(now));
    clock.now = now;
    if (who == 1 && other.getFilePath().empty()) other = reread();
    Config& saver = who == 0 ? dialog : other;
    if (change) saver.setLastAuth(++lastAuth);
    ASSERT_EQ(0, saver.writeFile());
    EXPECT_EQ(stored, reread().getLastRun());
    EXPECT_EQ(stored, saver.getLastRun());
  }
  // A copy behind the file takes the file's later time when it reads a user again.
  Config stale = reread();
  stale.setLastRun(t);
  ASSERT_EQ(0, stale.reloadUser(0));
  EXPECT_EQ(t + 3 * day - day / 2, stale.getLastRun());
  Platform::setClock(nullptr);
}

namespace {

// A blob of the sample account (accountId "acct-1", integration key "integration-key-1") for the
// RFC 4226 secret, at `counter`; the same blob after the code of `counter` was accepted.
std::string hotpBlob(std::uint64_t counter) {
  AuthenticationSdk::Blob::Definition d;
  d.secret = {'1', '2', '3', '4', '5', '6', '7', '8', '9', '0', '1', '2', '3', '4', '5', '6', '7', '8', '9', '0'};
  d.counter = counter;
  std::string blob;
  EXPECT_EQ(0, AuthenticationSdk::Blob::create(d, "acct-1", "integration-key-1", blob));
  return blob;
}
std::uint64_t counterOf(const AuthenticatorRecord& record) {
  AuthenticationSdk::AuthenticatorInfo info;
  EXPECT_EQ(0, AuthenticationSdk::Blob::inspect(record.getBlob(), info));
  return info.counter;
}

}  // namespace

// Two dialogs change one user between their saves (the second read the file before the first
// saved): the second one's changes stand field by field, the first one's stay where the second
// changed nothing, and what guards a limit or a grant never goes back: a counter this machine
// moved (with the codes used here) is not undone by a synchronization the second one merged, the
// wrong codes counted and the block stay, a pass the first one ended stays ended.
TEST_F(ConcurrentSaveTest, TwoDialogsChangingOneUserKeepWhatGuardsALimit) {
  Config first(&crypto_);
  first.setFilePath(path("kvconfig.cfg"));
  first.setAccountId("acct-1");
  ASSERT_EQ(0, first.setServerConfig(sampleServerConfig()));
  UserConfig bob = sampleUser("bob");
  AuthenticatorRecord phone = sampleAuthenticator(10);
  phone.clearUsedHereFrom();
  ASSERT_EQ(0, phone.setBlob(hotpBlob(0)));
  ASSERT_EQ(0, bob.setAuthenticators({phone}));
  bob.setForgotTokenFailures(0);
  bob.setForgotTokenBlockedAt(0);
  bob.setOfflineCheckPending(false);
  bob.setFallbackExpiration(134000000000000000ull);
  ASSERT_EQ(0, first.setUsersConfig({bob, sampleUser("carol")}));
  ASSERT_EQ(0, first.writeFile());
  Config second = reread();

  // The first dialog: a code accepted here (counter 1, used from 0), two wrong forgot-token codes
  // and a block, a check pending, the pass ended.
  UserConfig changed = first.getUserConfig(0);
  AuthenticatorRecord advanced = phone;
  ASSERT_EQ(0, advanced.setBlob(hotpBlob(1)));
  advanced.setUsedHereFrom(0);
  ASSERT_EQ(0, changed.setAuthenticators({advanced}));
  changed.setForgotTokenFailures(2);
  changed.setForgotTokenBlockedAt(134000000000000007ull);
  changed.setOfflineCheckPending(true);
  changed.setFallbackExpiration(0);
  ASSERT_EQ(0, first.setUserConfig(0, changed));
  ASSERT_EQ(0, first.writeFile());

  // The second dialog, which has not seen that: a synchronization brought the service's blob
  // (counter 0, made anew) and a sign-in recorded the time, a remembered password, no wrong code,
  // the pass still running.
  UserConfig stale = second.getUserConfig(0);
  AuthenticatorRecord fromService = phone;
  ASSERT_EQ(0, fromService.setBlob(hotpBlob(0)));
  ASSERT_EQ(0, stale.setAuthenticators({fromService}));
  stale.setLastAuthTime(99);
  ASSERT_EQ(0, stale.setPassword("remembered"));
  stale.setForgotTokenFailures(1);
  stale.setFallbackExpiration(134000000000000009ull);
  ASSERT_EQ(0, second.setUserConfig(0, stale));
  ASSERT_EQ(0, second.writeFile());

  for (const Config& copy : {reread(), second}) {
    const UserConfig saved = copy.getUserConfig(static_cast<std::size_t>(copy.getUserIndex("bob")));
    ASSERT_EQ(1u, saved.getAuthenticators().size());
    EXPECT_EQ(1u, counterOf(saved.getAuthenticators()[0]));
    EXPECT_EQ(0u, saved.getAuthenticators()[0].getUsedHereFrom());
    EXPECT_EQ(2, saved.getForgotTokenFailures());
    EXPECT_EQ(134000000000000007ull, saved.getForgotTokenBlockedAt());
    EXPECT_TRUE(saved.getOfflineCheckPending());
    EXPECT_EQ(0u, saved.getFallbackExpiration());
    EXPECT_EQ(99u, saved.getLastAuthTime());
    EXPECT_EQ("remembered", saved.getPassword());
    EXPECT_GE(copy.getUserIndex("carol"), 0);
  }

  // A record read again from the file (reloadUser) descends from the file's: what the file had
  // then is no change of this copy's, so the other dialog's later changes stand. Here the other
  // dialog counts a third wrong code, this copy reads the record, then the other dialog's
  // accepted code lifts the count.
  Config third = reread();
  const std::size_t bobAt = static_cast<std::size_t>(third.getUserIndex("bob"));
  UserConfig counted = third.getUserConfig(bobAt);
  counted.setForgotTokenFailures(3);
  ASSERT_EQ(0, third.setUserConfig(bobAt, counted));
  ASSERT_EQ(0, third.writeFile());
  ASSERT_EQ(0, second.reloadUser(static_cast<std::size_t>(second.getUserIndex("bob"))));
  EXPECT_EQ(3, second.getUserConfig(static_cast<std::size_t>(second.getUserIndex("bob"))).getForgotTokenFailures());
  UserConfig accepted = third.getUserConfig(bobAt);
  accepted.setForgotTokenFailures(0);
  accepted.setForgotTokenBlockedAt(0);
  ASSERT_EQ(0, third.setUserConfig(bobAt, accepted));
  ASSERT_EQ(0, third.writeFile());
  second.setLastAuth(5);
  ASSERT_EQ(0, second.writeFile());
  const UserConfig lifted = reread().getUserConfig(static_cast<std::size_t>(reread().getUserIndex("bob")));
  EXPECT_EQ(0, lifted.getForgotTokenFailures());
  EXPECT_EQ(0u, lifted.getForgotTokenBlockedAt());

  // A pass granted anew on one side since stands against the other side's end of the old one.
  UserConfig granted = third.getUserConfig(bobAt);
  granted.setFallbackExpiration(134000000000000100ull);
  granted.setForgotTokenGrantedAt(134000000000000050ull);
  ASSERT_EQ(0, third.setUserConfig(bobAt, granted));
  ASSERT_EQ(0, third.writeFile());
  Config fourth = reread();
  UserConfig newer = fourth.getUserConfig(bobAt);
  newer.setFallbackExpiration(134000000000000200ull);
  newer.setForgotTokenGrantedAt(134000000000000060ull);
  ASSERT_EQ(0, fourth.setUserConfig(bobAt, newer));
  UserConfig endedThere = third.getUserConfig(bobAt);
  endedThere.setFallbackExpiration(0);
  endedThere.setForgotTokenGrantedAt(0);
  ASSERT_EQ(0, third.setUserConfig(bobAt, endedThere));
  ASSERT_EQ(0, third.writeFile());
  ASSERT_EQ(0, fourth.writeFile());
  const UserConfig kept = reread().getUserConfig(bobAt);
  EXPECT_EQ(134000000000000200ull, kept.getFallbackExpiration());
  EXPECT_EQ(134000000000000060ull, kept.getForgotTokenGrantedAt());
}

// The latest time stored comes back only by bringLastRunBack (a synchronization that found it
// read from a clock that ran ahead): another dialog that read the later time neither writes it
// again at its next save nor takes it again when it reads a user.
TEST_F(ConcurrentSaveTest, ALatestTimeBroughtBackIsNotTakenAgainFromAnotherDialog) {
  SettableClock clock;
  Platform::setClock(&clock);
  const std::uint64_t day = 864000000000ull, t = 134044736000000000ull;
  clock.now = t + 365 * day;
  Config ahead(&crypto_);
  ahead.setFilePath(path("kvconfig.cfg"));
  ASSERT_EQ(0, ahead.setUsersConfig({sampleUser("alice")}));
  ASSERT_EQ(0, ahead.writeFile());
  Config other = reread();
  clock.now = t;
  ahead.bringLastRunBack(t);
  ahead.setLastAuth(1);
  ASSERT_EQ(0, ahead.writeFile());
  EXPECT_EQ(t, reread().getLastRun());
  Config reading = other;
  ASSERT_EQ(0, reading.reloadUser(0));
  EXPECT_EQ(t, reading.getLastRun());
  clock.now = t + day;
  other.setLastAuth(2);
  ASSERT_EQ(0, other.writeFile());
  EXPECT_EQ(t + day, reread().getLastRun());
  Platform::setClock(nullptr);
}
