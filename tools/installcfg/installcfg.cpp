// installcfg: writes the sealed install configuration that the agent reads at its first
// start, as the installer does. The file is sealed under this machine's configuration key
// (natively the key under KORVATH_ROOT), so run it with the same KORVATH_ROOT as the agent.
//
//   installcfg --region <r> --environment <e> --account-id <a> --resource-id <n>
//              (--integration-key <k> | --integration-key-stdin)
//              [--allow-unknown-users 0|1] [--out <path>]

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <string>

#include "Korvath/InstallConfig.h"
#include "Korvath/KvCrypto.h"
#include "Korvath/Platform.h"
#include "Korvath/ResultCodes.h"

namespace {

int usage(const char* message) {
  std::cerr << "installcfg: " << message << "\n"
            << "usage: installcfg --region <r> --environment <e> --account-id <a> --resource-id <n>\n"
            << "                  (--integration-key <k> | --integration-key-stdin)\n"
            << "                  [--allow-unknown-users 0|1] [--out <path>]\n";
  return 2;
}

bool parseUnsigned(const std::string& text, unsigned long long max, unsigned long long& out) {
  if (text.empty() || text.size() > 20) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  out = std::strtoull(text.c_str(), nullptr, 10);
  return out <= max;
}

}  // namespace

int main(int argc, char** argv) {
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
