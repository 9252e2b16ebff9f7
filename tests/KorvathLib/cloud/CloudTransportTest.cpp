// The client against the simulator over TLS with the run's test CA: what goes on the wire,
// the outcome of each kind of answer, and network failures.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CloudTestSupport.h"
#include "Korvath/Model/ResponseData.h"
#include "Korvath/RESTClient.h"
#include "Korvath/RequestId.h"

using CloudTest::Recorded;
using Korvath::RESTClient;
using Korvath::Model::KvResult;

namespace {

const char* const kTransactionId = "0f8fad5b-d9cb-469f-a165-70867728950e";
const std::string kBase = std::string("/accounts/") + "AC1000000001" + "/resources/" + "4242";

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The client's five headers as they arrived, in arrival order, as "Name: value" lines.
std::vector<std::string> clientHeaders(const Recorded& record) {
  static const std::vector<std::string> names = {"request-id", "charset", "cache-control", "accept", "content-type"};
  std::vector<std::string> lines;
  for (const auto& header : record.headers) {
    if (std::find(names.begin(), names.end(), lower(header.first)) != names.end()) {
      lines.push_back(header.first + ": " + header.second);
    }
  }
  return lines;
}

class CloudTransport : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = CloudTest::portFromFileNamedBy("KV_CLOUDSIM_PORT_FILE");
    ASSERT_NE(port_, 0) << "KV_CLOUDSIM_PORT_FILE does not name the simulator's port file";
    const std::string ca = CloudTest::environmentValue("KV_TEST_CA_FILE");
    ASSERT_FALSE(ca.empty()) << "KV_TEST_CA_FILE is not set";
    Korvath::Cloud::HttpsExchange::addTrustAnchorFile(ca);
    pointAt(port_);
    Korvath::Platform::setAgentRegistry(&registry_);
    Korvath::clearRequestId();
    sim_.reset(new CloudTest::SimControl(port_));
    ASSERT_TRUE(sim_->reset()) << sim_->lastError();
  }

  void TearDown() override { Korvath::Platform::setAgentRegistry(nullptr); }

  void pointAt(std::uint16_t port, const std::string& suffix = "") {
    registry_.values = {{"DesktopLogonHostPrefix", ""}, {"PolicyHostPrefix", ""}, {"DomainSuffix", suffix},
                        {"Port", std::to_string(port)}};
  }

  std::vector<Recorded> recorded() {
    std::vector<Recorded> records;
    EXPECT_TRUE(sim_->requests(records)) << sim_->lastError();
    return records;
  }

  void fault(const std::string& json) { ASSERT_TRUE(sim_->fault(json)) << sim_->lastError(); }
  void reply(const std::string& route, int status, const std::string& json, unsigned count = 0) {
    ASSERT_TRUE(sim_->reply(route, status, json, count)) << sim_->lastError();
  }

  std::uint16_t port_ = 0;
  CloudTest::MapRegistry registry_;
  std::unique_ptr<CloudTest::SimControl> sim_;
};

struct Call {
  const char* route;
  const char* method;
  std::string path;
  std::function<KvResult(RESTClient&, const std::string&, std::string&)> run;
};

std::vector<Call> everyOperation() {
  const std::string a = CloudTest::kAccountId;
  const std::string r = CloudTest::kResourceId;
  return {
      {"config", "POST", "/desktoplogon" + kBase + "/config",
       [=](RESTClient& c, const std::string& s, std::string& out) { return c.postConfig(a, r, s, out); }},
      {"transaction", "POST", "/desktoplogon" + kBase + "/transaction",
       [=](RESTClient& c, const std::string& s, std::string& out) { return c.postTransaction(a, r, s, out); }},
      {"authentication", "POST", "/desktoplogon" + kBase + "/authentication",
       [=](RESTClient& c, const std::string& s, std::string& out) { return c.postAuthentication(a, r, s, out); }},
      {"authenticationcode", "POST", "/desktoplogon" + kBase + "/authenticationcode",
       [=](RESTClient& c, const std::string& s, std::string& out) {
         return c.postForgotTokenAuthenticationCode(a, r, s, out);
       }},
      {"pushresult", "GET", "/v1/desktoplogon" + kBase + "/transactions/" + kTransactionId,
       [=](RESTClient& c, const std::string&, std::string& out) { return c.getPushResult(a, r, kTransactionId, out); }},
      {"policy", "POST", "/v1" + kBase + "/policy",
       [=](RESTClient& c, const std::string& s, std::string& out) { return c.postGetUserPolicy(a, r, s, out); }},
      {"policyoffline", "POST", "/v1" + kBase + "/policy/offline",
       [=](RESTClient& c, const std::string& s, std::string& out) { return c.postGetUserPolicyOffline(a, r, s, out); }},
  };
}

