#include "ServicesTestSupport.h"

#include <cstdio>

#include "Korvath/HttpsExchange.h"
#include "Korvath/InstallConfig.h"
#include "Korvath/Platform.h"
#include "Korvath/RequestId.h"
#include "Korvath/Service/KvServiceQRCode.h"

using Korvath::Model::UserConfig;
using namespace Korvath::Service;

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
  configPath_ = dir_.file("kvconfig.cfg");
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

void ServiceTestBase::writeConfigFile(const std::vector<UserConfig>& users, std::int32_t resourceId,
                                      const std::string& masterPassword, std::uint8_t allowUnknownUsers,
                                      std::uint64_t syncIntervalHours) {
  Korvath::KvCrypto crypto;
  Korvath::Config config(&crypto);
  BizCoreTest::fillSimConfig(config, Korvath::Platform::configFilePath());
  config.setResourceId(resourceId);
  config.setAccountAlias("Simulated Account");
  config.setResourceAlias("Simulated Desktop");
  config.setMasterPassword(masterPassword);
  config.setLastSync(clock_.nowFileTime());
  config.setLastRun(clock_.nowFileTime());
  Korvath::ServerConfig server = config.getServerConfig();
  server.setAllowUnknownUsers(allowUnknownUsers);
  server.setSyncInterval(syncIntervalHours);
  ASSERT_EQ(0, config.setServerConfig(server));
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

void ServiceTestBase::start(KvService& service) {
  std::uint16_t type = 0;
  std::string response;
  ASSERT_EQ(0, service.initialize(type, response).getResultCode());
}

void ServiceTestBase::serve(const std::vector<UserConfig>& users) {
  for (const std::string& path : {configPath_, Korvath::Config::backupPathFor(configPath_)}) std::remove(path.c_str());
  Korvath::Config& config = service_.getConfig();
  BizCoreTest::fillSimConfig(config, configPath_);
  ASSERT_EQ(0, config.setUsersConfig(users));
  config.setLastSync(clock_.nowFileTime());
  service_.getKvBusiness() = Korvath::Business::KvBusiness(&config, &service_.getKvCrypto());
  setServerFlags(1, 1, 1);
}

UserConfig ServiceTestBase::saved(const std::string& login) {
  Korvath::KvCrypto crypto;
  Korvath::Config back;
  if (BizCoreTest::readBack(configPath_, crypto, back) != 0) return UserConfig();
  const int index = back.getUserIndex(login);
  return index < 0 ? UserConfig() : back.getUsersConfig().at(static_cast<std::size_t>(index));
}

ServiceResponseAuthQRCode ServiceTestBase::offlineCommand(const std::string& login) {
  const std::atomic<bool> offline{false};
  EXPECT_EQ(0, KvServiceQRCode(&service_, &offline).genCmdQRCode(baseRequest(login), type_, response_).getResultCode());
  EXPECT_EQ(4, type_);
  return parsed<ServiceResponseAuthQRCode>(response_);
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

void ServiceSimTestBase::fault(const std::string& json) { ASSERT_TRUE(sim_->fault(json)) << sim_->lastError(); }

std::vector<CloudTest::Recorded> ServiceSimTestBase::recorded(const std::string& part) {
  std::vector<CloudTest::Recorded> all, matching;
  EXPECT_TRUE(sim_->requests(all)) << sim_->lastError();
  for (const CloudTest::Recorded& r : all) {
    if (r.path.size() >= part.size() && r.path.compare(r.path.size() - part.size(), part.size(), part) == 0) {
      matching.push_back(r);
    }
  }
  return matching;
}

UserConfig user(const std::string& login, bool push, bool qrcode, bool otp, const std::string& lastAuthType,
                const std::vector<Korvath::Model::AuthenticatorRecord>& authenticators) {
  UserConfig u = BizCoreTest::makeUser(login, push, qrcode, otp, login + "@corp.example");
  u.setLastAuthType(lastAuthType);
  u.setHasPolicy(true);
  u.setPolicyAllowsAuthentication(true);
  EXPECT_EQ(0, u.setAuthenticators(authenticators));
  return u;
}

std::string enabledFactors(const Korvath::Model::AuthFactorMap& factors) {
  std::string names;
  for (const auto& [factor, on] : factors) names += on ? (names.empty() ? "" : " ") + factor : "";
  return names;
}

std::string wrongCode(const std::string& right) { return right == "000000" ? "111111" : "000000"; }

ServiceRequestBase baseRequest(const std::string& login) {
  ServiceRequestBase request;
  EXPECT_EQ(0, request.setUserLogin(login));
  return request;
}

ServiceRequestAuthOTP otpRequest(const std::string& login, const std::string& code) {
  ServiceRequestAuthOTP request;
  EXPECT_EQ(0, request.setUserLogin(login));
  request.setAuthData(code);
  return request;
}

ServiceRequestAuthQRCode qrRequest(const std::string& login, const std::string& code,
                                   const ServiceResponseAuthQRCode& shown, bool onLine) {
  ServiceRequestAuthQRCode request;
  EXPECT_EQ(0, request.setUserLogin(login));
  request.setAuthData(code);
  request.setCommand(shown.getCommand());
  EXPECT_EQ(0, request.setTransactionId(shown.getTransactionId()));
  EXPECT_EQ(0, request.setTransactionData(shown.getTransactionData()));
  request.setOnLine(onLine);
  return request;
}

ServiceRequestActiveForgotAuthenticator activationRequest(const std::string& login, std::uint32_t hours,
                                                          const std::string& challenge, const std::string& code) {
  ServiceRequestActiveForgotAuthenticator request;
  EXPECT_EQ(0, request.setUserLogin(login));
  request.setTime(hours);
  request.setChallenge(challenge);
  request.setAuthData(code);
  return request;
}

}  // namespace ServicesTest
