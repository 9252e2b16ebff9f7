#pragma once

// What the provider reaches of the machine beyond COM: the operating-system identity calls
// (the seam of the identity helpers), the process's geolocation task and whether the
// process runs as LocalSystem. Production uses the system's; tests that link the library
// put their own in place. Nothing here decides whether a sign-in passes the gate.

namespace Korvath {
namespace Authentication {
class IdentitySeam;
}
namespace Geolocation {
class KvGeolocator;
}

namespace Provider {

struct ProviderEnvironment {
  Authentication::IdentitySeam* identity = nullptr;  // null: systemIdentity()
  Geolocation::KvGeolocator* geolocator = nullptr;   // null: KvGeolocator::instance()
  bool (*runningAsLocalSystem)() = nullptr;          // null: the process token's answer
};

Authentication::IdentitySeam& identitySeam();
Geolocation::KvGeolocator& geolocator();
bool isRunningAsLocalSystem();

// Whether this sign-in comes over Remote Desktop: a remote credential said so (the filter set
// the process's remote-logon flag), or the session itself does, as for a sign-in typed at a
// remote sign-in screen; then the flag is set here, for the cloud requests and the
// geolocation rule.
bool isRemoteSignIn();

// For tests that link the library: replaces the environment (a default-constructed one
// restores the system's).
void setProviderEnvironment(const ProviderEnvironment& environment);

}  // namespace Provider
}  // namespace Korvath
