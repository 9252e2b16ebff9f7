#include "DialogSimSupport.h"

namespace DialogSim {

Korvath::Model::UserConfig storedUser(const std::string& login, bool push, bool qrcode, bool otp,
                                      const std::string& lastAuthType) {
  return ServicesTest::user(login, push, qrcode, otp, lastAuthType, {ServicesTest::mobile(1001)});
}

std::string alicePolicy(bool safeNetwork, bool qrcode) {
  const auto flag = [](bool on) { return std::string(on ? "true" : "false"); };
  return "[{\"username\":\"alice\",\"email\":\"alice@sim.example\",\"hasPolicy\":true,"
         "\"isAllowedToAuthenticate\":true,\"isInSafeLocation\":" +
         flag(safeNetwork) +
         ",\"isBlocked\":false,\"isOverallocated\":false,\"isInQuarantine\":false,\"isInForgotToken\":false,"
         "\"authTypes\":{\"push\":true,\"qrcode\":" +
         flag(qrcode) + ",\"otp\":true}}]";
}

void AgentSimTest::writeAgentConfig(const std::vector<Korvath::Model::UserConfig>& users,
                                    const std::function<void(Korvath::ServerConfig&)>& adjust,
                                    std::int32_t resourceId) {
  writeConfigFile(users, resourceId);
  Korvath::Config config = readConfigFile();
  Korvath::ServerConfig server = config.getServerConfig();
  server.setOffline(1);
  server.setEnableForgotAuthenticator(1);
  if (adjust) adjust(server);
  ASSERT_EQ(0, config.setServerConfig(server));
  ASSERT_EQ(0, config.writeFile());
}

}  // namespace DialogSim
