// kvbench: what the agent's own work costs on a sign-in, side by side with one loopback TLS
// round trip to the cloud simulator. A measuring tool, not part of the product.
//
// The driver makes a throw-away CA, starts the simulator in-process (an account with 300
// users of two authenticators each) and runs every case in a worker process of its own, once
// natively for the wall times and, when valgrind is installed, once under callgrind for the
// instruction count. The simulator therefore never runs inside a measured process.
//
//   kvbench [--users 1,30,300] [--runs N] [--cases a,b,...] [--no-callgrind] [--keep <dir>] [--smoke]
//
// --keep leaves callgrind's output of each case in <dir> (<case>-<users>.callgrind), for
// callgrind_annotate.
//
// Cases: startup (KvService::initialize over a stored configuration, no synchronization due),
// otp-offline and qr-offline (a right code checked against the stored blobs, with its save),
// forgot-activation (offline activation with the administrator's code, with its save),
// otp-online (a right code checked by the simulator, with what is stored afterwards) and tls
// (one bare HTTPS exchange with the simulator on the agent's transport).
//
// A worker runs one case: one warm-up run first (the process's first-use costs: machine key,
// TLS library, code pages), then the counted runs. Under callgrind only the counted run's
// instructions of the measuring thread are collected (client requests around it).
//
//   kvbench --worker <case> --users N --runs K --port P --ca <pem> --root <dir> [--callgrind]

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#define KV_BENCH_COLLECT() CALLGRIND_TOGGLE_COLLECT
#else
#define KV_BENCH_COLLECT() \
  do {                     \
  } while (0)
#endif

#include "AuthenticationSdk/AuthenticatorBlob.h"
#include "AuthenticationSdk/ChallengeData.h"
#include "AuthenticationSdk/Hotp.h"
#include "AuthenticationSdk/OfflineAuthentication.h"
#include "CloudSim/Server.h"
#include "Commons/Encoding.h"
#include "Korvath/Config.h"
#include "Korvath/HttpsExchange.h"
#include "Korvath/KvCrypto.h"
#include "Korvath/Platform.h"
#include "Korvath/Service/KvService.h"
#include "Korvath/Service/KvServiceForgotAuthenticator.h"
#include "Korvath/Service/KvServiceOTP.h"
#include "Korvath/Service/KvServiceQRCode.h"
#include "Korvath/Service/ServiceMessages.h"

namespace fs = std::filesystem;
using Korvath::Model::AuthenticatorRecord;
using Korvath::Model::KvResult;
using Korvath::Model::UserConfig;

namespace {

// The simulated account (the same identities as the simulator's default fixture).
const char* const kAccountId = "AC1000000001";
const std::int32_t kResourceId = 4242;
const char* const kIntegrationKey = "sim-integration-key-0001";
const char* const kMasterPassword = "sim-master-password-0001";
// The largest user count the simulator knows; a case with more users fails.
constexpr int kSimUsers = 300;
// Hours of forgot-token access in the activation case.
constexpr std::uint32_t kForgotHours = 8;

const std::vector<std::string> kAllCases = {"startup",          "otp-offline", "qr-offline",
                                            "forgot-activation", "otp-online",  "tls"};

std::string loginOf(int i) {
  char name[16];
  std::snprintf(name, sizeof name, "user%03d", i);
  return name;
}

// Token secrets of user i: 20 bytes, different per user and authenticator.
CryptoSdk::Bytes secretOf(int user, int authenticator) {
  CryptoSdk::Bytes secret(20);
  for (std::size_t k = 0; k < secret.size(); ++k)
    secret[k] = static_cast<std::uint8_t>(0x31 + user * 7 + authenticator * 13 + static_cast<int>(k));
  return secret;
}

std::string hotp(const CryptoSdk::Bytes& secret, std::uint64_t counter) {
  std::string code;
  AuthenticationSdk::Hotp::generate(secret, counter, 6, CryptoSdk::HashAlgorithm::Sha1, code);
  return code;
}

bool parseList(const std::string& text, std::vector<std::string>& out) {
  out.clear();
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ','))
    if (!item.empty()) out.push_back(item);
  return !out.empty();
}

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// ------------------------------------------------------------------------------ worker

