// Two processes saving in a loop at once lose no user: each save merges what the other
// process saved in the meantime. Under Wine this is also what shows the named mutex excluding
// another process (a mutex that lets both in loses users here at once).

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <string>

#if defined(_WIN32)
#include <process.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

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
