#pragma once

#include <cstddef>
#include <string>

#if defined(__GNUC__)
#define KV_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define KV_PRINTF_FORMAT(fmt, args)
#endif

namespace Korvath {

// The agent's sealed log: one JSON record per call, CR LF terminated. Every call is
// a no-op while the log is closed, and no call ever reports a failure to its caller.
// Every message passes through redactSecrets (LogRedaction.h) before it is sealed.
class Logger {
 public:
  static void trace(int line, const char* file, const char* format, ...) KV_PRINTF_FORMAT(3, 4);
  static void debug(int line, const char* file, const char* format, ...) KV_PRINTF_FORMAT(3, 4);
  static void info(int line, const char* file, const char* format, ...) KV_PRINTF_FORMAT(3, 4);
  static void error(int line, const char* file, const char* format, ...) KV_PRINTF_FORMAT(3, 4);
  // A record with an explicit level name ("info" for "Log opening" / "Closing log").
  static void write(int line, const char* file, const std::string& levelName, const std::string& message);

  // Opens the log file for appending (empty path: the default log path). Returns false when it cannot.
  static bool open(const std::string& path = std::string());
  static void close();
  static bool isOpen();
};

// True when the agent registry value "Log" is exactly "enabled".
bool isLogEnabled();

// Writes "[IN] <name>" on construction and "[OUT] <name>" on destruction at trace level.
class ScopedTrace {
 public:
  ScopedTrace(const char* name, int line, const char* file);
  ~ScopedTrace();
  ScopedTrace(const ScopedTrace&) = delete;
  ScopedTrace& operator=(const ScopedTrace&) = delete;

 private:
  const char* name_;
  int line_;
  const char* file_;
};

// Writes "<name> [in] <time>" on construction and "<name> [out] <time>" on destruction
// at trace level, the time being TimeUtils::getCurrentTimeString.
class ScopedTimedTrace {
 public:
  ScopedTimedTrace(const char* name, int line, const char* file);
  ~ScopedTimedTrace();
  ScopedTimedTrace(const ScopedTimedTrace&) = delete;
  ScopedTimedTrace& operator=(const ScopedTimedTrace&) = delete;

 private:
  const char* name_;
  int line_;
  const char* file_;
};

// Fixed values of every log record.
constexpr const char* kLogService = "application";
constexpr const char* kLogComponent = "Pellora Agent for Windows";
constexpr const char* kLogAppVersion = "3.0.1.643";
// Longest message, in bytes, that a record carries; longer ones are cut.
constexpr std::size_t kLogMaxMessageBytes = 4095;

}  // namespace Korvath

#define KV_LOG_TRACE(...) ::Korvath::Logger::trace(__LINE__, __FILE__, __VA_ARGS__)
#define KV_LOG_DEBUG(...) ::Korvath::Logger::debug(__LINE__, __FILE__, __VA_ARGS__)
#define KV_LOG_INFO(...) ::Korvath::Logger::info(__LINE__, __FILE__, __VA_ARGS__)
#define KV_LOG_ERROR(...) ::Korvath::Logger::error(__LINE__, __FILE__, __VA_ARGS__)
// Entry and exit lines of the enclosing function; `name` is its qualified name.
#define KV_TRACE_SCOPE(name) ::Korvath::ScopedTrace kvScopedTrace_(name, __LINE__, __FILE__)
#define KV_TRACE_SCOPE_TIMED(name) ::Korvath::ScopedTimedTrace kvScopedTimedTrace_(name, __LINE__, __FILE__)
