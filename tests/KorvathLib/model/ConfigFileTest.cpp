// The sealed configuration file: round trip, fallback to the backup, foreign key, torn
// writes, the named mutex and the file permissions.

#include <fstream>
#include <functional>
#include <thread>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "CryptoSdk/SecurityService.h"
#include "Korvath/Platform.h"
#include "Korvath/ResultCodes.h"
#include "ModelTestSupport.h"

using namespace Korvath;
using namespace KvModelTest;

namespace {

class ConfigFileTest : public TempRootTest {
 protected:
  Config registered() {
    Config c(&crypto_);
    c.setFilePath(path("kvconfig.cfg"));
    EXPECT_EQ(0, c.setRegion("eu1"));
    c.setAccountId("acct-1");
    c.setResourceId(77);
    EXPECT_EQ(0, c.setServerConfig(sampleServerConfig()));
    EXPECT_EQ(0, c.setUsersConfig({sampleUser("alice")}));
    return c;
  }
  std::string readText(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  void writeText(const std::string& p, const std::string& text) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << text;
  }
};

// The new text is written beside the file it replaces, never into it; only the replacement
// of the main file fails (the backup is written before it).
bool failingReplace(const std::string& from, const std::string& to) {
  EXPECT_EQ(to + ".tmp", from);
  if (to.find("bkp") == std::string::npos) return false;
  std::error_code ec;
  std::filesystem::rename(from, to, ec);
  return !ec;
}

}  // namespace

// The file is sealed under the key of this machine's secret, with a fresh IV at every save.
TEST_F(ConfigFileTest, WrittenFileReadsBackEqual) {
  Config c = registered();
  EXPECT_EQ(KV_ERROR_CONFIG_FILE_NOT_FOUND, c.readFile(path("kvconfig.cfg")));
  ASSERT_EQ(0, c.writeFile());
  const std::string sealed = readText(path("kvconfig.cfg"));
  std::vector<std::uint8_t> secret;
  ASSERT_TRUE(Platform::machineSecret(secret));
  CryptoSdk::SealKey machineKey, constantKey;
  ASSERT_EQ(0, CryptoSdk::AgentSecurityService::deriveConfigKey(secret, machineKey));
  ASSERT_EQ(0, CryptoSdk::AgentSecurityService::deriveConfigKey(std::vector<std::uint8_t>(32, 0), constantKey));
  std::string plain;
  ASSERT_EQ(0, CryptoSdk::AgentSecurityService::open(machineKey, sealed, plain));
  EXPECT_EQ(c.toJson(), plain);
  EXPECT_NE(0, CryptoSdk::AgentSecurityService::open(constantKey, sealed, plain));
  std::string again;
  ASSERT_EQ(0, crypto_.sealConfig(plain, again));
  EXPECT_NE(sealed, again);
  KvCrypto other;
  Config back(&other);
  ASSERT_EQ(0, back.readFile(path("kvconfig.cfg")));
  EXPECT_EQ(c.toJson(), back.toJson());
  EXPECT_FALSE(back.wasReadFromBackup());

  // Later saves write the users they did not change with the text of the save before: the file
  // still holds exactly the document, whichever user changed, was added or went.
  const std::function<void()> changes[] = {
      [&] { ASSERT_EQ(0, c.setUsersConfig({sampleUser("alice"), sampleUser("bob"), sampleUser("carol")})); },
      [&] {
        Model::UserConfig bob = c.getUserConfig(1);
        bob.setOfflineCheckPending(false);
        bob.setLastAuthTime(bob.getLastAuthTime() + 1);
        ASSERT_EQ(0, c.setUserConfig(1, bob));
      },
      [&] { ASSERT_EQ(0, c.setUsersConfig({sampleUser("carol"), sampleUser("alice")})); },
      [&] { c.setLastUser("carol"); }};
  for (const auto& change : changes) {
    change();
    ASSERT_EQ(0, c.writeFile());
    ASSERT_EQ(0, CryptoSdk::AgentSecurityService::open(machineKey, readText(path("kvconfig.cfg")), plain));
    EXPECT_EQ(c.toJson(), plain);
  }
}

