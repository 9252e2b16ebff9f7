// The client against the simulator over TLS with the run's test CA: what goes on the wire,
// the outcome of each kind of answer, and network failures.

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cctype>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "CloudTestSupport.h"
#include "Korvath/Model/ResponseData.h"
#include "Korvath/RESTClient.h"
#include "Korvath/RequestId.h"

using namespace std::string_literals;
using CloudTest::Recorded;
using Korvath::RESTClient;
using Korvath::Model::KvResult;

namespace {

const char* const kTransactionId = "0f8fad5b-d9cb-469f-a165-70867728950e";
const std::string kBase = std::string("/accounts/") + "AC1000000001" + "/resources/" + "4242";

// The client's five headers as they arrived, in arrival order, as "Name: value" lines.
std::vector<std::string> clientHeaders(const Recorded& record) {
  static const std::vector<std::string> names = {"request-id", "charset", "cache-control", "accept", "content-type"};
  std::vector<std::string> lines;
  for (const auto& header : record.headers) {
    std::string name = header.first;
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (std::find(names.begin(), names.end(), name) != names.end())
      lines.push_back(header.first + ": " + header.second);
  }
  return lines;
}

using CloudTransport = CloudTest::SimTest;

using Operation = KvResult (RESTClient::*)(const std::string&, const std::string&, const std::string&, std::string&);

struct Call {
  const char* route;
  const char* method;
  std::string path;
  Operation operation;
  // For the fixture account; the push result's poll sends the transaction's identifier instead.
  KvResult run(RESTClient& client, const std::string& sealed, std::string& out) const {
    const bool poll = operation == &RESTClient::getPushResult;
    return (client.*operation)(CloudTest::kAccountId, CloudTest::kResourceId, poll ? kTransactionId : sealed, out);
  }
};

std::vector<Call> everyOperation() {
  return {
      {"config", "POST", "/desktoplogon" + kBase + "/config", &RESTClient::postConfig},
      {"transaction", "POST", "/desktoplogon" + kBase + "/transaction", &RESTClient::postTransaction},
      {"authentication", "POST", "/desktoplogon" + kBase + "/authentication", &RESTClient::postAuthentication},
      {"authenticationcode", "POST", "/desktoplogon" + kBase + "/authenticationcode",
       &RESTClient::postForgotTokenAuthenticationCode},
      {"pushresult", "GET", "/v1/desktoplogon" + kBase + "/transactions/" + kTransactionId, &RESTClient::getPushResult},
      {"policy", "POST", "/v1" + kBase + "/policy", &RESTClient::postGetUserPolicy},
      {"policyoffline", "POST", "/v1" + kBase + "/policy/offline", &RESTClient::postGetUserPolicyOffline},
  };
}

Call operation(const std::string& route) {
  for (auto& call : everyOperation())
    if (route == call.route) return call;
  return everyOperation().front();
}

}  // namespace

// Every client of one sign-in attempt sends the attempt's identifier; the next attempt has its own.
TEST_F(CloudTransport, EachOperationOnTheWire) {
  const std::string id = Korvath::ensureRequestId();
  const std::vector<std::string> headers = {"Request-Id: " + id, "charset: UTF-8", "Cache-Control: no-cache",
                                            "Accept: application/json", "Content-Type: application/json"};
  for (const Call& call : everyOperation()) {
    SCOPED_TRACE(call.route);
    RESTClient client("localhost", "prod");
    ASSERT_TRUE(sim_->reset()) << sim_->lastError();
    const std::string answer = std::string("{\"answer\":\"") + call.route + "\"}";
    reply(call.route, 200, answer);
    const std::string plain = std::string("{\"question\":\"") + call.route + "\"}";
    const std::string sealed = CloudTest::seal(plain);
    const bool get = std::string(call.method) == "GET";
    std::string out;
    const KvResult result = call.run(client, sealed, out);
    EXPECT_EQ(result.getResultCode(), 0);
    EXPECT_EQ(result.getRequestId(), client.getRequestId());
    Korvath::Model::ResponseData envelope;  // the push result comes back as the raw envelope
    EXPECT_EQ(CloudTest::open(get && envelope.fillFromJson(out) == 0 ? envelope.getData() : out), answer);
    const auto records = recorded();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].method, call.method);
    EXPECT_EQ(records[0].path, call.path);
    EXPECT_EQ(clientHeaders(records[0]), headers);
    EXPECT_EQ(records[0].body, get ? "" : "{\"data\":\"" + sealed + "\"}");
    EXPECT_EQ(records[0].opened, get ? "" : plain);
  }
  Korvath::clearRequestId();
  ASSERT_TRUE(sim_->reset()) << sim_->lastError();
  std::string out;
  const std::string next = RESTClient("localhost", "prod")
                               .postConfig(CloudTest::kAccountId, "4242", CloudTest::seal("{}"), out)
                               .getRequestId();
  EXPECT_NE(next, id);
  EXPECT_EQ(clientHeaders(recorded().at(0)).front(), "Request-Id: " + next);
}

