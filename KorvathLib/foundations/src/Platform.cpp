// The portable parts of the platform layer: the replaceable registry and clock, and the
// files laid out under each flavour's Windows directory.
#include "Korvath/Platform.h"

#include <atomic>
#include <string>

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

std::string configFilePath() {
  const std::string w = windowsDirectory();
  return w.empty() ? w : w + "/system32/drivers/etc/kvconfig.cfg";
}

std::string configBackupFilePath() {
  const std::string w = windowsDirectory();
  return w.empty() ? w : w + "/system32/drivers/etc/kvconfigbkp.cfg";
}

std::string installConfigFilePath() {
  const std::string w = windowsDirectory();
  return w.empty() ? w : w + "/system32/kvconfig.cfg";
}

}  // namespace Platform
}  // namespace Korvath
