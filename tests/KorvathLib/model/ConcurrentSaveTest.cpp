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

#include "Korvath/Platform.h"
#include "Korvath/ResultCodes.h"
#include "ModelTestSupport.h"

using namespace Korvath;
using namespace KvModelTest;

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