struct WorkerOptions {
  std::string caseName;
  int users = 30;
  int runs = 10;
  std::uint16_t port = 0;
  std::string ca;
  bool callgrind = false;
};

AuthenticatorRecord authenticator(int user, int which) {
  AuthenticationSdk::Blob::Definition definition;
  definition.model = which == 0 ? AuthenticatorRecord::kModelMobile : AuthenticatorRecord::kModelOathFirst;
  definition.secret = secretOf(user, which);
  std::string blob;
  AuthenticationSdk::Blob::create(definition, kAccountId, kIntegrationKey, blob);
  AuthenticatorRecord record;
  record.setModel(definition.model);
  record.setSerialNumber((which == 0 ? "MOB-" : "HW-") + loginOf(user));
  record.setBlob(blob);
  record.setDeviceId(which == 0 ? static_cast<std::uint32_t>(1000 + user) : 0);
  return record;
}

std::vector<UserConfig> makeUsers(int count) {
  std::vector<UserConfig> users;
  for (int i = 0; i < count; ++i) {
    UserConfig u;
    u.setUserLogin(loginOf(i));
    u.setEmail(loginOf(i) + "@sim.example");
    u.setAuthTypes({{"otp", true}, {"qrcode", true}, {"push", true}});
    u.setHasPolicy(true);
    u.setPolicyAllowsAuthentication(true);
    u.setLastAuthType("otp");
    u.setLastAuthTime(static_cast<std::uint64_t>(i + 1));
    u.setAuthenticators({authenticator(i, 0), authenticator(i, 1)});
    users.push_back(u);
  }
  return users;
}

// The account's configuration with `users`, saved at the default place.
void fillConfig(Korvath::Config& config, const std::vector<UserConfig>& users) {
  config.setRegion("localhost");
  config.setEnvironment("prod");
  config.setAccountId(kAccountId);
  config.setResourceId(kResourceId);
  config.setAccountAlias("Simulated Account");
  config.setResourceAlias("Simulated Desktop");
  config.setMasterPassword(kMasterPassword);
  Korvath::ServerConfig server = config.getServerConfig();
  server.setIntegrationKey(kIntegrationKey);
  server.setOffline(1);
  server.setEnableForgotAuthenticator(1);
  server.setEnableRememberPassword(1);
  server.setSyncInterval(24);
  config.setServerConfig(server);
  const std::uint64_t now = Korvath::Platform::clock().nowFileTime();
  config.setLastSync(now);
  config.setLastRun(now - 36000000000ull);
  config.setUsersConfig(users);
}

// The configuration file for one start-up: what the previous start-up left (the fields it
// keeps), with the case's users and a synchronization that is not due.
bool prepareStartup(const std::vector<UserConfig>& users) {
  Korvath::KvCrypto crypto;
  Korvath::Config config(&crypto);
  config.readFile();  // absent the first time
  fillConfig(config, users);
  return config.writeFile() == 0;
}

// A dialog's service over the account's configuration with `users` (no start-up).
void fillService(Korvath::Service::KvService& service, const std::vector<UserConfig>& users) {
  Korvath::Config& config = service.getConfig();
  fillConfig(config, users);
  config.setFilePath(Korvath::Platform::configFilePath());
  service.getKvBusiness() = Korvath::Business::KvBusiness(&config, &service.getKvCrypto());
  service.getKvBusiness().setClientIp("127.0.0.1");
}

struct Run {
  std::function<bool()> setup;       // not measured; false ends the case
  std::function<std::uint16_t()> op;  // measured; its result code
};

