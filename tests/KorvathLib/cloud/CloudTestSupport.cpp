#include "CloudTestSupport.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdlib>
#include <fstream>

#include "CryptoSdk/SecurityService.h"
#include "Korvath/RequestId.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace CloudTest {

const char* const kAccountId = "AC1000000001";
const char* const kResourceId = "4242";
const char* const kIntegrationKey = "sim-integration-key-0001";

std::string environmentValue(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr ? std::string(value) : std::string();
}

std::uint16_t portFromFileNamedBy(const char* variable) {
  const std::string path = environmentValue(variable);
  if (path.empty()) return 0;
  std::ifstream in(path);
  unsigned long port = 0;
  if (!(in >> port) || port == 0 || port > 65535) return 0;
  return static_cast<std::uint16_t>(port);
}

std::uint16_t closedPort() {
#ifdef _WIN32
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 0;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return 0;
#else
  int s = socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) return 0;
#endif
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  std::uint16_t port = 0;
  socklen_t length = sizeof(address);
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
#ifdef _WIN32
  closesocket(s);
#else
  close(s);
#endif
  return port;
}

bool SimControl::call(const std::string& method, const std::string& path, const std::string& body, std::string* reply) {
  Korvath::Cloud::HttpsExchange exchange;
  const std::uint32_t setup =
      exchange.open("localhost", port_, method, path, {"Content-Type: application/json", "Accept: application/json"});
  if (setup != 0) {
    lastError_ = "control request could not be set up: " + std::to_string(setup);
    return false;
  }
  const Korvath::Cloud::HttpsResult result = exchange.sendAndReceive(body);
  if (!result.answered()) {
    lastError_ = "control request failed: " + std::to_string(result.transportError);
    return false;
  }
  if (reply != nullptr) *reply = result.body;
  if (result.httpStatus != 200) {
    lastError_ = "control request answered " + std::to_string(result.httpStatus) + ": " + result.body;
    return false;
  }
  return true;
}

bool SimControl::reset() { return call("POST", "/_sim/reset", "{}"); }

bool SimControl::reply(const std::string& route, int status, const std::string& json, unsigned count) {
  const std::string body = "{\"route\":" + quote(route) + ",\"status\":" + std::to_string(status) +
                           ",\"json\":" + json + ",\"count\":" + std::to_string(count) + "}";
  return call("POST", "/_sim/reply", body);
}

bool SimControl::fault(const std::string& faultJson) { return call("POST", "/_sim/fault", faultJson); }

bool SimControl::requests(std::vector<Recorded>& out) {
  out.clear();
  std::string reply;
  if (!call("GET", "/_sim/requests", "", &reply)) return false;
  rapidjson::Document document;
  document.Parse(reply.c_str(), reply.size());
  if (document.HasParseError() || !document.IsArray()) {
    lastError_ = "records are not a JSON array: " + reply;
    return false;
  }
  for (const auto& item : document.GetArray()) {
    Recorded record;
    if (!item.IsObject() || !item.HasMember("method") || !item.HasMember("path") || !item.HasMember("headers") ||
        !item.HasMember("body") || !item["headers"].IsArray()) {
      lastError_ = "unexpected record";
      return false;
    }
    record.method = item["method"].GetString();
    record.path = item["path"].GetString();
    for (const auto& header : item["headers"].GetArray()) {
      record.headers.emplace_back(header[0].GetString(), header[1].GetString());
    }
    record.body.assign(item["body"].GetString(), item["body"].GetStringLength());
    if (item.HasMember("opened") && item["opened"].IsString())
      record.opened.assign(item["opened"].GetString(), item["opened"].GetStringLength());
    out.push_back(std::move(record));
  }
  return true;
}

bool SimControl::planPush(const std::string& login, const std::string& decision, unsigned afterPolls) {
  return call("POST", "/_sim/push",
              "{\"login\":" + quote(login) + ",\"decision\":" + quote(decision) +
                  ",\"afterPolls\":" + std::to_string(afterPolls) + "}");
}

void SimTest::SetUp() {
  port_ = portFromFileNamedBy("KV_CLOUDSIM_PORT_FILE");
  ASSERT_NE(port_, 0) << "KV_CLOUDSIM_PORT_FILE does not name the simulator's port file: run through ctest";
  const std::string ca = environmentValue("KV_TEST_CA_FILE");
  ASSERT_FALSE(ca.empty()) << "KV_TEST_CA_FILE is not set";
  Korvath::Cloud::HttpsExchange::addTrustAnchorFile(ca);
  pointAt(port_);
  Korvath::Platform::setAgentRegistry(&registry_);
  Korvath::clearRequestId();
  sim_.reset(new SimControl(port_));
  ASSERT_TRUE(sim_->reset()) << sim_->lastError();
}

void SimTest::TearDown() { Korvath::Platform::setAgentRegistry(nullptr); }

void SimTest::pointAt(std::uint16_t port, const std::string& domainSuffix) {
  registry_.values = {{"DesktopLogonHostPrefix", ""},
                      {"PolicyHostPrefix", ""},
                      {"DomainSuffix", domainSuffix},
                      {"Port", std::to_string(port)}};
}

std::vector<Recorded> SimTest::recorded() {
  std::vector<Recorded> records;
  EXPECT_TRUE(sim_->requests(records)) << sim_->lastError();
  return records;
}

std::vector<Recorded> SimTest::recordedTo(const std::string& route) {
  std::vector<Recorded> matching;
  for (const Recorded& r : recorded()) {
    const bool isPoll = r.path.find("/transactions/") != std::string::npos;
    const std::string tail = "/" + route;
    if (route == "pushresult" ? isPoll
                              : !isPoll && r.path.size() >= tail.size() &&
                                    r.path.compare(r.path.size() - tail.size(), tail.size(), tail) == 0)
      matching.push_back(r);
  }
  return matching;
}

static CryptoSdk::SealKey accountKey() {
  CryptoSdk::SealKey key;
  CryptoSdk::AgentSecurityService::deriveRequestKey(kAccountId, kResourceId, kIntegrationKey, key);
  return key;
}

std::string seal(const std::string& plain) {
  std::string sealed;
  CryptoSdk::AgentSecurityService::seal(accountKey(), plain, sealed);
  return sealed;
}

std::string open(const std::string& sealed) {
  std::string plain;
  CryptoSdk::AgentSecurityService::open(accountKey(), sealed, plain);
  return plain;
}

std::string quote(const std::string& text) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.String(text.c_str(), static_cast<rapidjson::SizeType>(text.size()));
  return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace CloudTest
