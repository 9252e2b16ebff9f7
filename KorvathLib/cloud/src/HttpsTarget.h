#pragma once

#include <string>

namespace Korvath {
namespace Cloud {
namespace Detail {

// A host and path that cannot change the shape of the URL: a host name without a port,
// user part, path or query of its own, and an absolute path without query, fragment or blanks.
inline bool isSafeTarget(const std::string& host, const std::string& path) {
  return !host.empty() && host.find_first_of("/\\?#@:[] \t\r\n") == std::string::npos && !path.empty() &&
         path[0] == '/' && path.find_first_of(" \t\r\n#?\\") == std::string::npos;
}

}  // namespace Detail
}  // namespace Cloud
}  // namespace Korvath