int runWorker(const WorkerOptions& o) {
  Korvath::Platform::IRegistry& registry = Korvath::Platform::agentRegistry();
  registry.setString("DesktopLogonHostPrefix", "");
  registry.setString("PolicyHostPrefix", "");
  registry.setString("DomainSuffix", "");
  registry.setString("Port", std::to_string(o.port));
  if (!o.ca.empty()) Korvath::Cloud::HttpsExchange::addTrustAnchorFile(o.ca);

  const std::vector<UserConfig> users = makeUsers(o.users);
  const std::string login = loginOf(0);
  Korvath::Service::KvService service;
  Korvath::Service::ServiceResponseAuthQRCode shown;
  std::string answer;
  std::uint64_t counter = 0;
  std::uint16_t type = 0;
  std::string response;
  Run run;

  if (o.caseName == "startup") {
    run.setup = [&] { return prepareStartup(users); };
    run.op = [&] {
      Korvath::Service::KvService fresh;
      return fresh.initialize(type, response).getResultCode();
    };
  } else if (o.caseName == "otp-offline" || o.caseName == "otp-online") {
    fillService(service, users);
    const bool online = o.caseName == "otp-online";
    run.setup = [] { return true; };
    run.op = [&, online] {
      Korvath::Service::KvServiceOTP otp(&service);
      Korvath::Service::ServiceRequestAuthOTP message;
      message.setUserLogin(login);
      message.setAuthData(hotp(secretOf(0, 0), counter++));
      return (online ? otp.checkOTPOnline(message, type, response) : otp.checkOTP(message, type, response))
          .getResultCode();
    };
  } else if (o.caseName == "qr-offline") {
    fillService(service, users);
    run.setup = [&] {
      Korvath::Service::KvServiceQRCode qr(&service);
      Korvath::Service::ServiceRequestBase request;
      request.setUserLogin(login);
      if (qr.genCmdQRCodeOffline(request, type, response).getResultCode() != 0) return false;
      if (shown.fillFromJson(response) != 0) return false;
      const int index = service.getConfig().getUserIndex(login);
      const std::string blob = service.getConfig().getUsersConfig().at(static_cast<std::size_t>(index))
                                   .getAuthenticators()
                                   .at(0)
                                   .getBlob();
      return AuthenticationSdk::Issuer::computeQrAnswer(blob, kAccountId, kIntegrationKey, shown.getCommand(),
                                                        AuthenticationSdk::currentUnixTime(), answer) == 0;
    };
    run.op = [&] {
      Korvath::Service::KvServiceQRCode qr(&service);
      Korvath::Service::ServiceRequestAuthQRCode request;
      request.setUserLogin(login);
      request.setAuthData(answer);
      request.setCommand(shown.getCommand());
      request.setTransactionId(shown.getTransactionId());
      request.setTransactionData(shown.getTransactionData());
      request.setOnLine(false);
      return qr.checkQRCode(request, type, response).getResultCode();
    };
  } else if (o.caseName == "forgot-activation") {
    fillService(service, users);
    AuthenticationSdk::ChallengeData data;
    data.setType(0);
    data.setAccountId(kAccountId);
    data.setUserLogin(login);
    data.setTime(kForgotHours);
    data.setChallenge("123456");
    std::string code;
    AuthenticationSdk::Issuer::computeForgotTokenCode(data.toJson(), kAccountId, kIntegrationKey, code);
    run.setup = [] { return true; };
    run.op = [&, code] {
      Korvath::Service::KvServiceForgotAuthenticator forgot(&service);
      Korvath::Service::ServiceRequestActiveForgotAuthenticator request;
      request.setUserLogin(login);
      request.setTime(kForgotHours);
      request.setChallenge("123456");
      request.setAuthData(code);
      return forgot.checkActiveForgotAuthenticatorOffline(request, type, response);
    };
  } else if (o.caseName == "tls") {
    run.setup = [] { return true; };
    run.op = [&] {
      Korvath::Cloud::HttpsExchange exchange;
      std::uint32_t error = exchange.open("localhost", o.port, "GET", "/_sim/pushes", {"Accept: application/json"});
      if (error != 0) return static_cast<std::uint16_t>(error % 65536);
      const Korvath::Cloud::HttpsResult result = exchange.sendAndReceive(std::string());
      if (!result.answered()) return static_cast<std::uint16_t>(result.transportError % 65536);
      return static_cast<std::uint16_t>(result.httpStatus == 200 ? 0 : result.httpStatus);
    };
  } else {
    std::fprintf(stderr, "kvbench: unknown case %s\n", o.caseName.c_str());
    return 2;
  }

  std::vector<double> wall;
  std::uint16_t code = 0;
  const int total = 1 + (o.callgrind ? 1 : o.runs);
  for (int i = 0; i < total; ++i) {
    if (!run.setup()) {
      std::printf("KVBENCH case=%s users=%d result=setup-failed\n", o.caseName.c_str(), o.users);
      return 1;
    }
    const bool counted = i > 0;
    if (counted && o.callgrind) KV_BENCH_COLLECT();
    const auto start = std::chrono::steady_clock::now();
    code = run.op();
    const auto end = std::chrono::steady_clock::now();
    if (counted && o.callgrind) KV_BENCH_COLLECT();
    if (code != 0) break;
    if (counted) wall.push_back(std::chrono::duration<double, std::micro>(end - start).count());
  }
  std::printf("KVBENCH case=%s users=%d result=%u median_us=%.1f runs=%u\n", o.caseName.c_str(), o.users,
              static_cast<unsigned>(code), median(wall), static_cast<unsigned>(wall.size()));
  return code == 0 ? 0 : 1;
}

