#pragma once

// From one parsed request to what goes back on the wire.

#include "Http.h"
#include "State.h"

#include <functional>
#include <string>

namespace CloudSim {

struct Response {
  bool drop = false;  // close the connection without an answer
  int status = 200;
  std::string body;
};

// A request under /_sim/.
Response handleControl(State& state, const Http::Request& request, const std::string& path);

// Any other request: recorded, then faults, checks and the route's handler.
// clientGone tells, after a delay, whether the client has hung up meanwhile.
Response handleCloud(State& state, const Http::Request& request, const std::string& path,
                     const std::function<bool()>& clientGone);

inline bool isControlPath(const std::string& path) { return path.compare(0, 6, "/_sim/") == 0; }

}  // namespace CloudSim