TEST_F(ConfigFileTest, DamagedMainFileFallsBackToTheBackup) {
  Config c = registered();
  ASSERT_EQ(0, c.writeFile());
  const std::string first = readText(path("kvconfig.cfg"));
  ASSERT_EQ(0, c.setLastUser("alice"));
  ASSERT_EQ(0, c.writeFile());  // backup: first save; main: second save
  EXPECT_EQ(first, readText(path("kvconfigbkp.cfg")));
  std::string sealed = readText(path("kvconfig.cfg"));
  sealed[sealed.size() / 2] = sealed[sealed.size() / 2] == 'A' ? 'B' : 'A';
  writeText(path("kvconfig.cfg"), sealed);
  Config back = reread();
  EXPECT_EQ("", back.getLastUser()) << "the backup holds the first save";
  EXPECT_TRUE(back.wasReadFromBackup()) << "the caller is told that later saves may be lost";
  EXPECT_EQ(0, back.getUserIndex("alice"));
  // An empty main file (as a torn write would leave) falls back the same way.
  writeText(path("kvconfig.cfg"), "");
  Config again(&crypto_);
  EXPECT_EQ(0, again.readFile(path("kvconfig.cfg")));
}

TEST_F(ConfigFileTest, DamagedMainFileIsNotRotatedOverAGoodBackup) {
  Config c = registered();
  ASSERT_EQ(0, c.writeFile());
  ASSERT_EQ(0, c.writeFile());
  const std::string goodBackup = readText(path("kvconfigbkp.cfg"));
  writeText(path("kvconfig.cfg"), "garbage");
  ASSERT_EQ(0, c.writeFile());
  EXPECT_EQ(goodBackup, readText(path("kvconfigbkp.cfg")));
}

TEST_F(ConfigFileTest, FileSealedUnderAnotherKeyGives5005) {
  std::vector<std::uint8_t> otherSecret(32, 0x5A);
  CryptoSdk::SealKey otherKey;
  ASSERT_EQ(0, CryptoSdk::AgentSecurityService::deriveConfigKey(otherSecret, otherKey));
  std::string sealed;
  ASSERT_EQ(0, CryptoSdk::AgentSecurityService::seal(otherKey, registered().toJson(), sealed));
  writeText(path("kvconfig.cfg"), sealed);
  Config c(&crypto_);
  EXPECT_EQ(KV_ERROR_DECRYPT_CONFIG_FILE, c.readFile(path("kvconfig.cfg")));
  EXPECT_EQ(-1, c.getUserIndex("alice")) << "nothing was taken over";
}

TEST_F(ConfigFileTest, RefusedKeyGivesItsFillCodeAndKeepsTheConfiguration) {
  Config c = registered();
  std::string json = c.toJson();
  json.replace(json.find("\"eu1\""), 5, "\"e\"");
  std::string sealed;
  ASSERT_EQ(0, crypto_.sealConfig(json, sealed));
  writeText(path("kvconfig.cfg"), sealed);
  Config back(&crypto_);
  ASSERT_EQ(0, back.setMachineName("kept"));
  EXPECT_EQ(KV_ERROR_FILL_CONFIG_REGION_FROM_JSON, back.readFile(path("kvconfig.cfg")));
  EXPECT_EQ("kept", back.getMachineName());
}

