#pragma once

// The one call from the gate into the MFA dialog, kept behind a link-time seam: the library
// links the production definition (DialogRunner.cpp); the gate's tests link a scripted one.
// There is no switch at run time that could leave the dialog out.

#include <windows.h>

#include <string>
#include <vector>

namespace Korvath {
namespace Provider {

struct MfaDialogRequest {
  const bool* isRdpSession;                    // the credential's flag
  const std::vector<std::string>* userNames;   // UTF-8: the UPN, then the SAM name, each when known
  HMODULE module;                              // the library's module (resources)
  const std::string* sessionClientIpAddress;   // UTF-8, possibly empty
};

// Runs the MFA dialog for one sign-in attempt on the caller's thread and waits for it:
// constructs Korvath::View::MfaDialog(isRdpSession, userNames, module, clientIp), calls its
// closeWindow and then start, reads the process-wide validated flag, clears it and tears the
// dialog down. True only when the user passed. May throw; the gate counts that as a refusal.
bool runMfaDialog(const MfaDialogRequest& request);

}  // namespace Provider
}  // namespace Korvath
