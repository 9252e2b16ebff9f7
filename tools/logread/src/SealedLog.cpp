#include "KvLogRead/SealedLog.h"

#include <fstream>
#include <sstream>

#include <rapidjson/document.h>

#include "CryptoSdk/SecurityService.h"
#include "Korvath/Platform.h"

namespace KvLogRead {

bool readSealedLog(const std::string& path, std::vector<Record>& records, std::string& error) {
  records.clear();
  const std::string file = path.empty() ? Korvath::Platform::logFilePath() : path;
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    error = "cannot read " + file;
    return false;
  }
  std::vector<std::uint8_t> secret;
  CryptoSdk::SealKey key;
  if (!Korvath::Platform::machineSecret(secret) || CryptoSdk::LogSecurityService::deriveLogKey(secret, key) != 0) {
    error = "no log key on this machine";
    return false;
  }
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    Record record;
    rapidjson::Document doc;
    doc.Parse(line.c_str(), line.size());
    const auto text = [&doc](const char* name) {
      return doc.HasMember(name) && doc[name].IsString() ? std::string(doc[name].GetString()) : std::string();
    };
    if (!doc.HasParseError() && doc.IsObject()) {
      record.level = text("level_name");
      record.asctime = text("asctime");
      record.opened = CryptoSdk::LogSecurityService::open(key, text("message"), record.message) == 0;
      if (!record.opened) record.message.clear();
    }
    records.push_back(std::move(record));
  }
  return true;
}

}  // namespace KvLogRead
