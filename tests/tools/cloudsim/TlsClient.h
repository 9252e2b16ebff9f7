#pragma once

// A bare TLS client for the simulator's tests: sends bytes exactly as given, so the tests
// control the header order, and reads until the server closes.

#include <cstdint>
#include <string>

namespace CloudSimTest {

struct Exchange {
  bool handshake = false;  // the TLS handshake completed
  bool answered = false;   // at least one byte came back
  int status = 0;
  std::string body;
  std::string raw;
};

// Trusts the CA made for this suite. maxTlsVersion 0 = the library's default range;
// otherwise e.g. TLS1_1_VERSION. hangUp: close the connection once the request is sent,
// without waiting for an answer.
Exchange exchange(std::uint16_t port, const std::string& request, int maxTlsVersion = 0, bool hangUp = false);

std::string caFile();
std::string certFile();
std::string keyFile();

// A request with Host first, then Content-Length when there is a body.
std::string buildRequest(const std::string& method, const std::string& path, const std::string& body);

}  // namespace CloudSimTest
