// cloudsim --port <n|0> --cert <pem> --key <pem> [--fixture <json>] [--port-file <path>]

#include <CloudSim/Server.h>

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

namespace {

int usage(const std::string& why) {
  std::cerr << "cloudsim: " << why << "\n"
            << "usage: cloudsim --port <n|0> --cert <pem> --key <pem> [--fixture <json>] [--port-file <path>]\n";
  return 2;
}

bool parsePort(const std::string& text, std::uint16_t& port) {
  if (text.empty() || text.size() > 5) return false;
  unsigned long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned long>(c - '0');
  }
  if (value > 65535) return false;
  port = static_cast<std::uint16_t>(value);
  return true;
}

// Written beside the target and renamed, so a reader sees either nothing or the whole number.
bool writePortFile(const std::string& path, std::uint16_t port) {
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::trunc);
    out << port << "\n";
    if (!out.flush()) return false;
  }
  return std::rename(temp.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  CloudSim::ServerOptions options;
  options.logToStderr = true;
  std::string portFile;
  std::string fixtureFile;
  bool havePort = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return usage("missing value after " + arg);
    const std::string value = argv[++i];
    if (arg == "--port") {
      if (!parsePort(value, options.port)) return usage("bad port " + value);
      havePort = true;
    } else if (arg == "--cert") {
      options.certFile = value;
    } else if (arg == "--key") {
      options.keyFile = value;
    } else if (arg == "--fixture") {
      fixtureFile = value;
    } else if (arg == "--port-file") {
      portFile = value;
    } else {
      return usage("unknown option " + arg);
    }
  }
  if (!havePort || options.certFile.empty() || options.keyFile.empty()) {
    return usage("--port, --cert and --key are required");
  }
  std::string error;
  if (!fixtureFile.empty() && !CloudSim::loadFixtureFile(fixtureFile, options.fixture, error)) {
    std::cerr << "cloudsim: " << error << "\n";
    return 2;
  }

  // Signals are taken by sigwait below; every thread the server starts inherits the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  CloudSim::Server server;
  if (!server.start(options, error)) {
    std::cerr << "cloudsim: " << error << "\n";
    return 2;
  }
  if (!portFile.empty() && !writePortFile(portFile, server.port())) {
    std::cerr << "cloudsim: cannot write the port file " << portFile << "\n";
    server.stop();
    return 2;
  }
  std::cout << "cloudsim listening on 127.0.0.1:" << server.port() << std::endl;

  int signal = 0;
  sigwait(&stopSignals, &signal);
  server.stop();
  std::cout << "cloudsim stopped" << std::endl;
  return 0;
}
