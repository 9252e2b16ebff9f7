// KvBusiness without the cloud service: the user view, the factor choice, the authenticator
// states, the stored per-user options, the user-record saves, the logon-disabled state, the
// clock-rollback guard and every check that ends an operation before a request. Where an
// operation would talk to the service, the deployment points at a closed loopback port, so a
// request that went out would show as a connectivity code.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "BizCoreTestSupport.h"
#include "CloudTestSupport.h"
#include "Korvath/Business/KvBusiness.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/WindowsFacts.h"

using namespace BizCoreTest;
using Korvath::Business::KvBusiness;
using Korvath::Model::AuthenticatorRecord;
using Korvath::Model::UserConfig;
using Korvath::Service::ServiceResponseBase;

namespace {

class KvBusinessLogic : public ::testing::Test {
 protected:
  void SetUp() override {
    Korvath::Platform::setClock(&clock_);
    registry_.values = {{"DesktopLogonHostPrefix", ""},
                        {"PolicyHostPrefix", ""},
                        {"DomainSuffix", ""},
                        {"Port", std::to_string(CloudTest::closedPort())}};
    Korvath::Platform::setAgentRegistry(&registry_);
    configPath_ = dir_.file("kvconfig.cfg");
    fillSimConfig(config_, configPath_);
    business_ = KvBusiness(&config_, &crypto_, "10.1.2.3");
  }
  void TearDown() override {
    Korvath::Platform::setAgentRegistry(nullptr);
    Korvath::Platform::setClock(nullptr);
  }

  void store(const std::vector<UserConfig>& users) { ASSERT_EQ(0, config_.setUsersConfig(users)); }
  UserConfig stored(const std::string& login) {
    const int index = config_.getUserIndex(login);
    EXPECT_GE(index, 0) << login;
    return config_.getUsersConfig().at(static_cast<std::size_t>(index < 0 ? 0 : index));
  }
  bool fileExists() { return std::filesystem::exists(configPath_); }
  Korvath::Config readBackConfig() {
    Korvath::Config back;
    EXPECT_EQ(0, readBack(configPath_, crypto_, back));
    return back;
  }

