// KvBusiness without the cloud service: the user view, the authenticator states, the stored
// per-user options and records, the clock-rollback guard and every check that ends an
// operation before a request. Where an operation would talk to the service, the deployment
// points at a closed loopback port, so a request that went out would show as a connectivity code.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BizCoreTestSupport.h"
#include "CloudTestSupport.h"
#include "Korvath/ResultCodes.h"

using namespace BizCoreTest;
using Korvath::Model::AuthFactorMap;
using Korvath::Model::AuthenticatorRecord;
using Korvath::Model::UserConfig;
using Korvath::Service::ServiceResponseBase;

namespace {

class KvBusinessLogic : public ::testing::Test, protected BizState {
 protected:
  void SetUp() override {
    registry_.values = {{"DesktopLogonHostPrefix", ""},
                        {"PolicyHostPrefix", ""},
                        {"DomainSuffix", ""},
                        {"Port", std::to_string(CloudTest::closedPort())}};
    Korvath::Platform::setAgentRegistry(&registry_);
    attach();
  }
  void TearDown() override {
    detach();
    Korvath::Platform::setAgentRegistry(nullptr);
  }
  CloudTest::MapRegistry registry_;
};

UserConfig withLast(UserConfig user, const std::string& last) {
  EXPECT_EQ(0, user.setLastAuthType(last));
  return user;
}

// The first factor is the last one used while it is still enabled (exact, lower case), else
// "password", never the next enabled one; with none used, the first of push, qrcode, otp.
TEST_F(KvBusinessLogic, FirstFactorOfTheDialog) {
  UserConfig qrOnly;
  qrOnly.setUserLogin("m");
  qrOnly.setAuthTypes({{"qrcode", true}});
  const struct {
    UserConfig user;
    const char* initial;
  } rows[] = {
      {withLast(makeUser("a", false, false, true), "push"), "password"},
      {withLast(makeUser("a", false, false, true), ""), "otp"},
      {withLast(makeUser("a", true, true, true), "password"), "password"},
      {withLast(makeUser("a", true, true, true), "qrcode"), "qrcode"},
      {makeUser("a", true, true, true), "push"},
      {qrOnly, "qrcode"},
      {makeUser("a", false, false, false), "password"},
  };
  for (const auto& row : rows) EXPECT_EQ(row.initial, business_.getInitialAuthFactor(row.user)) << row.user.toJson();
  const UserConfig all = makeUser("x", true, true, true);
  EXPECT_TRUE(business_.isAuthFactorPush("push", all));
  EXPECT_FALSE(business_.isAuthFactorPush("PUSH", all));
  EXPECT_FALSE(business_.isAuthFactorPush("push ", all));
  EXPECT_FALSE(business_.isAuthFactorPush("push", qrOnly));
  EXPECT_FALSE(business_.isAuthFactorOTP("otp", makeUser("x", true, true, false)));
}

TEST_F(KvBusinessLogic, UserViewOfTheDialog) {
  UserConfig alice = withLast(makeUser("alice", false, true, true, "alice@sim.example"), "qrcode");
  ASSERT_EQ(0, alice.setPassword("pa ss\"word"));
  UserConfig carol = makeUser("carol", false, false, false);
  carol.setAutoSendPush(false);
  carol.setPolicyAllowsAuthentication(false);
  store({alice, carol});
  // A password is given back only while the service allows remembering it.
  for (std::uint8_t remember : {0, 1}) {
    setServerFlags(1, remember, remember);
    ServiceResponseBase view;
    ASSERT_EQ(0, business_.loadUserConfig("ALICE@sim.example", view));
    EXPECT_EQ("ALICE@sim.example", view.getUserLogin());
    EXPECT_EQ(remember ? "pa ss\"word" : "", view.getUserPassword());
    EXPECT_EQ(remember == 1, view.getCheckRememberPassword());
    EXPECT_EQ(remember == 1, view.getEnableRememberPassword());
    EXPECT_EQ(remember == 1, view.getEnableForgotAuthenticator());
    EXPECT_EQ("qrcode", view.getLastAuthType());
    EXPECT_TRUE(view.getPolicyAllowsAuthentication());
  }
  // Every factor off: push as the last type, the user's own map and options.
  ServiceResponseBase view;
  ASSERT_EQ(0, business_.loadUserConfig("carol", view));
  EXPECT_EQ("push", view.getLastAuthType());
  EXPECT_EQ((AuthFactorMap{{"otp", false}, {"qrcode", false}, {"push", false}}), view.getAuthTypes());
  EXPECT_FALSE(view.getAutoSendPush());
  EXPECT_FALSE(view.getPolicyAllowsAuthentication());
  ServiceResponseBase untouched;
  const std::string before = untouched.toJson();
  EXPECT_EQ(5103, business_.loadUserConfig("bob", untouched));
  EXPECT_EQ(before, untouched.toJson());
}

// All blocked unless one authenticator reads as active through the reader of its own model;
// an unreadable blob, or a blob of another model than its record says, is not active.
TEST_F(KvBusinessLogic, AuthenticatorStatesDecideWhetherAllAreBlocked) {
  AuthenticatorRecord unreadable;
  unreadable.setModel(10);
  unreadable.setSerialNumber("BAD");
  ASSERT_EQ(0, unreadable.setBlob(std::string(280, 'A')));
  AuthenticatorRecord mislabelled = makeAuthenticator(9, true, "DEV");
  mislabelled.setModel(10);
  const struct {
    std::vector<AuthenticatorRecord> list;
    bool allBlocked;
  } rows[] = {
      {{}, true},
      {{unreadable, makeAuthenticator(10, false, "MOB-OFF")}, true},
      {{mislabelled}, true},
      {{makeAuthenticator(13, false, "HW-OFF"), makeAuthenticator(9, false, "D")}, true},
      {{makeAuthenticator(10, false, "MOB-OFF"), makeAuthenticator(12, true, "HW")}, false},
      {{makeAuthenticator(9, true, "DEV")}, false},
      {{makeAuthenticator(10, true, "MOB")}, false},
  };
  for (const auto& row : rows) {
    UserConfig user = makeUser("alice", true, true, true);
    ASSERT_EQ(0, user.setAuthenticators(row.list));
    EXPECT_EQ(row.allBlocked, business_.areAllAuthenticatorsBlocked(user)) << row.list.size();
  }
}

TEST_F(KvBusinessLogic, AutoSendPushOptionIsStoredAndSavedForAStoredUserOnly) {
  store({makeUser("alice", true, true, true, "alice@sim.example"), makeUser("bob", true, false, true)});
  EXPECT_EQ(6000, business_.updateAutoSendPushOptionByUserName("nobody", false).getResultCode());
  EXPECT_FALSE(fileExists());
  EXPECT_FALSE(business_.getAutoSendPushStatusByUsername("nobody"));
  EXPECT_TRUE(business_.getAutoSendPushStatusByUsername("alice"));
  EXPECT_EQ(0, business_.updateAutoSendPushOptionByUserName("Alice@Sim.Example", false).getResultCode());
  EXPECT_FALSE(business_.getAutoSendPushStatusByUsername("alice"));
  const Korvath::Config back = readBackConfig();
  EXPECT_FALSE(back.getUsersConfig()[0].getAutoSendPush());
  EXPECT_TRUE(back.getUsersConfig()[1].getAutoSendPush());
  // The resource identifier is stored signed and keys the requests as unsigned text.
  config_.setResourceId(-1);
  business_.setKvCryptoInputs();
  EXPECT_EQ("4294967295", crypto_.getResourceId());
  EXPECT_EQ(kIntegrationKey, crypto_.getIntegrationKey());
}

// Region, environment, integration key and logins are checked before any request: such a
// failure sends nothing, leaves the logon-disabled state alone and writes no file.
TEST_F(KvBusinessLogic, ChecksBeforeAnyRequest) {
  store({makeUser("bob", true, true, true)});
  config_.setLogonAppDisable(5108);
  Korvath::Config fresh(&crypto_);
  fresh.setFilePath(configPath_);
  Korvath::Business::KvBusiness registering(&fresh, &crypto_);
  const struct {
    std::uint16_t code;
    std::uint16_t expected;
  } rows[] = {
      {registering.iniConfig("eu", "prod", kAccountId, 4242, kIntegrationKey).getResultCode(), 5032},
      {registering.iniConfig(std::string(26, 'r'), "prod", kAccountId, 4242, kIntegrationKey).getResultCode(), 5032},
      {registering.iniConfig("localhost", "test", kAccountId, 4242, kIntegrationKey).getResultCode(), 5033},
      {registering.iniConfig("localhost", "prod", kAccountId, 4242, "ab").getResultCode(), 5020},
      {business_.updateConfigListUser({"bob", std::string(101, 'x')}).getResultCode(), 5013},
      {business_.updateConfigListUser({""}).getResultCode(), 5013},
      {business_.updateConfig(std::string(101, 'x')).getResultCode(), 5013},
      {business_.updateConfigAddUser(std::string(101, 'x'), "", false, "otp", -1).getResultCode(), 5013},
  };
  for (const auto& row : rows) EXPECT_EQ(row.expected, row.code);
  EXPECT_EQ(5108, config_.getLogonAppDisable());
  EXPECT_FALSE(fileExists());
  // Valid inputs do go out (to the closed port): an empty region is allowed.
  EXPECT_FALSE(Korvath::isServerReachable(registering.iniConfig("", "prod", kAccountId, 4242, kIntegrationKey).getResultCode()));
  EXPECT_FALSE(Korvath::isServerReachable(business_.updateConfig("").getResultCode()));
}

TEST_F(KvBusinessLogic, SavingAUserRecordsTheAuthenticationOutcome) {
  UserConfig alice = makeUser("alice", true, true, true, "alice@sim.example");
  ASSERT_EQ(0, alice.setPassword("old secret"));
  alice.setFallbackExpiration(555);
  store({makeUser("bob", true, true, true), alice});
  clock_.set(FakeClock::kStart + 42);
  UserConfig record = stored("alice");
  EXPECT_EQ(5214, business_.saveConfigUserByUserConfig(record, 2, "", false, "push", false));
  EXPECT_FALSE(fileExists()) << "an index outside the list saves nothing";
  EXPECT_EQ(0, business_.saveConfigUserByUserConfig(record, 1, "new secret", false, "OTP", false));
  UserConfig saved = stored("alice");
  EXPECT_EQ("", saved.getPassword()) << "not remembered";
  EXPECT_EQ("", record.getPassword()) << "changed in place too";
  EXPECT_EQ("otp", saved.getLastAuthType());
  EXPECT_EQ(FakeClock::kStart + 42, saved.getLastAuthTime());
  EXPECT_EQ(555u, saved.getFallbackExpiration());
  EXPECT_EQ(FakeClock::kStart + 42, config_.getLastAuth());
  EXPECT_EQ("alice", config_.getLastUser());
  record = stored("alice");
  EXPECT_EQ(0, business_.saveConfigUserByUserConfig(record, 1, "new secret", true, "sms", true));
  saved = readBackConfig().getUsersConfig()[1];
  EXPECT_EQ("new secret", saved.getPassword());
  EXPECT_EQ("otp", saved.getLastAuthType()) << "\"sms\" refused, the old one kept";
  EXPECT_EQ(0u, saved.getFallbackExpiration());
  // By login or e-mail; the stored auto-send option is not the argument's to change.
  EXPECT_EQ(0, business_.saveConfigUserByUserLogin("ALICE@sim.example", "pw", true, "qrcode", false, 0));
  EXPECT_EQ("qrcode", readBackConfig().getUsersConfig()[1].getLastAuthType());
  EXPECT_TRUE(readBackConfig().getUsersConfig()[1].getAutoSendPush());
}

// A clock behind the last run, or before 2018, clears every fallback expiration (saved) and
// keeps the last run; a later clock becomes the last run; an unregistered agent is never checked.
TEST_F(KvBusinessLogic, ClockRollbackGuard) {
  const struct {
    std::uint64_t now;
    std::int32_t resource;
    bool tamper;
    std::uint64_t fallbackAfter;
    std::uint64_t lastRunAfter;
  } rows[] = {
      {FakeClock::kStart - 1, kResourceId, true, 0, FakeClock::kStart},
      {FakeClock::kStart, kResourceId, false, 999, FakeClock::kStart},
      {FakeClock::kStart + 5, kResourceId, false, 999, FakeClock::kStart + 5},
      {Korvath::Business::kTimeTamperFloorFileTime - 1, 0, false, 999, FakeClock::kStart},
      {Korvath::Business::kTimeTamperFloorFileTime - 1, kResourceId, true, 0, FakeClock::kStart},
  };
  for (const auto& row : rows) {
    UserConfig alice = makeUser("alice", true, true, true);
    alice.setFallbackExpiration(999);
    store({alice, makeUser("bob", true, true, true)});
    config_.setLastRun(FakeClock::kStart);
    config_.setResourceId(row.resource);
    clock_.set(row.now);
    EXPECT_EQ(row.tamper, business_.timeTamperDetect()) << row.now;
    EXPECT_EQ(row.fallbackAfter, stored("alice").getFallbackExpiration());
    EXPECT_EQ(row.lastRunAfter, config_.getLastRun());
    if (row.resource != 0) {
      EXPECT_EQ(row.fallbackAfter, readBackConfig().getUsersConfig()[0].getFallbackExpiration());
    }
  }
}

}  // namespace
