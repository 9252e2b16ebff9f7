#pragma once

// Test tool: reads the agent's sealed log back. Every record is one JSON object per line whose
// message is sealed under the log key of this machine (docs/foundations.md), so only the
// machine that wrote the log can open it: under Wine, a program run in the same prefix.

#include <string>
#include <vector>

namespace KvLogRead {

struct Record {
  std::string level;    // "trace", "debug", "info", "error"
  std::string asctime;  // Unix seconds, as written
  std::string message;  // the opened message; empty when it did not open
  bool opened = false;  // false: not a record of ours, or sealed under another key
};

// The records of the log at `path` (empty: the agent's log), opened with this machine's log
// key. False, with `error` saying why, when the file cannot be read or the key cannot be had.
bool readSealedLog(const std::string& path, std::vector<Record>& records, std::string& error);

}  // namespace KvLogRead
