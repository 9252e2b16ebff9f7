#pragma once

// Test tool: puts the stand-ins for Windows' providers into a test machine (a Wine prefix),
// where Wine has none of Windows' own: KvStandInProviders.dll from `directory` registered
// under Windows' provider class identifiers (class and Credential Providers entries), and
// credprovslegacy.dll from `directory` copied into the system folder for the
// picture-password wrapper. Idempotent; empty on success, else what failed.

#include <string>

namespace KvStandIn {

std::string installStandIns(const std::wstring& directory);

}  // namespace KvStandIn
