#include <gtest/gtest.h>

#include <rapidjson/document.h>

#include <fstream>
#include <string>
#include <vector>

#include "CryptoSdk/SecurityService.h"
#include "Korvath/Logger.h"
#include "Korvath/Platform.h"
#include "TestSupport.h"

using namespace Korvath;

namespace {

std::string logPath() { return Platform::windowsDirectory() + "/kv-test-log.log"; }

// The records of the log file, each without the CR LF that must end it.
std::vector<std::string> records() {
  std::ifstream in(logPath(), std::ios::binary);
  std::vector<std::string> out;
  for (std::string line; std::getline(in, line);) {
    EXPECT_TRUE(!in.eof() && !line.empty() && line.back() == '\r') << "every record ends with CR LF";
    out.push_back(line.substr(0, line.size() - 1));
  }
  return out;
}

// Opens a sealed field with the log key derived from this machine's secret.
std::string openField(const std::string& sealed) {
  std::vector<std::uint8_t> secret;
  EXPECT_TRUE(Platform::machineSecret(secret));
  CryptoSdk::SealKey key;
  EXPECT_EQ(CryptoSdk::LogSecurityService::deriveLogKey(secret, key), 0);
  std::string plain;
  EXPECT_EQ(CryptoSdk::LogSecurityService::open(key, sealed, plain), 0) << sealed;
  return plain;
}

struct Opened {
  std::string message, file, line, level, asctime;
};

Opened openRecord(const std::string& record) {
  rapidjson::Document doc;
  doc.Parse(record.c_str(), record.size());
  EXPECT_FALSE(doc.HasParseError()) << record;
  EXPECT_TRUE(doc.IsObject());
  const char* const keys[] = {"message",   "service",     "component",   "level_name",
                              "file_name", "line_number", "app_version", "asctime"};
  EXPECT_EQ(doc.MemberCount(), 8u);
  int i = 0;
  for (auto it = doc.MemberBegin(); it != doc.MemberEnd() && i < 8; ++it, ++i) {
    EXPECT_STREQ(it->name.GetString(), keys[i]);  // exactly these keys, in this order
    EXPECT_TRUE(it->value.IsString());
  }
  EXPECT_STREQ(doc["service"].GetString(), "application");
  EXPECT_STREQ(doc["component"].GetString(), "Pellora Agent for Windows");
  EXPECT_STREQ(doc["app_version"].GetString(), "3.0.1.643");
  return {openField(doc["message"].GetString()), openField(doc["file_name"].GetString()),
          openField(doc["line_number"].GetString()), doc["level_name"].GetString(), doc["asctime"].GetString()};
}

class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TearDown();  // no log left open or on disk by an earlier test
    clock_.setUnixMs(1712345678901LL);
  }
  void TearDown() override {
    Logger::close();
    std::remove(logPath().c_str());
  }
  KvTest::FakeClock clock_;
  KvTest::ScopedClock scoped_{clock_};
};

}  // namespace

// Every call is one record, sealed field by field (nothing in the clear) and appended, also to a
// log opened again: the level, the message as formatted, redacted (its rules: LogRedactionTest) and
// cut at 4095 bytes without splitting a UTF-8 sequence, and the entry and exit lines.
TEST_F(LoggerTest, EveryCallIsOneSealedRecord) {
  ASSERT_TRUE(Logger::open(logPath()));
  Logger::info(42, "src/Some/File.cpp", "%s - value %d", "Korvath::Thing::run", 7);
  KV_LOG_DEBUG("%s - request: %s", "Korvath::KvServiceOTP::checkOTP",
               "{\"userLogin\":\"bob\",\"authData\":\"123456\"}");
  Logger::close();
  ASSERT_TRUE(Logger::open(logPath()));
  KV_LOG_ERROR("%s", std::string(5000, 'x').c_str());
  Logger::debug(1, "f", "%s\xc3\xa9", std::string(4094, 'z').c_str());
  Logger::write(9, "entry.cpp", "notice", "Log opening");
  {
    KV_TRACE_SCOPE("Korvath::KvService::initialize");
    KV_TRACE_SCOPE_TIMED("Korvath::KvService::sync");
  }
  Logger::close();
  const std::pair<const char*, std::string> expected[] = {
      {"info", "Korvath::Thing::run - value 7"},
      {"debug", "Korvath::KvServiceOTP::checkOTP - request: {\"userLogin\":\"bob\",\"authData\":\"***\"}"},
      {"error", std::string(4095, 'x')},
      {"debug", std::string(4094, 'z')},
      {"notice", "Log opening"},
      {"trace", "[IN] Korvath::KvService::initialize"},
      {"trace", "Korvath::KvService::sync [in] <05/04/2024 19:34:38>"},
      {"trace", "Korvath::KvService::sync [out] <05/04/2024 19:34:38>"},
      {"trace", "[OUT] Korvath::KvService::initialize"},
  };
  const auto recs = records();
  ASSERT_EQ(recs.size(), 9u);
  for (std::size_t i = 0; i < recs.size(); ++i) {
    const Opened o = openRecord(recs[i]);
    EXPECT_EQ(o.level, expected[i].first);
    EXPECT_EQ(o.message, expected[i].second);
  }
  EXPECT_EQ(recs[0].find("Korvath::Thing"), std::string::npos);
  EXPECT_EQ(recs[0].find("File.cpp"), std::string::npos);
  const Opened first = openRecord(recs[0]);
  EXPECT_EQ(first.file, "src/Some/File.cpp");
  EXPECT_EQ(first.line, "42");
  EXPECT_EQ(first.asctime, "1712345678");
  EXPECT_NE(openRecord(recs[1]).file.find("LoggerTest.cpp"), std::string::npos);
}

// A closed log, or one whose file cannot be opened, writes nothing and never fails a caller.
TEST_F(LoggerTest, NothingWhenNotOpen) {
  KV_LOG_INFO("not written %d", 1);
  EXPECT_FALSE(Logger::open(Platform::windowsDirectory() + "/no/such/dir/x.log"));
  EXPECT_FALSE(Logger::isOpen());
  KV_LOG_ERROR("%s", "still no failure");
  EXPECT_FALSE(std::ifstream(logPath()).good());
}