Call operation(const std::string& route) {
  for (auto& call : everyOperation()) {
    if (route == call.route) return call;
  }
  return everyOperation().front();
}

}  // namespace

TEST_F(CloudTransport, EachOperationOnTheWire) {
  RESTClient client("localhost", "prod");
  for (const Call& call : everyOperation()) {
    SCOPED_TRACE(call.route);
    ASSERT_TRUE(sim_->reset()) << sim_->lastError();
    const std::string answer = std::string("{\"answer\":\"") + call.route + "\"}";
    reply(call.route, 200, answer);
    const std::string plain = std::string("{\"question\":\"") + call.route + "\"}";
    const std::string sealed = CloudTest::seal(plain);
    ASSERT_FALSE(sealed.empty());
    std::string out;
    const KvResult result = call.run(client, sealed, out);
    EXPECT_EQ(result.getResultCode(), 0);
    EXPECT_EQ(result.getCloudErrorCode(), 0);
    EXPECT_EQ(result.getRequestId(), client.getRequestId());
    if (std::string(call.method) == "GET") {
      // The push result comes back as the raw envelope.
      Korvath::Model::ResponseData envelope;
      ASSERT_EQ(envelope.fillFromJson(out), 0) << out;
      EXPECT_EQ(CloudTest::open(envelope.getData()), answer);
    } else {
      EXPECT_EQ(CloudTest::open(out), answer);
    }

    const auto records = recorded();
    ASSERT_EQ(records.size(), 1u);
    const Recorded& record = records.front();
    EXPECT_EQ(record.method, call.method);
    EXPECT_EQ(record.path, call.path);
    const std::vector<std::string> expected = {"Request-Id: " + client.getRequestId(), "charset: UTF-8",
                                               "Cache-Control: no-cache", "Accept: application/json",
                                               "Content-Type: application/json"};
    EXPECT_EQ(clientHeaders(record), expected);
    if (std::string(call.method) == "GET") {
      EXPECT_EQ(record.body, "");
      EXPECT_FALSE(record.hasOpened);
    } else {
      EXPECT_EQ(record.body, "{\"data\":\"" + sealed + "\"}");
      ASSERT_TRUE(record.hasOpened);
      EXPECT_EQ(record.opened, plain);
    }
  }
}

TEST_F(CloudTransport, OneRequestIdPerAttempt) {
  std::vector<std::string> ids;
  {
    RESTClient first("localhost", "prod");
    RESTClient second("localhost", "prod");
    std::string out;
    ids.push_back(first.postConfig(CloudTest::kAccountId, CloudTest::kResourceId, CloudTest::seal("{}"), out).getRequestId());
    ids.push_back(first.getPushResult(CloudTest::kAccountId, CloudTest::kResourceId, kTransactionId, out).getRequestId());
    ids.push_back(second.postGetUserPolicy(CloudTest::kAccountId, CloudTest::kResourceId, CloudTest::seal("{}"), out).getRequestId());
    ids.push_back(second.postTransaction(CloudTest::kAccountId, "999", CloudTest::seal("{}"), out).getRequestId());
  }
  const auto records = recorded();
  ASSERT_EQ(records.size(), 4u);
  ASSERT_FALSE(ids[0].empty());
  for (std::size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(ids[i], ids[0]);
    EXPECT_EQ(clientHeaders(records[i]).front(), "Request-Id: " + ids[0]);
  }
  // The next attempt has its own identifier.
  Korvath::clearRequestId();
  RESTClient next("localhost", "prod");
  std::string out;
  const KvResult result = next.postConfig(CloudTest::kAccountId, CloudTest::kResourceId, CloudTest::seal("{}"), out);
  EXPECT_NE(result.getRequestId(), ids[0]);
  const auto after = recorded();
  ASSERT_EQ(after.size(), 5u);
  EXPECT_EQ(clientHeaders(after.back()).front(), "Request-Id: " + result.getRequestId());
}

