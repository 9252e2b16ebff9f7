#include "PushOtpTestSupport.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "AuthenticationSdk/AuthenticatorBlob.h"
#include "AuthenticationSdk/Hotp.h"
#include "Commons/Encoding.h"
#include "Korvath/HttpsExchange.h"

namespace PushOtpTest {

const char* const kAccountId = "AC1000000001";
const char* const kResourceId = "4242";
const char* const kIntegrationKey = "sim-integration-key-0001";
const char* const kAliceSecretHex = "3132333435363738393031323334353637383930";

void FakeClock::sleepMs(std::uint32_t ms) {
  monotonicMs_.fetch_add(ms);
  unixMs_.fetch_add(ms);
  const std::int64_t total = slept_.fetch_add(ms) + ms;
  std::function<void(std::int64_t)> hook;
  {
    std::lock_guard<std::mutex> lock(hookMutex_);
    hook = hook_;
  }
  if (hook) hook(total);
}

void FakeClock::onSleep(std::function<void(std::int64_t)> hook) {
  std::lock_guard<std::mutex> lock(hookMutex_);
  hook_ = std::move(hook);
}

std::string makeTempDir() {
  std::random_device rd;
  const auto base = std::filesystem::temp_directory_path();
  for (;;) {
    const auto candidate = base / ("kvpushotp-" + std::to_string(rd()));
    std::error_code ec;
    if (std::filesystem::create_directory(candidate, ec)) return candidate.string();
  }
}

void removeTree(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

void fillSimConfig(Korvath::Config& config, const std::string& configPath, std::uint16_t pushTimeout) {
  config.setRegion("localhost");
  config.setEnvironment("prod");
  config.setAccountId(kAccountId);
  config.setResourceId(4242);
  Korvath::ServerConfig server = config.getServerConfig();
  server.setIntegrationKey(kIntegrationKey);
  server.setPushTimeout(pushTimeout);
  AuthenticationSdk::AuthenticationSettings settings = server.getAuthenticationSettings();
  settings.accountId = kAccountId;
  server.setAuthenticationSettings(settings);
  config.setServerConfig(server);
  config.setFilePath(configPath);
}

std::string makeBlob(std::uint8_t model, const std::string& secretHex, std::uint64_t counter, bool active) {
  AuthenticationSdk::Blob::Definition definition;
  definition.model = model;
  Commons::Hex::decode(secretHex, definition.secret);
  definition.counter = counter;
  definition.active = active;
  std::string blob;
  AuthenticationSdk::Blob::create(definition, kAccountId, kIntegrationKey, blob);
  return blob;
}

std::string hotp(const std::string& secretHex, std::uint64_t counter) {
  CryptoSdk::Bytes secret;
  Commons::Hex::decode(secretHex, secret);
  std::string code;
  AuthenticationSdk::Hotp::generate(secret, counter, 6, CryptoSdk::HashAlgorithm::Sha1, code);
  return code;
}

// ---------------------------------------------------------------- simulator

namespace {

std::string environmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

std::string quote(const std::string& text) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.String(text.c_str(), static_cast<rapidjson::SizeType>(text.size()));
  return std::string(buffer.GetString(), buffer.GetSize());
}

std::string textOf(const rapidjson::Value& obj, const char* name) {
  auto it = obj.FindMember(name);
  if (it == obj.MemberEnd() || !it->value.IsString()) return std::string();
  return std::string(it->value.GetString(), it->value.GetStringLength());
}

}  // namespace

bool Sim::attach(std::string& why) {
  const std::string portFile = environmentValue("KV_CLOUDSIM_PORT_FILE");
  const std::string ca = environmentValue("KV_TEST_CA_FILE");
  if (portFile.empty() || ca.empty()) {
    why = "KV_CLOUDSIM_PORT_FILE or KV_TEST_CA_FILE is not set (run through ctest)";
    return false;
  }
  std::ifstream in(portFile);
  unsigned long port = 0;
  if (!(in >> port) || port == 0 || port > 65535) {
    why = "no port in " + portFile;
    return false;
  }
  port_ = static_cast<std::uint16_t>(port);
  Korvath::Cloud::HttpsExchange::addTrustAnchorFile(ca);
  return true;
}

bool Sim::call(const std::string& method, const std::string& path, const std::string& body, std::string& reply) {
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
  reply = result.body;
  if (result.httpStatus != 200) {
    lastError_ = "control request answered " + std::to_string(result.httpStatus) + ": " + result.body;
    return false;
  }
  return true;
}

bool Sim::reset() {
  std::string reply;
  return call("POST", "/_sim/reset", "{}", reply);
}

bool Sim::reply(const std::string& route, int status, const std::string& json, unsigned count) {
  std::string reply;
  return call("POST", "/_sim/reply",
              "{\"route\":" + quote(route) + ",\"status\":" + std::to_string(status) + ",\"json\":" + json +
                  ",\"count\":" + std::to_string(count) + "}",
              reply);
}

bool Sim::fault(const std::string& faultJson) {
  std::string reply;
  return call("POST", "/_sim/fault", faultJson, reply);
}

bool Sim::planPush(const std::string& login, const std::string& decision, unsigned afterPolls) {
  std::string reply;
  return call("POST", "/_sim/push",
              "{\"login\":" + quote(login) + ",\"decision\":" + quote(decision) +
                  ",\"afterPolls\":" + std::to_string(afterPolls) + "}",
              reply);
}

bool Sim::control(const std::string& path, const std::string& body) {
  std::string reply;
  return call("POST", path, body, reply);
}

bool Sim::pushes(std::vector<PushEntry>& out) {
  out.clear();
  std::string reply;
  if (!call("GET", "/_sim/pushes", "", reply)) return false;
  rapidjson::Document doc;
  doc.Parse(reply.c_str(), reply.size());
  if (doc.HasParseError() || !doc.IsArray()) {
    lastError_ = "pushes are not a JSON array: " + reply;
    return false;
  }
  for (const auto& item : doc.GetArray()) {
    PushEntry entry;
    entry.transactionId = textOf(item, "transactionId");
    entry.login = textOf(item, "login");
    entry.status = textOf(item, "status");
    auto polls = item.FindMember("polls");
    if (polls != item.MemberEnd() && polls->value.IsUint()) entry.polls = polls->value.GetUint();
    out.push_back(entry);
  }
  return true;
}

bool Sim::requests(std::vector<Recorded>& out) {
  out.clear();
  std::string reply;
  if (!call("GET", "/_sim/requests", "", reply)) return false;
  rapidjson::Document doc;
  doc.Parse(reply.c_str(), reply.size());
  if (doc.HasParseError() || !doc.IsArray()) {
    lastError_ = "records are not a JSON array: " + reply;
    return false;
  }
  for (const auto& item : doc.GetArray()) {
    Recorded record;
    record.method = textOf(item, "method");
    record.path = textOf(item, "path");
    auto opened = item.FindMember("opened");
    if (opened != item.MemberEnd() && opened->value.IsString()) {
      record.hasOpened = true;
      record.opened.assign(opened->value.GetString(), opened->value.GetStringLength());
    }
    out.push_back(record);
  }
  return true;
}

std::vector<Recorded> Sim::requestsTo(const std::string& route) {
  std::vector<Recorded> all;
  std::vector<Recorded> matching;
  if (!requests(all)) return matching;
  for (const Recorded& r : all) {
    const bool isPoll = r.path.find("/transactions/") != std::string::npos;
    if (route == "pushresult") {
      if (isPoll) matching.push_back(r);
    } else if (!isPoll && r.path.size() >= route.size() + 1 &&
               r.path.compare(r.path.size() - route.size() - 1, std::string::npos, "/" + route) == 0) {
      matching.push_back(r);
    }
  }
  return matching;
}

}  // namespace PushOtpTest
