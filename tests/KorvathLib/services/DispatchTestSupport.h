#pragma once

// Support of the dispatcher, push, OTP and password service tests: a dialog service over the
// test's own configuration file, users with test authenticators and the codes they accept.

#include <cstdint>
#include <string>
#include <vector>

#include "Korvath/Config.h"
#include "Korvath/KvCrypto.h"
#include "Korvath/Model/User.h"
#include "Korvath/Service/KvService.h"

namespace DispatchTest {

// The secret of BizCoreTest::makeBlob's authenticators (20 bytes of 0x31).
std::string codeOfTestBlob(std::uint64_t counter);
// The code the simulator's alice (RFC 4226 test secret) accepts at `counter`.
std::string codeOfSimAlice(std::uint64_t counter);

// A user with the given factors and one authenticator of model `model` (active or not).
Korvath::Model::UserConfig userWithToken(const std::string& login, bool push, bool qrcode, bool otp, bool active = true,
                                         std::uint8_t model = 10);

// Turns the server's offline setting on or off in the service's configuration.
void setOffline(Korvath::Service::KvService& service, std::uint8_t offline);

// The stored record of `login` in the configuration file at `path` (empty login when absent).
Korvath::Model::UserConfig storedUser(const std::string& path, const std::string& login);

}  // namespace DispatchTest
