#pragma once

// The multi-factor dialog of one sign-in attempt. The gate constructs it on LogonUI's thread
// with the user names of the attempt (the constructor starts the agent state and decides who
// the user is and whether the service is reachable, with network requests on that thread),
// then calls start(): the dialog runs on a thread of its own, and start() returns when that
// thread has ended. The outcome is the process-wide validated flag (dialogState().validated).

#include <windows.h>

#include <string>
#include <vector>

namespace Korvath {
namespace View {

class MfaDialog {
 public:
  // The pointed-to values belong to the caller and must outlive the dialog.
  MfaDialog(const bool* isRdpSession, const std::vector<std::string>* userNames, HMODULE module,
            const std::string* sessionClientIpAddress);
  // The tear-down (see tearDownMfaDialog); harmless after the gate has run it.
  ~MfaDialog();
  MfaDialog(const MfaDialog&) = delete;
  MfaDialog& operator=(const MfaDialog&) = delete;

  // Runs the dialog thread and returns when it has ended. While it waits, the calling thread
  // keeps dispatching its messages and COM calls, so LogonUI is never blocked by a
  // cross-thread message. A thread that cannot be created leaves the validated flag false.
  void start();

  // Posts WM_CLOSE to a dialog window still recorded and forgets it; E_FAIL when there is none.
  static HRESULT closeWindow();
  // True while the current user's forgot-token period runs.
  static bool isInForgotTokenMode();

 private:
  static DWORD WINAPI threadProc(LPVOID parameter);

  const bool* isRdpSession_;
  const std::string* sessionClientIpAddress_;
  // The module of the window classes, controls and images, recorded for the dialog thread.
  HMODULE module_;
};

// The end of an attempt after the dialog thread has ended: deletes the panels and the panels
// manager, frees the agent state (waiting for its push tasks), clears the validated flag,
// empties the request identifier and closes a window still recorded.
void tearDownMfaDialog();

}  // namespace View
}  // namespace Korvath
