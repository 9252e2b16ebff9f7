// The replaceable parts of the platform layer; each flavour supplies the real ones.
#include "Korvath/Platform.h"

#include <atomic>

#include "PlatformDetail.h"

namespace Korvath {
namespace Platform {

const char* const kAgentRegistryKey = "SOFTWARE\\Halvane\\Pellora Agent";

namespace {
std::atomic<IRegistry*> g_registry{nullptr};
std::atomic<IClock*> g_clock{nullptr};
}  // namespace

IRegistry& agentRegistry() {
  IRegistry* replaced = g_registry.load();
  return replaced ? *replaced : detail::systemRegistry();
}

void setAgentRegistry(IRegistry* registry) { g_registry.store(registry); }

IClock& clock() {
  IClock* replaced = g_clock.load();
  return replaced ? *replaced : detail::systemClock();
}

void setClock(IClock* c) { g_clock.store(c); }

}  // namespace Platform
}  // namespace Korvath
