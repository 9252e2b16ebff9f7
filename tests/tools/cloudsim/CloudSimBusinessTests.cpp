// The simulator's business state: the default fixture's users, settings and policies as the
// configuration and policy routes hand them out.

#include <CloudSim/Server.h>
#include <CryptoSdk/SecurityService.h>

#include "State.h"
#include "TlsClient.h"

#include "AuthenticationSdk/OstraSdkService.h"
#include "Korvath/Model/CloudRecords.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>

using namespace CloudSimTest;

namespace {

const char* const kAccount = "AC1000000001";
const char* const kIntegrationKey = "sim-integration-key-0001";
const char* const kConfigPath = "/desktoplogon/accounts/AC1000000001/resources/4242/config";
const char* const kPolicyPath = "/v1/accounts/AC1000000001/resources/4242/policy";
const char* const kPolicyOfflinePath = "/v1/accounts/AC1000000001/resources/4242/policy/offline";

CryptoSdk::SealKey key1() {
  CryptoSdk::SealKey key;
  EXPECT_EQ(0, CryptoSdk::AgentSecurityService::deriveRequestKey(kAccount, "4242", kIntegrationKey, key));
  return key;
}

std::string sealedEnvelope(const std::string& plain) {
  std::string sealed;
  EXPECT_EQ(0, CryptoSdk::AgentSecurityService::seal(key1(), plain, sealed));
  return "{\"data\":\"" + sealed + "\"}";
}

std::string openReply(const std::string& body) {
  rapidjson::Document doc;
  doc.Parse(body.c_str());
  if (doc.HasParseError() || !doc.IsObject() || !doc.HasMember("data") || !doc["data"].IsString())
    return "<no envelope>";
  std::string plain;
  if (CryptoSdk::AgentSecurityService::open(key1(), doc["data"].GetString(), plain) != 0) return "<unopened>";
  return plain;
}

std::string configRequest(const std::vector<std::string>& logins) {
  Korvath::Model::RequestConfig request;
  request.setAccountId(kAccount);
  request.setResourceId(4242);
  request.setMachineName("PC1");
  EXPECT_EQ(0, request.setUserLogins(logins));
  return request.toJson();
}

class CloudSimBusiness : public ::testing::Test {
 protected:
  void SetUp() override {
    CloudSim::ServerOptions options;
    options.certFile = certFile();
    options.keyFile = keyFile();
    std::string error;
    ASSERT_TRUE(CloudSim::loadFixtureFile(KV_CLOUDSIM_DEFAULT_FIXTURE, options.fixture, error)) << error;
    ASSERT_TRUE(server.start(options, error)) << error;
  }

  std::string post(const std::string& path, const std::string& plain, int expectedStatus = 200) {
    Exchange e = exchange(server.port(), buildRequest("POST", path, sealedEnvelope(plain)));
    EXPECT_EQ(expectedStatus, e.status) << e.body;
    return openReply(e.body);
  }

