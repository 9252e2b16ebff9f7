#include "PushOtpTestSupport.h"

#include <rapidjson/document.h>

#include <filesystem>
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

std::string textOf(const rapidjson::Value& obj, const char* name) {
  auto it = obj.FindMember(name);
  if (it == obj.MemberEnd() || !it->value.IsString()) return std::string();
  return std::string(it->value.GetString(), it->value.GetStringLength());
}

}  // namespace

bool Sim::attach(std::string& why) {
  port_ = CloudTest::portFromFileNamedBy("KV_CLOUDSIM_PORT_FILE");
  const std::string ca = CloudTest::environmentValue("KV_TEST_CA_FILE");
  if (port_ == 0 || ca.empty()) {
    why = "no simulator port or CA (KV_CLOUDSIM_PORT_FILE, KV_TEST_CA_FILE): run through ctest";
    return false;
  }
  control_ = CloudTest::SimControl(port_);
  Korvath::Cloud::HttpsExchange::addTrustAnchorFile(ca);
  return true;
}

bool Sim::delegated(bool answered) {
  if (!answered) lastError_ = control_.lastError();
  return answered;
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

bool Sim::planPush(const std::string& login, const std::string& decision, unsigned afterPolls) {
  std::string reply;
  return call("POST", "/_sim/push",
              "{\"login\":" + CloudTest::quote(login) + ",\"decision\":" + CloudTest::quote(decision) +
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

std::vector<Recorded> Sim::requestsTo(const std::string& route) {
  std::vector<Recorded> all;
  std::vector<Recorded> matching;
  if (!delegated(control_.requests(all))) return matching;
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
