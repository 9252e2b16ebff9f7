#include <CloudSim/Server.h>
#include <CryptoSdk/SecurityService.h>

#include "TlsClient.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <rapidjson/document.h>

#include <chrono>
#include <thread>

using namespace CloudSimTest;

namespace {

const char* const kConfigPath = "/desktoplogon/accounts/AC1000000001/resources/4242/config";
const char* const kTransactionPath2 = "/desktoplogon/accounts/AC1000000002/resources/4343/transaction";
const char* const kPushPath =
    "/v1/desktoplogon/accounts/AC1000000001/resources/4242/transactions/0b5c1d8e-6a2f-4c1e-9f3a-2d7b8e4f1a6c";

CryptoSdk::SealKey keyOf(const std::string& account, const std::string& resource, const std::string& integrationKey) {
  CryptoSdk::SealKey key;
  EXPECT_EQ(0, CryptoSdk::AgentSecurityService::deriveRequestKey(account, resource, integrationKey, key));
  return key;
}
CryptoSdk::SealKey key1() { return keyOf("AC1000000001", "4242", "sim-integration-key-0001"); }
CryptoSdk::SealKey key2() { return keyOf("AC1000000002", "4343", "sim-integration-key-0002"); }

std::string sealedEnvelope(const CryptoSdk::SealKey& key, const std::string& plain) {
  std::string sealed;
  EXPECT_EQ(0, CryptoSdk::AgentSecurityService::seal(key, plain, sealed));
  return "{\"data\":\"" + sealed + "\"}";
}

// The plain text of a {"data": sealed} reply, or "<unopened>".
std::string openReply(const CryptoSdk::SealKey& key, const std::string& body) {
  rapidjson::Document doc;
  doc.Parse(body.c_str());
  if (doc.HasParseError() || !doc.IsObject() || !doc.HasMember("data") || !doc["data"].IsString())
    return "<no envelope>";
  std::string plain;
  if (CryptoSdk::AgentSecurityService::open(key, doc["data"].GetString(), plain) != 0) return "<unopened>";
  return plain;
}

std::string firstErrorCode(const std::string& body) {
  rapidjson::Document doc;
  doc.Parse(body.c_str());
  if (doc.HasParseError() || !doc.IsObject() || !doc.HasMember("errors") || !doc["errors"].IsArray() ||
      doc["errors"].Empty() || !doc["errors"][0]["code"].IsString()) {
    return "<no error list>";
  }
  return doc["errors"][0]["code"].GetString();
}

class CloudSimServer : public ::testing::Test {
 protected:
  void SetUp() override {
    CloudSim::ServerOptions options;
    options.certFile = certFile();
    options.keyFile = keyFile();
    std::string error;
    ASSERT_TRUE(CloudSim::parseFixture(
        R"({"accounts":[{"accountId":"AC1000000001","resourceId":"4242","integrationKey":"sim-integration-key-0001"},
                        {"accountId":"AC1000000002","resourceId":4343,"integrationKey":"sim-integration-key-0002"}]})",
        options.fixture, error))
        << error;
    ASSERT_TRUE(server.start(options, error)) << error;
    ASSERT_NE(0, server.port());
  }

  Exchange post(const std::string& path, const std::string& body) {
    return exchange(server.port(), buildRequest("POST", path, body));
  }
  Exchange get(const std::string& path) { return exchange(server.port(), buildRequest("GET", path, "")); }
  // Until the simulator has recorded a request (a delayed one is recorded before its wait).
  void awaitARequest() {
    for (int i = 0; i < 400 && server.requests().empty(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  void control(const std::string& path, const std::string& json) {
    Exchange e = post(path, json);
    ASSERT_EQ(200, e.status) << e.body;
  }

  CloudSim::Server server;
};

TEST_F(CloudSimServer, BodySealedUnderAnotherAccountsKeyIsRefusedAndRecordedUnopened) {
  Exchange e = post(kConfigPath, sealedEnvelope(key2(), "{}"));
  EXPECT_EQ(400, e.status);
  EXPECT_EQ("201005002", firstErrorCode(e.body));
  ASSERT_EQ(1u, server.requests().size());
  EXPECT_FALSE(server.requests()[0].opened);

  Exchange notEnvelope = post(kConfigPath, "{\"payload\":\"x\"}");
  EXPECT_EQ(400, notEnvelope.status);
}

// An unknown account or resource is 404 with the service's error list; an unknown path or a
// wrong method is refused too, and every one of them is recorded.
TEST_F(CloudSimServer, UnknownTargetsAreRefusedButRecorded) {
  Exchange e = get("/v1/desktoplogon/accounts/NOPE/resources/4242/transactions/t");
  EXPECT_EQ(404, e.status);
  EXPECT_EQ("201005012", firstErrorCode(e.body));
  EXPECT_EQ(404, post("/desktoplogon/accounts/AC1000000001/resources/4242/nothing", "{}").status);
  EXPECT_EQ(405, get(kConfigPath).status);
  ASSERT_EQ(3u, server.requests().size());
  EXPECT_EQ("/desktoplogon/accounts/AC1000000001/resources/4242/nothing", server.requests()[1].path);
}

// Replies are sealed under the key of the account asked, and those of one route are used in the
// order posted, each as often as its count says (without one, for good).
TEST_F(CloudSimServer, ProgrammedRepliesAreSealedUnderTheAccountKeyAndUsedInTheOrderPosted) {
  control("/_sim/reply", R"({"route":"transaction","status":201,"json":{"transactionId":"t-1","n":[1,2]},"count":1})");
  control("/_sim/reply", R"({"route":"pushresult","status":202,"json":{"state":"waiting"},"count":2})");
  control("/_sim/reply", R"({"route":"pushresult","json":{"state":"approved"}})");
  control("/_sim/reply", R"({"route":"policy","status":200,"json":{"other":true}})");
  Exchange e = post(kTransactionPath2, sealedEnvelope(key2(), "{}"));
  EXPECT_EQ(201, e.status);
  EXPECT_EQ(R"({"transactionId":"t-1","n":[1,2]})", openReply(key2(), e.body));
  EXPECT_EQ("<unopened>", openReply(key1(), e.body));
  const std::pair<int, const char*> pushes[] = {{202, R"({"state":"waiting"})"},
                                                {202, R"({"state":"waiting"})"},
                                                {200, R"({"state":"approved"})"},
                                                {200, R"({"state":"approved"})"}};
  for (const auto& push : pushes) {
    e = get(kPushPath);
    EXPECT_EQ(push.first, e.status);
    EXPECT_EQ(push.second, openReply(key1(), e.body));
  }
  // Used up: the default answer follows.
  e = post(kTransactionPath2, sealedEnvelope(key2(), "{}"));
  EXPECT_EQ(200, e.status);
  EXPECT_EQ("{}", openReply(key2(), e.body));
}

// A fault answers its status and raw body as given (200 without a status, an empty body without
// one), still records and opens the request, and a wildcard applies to every route until its
// count runs out. (Each route's faults as the agent's client reads them: the cloud transport
// tests, which also see a close fault drop the connection.)
TEST_F(CloudSimServer, FaultsAnswerStatusAndRawBodyAsGiven) {
  control("/_sim/fault", R"({"route":"config","body":"not json","count":1})");
  control("/_sim/fault", R"({"route":"config","status":401,"count":1})");
  control("/_sim/fault", R"({"route":"*","status":503,"body":"busy","count":2})");
  const std::pair<int, const char*> answers[] = {{200, "not json"}, {401, ""}, {503, "busy"}};
  for (const auto& answer : answers) {
    Exchange e = post(kConfigPath, sealedEnvelope(key1(), "{}"));
    EXPECT_EQ(answer.first, e.status);
    EXPECT_EQ(answer.second, e.body);
  }
  EXPECT_EQ(503, get(kPushPath).status);
  EXPECT_EQ(200, get(kPushPath).status);
  ASSERT_EQ(5u, server.requests().size());
  EXPECT_TRUE(server.requests()[0].opened);
}

TEST_F(CloudSimServer, DelayedRequestDoesNotHoldBackTheControlApi) {
  control("/_sim/fault", R"({"route":"config","delayMs":600000,"close":true})");
  std::thread slow([this] { post(kConfigPath, "{}"); });
  // The control API answers while the slow request still waits.
  awaitARequest();
  Exchange e = get("/_sim/requests");
  EXPECT_EQ(200, e.status);
  // stop() ends the wait instead of sitting out ten minutes.
  server.stop();
  slow.join();
}

TEST_F(CloudSimServer, DelayedRequestWhoseClientHungUpDoesNotUseLaterReplies) {
  control("/_sim/fault", R"({"route":"config","delayMs":200,"count":1})");
  ASSERT_TRUE(
      exchange(server.port(), buildRequest("POST", kConfigPath, sealedEnvelope(key1(), "{}")), 0, true).handshake);
  awaitARequest();
  ASSERT_EQ(1u, server.requests().size());
  control("/_sim/reply", R"({"route":"config","status":201,"count":1})");
  // The simulator's delay runs on the real clock; let it pass before the next request.
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_EQ(201, post(kConfigPath, sealedEnvelope(key1(), "{}")).status);
}

TEST_F(CloudSimServer, RequestDelayedAcrossAResetIsDroppedAndUsesNoReply) {
  control("/_sim/fault", R"({"route":"config","delayMs":300,"count":1})");
  Exchange delayed;
  std::thread slow([&] { delayed = post(kConfigPath, sealedEnvelope(key1(), "{}")); });
  awaitARequest();
  control("/_sim/reset", "");
  control("/_sim/reply", R"({"route":"config","status":201,"count":1})");
  slow.join();
  EXPECT_TRUE(delayed.handshake);
  EXPECT_FALSE(delayed.answered);
  EXPECT_EQ(201, post(kConfigPath, sealedEnvelope(key1(), "{}")).status);
}

TEST_F(CloudSimServer, ControlApiRefusesMalformedOrders) {
  const char* bad[] = {R"({"route":"nosuch"})", R"({"status":200})", R"({"route":"config","status":99})",
                       R"({"route":"config","count":-1})", "not json"};
  for (const char* body : bad) {
    Exchange e = post("/_sim/reply", body);
    EXPECT_EQ(400, e.status) << body;
    EXPECT_NE(std::string::npos, e.body.find("\"error\"")) << body;
  }
  EXPECT_EQ(400, post("/_sim/fault", R"({"route":"*","close":"yes"})").status);
  EXPECT_EQ(400, post("/_sim/fault", R"({"route":"*","body":5})").status);
  EXPECT_EQ(405, get("/_sim/reset").status);
  EXPECT_EQ(404, get("/_sim/other").status);
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(CloudSimServer, MalformedAndOversizedRequestsAreRefused) {
  const std::pair<const char*, int> requests[] = {
      {"POST /_sim/reset HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 501},
      {"POST /_sim/reset HTTP/1.1\r\nHost: x\r\nContent-Length: 2000000\r\n\r\n", 413},
      {"GET /_sim/requests HTTP/1.1\r\nHost: x\r\n folded\r\n\r\n", 400}};
  for (const auto& request : requests) EXPECT_EQ(request.second, exchange(server.port(), request.first).status);
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(CloudSimServer, DeeplyNestedJsonIsRefusedWithoutCrashing) {
  const std::string deep = std::string(400000, '[') + std::string(400000, ']');
  EXPECT_EQ(400, post(kConfigPath, deep).status);
  EXPECT_EQ(400, post("/_sim/reply", "{\"route\":\"config\",\"json\":" + deep + "}").status);
  // Still serving, and nothing was programmed.
  EXPECT_EQ("{}", openReply(key1(), post(kConfigPath, sealedEnvelope(key1(), "{}")).body));
  CloudSim::Fixture fixture;
  std::string error;
  EXPECT_FALSE(CloudSim::parseFixture("{\"accounts\":" + deep + "}", fixture, error));
}

TEST_F(CloudSimServer, RefusesTls11AndAcceptsTls12) {
  Exchange old = exchange(server.port(), buildRequest("GET", "/_sim/requests", ""), TLS1_1_VERSION);
  EXPECT_FALSE(old.handshake);
  EXPECT_FALSE(old.answered);
  // The same relaxed client speaks to it once TLS 1.2 is allowed.
  Exchange current = exchange(server.port(), buildRequest("GET", "/_sim/requests", ""), TLS1_2_VERSION);
  EXPECT_TRUE(current.handshake);
  EXPECT_EQ(200, current.status);
}

}  // namespace
