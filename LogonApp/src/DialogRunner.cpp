// The production definition of the gate's call into the MFA dialog: one dialog per attempt,
// on the caller's (LogonUI's) thread, whose verdict is the process-wide validated flag.

#include "DialogRunner.h"

#include "Korvath/View/DialogState.h"
#include "Korvath/View/MfaDialog.h"

namespace Korvath {
namespace Provider {

namespace {

// Runs the tear-down when the attempt ends, also when the dialog throws, so that the next
// attempt starts clean (no service, no panels, a new request identifier).
struct TearDownAtExit {
  ~TearDownAtExit() { View::tearDownMfaDialog(); }
};

}  // namespace

bool runMfaDialog(const MfaDialogRequest& request) {
  TearDownAtExit tearDown;
  View::dialogState().validated = false;
  View::MfaDialog dialog(request.isRdpSession, request.userNames, request.module, request.sessionClientIpAddress);
  View::MfaDialog::closeWindow();
  dialog.start();
  return View::dialogState().validated.exchange(false);
}

}  // namespace Provider
}  // namespace Korvath
