#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "Korvath/Platform.h"
#include "TestSupport.h"

using namespace Korvath::Platform;

namespace {
const char* const kTestValue = "KvFoundationsTestValue";
}

TEST(Registry, SetGetDeleteRoundTrip) {
  IRegistry& reg = agentRegistry();
  reg.deleteValue(kTestValue);
  std::string value = "unchanged";
  EXPECT_FALSE(reg.getString(kTestValue, value));
  ASSERT_TRUE(reg.setString(kTestValue, "enabled"));
  ASSERT_TRUE(reg.getString(kTestValue, value));
  EXPECT_EQ(value, "enabled");
  ASSERT_TRUE(reg.setString(kTestValue, "caf\xc3\xa9 \xe2\x82\xac"));  // non-ASCII survives
  ASSERT_TRUE(reg.getString(kTestValue, value));
  EXPECT_EQ(value, "caf\xc3\xa9 \xe2\x82\xac");
  ASSERT_TRUE(reg.setString(kTestValue, ""));
  ASSERT_TRUE(reg.getString(kTestValue, value));
  EXPECT_EQ(value, "");
  EXPECT_TRUE(reg.deleteValue(kTestValue));
  EXPECT_FALSE(reg.getString(kTestValue, value));
  EXPECT_FALSE(reg.deleteValue(kTestValue));
}

TEST(Registry, ReplacementIsUsedAndRestored) {
  KvTest::MemoryRegistry memory;
  {
    KvTest::ScopedRegistry scoped(memory);
    ASSERT_TRUE(agentRegistry().setString("Log", "enabled"));
  }
  std::string value;
  EXPECT_TRUE(memory.getString("Log", value));
  agentRegistry().deleteValue(kTestValue);
  EXPECT_FALSE(agentRegistry().getString(kTestValue, value));
}

#ifndef _WIN32
TEST(Registry, NativeStoreRefusesEscapingNames) {
  IRegistry& reg = agentRegistry();
  EXPECT_FALSE(reg.setString("../escape", "x"));
  EXPECT_FALSE(reg.setString("", "x"));
  EXPECT_FALSE(reg.setString("..", "x"));
}

TEST(Registry, NativeStoreWithoutRootFails) {
  const std::string root = KvTest::testRoot();
  ::unsetenv("KORVATH_ROOT");
  std::string value;
  EXPECT_FALSE(agentRegistry().setString("Log", "enabled"));
  EXPECT_FALSE(agentRegistry().getString("Log", value));
  EXPECT_EQ(configFilePath(), "");
  ::setenv("KORVATH_ROOT", root.c_str(), 1);
}
#endif

TEST(NamedMutex, SecondHolderTimesOutWhileFirstHolds) {
  NamedMutexLock first("Global\\KV_TEST_MUTEX_A", 1000);
  ASSERT_TRUE(first.acquired());
  // Windows mutexes are re-entrant for their owner thread, so the contender runs elsewhere.
  std::atomic<int> secondAcquired{-1};
  std::thread contender([&] {
    NamedMutexLock second("Global\\KV_TEST_MUTEX_A", 50);
    secondAcquired = second.acquired() ? 1 : 0;
  });
  contender.join();
  EXPECT_EQ(secondAcquired.load(), 0);
}

TEST(NamedMutex, WaiterGetsLockWhenReleased) {
  std::atomic<bool> holding{false};
  std::atomic<bool> release{false};
  std::thread holder([&] {
    NamedMutexLock lock("Global\\KV_TEST_MUTEX_B", 1000);
    holding = lock.acquired();
    while (!release) std::this_thread::yield();
  });
  while (!holding) std::this_thread::yield();
  std::thread releaser([&] { release = true; });
  NamedMutexLock waiter("Global\\KV_TEST_MUTEX_B", 10000);
  EXPECT_TRUE(waiter.acquired());
  releaser.join();
  holder.join();
}

