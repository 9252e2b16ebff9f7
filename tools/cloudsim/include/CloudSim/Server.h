#pragma once

// The cloud simulator: an HTTPS server on 127.0.0.1 that plays the desktop-logon and
// policy APIs for tests. The wire protocol, the control API and the fixture format are
// described in docs/cloudsim.md.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace CloudSim {

struct Account {
  std::string accountId;
  std::string resourceId;  // unsigned decimal text without leading zeros
  std::string integrationKey;
};

struct Fixture {
  std::vector<Account> accounts;
};

bool parseFixture(const std::string& json, Fixture& fixture, std::string& error);
bool loadFixtureFile(const std::string& path, Fixture& fixture, std::string& error);

// The route names of the control API, in table order.
const std::vector<std::string>& routeNames();

struct RecordedRequest {
  std::string method;
  std::string path;  // the request target as received
  std::vector<std::pair<std::string, std::string>> headers;  // wire order
  std::string body;                                          // raw
  bool opened = false;                                       // the envelope opened
  std::string openedJson;                                    // its plain text when it did
};

struct ProgrammedReply {
  std::string route;
  int status = 200;
  // Sealed as given (the in-process API does not check that it is JSON) under the
  // account's key and wrapped as {"data":...}.
  std::string json = "{}";
  unsigned count = 0;       // 0 = until reset
};

struct Fault {
  std::string route;  // a route name or "*"
  int status = 0;     // 0 = none given
  bool hasBody = false;
  std::string body;   // sent as is
  unsigned delayMs = 0;
  bool close = false;  // drop the connection without an answer
  unsigned count = 0;  // 0 = until reset
};

struct ServerOptions {
  std::string certFile;
  std::string keyFile;
  Fixture fixture;
  std::uint16_t port = 0;  // 0 = a free port
  bool logToStderr = false;  // one line per request: method, path, status (never a body)
};

class Server {
 public:
  Server();
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Listens and serves on background threads; false with a reason when it cannot.
  bool start(const ServerOptions& options, std::string& error);
  // Closes the listener and every open connection and waits for all threads.
  void stop();
  std::uint16_t port() const;

  std::vector<RecordedRequest> requests() const;
  void reset();
  bool addReply(const ProgrammedReply& reply, std::string& error);
  bool addFault(const Fault& fault, std::string& error);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace CloudSim