TEST_F(CloudTransport, SuccessStatusesPerOperation) {
  RESTClient client("localhost", "prod");
  std::string out;
  // 201 is success for a transaction only.
  reply("transaction", 201, "{\"transactionId\":\"t\"}", 1);
  KvResult result = operation("transaction").run(client, CloudTest::seal("{}"), out);
  EXPECT_EQ(result.getResultCode(), 0);
  EXPECT_EQ(CloudTest::open(out), "{\"transactionId\":\"t\"}");

  reply("config", 201, "{}");
  result = operation("config").run(client, CloudTest::seal("{}"), out);
  EXPECT_EQ(result.getResultCode(), 5114);  // an envelope is no error list
  EXPECT_EQ(result.getCloudErrorCode(), 0);
  fault(R"({"route":"authentication","status":201,"body":"{\"errors\":[{\"code\":\"201015008\",\"message\":\"m\"}]}"})");
  result = operation("authentication").run(client, CloudTest::seal("{}"), out);
  EXPECT_EQ(result.getResultCode(), 5103);
  EXPECT_EQ(result.getCloudErrorCode(), 201015008);

  // 202 keeps a push waiting, then 200 ends it.
  reply("pushresult", 202, "{\"status\":\"pending\"}", 1);
  reply("pushresult", 200, "{\"status\":\"approved\"}");
  result = operation("pushresult").run(client, "", out);
  EXPECT_EQ(result.getResultCode(), 5121);
  EXPECT_NE(out.find("\"data\""), std::string::npos);
  result = operation("pushresult").run(client, "", out);
  EXPECT_EQ(result.getResultCode(), 0);
  Korvath::Model::ResponseData envelope;
  ASSERT_EQ(envelope.fillFromJson(out), 0);
  EXPECT_EQ(CloudTest::open(envelope.getData()), "{\"status\":\"approved\"}");
  // 202 is an error status for the other operations.
  reply("transaction", 202, "{}", 1);
  EXPECT_EQ(operation("transaction").run(client, CloudTest::seal("{}"), out).getResultCode(), 5114);
}

TEST_F(CloudTransport, ErrorStatusTextAndBrokenEnvelope) {
  RESTClient client("localhost", "prod");
  std::string out;
  const std::string sealed = CloudTest::seal("{\"k\":1}");
  const std::string withBlank = "{\"data\":\"" + sealed + "\",\"status\": \"error\"}";
  const std::string withoutBlank = "{\"data\":\"" + sealed + "\",\"status\":\"error\"}";
  for (const Call& call : everyOperation()) {
    SCOPED_TRACE(call.route);
    ASSERT_TRUE(sim_->reset());
    fault("{\"route\":\"*\",\"status\":200,\"body\":" + CloudTest::quote(withBlank) + ",\"count\":1}");
    fault("{\"route\":\"*\",\"status\":200,\"body\":" + CloudTest::quote(withoutBlank) + ",\"count\":1}");
    fault(R"({"route":"*","status":200,"body":"{\"data\":","count":1})");
    KvResult result = call.run(client, CloudTest::seal("{}"), out);
    EXPECT_EQ(result.getResultCode(), 5116);
    EXPECT_EQ(out, withBlank);
    result = call.run(client, CloudTest::seal("{}"), out);
    EXPECT_EQ(result.getResultCode(), 0);
    EXPECT_EQ(out, std::string(call.method) == "GET" ? withoutBlank : sealed);
    result = call.run(client, CloudTest::seal("{}"), out);
    if (std::string(call.method) == "GET") {
      EXPECT_EQ(result.getResultCode(), 0);  // the push result is not unwrapped
    } else {
      EXPECT_EQ(result.getResultCode(), 5116);
    }
    EXPECT_EQ(out, "{\"data\":");
  }
}

