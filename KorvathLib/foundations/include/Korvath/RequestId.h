#pragma once

#include <string>

namespace Korvath {

// The request identifier of the current sign-in attempt, shared by every cloud
// request of the attempt ("Request-Id" header) and every KvResult they return.
// Thread-safe.
std::string currentRequestId();
// Returns the current identifier, first creating one when it is empty.
std::string ensureRequestId();
// Empties it at the end of a sign-in attempt.
void clearRequestId();

}  // namespace Korvath
