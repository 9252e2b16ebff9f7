// The production definition of the gate's call into the MFA dialog.
//
// The dialog is not part of this library yet, so every sign-in that reaches the gate is
// refused: the gate fails closed. This definition is replaced by the one that constructs
// Korvath::View::MfaDialog when the dialog lands.

#include "DialogRunner.h"

#include "Korvath/Logger.h"

namespace Korvath {
namespace Provider {

bool runMfaDialog(const MfaDialogRequest& request) {
  KV_LOG_ERROR("Korvath::Provider::runMfaDialog - the MFA dialog is not built into this library; "
               "the sign-in of %u name(s) is refused",
               request.userNames != nullptr ? static_cast<unsigned>(request.userNames->size()) : 0u);
  return false;
}

}  // namespace Provider
}  // namespace Korvath