TEST_F(CloudTransport, PolicyStatusesUseTheTable) {
  RESTClient client("localhost", "prod");
  std::string out;
  const std::string known = R"({"errors":[{"code":"201105008","message":"not allowed"}]})";
  const std::string unknown = R"({"errors":[{"code":"201105006","message":"?"}]})";
  for (const char* route : {"policy", "policyoffline"}) {
    for (int status : {400, 401, 404}) {
      SCOPED_TRACE(std::string(route) + " " + std::to_string(status));
      ASSERT_TRUE(sim_->reset());
      fault("{\"route\":\"" + std::string(route) + "\",\"status\":" + std::to_string(status) +
            ",\"body\":" + CloudTest::quote(known) + ",\"count\":1}");
      fault("{\"route\":\"" + std::string(route) + "\",\"status\":" + std::to_string(status) +
            ",\"body\":" + CloudTest::quote(unknown) + ",\"count\":1}");
      KvResult result = operation(route).run(client, CloudTest::seal("{}"), out);
      EXPECT_EQ(result.getResultCode(), 5143);
      EXPECT_EQ(result.getCloudErrorCode(), 201105008);
      EXPECT_EQ(out, known);
      result = operation(route).run(client, CloudTest::seal("{}"), out);
      EXPECT_EQ(result.getResultCode(), 9999);
      EXPECT_EQ(result.getCloudErrorCode(), 201105006);
    }
    ASSERT_TRUE(sim_->reset());
    fault("{\"route\":\"" + std::string(route) + "\",\"status\":500,\"body\":" + CloudTest::quote(unknown) + "}");
    const KvResult server = operation(route).run(client, CloudTest::seal("{}"), out);
    EXPECT_EQ(server.getResultCode(), 5223);
    EXPECT_EQ(server.getCloudErrorCode(), 201105006);
  }
}

TEST_F(CloudTransport, ErrorListEdgeCases) {
  RESTClient client("localhost", "prod");
  std::string out;
  struct Case {
    const char* body;
    std::uint16_t code;
    std::int32_t cloud;
  };
  const Case cases[] = {
      {R"({"errors":[{"code":"201015008","message":"a"},{"code":"202002011","message":"b"}]})", 5117, 202002011},
      {R"({"errors":[{"code":"999","message":"a"},{"code":"201055008","message":"b"}]})", 5119, 201055008},
      {R"({"errors":[{"code":"123","message":"a"}]})", 5219, 123},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    ASSERT_TRUE(sim_->reset());
    fault(std::string("{\"route\":\"transaction\",\"status\":400,\"body\":") + CloudTest::quote(c.body) + "}");
    const KvResult result = operation("transaction").run(client, CloudTest::seal("{}"), out);
    EXPECT_EQ(result.getResultCode(), c.code);
    EXPECT_EQ(result.getCloudErrorCode(), c.cloud);
    EXPECT_EQ(out, c.body);
  }
  // The default of each operation when no code is known.
  const std::pair<const char*, std::uint16_t> defaults[] = {
      {"config", 5151},     {"transaction", 5219}, {"authentication", 5218}, {"authenticationcode", 5218},
      {"pushresult", 5220}, {"policy", 5223},      {"policyoffline", 5223}};
  for (const auto& d : defaults) {
    SCOPED_TRACE(d.first);
    ASSERT_TRUE(sim_->reset());
    fault(std::string("{\"route\":\"") + d.first + R"(","status":500,"body":"{\"errors\":[{\"code\":\"42\"}]}"})");
    const KvResult result = operation(d.first).run(client, CloudTest::seal("{}"), out);
    EXPECT_EQ(result.getResultCode(), d.second);
    EXPECT_EQ(result.getCloudErrorCode(), 42);
  }
}

TEST_F(CloudTransport, EmptyOrUnreadableErrorBody) {
  RESTClient client("localhost", "prod");
  std::string out;
  for (const Call& call : everyOperation()) {
    SCOPED_TRACE(call.route);
    ASSERT_TRUE(sim_->reset());
    fault(R"({"route":"*","status":500,"count":1})");
    fault(R"({"route":"*","status":404,"body":"","count":1})");
    fault(R"({"route":"*","status":502,"body":"<html>bad gateway</html>","count":1})");
    for (const char* body : {"", "", "<html>bad gateway</html>"}) {
      const KvResult result = call.run(client, CloudTest::seal("{}"), out);
      EXPECT_EQ(result.getResultCode(), 5114);
      EXPECT_EQ(result.getCloudErrorCode(), 0);
      EXPECT_EQ(out, body);
      EXPECT_EQ(result.getRequestId(), client.getRequestId());
    }
  }
}

TEST_F(CloudTransport, InvalidTransactionIdentifierIsNotSent) {
  RESTClient client("localhost", "prod");
  std::string out = "stale";
  const KvResult result = client.getPushResult(CloudTest::kAccountId, CloudTest::kResourceId, "../../config", out);
  EXPECT_EQ(result.getResultCode(), 5154);
  EXPECT_EQ(result.getCloudErrorCode(), 0);
  EXPECT_EQ(result.getRequestId(), client.getRequestId());
  EXPECT_EQ(out, "");
  EXPECT_TRUE(recorded().empty());
}

