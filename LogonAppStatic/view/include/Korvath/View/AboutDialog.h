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
  // The same over `owner` (the MFA dialog): the window runs modally on the calling thread, the
  // owner disabled for input but still answering its messages, and enabled again when the
  // window closes. A WM_QUIT that arrives meanwhile closes the window and is posted again for
  // the caller's own loop.
  static void start(HMODULE module, HWND owner);
  static HWND window();
};

}  // namespace View
}  // namespace Korvath