  CloudSim::Server server;
};

TEST_F(CloudSimBusiness, ConfigReplyCarriesAccountSettingsAndTheRequestedUsersOnce) {
  const std::string plain = post(kConfigPath, configRequest({"ALICE", "nobody", "bob@SIM.example", "alice"}));
  Korvath::Model::ResponseConfig reply;
  ASSERT_EQ(0, reply.fillFromJson(plain)) << plain;
  EXPECT_EQ(kAccount, reply.getAccountId());
  EXPECT_EQ(4242u, reply.getResourceId());
  EXPECT_EQ("Simulated Account", reply.getAccountAlias());
  EXPECT_EQ("Simulated Desktop", reply.getResourceAlias());
  EXPECT_EQ("sim-master-password-0001", reply.getMasterPassword());
  EXPECT_GT(reply.getServerTime(), 1600000000);
  EXPECT_EQ(kIntegrationKey, reply.getServerConfig().getIntegrationKey());
  EXPECT_EQ(1, reply.getServerConfig().getEnableRememberPassword());
  EXPECT_EQ(1, reply.getServerConfig().getOffline());
  EXPECT_EQ(kAccount, reply.getServerConfig().getAuthenticationSettings().accountId);

  ASSERT_EQ(2u, reply.getUsers().size());
  const Korvath::Model::User& alice = reply.getUsers()[0];
  EXPECT_EQ("alice", alice.getUserLogin());
  EXPECT_EQ("alice@sim.example", alice.getEmail());
  ASSERT_EQ(2u, alice.getAuthenticators().size());
  EXPECT_EQ(10, alice.getAuthenticators()[0].getModel());
  EXPECT_EQ(1001u, alice.getAuthenticators()[0].getDeviceId());
  EXPECT_EQ(11, alice.getAuthenticators()[1].getModel());
  EXPECT_EQ("bob", reply.getUsers()[1].getUserLogin());
  EXPECT_FALSE(reply.getUsers()[1].isAuthTypeEnabled("qrcode"));
  EXPECT_TRUE(reply.getUsers()[1].isAuthTypeEnabled("otp"));

  // The blobs are real: readable without a key, and holding the fixture's secret.
  AuthenticationSdk::MobileInfo mobile;
  ASSERT_EQ(0, OstraSdkService::readMobileInfo(alice.getAuthenticators()[0].getBlob(), mobile));
  EXPECT_EQ(1, mobile.active);
  CryptoSdk::Bytes secret;
  ASSERT_EQ(0, AuthenticationSdk::Blob::openSecret(alice.getAuthenticators()[0].getBlob(), kAccount, kIntegrationKey,
                                                   secret));
  EXPECT_EQ(std::string("12345678901234567890"), std::string(secret.begin(), secret.end()));
}

TEST_F(CloudSimBusiness, InactiveAuthenticatorOfTheFixtureReadsAsInactive) {
  Korvath::Model::ResponseConfig reply;
  ASSERT_EQ(0, reply.fillFromJson(post(kConfigPath, configRequest({"dave"}))));
  ASSERT_EQ(1u, reply.getUsers().size());
  EXPECT_TRUE(reply.getUsers()[0].isBlocked());
  AuthenticationSdk::MobileInfo mobile;
  ASSERT_EQ(0, OstraSdkService::readMobileInfo(reply.getUsers()[0].getAuthenticators()[0].getBlob(), mobile));
  EXPECT_EQ(0, mobile.active);
}

TEST_F(CloudSimBusiness, PolicyRepliesDescribeTheUserOrAreEmpty) {
  Korvath::Model::RequestGetUserPolicy request;
  ASSERT_EQ(0, request.setUserLogins({"dave"}));
  Korvath::Model::ResponseGetUserPolicy reply;
  ASSERT_EQ(0, reply.fillFromJson(post(kPolicyPath, request.toJson())));
  ASSERT_EQ(1u, reply.getUserPolicies().size());
  EXPECT_EQ("dave", reply.getUserPolicies()[0].username);
  EXPECT_TRUE(reply.getUserPolicies()[0].isBlocked);
  EXPECT_TRUE(reply.getUserPolicies()[0].hasPolicy);

  ASSERT_EQ(0, request.setUserLogins({"carol@sim.example"}));
  ASSERT_EQ(0, reply.fillFromJson(post(kPolicyPath, request.toJson())));
  ASSERT_EQ(1u, reply.getUserPolicies().size());
  EXPECT_EQ("carol", reply.getUserPolicies()[0].username);
  EXPECT_TRUE(reply.getUserPolicies()[0].isInForgotToken);
  EXPECT_EQ(0u, reply.getUserPolicies()[0].authTypes.count("qrcode"));

  ASSERT_EQ(0, request.setUserLogins({"nobody"}));
  EXPECT_EQ("[]", post(kPolicyPath, request.toJson()));

  Korvath::Model::RequestGetUserPolicyOffline offline;
  ASSERT_EQ(0, offline.setUserLogin("erin"));
  Korvath::Model::ResponseGetUserPolicyOffline offlineReply;
  ASSERT_EQ(0, offlineReply.fillFromJson(post(kPolicyOfflinePath, offline.toJson())));
  ASSERT_EQ(1u, offlineReply.getPolicies().size());
  EXPECT_FALSE(offlineReply.getPolicies()[0].hasPolicy);
  EXPECT_FALSE(offlineReply.getPolicies()[0].policyAllowsAuthentication);
  ASSERT_EQ(0, offline.setUserLogin("nobody"));
  EXPECT_EQ("[]", post(kPolicyOfflinePath, offline.toJson()));
}

TEST_F(CloudSimBusiness, ProgrammedReplyWinsAndAnotherBodyGetsTheEmptyAnswer) {
  std::string error;
  CloudSim::ProgrammedReply programmed;
  programmed.route = "config";
  programmed.json = "{\"x\":1}";
  programmed.count = 1;
  ASSERT_TRUE(server.addReply(programmed, error)) << error;
  EXPECT_EQ("{\"x\":1}", post(kConfigPath, configRequest({"alice"})));
  EXPECT_EQ("{}", post(kConfigPath, "{\"question\":1}"));
  EXPECT_EQ("{}", post(kPolicyPath, "{}"));
}

TEST(CloudSimBusinessState, ResetRestoresTheFixtureUsers) {
  CloudSim::Fixture fixture;
  std::string error;
  ASSERT_TRUE(CloudSim::loadFixtureFile(KV_CLOUDSIM_DEFAULT_FIXTURE, fixture, error)) << error;
  CloudSim::State state;
  ASSERT_TRUE(state.load(fixture, error)) << error;
  const CloudSim::AccountState* account = state.findAccount(kAccount, "4242");
  ASSERT_NE(nullptr, account);
  CloudSim::SimUser user;
  ASSERT_TRUE(state.findUser(*account, "Alice@Sim.Example", user));
  EXPECT_EQ("alice", user.login);
  const std::string blob = user.authenticators[0].blob;
  user.blocked = true;
  user.login = "ALICE";
  ASSERT_TRUE(state.updateUser(*account, user));
  ASSERT_TRUE(state.findUser(*account, "alice", user));
  EXPECT_TRUE(user.blocked);
  user.login = "zed";
  EXPECT_FALSE(state.updateUser(*account, user));

  state.reset();
  ASSERT_TRUE(state.findUser(*account, "alice", user));
  EXPECT_FALSE(user.blocked);
  EXPECT_EQ("alice", user.login);
  EXPECT_EQ(blob, user.authenticators[0].blob);
  EXPECT_EQ(5u, state.users(*account).size());
}

TEST(CloudSimBusinessState, FixtureRefusesBadUsersAndSettings) {
  const std::string head = R"({"accounts":[{"accountId":"A","resourceId":"1","integrationKey":"abc",)";
  const std::string bad[] = {
      R"("users":{}})",
      R"("users":[{"email":"x"}]})",
      R"("users":[{"login":")" + std::string(101, 'a') + R"("}]})",
      R"("users":[{"login":"a"},{"login":"A"}]})",
      R"("users":[{"login":"a","authTypes":{"otp":1}}]})",
      R"("users":[{"login":"a","authenticators":[{"serialNumber":"S","secret":"zz"}]}]})",
      R"("users":[{"login":"a","authenticators":[{"serialNumber":"S","secret":"0011"}]}]})",
      R"("users":[{"login":"a","authenticators":[{"model":8,"serialNumber":"S","secret":"00112233445566778899aabbccddeeff"}]}]})",
      R"("users":[{"login":"a","authenticators":[{"secret":"00112233445566778899aabbccddeeff"}]}]})",
      R"("settings":{"pushTimeout":5}})",
      R"("settings":[]})",
      R"("accountAlias":"ab"})",
  };
  for (const std::string& tail : bad) {
    CloudSim::Fixture fixture;
    std::string error;
    EXPECT_FALSE(CloudSim::parseFixture(head + tail + "]}", fixture, error)) << tail;
    EXPECT_FALSE(error.empty()) << tail;
  }
  CloudSim::Fixture fixture;
  std::string error;
  ASSERT_TRUE(CloudSim::parseFixture(
      head +
          R"("users":[{"login":"a","authenticators":[{"serialNumber":"S","secret":"00112233445566778899aabbccddeeff"}]}]}]})",
      fixture, error))
      << error;
  ASSERT_EQ(1u, fixture.accounts[0].users.size());
  EXPECT_EQ(16u, fixture.accounts[0].users[0].authenticators[0].secret.size());
  EXPECT_EQ(10, fixture.accounts[0].users[0].authenticators[0].model);
  EXPECT_TRUE(fixture.accounts[0].users[0].hasPolicy);
}

}  // namespace
