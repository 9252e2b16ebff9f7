#pragma once

// Support of the dialog's tests against the simulator (the logic suite and the dialog's window
// tests): the agent's configuration file as the dialog's start-up reads it, and stored users
// holding the simulator's alice's mobile authenticator.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ServicesTestSupport.h"

namespace DialogSim {

// A stored user whose policy allows authentication, holding a mobile authenticator with the
// secret of the simulator's alice (device 1001).
Korvath::Model::UserConfig storedUser(const std::string& login, bool push, bool qrcode, bool otp,
                                      const std::string& lastAuthType = std::string());

// The simulator's policy reply for alice: every flag false but the policy's, and these factors.
std::string alicePolicy(bool safeNetwork, bool qrcode);

class AgentSimTest : public ServicesTest::ServiceSimTestBase {
 protected:
  // A fresh fixture for the next row of a table-driven test.
  void restart() {
    TearDown();
    SetUp();
  }
  // The configuration file at its default place: the simulator's account, resource
  // `resourceId`, `users`, offline checks and forgot-token mode on, then whatever `adjust` sets.
  void writeAgentConfig(const std::vector<Korvath::Model::UserConfig>& users,
                        const std::function<void(Korvath::ServerConfig&)>& adjust = nullptr,
                        std::int32_t resourceId = 4242);
};

}  // namespace DialogSim
