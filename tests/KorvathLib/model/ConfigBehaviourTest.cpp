// Setters, users, merges, the user cap and the unknown-user rule of Config; KvCrypto.

#include "Korvath/KvException.h"
#include "Korvath/Platform.h"
#include "Korvath/ResultCodes.h"
#include "ModelTestSupport.h"

using namespace Korvath;
using namespace Korvath::Model;
using namespace KvModelTest;

namespace {

class ConfigBehaviourTest : public TempRootTest {
 protected:
  void SetUp() override {
    TempRootTest::SetUp();
    config_.setKvCrypto(&crypto_);
    config_.setFilePath(path("kvconfig.cfg"));
    ASSERT_EQ(0, config_.setServerConfig(sampleServerConfig()));
  }
  Config config_;
};

class FixedClock : public Platform::IClock {
 public:
  std::uint64_t nowFileTime() override { return 0; }
  std::int64_t nowUnixMs() override { return 1700000000000; }
  std::int64_t monotonicMs() override { return 0; }
  void sleepMs(std::uint32_t) override {}
};

}  // namespace

// A refused value is refused whole (never cut) and the old one kept.
TEST_F(ConfigBehaviourTest, SettersRefuseAndKeepTheOldValue) {
  EXPECT_EQ(0, config_.setEnvironment("staging"));
  EXPECT_EQ(KV_ERROR_INVALID_ENVIRONMENT_TYPE, config_.setEnvironment("Prod"));
  EXPECT_EQ("staging", config_.getEnvironment());
  EXPECT_EQ(KV_ERROR_INVALID_ACCOUNT_ALIAS_LENGTH, config_.setAccountAlias("ab"));
  EXPECT_EQ(KV_ERROR_INVALID_RESOURCE_ALIAS_LENGTH, config_.setResourceAlias(std::string(256, 'r')));
  EXPECT_EQ(0, config_.setLastUser(std::string(100, 'u')));
  EXPECT_EQ(KV_ERROR_INVALID_USER_LOGIN_LENGTH, config_.setLastUser(std::string(101, 'u')));
  EXPECT_EQ(std::string(100, 'u'), config_.getLastUser());
  EXPECT_EQ(KV_ERROR_INVALID_REGION_LENGTH, config_.setRegion("eu"));
  EXPECT_EQ(KV_ERROR_INVALID_PLATFORM, config_.setPlatform(3));
  config_.setResourceId(-2);
  EXPECT_EQ("4294967294", config_.getResourceIdText());
  UserConfig u;
  EXPECT_EQ(KV_ERROR_INVALID_USER_LOGIN_LENGTH, u.setUserLogin(std::string(101, 'a')));
  EXPECT_EQ("", u.getUserLogin());
  Service::ServiceRequestBase req;
  EXPECT_EQ(KV_ERROR_INVALID_USER_LOGIN_LENGTH, req.setUserLogin(std::string(101, 'a')));
  EXPECT_EQ(0, req.setUserLogin(std::string(100, 'a')));
  ASSERT_EQ(0, crypto_.setIntegrationKey("integration-key-2"));
  EXPECT_EQ(KV_ERROR_INVALID_INTEGRATION_KEY_LENGTH, crypto_.setIntegrationKey("xy"));
  EXPECT_EQ("integration-key-2", crypto_.getIntegrationKey());
}

// Records validate when copied or assigned too, so an invalid one never enters a list.
TEST_F(ConfigBehaviourTest, UserRecordsValidateOnCopy) {
  UserConfig bad = sampleUser("alice");
  EXPECT_EQ(KV_ERROR_INVALID_USER_PASSWORD_LENGTH, bad.setPassword(std::string(301, 'p')));
  EXPECT_EQ(KV_ERROR_INVALID_AUTHENTICATION_TYPE, bad.setLastAuthType("sms"));
  EXPECT_EQ(0, bad.setLastAuthType("QRCODE"));
  EXPECT_EQ("qrcode", bad.getLastAuthType());
  UserConfig empty;
  EXPECT_THROW(UserConfig copy(empty), Exception::KvException);
  AuthenticatorRecord a = sampleAuthenticator();
  AuthenticatorRecord b;
  EXPECT_EQ(KV_ERROR_INVALID_AUTHENTICATOR_MODEL, b.setModel(8));
  EXPECT_EQ(KV_ERROR_INVALID_SERIAL_NUMBER_LENGTH, b.setSerialNumber(std::string(33, 's')));
  EXPECT_EQ(KV_ERROR_INVALID_BLOB_LENGTH, b.setBlob(std::string(236, 'A')));
  EXPECT_THROW(a = b, Exception::KvException);
  const TransactionData unstamped;  // timestamp 0
  TransactionData stamped = sampleTransactionData();
  EXPECT_THROW(stamped = unstamped, Exception::KvException);
  EXPECT_EQ(sampleTransactionData().toJson(), stamped.toJson());
  UserConfig u = sampleUser("alice");
  EXPECT_EQ(KV_ERROR_INVALID_AUTHENTICATOR_MODEL, u.setAuthenticators({sampleAuthenticator(), b}));
  EXPECT_EQ(2u, u.getAuthenticators().size());
}