// ------------------------------------------------------------------------------ driver

struct Figure {
  bool ok = false;
  std::string failure;
  double medianUs = 0;
  unsigned runs = 0;
  double instructions = -1;  // -1: not counted
};

std::string self() {
  std::error_code ec;
  return fs::read_symlink("/proc/self/exe", ec).string();
}

// Runs `argv` with its standard output into `outFile`; its exit status.
int spawn(const std::vector<std::string>& argv, const std::string& outFile) {
  // What this process has printed must not be printed again by the child.
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    FILE* out = std::freopen(outFile.c_str(), "w", stdout);
    if (out == nullptr) _exit(127);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string readWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// "key=value" of the worker's KVBENCH line.
std::string field(const std::string& output, const std::string& key) {
  const std::size_t line = output.find("KVBENCH ");
  if (line == std::string::npos) return std::string();
  const std::size_t end = output.find('\n', line);
  const std::string text = output.substr(line, end == std::string::npos ? std::string::npos : end - line);
  const std::size_t at = text.find(" " + key + "=");
  if (at == std::string::npos) return std::string();
  const std::size_t from = at + key.size() + 2;
  const std::size_t to = text.find(' ', from);
  return text.substr(from, to == std::string::npos ? std::string::npos : to - from);
}

// The instructions callgrind counted ("summary:" or "totals:" line of its output file).
double callgrindTotal(const std::string& file) {
  std::istringstream in(readWhole(file));
  std::string line;
  double total = -1;
  while (std::getline(in, line)) {
    if (line.rfind("summary:", 0) == 0 || line.rfind("totals:", 0) == 0) total = std::atof(line.c_str() + line.find(':') + 1);
  }
  return total;
}

bool haveValgrind() { return std::system("valgrind --version >/dev/null 2>&1") == 0; }

struct DriverOptions {
  std::vector<int> users = {1, 30, 300};
  std::vector<std::string> cases = kAllCases;
  int runs = 15;
  bool callgrind = true;
  std::string keepDir;
  std::string testca = KV_BENCH_TESTCA;
};

std::string withThousands(double value) {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%.0f", value);
  std::string text = digits;
  for (int i = static_cast<int>(text.size()) - 3; i > 0; i -= 3) text.insert(static_cast<std::size_t>(i), ",");
  return text;
}

int runDriver(const DriverOptions& o) {
  char pattern[] = "/tmp/kvbench.XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    std::perror("kvbench: mkdtemp");
    return 1;
  }
  const std::string root = pattern;
  struct Cleanup {
    std::string path;
    ~Cleanup() {
      std::error_code ec;
      fs::remove_all(path, ec);
    }
  } cleanup{root};
  setenv("KORVATH_ROOT", root.c_str(), 1);

  const std::string caDir = root + "/ca";
  const std::string caCommand = "sh '" + o.testca + "' '" + caDir + "'";
  if (std::system(caCommand.c_str()) != 0) {
    std::fprintf(stderr, "kvbench: %s failed\n", caCommand.c_str());
    return 1;
  }

  // The account with every user a case can ask for; the same tokens as the workers' blobs.
  CloudSim::ServerOptions options;
  CloudSim::Account account;
  account.accountId = kAccountId;
  account.resourceId = std::to_string(kResourceId);
  account.integrationKey = kIntegrationKey;
  account.accountAlias = "Simulated Account";
  account.resourceAlias = "Simulated Desktop";
  account.masterPassword = kMasterPassword;
  for (int i = 0; i < kSimUsers; ++i) {
    CloudSim::SimUser user;
    user.login = loginOf(i);
    user.email = loginOf(i) + "@sim.example";
    for (int k = 0; k < 2; ++k) {
      CloudSim::SimAuthenticator token;
      token.model = k == 0 ? 10 : 11;
      token.serialNumber = (k == 0 ? "MOB-" : "HW-") + loginOf(i);
      token.deviceId = k == 0 ? static_cast<std::uint32_t>(1000 + i) : 0;
      token.secret = secretOf(i, k);
      user.authenticators.push_back(token);
    }
    account.users.push_back(user);
  }
  options.fixture.accounts.push_back(account);
  options.certFile = caDir + "/server.pem";
  options.keyFile = caDir + "/server.key";
  CloudSim::Server sim;
  std::string error;
  if (!sim.start(options, error)) {
    std::fprintf(stderr, "kvbench: simulator: %s\n", error.c_str());
    return 1;
  }
  const std::string port = std::to_string(sim.port());
  const bool callgrind = o.callgrind && haveValgrind();

  std::printf("kvbench: native %s build, %d counted run(s) per case after one warm-up; instructions: %s\n",
              KV_BENCH_BUILD_TYPE, o.runs,
              callgrind ? "callgrind, the counted run's measuring thread" : "not counted (no valgrind)");
  std::printf("simulator: https://localhost:%s, %d users of 2 authenticators each\n\n", port.c_str(), kSimUsers);

  std::map<std::string, std::map<int, Figure>> figures;
  int failures = 0;
  int workerNumber = 0;
  for (int users : o.users) {
    for (const std::string& name : o.cases) {
      Figure figure;
      for (int pass = 0; pass < (callgrind ? 2 : 1); ++pass) {
        const bool underCallgrind = pass == 1;
        const std::string workerRoot = root + "/w" + std::to_string(++workerNumber);
        fs::create_directories(workerRoot);
        const std::string outFile = workerRoot + ".out";
        const std::string cgFile = workerRoot + ".callgrind";
        std::vector<std::string> argv;
        if (underCallgrind) {
          argv = {"valgrind", "--tool=callgrind", "--collect-atstart=no", "--callgrind-out-file=" + cgFile, "-q"};
        }
        std::vector<std::string> worker = {self(),   "--worker", name,         "--users", std::to_string(users),
                                           "--runs", std::to_string(o.runs), "--port", port, "--ca",
                                           caDir + "/ca.pem"};
        if (underCallgrind) worker.push_back("--callgrind");
        argv.insert(argv.end(), worker.begin(), worker.end());
        // Every worker finds the tokens as the fixture made them (counters at 0).
        sim.reset();
        setenv("KORVATH_ROOT", workerRoot.c_str(), 1);
        const int status = spawn(argv, outFile);
        setenv("KORVATH_ROOT", root.c_str(), 1);
        const std::string output = readWhole(outFile);
        const std::string result = field(output, "result");
        if (status != 0 || result != "0") {
          figure.ok = false;
          figure.failure = result.empty() ? "exit " + std::to_string(status) : "result " + result;
          break;
        }
        figure.ok = true;
        if (underCallgrind) {
          figure.instructions = callgrindTotal(cgFile);
          if (!o.keepDir.empty()) {
            std::error_code ec;
            fs::create_directories(o.keepDir, ec);
            fs::copy_file(cgFile, o.keepDir + "/" + name + "-" + std::to_string(users) + ".callgrind",
                          fs::copy_options::overwrite_existing, ec);
          }
        } else {
          figure.medianUs = std::atof(field(output, "median_us").c_str());
          figure.runs = static_cast<unsigned>(std::atoi(field(output, "runs").c_str()));
        }
      }
      if (!figure.ok) ++failures;
      figures[name][users] = figure;
      std::fprintf(stderr, "kvbench: %-18s %4d users %s\n", name.c_str(), users,
                   figure.ok ? "done" : ("FAILED (" + figure.failure + ")").c_str());
    }
  }

  // One row per case: instructions and median wall time at each user count, then the cost
  // of one more stored user between the two largest counts.
  std::printf("%-18s", "case");
  for (int users : o.users) std::printf(" | %5d users: instructions   median", users);
  if (o.users.size() >= 2) std::printf(" | instructions per user");
  std::printf("\n");
  for (const std::string& name : o.cases) {
    std::printf("%-18s", name.c_str());
    for (int users : o.users) {
      const Figure& f = figures[name][users];
      if (!f.ok) {
        std::printf(" | %-38s", ("FAILED: " + f.failure).c_str());
        continue;
      }
      const std::string count = f.instructions >= 0 ? withThousands(f.instructions) : "-";
      char wall[32];
      if (f.medianUs >= 10000) {
        std::snprintf(wall, sizeof wall, "%.1f ms", f.medianUs / 1000);
      } else {
        std::snprintf(wall, sizeof wall, "%.0f us", f.medianUs);
      }
      std::printf(" | %25s %10s", count.c_str(), wall);
    }
    if (o.users.size() >= 2) {
      const Figure& a = figures[name][o.users[o.users.size() - 2]];
      const Figure& b = figures[name][o.users.back()];
      const int span = o.users.back() - o.users[o.users.size() - 2];
      if (a.ok && b.ok && a.instructions >= 0 && b.instructions >= 0 && span > 0) {
        std::printf(" | %21s", withThousands((b.instructions - a.instructions) / span).c_str());
      } else {
        std::printf(" | %21s", "-");
      }
    }
    std::printf("\n");
  }
  sim.stop();
  return failures == 0 ? 0 : 1;
}

