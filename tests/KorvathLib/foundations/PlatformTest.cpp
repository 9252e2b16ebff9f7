#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
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

// Values round-trip (non-ASCII and empty ones too) through the flavour's own store.
TEST(Registry, SetGetDeleteRoundTrip) {
  IRegistry& reg = agentRegistry();
  reg.deleteValue(kTestValue);
  std::string value = "unchanged";
  EXPECT_FALSE(reg.getString(kTestValue, value));
  for (const char* text : {"enabled", "caf\xc3\xa9 \xe2\x82\xac", ""}) {
    ASSERT_TRUE(reg.setString(kTestValue, text));
    ASSERT_TRUE(reg.getString(kTestValue, value));
    EXPECT_EQ(value, text);
  }
  EXPECT_TRUE(reg.deleteValue(kTestValue));
  EXPECT_FALSE(reg.getString(kTestValue, value));
  EXPECT_FALSE(reg.deleteValue(kTestValue));
}

#ifndef _WIN32
// Names that would leave the store are refused; without KORVATH_ROOT nothing is written.
TEST(Registry, NativeStoreStaysInsideItsRoot) {
  IRegistry& reg = agentRegistry();
  for (const char* name : {"../escape", "", ".."}) EXPECT_FALSE(reg.setString(name, "x")) << name;
  const std::string root = KvTest::testRoot();
  ::unsetenv("KORVATH_ROOT");
  std::string value;
  EXPECT_FALSE(agentRegistry().setString("Log", "enabled"));
  EXPECT_FALSE(agentRegistry().getString("Log", value));
  EXPECT_EQ(configFilePath(), "");
  ::setenv("KORVATH_ROOT", root.c_str(), 1);
}
#endif

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
}

TEST(MachineSecret, StableRandomAndOwnerOnly) {
  std::vector<std::uint8_t> a, b;
  ASSERT_TRUE(machineSecret(a));
  ASSERT_TRUE(machineSecret(b));
  EXPECT_EQ(a.size(), 32u);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, std::vector<std::uint8_t>(32, 0));
  // Files holding secrets are the owner's only (under Wine the provider's log test reads the
  // DACL this gives the log file); a missing file cannot be restricted.
  const std::string path = windowsDirectory() + "/kv-restrict.txt";
  { std::ofstream(path) << "secret"; }
  EXPECT_TRUE(restrictFileToOwner(path));
#ifndef _WIN32
  for (const std::string& file : {KvTest::testRoot() + "/machine.key", path}) {
    struct stat st;
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << file;
  }
#endif
  std::remove(path.c_str());
  EXPECT_FALSE(restrictFileToOwner(path));
}
