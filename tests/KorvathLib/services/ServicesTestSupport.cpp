#include "ServicesTestSupport.h"

#include <cstdio>

#include "Korvath/HttpsExchange.h"
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

void ServiceSimTestBase::SetUp() {
  ServiceTestBase::SetUp();
  port_ = CloudTest::portFromFileNamedBy("KV_CLOUDSIM_PORT_FILE");
  ASSERT_NE(port_, 0) << "KV_CLOUDSIM_PORT_FILE does not name the simulator's port file";
  const std::string ca = CloudTest::environmentValue("KV_TEST_CA_FILE");
  ASSERT_FALSE(ca.empty()) << "KV_TEST_CA_FILE is not set";
  Korvath::Cloud::HttpsExchange::addTrustAnchorFile(ca);
  pointAt(port_);
  sim_.reset(new CloudTest::SimControl(port_));
  ASSERT_TRUE(sim_->reset()) << sim_->lastError();
}

void ServiceSimTestBase::reply(const std::string& route, int status, const std::string& json, unsigned count) {
  ASSERT_TRUE(sim_->reply(route, status, json, count)) << sim_->lastError();
}

std::vector<CloudTest::Recorded> ServiceSimTestBase::recorded() {
  std::vector<CloudTest::Recorded> records;
  EXPECT_TRUE(sim_->requests(records)) << sim_->lastError();
  return records;
}

std::vector<CloudTest::Recorded> ServiceSimTestBase::recorded(const std::string& part) {
  std::vector<CloudTest::Recorded> matching;
  for (const CloudTest::Recorded& r : recorded()) {
    if (r.path.size() >= part.size() && r.path.compare(r.path.size() - part.size(), part.size(), part) == 0) {
      matching.push_back(r);
    }
  }
  return matching;
}

std::vector<Korvath::Model::RequestGetUserPolicy> ServiceSimTestBase::policyRequests() {
  std::vector<Korvath::Model::RequestGetUserPolicy> requests;
  for (const CloudTest::Recorded& r : recorded("/policy")) {
    Korvath::Model::RequestGetUserPolicy request;
    EXPECT_TRUE(r.hasOpened) << r.path;
    EXPECT_EQ(0, request.fillFromJson(r.opened)) << r.opened;
    requests.push_back(request);
  }
  return requests;
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
