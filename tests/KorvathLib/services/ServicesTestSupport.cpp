// The services tests' support is defined in its header but for the log reader; this unit, which
// the suites sharing it link, compiles the header on its own.
#include "ServicesTestSupport.h"

#include <rapidjson/document.h>

#include <fstream>

#include "CryptoSdk/SecurityService.h"

namespace ServicesTest {

std::vector<std::string> openedLogMessages(const std::string& path) {
  std::vector<std::string> messages;
  std::vector<std::uint8_t> machineSecret;
  CryptoSdk::SealKey key;
  EXPECT_TRUE(Korvath::Platform::machineSecret(machineSecret));
  EXPECT_EQ(0, CryptoSdk::LogSecurityService::deriveLogKey(machineSecret, key));
  std::ifstream in(path, std::ios::binary);
  for (std::string record; std::getline(in, record);) {
    if (!record.empty() && record.back() == '\r') record.pop_back();
    if (record.empty()) continue;
    rapidjson::Document doc;
    doc.Parse(record.c_str(), record.size());
    if (doc.HasParseError() || !doc.IsObject() || !doc.HasMember("message") || !doc["message"].IsString()) {
      ADD_FAILURE() << "unreadable record: " << record;
      continue;
    }
    std::string plain;
    EXPECT_EQ(0, CryptoSdk::LogSecurityService::open(key, doc["message"].GetString(), plain));
    messages.push_back(plain);
  }
  return messages;
}

}  // namespace ServicesTest