TEST(NamedMutex, ExcludesWritersAcrossThreads) {
  // Two threads increment a counter stored in a file under the lock; nothing may be lost.
  const std::string path = windowsDirectory() + "/kv-mutex-counter.txt";
  { std::ofstream(path) << 0; }
  auto work = [&] {
    for (int i = 0; i < 50; ++i) {
      NamedMutexLock lock("Global\\KV_TEST_MUTEX_C", 10000);
      ASSERT_TRUE(lock.acquired());
      int n = 0;
      { std::ifstream(path) >> n; }
      { std::ofstream(path) << n + 1; }
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  int n = 0;
  std::ifstream(path) >> n;
  EXPECT_EQ(n, 100);
  std::remove(path.c_str());
}

TEST(Paths, LaidOutUnderWindowsDirectory) {
  const std::string w = windowsDirectory();
  ASSERT_FALSE(w.empty());
  EXPECT_EQ(configFilePath(), w + "/system32/drivers/etc/kvconfig.cfg");
  EXPECT_EQ(configBackupFilePath(), w + "/system32/drivers/etc/kvconfigbkp.cfg");
  EXPECT_EQ(installConfigFilePath(), w + "/system32/kvconfig.cfg");
#ifdef _WIN32
  EXPECT_EQ(logFilePath(), "C:/PelloraAgentForWindows.log");
#else
  EXPECT_EQ(w, KvTest::testRoot() + "/Windows");
  EXPECT_EQ(logFilePath(), KvTest::testRoot() + "/PelloraAgentForWindows.log");
  struct stat st;
  EXPECT_EQ(::stat((w + "/system32/drivers/etc").c_str(), &st), 0);
#endif
}

TEST(Clock, SystemClockAgreesWithItself) {
  IClock& c = Korvath::Platform::clock();
  const std::int64_t unixMs = c.nowUnixMs();
  const std::uint64_t ft = c.nowFileTime();
  EXPECT_GT(unixMs, 1600000000000LL);
  const std::int64_t ftAsUnix = static_cast<std::int64_t>(ft / 10000ULL) - 11644473600000LL;
  EXPECT_LT(std::llabs(ftAsUnix - unixMs), 5000);
  const std::int64_t m1 = c.monotonicMs();
  const std::int64_t m2 = c.monotonicMs();
  EXPECT_GE(m2, m1);
}

TEST(Clock, ReplacementIsUsed) {
  KvTest::FakeClock fake;
  {
    KvTest::ScopedClock scoped(fake);
    fake.setUnixMs(0);
    EXPECT_EQ(Korvath::Platform::clock().nowFileTime(), 116444736000000000ULL);
    Korvath::Platform::clock().sleepMs(250);
    EXPECT_EQ(Korvath::Platform::clock().nowUnixMs(), 250);
  }
  EXPECT_GT(Korvath::Platform::clock().nowUnixMs(), 1600000000000LL);
}

TEST(MachineSecret, StableAndRandom) {
  std::vector<std::uint8_t> a, b;
  ASSERT_TRUE(machineSecret(a));
  ASSERT_TRUE(machineSecret(b));
  EXPECT_EQ(a.size(), 32u);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, std::vector<std::uint8_t>(32, 0));
#ifndef _WIN32
  struct stat st;
  ASSERT_EQ(::stat((KvTest::testRoot() + "/machine.key").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
#endif
}

TEST(RandomBytes, Differ) {
  std::uint8_t a[32] = {}, b[32] = {};
  ASSERT_TRUE(randomBytes(a, sizeof a));
  ASSERT_TRUE(randomBytes(b, sizeof b));
  EXPECT_NE(std::memcmp(a, b, sizeof a), 0);
}

TEST(RestrictFile, AppliesToExistingFile) {
  const std::string path = windowsDirectory() + "/kv-restrict.txt";
  { std::ofstream(path) << "secret"; }
  EXPECT_TRUE(restrictFileToOwner(path));
#ifndef _WIN32
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
#endif
  std::remove(path.c_str());
  EXPECT_FALSE(restrictFileToOwner(path));
}
