#pragma once

// The cloud simulator: an HTTPS server on 127.0.0.1 that plays the desktop-logon and
// policy APIs for tests. The wire protocol, the control API and the fixture format are
// described in docs/cloudsim.md.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace CloudSim {

// One authenticator of a simulated user. The fixture gives the token secret; the blob the
// service would hand out is made from it when the simulator loads (Blob::create under the
// account's identifier and integration key), so each run has fresh blobs of the same secret.
struct SimAuthenticator {
  std::uint8_t model = 10;             // 9 Marlet device, 10 mobile, 11-13 OATH hardware tokens
  std::string serialNumber;            // 1 to 32 characters
  std::uint32_t deviceId = 0;
  std::vector<std::uint8_t> secret;    // 16 to 64 bytes (hexadecimal in the fixture)
  std::uint8_t otpAlgorithm = 1;       // 1 SHA-1, 2 SHA-256, 3 SHA-512
  unsigned otpDigits = 6;              // 6 or 8
  std::uint64_t counter = 0;           // next HOTP counter the token will use
  bool active = true;
  std::string blob;                    // made at load
};

// A user of an account, with what the policy API says about them.
struct SimUser {
  std::string login;  // 1 to 100 characters
  std::string email;
  bool blocked = false;
  bool overAllocated = false;
  bool quarantine = false;
  bool hasPolicy = true;
  bool isAllowedToAuthenticate = true;
  bool isInSafeLocation = false;
  bool isInForgotToken = false;
  std::map<std::string, bool> authTypes = {{"otp", true}, {"qrcode", true}, {"push", true}};
  std::uint64_t authenticatorForgottenExpiryTimestamp = 0;  // Unix ms, 0 = none
  std::vector<SimAuthenticator> authenticators;
};

// The settings delivered with every configuration reply (the server configuration).
struct SimSettings {
  std::uint16_t pushTimeout = 60;  // 10 to 99
  std::uint8_t offline = 1;
  std::uint64_t syncInterval = 24;  // hours
  std::string supportMessage;
  std::uint8_t enableRememberPassword = 1;
  std::uint8_t enableForgotAuthenticator = 1;
  std::string latestVersionKorvath;
  std::uint8_t allowUnknownUsers = 0;
  std::uint32_t loginAttempts = 5;
  std::uint32_t authenticationAttempts = 5;
  std::uint32_t autoUnblockTime = 15;
  std::uint32_t syncTime = 10;
  std::uint32_t timeWindow = 2;
};

struct Account {
  std::string accountId;
  std::string resourceId;  // unsigned decimal text without leading zeros
  std::string integrationKey;
  std::string accountAlias;   // empty or 3 to 255 characters
  std::string resourceAlias;  // empty or 3 to 255 characters
  std::string masterPassword;
  SimSettings settings;
  std::vector<SimUser> users;
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
