// kvdemo: a scripted sign-in through the real authentication services against the cloud
// simulator, as the MFA dialog would drive them. A test tool, not part of the product.
//
// In a fresh temporary KORVATH_ROOT it makes a throw-away CA and a "localhost" certificate,
// starts the simulator in-process on a free loopback port with the default fixture, points the
// agent at it, writes the install configuration, and then runs: start-up with the first
// registration; alice's policies; a push for alice approved through the simulator's control
// API while the push task polls; an online OTP for alice; the simulator stopped (network cut)
// and an offline OTP for alice against the stored blob; forgot-token activation and sign-in.
// One line per step with its result code and name. Exit 0 only when every step gives the
// expected outcome.
//
// Nothing secret is printed: codes, blobs, keys and passwords stay in memory.
//
//   kvdemo [--testca <testca.sh>] [--fixture <json>] [--keep]

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <rapidjson/document.h>

#include "AuthenticationSdk/ChallengeData.h"
#include "AuthenticationSdk/Hotp.h"
#include "AuthenticationSdk/OfflineAuthentication.h"
#include "CloudSim/Server.h"
#include "Korvath/Config.h"
#include "Korvath/HttpsExchange.h"
#include "Korvath/InstallConfig.h"
#include "Korvath/KvCrypto.h"
#include "Korvath/Platform.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/Service/KvService.h"
#include "Korvath/Service/KvServiceForgotAuthenticator.h"
#include "Korvath/Service/MfaAuthentication.h"
#include "Korvath/Service/ServiceMessages.h"

namespace fs = std::filesystem;
using Korvath::Model::KvResult;
using Korvath::Service::MfaAuthentication;
using Korvath::Service::MfaAuthenticationRequest;

