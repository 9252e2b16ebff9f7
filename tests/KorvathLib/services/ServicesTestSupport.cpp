#include "ServicesTestSupport.h"

#include <cstdio>

#include "Korvath/InstallConfig.h"
#include "Korvath/Platform.h"
#include "Korvath/RequestId.h"

namespace ServicesTest {

namespace {
void removeAgentFiles() {
  for (const std::string& path : {Korvath::Platform::configFilePath(), Korvath::Platform::configBackupFilePath(),
                                  Korvath::Platform::installConfigFilePath()}) {
    if (!path.empty()) std::remove(path.c_str());
  }
}
}  // namespace

void ServiceTestBase::SetUp() {
  Korvath::Platform::setAgentRegistry(&registry_);
  Korvath::Platform::setClock(&clock_);
  Korvath::clearRequestId();
  pointAt(CloudTest::closedPort());
  removeAgentFiles();
}

void ServiceTestBase::TearDown() {
  removeAgentFiles();
  Korvath::Platform::setAgentRegistry(nullptr);
  Korvath::Platform::setClock(nullptr);
}

void ServiceTestBase::pointAt(std::uint16_t port) {
  registry_.values["DesktopLogonHostPrefix"] = "";
  registry_.values["PolicyHostPrefix"] = "";
  registry_.values["DomainSuffix"] = "";
  registry_.values["Port"] = std::to_string(port);
}

void ServiceTestBase::writeConfigFile(const std::vector<Korvath::Model::UserConfig>& users, std::int32_t resourceId,
                                      const std::string& masterPassword) {
  Korvath::KvCrypto crypto;
  Korvath::Config config(&crypto);
  BizCoreTest::fillSimConfig(config, Korvath::Platform::configFilePath());
  config.setResourceId(resourceId);
  config.setAccountAlias("Simulated Account");
  config.setResourceAlias("Simulated Desktop");
  config.setMasterPassword(masterPassword);
  config.setLastSync(clock_.nowFileTime());
  config.setLastRun(clock_.nowFileTime());
  ASSERT_EQ(0, config.setUsersConfig(users));
  ASSERT_EQ(0, config.writeFile());
}

void ServiceTestBase::writeInstallConfig() {
  Korvath::KvCrypto crypto;
  Korvath::InstallConfig install(&crypto);
  ASSERT_EQ(0, install.setRegion("localhost"));
  ASSERT_EQ(0, install.setEnvironment("prod"));
  install.setAccountId(BizCoreTest::kAccountId);
  install.setResourceId(static_cast<std::uint32_t>(BizCoreTest::kResourceId));
  ASSERT_EQ(0, install.setIntegrationKey(BizCoreTest::kIntegrationKey));
  ASSERT_EQ(0, install.writeFile());
}

Korvath::Config ServiceTestBase::readConfigFile() {
  Korvath::Config back;
  EXPECT_EQ(0, BizCoreTest::readBack(Korvath::Platform::configFilePath(), crypto_, back));
  return back;
}

void ServiceTestBase::fillService(Korvath::Service::KvService& service,
                                  const std::vector<Korvath::Model::UserConfig>& users) {
  Korvath::Config& config = service.getConfig();
  BizCoreTest::fillSimConfig(config, dir_.file("kvconfig.cfg"));
  ASSERT_EQ(0, config.setUsersConfig(users));
  service.getKvBusiness() = Korvath::Business::KvBusiness(&config, &service.getKvCrypto());
}

Korvath::Model::UserConfig user(const std::string& login, bool push, bool qrcode, bool otp,
                                const std::string& lastAuthType) {
  Korvath::Model::UserConfig u = BizCoreTest::makeUser(login, push, qrcode, otp, login + "@corp.example");
  u.setLastAuthType(lastAuthType);
  u.setHasPolicy(true);
  u.setPolicyAllowsAuthentication(true);
  return u;
}

}  // namespace ServicesTest
