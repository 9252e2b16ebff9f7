// The client's decisions without a network: host choice, wrapper, status phrases, and the
// outcomes the simulator cannot bring about (transport numbers of every kind, odd statuses).
// Every operation's outcomes over TLS are in CloudTransportTest.cpp.

#include <gtest/gtest.h>

#include <string>

#include "CloudTestSupport.h"
#include "Korvath/Platform.h"
#include "Korvath/RESTClient.h"
#include "Korvath/ResultCodes.h"

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

HttpsResult answer(std::uint32_t status, const std::string& body) {
  HttpsResult result;
  result.httpStatus = status;
  result.body = body;
  return result;
}

HttpsResult failure(std::uint32_t error) {
  HttpsResult result;
  result.transportError = error;
  return result;
}

struct Outcome {
  std::uint16_t code;
  std::int32_t cloud;
  std::string reply;
};

Outcome decide(Op op, const HttpsResult& exchange) {
  std::string reply = "stale";
  auto result = RESTClient::decideOutcome(op, exchange, reply);
  EXPECT_EQ(result.getRequestId(), "");
  return {result.getResultCode(), result.getCloudErrorCode(), reply};
}

const Op kAll[] = {Op::PostConfig, Op::PostTransaction, Op::PostAuthentication, Op::PostForgotTokenAuthenticationCode,
                   Op::GetPushResult, Op::PostGetUserPolicy, Op::PostGetUserPolicyOffline};
const Op kPosts[] = {Op::PostConfig, Op::PostTransaction, Op::PostAuthentication,
                     Op::PostForgotTokenAuthenticationCode, Op::PostGetUserPolicy, Op::PostGetUserPolicyOffline};

const char* kUnknownCodeList = R"({"errors":[{"code":"123","message":"?"}]})";
const char* kUserNotFoundList = R"({"errors":[{"code":"201015008","message":"User not found"}]})";

}  // namespace

TEST(RESTClientHost, ProductionHasNoEnvironmentPart) {
  EXPECT_EQ(RESTClient::buildHost("prod", "desktoplogon.", "eu", ".cloud.example"), "desktoplogon.eu.cloud.example");
  EXPECT_EQ(RESTClient::buildHost("staging", "desktoplogon.", "eu", ".cloud.example"),
            "staging.desktoplogon.eu.cloud.example");
  EXPECT_EQ(RESTClient::buildHost("", "desktoplogon.", "eu", ".cloud.example"), ".desktoplogon.eu.cloud.example");
  EXPECT_EQ(RESTClient::buildHost("Prod", "p.", "us", ".s"), "Prod.p.us.s");
}

TEST(RESTClientHost, DefaultsAndPolicySwitch) {
  RegistryScope scope;
  RESTClient client("us", "qa");
  EXPECT_EQ(client.getHost(), "qa.desktoplogon.us.cloud.example");
  EXPECT_EQ(client.getPort(), 443);
  client.setupGetUserPolicyUrl();
  EXPECT_EQ(client.getHost(), "qa.policy.us.cloud.example");
}

TEST(RESTClientHost, RegistryOverridesDeploymentValues) {
  RegistryScope scope;
  scope.registry.values = {{"DesktopLogonHostPrefix", "dl-"}, {"PolicyHostPrefix", ""}, {"DomainSuffix", ".test"}, {"Port", "8443"}};
  RESTClient client("local", "prod");
  EXPECT_EQ(client.getHost(), "dl-local.test");
  EXPECT_EQ(client.getPort(), 8443);
  client.setupGetUserPolicyUrl();
  EXPECT_EQ(client.getHost(), "local.test");
}

TEST(RESTClientHost, BadPortValueKeepsTheDefault) {
  RegistryScope scope;
  for (const char* port : {"0", "65536", "", "80a", "-1", "123456"}) {
    scope.registry.values["Port"] = port;
    RESTClient client("r", "prod");
    EXPECT_EQ(client.getPort(), 443) << port;
  }
}

TEST(RESTClientWire, WrapperIsWrittenByTheJsonWriter) {
  EXPECT_EQ(RESTClient::wrapDataBody("abc"), R"({"data":"abc"})");
  EXPECT_EQ(RESTClient::wrapDataBody(""), R"({"data":""})");
  // Quotes, backslashes and control characters cannot break out of the string.
  EXPECT_EQ(RESTClient::wrapDataBody("a\"b\\\"}"), R"({"data":"a\"b\\\"}"})");
  EXPECT_EQ(RESTClient::wrapDataBody("x\ny"), R"({"data":"x\ny"})");
}

TEST(RESTClientWire, TransactionIdentifierShape) {
  EXPECT_TRUE(RESTClient::isValidTransactionId("0f8fad5b-d9cb-469f-a165-70867728950e"));
  EXPECT_TRUE(RESTClient::isValidTransactionId("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"));
  EXPECT_FALSE(RESTClient::isValidTransactionId(""));
  EXPECT_FALSE(RESTClient::isValidTransactionId("0f8fad5b-d9cb-469f-a165-70867728950"));
  EXPECT_FALSE(RESTClient::isValidTransactionId("0f8fad5b-d9cb-469f-a165-70867728950ee"));
  EXPECT_FALSE(RESTClient::isValidTransactionId("../../../../config?x=1#aaaaaaaaaaaaaa"));
  EXPECT_FALSE(RESTClient::isValidTransactionId("0f8fad5b-d9cb-469f-a165-70867728950/"));
  EXPECT_FALSE(RESTClient::isValidTransactionId("0f8fad5b d9cb-469f-a165-70867728950e"));
}