namespace {

// Response types the dialog switches on.
constexpr std::uint16_t kTypeSignedIn = 10;
constexpr std::uint16_t kTypeForgotActivation = 6;
constexpr std::uint16_t kTypeForgotSignIn = 7;
// Hours of forgot-token access the administrator grants in the demo.
constexpr std::uint16_t kForgotHours = 8;

int g_failures = 0;
int g_steps = 0;

std::string describe(std::uint16_t code) { return std::to_string(code) + " \"" + Korvath::getResultName(code) + "\""; }

// One line per step: its number, what it did, the result code and its name, and whether that
// is the outcome the step expects.
bool report(const std::string& what, std::uint16_t code, std::uint16_t expected, const std::string& detail = "") {
  ++g_steps;
  const bool ok = code == expected;
  if (!ok) ++g_failures;
  std::printf("[%2d] %-42s %-6s result %s%s\n", g_steps, what.c_str(), ok ? "OK" : "FAILED", describe(code).c_str(),
              detail.empty() ? "" : ("\n     " + detail).c_str());
  if (!ok) std::printf("     expected %s\n", describe(expected).c_str());
  std::fflush(stdout);
  return ok;
}

bool fact(const std::string& what, bool ok, const std::string& detail = "") {
  ++g_steps;
  if (!ok) ++g_failures;
  std::printf("[%2d] %-42s %-6s %s\n", g_steps, what.c_str(), ok ? "OK" : "FAILED", detail.c_str());
  std::fflush(stdout);
  return ok;
}

// Removes the temporary root when the demo ends, unless asked to keep it.
struct TempRoot {
  std::string path;
  bool keep = false;
  ~TempRoot() {
    if (path.empty()) return;
    if (keep) {
      std::printf("kept %s\n", path.c_str());
      return;
    }
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

const CloudSim::SimUser* findUser(const CloudSim::Account& account, const std::string& login) {
  for (const CloudSim::SimUser& u : account.users)
    if (u.login == login) return &u;
  return nullptr;
}

// What the user's token shows at `counter`: HOTP of the fixture's secret.
bool tokenCode(const CloudSim::SimAuthenticator& token, std::uint64_t counter, std::string& code) {
  const auto algorithm = static_cast<CryptoSdk::HashAlgorithm>(token.otpAlgorithm);
  return AuthenticationSdk::Hotp::generate(token.secret, counter, token.otpDigits, algorithm, code) == 0;
}

// The simulator's control API over the agent's own HTTPS layer.
bool control(std::uint16_t port, const std::string& method, const std::string& path, const std::string& body,
             std::string& answer) {
  Korvath::Cloud::HttpsExchange exchange;
  if (exchange.open("localhost", port, method, path, {"Content-Type: application/json", "Accept: application/json"}) !=
      0)
    return false;
  const Korvath::Cloud::HttpsResult result = exchange.sendAndReceive(body);
  answer = result.body;
  return result.answered() && result.httpStatus == 200;
}

// Waits for the push the task sent for `login` to reach the simulator and approves it, as the
// user does on the phone. False when no push arrives within `limit`.
bool approvePendingPush(std::uint16_t port, const std::string& login, std::chrono::seconds limit,
                        const std::shared_future<KvResult>& task, unsigned& pollsBefore) {
  const auto end = std::chrono::steady_clock::now() + limit;
  // A task that has already ended (refused before any push was sent) needs no approval.
  while (std::chrono::steady_clock::now() < end &&
         task.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
    std::string answer;
    if (control(port, "GET", "/_sim/pushes", "", answer)) {
      rapidjson::Document pushes;
      pushes.Parse(answer.c_str());
      if (!pushes.HasParseError() && pushes.IsArray()) {
        for (const rapidjson::Value& p : pushes.GetArray()) {
          if (!p.IsObject() || !p.HasMember("transactionId") || !p["transactionId"].IsString() ||
              !p.HasMember("login") || !p["login"].IsString() || !p.HasMember("status") || !p["status"].IsString())
            continue;
          if (std::string(p["login"].GetString()) != login || std::string(p["status"].GetString()) != "pending")
            continue;
          pollsBefore = p.HasMember("polls") && p["polls"].IsUint() ? p["polls"].GetUint() : 0;
          const std::string order =
              std::string("{\"transactionId\":\"") + p["transactionId"].GetString() + "\",\"decision\":\"approve\"}";
          return control(port, "POST", "/_sim/push", order, answer);
        }
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

Korvath::Model::UserConfig storedUser(const std::string& login, bool& found) {
  Korvath::KvCrypto crypto;
  Korvath::Config back(&crypto);
  found = false;
  if (back.readFile() != 0) return Korvath::Model::UserConfig();
  const int index = back.getUserIndex(login);
  if (index < 0) return Korvath::Model::UserConfig();
  found = true;
  return back.getUsersConfig().at(static_cast<std::size_t>(index));
}

std::string readWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

int usage() {
  std::cerr << "usage: kvdemo [--testca <testca.sh>] [--fixture <json>] [--keep]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string testca = KV_DEMO_TESTCA;
  std::string fixturePath = KV_DEMO_FIXTURE;
  TempRoot root;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--keep") {
      root.keep = true;
    } else if (arg == "--testca" && i + 1 < argc) {
      testca = argv[++i];
    } else if (arg == "--fixture" && i + 1 < argc) {
      fixturePath = argv[++i];
    } else {
      return usage();
    }
  }

  // --- a machine of its own: temporary root, test CA, simulator, agent settings
  char pattern[] = "/tmp/kvdemo.XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    std::perror("kvdemo: mkdtemp");
    return 1;
  }
  root.path = pattern;
  setenv("KORVATH_ROOT", root.path.c_str(), 1);
  std::printf("kvdemo: scripted sign-in through the services against the cloud simulator\n");
  std::printf("machine root (KORVATH_ROOT): %s\n", root.path.c_str());

  const std::string caDir = root.path + "/ca";
  const std::string caCommand = "sh '" + testca + "' '" + caDir + "'";
  if (std::system(caCommand.c_str()) != 0) {
    std::fprintf(stderr, "kvdemo: %s failed\n", caCommand.c_str());
    return 1;
  }
  Korvath::Cloud::HttpsExchange::addTrustAnchorFile(caDir + "/ca.pem");

  CloudSim::ServerOptions options;
  std::string error;
  if (!CloudSim::loadFixtureFile(fixturePath, options.fixture, error)) {
    std::fprintf(stderr, "kvdemo: fixture %s: %s\n", fixturePath.c_str(), error.c_str());
    return 1;
  }
  if (options.fixture.accounts.empty()) {
    std::fprintf(stderr, "kvdemo: fixture %s has no account\n", fixturePath.c_str());
    return 1;
  }
  const CloudSim::Account account = options.fixture.accounts.front();
  const CloudSim::SimUser* alice = findUser(account, "alice");
  if (alice == nullptr || alice->authenticators.empty()) {
    std::fprintf(stderr, "kvdemo: the fixture's first account has no alice with a token\n");
    return 1;
  }
  const CloudSim::SimAuthenticator aliceToken = alice->authenticators.front();
  options.certFile = caDir + "/server.pem";
  options.keyFile = caDir + "/server.key";
  CloudSim::Server sim;
  if (!sim.start(options, error)) {
    std::fprintf(stderr, "kvdemo: simulator: %s\n", error.c_str());
    return 1;
  }
  const std::uint16_t port = sim.port();
  std::printf("cloud simulator: https://localhost:%u (fixture %s, account %s)\n", port,
              fs::path(fixturePath).filename().c_str(), account.accountId.c_str());

  // The deployment values under the agent's key: every API at localhost:<port>.
  Korvath::Platform::IRegistry& registry = Korvath::Platform::agentRegistry();
  bool registryOk = registry.setString("DesktopLogonHostPrefix", "") && registry.setString("PolicyHostPrefix", "") &&
                    registry.setString("DomainSuffix", "") && registry.setString("Port", std::to_string(port));

  // The install configuration, as the installer writes it.
  std::uint16_t installCode = 0;
  {
    Korvath::KvCrypto crypto;
    Korvath::InstallConfig install(&crypto);
    char* end = nullptr;
    const unsigned long resource = std::strtoul(account.resourceId.c_str(), &end, 10);
    installCode = install.setRegion("localhost");
    if (installCode == 0) installCode = install.setEnvironment("prod");
    install.setAccountId(account.accountId);
    install.setResourceId(static_cast<std::uint32_t>(resource));
    if (installCode == 0) installCode = install.setIntegrationKey(account.integrationKey);
    if (installCode == 0) installCode = install.writeFile();
  }
  if (!registryOk) {
    std::fprintf(stderr, "kvdemo: the agent's registry values could not be written\n");
    return 1;
  }
  std::printf("agent: region localhost, environment prod, port %u, CA of this run trusted\n\n", port);
  report("install configuration written", installCode, 0, "resource " + account.resourceId);

  // --- the dialog's service: start-up with the first registration
  Korvath::Service::KvService service;
  service.setClientIpAddress("127.0.0.1");
  std::uint16_t type = 0;
  std::string response;
  KvResult result = service.initialize(type, response);
  report("start-up: first registration", result.getResultCode(), 0,
         "response type " + std::to_string(type) + ", resource " + std::to_string(service.getConfig().getResourceId()) +
             " \"" + service.getConfig().getResourceAlias() + "\"");

  // --- user policies for alice
  std::string name = "alice";
  result = service.updateUserPolicies(name, false);
  {
    Korvath::Model::AuthFactorMap factors;
    std::string last;
    service.getUserAuthFactors(name, factors, last, true);
    std::string shown;
    for (const auto& f : factors) shown += (shown.empty() ? "" : " ") + f.first + "=" + (f.second ? "on" : "off");
    report("policies for alice", result.getResultCode(), 0, shown);
  }

  MfaAuthentication dispatcher(&service);

  // --- push for alice, approved on the simulator while the task polls
  {
    MfaAuthenticationRequest request;
    request.mode = Korvath::Service::MFAAuthenticationPush;
    request.userLogin = "alice";
    Korvath::Utils::AutoTokenCancellationRelease token;
    const std::uint32_t index = dispatcher.authenticateAsync(request, token);
    if (index == 255) {
      report("push for alice (task)", 255, 0, "no task started");
    } else {
      unsigned polls = 0;
      std::shared_future<KvResult>& task = service.getFutures().at(index);
      const bool approved = approvePendingPush(port, "alice", std::chrono::seconds(30), task, polls);
      if (!approved) token.cancel();
      const KvResult pushed = task.get();
      std::uint8_t taskIndex = static_cast<std::uint8_t>(index);
      service.eraseFutureTaskByIndex(taskIndex);
      report("push for alice, approved on the phone", pushed.getResultCode(), 0,
             approved ? "approved after " + std::to_string(polls) + " waiting poll(s)" : "no push reached the service");
    }
  }

  // --- online OTP for alice: the code her token shows now
  std::uint64_t counter = aliceToken.counter;
  {
    MfaAuthenticationRequest request;
    request.mode = Korvath::Service::MFAAuthenticationOTP;
    request.userLogin = "alice";
    if (!tokenCode(aliceToken, counter, request.authData)) {
      report("OTP online for alice", 1, 0, "no code from the token");
    } else {
      result = dispatcher.authenticate(request);
      report("OTP online for alice", result.getResultCode(), 0, "token counter " + std::to_string(counter));
      ++counter;
    }
  }

  // --- network cut: the simulator stops; the next OTP is checked here against the stored blob
  sim.stop();
  std::printf("     -- network cut: the cloud simulator is stopped --\n");
  {
    MfaAuthenticationRequest request;
    request.mode = Korvath::Service::MFAAuthenticationOTP;
    request.userLogin = "alice";
    // The dialog still believes it is online: the service is tried first and the check falls
    // back to the stored blob when it cannot be reached.
    request.onLine = true;
    if (!tokenCode(aliceToken, counter, request.authData)) {
      report("OTP offline for alice (stored blob)", 1, 0, "no code from the token");
    } else {
      result = dispatcher.authenticate(request);
      report("OTP offline for alice (stored blob)", result.getResultCode(), 0,
             "token counter " + std::to_string(counter) + "; service unreachable, checked against the stored blob");
    }
  }

  // --- forgot token: alice has no phone; the administrator reads her the verification code
  {
    std::atomic<bool> internet{false};
    Korvath::Service::KvServiceForgotAuthenticator forgot(&service);
    Korvath::Service::ServiceRequestBase screenRequest;
    screenRequest.setUserLogin("alice");
    std::uint16_t code = forgot.getForgotAuthenticatorScreen(screenRequest, type, response, &internet);
    Korvath::Service::ServiceResponseActiveForgotAuthenticator screen;
    const bool screenRead = code == 0 && type == kTypeForgotActivation && screen.fillFromJson(response) == 0;
    report("forgot token: activation screen for alice", code, 0,
           screenRead ? "activation code shown, " + std::to_string(screen.getChallenge().size()) + " digits"
                      : "response type " + std::to_string(type));

    if (screenRead) {
      // The administrator's console: the code for this user, these hours and this activation
      // code, under the account's key.
      AuthenticationSdk::ChallengeData data;
      data.setType(0);
      data.setAccountId(account.accountId);
      data.setUserLogin("alice");
      data.setTime(kForgotHours);
      data.setChallenge(screen.getChallenge());
      MfaAuthenticationRequest activation;
      activation.mode = Korvath::Service::MFAAuthenticationForgotTokenActivate;
      activation.userLogin = "alice";
      activation.time = kForgotHours;
      activation.challenge = screen.getChallenge();
      activation.onLine = screen.getOnLine();
      const std::uint16_t issued = AuthenticationSdk::Issuer::computeForgotTokenCode(
          data.toJson(), account.accountId, account.integrationKey, activation.authData);
      if (issued != 0) {
        report("forgot token: administrator's code", issued, 0);
      } else {
        result = dispatcher.authenticate(activation);
        report("forgot token: activation for alice", result.getResultCode(), 0,
               std::string(activation.onLine ? "online" : "offline") + ", " + std::to_string(kForgotHours) + " hours");
      }

      code = forgot.getForgotAuthenticatorScreen(screenRequest, type, response, &internet);
      fact("forgot token: sign-in screen shown", code == 0 && type == kTypeForgotSignIn,
           "response type " + std::to_string(type) + ", result " + describe(code));

      MfaAuthenticationRequest signIn;
      signIn.mode = Korvath::Service::MFAAuthenticationForgotTokenAuthentication;
      signIn.userLogin = "alice";
      result = dispatcher.authenticate(signIn);
      report("forgot token: sign-in for alice", result.getResultCode(), 0);
    }
  }

  // --- what the machine holds now, read without showing anything secret
  std::printf("\nsummary\n");
  const std::string configPath = Korvath::Platform::configFilePath();
  struct stat info {};
  const bool present = stat(configPath.c_str(), &info) == 0 && info.st_size > 0;
  char mode[8];
  std::snprintf(mode, sizeof mode, "%03o", present ? static_cast<unsigned>(info.st_mode & 0777) : 0u);
  fact("configuration file present", present, configPath.substr(root.path.size() + 1) + ", mode " + mode);
  const std::string raw = present ? readWhole(configPath) : std::string();
  const bool sealed = present && raw.find('{') == std::string::npos && raw.find("alice") == std::string::npos &&
                      raw.find(account.accountId) == std::string::npos;
  fact("configuration file sealed (no clear text)", sealed, std::to_string(raw.size()) + " bytes");
  fact("configuration file owner-only", present && (info.st_mode & 077) == 0, "no access for group or others");
  {
    Korvath::KvCrypto crypto;
    Korvath::Config back(&crypto);
    const std::uint16_t readCode = back.readFile();
    std::string logins;
    for (const Korvath::Model::UserConfig& u : back.getUsersConfig())
      logins += (logins.empty() ? "" : ", ") + u.getUserLogin();
    report("configuration opens under the machine key", readCode, 0,
           std::to_string(back.getUsersConfig().size()) + " user(s) stored: " + logins);
  }
  bool found = false;
  const Korvath::Model::UserConfig stored = storedUser("alice", found);
  fact("alice stored with her authenticators", found && !stored.getAuthenticators().empty(),
       found ? std::to_string(stored.getAuthenticators().size()) + " authenticator(s), last factor \"" +
                   stored.getLastAuthType() + "\""
             : "not stored");

  std::printf("\n%d step(s), %s\n", g_steps,
              g_failures == 0 ? "all gave the expected outcome" : (std::to_string(g_failures) + " FAILED").c_str());
  return g_failures == 0 ? 0 : 1;
}
