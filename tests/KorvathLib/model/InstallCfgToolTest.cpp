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
  InstallConfig ic(&crypto_);
  ASSERT_EQ(0, ic.readFile());
  EXPECT_EQ(R"({"region":"eu1","environment":"qa","accountId":"acct-9","resourceId":4294967295,)"
            R"("integrationKey":"integration-key-9","allowUnknownUsers":1})",
            ic.toJson());
}

TEST_F(InstallCfgToolTest, RefusesValuesTheAgentWouldRefuse) {
  std::string base = std::string(KV_INSTALLCFG_PATH) + " --environment prod --account-id a --resource-id 1 ";
  EXPECT_NE(0, std::system((base + "--region eu 2> /dev/null").c_str()));
  EXPECT_NE(0, std::system((base + "--region eu1 --integration-key ab 2> /dev/null").c_str()));
  EXPECT_NE(0, std::system((std::string(KV_INSTALLCFG_PATH) +
                            " --region eu1 --environment live --account-id a --resource-id 1 2> /dev/null")
                               .c_str()));
  InstallConfig ic(&crypto_);
  EXPECT_EQ(KV_ERROR_INSTALL_CONFIG_FILE_NOT_FOUND, ic.readFile());
}