TEST_F(ConfigBehaviourTest, SetUsersConfigValidatesTheWholeListFirst) {
  ASSERT_EQ(0, config_.setUsersConfig({sampleUser("alice")}));
  UserConfig broken;  // no login
  std::vector<UserConfig> list;
  list.push_back(sampleUser("bob"));
  list.emplace_back(std::move(broken));
  EXPECT_EQ(KV_ERROR_INVALID_USER_LOGIN_LENGTH, config_.setUsersConfig(list));
  ASSERT_EQ(1u, config_.getUsersConfig().size());
  EXPECT_EQ("alice", config_.getUsersConfig()[0].getUserLogin());
}

// bob's e-mail comes first in the list, but a login match wins over an e-mail match (the
// case-insensitive e-mail lookup and the login type are seen in the business tests' requests).
TEST_F(ConfigBehaviourTest, UserLookupByLoginBeforeEmail) {
  ASSERT_EQ(0, config_.setUsersConfig({sampleUser("bob", "ALICE"), sampleUser("alice", "a@x.test")}));
  EXPECT_EQ(1, config_.getUserIndex("ALICE"));
}

TEST_F(ConfigBehaviourTest, MergeResponseConfigAddsAndUpdatesUsers) {
  FixedClock clock;
  Platform::setClock(&clock);
  UserConfig alice = sampleUser("Alice");
  ASSERT_EQ(0, alice.setPassword("remembered"));
  ASSERT_EQ(0, config_.setUsersConfig({alice}));
  ResponseConfig reply = sampleResponseConfig();  // alice and bob
  reply.setServerTime(1700000000 + 30);
  ASSERT_EQ(0, config_.mergeResponseConfig(reply, 77));
  Platform::setClock(nullptr);
  auto users = config_.getUsersConfig();
  ASSERT_EQ(2u, users.size());
  EXPECT_EQ("alice", users[0].getUserLogin()) << "the service's spelling";
  EXPECT_EQ("remembered", users[0].getPassword()) << "stored-only fields are kept";
  EXPECT_EQ("bob", users[1].getUserLogin());
  EXPECT_EQ("ACME", config_.getAccountAlias());
  EXPECT_EQ(77, config_.getResourceId());
  EXPECT_EQ("master", config_.getMasterPassword());
  EXPECT_EQ(30, config_.getServerConfig().getTimeDifference());
  reply.setServerTime(0);  // no time reference: the reply's own timeDifference is not taken either
  ASSERT_EQ(0, config_.mergeResponseConfig(reply, 77));
  EXPECT_EQ(0, config_.getServerConfig().getTimeDifference());
  EXPECT_FALSE(std::filesystem::exists(path("kvconfig.cfg"))) << "the merge does not save";
}

TEST_F(ConfigBehaviourTest, FailedMergeLeavesTheConfigurationAsItWas) {
  ASSERT_EQ(0, config_.setUsersConfig({sampleUser("carol")}));
  const std::string before = config_.toJson();
  ResponseConfig reply = sampleResponseConfig();
  EXPECT_EQ(KV_ERROR_INVALID_CONFIG, config_.mergeResponseConfig(reply, 78)) << "a reply for another resource";
  EXPECT_EQ(before, config_.toJson());
}

namespace {
bool refuseReplace(const std::string&, const std::string&) { return false; }
}  // namespace

