#pragma once

// What every COM object of the library shares: the count of live objects and server
// locks that DllCanUnloadNow answers from, the library's own module handle, the log that
// the first use opens, and what the provider filter records about a remote sign-in.

#include <windows.h>

#include <string>

namespace Korvath {
namespace Provider {

// Every class factory, provider, credential and filter counts itself in its constructor
// and out when its last reference goes; LockServer(TRUE) counts as one more.
void objectAdded();
void objectRemoved();
long objectCount();

// S_OK when no object, no lock and no background task (geolocation) is left, else S_FALSE.
HRESULT canUnloadNow();

// The module whose resources the dialog uses: the DLL, recorded by its entry point
// (in a test executable that links the library, the executable).
HMODULE moduleHandle();
void setModuleHandle(HMODULE module);

// Opens the agent's log when the agent's "Log" value is "enabled" and writes "Log opening";
// the file is made readable by SYSTEM and Administrators only. Runs once per load, on the
// first request for a class object, never under the loader lock (opening the log derives
// its key, which loads the cryptography libraries).
void openLogOnFirstUse();
// At unload: "Closing log", then the log is closed.
void closeLogAtUnload();

// The remote client's address (UTF-8), worked out once by the first active Filter and
// copied into every credential; empty until then.
std::string remoteClientAddress();
void setRemoteClientAddress(const std::string& address);
// Set by UpdateRemoteCredential: this sign-in came with a remote serialization.
bool hasRemoteCredential();
void setRemoteCredential(bool value);

}  // namespace Provider
}  // namespace Korvath
