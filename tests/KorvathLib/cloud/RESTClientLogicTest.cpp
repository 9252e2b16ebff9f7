// The client's decisions without a network: host choice, wrapper, the cloud-code table, and
// the transport numbers the simulator cannot bring about. Every kind of answer over TLS is in
// CloudTransportTest.cpp.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "CloudTestSupport.h"
#include "Korvath/KvException.h"
#include "Korvath/Platform.h"
#include "Korvath/RESTClient.h"

using Korvath::RESTClient;
using Korvath::Cloud::HttpsResult;
using Op = Korvath::RESTClient::Operation;

namespace {

class RegistryScope {
 public:
  RegistryScope() { Korvath::Platform::setAgentRegistry(&registry); }
  ~RegistryScope() { Korvath::Platform::setAgentRegistry(nullptr); }
  CloudTest::MapRegistry registry;
};

const Op kAll[] = {
    Op::PostConfig,    Op::PostTransaction,   Op::PostAuthentication,      Op::PostForgotTokenAuthenticationCode,
    Op::GetPushResult, Op::PostGetUserPolicy, Op::PostGetUserPolicyOffline};

}  // namespace

TEST(CloudErrorMapping, EveryRowOfTheTable) {
  const std::vector<std::pair<std::int32_t, std::uint16_t>> table = {
      {201005001, 5113}, {201005002, 5114}, {201005003, 5116}, {201005004, 5115}, {201005012, 5108}, {201015001, 5114},
      {201015002, 5114}, {201015003, 5114}, {201015004, 5108}, {201015007, 5039}, {201015008, 5103}, {201015009, 5105},
      {201015010, 5127}, {201015011, 5106}, {201045000, 5114}, {201045001, 5113}, {201045002, 5113}, {201045003, 5113},
      {201045005, 5113}, {201045006, 5113}, {201045009, 5113}, {201045010, 5113}, {201045004, 5121}, {201045007, 5114},
      {201045008, 5116}, {201055001, 5114}, {201055002, 5114}, {201055003, 5114}, {201055006, 5105}, {201055007, 5103},
      {201055008, 5119}, {201055009, 5106}, {201105001, 5140}, {201105002, 5141}, {201105003, 5108}, {201105007, 5142},
      {201105008, 5143}, {202001001, 5107}, {202001002, 5039}, {202001003, 5113}, {202001010, 5114}, {202001030, 5114},
      {202001031, 5114}, {202001032, 5114}, {202001033, 5114}, {202001020, 5119}, {202002001, 5107}, {202002002, 5039},
      {202002010, 5107}, {202002020, 5107}, {202002011, 5117}, {202002012, 5113}, {202002021, 5113}, {202002040, 5113},
      {202002013, 5114}, {202002030, 5114}, {202002031, 5114}, {202002032, 5114}, {202006001, 5113}, {202006002, 5105},
      {202006003, 5105}, {202006004, 5103}, {202006005, 5107},
  };
  for (const auto& row : table) EXPECT_EQ(RESTClient::mapCloudErrorCode(row.first), row.second) << row.first;
  for (std::int32_t code : {201105006, 0, -1, 123, 201005000, 201005005, 202006006, 201045011, 2147483647})
    EXPECT_EQ(RESTClient::mapCloudErrorCode(code), 9999) << code;
  EXPECT_THROW(RESTClient::readErrorList(""), Korvath::Exception::KvException);
}

// Production has no environment part; the registry overrides every deployment value, and a
// port that is no number from 1 to 65535 keeps the default.
TEST(RESTClientHost, DeploymentValues) {
  EXPECT_EQ(RESTClient::buildHost("prod", "desktoplogon.", "eu", ".cloud.example"), "desktoplogon.eu.cloud.example");
  EXPECT_EQ(RESTClient::buildHost("staging", "desktoplogon.", "eu", ".cloud.example"),
            "staging.desktoplogon.eu.cloud.example");
  EXPECT_EQ(RESTClient::buildHost("Prod", "p.", "us", ".s"), "Prod.p.us.s");
  RegistryScope scope;
  RESTClient defaults("us", "qa");
  EXPECT_EQ(defaults.getHost(), "qa.desktoplogon.us.cloud.example");
  EXPECT_EQ(defaults.getPort(), 443);
  defaults.setupGetUserPolicyUrl();
  EXPECT_EQ(defaults.getHost(), "qa.policy.us.cloud.example");
  scope.registry.values = {
      {"DesktopLogonHostPrefix", "dl-"}, {"PolicyHostPrefix", ""}, {"DomainSuffix", ".test"}, {"Port", "8443"}};
  RESTClient overridden("local", "prod");
  EXPECT_EQ(overridden.getHost(), "dl-local.test");
  EXPECT_EQ(overridden.getPort(), 8443);
  overridden.setupGetUserPolicyUrl();
  EXPECT_EQ(overridden.getHost(), "local.test");
  for (const char* port : {"0", "65536", "", "80a", "-1", "123456"}) {
    scope.registry.values["Port"] = port;
    EXPECT_EQ(RESTClient("r", "prod").getPort(), 443) << port;
  }
}