TEST(RESTClientStatusText, Phrases) {
  EXPECT_EQ(RESTClient::getHttpStatusText(200), "request completed");
  EXPECT_EQ(RESTClient::getHttpStatusText(201), "object created, reason = new URI");
  EXPECT_EQ(RESTClient::getHttpStatusText(202), "async completion (TBS)");
  EXPECT_EQ(RESTClient::getHttpStatusText(308), "Object permanently moved keep verb");
  EXPECT_EQ(RESTClient::getHttpStatusText(404), "object not found");
  EXPECT_EQ(RESTClient::getHttpStatusText(449), "retry after doing the appropriate action.");
  EXPECT_EQ(RESTClient::getHttpStatusText(505), "HTTP version not supported");
  for (std::uint32_t value : {0u, 306u, 416u, 506u, 12002u, 12029u, 183u}) {
    EXPECT_EQ(RESTClient::getHttpStatusText(value), "") << value;
  }
  int known = 0;
  for (std::uint32_t status = 0; status < 1000; ++status) known += RESTClient::getHttpStatusText(status).empty() ? 0 : 1;
  EXPECT_EQ(known, 41);
}

TEST(RESTClientOutcome, TransportErrors) {
  for (Op op : kAll) {
    EXPECT_EQ(decide(op, failure(12002)).code, 5124);
    EXPECT_EQ(decide(op, failure(183)).code, 5124);
    const Outcome refused = decide(op, failure(12029));
    EXPECT_EQ(refused.code, 5124);
    EXPECT_EQ(refused.cloud, 0);
    EXPECT_EQ(refused.reply, "");
    EXPECT_EQ(decide(op, failure(12005)).code, 5116);
    EXPECT_EQ(decide(op, failure(12007)).code, 5137);
    // Anything else (a TLS failure, a dropped connection, an oversized reply) is an error
    // without a list: communication failure, no cloud code.
    for (std::uint32_t error : {12175u, 12030u, 12152u, 12004u}) {
      const Outcome other = decide(op, failure(error));
      EXPECT_EQ(other.code, 5114) << error;
      EXPECT_EQ(other.cloud, 0);
    }
  }
}

TEST(RESTClientOutcome, TransportErrorNeverPassesForAStatus) {
  // 404 as a transport number is not an HTTP 404 of a policy operation.
  const Outcome outcome = decide(Op::PostGetUserPolicy, failure(404));
  EXPECT_EQ(outcome.code, 5114);
  // And a 12029 "status" is an answer to be read, not a connection failure.
  const Outcome status = decide(Op::PostConfig, answer(12029, kUserNotFoundList));
  EXPECT_EQ(status.code, 5103);
  EXPECT_EQ(status.cloud, 201015008);
}

TEST(RESTClientOutcome, BrokenEnvelope) {
  for (Op op : kPosts) {
    for (const char* body : {"", "{", R"({"dat":"x"})", R"({"data":1})", "[]"}) {
      const Outcome broken = decide(op, answer(200, body));
      EXPECT_EQ(broken.code, 5116) << body;
      EXPECT_EQ(broken.reply, body);
    }
  }
}

TEST(RESTClientOutcome, CasesTheSimulatorSuiteDoesNotReach) {
  // The push result is handed back unread, even when it is no JSON at all.
  EXPECT_EQ(decide(Op::GetPushResult, answer(200, "not json")).code, 0);
  // 201 and 202 are error statuses outside their own operations.
  EXPECT_EQ(decide(Op::GetPushResult, answer(201, kUnknownCodeList)).code, 5220);
  EXPECT_EQ(decide(Op::PostTransaction, answer(202, kUnknownCodeList)).code, 5219);
  for (Op op : {Op::PostGetUserPolicy, Op::PostGetUserPolicyOffline}) {
    // 400/401/404 of a policy operation take the table value of the highest code alone,
    // even when a lower code is known.
    const Outcome mixed = decide(op, answer(401, R"({"errors":[{"code":"201015008"},{"code":"201105006"}]})"));
    EXPECT_EQ(mixed.code, 9999);
    EXPECT_EQ(mixed.cloud, 201105006);
    // Other client errors use the default.
    EXPECT_EQ(decide(op, answer(403, kUnknownCodeList)).code, 5223);
    // An error list without entries is as unreadable as any other body.
    const Outcome empty = decide(op, answer(404, R"({"errors":[]})"));
    EXPECT_EQ(empty.code, 5114);
    EXPECT_EQ(empty.cloud, 0);
  }
}

TEST(RESTClientWire, TargetsThatWouldChangeTheUrlAreRefusedBeforeSending) {
  Korvath::Cloud::HttpsExchange exchange;
  for (const char* host : {"", "a.example:99", "a.example/x", "user@a.example", "a.example?q", "[::1]", "a b"}) {
    EXPECT_EQ(exchange.open(host, 443, "GET", "/x", {}), 12005u) << host;
  }
  for (const char* path : {"", "x", "/x?y=1", "/x#f", "/x y", "/x\\y"}) {
    EXPECT_EQ(exchange.open("a.invalid", 443, "GET", path, {}), 12005u) << path;
  }
  RegistryScope scope;
  scope.registry.values = {{"DomainSuffix", ""}, {"DesktopLogonHostPrefix", ""}};
  RESTClient client("127.0.0.1:1/", "prod");
  std::string reply;
  EXPECT_EQ(client.postConfig("AC1", "42", "s", reply).getResultCode(), 5116);
  RESTClient other("r", "prod");
  EXPECT_EQ(other.postConfig("AC1?x=", "42", "s", reply).getResultCode(), 5116);
}
