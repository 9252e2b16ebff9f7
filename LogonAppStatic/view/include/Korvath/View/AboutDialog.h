#pragma once

// The About window (version, notice, resource and support) and the forgot-token help window.
// Each runs while the MFA dialog's thread waits for it; the dialog thread keeps answering its
// own messages meanwhile, so nothing can deadlock.

#include <windows.h>

#include "Korvath/Service/ServiceMessages.h"

namespace Korvath {
namespace View {

class AboutDialog {
 public:
  // Shows the window for `about` and returns when it has closed.
  static void start(const Service::ServiceResponseAbout& about, HMODULE module);
  // The About window while it is open, else null.
  static HWND window();
};

class HowToUseForgotTokenDialog {
 public:
  // Shows the help window and returns when it has closed.
  static void start(HMODULE module);
  static HWND window();
};

}  // namespace View
}  // namespace Korvath
