#include "Korvath/Logger.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "CryptoSdk/SecurityService.h"
#include "Korvath/LogRedaction.h"
#include "Korvath/Platform.h"
#include "Korvath/TimeUtils.h"
#include "Korvath/Utils.h"

namespace Korvath {

namespace {

// Largest formatted message looked at; longer output is cut before redaction too.
constexpr std::size_t kFormatLimit = 64 * 1024;

struct LogState {
  std::mutex mutex;
  std::FILE* file = nullptr;
  CryptoSdk::SealKey key;
};

LogState& state() {
  static LogState* s = new LogState;  // never destroyed: callers may log during shutdown
  return *s;
}

std::string format(const char* fmt, va_list args) {
  if (fmt == nullptr) return std::string();
  va_list copy;
  va_copy(copy, args);
  char small[512];
  const int n = std::vsnprintf(small, sizeof small, fmt, copy);
  va_end(copy);
  if (n < 0) return std::string();
  if (static_cast<std::size_t>(n) < sizeof small) return std::string(small, static_cast<std::size_t>(n));
  const std::size_t size = static_cast<std::size_t>(n) < kFormatLimit ? static_cast<std::size_t>(n) : kFormatLimit;
  std::vector<char> big(size + 1);
  std::vsnprintf(big.data(), big.size(), fmt, args);
  return std::string(big.data(), size);
}

// Cut to at most kLogMaxMessageBytes without splitting a UTF-8 sequence.
void cutMessage(std::string& message) {
  if (message.size() <= kLogMaxMessageBytes) return;
  std::size_t cut = kLogMaxMessageBytes;
  while (cut > 0 && (static_cast<unsigned char>(message[cut]) & 0xC0) == 0x80) --cut;
  message.resize(cut);
}

std::FILE* openAppend(const std::string& path) {
#ifdef _WIN32
  return _wfopen(Utils::toWide(path).c_str(), L"ab");
#else
  return std::fopen(path.c_str(), "ab");
#endif
}

void writeRecord(int line, const char* file, const char* levelName, std::string message) {
  LogState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.file == nullptr) return;
  message = redactSecrets(message);
  cutMessage(message);
  std::string sealedMessage, sealedFile, sealedLine;
  if (CryptoSdk::LogSecurityService::seal(s.key, message, sealedMessage) != 0 ||
      CryptoSdk::LogSecurityService::seal(s.key, file ? file : "", sealedFile) != 0 ||
      CryptoSdk::LogSecurityService::seal(s.key, std::to_string(line), sealedLine) != 0) {
    return;  // never write a field unsealed
  }
  const std::int64_t seconds = Platform::clock().nowUnixMs() / 1000;
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.StartObject();
  writer.Key("message");
  writer.String(sealedMessage.c_str(), static_cast<rapidjson::SizeType>(sealedMessage.size()));
  writer.Key("service");
  writer.String(kLogService);
  writer.Key("component");
  writer.String(kLogComponent);
  writer.Key("level_name");
  writer.String(levelName);
  writer.Key("file_name");
  writer.String(sealedFile.c_str(), static_cast<rapidjson::SizeType>(sealedFile.size()));
  writer.Key("line_number");
  writer.String(sealedLine.c_str(), static_cast<rapidjson::SizeType>(sealedLine.size()));
  writer.Key("app_version");
  writer.String(kLogAppVersion);
  writer.Key("asctime");
  const std::string asctime = std::to_string(seconds);
  writer.String(asctime.c_str(), static_cast<rapidjson::SizeType>(asctime.size()));
  writer.EndObject();
  std::string record(buffer.GetString(), buffer.GetSize());
  record += "\r\n";
  std::fwrite(record.data(), 1, record.size(), s.file);
  std::fflush(s.file);
}

void logV(int line, const char* file, const char* level, const char* fmt, va_list args) {
  try {
    if (!Logger::isOpen()) return;
    writeRecord(line, file, level, format(fmt, args));
  } catch (...) {
    // Logging never fails its caller.
  }
}

}  // namespace

#define KV_DEFINE_LEVEL(method, levelName)                              \
  void Logger::method(int line, const char* file, const char* fmt, ...) { \
    va_list args;                                                       \
    va_start(args, fmt);                                                \
    logV(line, file, levelName, fmt, args);                             \
    va_end(args);                                                       \
  }

KV_DEFINE_LEVEL(trace, "trace")
KV_DEFINE_LEVEL(debug, "debug")
KV_DEFINE_LEVEL(info, "info")
KV_DEFINE_LEVEL(error, "error")
#undef KV_DEFINE_LEVEL

void Logger::write(int line, const char* file, const std::string& levelName, const std::string& message) {
  try {
    writeRecord(line, file, levelName.c_str(), message);
  } catch (...) {
  }
}

bool Logger::open(const std::string& path) {
  try {
    LogState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.file != nullptr) return true;
    std::vector<std::uint8_t> secret;
    CryptoSdk::SealKey key;
    if (!Platform::machineSecret(secret) ||
        CryptoSdk::LogSecurityService::deriveLogKey(secret, key) != 0 || key.empty()) {
      return false;
    }
    const std::string target = path.empty() ? Platform::logFilePath() : path;
    if (target.empty()) return false;
    std::FILE* f = openAppend(target);
    if (f == nullptr) return false;
    // Like the configuration, the log is its owner's alone, whoever made the file first;
    // nothing is written to a file that cannot be restricted.
    if (!Platform::restrictFileToOwner(target)) {
      std::fclose(f);
      return false;
    }
    s.key = key;
    s.file = f;
    return true;
  } catch (...) {
    return false;
  }
}

void Logger::close() {
  LogState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.file != nullptr) {
    std::fclose(s.file);
    s.file = nullptr;
  }
  s.key = CryptoSdk::SealKey();
}

bool Logger::isOpen() {
  LogState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.file != nullptr;
}

bool isLogEnabled() {
  std::string value;
  return Platform::agentRegistry().getString("Log", value) && value == "enabled";
}

ScopedTrace::ScopedTrace(const char* name, int line, const char* file) : name_(name), line_(line), file_(file) {
  Logger::trace(line_, file_, "[IN] %s", name_ ? name_ : "");
}

ScopedTrace::~ScopedTrace() { Logger::trace(line_, file_, "[OUT] %s", name_ ? name_ : ""); }

ScopedTimedTrace::ScopedTimedTrace(const char* name, int line, const char* file)
    : name_(name), line_(line), file_(file) {
  if (!Logger::isOpen()) return;
  try {
    Logger::trace(line_, file_, "%s [in] <%s>", name_ ? name_ : "",
                  Utils::TimeUtils::getCurrentTimeString().c_str());
  } catch (...) {
  }
}

ScopedTimedTrace::~ScopedTimedTrace() {
  if (!Logger::isOpen()) return;
  try {
    Logger::trace(line_, file_, "%s [out] <%s>", name_ ? name_ : "",
                  Utils::TimeUtils::getCurrentTimeString().c_str());
  } catch (...) {
  }
}

}  // namespace Korvath
