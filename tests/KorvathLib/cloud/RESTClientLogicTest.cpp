// The client's decisions without a network: host choice, wrapper, headers, status phrases
// and the outcome of every kind of answer.

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "Korvath/Platform.h"
#include "Korvath/RESTClient.h"
#include "Korvath/RequestId.h"
#include "Korvath/ResultCodes.h"

using Korvath::RESTClient;
using Korvath::Cloud::HttpsResult;
using Op = Korvath::RESTClient::Operation;

namespace {

class MapRegistry : public Korvath::Platform::IRegistry {
 public:
  bool getString(const std::string& name, std::string& value) override {
    auto it = values.find(name);
    if (it == values.end()) return false;
    value = it->second;
    return true;
  }
  bool setString(const std::string& name, const std::string& value) override {
    values[name] = value;
    return true;
  }
  bool deleteValue(const std::string& name) override { return values.erase(name) > 0; }
  std::map<std::string, std::string> values;
};

class RegistryScope {
 public:
  RegistryScope() { Korvath::Platform::setAgentRegistry(&registry); }
  ~RegistryScope() { Korvath::Platform::setAgentRegistry(nullptr); }
  MapRegistry registry;
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

std::uint16_t defaultOf(Op op) {
  switch (op) {
    case Op::PostConfig: return 5151;
    case Op::PostTransaction: return 5219;
    case Op::PostAuthentication:
    case Op::PostForgotTokenAuthenticationCode: return 5218;
    case Op::GetPushResult: return 5220;
    default: return 5223;
  }
}

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

TEST(RESTClientRequestId, OneIdentifierPerAttempt) {
  RegistryScope scope;
  Korvath::clearRequestId();
  RESTClient first("r", "prod");
  RESTClient second("r", "dev");
  EXPECT_FALSE(first.getRequestId().empty());
  EXPECT_EQ(first.getRequestId(), second.getRequestId());
  EXPECT_EQ(Korvath::currentRequestId(), first.getRequestId());
  Korvath::clearRequestId();
  RESTClient next("r", "prod");
  EXPECT_FALSE(next.getRequestId().empty());
  EXPECT_NE(next.getRequestId(), first.getRequestId());
}

TEST(RESTClientWire, WrapperIsWrittenByTheJsonWriter) {
  EXPECT_EQ(RESTClient::wrapDataBody("abc"), R"({"data":"abc"})");
  EXPECT_EQ(RESTClient::wrapDataBody(""), R"({"data":""})");
  // Quotes, backslashes and control characters cannot break out of the string.
  EXPECT_EQ(RESTClient::wrapDataBody("a\"b\\\"}"), R"({"data":"a\"b\\\"}"})");
  EXPECT_EQ(RESTClient::wrapDataBody("x\ny"), R"({"data":"x\ny"})");
}

TEST(RESTClientWire, FiveHeadersInOrder) {
  const auto headers = RESTClient::requestHeaders("abc-123");
  ASSERT_EQ(headers.size(), 5u);
  EXPECT_EQ(headers[0], "Request-Id: abc-123");
  EXPECT_EQ(headers[1], "charset: UTF-8");
  EXPECT_EQ(headers[2], "Cache-Control: no-cache");
  EXPECT_EQ(headers[3], "Accept: application/json");
  EXPECT_EQ(headers[4], "Content-Type: application/json");
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

TEST(RESTClientWire, InvalidTransactionIdentifierIsRefusedWithoutSending) {
  RegistryScope scope;
  // A host that would fail to resolve: a refusal must come before any network use.
  scope.registry.values = {{"DomainSuffix", ".invalid"}};
  RESTClient client("r", "prod");
  std::string reply = "stale";
  auto result = client.getPushResult("AC1", "42", "../config", reply);
  EXPECT_EQ(result.getResultCode(), 5154);
  EXPECT_EQ(result.getCloudErrorCode(), 0);
  EXPECT_EQ(result.getRequestId(), client.getRequestId());
  EXPECT_EQ(reply, "");
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

TEST(RESTClientOutcome, SuccessUnwrapsTheEnvelope) {
  for (Op op : kPosts) {
    const Outcome ok = decide(op, answer(200, R"({"data":"SEALED"})"));
    EXPECT_EQ(ok.code, 0);
    EXPECT_EQ(ok.cloud, 0);
    EXPECT_EQ(ok.reply, "SEALED");
  }
  const Outcome created = decide(Op::PostTransaction, answer(201, R"({"data":"T"})"));
  EXPECT_EQ(created.code, 0);
  EXPECT_EQ(created.reply, "T");
}

TEST(RESTClientOutcome, CreatedIsAnErrorExceptForTransactions) {
  const Outcome config = decide(Op::PostConfig, answer(201, kUserNotFoundList));
  EXPECT_EQ(config.code, 5103);
  EXPECT_EQ(config.cloud, 201015008);
  EXPECT_EQ(config.reply, kUserNotFoundList);
  const Outcome unknown = decide(Op::PostConfig, answer(201, R"({"data":"x"})"));
  EXPECT_EQ(unknown.code, 5114);
  EXPECT_EQ(unknown.cloud, 0);
}

TEST(RESTClientOutcome, ErrorStatusTextInASuccessfulReply) {
  const std::string withBlank = R"({"data":"x","status": "error"})";
  const std::string withoutBlank = R"({"data":"x","status":"error"})";
  for (Op op : kAll) {
    const Outcome marked = decide(op, answer(200, withBlank));
    EXPECT_EQ(marked.code, 5116);
    EXPECT_EQ(marked.reply, withBlank);
  }
  for (Op op : kPosts) {
    const Outcome plain = decide(op, answer(200, withoutBlank));
    EXPECT_EQ(plain.code, 0);
    EXPECT_EQ(plain.reply, "x");
  }
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

TEST(RESTClientOutcome, PushResult) {
  const Outcome done = decide(Op::GetPushResult, answer(200, R"({"data":"kept wrapped"})"));
  EXPECT_EQ(done.code, 0);
  EXPECT_EQ(done.reply, R"({"data":"kept wrapped"})");
  const Outcome unparsable = decide(Op::GetPushResult, answer(200, "not json"));
  EXPECT_EQ(unparsable.code, 0);
  const Outcome waiting = decide(Op::GetPushResult, answer(202, R"({"data":"w"})"));
  EXPECT_EQ(waiting.code, 5121);
  EXPECT_EQ(waiting.reply, R"({"data":"w"})");
  EXPECT_EQ(decide(Op::GetPushResult, answer(201, kUnknownCodeList)).code, 5220);
  EXPECT_EQ(decide(Op::PostTransaction, answer(202, kUnknownCodeList)).code, 5219);
}

TEST(RESTClientOutcome, PolicyClientErrorsUseTheTableAlone) {
  for (Op op : {Op::PostGetUserPolicy, Op::PostGetUserPolicyOffline}) {
    for (std::uint32_t status : {400u, 401u, 404u}) {
      const Outcome known = decide(op, answer(status, kUserNotFoundList));
      EXPECT_EQ(known.code, 5103);
      EXPECT_EQ(known.cloud, 201015008);
      EXPECT_EQ(known.reply, kUserNotFoundList);
      const Outcome unknown = decide(op, answer(status, kUnknownCodeList));
      EXPECT_EQ(unknown.code, 9999);
      EXPECT_EQ(unknown.cloud, 123);
      // Highest code decides even when a lower one is known.
      const Outcome mixed =
          decide(op, answer(status, R"({"errors":[{"code":"201015008"},{"code":"201105006"}]})"));
      EXPECT_EQ(mixed.code, 9999);
      EXPECT_EQ(mixed.cloud, 201105006);
    }
    const Outcome server = decide(op, answer(500, kUnknownCodeList));
    EXPECT_EQ(server.code, 5223);
    EXPECT_EQ(server.cloud, 123);
    EXPECT_EQ(decide(op, answer(403, kUnknownCodeList)).code, 5223);
  }
}

TEST(RESTClientOutcome, ErrorPathUsesTheListThenTheDefault) {
  for (Op op : kAll) {
    for (std::uint32_t status : {400u, 401u, 404u, 500u, 503u}) {
      if ((op == Op::PostGetUserPolicy || op == Op::PostGetUserPolicyOffline) && status < 500) continue;
      const Outcome unknown = decide(op, answer(status, kUnknownCodeList));
      EXPECT_EQ(unknown.code, defaultOf(op));
      EXPECT_EQ(unknown.cloud, 123);
      EXPECT_EQ(unknown.reply, kUnknownCodeList);
      const Outcome known = decide(op, answer(status, R"({"errors":[{"code":"201015008"},{"code":"202002011"}]})"));
      EXPECT_EQ(known.code, 5117);
      EXPECT_EQ(known.cloud, 202002011);
      const Outcome resource = decide(op, answer(status, R"({"errors":[{"code":"201005012","message":"gone"}]})"));
      EXPECT_EQ(resource.code, 5108);
      EXPECT_EQ(resource.cloud, 201005012);
    }
  }
}

TEST(RESTClientOutcome, EmptyOrUnreadableErrorBodyIsACommunicationFailure) {
  for (Op op : kAll) {
    for (std::uint32_t status : {400u, 404u, 500u}) {
      for (const char* body : {"", "<html>oops</html>", R"({"errors":[]})"}) {
        const Outcome outcome = decide(op, answer(status, body));
        EXPECT_EQ(outcome.code, 5114) << body;
        EXPECT_EQ(outcome.cloud, 0);
        EXPECT_EQ(outcome.reply, body);
      }
    }
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
