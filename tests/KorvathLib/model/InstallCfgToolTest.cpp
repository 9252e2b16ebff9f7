// The installer stand-in writes an install configuration that the agent reads back.

#include <cstdlib>

#include "Korvath/Platform.h"
#include "Korvath/ResultCodes.h"
#include "ModelTestSupport.h"

using namespace Korvath;

class InstallCfgToolTest : public KvModelTest::TempRootTest {};

TEST_F(InstallCfgToolTest, WritesASealedInstallConfigurationTheAgentReads) {
  std::string command = std::string(KV_INSTALLCFG_PATH) +
                        " --region eu1 --environment qa --account-id acct-9 --resource-id 4294967295"
                        " --integration-key integration-key-9 --allow-unknown-users 1 > /dev/null";
  ASSERT_EQ(0, std::system(command.c_str()));
  KvCrypto crypto;
  InstallConfig ic(&crypto);
  ASSERT_EQ(0, ic.readFile());
  EXPECT_EQ("eu1", ic.getRegion());
  EXPECT_EQ("qa", ic.getEnvironment());
  EXPECT_EQ("acct-9", ic.getAccountId());
  EXPECT_EQ(4294967295u, ic.getResourceId());
  EXPECT_EQ("integration-key-9", ic.getIntegrationKey());
  EXPECT_EQ(1, ic.getAllowUnknownUsers());
}

TEST_F(InstallCfgToolTest, RefusesValuesTheAgentWouldRefuse) {
  std::string base = std::string(KV_INSTALLCFG_PATH) + " --environment prod --account-id a --resource-id 1 ";
  EXPECT_NE(0, std::system((base + "--region eu 2> /dev/null").c_str()));
  EXPECT_NE(0, std::system((base + "--region eu1 --integration-key ab 2> /dev/null").c_str()));
  EXPECT_NE(0, std::system((std::string(KV_INSTALLCFG_PATH) +
                            " --region eu1 --environment live --account-id a --resource-id 1 2> /dev/null").c_str()));
  KvCrypto crypto;
  InstallConfig ic(&crypto);
  EXPECT_EQ(KV_ERROR_INSTALL_CONFIG_FILE_NOT_FOUND, ic.readFile());
}