int usage() {
  std::cerr << "usage: kvbench [--users 1,30,300] [--runs N] [--cases a,b,...] [--no-callgrind] [--keep <dir>] [--smoke]\n"
               "       kvbench --worker <case> --users N --runs K --port P --ca <pem> [--callgrind]\n"
               "cases: startup otp-offline qr-offline forgot-activation otp-online tls\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  WorkerOptions worker;
  DriverOptions driver;
  bool isWorker = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--worker" && hasValue) {
      isWorker = true;
      worker.caseName = argv[++i];
    } else if (arg == "--users" && hasValue) {
      std::vector<std::string> items;
      if (!parseList(argv[++i], items)) return usage();
      driver.users.clear();
      for (const std::string& item : items) {
        const int n = std::atoi(item.c_str());
        if (n < 1 || n > kSimUsers) return usage();
        driver.users.push_back(n);
      }
      worker.users = driver.users.front();
    } else if (arg == "--runs" && hasValue) {
      driver.runs = worker.runs = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--cases" && hasValue) {
      if (!parseList(argv[++i], driver.cases)) return usage();
      for (const std::string& c : driver.cases)
        if (std::find(kAllCases.begin(), kAllCases.end(), c) == kAllCases.end()) return usage();
    } else if (arg == "--port" && hasValue) {
      worker.port = static_cast<std::uint16_t>(std::atoi(argv[++i]));
    } else if (arg == "--ca" && hasValue) {
      worker.ca = argv[++i];
    } else if (arg == "--callgrind") {
      worker.callgrind = true;
    } else if (arg == "--no-callgrind") {
      driver.callgrind = false;
    } else if (arg == "--keep" && hasValue) {
      driver.keepDir = argv[++i];
    } else if (arg == "--smoke") {
      // Proves the tool runs: every case once, one user, no instruction count.
      driver.users = {1};
      driver.runs = 1;
      driver.callgrind = false;
    } else {
      return usage();
    }
  }
  return isWorker ? runWorker(worker) : runDriver(driver);
}
