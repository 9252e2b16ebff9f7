// installcfg: writes the sealed install configuration that the agent reads at its first
// start, as the installer does. The file is sealed under this machine's configuration key
// (natively the key under KORVATH_ROOT), so run it with the same KORVATH_ROOT as the agent.
//
//   installcfg --region <r> --environment <e> --account-id <a> --resource-id <n>
//              (--integration-key <k> | --integration-key-stdin)
//              [--allow-unknown-users 0|1] [--out <path>]
//
// On Windows it also writes and removes the credential provider's registration, as the
// installer does (Registration.h lists the keys):
//
//   installcfg register --dll <path of KvCredProv.dll>
//   installcfg unregister

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <string>

#include "Korvath/InstallConfig.h"
#include "Korvath/KvCrypto.h"
#include "Korvath/Platform.h"
#include "Korvath/ResultCodes.h"

#ifdef _WIN32
#include <windows.h>

#include "Registration.h"
#endif

namespace {

int usage(const char* message) {
  std::cerr << "installcfg: " << message << "\n"
            << "usage: installcfg --region <r> --environment <e> --account-id <a> --resource-id <n>\n"
            << "                  (--integration-key <k> | --integration-key-stdin)\n"
            << "                  [--allow-unknown-users 0|1] [--out <path>]\n"
            << "       installcfg register --dll <path>   (Windows)\n"
            << "       installcfg unregister              (Windows)\n";
  return 2;
}

bool parseUnsigned(const std::string& text, unsigned long long max, unsigned long long& out) {
  if (text.empty() || text.size() > 20) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  out = std::strtoull(text.c_str(), nullptr, 10);
  return out <= max;
}

#ifdef _WIN32
std::wstring wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size);
  return out;
}

// "register --dll <path>" and "unregister"; the path is made absolute, as COM needs it.
int registration(int argc, char** argv) {
  const std::string command = argv[1];
  std::string error;
  if (command == "register") {
    if (argc != 4 || std::string(argv[2]) != "--dll") return usage("register needs --dll <path>");
    wchar_t full[MAX_PATH] = {};
    const DWORD length = GetFullPathNameW(wide(argv[3]).c_str(), MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH || GetFileAttributesW(full) == INVALID_FILE_ATTRIBUTES)
      return usage((std::string("no such DLL: ") + argv[3]).c_str());
    error = Korvath::Install::registerCredentialProvider(full);
  } else {
    if (argc != 2) return usage("unregister takes no arguments");
    error = Korvath::Install::unregisterCredentialProvider();
  }
  if (!error.empty()) {
    std::cerr << "installcfg: " << command << ": " << error << "\n";
    return 1;
  }
  std::cout << command << "ed\n";
  return 0;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && (std::string(argv[1]) == "register" || std::string(argv[1]) == "unregister")) {
#ifdef _WIN32
    return registration(argc, argv);
#else
    return usage("registering the credential provider needs Windows");
#endif
  }
  std::map<std::string, std::string> options;
  bool keyFromStdin = false;
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    if (name == "--integration-key-stdin") {
      keyFromStdin = true;
      continue;
    }
    if (name == "--help" || name == "-h") return usage("writes the sealed install configuration");
    if (name.rfind("--", 0) != 0 || i + 1 >= argc) return usage(("bad argument " + name).c_str());
    options[name.substr(2)] = argv[++i];
  }
  for (const char* required : {"region", "environment", "account-id", "resource-id"})
    if (options.count(required) == 0) return usage((std::string("missing --") + required).c_str());
  std::string integrationKey = options["integration-key"];
  if (keyFromStdin) std::getline(std::cin, integrationKey);

  Korvath::KvCrypto crypto;
  Korvath::InstallConfig install(&crypto);
  if (install.setRegion(options["region"]) != 0) return usage("region must be empty or 3 to 25 characters");
  if (install.setEnvironment(options["environment"]) != 0)
    return usage("environment must be one of \"\", dev, qa, staging, prod");
  install.setAccountId(options["account-id"]);
  unsigned long long number = 0;
  if (!parseUnsigned(options["resource-id"], 0xFFFFFFFFull, number)) return usage("resource-id must be a 32-bit number");
  install.setResourceId(static_cast<std::uint32_t>(number));
  if (install.setIntegrationKey(integrationKey) != 0) return usage("integration key must be empty or 3 to 255 characters");
  if (options.count("allow-unknown-users") != 0) {
    if (!parseUnsigned(options["allow-unknown-users"], 1, number)) return usage("allow-unknown-users must be 0 or 1");
    install.setAllowUnknownUsers(static_cast<std::uint8_t>(number));
  }
  const std::string out = options.count("out") != 0 ? options["out"] : Korvath::Platform::installConfigFilePath();
  if (out.empty()) return usage("no output path (set KORVATH_ROOT or give --out)");
  std::uint16_t code = install.writeFile(out);
  if (code != 0) {
    std::cerr << "installcfg: writing " << out << " failed: " << Korvath::getResultName(code) << " (" << code << ")\n";
    return 1;
  }
  std::cout << out << "\n";
  return 0;
}
