#pragma once

// The window side of the process-wide dialog state: what only the Windows view holds beside
// dialogState() of the logic. The dialog thread owns every window and the panels manager; the
// gate's thread only reads the recorded window (closeWindow), so that one handle is atomic.

#include <windows.h>

#include <atomic>
#include <memory>

#include "Korvath/View/Button.h"
#include "Korvath/View/PanelsManager.h"

namespace Korvath {
namespace View {

struct DialogWindowState {
  // The "MFA_Dialog" window while it exists; cleared by closeWindow and when it is destroyed.
  std::atomic<HWND> window{nullptr};
  // Instance of the window classes and of the controls, source of the images.
  std::atomic<HMODULE> module{nullptr};
  // Created on the dialog thread, freed there when the dialog ends (or by the tear-down).
  std::unique_ptr<PanelsManager> panelsManager;
  // The option-button records by method - 1 (Push, QR code, OTP, Forgot token), then About
  // and Back. A record without a label is an absent option.
  Button options[4];
  Button about;
  Button back;
};

DialogWindowState& dialogWindowState();

// The recorded dialog window if it is `window`, then forgets it (the window is going away).
void forgetDialogWindow(HWND window);

}  // namespace View
}  // namespace Korvath