  FakeClock clock_;
  CloudTest::MapRegistry registry_;
  TempDir dir_;
  std::string configPath_;
  Korvath::KvCrypto crypto_;
  Korvath::Config config_{&crypto_};
  KvBusiness business_;
};

// ------------------------------------------------------------------------- user view

TEST_F(KvBusinessLogic, LastFactorSwitchedOffStartsWithPasswordNotTheNextFactor) {
  UserConfig user = makeUser("alice", false, false, true);
  ASSERT_EQ(0, user.setLastAuthType("push"));
  EXPECT_EQ("password", business_.getInitialAuthFactor(user));
  ASSERT_EQ(0, user.setLastAuthType(""));
  EXPECT_EQ("otp", business_.getInitialAuthFactor(user));
  UserConfig all = makeUser("x", true, true, true);
  ASSERT_EQ(0, all.setLastAuthType("password"));
  EXPECT_EQ("password", business_.getInitialAuthFactor(all));
  EXPECT_EQ("password", business_.getAuthFactor("password", makeUser("x", true, true, true)));
  EXPECT_EQ("qrcode", business_.getAuthFactor("qrcode", makeUser("x", true, true, true)));
}

TEST_F(KvBusinessLogic, FactorTestsAreExactAndNeedTheFactorEnabled) {
  const UserConfig all = makeUser("x", true, true, true);
  EXPECT_TRUE(business_.isAuthFactorPush("push", all));
  EXPECT_FALSE(business_.isAuthFactorPush("PUSH", all));
  EXPECT_FALSE(business_.isAuthFactorPush("push ", all));
  EXPECT_FALSE(business_.isAuthFactorQRCode("push", all));
  EXPECT_FALSE(business_.isAuthFactorOTP("otp", makeUser("x", true, true, false)));
  UserConfig missing;
  missing.setUserLogin("m");
  missing.setAuthTypes({{"qrcode", true}});
  EXPECT_FALSE(business_.isAuthFactorPush("push", missing));
  EXPECT_EQ("qrcode", business_.getPredominantAuthFactor(missing));
  EXPECT_EQ("push", business_.getPredominantAuthFactor(all));
  EXPECT_EQ("password", business_.getPredominantAuthFactor(makeUser("x", false, false, false)));
  const Korvath::Model::AuthFactorMap defaults = business_.getDefaultAuthFactors();
  EXPECT_EQ((Korvath::Model::AuthFactorMap{{"otp", true}, {"qrcode", true}, {"push", true}}), defaults);
}

TEST_F(KvBusinessLogic, ResponseTypeOfAFactor) {
  EXPECT_EQ(4, business_.genResponseType("qrcode"));
  EXPECT_EQ(2, business_.genResponseType("otp"));
  EXPECT_EQ(5, business_.genResponseType("push"));
  EXPECT_EQ(5, business_.genResponseType("QRCODE"));
  EXPECT_EQ(5, business_.genResponseType("password"));
  EXPECT_EQ(5, business_.genResponseType(""));
}

TEST_F(KvBusinessLogic, UserWithEveryFactorOffGetsPushAsLastTypeAndItsOwnMap) {
  UserConfig user = makeUser("carol", false, false, false);
  user.setAutoSendPush(false);
  user.setPolicyAllowsAuthentication(false);
  store({user});
  ServiceResponseBase response;
  ASSERT_EQ(0, business_.loadUserConfig("carol", response));
  EXPECT_EQ("carol", response.getUserLogin());
  EXPECT_EQ("push", response.getLastAuthType());
  EXPECT_EQ((Korvath::Model::AuthFactorMap{{"otp", false}, {"qrcode", false}, {"push", false}}),
            response.getAuthTypes());
  EXPECT_FALSE(response.getAutoSendPush());
  EXPECT_FALSE(response.getPolicyAllowsAuthentication());
}

TEST_F(KvBusinessLogic, RememberedPasswordOnlyWhenTheServiceAllowsIt) {
  UserConfig user = makeUser("alice", false, true, true, "alice@sim.example");
  ASSERT_EQ(0, user.setPassword("pa ss\"word"));
  ASSERT_EQ(0, user.setLastAuthType("qrcode"));
  store({user});
  Korvath::ServerConfig server = config_.getServerConfig();
  server.setEnableRememberPassword(0);
  server.setEnableForgotAuthenticator(0);
  ASSERT_EQ(0, config_.setServerConfig(server));

  ServiceResponseBase off;
  ASSERT_EQ(0, business_.loadUserConfig("ALICE@sim.example", off));
  EXPECT_EQ("", off.getUserPassword());
  EXPECT_FALSE(off.getCheckRememberPassword());
  EXPECT_FALSE(off.getEnableRememberPassword());
  EXPECT_FALSE(off.getEnableForgotAuthenticator());
  EXPECT_EQ("qrcode", off.getLastAuthType());

  server.setEnableRememberPassword(1);
  ASSERT_EQ(0, config_.setServerConfig(server));
  ServiceResponseBase on;
  ASSERT_EQ(0, business_.loadUserConfig("alice", on));
  EXPECT_EQ("pa ss\"word", on.getUserPassword());
  EXPECT_TRUE(on.getCheckRememberPassword());
  EXPECT_TRUE(on.getEnableRememberPassword());
  EXPECT_TRUE(on.getPolicyAllowsAuthentication());
}

TEST_F(KvBusinessLogic, UnknownUserLeavesTheResponseUntouched) {
  store({makeUser("alice", true, true, true)});
  ServiceResponseBase response;
  const std::string before = response.toJson();
  EXPECT_EQ(5103, business_.loadUserConfig("bob", response));
  EXPECT_EQ(before, response.toJson());
}

TEST_F(KvBusinessLogic, ResponseBaseSkipsRefusedValues) {
  ServiceResponseBase response;
  EXPECT_EQ(0, business_.genResponseBase(std::string(101, 'a'), std::string(301, 'p'), false, "password",
                                         {{"otp", true}}, false, response));
  EXPECT_EQ("", response.getUserLogin());
  EXPECT_EQ("", response.getUserPassword());
  EXPECT_EQ("push", response.getLastAuthType());
  EXPECT_FALSE(response.getCheckRememberPassword());
  EXPECT_FALSE(response.getAutoSendPush());
  EXPECT_EQ((Korvath::Model::AuthFactorMap{{"otp", true}}), response.getAuthTypes());
}

// ------------------------------------------------------------------------- authenticators

TEST_F(KvBusinessLogic, AuthenticatorStatesDecideWhetherAllAreBlocked) {
  UserConfig user = makeUser("alice", true, true, true);
  EXPECT_TRUE(business_.areAllAuthenticatorsBlocked(user));  // none at all

  AuthenticatorRecord unreadable;
  unreadable.setModel(10);
  unreadable.setSerialNumber("BAD");
  ASSERT_EQ(0, unreadable.setBlob(std::string(280, 'A')));
  ASSERT_EQ(0, user.setAuthenticators({unreadable}));
  EXPECT_TRUE(business_.areAllAuthenticatorsBlocked(user));

  ASSERT_EQ(0, user.setAuthenticators({unreadable, makeAuthenticator(10, false, "MOB-OFF")}));
  EXPECT_TRUE(business_.areAllAuthenticatorsBlocked(user));

  ASSERT_EQ(0, user.setAuthenticators({makeAuthenticator(10, false, "MOB-OFF"), makeAuthenticator(12, true, "HW")}));
  EXPECT_FALSE(business_.areAllAuthenticatorsBlocked(user));
  ASSERT_EQ(0, user.setAuthenticators({makeAuthenticator(9, true, "DEV")}));
  EXPECT_FALSE(business_.areAllAuthenticatorsBlocked(user));
  ASSERT_EQ(0, user.setAuthenticators({makeAuthenticator(13, false, "HW-OFF"), makeAuthenticator(9, false, "D")}));
  EXPECT_TRUE(business_.areAllAuthenticatorsBlocked(user));
}

TEST_F(KvBusinessLogic, EachTestAnswersOnlyForItsOwnModel) {
  const AuthenticatorRecord mobile = makeAuthenticator(10, true, "MOB");
  const AuthenticatorRecord token = makeAuthenticator(11, true, "HW");
  const AuthenticatorRecord device = makeAuthenticator(9, true, "DEV");
  EXPECT_TRUE(business_.hasMobileAuthenticatorActive(mobile));
  EXPECT_FALSE(business_.hasMobileAuthenticatorActive(token));
  EXPECT_FALSE(business_.hasMobileAuthenticatorActive(device));
  EXPECT_TRUE(business_.hasOathHardwareTokenActive(token));
  EXPECT_FALSE(business_.hasOathHardwareTokenActive(mobile));
  EXPECT_TRUE(business_.hasMarletAuthenticatorActive(device));
  EXPECT_FALSE(business_.hasMarletAuthenticatorActive(mobile));
  // A device blob recorded as a mobile authenticator is not read as one.
  AuthenticatorRecord mislabelled = device;
  mislabelled.setModel(10);
  EXPECT_FALSE(business_.hasMobileAuthenticatorActive(mislabelled));
}

// ------------------------------------------------------------------------- stored options

TEST_F(KvBusinessLogic, AutoSendPushOptionIsStoredAndSaved) {
  store({makeUser("alice", true, true, true, "alice@sim.example"), makeUser("bob", true, false, true)});
  EXPECT_TRUE(business_.getAutoSendPushStatusByUsername("alice"));
  const Korvath::Model::KvResult result = business_.updateAutoSendPushOptionByUserName("Alice@Sim.Example", false);
  EXPECT_EQ(0, result.getResultCode());
  EXPECT_EQ(0, result.getCloudErrorCode());
  EXPECT_EQ("", result.getRequestId());
  EXPECT_FALSE(business_.getAutoSendPushStatusByUsername("alice"));
  EXPECT_TRUE(business_.getAutoSendPushStatusByUsername("bob"));
  Korvath::Config back = readBackConfig();
  EXPECT_FALSE(back.getUsersConfig()[0].getAutoSendPush());
  EXPECT_TRUE(back.getUsersConfig()[1].getAutoSendPush());
}

TEST_F(KvBusinessLogic, AutoSendPushOptionOfAnUnknownUserIsRefusedWithoutASave) {
  store({makeUser("alice", true, true, true)});
  const Korvath::Model::KvResult result = business_.updateAutoSendPushOptionByUserName("nobody", false);
  EXPECT_EQ(6000, result.getResultCode());
  EXPECT_EQ(0, result.getCloudErrorCode());
  EXPECT_FALSE(fileExists());
  EXPECT_FALSE(business_.getAutoSendPushStatusByUsername("nobody"));
  EXPECT_TRUE(business_.getAutoSendPushStatusByUsername("alice"));
}

TEST_F(KvBusinessLogic, CryptoInputsComeFromTheConfiguration) {
  config_.setResourceId(-1);  // stored signed, sent unsigned
  business_.setKvCryptoInputs();
  EXPECT_EQ(kAccountId, crypto_.getAccountId());
  EXPECT_EQ("4294967295", crypto_.getResourceId());
  EXPECT_EQ(kIntegrationKey, crypto_.getIntegrationKey());
  config_.setResourceId(0);
  business_.setKvCryptoInputs();
  EXPECT_EQ("0", crypto_.getResourceId());
}

TEST_F(KvBusinessLogic, TransactionDataDescribesTheSignInOnThisMachine) {
  ASSERT_EQ(0, config_.setResourceAlias("Front Desk"));
  const Korvath::Model::TransactionData data = business_.getTransactionData("alice");
  EXPECT_EQ(3, data.getType());
  EXPECT_EQ(static_cast<std::uint32_t>(clock_.nowUnixMs() / 1000), data.getTimestamp());
  EXPECT_EQ("alice", data.getUser());
  EXPECT_EQ("10.1.2.3", data.getData().getClientIp());
  EXPECT_EQ("Front Desk", data.getData().getResourceName());
  EXPECT_EQ(1, data.getData().getPlatform());
  EXPECT_EQ("", data.getData().getLocation());
  EXPECT_EQ(Korvath::Utils::getComputerName(), data.getData().getComputer());
  EXPECT_EQ(Korvath::Utils::getWindowsVersionName(), data.getData().getOsVersion());

  EXPECT_EQ("", business_.getTransactionData(std::string(101, 'u')).getUser());
}

// ------------------------------------------------------------------------- request building

TEST_F(KvBusinessLogic, LoginsListTheCurrentOneFirstThenEveryOtherStoredLogin) {
  store({makeUser("bob", true, true, true), makeUser("alice", true, true, true), makeUser("carol", true, true, true)});
  using List = std::vector<std::string>;
  List logins;
  EXPECT_EQ(0, business_.mountUserLogins(logins, "alice"));
  EXPECT_EQ((List{"alice", "bob", "carol"}), logins);
  logins.clear();
  EXPECT_EQ(0, business_.mountUserLogins(logins, ""));
  EXPECT_EQ((List{"bob", "alice", "carol"}), logins);
  logins.clear();
  EXPECT_EQ(0, business_.mountUserLogins(logins, "Alice"));
  EXPECT_EQ((List{"Alice", "bob", "alice", "carol"}), logins);
  logins = {"kept"};
  EXPECT_EQ(0, business_.mountUserLogins(logins, "dave"));
  EXPECT_EQ((List{"kept", "dave", "bob", "alice", "carol"}), logins);
}

TEST_F(KvBusinessLogic, RequestBaseTakesTheIdentitiesAndThisMachine) {
  Korvath::Model::RequestConfig request;
  ASSERT_EQ(0, business_.mountRequestConfigBase("AC9", 77, "key-of-account-9", request));
  EXPECT_EQ("AC9", request.getAccountId());
  EXPECT_EQ(77u, request.getResourceId());
  EXPECT_EQ(Korvath::Utils::getComputerName(), request.getMachineName());
  EXPECT_EQ(1, request.getPlatform());
  EXPECT_EQ("AC9", crypto_.getAccountId());
  EXPECT_EQ("77", crypto_.getResourceId());
  EXPECT_EQ("key-of-account-9", crypto_.getIntegrationKey());

  Korvath::Model::RequestConfig untouched;
  EXPECT_EQ(5020, business_.mountRequestConfigBase("AC8", 78, "ab", untouched));
  EXPECT_EQ("", untouched.getAccountId());
  EXPECT_EQ(0u, untouched.getResourceId());
  EXPECT_EQ("", untouched.getMachineName());
}

TEST_F(KvBusinessLogic, RegistrationRefusesRegionAndEnvironmentBeforeAnyRequest) {
  Korvath::Config fresh(&crypto_);
  fresh.setFilePath(configPath_);
  KvBusiness business(&fresh, &crypto_);
  EXPECT_EQ(5032, business.iniConfig("eu", "prod", kAccountId, 4242, kIntegrationKey).getResultCode());
  EXPECT_EQ(5032, business.iniConfig("r", "prod", kAccountId, 4242, kIntegrationKey).getResultCode());
  EXPECT_EQ(5032, business.iniConfig(std::string(26, 'r'), "prod", kAccountId, 4242, kIntegrationKey).getResultCode());
  EXPECT_EQ(5033, business.iniConfig("localhost", "test", kAccountId, 4242, kIntegrationKey).getResultCode());
  EXPECT_EQ(5020, business.iniConfig("localhost", "prod", kAccountId, 4242, "ab").getResultCode());
  // Valid inputs reach the (closed) service port.
  for (const std::string& region : {std::string(), std::string("localhost")}) {
    const std::uint16_t code = business.iniConfig(region, "prod", kAccountId, 4242, kIntegrationKey).getResultCode();
    EXPECT_FALSE(Korvath::isServerReachable(code)) << region << " gave " << code;
  }
  // A registration that never reached the service leaves no file that would read as
  // "registered nowhere" at the next start-up.
  EXPECT_FALSE(fileExists());
  EXPECT_EQ(0, fresh.getResourceId());
}

TEST_F(KvBusinessLogic, OverlongLoginsEndTheUpdateBeforeAnyRequest) {
  store({makeUser("bob", true, true, true)});
  config_.setLogonAppDisable(5108);
  EXPECT_EQ(5013, business_.updateConfigListUser({"bob", std::string(101, 'x')}).getResultCode());
  EXPECT_EQ(5013, business_.updateConfigListUser({""}).getResultCode());
  EXPECT_EQ(5013, business_.updateConfig(std::string(101, 'x')).getResultCode());
  EXPECT_EQ(5013, business_.updateConfigAddUser(std::string(101, 'x'), "", false, "otp", -1).getResultCode());
  // Nothing was sent, so nothing decided about the logon-disabled state and nothing saved.
  EXPECT_EQ(5108, config_.getLogonAppDisable());
  EXPECT_FALSE(fileExists());
  // The same update with valid logins does go out.
  EXPECT_FALSE(Korvath::isServerReachable(business_.updateConfig("").getResultCode()));
}

// ------------------------------------------------------------------------- user-record saves

TEST_F(KvBusinessLogic, SavingAUserRecordsTheAuthenticationOutcome) {
  UserConfig alice = makeUser("alice", true, true, true);
  ASSERT_EQ(0, alice.setPassword("old secret"));
  alice.setFallbackExpiration(555);
  store({makeUser("bob", true, true, true), alice});
  clock_.set(FakeClock::kStart + 42);

  UserConfig record = stored("alice");
  EXPECT_EQ(0, business_.saveConfigUserByUserConfig(record, 1, "new secret", false, "OTP", false));
  UserConfig saved = stored("alice");
  EXPECT_EQ("", saved.getPassword());
  EXPECT_EQ("otp", saved.getLastAuthType());
  EXPECT_EQ(FakeClock::kStart + 42, saved.getLastAuthTime());
  EXPECT_EQ(555u, saved.getFallbackExpiration());
  EXPECT_EQ(FakeClock::kStart + 42, config_.getLastAuth());
  EXPECT_EQ("alice", config_.getLastUser());
  EXPECT_EQ("", record.getPassword());  // changed in place too

  record = stored("alice");
  EXPECT_EQ(0, business_.saveConfigUserByUserConfig(record, 1, "new secret", true, "sms", true));
  saved = readBackConfig().getUsersConfig()[1];
  EXPECT_EQ("new secret", saved.getPassword());
  EXPECT_EQ("otp", saved.getLastAuthType());  // "sms" refused, old kept
  EXPECT_EQ(0u, saved.getFallbackExpiration());
  EXPECT_EQ("bob", readBackConfig().getUsersConfig()[0].getUserLogin());
}

TEST_F(KvBusinessLogic, AnIndexOutsideTheListSavesNothing) {
  store({makeUser("alice", true, true, true)});
  UserConfig record = stored("alice");
  EXPECT_EQ(5214, business_.saveConfigUserByUserConfig(record, 1, "", false, "push", false));
  EXPECT_FALSE(fileExists());
  EXPECT_EQ("", config_.getLastUser());
}

TEST_F(KvBusinessLogic, SavingByLoginFindsTheUserByEmailOrOnlySavesTheConfiguration) {
  store({makeUser("alice", true, true, true, "alice@sim.example")});
  EXPECT_EQ(0, business_.saveConfigUserByUserLogin("nobody", "pw", true, "push", false, 0));
  EXPECT_TRUE(fileExists());
  EXPECT_EQ("", config_.getLastUser());
  EXPECT_EQ(0, business_.saveConfigUserByUserLogin("ALICE@sim.example", "pw", true, "qrcode", false, 0));
  const UserConfig saved = readBackConfig().getUsersConfig()[0];
  EXPECT_EQ("qrcode", saved.getLastAuthType());
  EXPECT_EQ("pw", saved.getPassword());
  EXPECT_TRUE(saved.getAutoSendPush());  // the argument does not change the stored option
  EXPECT_EQ("alice", config_.getLastUser());
}

// ------------------------------------------------------------------------- logon-disabled state

TEST_F(KvBusinessLogic, ResourceNotFoundDisablesAndAnAnsweredExchangeEnablesAgain) {
  config_.setLastSync(FakeClock::kStart + 1000);
  business_.disableKorvath(5108);
  EXPECT_EQ(5108, config_.getLogonAppDisable());
  EXPECT_EQ(FakeClock::kStart + 1000, config_.getLastSync());  // not moved back
  EXPECT_EQ(5108, readBackConfig().getLogonAppDisable());

  clock_.set(FakeClock::kStart + 2000);
  business_.disableKorvath(5108);
  EXPECT_EQ(FakeClock::kStart + 2000, config_.getLastSync());

  for (std::uint16_t connectivity : {5116, 5124, 5137, 5151, 5156, 5214}) {
    business_.disableKorvath(connectivity);
    EXPECT_EQ(5108, config_.getLogonAppDisable()) << connectivity;
  }
  business_.disableKorvath(5107);
  EXPECT_EQ(0, config_.getLogonAppDisable());
  EXPECT_EQ(0, readBackConfig().getLogonAppDisable());
  business_.disableKorvath(5108);
  business_.disableKorvath(0);
  EXPECT_EQ(0, readBackConfig().getLogonAppDisable());
}

// ------------------------------------------------------------------------- clock rollback

TEST_F(KvBusinessLogic, ClockBehindTheLastRunClearsFallbackExpirations) {
  UserConfig a = makeUser("alice", true, true, true);
  a.setFallbackExpiration(999);
  UserConfig b = makeUser("bob", true, true, true);
  store({a, b});
  config_.setLastRun(FakeClock::kStart);
  clock_.set(FakeClock::kStart - 1);
  EXPECT_TRUE(business_.timeTamperDetect());
  EXPECT_EQ(FakeClock::kStart, config_.getLastRun());
  EXPECT_EQ(0u, stored("alice").getFallbackExpiration());
  const Korvath::Config back = readBackConfig();
  EXPECT_EQ(0u, back.getUsersConfig()[0].getFallbackExpiration());
}

TEST_F(KvBusinessLogic, ClockEqualToTheLastRunIsNoRollback) {
  UserConfig a = makeUser("alice", true, true, true);
  a.setFallbackExpiration(999);
  store({a});
  config_.setLastRun(FakeClock::kStart);
  EXPECT_FALSE(business_.timeTamperDetect());
  EXPECT_EQ(999u, stored("alice").getFallbackExpiration());
  EXPECT_EQ(FakeClock::kStart, readBackConfig().getLastRun());
  clock_.set(FakeClock::kStart + 5);
  EXPECT_FALSE(business_.timeTamperDetect());
  EXPECT_EQ(FakeClock::kStart + 5, readBackConfig().getLastRun());
}

TEST_F(KvBusinessLogic, ClockBefore2018IsARollbackAndAnUnregisteredAgentIsNeverChecked) {
  UserConfig a = makeUser("alice", true, true, true);
  a.setFallbackExpiration(999);
  store({a});
  clock_.set(Korvath::Business::kTimeTamperFloorFileTime - 1);
  config_.setResourceId(0);
  const unsigned reads = clock_.reads();
  EXPECT_FALSE(business_.timeTamperDetect());
  EXPECT_EQ(reads, clock_.reads());
  EXPECT_EQ(999u, stored("alice").getFallbackExpiration());
  EXPECT_FALSE(fileExists());
  config_.setResourceId(kResourceId);
  EXPECT_TRUE(business_.timeTamperDetect());
  EXPECT_EQ(0u, stored("alice").getFallbackExpiration());
  EXPECT_EQ(0u, config_.getLastRun());
}

// ------------------------------------------------------------------------- unbound object

TEST_F(KvBusinessLogic, AnUnboundObjectFailsWithEachOperationsCode) {
  KvBusiness unbound;
  ServiceResponseBase response;
  EXPECT_EQ(5215, unbound.loadUserConfig("alice", response));
  EXPECT_EQ(5214, unbound.updateConfig("").getResultCode());
  EXPECT_EQ(5214, unbound.iniConfig("abc", "prod", "A", 1, "abc").getResultCode());
  Korvath::Model::AuthFactorMap factors;
  EXPECT_EQ(5214, unbound.postUserPolicy(Korvath::Model::RequestGetUserPolicy(), factors).getResultCode());
  EXPECT_EQ(5214, unbound.postUserPolicyOffline(Korvath::Model::RequestGetUserPolicyOffline()).getResultCode());
  EXPECT_EQ(6000, unbound.updateAutoSendPushOptionByUserName("alice", true).getResultCode());
  UserConfig user = makeUser("alice", true, true, true);
  EXPECT_EQ(5214, unbound.saveConfigUserByUserConfig(user, 0, "", false, "push", false));
  EXPECT_FALSE(unbound.timeTamperDetect());
  unbound.disableKorvath(5108);
}

TEST_F(KvBusinessLogic, ACopyWorksOnTheSameConfiguration) {
  KvBusiness copy;
  copy = business_;
  EXPECT_EQ(&config_, copy.getConfig());
  EXPECT_EQ(&crypto_, copy.getKvCrypto());
  EXPECT_EQ("10.1.2.3", copy.getClientIp());
  store({makeUser("alice", true, true, true)});
  EXPECT_EQ(0, copy.updateAutoSendPushOptionByUserName("alice", false).getResultCode());
  EXPECT_FALSE(business_.getAutoSendPushStatusByUsername("alice"));
}

}  // namespace
