// kvlogonui: test tool that plays LogonUI for one or more sign-ins (see LogonUi.h).
//
//   kvlogonui --tile <clsid> [--scenario logon|unlock|changepassword|credui|plap]
//             [--user <name>] [--password <text>] [--index <n>]
//             [--remote-user <name> --remote-password <text> [--remote-provider <clsid>]
//              [--remote-hello] | --remote-hex <hex> --remote-provider <clsid> [--remote-package <n>]]
//             [--users <sid>=<name>[,<sid>=<name>...]]
//             [--submit <n>] [--delay-ms <ms>] [--report-status <hex>] [--repeat <n>] [--check-unload]
//   kvlogonui --install-standins
//
// --install-standins puts the stand-ins for Windows' providers from this program's folder
// into the machine (KvStandIn/Install.h) and exits.
//
// Prints one line per step (HRESULTs, responses, sizes, class identifiers; never a password
// or serialization byte). Exit code 0 when every sign-in ran, 2 on a usage error.

#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "KvLogonUi/LogonUi.h"
#include "KvStandIn/Install.h"
#include "KvStandIn/PackedLogon.h"
#include "KvStandIn/StandInProbe.h"

namespace {

int usage(const std::string& message) {
  std::fprintf(stderr,
               "kvlogonui: %s\n"
               "usage: kvlogonui --tile <clsid> [--scenario logon|unlock|changepassword|credui|plap]\n"
               "                 [--user <name>] [--password <text>] [--index <n>]\n"
               "                 [--remote-user <name> --remote-password <text> [--remote-provider <clsid>] [--remote-hello]\n"
               "                  | --remote-hex <hex> --remote-provider <clsid> [--remote-package <n>]]\n"
               "                 [--users <sid>=<name>[,...]] [--submit <n>] [--delay-ms <ms>]\n"
               "                 [--report-status <hex>] [--repeat <n>] [--check-unload]\n"
               "       kvlogonui --install-standins\n",
               message.c_str());
  return 2;
}

std::wstring wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size);
  return out;
}

bool parseScenario(const std::string& name, CREDENTIAL_PROVIDER_USAGE_SCENARIO& out) {
  static const std::map<std::string, CREDENTIAL_PROVIDER_USAGE_SCENARIO> names = {
      {"logon", CPUS_LOGON}, {"unlock", CPUS_UNLOCK_WORKSTATION}, {"changepassword", CPUS_CHANGE_PASSWORD},
      {"credui", CPUS_CREDUI}, {"plap", CPUS_PLAP}};
  auto found = names.find(name);
  if (found == names.end()) return false;
  out = found->second;
  return true;
}

}  // namespace

int installFromOwnFolder() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder = path;
  folder = folder.substr(0, folder.find_last_of(L"\\/"));
  const std::string error = KvStandIn::installStandIns(folder);
  if (!error.empty()) {
    std::fprintf(stderr, "kvlogonui: %s\n", error.c_str());
    return 1;
  }
  std::printf("stand-ins installed\n");
  return 0;
}

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--install-standins") return installFromOwnFolder();
  std::map<std::string, std::string> options;
  bool checkUnload = false;
  bool remoteHello = false;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--check-unload") {
      checkUnload = true;
    } else if (name == "--remote-hello") {
      remoteHello = true;
    } else if (name.rfind("--", 0) == 0 && i + 1 < argc) {
      options[name.substr(2)] = argv[++i];
    } else {
      return usage("bad argument " + name);
    }
  }
  KvLogonUi::SignIn request;
  if (options.count("tile") == 0 || !KvLogonUi::parseGuid(options["tile"], request.tile)) return usage("--tile <clsid> is required");
  if (options.count("scenario") != 0 && !parseScenario(options["scenario"], request.scenario))
    return usage("unknown scenario " + options["scenario"]);
  request.user = wide(options["user"]);
  request.password = wide(options["password"]);
  request.credentialIndex = static_cast<DWORD>(std::strtoul(options["index"].c_str(), nullptr, 10));
  request.submissions = options.count("submit") != 0 ? std::atoi(options["submit"].c_str()) : 1;
  request.submitDelayMs = static_cast<DWORD>(std::strtoul(options["delay-ms"].c_str(), nullptr, 10));
  if (options.count("report-status") != 0)
    request.reportStatus = static_cast<NTSTATUS>(std::strtoul(options["report-status"].c_str(), nullptr, 16));
  if (options.count("remote-user") != 0) {
    request.hasRemote = true;
    std::wstring domain;
    std::wstring user;
    KvStandIn::splitUserName(wide(options["remote-user"]), domain, user);
    request.remote.provider = remoteHello ? KvStandIn::kSmartCardProvider : KvStandIn::kPasswordProvider;
    request.remote.bytes = remoteHello ? KvStandIn::packCertificateLogon(13, domain, user, wide(options["remote-password"]),
                                                                         L"Windows Hello for Business 1")
                                       : KvStandIn::packInteractiveLogon(2, domain, user, wide(options["remote-password"]));
    request.remote.package = KvStandIn::negotiatePackage();
  } else if (options.count("remote-hex") != 0) {
    request.hasRemote = true;
    request.remote.bytes = KvStandIn::fromHex(options["remote-hex"]);
    request.remote.package = static_cast<ULONG>(std::strtoul(options["remote-package"].c_str(), nullptr, 10));
  }
  if (options.count("remote-provider") != 0 && !KvLogonUi::parseGuid(options["remote-provider"], request.remote.provider))
    return usage("bad --remote-provider");
  if (options.count("users") != 0) {
    std::string list = options["users"];
    std::size_t start = 0;
    while (start <= list.size()) {
      const std::size_t end = list.find(',', start);
      const std::string item = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
      const std::size_t eq = item.find('=');
      if (eq == std::string::npos) return usage("bad --users entry " + item);
      KvLogonUi::UserEntry entry;
      entry.sid = wide(item.substr(0, eq));
      entry.userName = wide(item.substr(eq + 1));
      entry.qualifiedUserName = entry.userName;
      request.users.push_back(entry);
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
  const int repeat = options.count("repeat") != 0 ? std::atoi(options["repeat"].c_str()) : 1;

  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return usage("COM does not start");
  {
    KvLogonUi::LogonUi logonUi([](const std::string& line) {
      std::printf("%s\n", line.c_str());
      std::fflush(stdout);
    });
    for (int round = 1; round <= repeat; ++round) {
      std::printf("signin round=%d\n", round);
      logonUi.signIn(request);
    }
    if (checkUnload) logonUi.unloadReport();
  }
  SecureZeroMemory(&request.password[0], request.password.size() * sizeof(wchar_t));
  CoUninitialize();
  return 0;
}