TEST_F(CloudTransport, ClosedPort) {
  const std::uint16_t closed = CloudTest::closedPort();
  ASSERT_NE(closed, 0);
  pointAt(closed);
  RESTClient client("localhost", "prod");
  std::string out = "stale";
  const KvResult result = client.postConfig(CloudTest::kAccountId, CloudTest::kResourceId, CloudTest::seal("{}"), out);
  EXPECT_EQ(result.getResultCode(), 5124);
  EXPECT_EQ(result.getCloudErrorCode(), 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(result.getRequestId(), client.getRequestId());
}

TEST_F(CloudTransport, UnresolvableName) {
  pointAt(port_, ".kv-test.invalid");
  RESTClient client("localhost", "prod");
  EXPECT_EQ(client.getHost(), "localhost.kv-test.invalid");
  std::string out;
  const KvResult result = client.postConfig(CloudTest::kAccountId, CloudTest::kResourceId, CloudTest::seal("{}"), out);
  EXPECT_EQ(result.getResultCode(), 5137);
  EXPECT_EQ(result.getCloudErrorCode(), 0);
}

TEST_F(CloudTransport, SilentServerTimesOut) {
  fault(R"({"route":"config","delayMs":7000,"count":1})");
  RESTClient client("localhost", "prod");
  std::string out;
  const KvResult result = client.postConfig(CloudTest::kAccountId, CloudTest::kResourceId, CloudTest::seal("{}"), out);
  EXPECT_EQ(result.getResultCode(), 5124);
  EXPECT_EQ(result.getCloudErrorCode(), 0);
  // At the transport: the timeout's own error number, not a status.
  fault(R"({"route":"policy","delayMs":7000,"count":1})");
  Korvath::Cloud::HttpsExchange exchange;
  ASSERT_EQ(exchange.open("localhost", port_, "POST", "/v1" + kBase + "/policy", RESTClient::requestHeaders("x")), 0u);
  const Korvath::Cloud::HttpsResult timedOut = exchange.sendAndReceive(RESTClient::wrapDataBody(CloudTest::seal("{}")));
  EXPECT_EQ(timedOut.transportError, static_cast<std::uint32_t>(Korvath::Cloud::kHttpsErrorTimeout));
  EXPECT_EQ(timedOut.httpStatus, 0u);
}

// Both transports name each failure with the same WinHTTP number (their outcomes:
// RESTClientLogicTest's TransportErrors).
TEST_F(CloudTransport, TransportNumbersOfBothFlavours) {
  Korvath::Cloud::HttpsExchange exchange;
  const auto numberOf = [&](const std::string& host, std::uint16_t port) {
    EXPECT_EQ(exchange.open(host, port, "GET", "/v1/desktoplogon" + kBase + "/transactions/" + kTransactionId,
                            RESTClient::requestHeaders("x")),
              0u);
    const Korvath::Cloud::HttpsResult result = exchange.sendAndReceive("");
    EXPECT_EQ(result.httpStatus, 0u);
    return result.transportError;
  };
  EXPECT_EQ(numberOf("localhost", CloudTest::closedPort()), 12029u);
  EXPECT_EQ(numberOf("localhost.kv-test.invalid", port_), 12007u);
  fault(R"({"route":"pushresult","close":true,"count":1})");
  EXPECT_EQ(numberOf("localhost", port_), 12152u);
}

TEST_F(CloudTransport, OversizedReplyIsAnError) {
  // Sealed and wrapped, 900 000 characters of plain text grow beyond 1 MiB.
  reply("config", 200, "{\"x\":\"" + std::string(900000, 'a') + "\"}");
  reply("policy", 200, "{\"x\":\"" + std::string(1000, 'a') + "\"}");
  RESTClient client("localhost", "prod");
  std::string out;
  const KvResult big = client.postConfig(CloudTest::kAccountId, CloudTest::kResourceId, CloudTest::seal("{}"), out);
  EXPECT_EQ(big.getResultCode(), 5114);
  EXPECT_EQ(big.getCloudErrorCode(), 0);
  EXPECT_EQ(out, "");
  const KvResult small = client.postGetUserPolicy(CloudTest::kAccountId, CloudTest::kResourceId, CloudTest::seal("{}"), out);
  EXPECT_EQ(small.getResultCode(), 0);
}
