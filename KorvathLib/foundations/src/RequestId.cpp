#include "Korvath/RequestId.h"

#include <mutex>

#include "Korvath/Utils.h"

namespace Korvath {

namespace {
std::mutex g_mutex;
std::string g_requestId;
}  // namespace

std::string currentRequestId() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_requestId;
}

std::string ensureRequestId() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_requestId.empty()) {
    g_requestId = Utils::generateRandomId();
  }
  return g_requestId;
}

void clearRequestId() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_requestId.clear();
}

}  // namespace Korvath