TEST(RESTClientWire, WrapperIdentifierAndTargetsThatWouldChangeTheUrl) {
  // Quotes, backslashes and control characters cannot break out of the wrapper's string.
  EXPECT_EQ(RESTClient::wrapDataBody(""), R"({"data":""})");
  EXPECT_EQ(RESTClient::wrapDataBody("a\"b\\\"}"), R"({"data":"a\"b\\\"}"})");
  EXPECT_EQ(RESTClient::wrapDataBody("x\ny"), R"({"data":"x\ny"})");
  EXPECT_TRUE(RESTClient::isValidTransactionId("0f8fad5b-d9cb-469f-a165-70867728950e"));
  EXPECT_TRUE(RESTClient::isValidTransactionId("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"));
  for (const char* id : {"", "0f8fad5b-d9cb-469f-a165-70867728950", "0f8fad5b-d9cb-469f-a165-70867728950ee",
                         "../../../../config?x=1#aaaaaaaaaaaaaa", "0f8fad5b-d9cb-469f-a165-70867728950/",
                         "0f8fad5b d9cb-469f-a165-70867728950e"})
    EXPECT_FALSE(RESTClient::isValidTransactionId(id)) << id;
  Korvath::Cloud::HttpsExchange exchange;
  for (const char* host : {"", "a.example:99", "a.example/x", "user@a.example", "a.example?q", "[::1]", "a b"})
    EXPECT_EQ(exchange.open(host, 443, "GET", "/x", {}), 12005u) << host;
  for (const char* path : {"", "x", "/x?y=1", "/x#f", "/x y", "/x\\y"})
    EXPECT_EQ(exchange.open("a.invalid", 443, "GET", path, {}), 12005u) << path;
  RegistryScope scope;
  scope.registry.values = {{"DomainSuffix", ""}, {"DesktopLogonHostPrefix", ""}};
  std::string reply;
  EXPECT_EQ(RESTClient("127.0.0.1:1/", "prod").postConfig("AC1", "42", "s", reply).getResultCode(), 5116);
  EXPECT_EQ(RESTClient("r", "prod").postConfig("AC1?x=", "42", "s", reply).getResultCode(), 5116);
}

// Each transport number, for every operation. Anything else than the named ones (a TLS
// failure, a dropped connection, an oversized reply) is communication failure, no cloud code.
TEST(RESTClientOutcome, TransportErrors) {
  const std::pair<std::uint32_t, std::uint16_t> rows[] = {{12002, 5124}, {183, 5124},   {12029, 5124}, {12005, 5116},
                                                          {12007, 5137}, {12175, 5114}, {12030, 5114}, {12152, 5114},
                                                          {12004, 5114}, {404, 5114}};
  std::string reply;
  for (Op op : kAll)
    for (const auto& row : rows) {
      reply = "stale";
      const auto outcome = RESTClient::decideOutcome(op, {row.first, 0, ""}, reply);  // the transport error alone
      EXPECT_EQ(outcome.getResultCode(), row.second) << row.first;
      EXPECT_EQ(outcome.getCloudErrorCode(), 0);
      EXPECT_EQ(reply, "");
    }
  // A 12029 "status" is an answer to be read, not a connection failure.
  const auto status = RESTClient::decideOutcome(
      Op::PostConfig, {Korvath::Cloud::kHttpsNoError, 12029, R"({"errors":[{"code":"201015008","message":"m"}]})"},
      reply);
  EXPECT_EQ(status.getResultCode(), 5103);
  EXPECT_EQ(status.getCloudErrorCode(), 201015008);
}