// The switches are copied and saved and the logon-disabled state cleared; a save that fails is
// reported, the policy is kept in memory and the next save writes it.
TEST_F(ConfigBehaviourTest, MergeUserPolicyCopiesTheSwitchesAndSaves) {
  ASSERT_EQ(0, config_.setUsersConfig({sampleUser("alice")}));
  config_.setLogonAppDisable(5108);
  UserPolicy p;
  p.username = "ALICE";
  p.hasPolicy = false;
  p.authTypes = {{"qrcode", true}};
  AuthFactorMap factors{{"push", true}};
  ConfigFile::setReplaceFunction(refuseReplace);
  EXPECT_EQ(KV_ERROR_WRITE_CONFIG_FILE, config_.mergeUserPolicy(p, factors));
  ConfigFile::setReplaceFunction(nullptr);
  EXPECT_FALSE(std::filesystem::exists(path("kvconfig.cfg")));
  EXPECT_EQ((AuthFactorMap{{"push", false}, {"qrcode", true}, {"otp", false}}), factors);
  EXPECT_EQ(0, config_.getLogonAppDisable());
  ASSERT_EQ(0, config_.writeFile());
  EXPECT_FALSE(reread().getUsersConfig()[0].getHasPolicy()) << "the next save writes the policy";

  config_.setLogonAppDisable(5108);
  p.hasPolicy = true;
  p.authTypes = {{"push", false}, {"otp", true}};
  ASSERT_EQ(0, config_.mergeUserPolicy(p, factors));
  EXPECT_EQ((AuthFactorMap{{"push", false}, {"qrcode", false}, {"otp", true}}), factors);
  Config back = reread();
  EXPECT_EQ(0, back.getLogonAppDisable());
  EXPECT_TRUE(back.getUsersConfig()[0].getHasPolicy());
  EXPECT_EQ(factors, back.getUsersConfig()[0].getAuthTypes());
  p.username = "nobody";
  p.email = "";
  AuthFactorMap untouched = factors;
  EXPECT_EQ(KV_ERROR_USER_NOT_FOUND, config_.mergeUserPolicy(p, factors));
  EXPECT_EQ(untouched, factors);
}

TEST_F(ConfigBehaviourTest, RemoveExtraUsersKeepsTheThirtyMostRecent) {
  std::vector<UserConfig> users;
  for (int i = 0; i < 33; ++i) {
    users.push_back(sampleUser("user" + std::to_string(i)));
    users.back().setLastAuthTime(1000 + (i * 7) % 33);
  }
  ASSERT_EQ(0, config_.setUsersConfig(users));
  ASSERT_EQ(0, config_.removeExtraUsers());
  auto kept = reread().getUsersConfig();
  ASSERT_EQ(30u, kept.size());
  for (const auto& u : kept) EXPECT_GE(u.getLastAuthTime(), 1003u);
  EXPECT_EQ("user1", kept[0].getUserLogin()) << "stored order is kept";
}

TEST_F(ConfigBehaviourTest, UnknownUserRule) {
  ASSERT_EQ(0, config_.setUsersConfig({sampleUser("alice")}));
  ServerConfig s = sampleServerConfig();
  s.setAllowUnknownUsers(0);
  ASSERT_EQ(0, config_.setServerConfig(s));
  EXPECT_FALSE(config_.shouldBypassMfaForNonPelloraUser("guest", true)) << "rule off";
  s.setAllowUnknownUsers(1);
  ASSERT_EQ(0, config_.setServerConfig(s));
  EXPECT_FALSE(config_.shouldBypassMfaForNonPelloraUser("alice", true)) << "a stored user never bypasses";
  EXPECT_FALSE(config_.shouldBypassMfaForNonPelloraUser("guest", false)) << "first sign-in must be online";
  EXPECT_TRUE(config_.shouldBypassMfaForNonPelloraUser("guest", true));
  EXPECT_TRUE(reread().shouldBypassMfaForNonPelloraUser("GUEST", false)) << "whitelisted and saved";
  EXPECT_FALSE(config_.shouldBypassMfaForNonPelloraUser(std::string(101, 'g'), true));
}

// Record rules no request of the business tests shows on the wire.
TEST_F(ConfigBehaviourTest, CloudRecordSettersFollowTheirRules) {
  UserTransaction ut;
  EXPECT_EQ(KV_ERROR_INVALID_TRANSACTION_TIMESTAMP, ut.setTransactionData(TransactionData()));
  RequestAuthentication ra;
  UserAuthentication src;
  EXPECT_EQ(KV_ERROR_INVALID_USER_LOGIN_LENGTH, ra.setUserAuthentication(src)) << "empty login stops the copy";
  ASSERT_EQ(0, src.setLogin("alice"));
  EXPECT_EQ(0, ra.setUserAuthentication(src));
  RequestGetUserPolicy p;
  EXPECT_EQ("USERNAME", p.getLoginType());
  EXPECT_EQ(KV_ERROR_INVALID_USER_LOGIN_LENGTH, p.setUserLogins({"a", ""}));
  EXPECT_TRUE(p.getUserLogins().empty());
  Service::ServiceResponseAuthQRCode q;
  EXPECT_EQ(KV_ERROR_INVALID_TRANSACTION_ID_LENGTH, q.setTransactionId(std::string(37, 'x')));
  EXPECT_EQ(KV_ERROR_INVALID_TRANSACTION_TIMESTAMP, q.setTransactionData(TransactionData()));
}