TEST_F(ConfigFileTest, InterruptedReplaceLeavesThePreviousConfigurationReadable) {
  Config c = registered();
  ASSERT_EQ(0, c.writeFile());
  const std::string before = readText(path("kvconfig.cfg"));
  ASSERT_EQ(0, c.setUsersConfig({sampleUser("alice"), sampleUser("bob")}));
  ConfigFile::setReplaceFunction(failingReplace);
  EXPECT_EQ(KV_ERROR_WRITE_CONFIG_FILE, c.writeFile());
  ConfigFile::setReplaceFunction(nullptr);
  EXPECT_EQ(before, readText(path("kvconfig.cfg")));
  EXPECT_FALSE(std::filesystem::exists(path("kvconfig.cfg.tmp")));
  Config back = reread();
  EXPECT_EQ(0, back.getUserIndex("alice"));
  EXPECT_EQ(-1, back.getUserIndex("bob"));

  // A save that cannot even write its new text (a directory in the way of its temporary file)
  // leaves the backup as it was too.
  ConfigFile::setReplaceFunction(nullptr);
  ASSERT_EQ(0, c.writeFile());
  const std::string main = readText(path("kvconfig.cfg")), backup = readText(path("kvconfigbkp.cfg"));
  ASSERT_NE(main, backup);
  ASSERT_TRUE(std::filesystem::create_directory(path("kvconfig.cfg.tmp")));
  ASSERT_EQ(0, c.setUsersConfig({sampleUser("carol")}));
  EXPECT_EQ(KV_ERROR_WRITE_CONFIG_FILE, c.writeFile());
  EXPECT_EQ(main, readText(path("kvconfig.cfg")));
  EXPECT_EQ(backup, readText(path("kvconfigbkp.cfg")));
}

#if !defined(_WIN32)
TEST_F(ConfigFileTest, FilesHoldingSecretsAreOwnerOnly) {
  Config c = registered();
  ASSERT_EQ(0, c.writeFile());
  ASSERT_EQ(0, c.writeFile());
  for (const char* name : {"kvconfig.cfg", "kvconfigbkp.cfg"}) {
    struct stat st {};
    ASSERT_EQ(0, ::stat(path(name).c_str(), &st));
    EXPECT_EQ(0u, st.st_mode & 077u) << name;
  }
}

TEST_F(ConfigFileTest, SaveThatCannotTakeTheMutexFailsAndWritesNothing) {
  Config c = registered();
  Platform::NamedMutexLock held(Config::kMutexName, 1000);
  ASSERT_TRUE(held.acquired());
  // The lock is held by this thread's own handle; writeFile opens another and must wait it out.
  EXPECT_EQ(KV_ERROR_WRITE_CONFIG_FILE, c.writeFile());
  EXPECT_FALSE(std::filesystem::exists(path("kvconfig.cfg")));
  EXPECT_FALSE(std::filesystem::exists(path("kvconfig.cfg.tmp")));
}
#endif

TEST_F(ConfigFileTest, BackupPathInsertsBkpBeforeTheExtension) {
  EXPECT_EQ("/x/kvconfigbkp.cfg", Config::backupPathFor("/x/kvconfig.cfg"));
  EXPECT_EQ("/x.d/kvconfigbkp", Config::backupPathFor("/x.d/kvconfig"));
}

TEST_F(ConfigFileTest, InstallConfigurationRoundTripsThroughItsFile) {
  InstallConfig ic(&crypto_);
  EXPECT_EQ(KV_ERROR_INSTALL_CONFIG_FILE_NOT_FOUND, ic.readFile(path("install.cfg")));
  ASSERT_EQ(0, ic.fillFromJson(R"({"region":"eu1","environment":"staging","accountId":"acct-1","resourceId":77,)"
                               R"("integrationKey":"integration-key-1","allowUnknownUsers":0})"));
  ASSERT_EQ(0, ic.writeFile(path("install.cfg")));
  InstallConfig back(&crypto_);
  ASSERT_EQ(0, back.readFile(path("install.cfg")));
  EXPECT_EQ(ic.toJson(), back.toJson());
  writeText(path("install.cfg"), "not sealed");
  EXPECT_EQ(KV_ERROR_DECRYPT_CONFIG_FILE, back.readFile(path("install.cfg")));
}

TEST_F(ConfigFileTest, PathsAreUtf8) {
  const std::string dir = (dir_ / std::filesystem::u8path(u8"Se\u00f1or")).u8string();
  ASSERT_TRUE(std::filesystem::create_directory(std::filesystem::u8path(dir)));
  Config c = registered();
  c.setFilePath(dir + "/kvconfig.cfg");
  ASSERT_EQ(0, c.writeFile());
  ASSERT_EQ(0, c.writeFile());
  Config back(&crypto_);
  ASSERT_EQ(0, back.readFile(dir + "/kvconfig.cfg"));
  EXPECT_EQ(c.toJson(), back.toJson());
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::u8path(dir + "/kvconfigbkp.cfg")));
}
