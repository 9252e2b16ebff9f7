// kvlogread: prints the opened messages of the agent's sealed log, one line per record:
// "<Unix seconds> <level> <message>". Run it on the machine that wrote the log (under Wine,
// in the same prefix); a record that does not open is printed as "<not opened>".
//
//   kvlogread [<log path>]      (default: the agent's log)

#include <cstdio>

#include "KvLogRead/SealedLog.h"

int main(int argc, char** argv) {
  if (argc > 2) {
    std::fprintf(stderr, "usage: kvlogread [<log path>]\n");
    return 2;
  }
  std::vector<KvLogRead::Record> records;
  std::string error;
  if (!KvLogRead::readSealedLog(argc == 2 ? argv[1] : "", records, error)) {
    std::fprintf(stderr, "kvlogread: %s\n", error.c_str());
    return 1;
  }
  for (const KvLogRead::Record& r : records)
    std::printf("%s %-5s %s\n", r.asctime.c_str(), r.level.c_str(), r.opened ? r.message.c_str() : "<not opened>");
  return 0;
}