// Every kind of answer: 201 is success for a transaction only and 202 keeps a push waiting; a
// success whose body holds `"status": "error"` (with the blank) is the service saying it cannot
// answer. Error answers: the highest known code of the list decides, else the operation's
// default; 400/401/404 of a policy operation take the table value of the highest code alone;
// an empty or unreadable body is communication failure without a cloud code.
TEST_F(CloudTransport, EveryKindOfAnswer) {
  // Route, status, body, result code, cloud code, and what the caller gets back.
  std::vector<std::tuple<std::string, int, std::string, std::uint16_t, std::int32_t, std::string>> rows;
  const auto add = [&rows](const std::string& route, int status, const std::string& body, std::uint16_t code,
                           std::int32_t cloud) {
    rows.push_back({route, status, body, code, cloud, body});
  };
  const std::string sealed = CloudTest::seal("{\"k\":1}");
  const std::string envelope = "{\"data\":\"" + sealed + "\"}";
  rows.push_back({"transaction", 201, envelope, 0, 0, sealed});
  add("config", 201, envelope, 5114, 0);
  add("authentication", 201, R"({"errors":[{"code":"201015008","message":"m"}]})", 5103, 201015008);
  add("transaction", 202, envelope, 5114, 0);
  add("pushresult", 202, envelope, 5121, 0);
  add("transaction", 400, R"({"errors":[{"code":"201015008","message":"a"},{"code":"202002011","message":"b"}]})", 5117,
      202002011);
  add("transaction", 400, R"({"errors":[{"code":"999","message":"a"},{"code":"201055008","message":"b"}]})", 5119,
      201055008);
  const std::pair<const char*, std::uint16_t> defaults[] = {
      {"config", 5151},     {"transaction", 5219}, {"authentication", 5218}, {"authenticationcode", 5218},
      {"pushresult", 5220}, {"policy", 5223},      {"policyoffline", 5223}};
  for (const auto& d : defaults) {
    const bool get = std::string(d.first) == "pushresult";
    add(d.first, 200, envelope.substr(0, envelope.size() - 1) + ",\"status\": \"error\"}", 5116, 0);
    const std::string noBlank = envelope.substr(0, envelope.size() - 1) + ",\"status\":\"error\"}";
    rows.push_back({d.first, 200, noBlank, 0, 0, get ? noBlank : sealed});
    add(d.first, 500, R"({"errors":[{"code":"42"}]})", d.second, 42);
    for (const char* body : {"", "<html>bad gateway</html>"}) add(d.first, 502, body, 5114, 0);
  }
  for (const char* route : {"policy", "policyoffline"}) {
    for (int status : {400, 401, 404}) {
      add(route, status, R"({"errors":[{"code":"201105008","message":"not allowed"}]})", 5143, 201105008);
      add(route, status, R"({"errors":[{"code":"201105006","message":"?"}]})", 9999, 201105006);
    }
    add(route, 403, R"({"errors":[{"code":"123"}]})", 5223, 123);  // other client errors: the default
    add(route, 404, R"({"errors":[]})", 5114, 0);
  }
  add("pushresult", 201, R"({"errors":[{"code":"123"}]})", 5220, 123);
  add("transaction", 202, R"({"errors":[{"code":"123"}]})", 5219, 123);
  add("transaction", 400, R"({"errors":[{"code":"300000000"},{"code":"201015009"}]})", 5105, 300000000);
  add("authentication", 500, R"({"errors":[{"code":-7}]})", 5218, -7);
  add("authentication", 500, R"({"errors":[{"code":"-2147483648","message":""}]})", 5218, INT32_MIN);
  // Replies that are no envelope, or error bodies that are no error list, nesting deep enough
  // to exhaust a recursive parser included.
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  for (const std::string& body :
       {""s, "{"s, R"({"dat":"x"})"s, R"({"data":1})"s, "[]"s, R"({"data":"x"}{})"s, R"({"data":{"a":"b"}})"s, deep})
    for (const char* route : {"config", "policy"}) add(route, 200, body, 5116, 0);
  for (const std::string& body :
       {"{}"s, R"({"errors":["201015008"]})"s, R"({"errors":[{"message":"m"}]})"s, R"({"errors":[{"code":""}]})"s,
        R"({"errors":[{"code":" 12"}]})"s, R"({"errors":[{"code":"2147483648"}]})"s, R"({"errors":[{"code":1.5}]})"s,
        R"({"errors":[{"code":"1","message":3}]})"s, R"({"errors":[{"code":"43"},{"code":"x"}]})"s,
        "{\"errors\":" + deep + "}"})
    add("transaction", 500, body, 5114, 0);
  RESTClient client("localhost", "prod");
  for (const auto& [route, status, body, code, cloud, expected] : rows) {
    SCOPED_TRACE(route + " " + std::to_string(status) + " " + body);
    fault("{\"route\":\"" + route + "\",\"status\":" + std::to_string(status) + ",\"body\":" + CloudTest::quote(body) +
          ",\"count\":1}");
    std::string out;
    const KvResult result = operation(route).run(client, CloudTest::seal("{}"), out);
    EXPECT_EQ(result.getResultCode(), code);
    EXPECT_EQ(result.getCloudErrorCode(), cloud);
    EXPECT_EQ(out, expected);
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

// Both transports name each failure with the same WinHTTP number (what each number gives:
// RESTClientLogicTest).
TEST_F(CloudTransport, NetworkFailures) {
  fault(R"({"route":"pushresult","close":true,"count":1})");
  fault(R"({"route":"pushresult","delayMs":7000,"count":1})");
  const std::tuple<std::string, std::uint16_t, std::uint32_t> rows[] = {
      {"localhost", CloudTest::closedPort(), 12029u},
      {"localhost.kv-test.invalid", port_, 12007u},
      {"localhost", port_, 12152u},  // dropped without an answer
      {"localhost", port_, static_cast<std::uint32_t>(Korvath::Cloud::kHttpsErrorTimeout)}};
  for (const auto& [host, port, number] : rows) {
    Korvath::Cloud::HttpsExchange exchange;
    ASSERT_EQ(exchange.open(host, port, "GET", "/v1/desktoplogon" + kBase + "/transactions/" + kTransactionId,
                            RESTClient::requestHeaders("x")),
              0u);
    const Korvath::Cloud::HttpsResult result = exchange.sendAndReceive("");
    EXPECT_EQ(result.httpStatus, 0u);
    EXPECT_EQ(result.transportError, number);
  }
}

TEST_F(CloudTransport, OversizedReplyIsAnError) {
  // Sealed and wrapped, 900 000 characters of plain text grow beyond 1 MiB.
  reply("config", 200, "{\"x\":\"" + std::string(900000, 'a') + "\"}");
  std::string out;
  const KvResult big = RESTClient("localhost", "prod")
                           .postConfig(CloudTest::kAccountId, CloudTest::kResourceId, CloudTest::seal("{}"), out);
  EXPECT_EQ(big.getResultCode(), 5114);
  EXPECT_EQ(big.getCloudErrorCode(), 0);
  EXPECT_EQ(out, "");
}
